#pragma once
// One sitting of a data folder with everything a report of it prints: the
// cycles with their verdicts (hand review applied), the summary, the
// conditions, the rules and the versions. Plain C++ shared by the window's
// report and hx40k-data report.

#include <optional>
#include <string>
#include <vector>

#include "session/ResultsLog.h"
#include "session/SessionStats.h"
#include "study/ReviewLog.h"
#include "study/Sittings.h"
#include "study/Study.h"

namespace hx {

struct SittingData {
    std::string folder;
    SessionRows sitting;
    std::vector<ResultsLogRow> rows;  // the sitting's rows, in order
    SessionStats stats;               // with the hand review applied
    std::optional<SittingConditions> conditions;
    StudyRules rules;
    std::string unitVersion, programVersion;  // of the sitting's last row
    std::size_t handChanges = 0;
};

// The sitting of animal (the last one, or the last on date "YYYY-MM-DD"), or
// the log's last sitting when animal is empty. nullopt with reason when the
// log cannot be read or holds no such sitting.
std::optional<SittingData> loadSitting(const std::string& folder, const std::string& animal,
                                       const std::string& date, const StudyRules& rules, std::string& reason);
// The same for rows already read (the window's current session).
SittingData sittingOf(const std::string& folder, const std::vector<ResultsLogRow>& rows,
                      const SessionRows& sitting, const ReviewLog& review, const StudyRules& rules);

// The cycle whose data file is fileName in folder's results log (its last
// row naming the file), with the verdict its sitting gives it, hand review
// applied: what the recording review shows and changes.
struct RecordingVerdict {
    CycleKey cycle;
    CycleVerdict verdict;
};
// nullopt with reason when the log cannot be read or no row names the file.
std::optional<RecordingVerdict> recordingVerdict(const std::string& folder, const std::string& fileName,
                                                 const StudyRules& rules, std::string& reason);
// Turns the recording's verdict over by hand (accepted -> rejected and back),
// appending the change with reason to the folder's review-log.csv, as the
// session window does. Returns "" or why not.
std::string changeRecordingVerdict(const std::string& folder, const std::string& fileName,
                                   const StudyRules& rules, const std::string& reason);

}  // namespace hx
