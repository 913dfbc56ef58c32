#pragma once
// The ports every front end of the program runs on: its loop, profile, unit driver, the receiver's
// clock and the user's documents folder. A front end adds its own window or console.

#include "control/ApplicationShell.h"
#include "platform/StandardPaths.h"

namespace hx {

inline ProgramPorts desktopPorts(IEventLoop& loop, IProfileStore& profile, IUnitDriver& driver,
                                 IClock& receiverClock) {
    ProgramPorts ports;
    ports.loop = &loop;
    ports.profile = &profile;
    ports.driver = &driver;
    ports.receiverClock = &receiverClock;
    ports.documentsFolder = standardPaths::documentsFolder();
    return ports;
}

}  // namespace hx
