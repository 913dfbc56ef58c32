#pragma once
// The console front end over several units at once (--all-units): a channel
// per attached unit, each with its own console port (lines named "dev=ID")
// and its own session goals; the run ends when every channel has ended its.

#include "ConsoleFrontEnd.h"

namespace hx {

int runAllUnitsConsole(IUnitDriver& driver, IClock& receiverClock, IEventLoop& loop,
                       CVirtualEventLoop* virtualLoop, const ConsoleOptions& options);

}  // namespace hx
