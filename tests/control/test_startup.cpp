// Start-up and the connection sequence, end to end against simulated units.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ControlRig.h"

namespace hx::test {
namespace {

// The (request, value) pairs of control requests in the order the unit saw them.
std::vector<std::pair<int, int>> controlOrder(const CSimUnit& unit) {
    std::vector<std::pair<int, int>> order;
    for (const SimRequest& r : unit.requestLog()) order.emplace_back(r.request, r.value);
    return order;
}

bool containsInOrder(const std::vector<std::pair<int, int>>& seen,
                     const std::vector<std::pair<int, int>>& wanted) {
    std::size_t next = 0;
    for (const auto& s : seen)
        if (next < wanted.size() && s == wanted[next]) ++next;
    return next == wanted.size();
}

TEST(StartUp, ConnectsSetsUpAndBringsTheUnitToView) {
    LogCapture log;
    ControlRig rig;
    CSimUnit& unit = rig.addUnit(0);
    rig.start();
    EXPECT_EQ(rig.ui.title(), "Halnor40KU (Not Connected)->1");

    ASSERT_TRUE(rig.waitReady());
    rig.runFor(600);  // one state poll
    EXPECT_EQ(rig.ui.title(), "Halnor40KU (Connected)->1");
    EXPECT_EQ(rig.ui.versionPane, unit.versionText());
    EXPECT_EQ(rig.shell->app().deviceVersionText(), unit.versionText());
    EXPECT_EQ(unit.pcVersionText(), softwareVersionText());
    EXPECT_EQ(rig.ui.animalDialogs, 1);
    EXPECT_EQ(rig.ui.statePane, "View");
    EXPECT_EQ(rig.shell->controlSocket()->property(), 272);

    // 254 on opening, the version request, then the set-up's commands in order.
    EXPECT_TRUE(containsInOrder(controlOrder(unit), {{kRequestCommand, kUnitCommand254},
                                                     {kRequestGetDeviceVer, 0},
                                                     {kRequestCommand, CR_RESTARTVIEW},
                                                     {kRequestCommand, CR_VIEW},
                                                     {kRequestGetMenu, 0},
                                                     {kRequestCommand, CR_VIEW},
                                                     {kRequestGetAnimalInfo, 0},
                                                     {kRequestCommand, CR_RESTARTVIEW},
                                                     {kRequestCommand, CR_VIEW}}));
    EXPECT_EQ(log.count("Mark readHXVer :1"), 1);
    EXPECT_EQ(log.count("Timer:Open dev. Result:0, ID:0"), 1);
    EXPECT_EQ(log.count("WM_ENUM_DEVICE: eunmdev:0"), 1);
}

TEST(StartUp, UnitInAdjustAtSetUpGetsNeitherClockNorAnimalDialog) {
    ControlRig rig;
    SimUnitOptions options;
    options.adjustMs = 20000;  // still adjusting when the set-up runs
    options.menu[MenuSettings::kTime] = 1;
    rig.addUnit(0, options);
    rig.start();
    ASSERT_TRUE(rig.runUntil([&] { return rig.loop.timerRunning(kTimerStatePoll); }));
    EXPECT_EQ(rig.ui.animalDialogs, 0);
    EXPECT_EQ(rig.ui.clockDialogs, 0);
    // Later the unit reaches View and the program follows it.
    ASSERT_TRUE(rig.waitReady(60000));
}

TEST(StartUp, TimeMenuSettingOpensTheClockDialogDuringSetUp) {
    ControlRig rig;
    SimUnitOptions options;
    options.menu[MenuSettings::kTime] = 1;
    CSimUnit& unit = rig.addUnit(0, options);
    rig.ui.duringClock = [&](ClockDialogModel& model) { model.setClockRequested(); };
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    EXPECT_EQ(rig.ui.clockDialogs, 1);
    EXPECT_EQ(unit.countRequests(kRequestSetTime), 1);  // the clock was set from the PC clock
    std::time_t pc = rig.clock.wallTime();
    EXPECT_LE(std::llabs(static_cast<long long>(unit.unitTime() - pc)), 2 * 3600 * 24);
}

TEST(ShutDown, TheReceiverStopIsLoggedOnceAndTheCompanionIsReaped) {
    // Before: "stop thread! " came twice at every shutdown, and the companion
    // program stayed a zombie for as long as the program ran.
    LogCapture log;
    ControlRig rig;
    rig.addUnit(0);
    const std::string companion = rig.dir.folder() + "Tavrilo.exe";
    std::ofstream(companion) << "#!/bin/sh\nexit 0\n";
    std::filesystem::permissions(companion, std::filesystem::perms::owner_all);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(rig.dir.folder());
    rig.ports.startCompanion = true;
    rig.start();
    std::filesystem::current_path(previous);
    ASSERT_TRUE(rig.waitReady());
    const long pid = rig.shell->companionPid();
    ASSERT_GT(pid, 0);
    const std::string proc = "/proc/" + std::to_string(pid);
    for (int i = 0; i < 200 && std::filesystem::exists(proc); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    EXPECT_FALSE(std::filesystem::exists(proc)) << "the ended companion is still a process (a zombie)";

    rig.stop();
    EXPECT_EQ(log.count("stop thread! "), 1);
}

TEST(StartUp, WithoutUnitsTheConnectionTimerDoesNothing) {
    LogCapture log;
    ControlRig rig;
    rig.start();
    rig.runFor(10000);
    EXPECT_FALSE(rig.controller().connected());
    EXPECT_EQ(rig.ui.title(), "Halnor40KU (Not Connected)->1");
    for (const std::string& line : log.lines()) EXPECT_EQ(line.find("Timer:Open dev."), std::string::npos);
}

}  // namespace
}  // namespace hx::test
