#include "headless/HeadlessSession.h"

namespace hx {

CHeadlessSession::CHeadlessSession(CApplicationShell& shell, IEventLoop& loop, CConsoleUi& ui, SessionGoals goals)
    : m_shell(shell), m_loop(loop), m_ui(ui), m_goals(std::move(goals)) {}

bool CHeadlessSession::begin() {
    m_startMs = m_loop.clock().nowMs();
    if (!m_goals.timerFile.empty()) {
        CHalnor55KUDoc& doc = m_shell.document();
        if (doc.timerSchedule().readTimerFile(m_goals.timerFile) != 0 || (doc.timerSchedule().intervals().empty() &&
                                                                             doc.timerSchedule().repeatPeriod() == 0)) {
            m_ui.print("error: cannot read a schedule from timer file " + m_goals.timerFile);
            return false;
        }
        doc.preference().monitor().timerMode = 1;  // for this run only
    }
    m_ui.onResult = [this](const HistoryRow&, int, const std::string&) { onResult(); };
    m_ui.onGeneralText = [this](const std::string& text) {
        if (text == "start Recording") ++m_started;
        if (text == "Complete Timer Mode recording.") m_seriesComplete = true;
    };
    m_loop.setTarget(this);
    m_loop.startTimer(kSessionTimer, 250);
    return true;
}

void CHeadlessSession::handleMessage(const WindowMessage& message) { m_shell.controller().handleMessage(message); }

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

void CHeadlessSession::tick() {
    if (m_finished) return;
    CMainController& controller = m_shell.controller();
    if (controller.connected()) m_everConnected = true;
    if (!m_everConnected) {
        if (elapsedMs() > m_goals.connectTimeoutS * 1000LL) {
            m_ui.print("error: no unit connected within " + std::to_string(m_goals.connectTimeoutS) + " s");
            m_finished = true;
            m_loop.quit(kExitNoUnit);
        }
        return;
    }
    // The set-up ends by starting the state poll; act only after it.
    bool ready = controller.connected() && m_loop.timerRunning(kTimerStatePoll);
    int state = controller.unitState();

    if (m_goals.measurements > 0) {
        if (m_results >= m_goals.measurements) {
            m_finished = true;
            m_loop.quit(0);
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
        if (!ready || !controller.commandEnabled(kCmdStart)) return;
        if (state == 2) {
            controller.command(kCmdStart);
            m_waiting = true;
            m_waitingSinceMs = m_loop.clock().nowMs();
        } else if (state == 5) {
            controller.command(kCmdStart);  // from the result back to the live view
        }
        return;
    }

    if (!m_goals.timerFile.empty()) {
        if (!m_seriesStarted) {
            if (ready && state == 2 && controller.commandEnabled(kCmdStart)) {
                controller.command(kCmdStart);
                m_seriesStarted = true;
                m_started = 1;
            }
            return;
        }
        if (m_seriesComplete && m_results >= m_started && state != 3 && state != 4) {
            m_finished = true;
            m_loop.quit(0);
        }
    }
}

}  // namespace hx
