#include "headless/HeadlessSession.h"

#include "data/DataFileWriter.h"

namespace hx {

CHeadlessSession::CHeadlessSession(CApplicationShell& shell, IEventLoop& loop, CConsoleUi& ui,
                                   SessionGoals goals)
    : m_shell(shell), m_loop(loop), m_ui(ui), m_goals(std::move(goals)) {}

bool CHeadlessSession::begin() {
    m_startMs = m_loop.clock().nowMs();
    if (!m_goals.timerFile.empty()) {
        CHalnor55KUDoc& doc = m_shell.document();
        const bool read = doc.timerSchedule().readTimerFile(m_goals.timerFile) == 0;
        if (read && doc.timerSchedule().refusedRepeatPeriod())
            m_ui.print("warning: " + doc.timerSchedule().refusedRepeatPeriodWarning());
        if (!read || (doc.timerSchedule().intervals().empty() && doc.timerSchedule().repeatPeriod() == 0)) {
            m_ui.print("error: cannot read a schedule from timer file " + m_goals.timerFile);
            return false;
        }
        if (int held = doc.timerSchedule().heldEntries())
            m_ui.print("warning: " + std::to_string(held) + " value(s) of timer file " + m_goals.timerFile +
                       " are out of range and held at 2147483647 s");
        doc.preference().monitor().timerMode = 1;  // for this run only
    }
    m_ui.onResult = [this](const HistoryRow&, int, const std::string&) { onResult(); };
    m_ui.onGeneralText = [this](const std::string& text) {
        if (text == "start Recording") ++m_started;
        if (text == "Complete Timer Mode recording.") m_seriesComplete = true;
    };
    m_ui.onMessage = [this](const std::string& text) {
        if (text == kDataFileWriteError) ++m_unsaved;
    };
    m_ui.onAnimalAnswered = [this] {
        m_animalSent = true;
        m_animalAttempts = 0;
    };
    m_loop.setTarget(this);
    m_loop.startTimer(kSessionTimer, 250);
    return true;
}

void CHeadlessSession::handleMessage(const WindowMessage& message) {
    m_shell.controller().handleMessage(message);
}

void CHeadlessSession::handleTimer(int timerId) {
    if (timerId == kSessionTimer) {
        tick();
    } else {
        m_shell.controller().handleTimer(timerId);
    }
}

void CHeadlessSession::onResult() {
    ++m_results;
    m_waiting = false;
}

int CHeadlessSession::resultStatus() const {
    if (m_unsaved > 0) return kExitNotSaved;
    if (m_seriesStarted && m_results < m_started) return kExitSlotsWithoutResult;
    return 0;
}

void CHeadlessSession::finish(int status) {
    if (m_unsaved > 0) m_ui.print("error: " + std::to_string(m_unsaved) + " result(s) could not be saved");
    if (m_seriesStarted)
        m_ui.print("timer series: " + std::to_string(m_results) + " of " + std::to_string(m_started) +
                   " slots produced a result");
    m_finished = true;
    m_loop.quit(status);
}

// The set-up leaves the Animal ID dialog out while the unit is still
// adjusting; the texts the user gave then go to the unit before the first
// measurement, so they reach the unit and the file names either way.
bool CHeadlessSession::animalTextsSent() {
    if (m_animalSent || !m_ui.answers().animalTextsGiven()) return true;
    if (++m_animalAttempts > 3) {
        m_ui.print("error: the animal texts could not be sent to the unit");
        m_finished = true;
        m_loop.quit(kExitAnimalNotSent);
        return false;
    }
    m_shell.controller().command(kCmdAnimal);
    return false;  // the next tick starts, once the unit is back in View
}

void CHeadlessSession::tick() {
    if (m_finished) return;
    CMainController& controller = m_shell.controller();
    if (controller.connected())
        m_everConnected = true;
    else
        m_animalSent = false;  // a unit connected again asks for the texts again
    if (!m_everConnected) {
        if (elapsedMs() > m_goals.connectTimeoutS * 1000LL) {
            m_ui.print("error: no unit connected within " + std::to_string(m_goals.connectTimeoutS) + " s");
            m_finished = true;
            m_loop.quit(kExitNoUnit);
        }
        return;
    }
    int state = controller.unitState();

    if (m_goals.measurements > 0) {
        if (m_results >= m_goals.measurements) {
            finish(resultStatus());
            return;
        }
        if (m_waiting) {
            if (m_loop.clock().nowMs() - m_waitingSinceMs > m_goals.measurementTimeoutS * 1000LL) {
                m_ui.print("error: no result within " + std::to_string(m_goals.measurementTimeoutS) + " s");
                m_finished = true;
                m_loop.quit(kExitStalled);
            }
            return;
        }
        if (controller.readyForMeasurement() && !animalTextsSent()) return;
        if (controller.startNextMeasurement()) {
            m_waiting = true;
            m_waitingSinceMs = m_loop.clock().nowMs();
        }
        return;
    }

    if (!m_goals.timerFile.empty()) {
        if (!m_seriesStarted) {
            if (controller.readyForMeasurement()) {
                if (!animalTextsSent()) return;
                if (m_shell.document().timerSchedule().cutsMeasurementsShort())
                    m_ui.print(std::string("warning: ") + CTimerSchedule::kShortSlotWarning);
                controller.command(kCmdStart);
                m_seriesStarted = true;
                m_started = 1;
            }
            return;
        }
        // The series ends when its last slot is over: the last measurement
        // gave its result, or the unit has been out of measuring for a while
        // (the slot cut a measurement short or found the unit busy).
        bool measuring = state == kStatePress || state == kStateRecord;
        if (!m_seriesComplete || measuring) {
            m_settlingSinceMs.reset();
            return;
        }
        if (m_results >= m_started) {
            finish(resultStatus());
            return;
        }
        const std::int64_t now = m_loop.clock().nowMs();
        if (!m_settlingSinceMs) m_settlingSinceMs = now;
        if (now - *m_settlingSinceMs >= kResultGraceMs) finish(resultStatus());
    }
}

}  // namespace hx
