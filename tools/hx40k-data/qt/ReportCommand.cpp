// hx40k-data report FOLDER [--animal ID] [--date YYYY-MM-DD] --pdf OUT.pdf [RULES]
// (the Qt build: the PDF is drawn by the window's report code).

#include <QGuiApplication>
#include <cstdio>

#include "../StudyCommand.h"
#include "../StudyInput.h"
#include "gui/report/Report.h"
#include "study/Sitting.h"

namespace hxdata {

int reportCommand(const std::vector<std::string>& args) {
    hx::StudyRules rules = defaultToolRules();
    std::string folder, animal, date, pdf;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool known = false;
        if (auto problem = parseRuleOption(args, i, rules, known)) {
            std::fprintf(stderr, "hx40k-data: %s\n", problem->c_str());
            return 1;
        }
        if (known) continue;
        const bool valued = a == "--animal" || a == "--date" || a == "--pdf";
        if (valued && i + 1 >= args.size()) {
            std::fprintf(stderr, "hx40k-data: %s needs a value\n", a.c_str());
            return 1;
        }
        if (a == "--animal") {
            animal = args[++i];
        } else if (a == "--date") {
            date = args[++i];
            if (date.size() != 10 || date[4] != '-' || date[7] != '-') {
                std::fprintf(stderr, "hx40k-data: --date takes YYYY-MM-DD\n");
                return 1;
            }
        } else if (a == "--pdf") {
            pdf = args[++i];
        } else if (a.rfind("--", 0) == 0 || !folder.empty()) {
            std::fprintf(stderr, "hx40k-data: report: unknown option or second folder \"%s\"\n", a.c_str());
            return 1;
        } else {
            folder = a;
        }
    }
    if (folder.empty() || pdf.empty()) {
        std::fprintf(stderr, "hx40k-data: report takes a FOLDER and --pdf OUT.pdf\n");
        return 1;
    }
    // Fonts and the PDF writer need a GUI application, never a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "hx40k-data";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);

    std::string error;
    if (animal.empty() && date.empty()) {
        StudyInput input;
        if (!loadStudyInput(folder, input)) return 2;
        const hx::StudyFigures study = hx::computeStudy(input.log.rows, input.animals, input.review, rules);
        reportUnknownChanges(folder, study);
        error = hx::writeStudyReport(pdf, study, folder);
    } else {
        std::string reason;
        const auto sitting = hx::loadSitting(folder, animal, date, rules, reason);
        if (!sitting) {
            std::fprintf(stderr, "hx40k-data: %s: %s\n", folder.c_str(), reason.c_str());
            return 2;
        }
        error = hx::writeSittingReport(pdf, *sitting);
    }
    if (!error.empty()) {
        std::fprintf(stderr, "hx40k-data: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

}  // namespace hxdata
