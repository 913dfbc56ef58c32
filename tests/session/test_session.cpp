#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "session/ResultsLog.h"
#include "session/ResultsSession.h"
#include "session/SessionStats.h"
#include "settings/ProfileStore.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace hx {
namespace {

SessionCycle cycle(double sbp, double hr = 300, int error = 0) {
    SessionCycle c;
    c.sbp = sbp;
    c.mbp = sbp - 20;
    c.dbp = sbp - 35;
    c.hr = hr;
    c.errorCode = error;
    if (error) c.errorText = resultErrorName(error), c.sbp = c.mbp = c.dbp = std::nullopt;
    return c;
}

ResultsLogRow row(const std::string& animal, int n, const std::string& sbp = "120", int device = 1) {
    ResultsLogRow r;
    r.dateTime = "2026-12-08 10:00:00";
    r.deviceId = device;
    r.animalNo = animal;
    r.n = std::to_string(n);
    r.hr = "350";
    r.sbp = sbp;
    r.mbp = "100";
    r.dbp = "85";
    r.saved = true;
    r.saveRule = "Always";
    return r;
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SessionStats, AcclimationErrorsAndOutlierAreRejectedWithTheirReason) {
    std::vector<SessionCycle> cycles = {cycle(200), cycle(180),      cycle(120), cycle(0, 300, 16),
                                        cycle(122), cycle(118),      cycle(121), cycle(160),
                                        cycle(119), cycle(0, 300, 5)};
    const SessionStats st = computeSessionStats(cycles, {2, true, 3.0});
    std::vector<std::string> texts;
    for (const auto& v : st.verdicts) texts.push_back(v.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"acclimation", "acclimation", "accepted", "Lo", "accepted",
                                               "accepted", "accepted", "outlier", "accepted", "Air"}));
    ASSERT_EQ(st.accepted, 5u);
    const ValueSummary& sbp = st.summary[kSbp];
    EXPECT_EQ(sbp.n, 5u);
    EXPECT_DOUBLE_EQ(sbp.mean, 120.0);
    EXPECT_NEAR(sbp.sd, 1.5811, 1e-4);  // sample SD of 120,122,118,121,119
    EXPECT_EQ(sbp.min, 118);
    EXPECT_EQ(sbp.max, 122);
    EXPECT_EQ(meanSdText(sbp), "120.0 \xC2\xB1 1.6");
    EXPECT_EQ(rangeText(sbp), "118.0-122.0");

    // Off: k = 0 keeps the outlier; errors kept (their pressures are absent, HR counts).
    const SessionStats all = computeSessionStats(cycles, {0, false, 0});
    EXPECT_EQ(all.accepted, cycles.size());
    EXPECT_EQ(all.summary[kSbp].n, 8u);
    EXPECT_EQ(all.summary[kHr].n, 10u);
}

TEST(SessionStats, FewCyclesAndIdenticalReadingsAreHandled) {
    EXPECT_EQ(computeSessionStats({}, {}).accepted, 0u);
    const SessionStats one = computeSessionStats({cycle(130)}, {});
    EXPECT_EQ(one.summary[kSbp].n, 1u);
    EXPECT_EQ(meanSdText(one.summary[kSbp]), "130.0 \xC2\xB1 -");
    EXPECT_EQ(meanSdText(computeSessionStats({cycle(0, 1, 16)}, {}).summary[kSbp]), "-");

    // MAD 0: a reading 1 mmHg off is no outlier, one far off is.
    const SessionStats same =
        computeSessionStats({cycle(120), cycle(120), cycle(120), cycle(121), cycle(150)}, {});
    EXPECT_EQ(same.verdicts[3].status, CycleStatus::Accepted);
    EXPECT_EQ(same.verdicts[4].status, CycleStatus::Outlier);
    // Acclimation longer than the session rejects everything without harm.
    EXPECT_EQ(computeSessionStats({cycle(120), cycle(121)}, {5, true, 3}).accepted, 0u);
}

TEST(SessionStats, SettingsRoundTripThroughTheProfileAndRefuseNonsense) {
    CMemoryProfileStore store;
    EXPECT_EQ(loadSessionSettings(store).outlierK, 3.0);
    storeSessionSettings(store, {4, false, 2.5});
    const SessionSettings s = loadSessionSettings(store);
    EXPECT_EQ(s.acclimation, 4);
    EXPECT_FALSE(s.rejectErrors);
    EXPECT_EQ(s.outlierK, 2.5);
    store.writeText("Session", "outlierK", "nan");
    store.writeInt("Session", "acclimation", -3);
    EXPECT_EQ(loadSessionSettings(store).outlierK, 3.0);
    EXPECT_EQ(loadSessionSettings(store).acclimation, 0);
    EXPECT_FALSE(parseOutlierK("-1"));
    EXPECT_FALSE(parseAcclimation("3x"));
}

TEST(SessionStats, LogSplitsIntoSessionsByAnimalAndNumberPerDevice) {
    std::vector<ResultsLogRow> rows = {row("A", 1), row("A", 2), row("X", 1, "120", 2), row("A", 3),
                                       row("B", 4), row("B", 5), row("X", 2, "120", 2)};
    rows[5].session = 2;  // "New session" with the same animal
    const auto sessions = splitSessions(rows);
    ASSERT_EQ(sessions.size(), 4u);
    EXPECT_EQ(sessions[0].rows, (std::vector<std::size_t>{0, 1, 3}));  // device 2 in between does not split
    EXPECT_EQ(sessions[1].rows, (std::vector<std::size_t>{2, 6}));
    EXPECT_EQ(sessions[2].rows, (std::vector<std::size_t>{4}));
    EXPECT_EQ(sessions[3].rows, (std::vector<std::size_t>{5}));
}

TEST(ResultsLog, RowsRoundTripWithQuotingAndForeignBytes) {
    test::TempDir dir;
    ResultsLogRow r = row("R-07", 3, "---");
    r.comment = "left, \"tail\"\nsecond line \xB5g";  // Latin-1 micro sign from the unit
    r.errorCode = 16;
    r.errorText = "Lo";
    ASSERT_EQ(appendResultsLog(dir.folder(), r), "");
    ASSERT_EQ(appendResultsLog(dir.path().string(), row("R-07", 4)), "");  // folder without "/"
    const std::string text = fileText(dir.path() / "results.csv");
    EXPECT_EQ(text.substr(0, text.find("\r\n")), resultsLogHeader().substr(0, resultsLogHeader().size() - 2));
    EXPECT_NE(text.find("\"left, \"\"tail\"\" second line \xC2\xB5g\""), std::string::npos);

    std::string reason;
    auto log = readResultsLog(resultsLogPath(dir.folder()), reason);
    ASSERT_TRUE(log) << reason;
    ASSERT_EQ(log->rows.size(), 2u);
    EXPECT_EQ(log->rows[0].comment, "left, \"tail\" second line \xC2\xB5g");
    EXPECT_EQ(log->rows[0].errorCode, 16);
    EXPECT_FALSE(cycleFromLogRow(log->rows[0]).sbp);
    EXPECT_EQ(cycleFromLogRow(log->rows[1]).sbp, 120);

    EXPECT_FALSE(parseResultsLog("index,pressure,wave\n1,2,3\n", reason));
    auto damaged = parseResultsLog(resultsLogHeader() + "1,2,3\r\n" + formatResultsLogRow(r), reason);
    ASSERT_TRUE(damaged);
    EXPECT_EQ(damaged->damagedLines, 1u);
    EXPECT_EQ(damaged->rows.size(), 1u);
}

TEST(ResultsLog, AnUnfinishedLastLineDoesNotSwallowTheNextRow) {
    test::TempDir dir;
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 1)), "");
    std::ofstream(dir.path() / "results.csv", std::ios::app) << "2026-12-08 10:0";  // a crash mid-row
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 2)), "");
    std::string reason;
    auto log = readResultsLog(resultsLogPath(dir.folder()), reason);
    ASSERT_TRUE(log);
    ASSERT_EQ(log->rows.size(), 2u);
    EXPECT_EQ(log->rows[1].n, "2");
    EXPECT_EQ(log->damagedLines, 1u);
}

TEST(ResultsLog, AFollowerReadsOnlyWhatWasAppendedAndNoHalfRow) {
    test::TempDir dir;
    const std::string path = dir.folder() + "results.csv";
    std::string reason;
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 1)), "");
    auto first = readResultsLogSince(path, 0, reason);
    ASSERT_TRUE(first) << reason;
    ASSERT_EQ(first->rows.size(), 1u);

    // A row being written is left for the next look; the rows after it are read once each.
    std::ofstream(path, std::ios::app) << "2026-12-08 10:0";
    auto none = readResultsLogSince(path, first->offset, reason);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->rows.empty());
    EXPECT_EQ(none->offset, first->offset);
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 2)), "");
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 3)), "");
    auto next = readResultsLogSince(path, none->offset, reason);
    ASSERT_TRUE(next);
    ASSERT_EQ(next->rows.size(), 2u);
    EXPECT_EQ(next->rows[0].n, "2");
    EXPECT_EQ(next->damagedLines, 1u);
    EXPECT_FALSE(next->restarted);

    // A log replaced by a shorter one is read from its first row.
    std::filesystem::remove(path);
    ASSERT_EQ(appendResultsLog(dir.folder(), row("B", 1)), "");
    auto replaced = readResultsLogSince(path, next->offset, reason);
    ASSERT_TRUE(replaced);
    EXPECT_TRUE(replaced->restarted);
    ASSERT_EQ(replaced->rows.size(), 1u);
    EXPECT_EQ(replaced->rows[0].animalNo, "B");
}

TEST(ResultsLog, ACutRowCostsThatRowOnlyAndFormulasStayText) {
    test::TempDir dir;
    ResultsLogRow odd = row("=1+2", 1);
    odd.comment = "'quoted";
    odd.studyNo = "-5";
    ASSERT_EQ(appendResultsLog(dir.folder(), odd), "");
    EXPECT_NE(fileText(dir.path() / "results.csv").find(",'=1+2,'-5,"), std::string::npos);
    std::ofstream(dir.path() / "results.csv", std::ios::app) << "2026-12-08 10:00:00,1,\"cut\r\n";
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 2)), "");
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 3)), "");
    std::string reason;
    auto log = readResultsLog(resultsLogPath(dir.folder()), reason);
    ASSERT_TRUE(log) << reason;
    ASSERT_EQ(log->rows.size(), 3u);
    EXPECT_EQ(log->damagedLines, 1u);
    EXPECT_EQ(log->rows[0].animalNo, "=1+2");
    EXPECT_EQ(log->rows[0].studyNo, "-5");
    EXPECT_EQ(log->rows[0].comment, "'quoted");
    EXPECT_EQ(log->rows[2].n, "3");
    CResultsSession s;
    s.load(dir.folder(), 1);
    ASSERT_EQ(s.rows().size(), 2u);
    EXPECT_EQ(s.rows()[0].n, "2");
}

TEST(ResultsLog, SomeoneElsesResultsCsvIsLeftAloneAndOursGoesBesideIt) {
    test::TempDir dir;
    const std::string theirs = "index,pressure\n1,2\n";
    std::ofstream(dir.path() / "results.csv") << theirs;
    CResultsSession s;
    s.load(dir.folder(), 1);
    EXPECT_EQ(s.record(dir.folder(), row("A", 1)), "");
    EXPECT_NE(s.takeNotice(), "");
    EXPECT_EQ(s.record(dir.folder(), row("A", 2)), "");
    EXPECT_EQ(s.takeNotice(), "");  // once
    EXPECT_EQ(fileText(dir.path() / "results.csv"), theirs);
    std::string reason;
    auto log = readResultsLog((dir.path() / "results-hx40k.csv").string(), reason);
    ASSERT_TRUE(log) << reason;
    EXPECT_EQ(log->rows.size(), 2u);
}

TEST(ResultsLog, AFifoIsRefusedAndAHugeFileCostsNeitherTimeNorMemory) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir.path() / "results.csv").c_str(), 0600), 0);
    // In a child, so a blocking open shows as a failure, not as a hung test.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(20);
        CResultsSession s;
        s.load(dir.folder(), 1);
        std::string reason;
        ::_exit(!readResultsLog(resultsLogPath(dir.folder()), reason) &&
                        !s.record(dir.folder(), row("A", 1)).empty()
                    ? 0
                    : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // A terabyte, sparse: the header, then nothing but zero bytes.
    test::TempDir big;
    const auto log = big.path() / "results.csv";
    std::ofstream(log) << resultsLogHeader() << formatResultsLogRow(row("A", 1));
    std::error_code ec;
    std::filesystem::resize_file(log, 1ull << 40, ec);
    if (ec) GTEST_SKIP() << "no sparse terabyte here: " << ec.message();
    CResultsSession s;
    s.load(big.folder(), 1);  // reads a bounded tail, allocates a line's worth
    EXPECT_TRUE(s.rows().empty());
    std::filesystem::resize_file(log, 0);
}

TEST(ResultsLog, AFullDiskLosesNothingEarlierAndLeavesNoPartRow) {
    test::TempDir dir;
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 1)), "");
    const std::string before = fileText(dir.path() / "results.csv");
    {
        test::FileSizeLimit limit(before.size() + 20);  // room for a part of a row only
        ASSERT_TRUE(limit.active());
        EXPECT_NE(appendResultsLog(dir.folder(), row("A", 2)), "");
    }
    EXPECT_EQ(fileText(dir.path() / "results.csv"), before);
    ASSERT_EQ(appendResultsLog(dir.folder(), row("A", 3)), "");
    EXPECT_EQ(fileText(dir.path() / "results.csv"), before + formatResultsLogRow(row("A", 3)));
}

TEST(ResultsLog, TwoWritersNeverInterleaveRows) {
    test::TempDir dir;
    constexpr int kRows = 300;
    // Long rows, so an unlocked writer would be split across writes.
    const std::string comment(3000, 'c');
    pid_t children[2];
    for (int w = 0; w < 2; ++w) {
        children[w] = ::fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            for (int i = 0; i < kRows; ++i) {
                ResultsLogRow r = row("W" + std::to_string(w), i, "120", w + 1);
                r.comment = comment;
                if (!appendResultsLog(dir.folder(), r).empty()) ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string reason;
    auto log = readResultsLog(resultsLogPath(dir.folder()), reason);
    ASSERT_TRUE(log) << reason;
    EXPECT_EQ(log->damagedLines, 0u);
    ASSERT_EQ(log->rows.size(), 2u * kRows);
    int next[2] = {0, 0};
    for (const auto& r : log->rows) {
        ASSERT_EQ(r.comment, comment);
        const int w = r.deviceId - 1;
        EXPECT_EQ(r.n, std::to_string(next[w]++));  // each writer's rows whole and in order
    }
}

TEST(ResultsSession, SessionsFollowTheAnimalAndSurviveARestart) {
    test::TempDir dir;
    {
        CResultsSession s;
        s.load(dir.folder(), 1);
        s.record(dir.folder(), row("A", 1));
        s.record(dir.folder(), row("A", 2));
        s.record(dir.folder(), row("B", 3));
        EXPECT_EQ(s.rows().size(), 1u);
        s.record(dir.folder(), row("B", 4));
        s.startNewSession();
        EXPECT_TRUE(s.rows().empty());
        s.record(dir.folder(), row("B", 5));
        EXPECT_EQ(s.sessionNumber(), 3);
    }
    CResultsSession restarted;
    restarted.load(dir.folder(), 1);
    ASSERT_EQ(restarted.rows().size(), 1u);
    EXPECT_EQ(restarted.rows()[0].n, "5");
    restarted.record(dir.folder(), row("B", 6));
    EXPECT_EQ(restarted.stats({}).accepted, 2u);
    restarted.setKeepRows(false);  // as the console keeps them: the newest row only
    restarted.record(dir.folder(), row("B", 7));
    ASSERT_EQ(restarted.rows().size(), 1u);
    EXPECT_EQ(restarted.rows()[0].n, "7");
    EXPECT_EQ(restarted.sessionNumber(), 3);
    CResultsSession otherUnit;  // another copy's unit starts its own session
    otherUnit.load(dir.folder(), 2);
    EXPECT_TRUE(otherUnit.rows().empty());
    otherUnit.record(dir.folder(), row("B", 1, "120", 2));
    EXPECT_EQ(otherUnit.sessionNumber(), 4);
}

}  // namespace
}  // namespace hx
