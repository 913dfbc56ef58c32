// The main window over the whole program in virtual time with simulated
// units: keys, command enabling, title and one measurement end to end.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileInfo>
#include <QTest>

#include "WindowTestRig.h"
#include "gui/views/CHistoryView.h"
#include "gui/views/CInformationView.h"
#include "gui/views/CResultView.h"
#include "gui/views/CWaveView.h"

namespace hx::test {
namespace {

class Window : public WindowTest {
  protected:
    void start() { startWindow(1280, 800); }
    // A key in a pane; its command runs when the window's events are handled.
    void press(QWidget& pane, Qt::Key key) {
        QTest::keyClick(&pane, key);
        QCoreApplication::processEvents();
        rig.runFor(100);
    }
};

TEST_F(Window, CommandsAreDisabledWithoutAUnit) {
    start();
    rig.runFor(3000);
    frame->setGeneralPane("unchanged");
    press(frame->historyPane(), Qt::Key_Return);
    EXPECT_EQ(frame->statusPane(0).text(), "unchanged");
    for (int id : {kCmdStart, kCmdUp, kCmdDown, kCmdMenu, kCmdAnimal, kCmdSweepSpeed}) {
        EXPECT_FALSE(frame->action(id)->isEnabled()) << id;
        EXPECT_FALSE(frame->action(id)->icon().pixmap(24, 24).isNull()) << "icon of " << id;
    }
    EXPECT_TRUE(frame->action(kCmdAbout)->isEnabled());
    EXPECT_EQ(frame->windowTitle(), "Halnor40KU (Not Connected)->1");
}

TEST_F(Window, PaneKeysReachTheirCommandsAndTheTitleNamesTheUnit) {
    CSimUnit& unit = rig.addUnit(2);
    start();
    ASSERT_TRUE(rig.waitReady());
    EXPECT_EQ(frame->windowTitle(), "Halnor40KU (Connected)->3");
    EXPECT_TRUE(frame->action(kCmdStart)->isEnabled());

    const int ups = unit.countRequests(1, 1);
    press(frame->informationPane(), Qt::Key_Up);
    EXPECT_EQ(unit.countRequests(1, 1), ups + 1);

    const int downs = unit.countRequests(1, 2);
    press(frame->historyPane(), Qt::Key_Down);
    EXPECT_EQ(unit.countRequests(1, 2), downs + 1);

    const int animalReads = unit.countRequests(12);
    press(frame->wavePane(), Qt::Key_B);
    EXPECT_EQ(unit.countRequests(12), animalReads + 1);
    rig.runFor(3000);
    press(frame->historyPane(), Qt::Key_B);  // B acts in every pane
    EXPECT_EQ(unit.countRequests(12), animalReads + 2);

    // While the unit records, the sweep-speed key does nothing; Up still acts.
    press(frame->wavePane(), Qt::Key_Return);
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller().unitState() == kStateRecord; }, 60000));
    frame->updateCommandEnabling();
    EXPECT_FALSE(frame->action(kCmdSweepSpeed)->isEnabled());
    const int sweeps = unit.countRequests(1, 915);
    const int width = frame->wavePane().sweepWidth();
    press(frame->wavePane(), Qt::Key_S);
    EXPECT_EQ(unit.countRequests(1, 915), sweeps);
    EXPECT_EQ(frame->wavePane().sweepWidth(), width);
    const int upsWhileRecording = unit.countRequests(1, 1);
    press(frame->wavePane(), Qt::Key_Up);
    EXPECT_EQ(unit.countRequests(1, 1), upsWhileRecording + 1);
}

TEST_F(Window, AMeasurementEndsInTheGraphLayoutWithEnvelopeRowAndFile) {
    rig.addUnit(0);
    start();
    ASSERT_TRUE(rig.waitReady());
    rig.runFor(2000);
    EXPECT_GT(countColour(frame->wavePane().picture(), frame->wavePane().rect(), QColor(0, 0, 255)), 100);

    press(frame->wavePane(), Qt::Key_Return);
    ASSERT_TRUE(rig.runUntil([&] { return frame->historyPane().rows().rowCount() == 1; }, 180000));
    EXPECT_EQ(frame->layoutMode(), kLayoutGraph);
    EXPECT_EQ(frame->resultsHandled(), 1);
    EXPECT_TRUE(frame->resultPane().isVisible());
    EXPECT_FALSE(frame->wavePane().isVisible());

    // The envelope: every column where the analysis has a value shows the
    // wave colour at the curve's height (the wave trace alone would not).
    const COscillometricAnalysis& analysis = rig.controller().analysis();
    ASSERT_TRUE(analysis.hasCurve());
    const CResultView& pane = frame->resultPane();
    const QImage& picture = pane.picture();
    const int c = pane.waveBaseline();
    int columns = 0, hits = 0;
    for (int s = 0; s < 4000; s += 7) {
        const std::int16_t v = analysis.envelope()[static_cast<std::size_t>(s)];
        if (v == COscillometricAnalysis::kNoValue) continue;
        const int x = pane.width() * s / pane.span();
        const int y = c - (v * c) / 1024;
        ++columns;
        if (countColour(picture, QRect(x - 1, y - 1, 3, 3), QColor(0, 0, 255)) > 0) ++hits;
    }
    ASSERT_GT(columns, 50);
    EXPECT_EQ(hits, columns);

    const CHistoryModel& rows = frame->historyPane().rows();
    EXPECT_EQ(rows.data(rows.index(0, 0), Qt::DisplayRole).toString(), "1");
    const std::string path = rig.controller().lastDataFile();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(path)));
}

TEST_F(Window, RectangleIsKeptFromOneRunToTheNext) {
    start();
    frame->setGeometry(100, 120, 900, 600);
    rig.shell->shutDown(frame->frameRect());
    const MonitorValues& kept = rig.doc().preference().monitor();
    EXPECT_EQ(kept.frameLeft, 100);
    EXPECT_EQ(kept.frameTop, 120);
    EXPECT_EQ(kept.frameRight, 1000);
    EXPECT_EQ(kept.frameBottom, 720);

    CMainFrame next(rig.loop);
    next.attach(rig.doc(), rig.controller());
    EXPECT_EQ(next.geometry(), QRect(100, 120, 900, 600));
}

}  // namespace
}  // namespace hx::test
