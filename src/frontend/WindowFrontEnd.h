#pragma once
// The window front end of halnor40ku: the main window over the same shell,
// driver and event loop as the console front end. Runs on the UI thread after
// the QApplication exists; returns the exit status.

#include <optional>
#include <string>

#include "control/EventLoop.h"
#include "usb/UnitDriver.h"

namespace hx {

struct WindowOptions {
    std::optional<std::string> dataFolder;  // ends with "/"
    int presetDeviceId = -1;                // zero-based; -1: choose as usual
    std::string screenshotFile;             // save a picture of the window, then end
    int screenshotAfterS = 5;
    int measurements = 0;   // start this many measurements one after another (per unit)
    bool allUnits = false;  // the window of several units at once, a channel per unit
};

// Exit status when the screenshot could not be written.
constexpr int kExitScreenshotFailed = 7;

int runWindowFrontEnd(IUnitDriver& driver, IClock& receiverClock, IEventLoop& loop,
                      const WindowOptions& options);

// The window of several units at once (a channel per attached unit).
int runAllUnitsWindow(IUnitDriver& driver, IClock& receiverClock, IEventLoop& loop,
                      const WindowOptions& options);

// Whether a window can be shown here (a display, or a Qt platform chosen by hand).
bool displayAvailable();

}  // namespace hx
