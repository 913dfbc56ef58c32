#include "study/Sitting.h"

#include "study/Animals.h"
#include "study/RecordingVerdicts.h"

namespace hx {

SittingData sittingOf(const std::string& folder, const std::vector<ResultsLogRow>& rows,
                      const SessionRows& sitting, const ReviewLog& review, const StudyRules& rules) {
    SittingData data;
    data.folder = folder;
    data.sitting = sitting;
    data.rules = rules;
    for (std::size_t i : sitting.rows) data.rows.push_back(rows[i]);
    std::string reason;
    const auto species = readAnimals(folder, reason).species();
    const auto named = species.find(sitting.animalNo);
    data.stats =
        computeSessionStats(reviewedCycles(rows, sitting.rows, review.latest()),
                            cycleRulesFor(rules, named != species.end() ? named->second : std::string()));
    for (const auto& v : data.stats.verdicts) data.handChanges += v.byHand ? 1 : 0;
    if (!data.rows.empty()) {
        data.unitVersion = data.rows.back().unitVersion;
        data.programVersion = data.rows.back().programVersion;
    }
    if (auto file = readSittings(folder, reason))
        if (auto it = file->latest.find({sitting.deviceId, sitting.session}); it != file->latest.end())
            data.conditions = it->second;
    return data;
}

std::optional<RecordingVerdict> recordingVerdict(const std::string& folder, const std::string& fileName,
                                                 const StudyRules& rules, std::string& reason) {
    return CRecordingVerdicts(folder).verdict(fileName, rules, reason);
}

std::string changeRecordingVerdict(const std::string& folder, const std::string& fileName,
                                   const StudyRules& rules, const std::string& reason) {
    return CRecordingVerdicts(folder).changeVerdict(fileName, rules, reason);
}

std::optional<SittingData> loadSitting(const std::string& folder, const std::string& animal,
                                       const std::string& date, const StudyRules& rules,
                                       std::string& reason) {
    auto log = readResultsLog(resultsLogPath(folder), reason);
    if (!log) return std::nullopt;
    const auto sittings = splitSessions(log->rows);
    for (auto it = sittings.rbegin(); it != sittings.rend(); ++it) {
        if (!animal.empty() && it->animalNo != animal) continue;
        if (!date.empty() && log->rows[it->rows.front()].dateTime.compare(0, 10, date) != 0) continue;
        std::string problem;
        const ReviewLog review = readReviewLog(folder, problem).value_or(ReviewLog{});
        return sittingOf(folder, log->rows, *it, review, rules);
    }
    reason = "no sitting" + (animal.empty() ? std::string() : " of animal " + animal) +
             (date.empty() ? std::string() : " on " + date) + " in the results log";
    return std::nullopt;
}

}  // namespace hx
