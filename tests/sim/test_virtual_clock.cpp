#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/VirtualClock.h"

namespace hx {
namespace {

TEST(VirtualClock, RunsCallbacksInTimeOrderAndTiesInSchedulingOrder) {
    CVirtualClock clock;
    std::vector<std::string> ran;
    clock.schedule(300, [&] { ran.push_back("c@" + std::to_string(clock.nowMs())); });
    clock.schedule(100, [&] { ran.push_back("a@" + std::to_string(clock.nowMs())); });
    clock.schedule(100, [&] { ran.push_back("b@" + std::to_string(clock.nowMs())); });
    clock.schedule(301, [&] { ran.push_back("late"); });
    clock.advanceTo(300);
    EXPECT_EQ(ran, (std::vector<std::string>{"a@100", "b@100", "c@300"}));
    EXPECT_EQ(clock.nowMs(), 300);
    ASSERT_TRUE(clock.nextDeadline());
    EXPECT_EQ(*clock.nextDeadline(), 301);
}

TEST(VirtualClock, CallbackMayScheduleMoreWithinTheSameAdvance) {
    CVirtualClock clock;
    std::vector<std::int64_t> ticks;
    std::function<void()> tick = [&] {
        ticks.push_back(clock.nowMs());
        if (ticks.size() < 5) clock.schedule(clock.nowMs() + 100, tick);
    };
    clock.schedule(100, tick);
    clock.advanceTo(350);
    EXPECT_EQ(ticks, (std::vector<std::int64_t>{100, 200, 300}));
    clock.advanceTo(1000);
    EXPECT_EQ(ticks.size(), 5u);
    EXPECT_FALSE(clock.nextDeadline());
}

TEST(VirtualClock, CancelledCallbackNeverRunsAndTimeNeverGoesBack) {
    CVirtualClock clock;
    bool ran = false;
    const auto id = clock.schedule(50, [&] { ran = true; });
    EXPECT_TRUE(clock.cancel(id));
    EXPECT_FALSE(clock.cancel(id));
    clock.advanceTo(100);
    EXPECT_FALSE(ran);

    // A callback scheduled in the past runs at the next advance without moving time back.
    int late = 0;
    clock.schedule(10, [&] { late = static_cast<int>(clock.nowMs()); });
    clock.advanceTo(20);
    EXPECT_EQ(late, 100);
    EXPECT_EQ(clock.nowMs(), 100);
}

TEST(VirtualClock, CallbackCanCancelALaterOne) {
    CVirtualClock clock;
    bool second = false;
    CVirtualClock::TimerId later = clock.schedule(200, [&] { second = true; });
    clock.schedule(100, [&] { clock.cancel(later); });
    clock.advanceTo(500);
    EXPECT_FALSE(second);
}

TEST(VirtualClock, WallTimeFollowsVirtualTimeAndSleepReturnsAtOnce) {
    CVirtualClock clock(1000000);
    EXPECT_EQ(clock.wallTime(), 1000000);
    clock.sleepMs(60000);
    EXPECT_EQ(clock.nowMs(), 0);
    clock.advanceBy(2999);
    EXPECT_EQ(clock.wallTime(), 1000002);
    EXPECT_TRUE(clock.advanceToNext() == false);
}

TEST(VirtualClock, ActivityCountNeverLeaksBelowZeroAndWakesAWaiter) {
    CVirtualClock clock;
    EXPECT_TRUE(clock.waitUntilIdle(0));
    clock.beginActivity();
    clock.beginActivity();
    EXPECT_EQ(clock.inFlight(), 2);
    EXPECT_FALSE(clock.waitUntilIdle(1));

    std::thread receiver([&] {
        clock.endActivity();
        clock.endActivity();
    });
    EXPECT_TRUE(clock.waitUntilIdle(10000));
    receiver.join();
    clock.endActivity();  // one too many: ignored
    EXPECT_EQ(clock.inFlight(), 0);
    clock.beginActivity();
    EXPECT_EQ(clock.inFlight(), 1);
}

TEST(VirtualClock, ListenersHearEveryAdvanceAndStopWhenRemoved) {
    CVirtualClock clock;
    std::vector<std::int64_t> heard;
    const auto id = clock.addAdvanceListener([&](std::int64_t now) { heard.push_back(now); });
    clock.schedule(40, [] {});
    clock.advanceTo(100);
    clock.advanceTo(100);  // no change, no call
    clock.removeAdvanceListener(id);
    clock.advanceTo(200);
    EXPECT_EQ(heard, (std::vector<std::int64_t>{40, 100}));
}

TEST(VirtualClock, ConcurrentSchedulingWhileAdvancing) {
    CVirtualClock clock;
    std::atomic<int> ran{0};
    std::thread other([&] {
        for (int i = 0; i < 200; ++i) clock.schedule(i * 10, [&] { ++ran; });
    });
    for (int t = 0; t <= 3000; t += 50) clock.advanceTo(t);
    other.join();
    clock.advanceTo(5000);
    EXPECT_EQ(ran.load(), 200);
}

}  // namespace
}  // namespace hx
