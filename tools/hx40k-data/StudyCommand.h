#pragma once
// hx40k-data study and report: a data folder's study (animals, days, rules)
// and the PDF report of a sitting or a study.

#include <string>
#include <vector>

namespace hxdata {

// args[0] is the command's name. Returns the exit status.
int studyCommand(const std::vector<std::string>& args);
int reportCommand(const std::vector<std::string>& args);

extern const char* const kStudyUsage;

}  // namespace hxdata
