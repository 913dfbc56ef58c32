// The virtual-time event loop: order of work, timers, sends from other
// threads, modal pumping and sleeps that let the unit's time pass.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/Event.h"
#include "app/VirtualClock.h"
#include "control/VirtualEventLoop.h"

namespace hx {
namespace {

class Recorder : public IMessageTarget {
  public:
    explicit Recorder(CVirtualClock& clock) : m_clock(clock) {}
    void handleMessage(const WindowMessage& m) override {
        seen.push_back("m" + std::to_string(m.id) + "@" + std::to_string(m_clock.nowMs()));
        if (onMessage) onMessage(m);
    }
    void handleTimer(int id) override {
        seen.push_back("t" + std::to_string(id) + "@" + std::to_string(m_clock.nowMs()));
        if (onTimer) onTimer(id);
    }
    std::vector<std::string> seen;
    std::function<void(const WindowMessage&)> onMessage;
    std::function<void(int)> onTimer;

  private:
    CVirtualClock& m_clock;
};

struct LoopRig {
    CVirtualClock clock{0};
    CVirtualEventLoop loop{clock};
    Recorder target{clock};
    LoopRig() { loop.setTarget(&target); }
};

TEST(VirtualLoop, MessagesBeforeTimersAndTimersInTimeOrder) {
    LoopRig rig;
    rig.loop.startTimer(2, 300);
    rig.loop.startTimer(1, 200);
    rig.loop.post(WindowMessage{7, 0, 0, {}});
    rig.loop.runFor(650);
    EXPECT_EQ(rig.target.seen,
              (std::vector<std::string>{"m7@0", "t1@200", "t2@300", "t1@400", "t2@600", "t1@600"}));
}

TEST(VirtualLoop, KilledTimerNoLongerFiresAndStartRestarts) {
    LoopRig rig;
    rig.loop.startTimer(5, 100);
    rig.target.onTimer = [&](int) {
        rig.loop.killTimer(5);
        rig.loop.startTimer(6, 1000);
    };
    rig.loop.runFor(2500);
    EXPECT_EQ(rig.target.seen, (std::vector<std::string>{"t5@100", "t6@1100", "t6@2100"}));
    EXPECT_FALSE(rig.loop.timerRunning(5));
}

TEST(VirtualLoop, SendFromAnotherThreadWaitsUntilHandled) {
    LoopRig rig;
    std::atomic<bool> returned{false};
    std::thread sender([&] {
        rig.loop.send(WindowMessage{9, 0, 0, {}});
        returned = true;
    });
    // Virtual time does not wait for threads that hold nothing in flight, so
    // give the sender the time to queue its message.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());
    ASSERT_TRUE(rig.loop.runUntil([&] { return !rig.target.seen.empty(); }, 10000));
    sender.join();
    EXPECT_TRUE(returned.load());
    ASSERT_FALSE(rig.target.seen.empty());
    EXPECT_EQ(rig.target.seen.back().substr(0, 3), "m9@");
}

TEST(VirtualLoop, SendGivesUpWhenItsAbortEventIsSet) {
    LoopRig rig;
    CEvent abort(CEvent::Reset::Manual, false);
    std::atomic<int> result{-1};
    std::thread sender([&] { result = rig.loop.send(WindowMessage{9, 0, 0, {}}, &abort) ? 1 : 0; });
    abort.set();
    sender.join();  // returns without the loop ever running
    EXPECT_EQ(result.load(), 0);
}

TEST(VirtualLoop, SleepOnTheUiThreadLetsScheduledEventsHappen) {
    LoopRig rig;
    std::vector<std::int64_t> fired;
    rig.clock.schedule(50, [&] { fired.push_back(rig.clock.nowMs()); });
    rig.clock.schedule(500, [&] { fired.push_back(rig.clock.nowMs()); });
    rig.loop.clock().sleepMs(200);
    EXPECT_EQ(rig.clock.nowMs(), 200);
    EXPECT_EQ(fired, (std::vector<std::int64_t>{50}));
}

TEST(VirtualLoop, PumpUntilHandlesWorkAndStopsAtItsTimeout) {
    LoopRig rig;
    rig.loop.startTimer(1, 100);
    bool done = rig.loop.pumpUntil([&] { return rig.target.seen.size() >= 3; }, 10000);
    EXPECT_TRUE(done);
    EXPECT_EQ(rig.clock.nowMs(), 300);
    rig.loop.killTimer(1);
    EXPECT_FALSE(rig.loop.pumpUntil([] { return false; }, 1000));
    EXPECT_EQ(rig.clock.nowMs(), 1300);
}

TEST(VirtualLoop, RunEndsWithQuitOrWhenNothingCanHappen) {
    LoopRig rig;
    EXPECT_EQ(rig.loop.run(), -1);
    rig.loop.startTimer(1, 10);
    rig.target.onTimer = [&](int) { rig.loop.quit(5); };
    EXPECT_EQ(rig.loop.run(), 5);
}

TEST(VirtualLoop, RecordInFlightHoldsTheClock) {
    LoopRig rig;
    rig.loop.startTimer(1, 100);
    rig.clock.beginActivity();
    std::thread receiver([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        rig.loop.post(WindowMessage{4, 0, 0, {}});
        rig.clock.endActivity();
    });
    rig.loop.runFor(150);
    receiver.join();
    // The record handed over at time 0 is handled before the timer at 100.
    ASSERT_GE(rig.target.seen.size(), 2u);
    EXPECT_EQ(rig.target.seen[0], "m4@0");
    EXPECT_EQ(rig.target.seen[1], "t1@100");
}

}  // namespace
}  // namespace hx
