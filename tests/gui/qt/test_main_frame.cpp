// The main window over the whole program in virtual time with simulated
// units: keys, command enabling, title and one measurement end to end.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileInfo>
#include <QScreen>
#include <QStatusBar>
#include <QTest>

#include "WindowTestRig.h"
#include "control/DisplayTexts.h"
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

// A held key repeats Up and Down only: a repeated Enter would flip the unit
// between starting and cancelling.
TEST_F(Window, AHeldKeyRepeatsOnlyUpAndDown) {
    CSimUnit& unit = rig.addUnit(0);
    start();
    ASSERT_TRUE(rig.waitReady());
    auto held = [&](Qt::Key key) {
        QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(&frame->wavePane(), &repeat);
        QCoreApplication::processEvents();
        rig.runFor(100);
    };
    // Start, menu (913), sweep speed (915) and the animal block read.
    auto commands = [&] {
        return unit.countRequests(1, 4) + unit.countRequests(1, 913) + unit.countRequests(1, 915) +
               unit.countRequests(12);
    };
    rig.runFor(3000);
    const int before = commands();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_M, Qt::Key_B, Qt::Key_S, Qt::Key_Space}) held(key);
    EXPECT_EQ(commands(), before);
    const int ups = unit.countRequests(1, 1), downs = unit.countRequests(1, 2);
    held(Qt::Key_Up);
    held(Qt::Key_Down);
    EXPECT_EQ(unit.countRequests(1, 1), ups + 1);
    EXPECT_EQ(unit.countRequests(1, 2), downs + 1);
}

// A result while another program is active leaves the keyboard there: the
// next key the user types must not drive the unit.
TEST_F(Window, AResultDoesNotTakeTheKeyboardFromAnotherWindow) {
    start();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    frame->uiPort().focusMainWindow();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), &other);

    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->historyPane().setFocus();
    frame->uiPort().focusMainWindow();
    EXPECT_TRUE(frame->wavePane().hasFocus());
}

// Status texts wider than their pane are elided with the whole text as the
// tooltip; at the smallest window the fixed panes still lie side by side.
TEST_F(Window, StatusPanesShowOrOfferTheirWholeText) {
    start();
    frame->setErrorPane(kDuplicateIdMessage);
    QCoreApplication::processEvents();
    EXPECT_EQ(frame->statusPane(4).shownText(), QString::fromLatin1(kDuplicateIdMessage));
    EXPECT_TRUE(frame->statusPane(4).toolTip().isEmpty());

    frame->resize(1, 1);  // the smallest the window can be
    QCoreApplication::processEvents();
    QRect previous;
    for (int i = 1; i < 5; ++i) {
        const QRect r = frame->statusPane(i).geometry();
        EXPECT_GE(r.width(), i == 2 ? 80 : 120) << i;
        if (i > 1) {
            EXPECT_GE(r.left(), previous.right()) << i;
        }
        previous = r;
    }
    EXPECT_LE(previous.right(), frame->statusBar()->width());
    frame->setAnimalPane("Animal No:12345678 and a note far wider than the pane");
    EXPECT_NE(frame->statusPane(1).shownText(), frame->statusPane(1).text());
    EXPECT_EQ(frame->statusPane(1).toolTip(), frame->statusPane(1).text());
    EXPECT_EQ(frame->statusPane(4).toolTip(), QString::fromLatin1(kDuplicateIdMessage));
}

TEST_F(Window, ARectangleOffTheScreenIsBroughtBack) {
    start();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    MonitorValues& kept = rig.doc().preference().monitor();
    kept.frameLeft = screen.right() - 100;
    kept.frameTop = screen.bottom() - 60;
    kept.frameRight = kept.frameLeft + 500;
    kept.frameBottom = kept.frameTop + 300;
    CMainFrame partly(rig.loop);
    partly.attach(rig.doc(), rig.controller());
    EXPECT_EQ(partly.geometry().size(), QSize(500, 300));
    EXPECT_TRUE(screen.contains(partly.geometry()));

    kept.frameLeft = screen.right() + 3000;  // a monitor since removed
    kept.frameRight = kept.frameLeft + 500;
    CMainFrame gone(rig.loop);
    const QRect before = gone.geometry();
    gone.attach(rig.doc(), rig.controller());
    EXPECT_EQ(gone.geometry(), before);
}

TEST_F(Window, RectangleIsKeptFromOneRunToTheNext) {
    start();
    frame->setGeometry(60, 80, 640, 480);
    rig.shell->shutDown(frame->frameRect());
    const MonitorValues& kept = rig.doc().preference().monitor();
    EXPECT_EQ(kept.frameLeft, 60);
    EXPECT_EQ(kept.frameTop, 80);
    EXPECT_EQ(kept.frameRight, 700);
    EXPECT_EQ(kept.frameBottom, 560);

    CMainFrame next(rig.loop);
    next.attach(rig.doc(), rig.controller());
    EXPECT_EQ(next.geometry(), QRect(60, 80, 640, 480));
}

}  // namespace
}  // namespace hx::test
