#pragma once
// The settings dialogs the window does not show yet (Animal ID, unit menu,
// device clock, monitor settings, timer mode). Each answers as a dialog
// closed with Cancel would, so connecting and every command still run; the
// Animal ID stand-in keeps the program running for a moment while the unit's
// animal block comes in, as the open dialog would. Each method is replaced by
// its real dialog one at a time. UI thread only.

#include <cstdint>
#include <vector>

#include "control/UiPort.h"

namespace hx {

class IEventLoop;

class CDialogStandIns {
public:
    explicit CDialogStandIns(IEventLoop& loop) : m_loop(loop) {}

    bool runAnimalDialog(AnimalDialogModel& model);
    void endAnimalDialog() { m_endAnimal = true; }
    bool runMenuDialog(MenuSettings&) { return false; }
    void runClockDialog(ClockDialogModel&) {}
    void endClockDialog() {}
    bool runMonitorDialog(MonitorValues&) { return false; }
    bool runTimerDialog(CTimerSchedule&, std::vector<std::int32_t>&) { return false; }

private:
    IEventLoop& m_loop;
    bool m_endAnimal = false;
};

}  // namespace hx
