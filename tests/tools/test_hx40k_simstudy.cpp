// hx40k-simstudy run as a process: the study it produces through the program
// carries the group effect it was set to, on the study's dates.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/ProcessRun.h"
#include "support/TempDir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ',')) out.push_back(field);
    return out;
}

TEST(Hx40kSimStudy, TheChangedGroupRisesByWhatItWasSetToOnTheStudysDays) {
    const fs::path tool = fs::path(test::binFolder()) / "hx40k-simstudy";
    if (!fs::exists(tool)) GTEST_SKIP() << "hx40k-simstudy is not built at " << tool;
    test::TempDir dir;
    const std::string folder = (dir.path() / "study").string();
    // Group 2's SBP: +5 mmHg on day 2, +20 on day 5.
    const test::ProcessRun run =
        test::runProgram(tool.string(), {folder, "--animals", "4", "--days", "5", "--cycles", "5", "--change",
                                         "2:5:2", "--start", "2025-03-03", "--artefacts", "none"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    std::ifstream animals(fs::path(folder) / "animals.csv");
    std::string line;
    std::getline(animals, line);
    EXPECT_EQ(line, "Animal No,Group,Sex,Date of birth,Notes,Species\r");
    std::map<std::string, std::string> groupOf;
    while (std::getline(animals, line)) groupOf[fields(line).at(0)] = fields(line).at(1);
    ASSERT_EQ(groupOf.size(), 4u);

    // Mean SBP of the valid results per group and day.
    std::ifstream log(fs::path(folder) / "results.csv");
    std::getline(log, line);
    std::map<std::pair<std::string, std::string>, std::pair<double, int>> sums;
    int rows = 0;
    while (std::getline(log, line)) {
        const auto f = fields(line);
        ASSERT_GE(f.size(), 13u) << line;
        ++rows;
        const std::string day = f[0].substr(0, 10);
        EXPECT_TRUE(day >= "2025-03-03" && day <= "2025-03-07") << day;
        if (f[12] != "0") continue;
        auto& [sum, n] = sums[{groupOf.at(f[2]), day}];
        sum += std::stod(f[9]);
        ++n;
    }
    EXPECT_EQ(rows, 4 * 5 * 5);
    auto mean = [&](const char* group, const char* day) {
        const auto& [sum, n] = sums[{group, day}];
        EXPECT_GT(n, 4) << group << " " << day;
        return n ? sum / n : 0.0;
    };
    const double before = mean("G2", "2025-03-03") - mean("G1", "2025-03-03");
    const double after = mean("G2", "2025-03-07") - mean("G1", "2025-03-07");
    EXPECT_NEAR(after - before, 20.0, 10.0);
}

}  // namespace
}  // namespace hx
