#include "app/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace hx {
namespace {

// All events share one lock and one condition variable. The program has a
// handful of events and few waiters, and a single lock makes waiting for any
// of several events simple and free of lost wake-ups.
struct EventHub {
    std::mutex mutex;
    std::condition_variable changed;
};

EventHub& hub() {
    static EventHub instance;
    return instance;
}

using Deadline = std::chrono::steady_clock::time_point;

Deadline deadlineAfter(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
}

}  // namespace

CEvent::CEvent(Reset reset, bool initiallySet) : m_manual(reset == Reset::Manual), m_set(initiallySet) {}

void CEvent::set() {
    {
        std::lock_guard lock(hub().mutex);
        m_set = true;
    }
    // Woken outside the lock, so a waiter does not wake only to wait for it.
    hub().changed.notify_all();
}

void CEvent::reset() {
    std::lock_guard lock(hub().mutex);
    m_set = false;
}

bool CEvent::isSet() const {
    std::lock_guard lock(hub().mutex);
    return m_set;
}

bool CEvent::consumeLocked() {
    if (!m_set) return false;
    if (!m_manual) m_set = false;
    return true;
}

void CEvent::wait() {
    std::unique_lock lock(hub().mutex);
    hub().changed.wait(lock, [this] { return m_set; });
    consumeLocked();
}

bool CEvent::waitFor(int ms) {
    std::unique_lock lock(hub().mutex);
    if (!hub().changed.wait_until(lock, deadlineAfter(ms), [this] { return m_set; })) return false;
    return consumeLocked();
}

int CEvent::waitAny(CEvent& first, CEvent& second) {
    std::unique_lock lock(hub().mutex);
    hub().changed.wait(lock, [&] { return first.m_set || second.m_set; });
    return first.consumeLocked() ? 0 : (second.consumeLocked(), 1);
}

int CEvent::waitAnyFor(CEvent& first, CEvent& second, int ms) {
    std::unique_lock lock(hub().mutex);
    if (!hub().changed.wait_until(lock, deadlineAfter(ms), [&] { return first.m_set || second.m_set; }))
        return -1;
    return first.consumeLocked() ? 0 : (second.consumeLocked(), 1);
}

}  // namespace hx
