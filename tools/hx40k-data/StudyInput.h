#pragma once
// What hx40k-data study and report read from a data folder: the results log,
// the animals' table and the hand review, with every problem said on stderr.

#include <optional>
#include <string>
#include <vector>

#include "session/ResultsLog.h"
#include "study/Animals.h"
#include "study/ReviewLog.h"
#include "study/Study.h"

namespace hxdata {

struct StudyInput {
    hx::ResultsLogContents log;
    hx::AnimalsTable animals;
    hx::ReviewLog review;
};
// false (with the reason on stderr) when the results log cannot be read;
// problems of the other two files are warnings.
bool loadStudyInput(const std::string& folder, StudyInput& input);
// One line on stderr per hand change that names a cycle the log lacks.
void reportUnknownChanges(const std::string& folder, const hx::StudyFigures& study);

// A rule option at args[i] (advancing i past its value): known false when it
// is no rule option; a text when it is one with a bad value.
std::optional<std::string> parseRuleOption(const std::vector<std::string>& args, std::size_t& i,
                                           hx::StudyRules& rules, bool& known);
hx::StudyRules defaultToolRules();

}  // namespace hxdata
