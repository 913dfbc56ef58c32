#include "study/ReviewLog.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <ctime>

#include "study/Csv.h"

namespace hx {

namespace {

const std::vector<std::string> kColumns = {"Time", "User",      "Date time",   "Device ID",   "Animal No",
                                           "N",    "Data file", "Old verdict", "New verdict", "Reason"};

std::optional<bool> verdictOf(const std::string& text) {
    if (text == "accepted") return true;
    if (text == "rejected") return false;
    return std::nullopt;
}

}  // namespace

CycleKey cycleKeyOf(const ResultsLogRow& row) {
    return {row.dateTime, row.deviceId, row.animalNo, row.n, row.dataFile};
}

const std::vector<std::string>& reviewReasons() {
    static const std::vector<std::string> reasons = {"movement", "cold tail", "cuff slipped", "other: "};
    return reasons;
}

std::map<CycleKey, const ReviewChange*> ReviewLog::latest() const {
    std::map<CycleKey, const ReviewChange*> out;
    for (const auto& c : changes) out[c.cycle] = &c;
    return out;
}

std::string reviewLogHeader() { return csvLine(kColumns); }

std::string formatReviewChange(const ReviewChange& c) {
    return csvLine({c.time, c.user, c.cycle.dateTime, std::to_string(c.cycle.deviceId), c.cycle.animalNo,
                    c.cycle.n, c.cycle.dataFile, c.oldAccepted ? "accepted" : "rejected",
                    c.newAccepted ? "accepted" : "rejected", c.reason});
}

ReviewLog parseReviewLog(std::string_view text, std::string& reason) {
    ReviewLog log;
    const auto records = parseCsvRecords(text);
    if (records.empty()) return log;
    if (records.front().fields != kColumns) {
        reason = "not a review log (the first line is not its header)";
        log.damagedLines = records.size();
        return log;
    }
    for (std::size_t k = 1; k < records.size(); ++k) {
        const auto& f = records[k].fields;
        ReviewChange c;
        const auto oldV = f.size() == kColumns.size() ? verdictOf(f[7]) : std::nullopt;
        const auto newV = f.size() == kColumns.size() ? verdictOf(f[8]) : std::nullopt;
        int device = 0;
        bool ok = oldV && newV;
        if (ok) {
            const auto [p, ec] = std::from_chars(f[3].data(), f[3].data() + f[3].size(), device);
            ok = ec == std::errc() && p == f[3].data() + f[3].size() && !f[3].empty();
        }
        if (!ok) {
            // A crash can leave the last row unfinished; that one is no damage.
            if (k + 1 == records.size() && !records[k].terminated)
                log.tornLastLine = true;
            else
                ++log.damagedLines;
            continue;
        }
        c.time = f[0];
        c.user = f[1];
        c.cycle = {f[2], device, f[4], f[5], f[6]};
        c.oldAccepted = *oldV;
        c.newAccepted = *newV;
        c.reason = f[9];
        c.line = records[k].line;
        log.changes.push_back(std::move(c));
    }
    return log;
}

std::optional<ReviewLog> readReviewLog(const std::string& folder, std::string& reason) {
    std::string text;
    bool missing = false;
    if (!readWholeFile(joinFolder(folder, kReviewLogName), text, reason, &missing)) {
        if (missing) {
            reason.clear();
            return ReviewLog{};
        }
        return std::nullopt;
    }
    std::string problem;
    ReviewLog log = parseReviewLog(text, problem);
    if (!problem.empty()) {
        reason = problem;
        return std::nullopt;
    }
    return log;
}

std::string localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
    return buffer;
}

std::string currentUserName() {
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    if (const char* user = std::getenv("USER")) return user;
    return std::to_string(::geteuid());
}

std::string appendReviewChange(const std::string& folder, ReviewChange change) {
    if (change.time.empty()) change.time = localTimeNow();
    if (change.user.empty()) change.user = currentUserName();
    return appendLocked(joinFolder(folder, kReviewLogName), reviewLogHeader(), formatReviewChange(change));
}

}  // namespace hx
