// The Timer mode dialog's rows: parsers, texts and the two recomputations.

#include <gtest/gtest.h>

#include <limits>

#include "timer/TimerDialogModel.h"

namespace hx {
namespace {

using M = CTimerDialogModel;

TEST(TimerDialogModel, IntervalsGiveTheTimes) {
    M m;
    EXPECT_TRUE(m.enterInterval(0, "1:00"));
    EXPECT_TRUE(m.enterInterval(1, " 2:00 "));
    EXPECT_TRUE(m.enterInterval(2, "5:00"));
    EXPECT_EQ(M::timeText(m.time(0)), "00:01:00");
    EXPECT_EQ(M::timeText(m.time(1)), "00:03:00");
    EXPECT_EQ(M::timeText(m.time(2)), "00:08:00");

    // A time edit keeps the other times and changes the intervals around it.
    m.enterTime(1, "00:10:00");
    EXPECT_EQ(M::intervalText(m.interval(1)), "09:00");
    EXPECT_EQ(M::intervalText(m.interval(2)), "-02:00");
    EXPECT_EQ(M::timeText(m.time(2)), "00:08:00");

    // Clearing a time ends the list there; a later interval edit then recomputes.
    m.enterTime(1, "");
    EXPECT_EQ(m.interval(1), 0);
    EXPECT_TRUE(m.enterInterval(0, "2"));
    EXPECT_EQ(m.time(2), 0);
}

TEST(TimerDialogModel, RepeatRowShowsItsTimeWithAStar) {
    M m;
    m.load(std::vector<std::int32_t>{60, 120, -120});
    EXPECT_EQ(M::timeText(m.time(2)), "00:05:00*");
    EXPECT_EQ(M::intervalText(m.interval(2)), "-02:00");

    M t;
    t.load(std::vector<std::int32_t>{60, 120});
    t.enterTime(2, "0:10:00*");
    EXPECT_EQ(t.interval(2), -420);
    EXPECT_EQ(t.entries().size(), 100u);
    EXPECT_EQ(t.entries()[2], -420);
}

TEST(TimerDialogModel, ZeroOrNothingChangesNoInterval) {
    M m;
    m.load(std::vector<std::int32_t>{60});
    EXPECT_FALSE(m.enterInterval(0, "0"));
    EXPECT_FALSE(m.enterInterval(0, "   "));
    EXPECT_FALSE(m.enterInterval(0, "abc"));
    EXPECT_EQ(m.interval(0), 60);

    EXPECT_TRUE(m.enterInterval(0, "61:40"));
    EXPECT_EQ(m.interval(0), 3700);
    EXPECT_EQ(M::intervalText(m.interval(0)), "01:40") << "the hours are lost in this column";
    EXPECT_EQ(M::timeText(m.time(0)), "01:01:40");
}

TEST(TimerDialogModel, Parsers) {
    EXPECT_EQ(M::parseInterval("90"), 90);
    EXPECT_EQ(M::parseInterval("1:30"), 90);
    EXPECT_EQ(M::parseInterval("-5:00"), -300);
    EXPECT_EQ(M::parseInterval("5:00-"), -300);
    EXPECT_EQ(M::parseInterval("1:30:00"), 90);
    EXPECT_EQ(M::parseInterval("1.5"), 65);
    EXPECT_EQ(M::parseTime("90"), 90);
    EXPECT_EQ(M::parseTime("1:30"), 90);
    EXPECT_EQ(M::parseTime("0:10:00*"), -600);
    EXPECT_EQ(M::parseTime("1:02:03:04"), 3723);
    EXPECT_EQ(M::parseTime(""), 0);

    // Long digit runs are held at the largest value, not wrapped.
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(M::parseInterval("99999999999999999999:99"), kMax);
    EXPECT_EQ(M::parseTime("99999999999999999999*"), -kMax);
    M m;
    m.load(std::vector<std::int32_t>{kMax, kMax, std::numeric_limits<std::int32_t>::min() + 1});
    EXPECT_EQ(m.time(1), kMax);
    EXPECT_EQ(m.time(2), -kMax);
    EXPECT_EQ(M::timeText(-kMax), "596523:14:07*");
}

TEST(TimerDialogModel, TopRowStaysWithinTheScrollRange) {
    M m;
    m.setTopRow(95);
    EXPECT_EQ(m.topRow(), 80);
    m.setTopRow(-3);
    EXPECT_EQ(m.topRow(), 0);
}

}  // namespace
}  // namespace hx
