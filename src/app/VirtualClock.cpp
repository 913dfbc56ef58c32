#include "app/VirtualClock.h"

#include <chrono>
#include <vector>

namespace hx {

CVirtualClock::CVirtualClock(std::time_t wallBase) : m_wallBase(wallBase) {}

CVirtualClock::~CVirtualClock() = default;

std::int64_t CVirtualClock::nowMs() const {
    std::lock_guard lock(m_mutex);
    return m_nowMs;
}

std::time_t CVirtualClock::wallTime() const {
    std::lock_guard lock(m_mutex);
    return m_wallBase + static_cast<std::time_t>(m_nowMs / 1000);
}

void CVirtualClock::sleepMs(int) {}

CVirtualClock::TimerId CVirtualClock::schedule(std::int64_t atMs, Callback callback) {
    std::lock_guard lock(m_mutex);
    const TimerId id = m_nextId++;
    m_timers.emplace(Key{atMs, id}, std::move(callback));
    m_timeOf.emplace(id, atMs);
    return id;
}

bool CVirtualClock::cancel(TimerId id) {
    Callback dropped;  // destroyed after the lock is released
    std::lock_guard lock(m_mutex);
    auto it = m_timeOf.find(id);
    if (it == m_timeOf.end()) return false;
    auto timer = m_timers.find(Key{it->second, id});
    if (timer != m_timers.end()) {
        dropped = std::move(timer->second);
        m_timers.erase(timer);
    }
    m_timeOf.erase(it);
    return true;
}

std::optional<std::int64_t> CVirtualClock::nextDeadline() const {
    std::lock_guard lock(m_mutex);
    if (m_timers.empty()) return std::nullopt;
    return m_timers.begin()->first.atMs;
}

std::size_t CVirtualClock::scheduledCount() const {
    std::lock_guard lock(m_mutex);
    return m_timers.size();
}

bool CVirtualClock::popDue(std::int64_t limitMs, Callback& out) {
    std::lock_guard lock(m_mutex);
    if (m_timers.empty()) return false;
    auto first = m_timers.begin();
    if (first->first.atMs > limitMs) return false;
    if (first->first.atMs > m_nowMs) m_nowMs = first->first.atMs;
    out = std::move(first->second);
    m_timeOf.erase(first->first.id);
    m_timers.erase(first);
    return true;
}

void CVirtualClock::advanceTo(std::int64_t ms) {
    Callback callback;
    std::int64_t lastNotified = nowMs();
    while (popDue(ms, callback)) {
        const std::int64_t now = nowMs();
        if (now != lastNotified) {
            notifyListeners(now);
            lastNotified = now;
        }
        callback();
        callback = nullptr;
    }
    std::int64_t now;
    {
        std::lock_guard lock(m_mutex);
        if (ms > m_nowMs) m_nowMs = ms;
        now = m_nowMs;
    }
    if (now != lastNotified) notifyListeners(now);
}

void CVirtualClock::advanceBy(std::int64_t ms) { advanceTo(nowMs() + ms); }

bool CVirtualClock::advanceToNext() {
    const auto next = nextDeadline();
    if (!next) return false;
    advanceTo(*next);
    return true;
}

void CVirtualClock::beginActivity() {
    std::lock_guard lock(m_mutex);
    ++m_inFlight;
}

void CVirtualClock::endActivity() {
    {
        std::lock_guard lock(m_mutex);
        if (m_inFlight > 0) --m_inFlight;
        if (m_inFlight == 0) m_idle.notify_all();
    }
    std::lock_guard lock(m_activityMutex);
    if (m_activityListener) m_activityListener();
}

void CVirtualClock::beginNotice() {
    std::lock_guard lock(m_mutex);
    ++m_noticesInFlight;
    ++m_inFlight;
}

void CVirtualClock::endNotice() {
    {
        std::lock_guard lock(m_mutex);
        if (m_noticesInFlight > 0) --m_noticesInFlight;
    }
    endActivity();
}

int CVirtualClock::noticesInFlight() const {
    std::lock_guard lock(m_mutex);
    return m_noticesInFlight;
}

void CVirtualClock::setActivityListener(std::function<void()> listener) {
    std::lock_guard lock(m_activityMutex);
    m_activityListener = std::move(listener);
}

int CVirtualClock::inFlight() const {
    std::lock_guard lock(m_mutex);
    return m_inFlight;
}

bool CVirtualClock::waitUntilIdle(int realTimeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(realTimeoutMs < 0 ? 0 : realTimeoutMs),
                           [this] { return m_inFlight == 0; });
}

CVirtualClock::ListenerId CVirtualClock::addAdvanceListener(Listener listener) {
    std::lock_guard lock(m_listenerMutex);
    const ListenerId id = m_nextListener++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void CVirtualClock::removeAdvanceListener(ListenerId id) {
    // Waits for a notification in progress on another thread, so a removed
    // listener is never called afterwards.
    std::lock_guard lock(m_listenerMutex);
    m_listeners.erase(id);
}

void CVirtualClock::notifyListeners(std::int64_t now) {
    // The lock is recursive so that a listener may add or remove listeners;
    // each one is looked up again before it is called.
    std::lock_guard lock(m_listenerMutex);
    std::vector<ListenerId> ids;
    ids.reserve(m_listeners.size());
    for (const auto& entry : m_listeners) ids.push_back(entry.first);
    for (ListenerId id : ids) {
        auto it = m_listeners.find(id);
        if (it == m_listeners.end()) continue;
        Listener listener = it->second;
        listener(now);
    }
}

}  // namespace hx
