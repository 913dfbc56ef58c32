// The study windows and the hand review in the session window: what they show
// is the core's study, what they change lands in the folder's files.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSpinBox>
#include <QTableWidget>
#include <fstream>

#include "GuiTestSupport.h"
#include "gui/CSessionWindow.h"
#include "gui/CStudyWindows.h"
#include "session/ResultsSession.h"
#include "study/ReviewLog.h"
#include "study/Sittings.h"

namespace hx::test {
namespace {

ResultsLogRow logRow(const std::string& animal, int day, int n, int sbp, int session) {
    ResultsLogRow r;
    r.dateTime = "2026-03-0" + std::to_string(day) + " 10:0" + std::to_string(n) + ":00";
    r.deviceId = 1;
    r.animalNo = animal;
    r.n = std::to_string(n);
    r.hr = "380";
    r.sbp = std::to_string(sbp);
    r.mbp = std::to_string(sbp - 20);
    r.dbp = std::to_string(sbp - 35);
    r.session = session;
    return r;
}

TEST(StudyWindows, OverviewShowsGroupsAndDaysAndTheAnimalsWindowGuardsDamagedRows) {
    ensureApplication();
    TempDir dir;
    CMemoryProfileStore store;
    int session = 0;
    for (int day = 1; day <= 2; ++day)
        for (const char* animal : {"1", "2", "9"}) {
            ++session;
            const int cycles = std::string(animal) == "2" && day == 2 ? 3 : 5;
            for (int n = 1; n <= cycles; ++n)
                ASSERT_EQ(appendResultsLog(dir.folder(), logRow(animal, day, n, 120 + day * 10, session)),
                          "");
        }
    {
        std::ofstream out(dir.path() / "animals.csv", std::ios::binary);
        out << "Animal No,Group,Sex,Date of birth,Notes\r\n1,Saline,,,\r\n2,Saline,,,\r\n";
    }
    QMainWindow frame;
    CStudyWindows windows(frame, [&] { return StudyPlace{dir.folder(), &store, 2, nullptr}; });
    CStudyOverview& overview = windows.showOverview();
    QTableWidget& t = overview.table();
    ASSERT_EQ(t.rowCount(), 5);  // Saline, 1, 2, (none), 9
    ASSERT_EQ(t.columnCount(), 3);
    EXPECT_EQ(t.item(0, 2)->text().toStdString(), "140.0 \u00B1 - (1)");
    EXPECT_EQ(t.item(2, 2)->text().toStdString(), "\u2717 140.0");
    EXPECT_NE(t.item(2, 2)->toolTip().indexOf(QStringLiteral("3 accepted cycles (at least 5)")), -1);
    EXPECT_EQ(t.item(3, 0)->text().toStdString(), "(none) (mean \u00B1 SEM)");
    EXPECT_NE(overview.ruleText().text().indexOf(QStringLiteral("200-800 per minute")), -1);  // TYPE 2: a rat

    overview.minCycles().setValue(3);
    EXPECT_EQ(loadStudyRules(store).minCycles, 3);
    EXPECT_EQ(overview.table().item(0, 2)->text().toStdString(), "140.0 \u00B1 0.0 (2)");
    overview.outlierMethod().setCurrentIndex(1);
    EXPECT_NE(overview.ruleText().text().indexOf(QStringLiteral("3.0 x scaled MAD")), -1);

    CAnimalsWindow& animals = windows.showAnimals();
    ASSERT_EQ(animals.table().rowCount(), 2);
    animals.table().setItem(1, 1, new QTableWidgetItem(QStringLiteral("Treated")));
    ASSERT_EQ(animals.save(true), "");
    std::string reason;
    EXPECT_EQ(readAnimals(dir.folder(), reason).groups().at("2"), "Treated");
    {
        std::ofstream out(dir.path() / "animals.csv", std::ios::binary | std::ios::app);
        out << "3,Saline,,,,,extra\r\n";
    }
    animals.reload();
    EXPECT_TRUE(animals.problems().isVisibleTo(&animals));
    EXPECT_NE(animals.save(true).find("line 4"), std::string::npos);
}

TEST(StudyWindows, SessionWindowChangesVerdictsByHandAndKeepsTheConditions) {
    ensureApplication();
    TempDir dir;
    CMemoryProfileStore store;
    CResultsSession session;
    session.load(dir.folder(), 1);
    for (int n = 1; n <= 5; ++n) session.record(dir.folder(), logRow("R1", 1, n, n == 5 ? 170 : 120 + n, 1));
    CSessionWindow window(session, store);
    EXPECT_EQ(window.table().item(4, 7)->text().toStdString(), "outlier");
    ASSERT_EQ(window.changeVerdict(4, "reading is sound"), "");
    ASSERT_EQ(window.changeVerdict(0, "movement"), "");
    EXPECT_EQ(window.table().item(4, 7)->text().toStdString(), "accepted by hand");
    EXPECT_EQ(window.table().item(0, 7)->text().toStdString(), "rejected by hand: movement");
    ASSERT_EQ(window.changeVerdict(0, "undo"), "");  // an undo is another change
    EXPECT_EQ(window.table().item(0, 7)->text().toStdString(), "accepted by hand");
    std::string reason;
    EXPECT_EQ(readReviewLog(dir.folder(), reason)->changes.size(), 3u);

    window.condition(0).setText(QStringLiteral("36.5"));
    window.condition(3).setText(QStringLiteral("K. Ito"));
    ASSERT_EQ(window.saveConditions(), "");
    const auto file = readSittings(dir.folder(), reason);
    EXPECT_EQ(file->latest.at({1, session.sessionNumber()}).operatorName, "K. Ito");
    window.condition(1).setText(QStringLiteral("hot"));
    EXPECT_NE(window.saveConditions(), "");
}

}  // namespace
}  // namespace hx::test
