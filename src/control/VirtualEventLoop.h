#pragma once
// The event loop in virtual time, for tests and --fast runs. One virtual clock
// schedules the program's timers and the simulated unit's events. The loop
// handles every queued message first; only when nothing is queued and no
// record is in flight does it jump the clock to the next deadline.
//
// Receivers: by default the loop reads the units' pipes itself (pollers),
// one record at a time whenever nothing is queued, in the order the receiver
// thread would: the same dispatch and hand-over, without two thread switches
// a record. Built with ReceiverReads::OnThread it takes no pollers, and each
// receiver keeps its real thread with its real hand-over.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "app/VirtualClock.h"
#include "control/EventLoop.h"

namespace hx {

class CVirtualEventLoop final : public IEventLoop {
  public:
    enum class ReceiverReads { OnLoop, OnThread };

    // Call on the thread that runs the loop (the UI thread).
    explicit CVirtualEventLoop(CVirtualClock& clock, ReceiverReads reads = ReceiverReads::OnLoop);
    ~CVirtualEventLoop() override;

    void setTarget(IMessageTarget* target) override { m_target = target; }
    void post(WindowMessage message) override;
    bool send(WindowMessage message, CEvent* abort = nullptr) override;
    bool invoke(std::function<void()> fn, CEvent* abort = nullptr) override;
    void startTimer(int timerId, int periodMs) override;
    void killTimer(int timerId) override;
    bool timerRunning(int timerId) const override;
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs) override;
    IClock& clock() override { return m_uiClock; }
    void quit(int exitCode) override;
    void setQuietCondition(std::function<bool()> condition) override {
        m_quietCondition = std::move(condition);
    }
    bool addPoller(const void* owner, std::function<bool()> work) override;
    void removePoller(const void* owner) override;

    // Runs until quit(); returns its exit code, or -1 when nothing can happen
    // any more (no message, no timer, no deadline).
    int run();
    // Runs until done() or until virtual time has moved on by timeoutMs.
    bool runUntil(const std::function<bool()>& done, std::int64_t timeoutMs);
    // Runs for a span of virtual time.
    void runFor(std::int64_t ms);

    std::int64_t nowMs() const { return m_clock.nowMs(); }
    bool quitRequested() const { return m_quit.load(); }

  private:
    // The UI thread's view of time: a sleep lets virtual time pass.
    class UiClock final : public IClock {
      public:
        explicit UiClock(CVirtualEventLoop& loop) : m_loop(loop) {}
        std::int64_t nowMs() const override { return m_loop.m_clock.nowMs(); }
        std::time_t wallTime() const override { return m_loop.m_clock.wallTime(); }
        void sleepMs(int ms) override { m_loop.sleepOnUiThread(ms); }

      private:
        CVirtualEventLoop& m_loop;
    };

    struct Completion {
        bool done = false;
    };
    struct Item {
        std::function<void()> work;
        std::shared_ptr<Completion> completion;  // set for sends
    };
    struct Timer {
        int periodMs;
        std::int64_t due;
        std::uint64_t order;  // start order breaks ties between equal deadlines
    };

    enum class Step { Worked, Idle };
    // One unit of work: a queued item, a due timer, or a jump of the clock to
    // the next deadline not later than limit.
    Step step(std::int64_t limit);
    bool handleQueued();
    bool poll();  // every poller once; true when one did something
    void waitUntilQuiet();
    void sleepOnUiThread(int ms);
    bool onUiThread() const { return std::this_thread::get_id() == m_uiThread; }

    CVirtualClock& m_clock;
    UiClock m_uiClock;
    std::thread::id m_uiThread;
    IMessageTarget* m_target = nullptr;

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Item> m_queue;
    std::map<int, Timer> m_timers;
    std::uint64_t m_timerOrder = 0;
    std::function<bool()> m_quietCondition;
    const ReceiverReads m_receiverReads;
    // UI thread only. Shared, so that a poller removed while it runs lives on
    // until it returns.
    std::map<const void*, std::shared_ptr<std::function<bool()>>> m_pollers;
    std::atomic<bool> m_quit{false};
    int m_exitCode = 0;
};

}  // namespace hx
