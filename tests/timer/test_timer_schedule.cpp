// The schedule itself: entry arrays and the countdown to the next recording.

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

#include "timer/TimerSchedule.h"

namespace hx {
namespace {

using Entries = std::vector<std::int32_t>;
constexpr std::time_t T = 1'700'000'000;

CTimerSchedule scheduleOf(const Entries& entries) {
    CTimerSchedule schedule;
    schedule.setEntries(entries);
    return schedule;
}

TEST(TimerEntries, TakeIntervalsUntilZeroOrRepeatPeriod) {
    auto schedule = scheduleOf({60, 120, -300, 45});
    EXPECT_EQ(schedule.intervals(), (Entries{60, 120}));
    EXPECT_EQ(schedule.offsets(), (Entries{60, 180}));
    EXPECT_EQ(schedule.repeatPeriod(), 300);

    schedule.setEntries(Entries{30, 0, 90, -10});
    EXPECT_EQ(schedule.intervals(), (Entries{30}));
    EXPECT_EQ(schedule.repeatPeriod(), 0) << "setting entries replaces the old repeat period";
}

TEST(TimerEntries, AtMostOneHundredAreTaken) {
    Entries many(150, 7);
    auto schedule = scheduleOf(many);
    EXPECT_EQ(schedule.intervals().size(), 100u);
    EXPECT_EQ(schedule.offsets().back(), 700);
    EXPECT_EQ(schedule.repeatPeriod(), 0);

    // A repeat entry in slot 101 is beyond the limit as well.
    Entries hundredAndRepeat(100, 1);
    hundredAndRepeat.push_back(-5);
    schedule.setEntries(hundredAndRepeat);
    EXPECT_EQ(schedule.intervals().size(), 100u);
    EXPECT_EQ(schedule.repeatPeriod(), 0);
}

TEST(TimerEntries, ExtremeValuesNeitherOverflowNorGoNegative) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    auto schedule = scheduleOf({kMax, kMax, std::numeric_limits<std::int32_t>::min()});
    EXPECT_EQ(schedule.offsets(), (Entries{kMax, kMax}));
    EXPECT_EQ(schedule.repeatPeriod(), kMax);
}

TEST(TimerEntries, GetEntriesWritesIntervalsThenRepeatAndNothingElse) {
    auto schedule = scheduleOf({60, 120, -300});
    std::array<std::int32_t, 6> out;
    out.fill(99);
    EXPECT_EQ(schedule.getEntries(out), 3u);
    EXPECT_EQ(out, (std::array<std::int32_t, 6>{60, 120, -300, 99, 99, 99}));

    CTimerSchedule empty;
    EXPECT_EQ(empty.getEntries(out), 0u);
    EXPECT_EQ(out[0], 60) << "an empty schedule writes nothing";
}

TEST(TimerEntries, GetEntriesNeverWritesPastTheReceivingArray) {
    CTimerSchedule schedule;
    schedule.readTimerText("1\n2\n3\n4\n5\n-90\n");
    std::array<std::int32_t, 5> guarded{};
    auto out = std::span(guarded).first(3);
    EXPECT_EQ(schedule.getEntries(out), 3u);
    EXPECT_EQ(guarded, (std::array<std::int32_t, 5>{1, 2, -90, 0, 0}))
        << "the repeat period keeps the last slot";

    schedule.readTimerText("1\n2\n3\n4\n5\n");
    guarded.fill(0);
    EXPECT_EQ(schedule.getEntries(out), 3u);
    EXPECT_EQ(guarded, (std::array<std::int32_t, 5>{1, 2, 3, 0, 0}));
    EXPECT_EQ(schedule.getEntries({}), 0u);
}

TEST(TimerSeries, StartOnlyOnceAndRewind) {
    CTimerSchedule schedule;
    EXPECT_EQ(schedule.startTime(), CTimerSchedule::noStartTime());
    schedule.startSeries(T);
    schedule.startSeries(T + 50);
    EXPECT_TRUE(schedule.started());
    EXPECT_EQ(schedule.startTime(), T);
    EXPECT_EQ(schedule.nextRecordingTime(), T);
    EXPECT_TRUE(schedule.recordingDue(T));
    EXPECT_FALSE(schedule.recordingDue(T - 1));

    schedule.stopSeries();
    schedule.startSeries(T + 50);
    EXPECT_EQ(schedule.startTime(), T + 50);

    // New entries (the Timer mode dialog's OK, Read, Write) leave a running
    // series running on its own start, so its slots do not fall into the past.
    schedule.setEntries(Entries{10});
    schedule.readTimerText("20\n");
    EXPECT_TRUE(schedule.started());
    EXPECT_EQ(schedule.startTime(), T + 50);
    EXPECT_EQ(schedule.secondsUntilNextRecording(T + 60), 10);
    schedule.endSeries();
    schedule.setEntries(Entries{10});
    EXPECT_EQ(schedule.startTime(), CTimerSchedule::noStartTime());
}

TEST(TimerSeries, NoStartTimeIsNewYear1990LocalTime) {
    const std::time_t marker = CTimerSchedule::noStartTime();
    std::tm local{};
    localtime_r(&marker, &local);
    EXPECT_EQ(local.tm_year, 90);
    EXPECT_EQ(local.tm_mon, 0);
    EXPECT_EQ(local.tm_mday, 1);
    EXPECT_EQ(local.tm_hour, 0);
    EXPECT_EQ(local.tm_min, 0);
    EXPECT_EQ(local.tm_sec, 0);
}

TEST(TimerCountdown, IntervalsThenRepeatPeriod) {
    auto schedule = scheduleOf({60, 120, -300});
    schedule.startSeries(T);
    std::vector<std::time_t> due;
    std::time_t now = T;
    for (int i = 0; i < 5; ++i) {
        const std::int32_t wait = schedule.secondsUntilNextRecording(now);
        ASSERT_GT(wait, 0);
        now += wait;
        due.push_back(now - T);
        EXPECT_EQ(schedule.nextRecordingTime(), now);
    }
    EXPECT_EQ(due, (std::vector<std::time_t>{60, 180, 480, 780, 1080}));
}

TEST(TimerCountdown, TimeEqualToNowIsAlreadyPast) {
    auto schedule = scheduleOf({60, 60});
    schedule.startSeries(T);
    EXPECT_EQ(schedule.secondsUntilNextRecording(T + 60), 60);
    EXPECT_EQ(schedule.nextRecordingTime(), T + 120);
    EXPECT_EQ(schedule.secondsUntilNextRecording(T + 120), 0) << "no repeat period: the series ends";
}

TEST(TimerCountdown, MissedRecordingsAreSkippedNotMadeUp) {
    auto schedule = scheduleOf({10, 10, 10, 10});
    schedule.startSeries(T);
    EXPECT_EQ(schedule.secondsUntilNextRecording(T + 25), 5);
    EXPECT_EQ(schedule.nextRecordingTime(), T + 30);
}

TEST(TimerCountdown, RepeatOnlyCountsFromTheStart) {
    auto schedule = scheduleOf({-100});
    schedule.startSeries(T);
    EXPECT_EQ(schedule.secondsUntilNextRecording(T), 100);
    EXPECT_EQ(schedule.secondsUntilNextRecording(T + 250), 50);
    EXPECT_EQ(schedule.nextRecordingTime(), T + 300);
}

TEST(TimerCountdown, EmptyScheduleEndsAtOnce) {
    CTimerSchedule schedule;
    schedule.startSeries(T);
    EXPECT_EQ(schedule.secondsUntilNextRecording(T), 0);
}

TEST(TimerCountdown, NewEntriesDuringASeriesGoOnThroughTheRepeatPeriod) {
    auto schedule = scheduleOf({60, -100});
    schedule.startSeries(T);
    EXPECT_EQ(schedule.secondsUntilNextRecording(T), 60);

    // The start is rewound to 1990: every listed time is past, the repetition
    // counts on from the last worked-out time.
    schedule.setEntries(Entries{5, -100});
    EXPECT_EQ(schedule.secondsUntilNextRecording(T + 70), 90);
    EXPECT_EQ(schedule.nextRecordingTime(), T + 160);

    schedule.setEntries(Entries{5});
    EXPECT_EQ(schedule.secondsUntilNextRecording(T + 170), 0);
}

TEST(TimerCountdown, ShortPeriodFarBehindAnswersAtOnce) {
    // Never started: the last worked-out time is 1970, decades of the shortest periods behind.
    auto schedule = scheduleOf({-50});
    EXPECT_EQ(schedule.secondsUntilNextRecording(T), 50);
    EXPECT_EQ(schedule.nextRecordingTime(), T + 50);
}

TEST(TimerSeries, SlotsShorterThanAMeasurementAreFound) {
    EXPECT_FALSE(scheduleOf({60, 0, 120, -300}).cutsMeasurementsShort());
    EXPECT_FALSE(scheduleOf({}).cutsMeasurementsShort());
    EXPECT_TRUE(scheduleOf({60, 1, 120}).cutsMeasurementsShort());
    // A repeat period that short would start measurements for ever without
    // a result: it is refused and the schedule ends after its intervals.
    const auto refused = scheduleOf({60, -49});
    EXPECT_FALSE(refused.cutsMeasurementsShort());
    EXPECT_EQ(refused.repeatPeriod(), 0);
    EXPECT_EQ(refused.refusedRepeatPeriod(), 49);
    EXPECT_NE(refused.readWarning().find("repeat period of 49 s"), std::string::npos);  // what Read tells
    EXPECT_EQ(scheduleOf({-50}).repeatPeriod(), 50);
}

}  // namespace
}  // namespace hx
