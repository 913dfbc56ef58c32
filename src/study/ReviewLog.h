#pragma once
// Cycles reviewed by hand: "review-log.csv" in the data folder. Nothing in the
// results log or a data file is ever changed; each time the user rejects an
// accepted cycle or accepts a rejected one, one row is appended to this log
// (whole, synced, under an exclusive flock, as the results log is written).
// Whoever reads the cycles applies the changes in the order of the file; the
// last change of a cycle wins, so an undo is just another change.
//
// Header: Time,User,Date time,Device ID,Animal No,N,Data file,Old verdict,New
// verdict,Reason. A cycle is named by the fields of its results-log row that
// identify it (date-time, device ID, animal, N, data file). Verdicts are
// "accepted" or "rejected". A last line torn off by a crash is left out
// without complaint; other rows that cannot be read are counted.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/ResultsLog.h"

namespace hx {

inline constexpr const char* kReviewLogName = "review-log.csv";

struct CycleKey {
    std::string dateTime;
    int deviceId = 0;
    std::string animalNo, n, dataFile;
    auto operator<=>(const CycleKey&) const = default;
};
CycleKey cycleKeyOf(const ResultsLogRow& row);

struct ReviewChange {
    std::string time;  // "YYYY-MM-DD hh:mm:ss", local time of the change
    std::string user;  // the operating-system user who made it
    CycleKey cycle;
    bool oldAccepted = false, newAccepted = false;
    std::string reason;    // typed or picked: "movement", "cold tail", "cuff slipped", "other: ..."
    std::size_t line = 0;  // in the file read
};

// The reasons the windows offer to pick from.
const std::vector<std::string>& reviewReasons();

struct ReviewLog {
    std::vector<ReviewChange> changes;  // in the order of the file
    std::size_t damagedLines = 0;       // rows that could not be read (a torn last line not counted)
    bool tornLastLine = false;
    // The last change of each cycle.
    std::map<CycleKey, const ReviewChange*> latest() const;
};

ReviewLog parseReviewLog(std::string_view text, std::string& reason);
// folder's log; an empty log when there is none. nullopt with reason when it
// exists but cannot be read or is not a review log.
std::optional<ReviewLog> readReviewLog(const std::string& folder, std::string& reason);
std::string reviewLogHeader();
std::string formatReviewChange(const ReviewChange& change);
// Appends one change (time and user filled in when empty). Returns "" or why not.
std::string appendReviewChange(const std::string& folder, ReviewChange change);

// The local time now as "YYYY-MM-DD hh:mm:ss", and the user's login name.
std::string localTimeNow();
std::string currentUserName();

}  // namespace hx
