// The unit's own keys and the commands of the window, followed end to end.

#include <gtest/gtest.h>

#include "ControlRig.h"
#include "control/PaneKeys.h"

namespace hx::test {
namespace {

class UnitKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        unit = &rig.addUnit(0);
        rig.start();
        ASSERT_TRUE(rig.waitReady());
        rig.runFor(1000);
    }
    ControlRig rig;
    CSimUnit* unit = nullptr;
};

TEST_F(UnitKeys, StartKeyOnTheUnitGivesAHandledResult) {
    unit->pressKey(4);
    ASSERT_TRUE(rig.runUntil([&] { return !rig.ui.results.empty(); }, 180000));
    EXPECT_EQ(rig.ui.results[0].errorCode, 0);
    EXPECT_EQ(rig.ui.history.size(), 1u);
}

TEST_F(UnitKeys, ClosingTheUnitsMenuReadsTheMenuAgain) {
    unit->pressMenuKey();
    ASSERT_TRUE(rig.runUntil([&] { return rig.ui.statePane == "Menu"; }, 5000));
    SimMenu changed = unit->menu();
    changed[MenuSettings::kPress] = 12;
    unit->setMenu(changed);
    int menuReads = unit->countRequests(kRequestGetMenu);
    unit->pressKey(4);  // the enter key closes the menu
    ASSERT_TRUE(rig.runUntil([&] { return unit->countRequests(kRequestGetMenu) > menuReads; }, 5000));
    rig.runFor(100);
    EXPECT_EQ(rig.doc().menuSettings()[MenuSettings::kPress], 12);
}

TEST_F(UnitKeys, AnimalEntryOnTheUnitUpdatesTheAnimalPane) {
    unit->pressAnimalKey();
    ASSERT_TRUE(rig.runUntil([&] { return rig.ui.statePane == "Animal"; }, 5000));
    unit->enterAnimalNumber("77");
    ASSERT_TRUE(rig.runUntil([&] { return rig.ui.animalPane == "Animal No:77"; }, 5000));
    EXPECT_EQ(rig.doc().preference().animal().animalNo, "77");
}

TEST_F(UnitKeys, CommandsFollowTheUnitState) {
    // Up and Down go to the unit as keys; the sweep speed is refused while measuring.
    int ups = unit->countRequests(kRequestCommand, kUnitKeyUp);
    rig.command(kCmdUp);
    EXPECT_EQ(unit->countRequests(kRequestCommand, kUnitKeyUp), ups + 1);
    rig.command(kCmdStart);
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller().unitState() == kStateRecord; }, 30000));
    EXPECT_FALSE(rig.controller().commandEnabled(kCmdSweepSpeed));
    EXPECT_TRUE(rig.controller().commandEnabled(kCmdUp));
    int restarts = unit->countRequests(kRequestCommand, CR_RESTARTVIEW);
    rig.command(kCmdSweepSpeed);
    EXPECT_EQ(unit->countRequests(kRequestCommand, CR_RESTARTVIEW), restarts);
    rig.command(kCmdUp);
    EXPECT_EQ(unit->countRequests(kRequestCommand, kUnitKeyUp), ups + 2);
}

TEST(PaneKeys, LettersActInEitherCaseAndOtherKeysKeepTheirHandling) {
    // The window reports letters in upper case; other front ends may not.
    for (int key : {'m', 'M'}) EXPECT_EQ(paneKey(key).command, kCmdMenu);
    for (int key : {'b', 'B'}) EXPECT_EQ(paneKey(key).command, kCmdAnimal);
    for (int key : {'s', 'S', ' '}) EXPECT_EQ(paneKey(key).command, kCmdSweepSpeed);
    EXPECT_EQ(paneKey('\n').command, kCmdStart);
    for (int key : {int{'a'}, int{'x'}, int{'\t'}, 0x1003}) EXPECT_EQ(paneKey(key).command, 0) << key;
}

TEST_F(UnitKeys, AnimalCommandSendsTheAcceptedTexts) {
    AnimalTexts texts;
    texts.animalNo = "1234";
    texts.comment = "rat in cage four";
    rig.ui.animalAnswer = std::make_pair(texts, rig.dir.folder() + "animals/");
    rig.command(kCmdAnimal);
    rig.runFor(100);
    EXPECT_EQ(rig.ui.animalDialogs, 2);
    // The unit keeps what fits its block; the profile keeps the texts and folder.
    EXPECT_EQ(unit->animalInfo().comment, "rat in cage four");
    EXPECT_EQ(rig.profile.readText("HalnorEWU_1", "ID_NO", ""), "1234");
    EXPECT_EQ(rig.profile.readText("HalnorEWU_1", "dataFolder", ""), rig.dir.folder() + "animals/");
    EXPECT_TRUE(std::filesystem::is_directory(rig.dir.path() / "animals"));
    EXPECT_EQ(rig.ui.animalPane, "Animal No:1234");
}

TEST_F(UnitKeys, CancelledAnimalDialogKeepsTheProfile) {
    rig.ui.animalOk = false;
    std::string before = rig.profile.readText("HalnorEWU_1", "ID_NO", "unset");
    rig.command(kCmdAnimal);
    rig.runFor(100);
    EXPECT_EQ(rig.profile.readText("HalnorEWU_1", "ID_NO", "unset"), before);
}

TEST_F(UnitKeys, MenuCommandSendsTheEditedSettingsAndMayOpenTheClock) {
    rig.ui.menuOk = true;
    rig.ui.menuEdit = [](MenuSettings& m) {
        m[MenuSettings::kSense] = 4;
        m[MenuSettings::kTime] = 1;
    };
    rig.command(kCmdMenu);
    EXPECT_EQ(unit->menu()[MenuSettings::kSense], 4);
    EXPECT_EQ(rig.ui.clockDialogs, 1);
    EXPECT_EQ(rig.doc().menuSettings()[MenuSettings::kSense], 4);
}

TEST_F(UnitKeys, ClockDialogShowsTheUnitClockAndSetsIt) {
    std::array<std::string, 2> lines;
    rig.ui.duringClock = [&](ClockDialogModel& model) {
        model.setClockRequested();
        std::time_t now = rig.clock.wallTime();
        std::tm local{};
        localtime_r(&now, &local);
        lines = clockDialogLines(local, model.unitTime);
    };
    rig.command(kCmdClock);
    ASSERT_EQ(rig.ui.clockDialogs, 1);
    // Set from the PC clock, the unit line shows the PC's time.
    EXPECT_EQ(lines[0].substr(7), lines[1].substr(7));
    EXPECT_FALSE(rig.loop.timerRunning(kTimerClock));
}

}  // namespace
}  // namespace hx::test
