#include "platform/QtEventLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <condition_variable>
#include <mutex>

#include "app/Event.h"

namespace hx {

namespace {
// Completion of a call made from another thread; shared with the queued
// call so that an abandoned wait leaves nothing dangling.
struct Completion {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
};
}  // namespace

CQtEventLoop::CQtEventLoop() = default;
CQtEventLoop::~CQtEventLoop() = default;

bool CQtEventLoop::onUiThread() const { return QThread::currentThread() == m_context.thread(); }

void CQtEventLoop::post(WindowMessage message) {
    QMetaObject::invokeMethod(
        &m_context,
        [this, message = std::move(message)] {
            if (m_target) m_target->handleMessage(message);
        },
        Qt::QueuedConnection);
}

bool CQtEventLoop::send(WindowMessage message, CEvent* abort) {
    return invoke(
        [this, message = std::move(message)] {
            if (m_target) m_target->handleMessage(message);
        },
        abort);
}

bool CQtEventLoop::invoke(std::function<void()> fn, CEvent* abort) {
    if (onUiThread()) {
        fn();
        return true;
    }
    auto completion = std::make_shared<Completion>();
    QMetaObject::invokeMethod(
        &m_context,
        [fn = std::move(fn), completion] {
            fn();
            std::lock_guard lock(completion->mutex);
            completion->done = true;
            completion->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(completion->mutex);
    while (!completion->done) {
        if (abort && abort->isSet()) return false;
        completion->cv.wait_for(lock, std::chrono::milliseconds(5));
    }
    return true;
}

void CQtEventLoop::startTimer(int timerId, int periodMs) {
    auto& timer = m_timers[timerId];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, &m_context, [this, timerId] {
            if (m_target) m_target->handleTimer(timerId);
        });
    }
    timer->start(periodMs);
}

void CQtEventLoop::killTimer(int timerId) {
    auto it = m_timers.find(timerId);
    if (it != m_timers.end()) it->second->stop();
}

bool CQtEventLoop::timerRunning(int timerId) const {
    auto it = m_timers.find(timerId);
    return it != m_timers.end() && it->second->isActive();
}

bool CQtEventLoop::pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop nested;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &nested, [&] {
        if (done() || (timeoutMs >= 0 && elapsed.elapsed() >= timeoutMs)) nested.quit();
    });
    check.start(5);
    nested.exec();
    return done();
}

void CQtEventLoop::quit(int exitCode) {
    // Safe from any thread: the exit happens on the UI thread.
    QMetaObject::invokeMethod(
        &m_context, [exitCode] { QCoreApplication::exit(exitCode); }, Qt::QueuedConnection);
}

}  // namespace hx
