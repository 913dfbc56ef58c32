// The console front end in virtual time against a simulated unit, in process.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/VirtualClock.h"
#include "control/ApplicationShell.h"
#include "control/VirtualEventLoop.h"
#include "headless/ConsoleUi.h"
#include "headless/HeadlessSession.h"
#include "settings/ProfileStore.h"
#include "sim/SimDriver.h"
#include "sim/SimUnit.h"
#include "support/SimulatedPorts.h"
#include "support/TempDir.h"

namespace hx::test {
namespace {

// A unit still adjusting when the program sets up skips the Animal ID dialog
// there; the texts given on the command line must reach it all the same.
TEST(ConsoleSession, AnimalTextsReachAUnitThatWasAdjustingAtSetUp) {
    TempDir dir;
    CVirtualClock clock;
    CSimDriver sim(clock);
    SimUnitOptions unit;
    unit.adjustMs = 8000;  // still adjusting when the connection is set up
    CSimUnit& simUnit = sim.addUnit(0, unit);
    CVirtualEventLoop loop(clock);
    ConsoleAnswers answers;
    answers.animalNo = "42";
    answers.comment = "cage 7";
    answers.dataFolder = dir.folder() + "data/";
    std::FILE* out = std::tmpfile();
    CConsoleUi ui(loop, answers, out);
    CMemoryProfileStore profile;
    ShellPorts ports(test::simulatedPorts(loop, profile, sim, clock, dir.folder()), &ui);
    auto shell = std::make_unique<CApplicationShell>(ports);
    ASSERT_TRUE(shell->startUp());
    shell->document().preference().setDataFolder(*answers.dataFolder);

    std::string savedPath;
    SessionGoals goals;
    goals.measurements = 1;
    CHeadlessSession session(*shell, loop, ui, goals);
    ASSERT_TRUE(session.begin());
    ui.onResult = [&, inner = ui.onResult](const HistoryRow& row, int code, const std::string& path) {
        savedPath = path;
        inner(row, code, path);
    };
    const int status = loop.run();
    loop.setTarget(&shell->controller());
    shell->shutDown();
    std::fclose(out);

    EXPECT_EQ(status, 0);
    EXPECT_EQ(simUnit.animalInfo().animalNumber, "42");
    EXPECT_EQ(simUnit.animalInfo().comment, "cage 7");
    EXPECT_EQ(std::filesystem::path(savedPath).extension(), ".042") << savedPath;
}

}  // namespace
}  // namespace hx::test
