#pragma once
// A clock whose time moves only when told to, for tests and the --fast mode.
//
// Virtual now starts at 0 ms. wallTime() is the wall-time base (seconds since
// 1970, a constructor argument) plus now / 1000. sleepMs returns at once.
//
// Callbacks are scheduled at virtual times; advanceTo(ms) runs every callback
// due at or before ms in time order (ties in scheduling order), moving now to
// each callback's time before it runs and to ms at the end. A callback may
// schedule or cancel others; one scheduled at or before ms runs in the same
// advanceTo. Callbacks run on the thread that calls advanceTo, without any
// lock of the clock held.
//
// The activity counter tells a virtual-time event loop whether something is
// still in flight (a record handed to a pipe and not yet posted or dropped by
// the receiver thread); the loop waits with waitUntilIdle before it jumps the
// clock. Advance listeners are called after every change of now, so that a
// thread blocked on virtual time can look again.
//
// Thread-safe: every method may be called from any thread. Time never runs
// backwards; advanceTo with a time before now only runs what is already due.

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "app/Clock.h"

namespace hx {

class CVirtualClock final : public IClock {
  public:
    using Callback = std::function<void()>;
    using TimerId = std::uint64_t;  // never 0
    using Listener = std::function<void(std::int64_t nowMs)>;
    using ListenerId = std::uint64_t;

    // 2024-01-01 00:00:00 UTC: a fixed date so that runs are repeatable.
    static constexpr std::time_t kDefaultWallBase = 1704067200;

    explicit CVirtualClock(std::time_t wallBase = kDefaultWallBase);
    ~CVirtualClock() override;
    CVirtualClock(const CVirtualClock&) = delete;
    CVirtualClock& operator=(const CVirtualClock&) = delete;

    std::int64_t nowMs() const override;
    std::time_t wallTime() const override;
    void sleepMs(int ms) override;  // returns at once

    // Runs callback at virtual time atMs (at the next advanceTo when atMs is
    // not after now). Returns its id, never 0.
    TimerId schedule(std::int64_t atMs, Callback callback);
    // Forgets a callback that has not run yet. False when it ran or is unknown.
    bool cancel(TimerId id);
    // Time of the earliest scheduled callback, if any.
    std::optional<std::int64_t> nextDeadline() const;
    std::size_t scheduledCount() const;

    // Runs the due callbacks and moves now to max(now, ms).
    void advanceTo(std::int64_t ms);
    void advanceBy(std::int64_t ms);
    // Jumps to the next deadline and runs what is due there; false when none.
    bool advanceToNext();

    // Activity counting (see IClock). endActivity never takes the count below 0.
    void beginActivity() override;
    void endActivity() override;
    int inFlight() const;
    // A device notice on its way is an activity that nothing the program holds
    // can stop (unlike a record queued behind one the window holds): a loop
    // lets time pass only once no notice is in flight.
    void beginNotice();
    void endNotice();
    int noticesInFlight() const;
    // Waits in real time until nothing is in flight; false on time-out.
    bool waitUntilIdle(int realTimeoutMs);
    // Called after every endActivity, on the thread that ended it, without the
    // clock's lock held: a loop waiting for the records in flight looks again.
    // Replacing or clearing it waits for a call in progress.
    void setActivityListener(std::function<void()> listener);
    ListenerId addAdvanceListener(Listener listener);
    void removeAdvanceListener(ListenerId id);

  private:
    struct Key {
        std::int64_t atMs;
        TimerId id;
        bool operator<(const Key& o) const { return atMs != o.atMs ? atMs < o.atMs : id < o.id; }
    };
    bool popDue(std::int64_t limitMs, Callback& out);
    void notifyListeners(std::int64_t now);

    const std::time_t m_wallBase;
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::int64_t m_nowMs = 0;
    TimerId m_nextId = 1;
    std::map<Key, Callback> m_timers;
    std::map<TimerId, std::int64_t> m_timeOf;  // id -> atMs, to cancel by id
    int m_inFlight = 0;
    int m_noticesInFlight = 0;   // among m_inFlight
    std::mutex m_activityMutex;  // guards m_activityListener, held while it runs
    std::function<void()> m_activityListener;
    std::recursive_mutex m_listenerMutex;  // guards the listeners, held while they run
    ListenerId m_nextListener = 1;
    std::map<ListenerId, Listener> m_listeners;
};

}  // namespace hx
