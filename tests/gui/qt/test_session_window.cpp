// The session statistics window: what it shows is what the core computes, its
// settings go to the profile, and a result in the running program reaches it.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "GuiTestSupport.h"
#include "control/ControlRig.h"
#include "gui/CMainFrame.h"
#include "gui/CSessionWindow.h"
#include "gui/dialogs/CAnimalIdDialog.h"
#include "gui/views/CHistoryView.h"

namespace hx::test {
namespace {

ResultsLogRow logRow(int n, int sbp, int error = 0) {
    ResultsLogRow r;
    r.dateTime = "2026-12-08 09:" + std::string(n < 10 ? "0" : "") + std::to_string(n) + ":00";
    r.deviceId = 1;
    r.animalNo = "R-07";
    r.n = std::to_string(n);
    r.hr = std::to_string(340 + n % 7);
    r.sbp = error ? "---" : std::to_string(sbp);
    r.mbp = error ? "---" : std::to_string(sbp - 22);
    r.dbp = error ? "---" : std::to_string(sbp - 38);
    r.errorCode = error;
    r.errorText = resultErrorName(error);
    return r;
}

std::string cellText(QTableWidget& t, int row, int column) {
    return t.item(row, column)->text().toStdString();
}

TEST(SessionWindow, ShowsTheCoresStatisticsAndKeepsItsSettings) {
    ensureApplication();
    TempDir dir;
    CMemoryProfileStore store;
    CResultsSession session;
    session.load(dir.folder(), 1);
    const int sbp[] = {150, 141, 128, 131, 126, 129, 0, 130, 127, 168, 132};
    for (int i = 0; i < 11; ++i) session.record(dir.folder(), logRow(i + 1, sbp[i], sbp[i] ? 0 : 16));

    CSessionWindow window(session, store);
    window.acclimation().setValue(2);
    EXPECT_EQ(loadSessionSettings(store).acclimation, 2);
    const SessionStats expected = computeSessionStats(window.stats().cycles, {2, true, 3.0});
    ASSERT_EQ(window.table().rowCount(), 11);
    EXPECT_EQ(cellText(window.table(), 0, 7), "acclimation");
    EXPECT_EQ(cellText(window.table(), 6, 7), "Lo");
    EXPECT_EQ(cellText(window.table(), 9, 7), "outlier");
    EXPECT_EQ(cellText(window.table(), 10, 7), "accepted");
    EXPECT_EQ(cellText(window.summary(), kSbp, 0), std::to_string(expected.summary[kSbp].n));
    EXPECT_EQ(cellText(window.summary(), kSbp, 1), meanSdText(expected.summary[kSbp]));
    EXPECT_EQ(cellText(window.summary(), kHr, 2), rangeText(expected.summary[kHr]));

    // A result arriving while the window is open shows at once.
    session.record(dir.folder(), logRow(12, 129));
    EXPECT_EQ(window.table().rowCount(), 12);

    const QString exported = QString::fromStdString((dir.path() / "session.csv").string());
    ASSERT_TRUE(window.exportCsv(exported));
    QFile file(exported);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), formatSessionCsv(window.stats(), true));

    window.newSessionButton().click();
    EXPECT_EQ(window.table().rowCount(), 0);
    EXPECT_EQ(cellText(window.summary(), kSbp, 1), "-");

    // A picture for people: HX40K_PICTURE_LOG names a data folder whose log's
    // last session is shown, HX40K_PICTURE_DIR where the picture goes.
    const char* pictureLog = std::getenv("HX40K_PICTURE_LOG");
    const char* pictureDir = std::getenv("HX40K_PICTURE_DIR");
    if (pictureLog && pictureDir) {
        CResultsSession shown;
        shown.load(pictureLog, 1);
        CMemoryProfileStore defaults;
        CSessionWindow picture(shown, defaults);
        picture.acclimation().setValue(3);
        picture.resize(1180, 620);
        picture.show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(picture.grab().save(QString::fromLatin1(pictureDir) + "/session-statistics.png"));
    }
}

TEST(SessionWindow, OpensFromTheViewMenuAndFollowsTheProgramsResults) {
    ensureApplication();
    ControlRig rig;
    CMainFrame frame(rig.loop);
    rig.ports.ui = &frame.uiPort();
    // The Animal ID dialog the program opens after connecting is cancelled.
    ModalAnswerer<CAnimalIdDialog> animalAnswer{[&](CAnimalIdDialog& dialog) {
        rig.runFor(500);
        dialog.reject();
    }};
    rig.addUnit(0);
    rig.start();
    frame.attach(rig.doc(), rig.controller());
    ASSERT_TRUE(rig.waitReady());
    frame.action(kCmdSessionStatistics)->trigger();
    ASSERT_NE(frame.sessionWindow(), nullptr);
    CSessionWindow& window = *frame.sessionWindow();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.table().rowCount(), 0);

    rig.command(kCmdStart);
    const bool arrived = rig.runUntil([&] { return window.table().rowCount() == 1; }, 180000);
    if (arrived && frame.historyPane().rows().rowCount() == 1) {
        const CHistoryModel& rows = frame.historyPane().rows();
        for (int column : {1, 2, 3, 4})  // HR, SBP, MBP, DBP: the history's and the window's agree
            EXPECT_EQ(rows.data(rows.index(0, column), Qt::DisplayRole).toString().toStdString(),
                      cellText(window.table(), 0, column + 2));
    }
    rig.stop();
    EXPECT_TRUE(arrived);
}

}  // namespace
}  // namespace hx::test
