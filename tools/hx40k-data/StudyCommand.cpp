// hx40k-data study FOLDER [--json] [--long|--wide] [rule options]

#include "StudyCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <tuple>

#include "StudyInput.h"
#include "session/SessionStats.h"
#include "study/Study.h"

namespace hxdata {

const char* const kStudyUsage =
    "       hx40k-data study FOLDER [--long|--wide|--json] [RULES]\n"
    "                                          the folder's study: per animal and day n, mean and SD,\n"
    "                                          valid or why not; per group and day mean and SEM; the rules\n"
    "       RULES: --acclimation N  --keep-errors  --outlier-k K  --outlier-method mad|scaled-mad|sd\n"
    "              --sbp-range MIN-MAX|off  --hr-range MIN-MAX|off  --type rat|mouse|dog|rabbit (HR of\n"
    "              animals without a Species in animals.csv)  --min-cycles N  --max-sd SD|off\n"
    "              --training-days N\n"
    "       hx40k-data report FOLDER [--animal ID] [--date YYYY-MM-DD] --pdf OUT.pdf [RULES]\n"
    "                                          a PDF report: of the animal's sitting (the last, or the\n"
    "                                          date's), or of the whole study without --animal\n";

namespace {

int usageError(const std::string& problem) {
    std::fprintf(stderr, "hx40k-data: %s (see hx40k-data --help)\n", problem.c_str());
    return 1;
}

int write(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "hx40k-data: cannot write the output: %s\n", std::strerror(errno));
        return 2;
    }
    return 0;
}

}  // namespace

std::optional<std::string> parseRuleOption(const std::vector<std::string>& args, std::size_t& i,
                                           hx::StudyRules& rules, bool& known) {
    known = true;
    const std::string& a = args[i];
    if (a == "--keep-errors") {
        rules.cycles.rejectErrors = false;
        return std::nullopt;
    }
    static const char* const kValued[] = {"--acclimation", "--outlier-k", "--outlier-method",
                                          "--sbp-range",   "--hr-range",  "--type",
                                          "--min-cycles",  "--max-sd",    "--training-days"};
    bool valued = false;
    for (const char* k : kValued) valued = valued || a == k;
    if (!valued) {
        known = false;
        return std::nullopt;
    }
    if (i + 1 >= args.size()) return a + " needs a value";
    const std::string& v = args[++i];
    const auto count = [&](int lo, int hi) -> std::optional<int> {
        char* end = nullptr;
        const long n = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end || n < lo || n > hi) return std::nullopt;
        return static_cast<int>(n);
    };
    if (a == "--acclimation") {
        const auto n = hx::parseAcclimation(v);
        if (!n) return "--acclimation takes a whole number from 0 to 99";
        rules.cycles.acclimation = *n;
    } else if (a == "--outlier-k") {
        const auto k = hx::parseOutlierK(v);
        if (!k) return "--outlier-k takes a number from 0 (off) to 100";
        rules.cycles.outlierK = *k;
    } else if (a == "--outlier-method") {
        const auto m = hx::parseOutlierMethod(v);
        if (!m) return "--outlier-method takes mad, scaled-mad or sd";
        rules.cycles.outlierMethod = *m;
    } else if (a == "--sbp-range" || a == "--hr-range") {
        const auto r = hx::parseRange(v);
        if (!r) return a + " takes MIN-MAX (whole numbers) or off";
        if (a == "--sbp-range") {
            std::tie(rules.cycles.sbpMin, rules.cycles.sbpMax) = *r;
        } else {
            std::tie(rules.cycles.hrMin, rules.cycles.hrMax) = *r;
            rules.hrByType = false;
            rules.hrType = -1;
        }
    } else if (a == "--type") {
        const int type = v == "rabbit" || v == "monkey"               ? 0
                         : v == "dog"                                 ? 1
                         : v == "rat" || v == "mouse" || v == "other" ? 2
                                                                      : -1;
        if (type < 0) return "--type takes rat, mouse, dog or rabbit";
        rules.hrByType = true;
        hx::applyUnitType(rules, type);
    } else if (a == "--min-cycles") {
        const auto n = count(1, 99);
        if (!n) return "--min-cycles takes a whole number from 1 to 99";
        rules.minCycles = *n;
    } else if (a == "--max-sd") {
        char* end = nullptr;
        const double sd = v == "off" ? 0 : std::strtod(v.c_str(), &end);
        if (v != "off" && (v.empty() || *end || !(sd > 0) || sd > 100))
            return "--max-sd takes a number above 0 up to 100, or off";
        rules.maxSbpSd = sd;
    } else {
        const auto n = count(0, 99);
        if (!n) return "--training-days takes a whole number from 0 to 99";
        rules.trainingDays = *n;
    }
    return std::nullopt;
}

hx::StudyRules defaultToolRules() {
    hx::StudyRules rules;
    // The log does not say which species was measured: the heart rate is
    // judged by the Species column of animals.csv; animals without one only
    // with --type (a dog's range would reject every rat) or --hr-range.
    rules.hrByType = true;
    return rules;
}

int studyCommand(const std::vector<std::string>& args) {
    hx::StudyRules rules = defaultToolRules();
    enum { Long, Wide, Json } format = Long;
    std::optional<std::string> folder;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool known = false;
        if (auto problem = parseRuleOption(args, i, rules, known)) return usageError(*problem);
        if (known) continue;
        if (a == "--json") {
            format = Json;
        } else if (a == "--long") {
            format = Long;
        } else if (a == "--wide") {
            format = Wide;
        } else if (a.rfind("--", 0) == 0 || folder) {
            return usageError("study: unknown option or second folder \"" + a + "\"");
        } else {
            folder = a;
        }
    }
    if (!folder) return usageError("study takes a FOLDER");
    StudyInput input;
    if (!loadStudyInput(*folder, input)) return 2;
    const hx::StudyFigures study = hx::computeStudy(input.log.rows, input.animals, input.review, rules);
    reportUnknownChanges(*folder, study);
    if (format == Json) return write(hx::formatStudyJson(study));
    return write(format == Wide ? hx::formatStudyWide(study) : hx::formatStudyLong(study));
}

}  // namespace hxdata
