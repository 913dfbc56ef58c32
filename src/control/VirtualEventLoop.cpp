#include "control/VirtualEventLoop.h"

#include <limits>
#include <vector>

#include "app/Event.h"

namespace hx {

namespace {
constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();
constexpr int kQuietRecheckMs = 20;
}  // namespace

CVirtualEventLoop::CVirtualEventLoop(CVirtualClock& clock, ReceiverReads reads)
    : m_clock(clock), m_uiClock(*this), m_uiThread(std::this_thread::get_id()), m_receiverReads(reads) {
    // The end of a record's way (or a notice's) is what a waiting loop waits for.
    m_clock.setActivityListener([this] {
        { std::lock_guard lock(m_mutex); }  // a waiter is either waiting or has not looked yet
        m_cv.notify_all();
    });
}

CVirtualEventLoop::~CVirtualEventLoop() { m_clock.setActivityListener(nullptr); }

void CVirtualEventLoop::post(WindowMessage message) {
    Item item;
    item.work = [this, message = std::move(message)] {
        if (m_target) m_target->handleMessage(message);
    };
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(item));
    }
    m_cv.notify_all();
}

bool CVirtualEventLoop::send(WindowMessage message, CEvent* abort) {
    return invoke(
        [this, message = std::move(message)] {
            if (m_target) m_target->handleMessage(message);
        },
        abort);
}

bool CVirtualEventLoop::invoke(std::function<void()> fn, CEvent* abort) {
    if (onUiThread()) {
        fn();
        return true;
    }
    auto completion = std::make_shared<Completion>();
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(Item{std::move(fn), completion});
    }
    m_cv.notify_all();
    std::unique_lock lock(m_mutex);
    while (!completion->done) {
        if (abort && abort->isSet()) return false;
        m_cv.wait_for(lock, std::chrono::milliseconds(2));
    }
    return true;
}

void CVirtualEventLoop::startTimer(int timerId, int periodMs) {
    std::lock_guard lock(m_mutex);
    m_timers[timerId] = Timer{periodMs, m_clock.nowMs() + periodMs, m_timerOrder++};
}

void CVirtualEventLoop::killTimer(int timerId) {
    std::lock_guard lock(m_mutex);
    m_timers.erase(timerId);
}

bool CVirtualEventLoop::timerRunning(int timerId) const {
    std::lock_guard lock(m_mutex);
    return m_timers.count(timerId) != 0;
}

void CVirtualEventLoop::quit(int exitCode) {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_exitCode = exitCode;
    }
    m_cv.notify_all();
}

bool CVirtualEventLoop::handleQueued() {
    Item item;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) return false;
        item = std::move(m_queue.front());
        m_queue.pop_front();
    }
    item.work();
    if (item.completion) {
        {
            std::lock_guard lock(m_mutex);
            item.completion->done = true;
        }
        m_cv.notify_all();
    }
    return true;
}

bool CVirtualEventLoop::addPoller(const void* owner, std::function<bool()> work) {
    if (m_receiverReads != ReceiverReads::OnLoop || !onUiThread()) return false;
    m_pollers[owner] = std::make_shared<std::function<bool()>>(std::move(work));
    return true;
}

void CVirtualEventLoop::removePoller(const void* owner) { m_pollers.erase(owner); }

bool CVirtualEventLoop::poll() {
    if (m_pollers.empty()) return false;
    // A poller may add or remove pollers (a record's handler stops a
    // receiver, or ends a channel): each is looked up again before it runs.
    std::vector<const void*> owners;
    owners.reserve(m_pollers.size());
    for (const auto& entry : m_pollers) owners.push_back(entry.first);
    bool worked = false;
    for (const void* owner : owners) {
        auto it = m_pollers.find(owner);
        if (it == m_pollers.end()) continue;
        const std::shared_ptr<std::function<bool()>> work = it->second;
        worked = (*work)() || worked;
    }
    return worked;
}

void CVirtualEventLoop::waitUntilQuiet() {
    // A record the simulated unit has handed to its pipe is on its way to us;
    // time must not move on before it has been queued (or dropped).
    std::unique_lock lock(m_mutex);
    while (m_clock.inFlight() > 0 && m_queue.empty() && !m_quit) {
        // Records queued behind one the window holds wait for the window; a
        // device notice on its way waits for nothing, so time waits for it.
        if (m_quietCondition && m_quietCondition() && m_clock.noticesInFlight() == 0) return;
        lock.unlock();
        const bool polled = poll();
        lock.lock();
        if (polled) continue;
        // Woken by a post, the end of an activity or quit; the time limit only
        // guards against a change nobody announces.
        m_cv.wait_for(lock, std::chrono::milliseconds(kQuietRecheckMs));
    }
}

CVirtualEventLoop::Step CVirtualEventLoop::step(std::int64_t limit) {
    if (handleQueued()) return Step::Worked;
    if (poll()) return Step::Worked;
    waitUntilQuiet();
    {
        std::lock_guard lock(m_mutex);
        if (!m_queue.empty() || m_quit) return Step::Worked;
    }

    // The earliest timer, ties broken by start order.
    int timerId = 0;
    std::int64_t timerDue = kNoLimit;
    {
        std::lock_guard lock(m_mutex);
        std::uint64_t order = 0;
        for (const auto& [id, timer] : m_timers) {
            if (timer.due < timerDue || (timer.due == timerDue && timer.order < order)) {
                timerDue = timer.due;
                order = timer.order;
                timerId = id;
            }
        }
    }
    const std::int64_t now = m_clock.nowMs();
    if (timerDue <= now) {
        {
            std::lock_guard lock(m_mutex);
            auto it = m_timers.find(timerId);
            if (it != m_timers.end()) {
                it->second.due = now + it->second.periodMs;
                it->second.order = m_timerOrder++;
            }
        }
        if (m_target) m_target->handleTimer(timerId);
        return Step::Worked;
    }

    std::int64_t next = timerDue;
    if (auto deadline = m_clock.nextDeadline()) next = std::min(next, std::max(*deadline, now));
    if (next == kNoLimit || next > limit) return Step::Idle;
    m_clock.advanceTo(next);
    return Step::Worked;
}

void CVirtualEventLoop::sleepOnUiThread(int ms) {
    if (ms <= 0) return;
    if (!onUiThread()) return;  // other threads run free in virtual time
    const std::int64_t target = m_clock.nowMs() + ms;
    // Let the unit's events up to the end of the sleep happen in order; the
    // program's own timers wait until the handler returns to the loop.
    for (;;) {
        waitUntilQuiet();
        auto deadline = m_clock.nextDeadline();
        if (!deadline || *deadline > target) break;
        m_clock.advanceTo(std::max(*deadline, m_clock.nowMs()));
    }
    if (m_clock.nowMs() < target) m_clock.advanceTo(target);
}

int CVirtualEventLoop::run() {
    while (!m_quit) {
        if (step(kNoLimit) == Step::Idle) return -1;
    }
    return m_exitCode;
}

bool CVirtualEventLoop::runUntil(const std::function<bool()>& done, std::int64_t timeoutMs) {
    const std::int64_t limit = m_clock.nowMs() + timeoutMs;
    while (!done() && !m_quit) {
        if (step(limit) == Step::Idle) {
            if (m_clock.nowMs() < limit) m_clock.advanceTo(limit);
            return done();
        }
    }
    return done();
}

void CVirtualEventLoop::runFor(std::int64_t ms) {
    const std::int64_t limit = m_clock.nowMs() + ms;
    runUntil(
        [this, limit] {
            std::lock_guard lock(m_mutex);
            return m_clock.nowMs() >= limit && m_queue.empty();
        },
        ms);
}

bool CVirtualEventLoop::pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    return runUntil(done, timeoutMs < 0 ? kNoLimit - m_clock.nowMs() : timeoutMs);
}

}  // namespace hx
