#pragma once
// The event-loop port over Qt: queued calls into the UI thread, QTimers for
// the main window's numbered timers, nested event loops for modal waits.

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "control/EventLoop.h"

namespace hx {

class CQtEventLoop final : public IEventLoop {
  public:
    CQtEventLoop();  // on the UI thread, after the QCoreApplication exists
    ~CQtEventLoop() override;

    void setTarget(IMessageTarget* target) override { m_target = target; }
    void post(WindowMessage message) override;
    bool send(WindowMessage message, CEvent* abort = nullptr) override;
    bool invoke(std::function<void()> fn, CEvent* abort = nullptr) override;
    void startTimer(int timerId, int periodMs) override;
    void killTimer(int timerId) override;
    bool timerRunning(int timerId) const override;
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs) override;
    IClock& clock() override { return CSystemClock::instance(); }
    void quit(int exitCode) override;

  private:
    bool onUiThread() const;

    QObject m_context;
    IMessageTarget* m_target = nullptr;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
};

}  // namespace hx
