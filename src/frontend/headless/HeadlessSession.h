#pragma once
// What a script asks of the console front end: connect, run N measurements or
// a timer-mode series, and end with a status that tells how it went. Sits in
// front of the main window's logic as the loop's target and adds one timer of
// its own.

#include <cstdint>
#include <optional>
#include <string>

#include "control/ApplicationShell.h"
#include "headless/ConsoleUi.h"

namespace hx {

struct SessionGoals {
    int measurements = 0;      // start this many measurements, then exit 0
    std::string timerFile;     // run a timer-mode series from this file, then exit 0
    int connectTimeoutS = 20;  // exit 3 when no unit has been connected by then
    int measurementTimeoutS = 180;
};

class CHeadlessSession final : public IMessageTarget {
  public:
    static constexpr int kSessionTimer = 900;
    // How long after its last slot a series waits for a result still on its way.
    static constexpr std::int64_t kResultGraceMs = 10000;
    static constexpr int kExitNoUnit = 3;
    static constexpr int kExitStalled = 4;
    static constexpr int kExitBadTimerFile = 2;
    // A timer series ended with slots that gave no result (cut short, or
    // the unit was busy); the last line says how many did.
    static constexpr int kExitSlotsWithoutResult = 5;
    // At least one result could not be saved ("File Write Error!").
    static constexpr int kExitNotSaved = 6;
    // The animal texts given on the command line could not be sent to the unit.
    static constexpr int kExitAnimalNotSent = 8;

    CHeadlessSession(CApplicationShell& shell, IEventLoop& loop, CConsoleUi& ui, SessionGoals goals);

    // After the shell's start-up: takes over the loop's target.
    bool begin();

    void handleMessage(const WindowMessage& message) override;
    void handleTimer(int timerId) override;

  private:
    void tick();
    // True when the animal texts given are with the unit (or none were given);
    // otherwise sends them with the Animal command, and fails the run when
    // that does not work.
    bool animalTextsSent();
    void onResult();
    void finish(int status);
    // 0, or the status that says what went wrong with the results.
    int resultStatus() const;
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
    int m_unsaved = 0;
    bool m_seriesStarted = false;
    bool m_seriesComplete = false;
    // After the series completed with fewer results than slots: since when
    // the unit has not been measuring (a last result may still be on its way).
    std::optional<std::int64_t> m_settlingSinceMs;
    bool m_finished = false;
    bool m_animalSent = false;  // on this connection
    int m_animalAttempts = 0;
};

}  // namespace hx
