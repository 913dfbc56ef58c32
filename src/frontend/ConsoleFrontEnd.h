#pragma once
// The console front end of halnor40ku: the same shell, driver and event loop
// as the window, with a UI port that prints what the window would show and
// answers its dialogs from the options. Runs on the main thread after the
// QCoreApplication exists; returns the exit status.

#include <optional>
#include <string>

#include "control/EventLoop.h"
#include "control/VirtualEventLoop.h"
#include "headless/ConsoleUi.h"
#include "headless/HeadlessSession.h"
#include "usb/UnitDriver.h"

namespace hx {

struct ConsoleOptions {
    ConsoleAnswers answers;   // the Animal ID dialog's answers and the data folder
    SessionGoals goals;       // measurements, timer series, connect time-out
    int presetDeviceId = -1;  // zero-based; -1: choose as usual
    bool allUnits = false;    // a channel per attached unit, all at once
};

class CQSettingsProfileStore;

// Prints once what is wrong with the profile (damaged, not a file, cannot be
// written) as "warning:" lines; the console leaves the file as it is.
void printProfileProblems(const CQSettingsProfileStore& profile, CConsoleUi& ui);

// virtualLoop: the loop itself when the run is in virtual time (--fast), else null.
int runConsoleFrontEnd(IUnitDriver& driver, IClock& receiverClock, IEventLoop& loop,
                       CVirtualEventLoop* virtualLoop, const ConsoleOptions& options);

}  // namespace hx
