// The texts every front end shows: state names, error pane, title, history
// cells and the clock dialog's lines.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "control/DisplayTexts.h"

namespace hx {
namespace {

TEST(DisplayTexts, StateNamesAndErrorPane) {
    EXPECT_EQ(unitStateName(2), "View");
    EXPECT_EQ(unitStateName(10), "Wait ");
    EXPECT_EQ(unitStateName(12), "Browse SD");
    EXPECT_EQ(unitStateName(7), "---");
    EXPECT_EQ(unitStateName(-1), "---");
    EXPECT_EQ(errorPaneText(1), "Error !!");
    EXPECT_EQ(errorPaneText(129), "Command send fail.");
    EXPECT_EQ(errorPaneText(130), "Have found repeat device ID. Please to check device ID. ");
    EXPECT_EQ(errorPaneText(0), "---");
    EXPECT_EQ(errorPaneText(128, ENOENT), std::strerror(ENOENT));
}

TEST(DisplayTexts, TitleAndCaptionShowTheIdCountingFromOne) {
    EXPECT_EQ(windowTitle(false, 0), "Halnor40KU (Not Connected)->1");
    EXPECT_EQ(windowTitle(true, 2), "Halnor40KU (Connected)->3");
    EXPECT_EQ(dialogCaption(15), "Halnor40KU: ID->16");
}

TEST(HistoryCells, ValidResultWithAndWithoutMbpDbp) {
    HistoryRow row{3, 380, 121, 100, 85, "120315093045"};
    HistoryCells shown = historyCells(row, 0, true);
    EXPECT_EQ(shown.text, (std::array<std::string, 6>{"3", "380", "121", "100", "85", "09:30:45"}));
    HistoryCells sbpOnly = historyCells(row, 0, false);
    EXPECT_EQ(sbpOnly.text[2], "121");
    EXPECT_EQ(sbpOnly.text[3], "---");
    EXPECT_EQ(sbpOnly.text[4], "---");
}

TEST(HistoryCells, FailedResultHidesThePressures) {
    HistoryRow row{7, 90, 121, 100, 85, "120315093045"};
    HistoryCells cells = historyCells(row, 16, true);
    EXPECT_EQ(cells.text[0], "7");
    EXPECT_EQ(cells.text[1], "90");
    for (int i = 2; i <= 4; ++i) EXPECT_EQ(cells.text[i], "---");
}

TEST(HistoryCells, NegativeNumbersPrintAsUnsigned) {
    HistoryRow row{-1, -2, 0, 0, 0, "1203"};
    HistoryCells cells = historyCells(row, 0, true);
    EXPECT_EQ(cells.text[0], "4294967295");
    EXPECT_EQ(cells.text[1], "4294967294");
    EXPECT_EQ(cells.text[5], "");  // a short date-time text has no time
}

std::tm pcTime(int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = 2012 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 15;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(ClockDialogLines, UnitInStepShowsThePcSecond) {
    auto lines = clockDialogLines(pcTime(9, 30, 5), {2012, 3, 15, 9, 30, 4});
    EXPECT_EQ(lines[0], "    PC:2012/03/15 09:30:05");
    EXPECT_EQ(lines[1], "HX-40K:2012/03/15 09:30:05");
}

TEST(ClockDialogLines, UnitBehindAcrossAMinuteShowsItsOwnTime) {
    auto lines = clockDialogLines(pcTime(9, 30, 0), {2012, 3, 15, 9, 29, 59});
    EXPECT_EQ(lines[1], "HX-40K:2012/03/15 09:29:59");
}

TEST(ClockDialogLines, UnitTwoSecondsOffKeepsItsSecond) {
    auto lines = clockDialogLines(pcTime(9, 30, 10), {2012, 3, 15, 9, 30, 8});
    EXPECT_EQ(lines[1], "HX-40K:2012/03/15 09:30:08");
}

}  // namespace
}  // namespace hx
