#pragma once
// The verdicts of a data folder's recordings, for a review that steps from
// file to file. The results log's rows and the review log's changes are kept
// between looks and brought up to date cheaply: a log that grew is read from
// where the last look stopped (the appended rows only); a log that was
// replaced or cut is read again from its first row. So a step in a long
// study's folder costs the new rows and the verdict's own sitting, not the
// whole of both logs, while a recording saved or a verdict changed elsewhere
// (another window, another copy of the program) shows at the next look.
//
// Kept are where each row begins and what finds its sitting (a few bytes a
// row); a verdict reads its sitting's rows back from the log.
//
// A verdict is the one recordingVerdict gives: the sitting of the last row
// naming the file, its cycle rules (for the animal's species in animals.csv),
// hand review applied. One thread at a time.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "session/ResultsLog.h"
#include "study/ReviewLog.h"
#include "study/Sitting.h"
#include "study/Study.h"

namespace hx {

// Where a reader that follows a growing file stopped, and which file it was.
struct FollowedFile {
    std::uint64_t device = 0, inode = 0;
    std::uint64_t readTo = 0;  // bytes taken so far; always just after a line end
};

class CRecordingVerdicts {
  public:
    explicit CRecordingVerdicts(std::string folder);
    const std::string& folder() const { return m_folder; }

    // nullopt with reason when the results log cannot be read or no row names the file.
    std::optional<RecordingVerdict> verdict(const std::string& fileName, const StudyRules& rules,
                                            std::string& reason);
    // Turns the verdict over by hand, appending the change with reason to the
    // review log. Returns "" or why not.
    std::string changeVerdict(const std::string& fileName, const StudyRules& rules,
                              const std::string& reason);

  private:
    // What finds a row's sitting; the rows themselves are read back from the log when a verdict needs them.
    struct RowPlace {
        std::uint64_t start = 0;  // where its line begins in the log
        int deviceId = 0, session = 0;
        std::uint32_t animal = 0;  // index into m_animals
    };
    struct HandVerdict {
        bool accepted = false;
        std::string reason;
    };
    // The sitting judged last, kept for the next step, which is mostly in the same sitting.
    struct JudgedSitting {
        std::vector<std::size_t> indexes;  // into m_rows
        std::vector<ResultsLogRow> rows;
        std::uint64_t changesSeen = 0;  // m_changesSeen when judged
        SessionSettings cycleRules;
        std::vector<CycleVerdict> verdicts;
    };
    bool takeNewRows(std::string& reason);
    void takeNewChanges();
    void forgetRows();
    std::optional<RecordingVerdict> judge(std::size_t k, const StudyRules& rules, std::string& reason);
    bool readBack(const std::vector<std::size_t>& sitting, std::vector<ResultsLogRow>& rows,
                  std::string& reason) const;

    std::string m_folder;
    std::string m_logPath;
    FollowedFile m_log, m_review;
    std::vector<RowPlace> m_rows;
    std::vector<std::string> m_animals;  // each animal number once
    std::unordered_map<std::string, std::uint32_t> m_animalIndex;
    std::unordered_map<std::string, std::size_t> m_lastRowOf;  // data file -> its last row
    std::map<CycleKey, HandVerdict> m_latest;                  // the last change of each cycle
    std::uint64_t m_changesSeen = 0;                           // counts every change to m_latest
    std::optional<JudgedSitting> m_judged;
};

}  // namespace hx
