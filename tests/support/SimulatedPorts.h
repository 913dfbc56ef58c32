#pragma once
// The ports a test or a benchmark runs the program on: its loop, profile and simulated units, every
// file in one folder (ending with "/") and no companion log viewer.

#include <string>

#include "control/ApplicationShell.h"

namespace hx::test {

inline ProgramPorts simulatedPorts(IEventLoop& loop, IProfileStore& profile, IUnitDriver& units,
                                   IClock& receiverClock, const std::string& folder) {
    ProgramPorts ports;
    ports.loop = &loop;
    ports.profile = &profile;
    ports.driver = &units;
    ports.receiverClock = &receiverClock;
    ports.documentsFolder = folder;
    ports.controlFolder = folder + "run/";
    ports.startCompanion = false;
    return ports;
}

}  // namespace hx::test
