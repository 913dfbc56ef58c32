#pragma once
// PDF reports on A4 (Qt's PDF writer), readable when printed in black and
// white: a sitting's report (conditions, summary, plot, cycle table with the
// verdicts and hand changes, rules, versions) and a study's report (group
// plot, group table, the overview of animals by days, rules). Needs a
// QGuiApplication. Returns "" or why the file could not be written.

#include <string>

#include "study/Sitting.h"
#include "study/Study.h"

namespace hx {

std::string writeSittingReport(const std::string& path, const SittingData& sitting);
std::string writeStudyReport(const std::string& path, const StudyFigures& study, const std::string& folder);

}  // namespace hx
