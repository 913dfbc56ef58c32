#include "StudyInput.h"

#include <cstdio>

#include "study/Csv.h"

namespace hxdata {

bool loadStudyInput(const std::string& folder, StudyInput& input) {
    const std::string path = hx::resultsLogPath(folder);
    std::string reason;
    auto log = hx::readResultsLog(path, reason);
    if (!log) {
        std::fprintf(stderr, "hx40k-data: %s: %s\n", path.c_str(), reason.c_str());
        return false;
    }
    if (log->damagedLines)
        std::fprintf(stderr, "hx40k-data: %s: %zu damaged rows left out\n", path.c_str(), log->damagedLines);
    input.log = std::move(*log);

    input.animals = hx::readAnimals(folder, reason);
    if (!reason.empty())
        std::fprintf(stderr, "hx40k-data: %s: %s; every animal counts as group %s\n",
                     hx::joinFolder(folder, hx::kAnimalsFileName).c_str(), reason.c_str(), hx::kNoGroup);
    if (!input.animals.headerProblem.empty())
        std::fprintf(stderr, "hx40k-data: %s: line 1: %s\n",
                     hx::joinFolder(folder, hx::kAnimalsFileName).c_str(),
                     input.animals.headerProblem.c_str());
    else
        for (const auto& d : input.animals.damaged)
            std::fprintf(stderr, "hx40k-data: %s: line %zu left out: %s\n",
                         hx::joinFolder(folder, hx::kAnimalsFileName).c_str(), d.line, d.reason.c_str());

    reason.clear();
    if (auto review = hx::readReviewLog(folder, reason)) {
        input.review = std::move(*review);
        if (input.review.damagedLines)
            std::fprintf(stderr, "hx40k-data: %s: %zu damaged rows left out\n",
                         hx::joinFolder(folder, hx::kReviewLogName).c_str(), input.review.damagedLines);
    } else {
        std::fprintf(stderr, "hx40k-data: %s: %s; no hand changes applied\n",
                     hx::joinFolder(folder, hx::kReviewLogName).c_str(), reason.c_str());
    }
    return true;
}

void reportUnknownChanges(const std::string& folder, const hx::StudyFigures& study) {
    for (const auto& u : study.unknownChanges)
        std::fprintf(stderr,
                     "hx40k-data: %s: line %zu: no cycle %s device %d animal %s N %s in the results log\n",
                     hx::joinFolder(folder, hx::kReviewLogName).c_str(), u.line, u.cycle.dateTime.c_str(),
                     u.cycle.deviceId, u.cycle.animalNo.c_str(), u.cycle.n.c_str());
}

}  // namespace hxdata
