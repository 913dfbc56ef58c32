#pragma once
// What a script asks of the console front end: connect, run N measurements or
// a timer-mode series, and end with a status that tells how it went. Sits in
// front of the main window's logic as the loop's target and adds one timer of
// its own.

#include <cstdint>
#include <string>

#include "control/ApplicationShell.h"
#include "headless/ConsoleUi.h"

namespace hx {

struct SessionGoals {
    int measurements = 0;       // start this many measurements, then exit 0
    std::string timerFile;      // run a timer-mode series from this file, then exit 0
    int connectTimeoutS = 20;   // exit 3 when no unit has been connected by then
    int measurementTimeoutS = 180;
};

class CHeadlessSession final : public IMessageTarget {
public:
    static constexpr int kSessionTimer = 900;
    static constexpr int kExitNoUnit = 3;
    static constexpr int kExitStalled = 4;
    static constexpr int kExitBadTimerFile = 2;

    CHeadlessSession(CApplicationShell& shell, IEventLoop& loop, CConsoleUi& ui, SessionGoals goals);

    // After the shell's start-up: takes over the loop's target.
    bool begin();

    void handleMessage(const WindowMessage& message) override;
    void handleTimer(int timerId) override;

private:
    void tick();
    void onResult();
    std::int64_t elapsedMs() const { return m_loop.clock().nowMs() - m_startMs; }

    CApplicationShell& m_shell;
    IEventLoop& m_loop;
    CConsoleUi& m_ui;
    SessionGoals m_goals;
    std::int64_t m_startMs = 0;
    bool m_everConnected = false;
    int m_results = 0;
    int m_started = 0;
    bool m_waiting = false;
    std::int64_t m_waitingSinceMs = 0;
    bool m_seriesStarted = false;
    bool m_seriesComplete = false;
    bool m_finished = false;
};

}  // namespace hx
