// Timed recordings: a series from a schedule, skipped slots, completion and
// cancellation.

#include <gtest/gtest.h>

#include <algorithm>

#include "ControlRig.h"

namespace hx::test {
namespace {

class TimerMode : public ::testing::Test {
  protected:
    void SetUp() override {
        SimUnitOptions options;
        options.menu[MenuSettings::kAutoS] = 1;  // one recording per start
        unit = &rig.addUnit(0, options);
        rig.profile.writeInt("HalnorEWU_1", "timerMode", 1);
        rig.start();
        ASSERT_TRUE(rig.waitReady());
        rig.runFor(1000);
    }
    void schedule(std::vector<std::int32_t> entries) {
        entries.push_back(0);
        rig.doc().setScheduleEntries(entries);
    }
    int starts() const { return unit->countRequests(kRequestCommand, kUnitKeyStart); }

    ControlRig rig;
    CSimUnit* unit = nullptr;
};

TEST_F(TimerMode, IntervalsThenRepeatPeriodStartRecordingsOnTime) {
    schedule({120, 180, -300});
    std::time_t t0 = rig.clock.wallTime();
    rig.command(kCmdStart);  // the first recording and the start of the series
    // Recordings follow at T+120, T+300, T+600, T+900.
    std::vector<std::time_t> startedAt;
    int seen = starts();
    ASSERT_TRUE(rig.runUntil(
        [&] {
            if (starts() > seen) {
                seen = starts();
                startedAt.push_back(rig.clock.wallTime() - t0);
            }
            return startedAt.size() >= 4;
        },
        1000000));
    ASSERT_EQ(startedAt.size(), 4u);
    const std::time_t expected[] = {120, 300, 600, 900};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(startedAt[i], expected[i], 2) << i;
    EXPECT_TRUE(rig.ui.generalShown("start Recording"));
    EXPECT_GE(rig.ui.results.size(), 4u);
}

TEST_F(TimerMode, CountdownIsShownOnceASecond) {
    schedule({91});
    rig.command(kCmdStart);
    ASSERT_TRUE(rig.runUntil([&] { return rig.ui.generalShown("Next Recording 01:29"); }, 5000));
    EXPECT_TRUE(rig.ui.generalShown("Next Recording 01:30"));
}

TEST_F(TimerMode, SeriesCompletesWhenTheScheduleEnds) {
    schedule({100});
    rig.command(kCmdStart);
    ASSERT_TRUE(rig.runUntil([&] { return rig.ui.generalShown("Complete Timer Mode recording."); }, 200000));
    EXPECT_FALSE(rig.doc().timerSchedule().started());
    int recordings = starts();
    rig.runFor(400000);
    EXPECT_EQ(starts(), recordings);  // nothing more is started
}

TEST_F(TimerMode, SlotFallingWhileTheUnitRecordsIsSkipped) {
    // The second slot comes 20 s after the first, while that one records.
    schedule({60, 20, 200});
    std::time_t t0 = rig.clock.wallTime();
    rig.command(kCmdStart);
    ASSERT_TRUE(rig.runUntil([&] { return rig.clock.wallTime() - t0 >= 78; }, 100000));
    ASSERT_EQ(unit->state(), kSimRecord);
    int beforeSlot = starts();
    ASSERT_TRUE(rig.runUntil([&] { return rig.clock.wallTime() - t0 >= 85; }, 100000));
    EXPECT_EQ(starts(), beforeSlot);  // skipped
    // The slot after it (T+280) is started as usual.
    ASSERT_TRUE(rig.runUntil([&] { return rig.ui.generalShown("Complete Timer Mode recording."); }, 300000));
    EXPECT_EQ(starts(), beforeSlot + 1);
}

TEST_F(TimerMode, StartOutsideTimerModeLeavesTheNextSeriesToItsOwnStart) {
    // Before: the Start in View stamped the schedule with timer mode off, so
    // the next series counted from that old Start and completed at once.
    rig.doc().preference().monitor().timerMode = 0;
    rig.command(kCmdStart);
    ASSERT_TRUE(rig.runUntil([&] { return rig.ui.results.size() == 1; }, 200000));
    rig.runFor(200000);
    rig.command(kCmdStart);  // from the result back to the live view
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller().readyForMeasurement(); }, 10000));

    rig.doc().preference().monitor().timerMode = 1;
    schedule({60, 60});
    const int before = starts();
    rig.command(kCmdStart);
    rig.runFor(1000);
    EXPECT_FALSE(rig.ui.generalShown("Complete Timer Mode recording."));
    ASSERT_TRUE(rig.runUntil([&] { return starts() >= before + 2; }, 100000)) << "the slot at 60 s records";
}

TEST_F(TimerMode, MenuCommandCancelsTheSeries) {
    schedule({60, -60});
    rig.command(kCmdStart);
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller().nextRecordingCountdown() > 0; }, 5000));
    ASSERT_TRUE(
        rig.runUntil([&] { return unit->state() == kSimResult || unit->state() == kSimView; }, 120000));
    rig.command(kCmdMenu);
    EXPECT_EQ(rig.controller().nextRecordingCountdown(), 0);
    EXPECT_FALSE(rig.doc().timerSchedule().started());
    int recordings = starts();
    rig.runFor(300000);
    EXPECT_EQ(starts(), recordings);
}

TEST_F(TimerMode, TheDialogWarnsOnceOfSlotsThatCutMeasurementsShort) {
    const auto warnings = [&] {
        return std::count_if(rig.ui.messages.begin(), rig.ui.messages.end(), [](const std::string& m) {
            return m.find(CTimerSchedule::kShortSlotWarning) != std::string::npos;
        });
    };
    rig.ui.timerAnswer = std::vector<std::int32_t>{60, 120};
    rig.command(kCmdTimer);
    EXPECT_EQ(warnings(), 0);
    rig.ui.timerAnswer = std::vector<std::int32_t>{60, 10, -200};
    rig.command(kCmdTimer);
    EXPECT_EQ(warnings(), 1);
    rig.ui.timerAnswer.reset();  // Cancel: the schedule stays, nothing is said again
    rig.command(kCmdTimer);
    EXPECT_EQ(warnings(), 1);
    // A one-second repeat period would start measurements for ever: refused, and said.
    rig.ui.timerAnswer = std::vector<std::int32_t>{60, -1};
    rig.command(kCmdTimer);
    EXPECT_EQ(rig.doc().timerSchedule().repeatPeriod(), 0);
    EXPECT_NE(rig.ui.messages.back().find("repeat period of 1 s"), std::string::npos);
}

}  // namespace
}  // namespace hx::test
