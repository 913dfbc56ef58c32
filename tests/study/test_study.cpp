// Studies on hand-made logs: the cycle and day rules, groups, the animals'
// table and the hand review's change log.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "session/ResultsLog.h"
#include "study/Animals.h"
#include "study/RecordingVerdicts.h"
#include "study/ReviewLog.h"
#include "study/Sitting.h"
#include "study/Sittings.h"
#include "study/Study.h"
#include "support/TempDir.h"

namespace hx {
namespace {

// One animal's cycle on a date; time "10:MM:00" from n so keys differ.
ResultsLogRow row(const std::string& animal, const std::string& date, int n, int sbp, int hr = 380,
                  int error = 0, int session = 1) {
    ResultsLogRow r;
    char time[16];
    std::snprintf(time, sizeof time, " 10:%02d:%02d", n / 60, n % 60);
    r.dateTime = date + time;
    r.deviceId = 1;
    r.animalNo = animal;
    r.n = std::to_string(n);
    r.hr = error ? "---" : std::to_string(hr);
    r.sbp = error ? "---" : std::to_string(sbp);
    r.mbp = error ? "---" : std::to_string(sbp - 20);
    r.dbp = error ? "---" : std::to_string(sbp - 35);
    r.errorCode = error;
    r.errorText = resultErrorName(error);
    r.session = session;
    return r;
}

// A day of an animal: SBP values in order, one sitting.
void addDay(std::vector<ResultsLogRow>& rows, const std::string& animal, const std::string& date,
            const std::vector<int>& sbp, int session) {
    int n = 1;
    for (int v : sbp) rows.push_back(row(animal, date, n++, v, 380, v == 0 ? 16 : 0, session));
}

std::vector<std::string> verdicts(const SessionStats& st) {
    std::vector<std::string> out;
    for (const auto& v : st.verdicts) out.push_back(v.text);
    return out;
}

SessionCycle cycle(double sbp, double hr = 380) {
    SessionCycle c;
    c.sbp = sbp;
    c.mbp = sbp - 20;
    c.dbp = sbp - 35;
    c.hr = hr;
    return c;
}

TEST(StudyRules, RangesAndTheThreeOutlierSpreadsJudgeCycles) {
    SessionSettings s;
    s.hrMin = 200;
    s.hrMax = 650;
    s.outlierK = 3;
    // Median 120, MAD 2: 3 x MAD = 6 rejects 127; 3 x 1.4826 x MAD = 8.9 keeps it.
    std::vector<SessionCycle> cycles = {cycle(118), cycle(120), cycle(122),      cycle(120), cycle(127),
                                        cycle(55),  cycle(260), cycle(121, 150), cycle(119), cycle(123)};
    EXPECT_EQ(verdicts(computeSessionStats(cycles, s)),
              (std::vector<std::string>{"accepted", "accepted", "accepted", "accepted", "outlier",
                                        "SBP out of range", "SBP out of range", "HR out of range", "accepted",
                                        "accepted"}));
    s.outlierMethod = OutlierMethod::ScaledMad;
    EXPECT_EQ(computeSessionStats(cycles, s).verdicts[4].text, "accepted");
    // k x SD around the mean: 1.5 x SD of the seven in (3.0) rejects 127 again.
    s.outlierMethod = OutlierMethod::Sd;
    s.outlierK = 1.5;
    EXPECT_EQ(computeSessionStats(cycles, s).verdicts[4].text, "outlier");
    // Off: no bound at all.
    s.sbpMin = s.sbpMax = s.hrMin = s.hrMax = 0;
    s.outlierK = 0;
    EXPECT_EQ(computeSessionStats(cycles, s).accepted, cycles.size());

    EXPECT_EQ(parseRange("60-250"), (std::pair{60, 250}));
    EXPECT_EQ(parseRange("off"), (std::pair{0, 0}));
    for (const char* bad : {"250-60", "-5", "60-", "1-2-3", "6000-7000", "a-b", ""})
        EXPECT_FALSE(parseRange(bad)) << bad;
}

TEST(StudyRules, HandVerdictsWinOverTheRulesAndStayOutOfTheOutlierRule) {
    std::vector<SessionCycle> cycles = {cycle(120), cycle(121), cycle(119), cycle(160), cycle(120)};
    cycles[3].handAccepted = true;  // an outlier the user keeps
    cycles[0].handAccepted = false;
    cycles[0].handReason = "movement";
    SessionSettings s;
    s.acclimation = 1;
    const SessionStats st = computeSessionStats(cycles, s);
    EXPECT_EQ(verdicts(st), (std::vector<std::string>{"rejected by hand: movement", "accepted", "accepted",
                                                      "accepted by hand", "accepted"}));
    EXPECT_TRUE(st.verdicts[0].byHand);
    EXPECT_EQ(st.accepted, 4u);
}

TEST(Study, DaysAreValidOrSayWhyAndGroupsAverageTheAnimalsDailyMeans) {
    std::vector<ResultsLogRow> rows;
    // Animal 1 (group A): a training day, then a good day, then a day with
    // too few cycles, then a scattered day.
    addDay(rows, "1", "2026-03-01", {130, 131, 129, 130, 130}, 1);
    addDay(rows, "1", "2026-03-02", {120, 122, 118, 120, 120, 0}, 2);
    addDay(rows, "1", "2026-03-04", {120, 121, 0, 0}, 3);
    addDay(rows, "1", "2026-03-05", {100, 140, 105, 135, 120}, 4);
    // Animal 2 (group A) and animal 7 (not listed) on days 1 and 2.
    addDay(rows, "2", "2026-03-02", {140, 141, 139, 140, 140}, 5);
    addDay(rows, "7", "2026-03-02", {150, 150, 150, 150, 150}, 6);
    addDay(rows, "2", "2026-03-01", {140, 141, 139, 140, 140}, 7);
    addDay(rows, "7", "2026-03-01", {150, 150, 150, 150, 150}, 8);
    AnimalsTable animals = parseAnimals("Animal No,Group\r\n2,A\r\n1,A\r\n3,B\r\n");
    StudyRules rules;
    rules.cycles.outlierK = 0;
    rules.trainingDays = 1;
    rules.maxSbpSd = 15;
    const StudyFigures st = computeStudy(rows, animals, {}, rules);

    ASSERT_EQ(st.animals.size(), 4u);  // 2, 1 (A), 3 (B, never measured), 7 ("(none)")
    EXPECT_EQ(st.animals[0].animal, "2");
    EXPECT_EQ(st.animals[1].animal, "1");
    EXPECT_EQ(st.animals[2].group, "B");
    EXPECT_TRUE(st.animals[2].days.empty());
    EXPECT_EQ(st.animals[3].group, kNoGroup);
    const auto& one = st.animals[1].days;
    ASSERT_EQ(one.size(), 4u);
    EXPECT_TRUE(one[0].training);
    EXPECT_TRUE(one[1].valid);
    EXPECT_EQ(one[1].cycles, 6u);
    EXPECT_EQ(one[1].accepted(), 5u);
    EXPECT_DOUBLE_EQ(one[1].values[kSbp].mean, 120);
    EXPECT_EQ(one[2].dayNumber, 4);
    EXPECT_EQ(one[2].reason, "2 accepted cycles (at least 5)");
    EXPECT_EQ(one[3].reason, "SD of SBP 17.7 > 15.0");
    EXPECT_FALSE(st.animals[0].days[1].training);  // in date order, whatever the log's order

    // Group A on day 2: animals 1 (120) and 2 (140): 130 ± 10; day 1 only training.
    const GroupFigures& a = st.groups[0];
    ASSERT_EQ(a.group, "A");
    EXPECT_EQ(a.days[0].animals, 0u);
    EXPECT_EQ(a.days[1].animals, 2u);
    EXPECT_DOUBLE_EQ(a.days[1].values[kSbp].mean, 130);
    EXPECT_DOUBLE_EQ(a.days[1].values[kSbp].sem, 10);
    EXPECT_EQ(st.groups.back().group, kNoGroup);
    EXPECT_EQ(st.groups.back().days[1].animals, 1u);

    // The outputs carry the rules; wide leaves out what is not valid.
    const std::string wide = formatStudyWide(st);
    EXPECT_NE(wide.find("Day 5 (2026-03-05) SBP"), std::string::npos);
    EXPECT_NE(wide.find("Training days: the first 1 days"), std::string::npos);
    EXPECT_NE(wide.find("\r\n1,A,5,,,,,5,120.0,100.0,85.0,380.0,2,,,,,5,,,,\r\n"), std::string::npos) << wide;
    EXPECT_NE(formatStudyLong(st).find("1,A,2026-03-04,4,no,4,2,120.5,0.7,"), std::string::npos);
    EXPECT_NE(formatStudyJson(st).find("\"minCycles\":5"), std::string::npos);
}

TEST(Study, HeartRateIsJudgedByEachAnimalsSpeciesBeforeTheUnitsType) {
    // Mice at 600 a minute measured on a unit set to TYPE dog: the mice listed
    // as such keep their days; animal 3 has no species and falls to the dog's range.
    std::vector<ResultsLogRow> rows;
    for (const char* animal : {"1", "2", "3"})
        for (int n = 1; n <= 5; ++n)
            rows.push_back(row(animal, "2026-03-01", n, 120, 600, 0, animal[0] - '0'));
    rows.push_back(row("2", "2026-03-01", 6, 120, 900, 0, 2));
    StudyRules rules;
    rules.cycles.outlierK = 0;
    applyUnitType(rules, 1);
    const AnimalsTable animals =
        parseAnimals("Animal No,Group,Species\r\n1,A,mouse\r\n2,A, Mouse \r\n3,A,\r\n");
    const StudyFigures st = computeStudy(rows, animals, {}, rules);
    ASSERT_EQ(st.animals.size(), 3u);
    EXPECT_EQ(st.animals[0].days[0].accepted(), 5u);
    EXPECT_EQ(st.animals[1].days[0].accepted(), 5u);  // 900 is beyond a mouse's range
    EXPECT_FALSE(st.animals[2].days[0].valid);
    EXPECT_NE(studyRuleLines(rules)[3].find("by the species in animals.csv"), std::string::npos);
    // A file without the column reads as before: no species, the TYPE's range for all.
    EXPECT_TRUE(parseAnimals("Animal No,Group\r\n1,A\r\n").species().empty());
    EXPECT_EQ(AnimalsTable::standardColumns().back(), "Species");
}

TEST(Animals, UnknownColumnsAreKeptAndADamagedRowIsNeverSavedOver) {
    test::TempDir dir;
    const auto path = dir.path() / kAnimalsFileName;
    {
        std::ofstream out(path, std::ios::binary);
        out << "\xEF\xBB\xBF"
               "Animal No,Group,Sex,Date of birth,Notes,Cage\r\n"
               "1,A,m,2026-01-01,\"calm, eats well\",4\r\n"
               "2,B\r\n";
    }
    std::string reason;
    AnimalsTable t = readAnimals(dir.folder(), reason);
    ASSERT_EQ(reason, "");
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.field(t.rows[0], "Cage"), "4");
    EXPECT_EQ(t.field(t.rows[0], "Notes"), "calm, eats well");
    t.rows[1].fields[5] = "7";
    ASSERT_EQ(saveAnimals(dir.folder(), t), "");
    const AnimalsTable again = readAnimals(dir.folder(), reason);
    EXPECT_EQ(again.columns, t.columns);
    EXPECT_EQ(again.field(again.rows[1], "Cage"), "7");
    EXPECT_EQ(again.groups().at("2"), "B");

    // Someone adds rows in a spreadsheet that the program cannot read.
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << "3,A,f,,,,too many\r\n,A\r\n1,C\r\n\"4,A\r\n";
    }
    const AnimalsTable damaged = readAnimals(dir.folder(), reason);
    ASSERT_EQ(damaged.damaged.size(), 4u);
    EXPECT_EQ(damaged.damaged[0].reason, "7 fields, the header has 6");
    EXPECT_EQ(damaged.damaged[1].reason, "no animal number");
    EXPECT_EQ(damaged.damaged[2].reason, "animal 1 is listed already on line 2");
    EXPECT_EQ(damaged.damaged[3].reason, "a quote is not closed");
    const std::string before = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const std::string refusal = saveAnimals(dir.folder(), t);
    EXPECT_NE(refusal.find("line 4"), std::string::npos) << refusal;
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);

    EXPECT_FALSE(parseAnimals("Name,Group\r\nx,y\r\n").headerProblem.empty());
}

class ReviewLogTest : public ::testing::Test {
  protected:
    ReviewLogTest() {
        addDay(m_rows, "1", "2026-03-02", {120, 121, 119, 120, 120, 160}, 1);
        m_rules.cycles.outlierK = 3;
    }
    ReviewChange change(int n, bool from, bool to, const std::string& reason) {
        ReviewChange c;
        c.cycle = cycleKeyOf(m_rows[static_cast<std::size_t>(n - 1)]);
        c.oldAccepted = from;
        c.newAccepted = to;
        c.reason = reason;
        return c;
    }
    ReviewLog read() {
        std::string reason;
        auto log = readReviewLog(m_dir.folder(), reason);
        EXPECT_TRUE(log) << reason;
        return log ? *log : ReviewLog{};
    }
    std::size_t acceptedOnTheDay() {
        return computeStudy(m_rows, {}, read(), m_rules).animals.at(0).days.at(0).accepted();
    }

    test::TempDir m_dir;
    std::vector<ResultsLogRow> m_rows;
    StudyRules m_rules;
};

TEST_F(ReviewLogTest, AChangeAndItsUndoAndTwoChangesInOrder) {
    EXPECT_EQ(acceptedOnTheDay(), 5u);  // 160 is an outlier
    ASSERT_EQ(appendReviewChange(m_dir.folder(), change(2, true, false, "movement")), "");
    EXPECT_EQ(acceptedOnTheDay(), 4u);
    ASSERT_EQ(appendReviewChange(m_dir.folder(), change(2, false, true, "undo")), "");
    EXPECT_EQ(acceptedOnTheDay(), 5u);
    // Two changes of the outlier: accepted, then rejected again; the last wins.
    ASSERT_EQ(appendReviewChange(m_dir.folder(), change(6, false, true, "other: cuff refitted")), "");
    EXPECT_EQ(acceptedOnTheDay(), 6u);
    ASSERT_EQ(appendReviewChange(m_dir.folder(), change(6, true, false, "cold tail")), "");
    const ReviewLog log = read();
    ASSERT_EQ(log.changes.size(), 4u);
    EXPECT_EQ(log.changes[3].line, 5u);
    EXPECT_FALSE(log.changes[0].user.empty());
    EXPECT_EQ(log.changes[0].time.size(), 19u);
    const StudyFigures st = computeStudy(m_rows, {}, log, m_rules);
    EXPECT_EQ(st.animals[0].days[0].accepted(), 5u);
    EXPECT_EQ(st.animals[0].days[0].handChanged, 2u);
    EXPECT_TRUE(st.unknownChanges.empty());
}

TEST_F(ReviewLogTest, TheRecordingReviewTurnsTheVerdictOfItsDataFileOver) {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        m_rows[i].dataFile = "B0302100" + std::to_string(i) + ".001";
        ASSERT_EQ(appendResultsLog(m_dir.folder(), m_rows[i]), "");
    }
    std::string reason;
    const auto outlier = recordingVerdict(m_dir.folder(), "B03021005.001", m_rules, reason);
    ASSERT_TRUE(outlier) << reason;
    EXPECT_EQ(outlier->verdict.text, "outlier");
    ASSERT_EQ(changeRecordingVerdict(m_dir.folder(), "B03021005.001", m_rules, "reading is sound"), "");
    ASSERT_EQ(changeRecordingVerdict(m_dir.folder(), "B03021001.001", m_rules, "movement"), "");
    EXPECT_EQ(recordingVerdict(m_dir.folder(), "B03021001.001", m_rules, reason)->verdict.text,
              "rejected by hand: movement");
    EXPECT_EQ(acceptedOnTheDay(), 5u);  // the outlier in, the second cycle out
    EXPECT_EQ(read().changes.at(0).cycle, cycleKeyOf(m_rows[5]));
    EXPECT_NE(changeRecordingVerdict(m_dir.folder(), "B99999999.001", m_rules, "movement"), "");
}

TEST_F(ReviewLogTest, KeptVerdictsTakeNewRowsAndChangesAndReadAReplacedLogAgain) {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i].dataFile = "B0302100" + std::to_string(i) + ".001";
    for (std::size_t i = 0; i + 1 < m_rows.size(); ++i)
        ASSERT_EQ(appendResultsLog(m_dir.folder(), m_rows[i]), "");
    CRecordingVerdicts kept(m_dir.folder());
    std::string reason;
    const auto text = [&](const std::string& file) {
        const auto v = kept.verdict(file, m_rules, reason);
        return v ? v->verdict.text : "none: " + reason;
    };
    EXPECT_EQ(text("B03021001.001"), "accepted");
    EXPECT_EQ(text("B03021005.001"), "none: no row of the results log names B03021005.001");
    // A recording saved since: judged in its sitting with the rows read before.
    ASSERT_EQ(appendResultsLog(m_dir.folder(), m_rows[5]), "");
    EXPECT_EQ(text("B03021005.001"), "outlier");
    StudyRules noOutliers = m_rules;
    noOutliers.cycles.outlierK = 0;
    EXPECT_EQ(kept.verdict("B03021005.001", noOutliers, reason)->verdict.text, "accepted");
    // Verdicts changed elsewhere (the session window) and here, in order.
    ASSERT_EQ(appendReviewChange(m_dir.folder(), change(6, false, true, "other: cuff refitted")), "");
    EXPECT_EQ(text("B03021005.001"), "accepted by hand");
    ASSERT_EQ(kept.changeVerdict("B03021001.001", m_rules, "movement"), "");
    EXPECT_EQ(text("B03021001.001"), "rejected by hand: movement");
    // The review log cut back to its header: no hand change any more.
    std::filesystem::resize_file(m_dir.path() / kReviewLogName, reviewLogHeader().size());
    EXPECT_EQ(text("B03021005.001"), "outlier");
    EXPECT_EQ(text("B03021001.001"), "accepted");
    // The results log written anew, longer than before, names other files.
    std::string log = resultsLogHeader();
    for (auto row : m_rows) {
        row.dataFile = "C" + row.dataFile;
        log += formatResultsLogRow(row);
    }
    std::ofstream(m_dir.path() / "new.csv", std::ios::binary) << log;
    std::filesystem::rename(m_dir.path() / "new.csv", m_dir.path() / kResultsLogName);
    EXPECT_EQ(text("B03021001.001"), "none: no row of the results log names B03021001.001");
    EXPECT_EQ(text("CB03021005.001"), "outlier");
    // No log at all.
    std::filesystem::remove(m_dir.path() / kResultsLogName);
    EXPECT_FALSE(kept.verdict("CB03021005.001", m_rules, reason));
}

TEST_F(ReviewLogTest, AChangeOfAnUnknownCycleIsReportedAndATornLastLineTolerated) {
    ReviewChange stray = change(1, true, false, "movement");
    stray.cycle.n = "99";
    ASSERT_EQ(appendReviewChange(m_dir.folder(), change(1, true, false, "movement")), "");
    ASSERT_EQ(appendReviewChange(m_dir.folder(), stray), "");
    {
        std::ofstream out(m_dir.path() / kReviewLogName, std::ios::binary | std::ios::app);
        out << "2026-03-02 11:00:00,me,2026-03-02 10:00:03,1,1,3,,accep";  // a crash mid-row
    }
    ReviewLog log = read();
    EXPECT_TRUE(log.tornLastLine);
    EXPECT_EQ(log.damagedLines, 0u);
    ASSERT_EQ(log.changes.size(), 2u);
    const StudyFigures st = computeStudy(m_rows, {}, log, m_rules);
    ASSERT_EQ(st.unknownChanges.size(), 1u);
    EXPECT_EQ(st.unknownChanges[0].cycle.n, "99");
    EXPECT_EQ(st.unknownChanges[0].line, 3u);
    // The next change starts on a line of its own; the torn one is now damage.
    ASSERT_EQ(appendReviewChange(m_dir.folder(), change(3, true, false, "cuff slipped")), "");
    log = read();
    EXPECT_EQ(log.changes.size(), 3u);
    EXPECT_EQ(log.damagedLines, 1u);
    EXPECT_FALSE(log.tornLastLine);
}

TEST(Sittings, TheLastSaveOfASittingWinsAndATemperatureMustBeOne) {
    test::TempDir dir;
    SittingConditions c;
    c.deviceId = 2;
    c.session = 7;
    c.platformTemperature = "34";
    c.restrainer = "M, 45 mm";
    ASSERT_EQ(appendSittingConditions(dir.folder(), c), "");
    c.platformTemperature = "35.5";
    c.operatorName = "K. Ito";
    ASSERT_EQ(appendSittingConditions(dir.folder(), c), "");
    c.roomTemperature = "warm";
    EXPECT_NE(appendSittingConditions(dir.folder(), c), "");
    std::string reason;
    const auto file = readSittings(dir.folder(), reason);
    ASSERT_TRUE(file) << reason;
    ASSERT_EQ(file->latest.size(), 1u);
    const SittingConditions& got = file->latest.at({2, 7});
    EXPECT_EQ(got.platformTemperature, "35.5");
    EXPECT_EQ(got.restrainer, "M, 45 mm");
    EXPECT_EQ(got.operatorName, "K. Ito");
    EXPECT_EQ(file->damagedLines, 0u);
}

}  // namespace
}  // namespace hx
