// The settings dialogs as the program shows them: the main window over the
// whole program in virtual time with a simulated unit, the dialogs driven
// through their widgets. With HX40K_PICTURES set to a folder, each flow also
// saves a picture of the screen while its dialog shows (run under a display).

#include <gtest/gtest.h>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "WindowTestRig.h"
#include "gui/dialogs/CAnimalIdDialog.h"
#include "gui/dialogs/CClockDialog.h"
#include "gui/dialogs/CMenuDialog.h"
#include "gui/dialogs/CMonitorDialog.h"
#include "gui/dialogs/CTimerModeDialog.h"
#include "gui/views/CWaveView.h"

namespace hx::test {
namespace {

class DialogFlows : public WindowTest {
  protected:
    void start(CSimUnit*& unit, SimUnitOptions options = {}) {
        unit = &rig.addUnit(0, options);
        startWindow(1000, 620);
        frame->move(0, 0);
    }
    void command(int id) { frame->action(id)->trigger(); }
    CAnimalIdDialog& animalDialog() { return frame->windowDialogs().animalDialog(); }
    // A picture of the main window with the dialog that shows, for people to
    // look at, when asked for and a display is there.
    void picture(const char* name) {
        const QByteArray folder = qgetenv("HX40K_PICTURES");
        if (folder.isEmpty() || QGuiApplication::platformName() == QLatin1String("offscreen")) return;
        QTest::qWait(300);  // let every window paint
        QRect area = frame->frameGeometry();
        if (QWidget* dialog = QApplication::activeModalWidget()) area |= dialog->frameGeometry();
        QGuiApplication::primaryScreen()
            ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
            .save(QString::fromLocal8Bit(folder) + "/" + name);
    }
};

TEST_F(DialogFlows, AnimalIdAfterConnectingShowsTheUnitsBlockAndSendsTheEdit) {
    answerAnimal = false;
    SimUnitOptions options;
    options.animal = {"RAT0042", "S-7/B", "312g", "M 8w", "fasted since 8"};
    CSimUnit* unit = nullptr;
    whenModal<CAnimalIdDialog>([&](CAnimalIdDialog* dialog) {
        rig.runFor(1000);  // the unit's animal block arrives while the dialog shows
        EXPECT_EQ(dialog->windowTitle(), "Halnor40KU: ID->1");
        EXPECT_EQ(dialog->field(AnimalField::kAnimalNo)->text(), "RAT0042");
        EXPECT_EQ(dialog->field(AnimalField::kComment)->text(), "fasted since 8");
        EXPECT_EQ(dialog->field(AnimalField::kDataFolder)->text().toStdString(), rig.dir.folder() + "data/");
        QLineEdit* weight = dialog->field(AnimalField::kWeight);
        weight->selectAll();
        QTest::keyClicks(weight, "325g;");
        picture("dialog-animal-id-long.png");
        dialog->accept();
    });
    start(unit, options);
    ASSERT_TRUE(rig.waitReady());
    EXPECT_EQ(unit->animalInfo().weight, "325g") << "the edit reached the unit";
    EXPECT_EQ(rig.profile.readText("HalnorEWU_1", "WEIGHT", ""), "325g");
    EXPECT_EQ(frame->statusPane(1).text(), "Animal No:RAT0042");
}

TEST_F(DialogFlows, ShortFormAnimalIdEndsWhenTheUnitIsLost) {
    answerAnimal = false;
    SimUnitOptions options;
    options.versionText = "HX-40K V1.00";  // short animal numbers
    options.animal = {"7", "12", "", "", ""};
    CSimUnit* unit = nullptr;
    bool checked = false;
    whenModal<CAnimalIdDialog>([&](CAnimalIdDialog* dialog) {
        rig.runFor(1000);
        QLineEdit* number = dialog->field(AnimalField::kAnimalNo);
        number->setFocus();
        number->end(false);
        QTest::keyClicks(number, "A89");
        EXPECT_EQ(number->text(), "789") << "digits only, three at most";
        picture("dialog-animal-id-short.png");
        rig.sim.unplug(*unit);
        rig.settleUntil([&] { return !dialog->isVisible(); }, 5000);
        checked = true;
    });
    start(unit, options);
    ASSERT_TRUE(rig.settleUntil([&] { return checked && !rig.controller().animalDialogRunning(); }, 20000));
    EXPECT_FALSE(animalDialog().isVisible());
    EXPECT_EQ(rig.profile.readText("HalnorEWU_1", "ID_NO", "none"), "none")
        << "ended with Cancel: nothing stored";
}

TEST_F(DialogFlows, MenuWithTimeOnOpensTheClockDialog) {
    CSimUnit* unit = nullptr;
    start(unit);
    ASSERT_TRUE(rig.waitReady());
    const int setTimes = unit->countRequests(kSimReqSetTime);
    whenModal<CMenuDialog>([&](CMenuDialog* menu) {
        EXPECT_EQ(menu->pressText()->text(), "180");
        QTest::keyClick(menu->pressSlider(), Qt::Key_Right);
        menu->box(MenuSettings::kTime)->click();
        picture("dialog-menu.png");
        whenModal<CClockDialog>([&](CClockDialog* clock) {
            rig.runFor(1500);  // the unit's clock is read once a second
            EXPECT_EQ(clock->lines()[1].substr(0, 7), "HX-40K:");
            clock->setClockButton()->click();
            clock->update();
            picture("dialog-clock.png");
            clock->accept();
        });
        menu->accept();
    });
    command(kCmdMenu);
    EXPECT_EQ(unit->menu()[MenuSettings::kPress], 9);
    EXPECT_EQ(unit->menu()[MenuSettings::kTime], 1);
    EXPECT_EQ(unit->countRequests(kSimReqSetTime), setTimes + 1);
    EXPECT_FALSE(rig.controller().clockDialogRunning());
}

TEST_F(DialogFlows, MonitorColoursReachTheWavePane) {
    CSimUnit* unit = nullptr;
    start(unit);
    ASSERT_TRUE(rig.waitReady());
    whenModal<CMonitorDialog>([&](CMonitorDialog* monitor) {
        monitor->backgroundGroup()->button(1)->click();          // Black
        QTest::keyClick(monitor->waveColorList(), Qt::Key_End);  // Yellow
        picture("dialog-monitor.png");
        monitor->accept();
    });
    command(kCmdMonitor);
    EXPECT_EQ(rig.profile.readInt("HalnorEWU_1", "backColorNo", -9), 1);
    EXPECT_EQ(rig.profile.readInt("HalnorEWU_1", "waveColor", -9), 0x00FFFF);
    rig.runFor(3000);
    CWaveView& wave = frame->wavePane();
    wave.flushPending();
    const QRect area = wave.rect();
    EXPECT_GT(countColour(wave.picture(), area, QColor(255, 255, 0)), 100) << "the wave in yellow";
    EXPECT_GT(countColour(wave.picture(), area, QColor(0, 0, 0)), area.width() * area.height() / 2);
}

TEST_F(DialogFlows, TimerModeHandsItsRowsToTheSchedule) {
    CSimUnit* unit = nullptr;
    start(unit);
    ASSERT_TRUE(rig.waitReady());
    rig.doc().timerSchedule().setEntries(std::vector<std::int32_t>{60, 120, -300});
    whenModal<CTimerModeDialog>([&](CTimerModeDialog* timer) {
        QApplication::setActiveWindow(timer);  // focus changes need an active window offscreen
        EXPECT_EQ(timer->timeField(2)->text(), "00:08:00*");
        QLineEdit* fourth = timer->intervalField(2);
        fourth->setFocus();
        fourth->selectAll();
        QTest::keyClicks(fourth, "10:00");
        QTest::keyClick(fourth, Qt::Key_Return);
        timer->intervalField(3)->setFocus();
        QTest::keyClicks(timer->intervalField(3), "-15:00");
        timer->timeField(0)->setFocus();
        picture("dialog-timer-mode.png");
        timer->accept();
    });
    command(kCmdTimer);
    EXPECT_EQ(rig.doc().timerSchedule().intervals(), (std::vector<std::int32_t>{60, 120, 600}));
    EXPECT_EQ(rig.doc().timerSchedule().repeatPeriod(), 900);
}

}  // namespace
}  // namespace hx::test
