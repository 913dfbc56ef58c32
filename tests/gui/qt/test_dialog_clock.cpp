// The device clock dialog driven through its widgets.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QPushButton>

#include "GuiTestSupport.h"
#include "gui/dialogs/CClockDialog.h"

namespace hx {
namespace {

std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST(ClockDialog, ShowsBothClocksSetsTheClockAndEndsWhenTheUnitIsLost) {
    test::ensureApplication();
    const std::time_t pc = localTime(2012, 3, 15, 9, 30, 5);
    CClockDialog dialog([pc] { return pc; });
    // Whatever fontconfig gives for "Courier New": fixed pitch and bold.
    EXPECT_TRUE(QFontInfo(dialog.textFont()).fixedPitch())
        << QFontInfo(dialog.textFont()).family().toStdString();
    EXPECT_TRUE(QFontInfo(dialog.textFont()).bold());

    ClockDialogModel model;
    model.unitTime = {2012, 3, 15, 9, 29, 0};
    int setRequests = 0;
    model.setClockRequested = [&] {
        ++setRequests;
        model.unitTime = {2012, 3, 15, 9, 30, 4};  // the unit's clock read back, a second behind
        model.refresh();
    };
    test::whenModal([&](QWidget* shown) {
        EXPECT_EQ(shown, &dialog);
        EXPECT_EQ(dialog.windowTitle(), "Date&Time");
        EXPECT_EQ(dialog.lines()[1], "HX-40K:2012/03/15 09:29:00");
        dialog.setClockButton()->click();
        EXPECT_EQ(dialog.lines()[0], "    PC:2012/03/15 09:30:05");
        EXPECT_EQ(dialog.lines()[1], "HX-40K:2012/03/15 09:30:05") << "a unit in step shows the PC's second";
        dialog.run(model);  // a second request while it runs returns at once
        dialog.endIfShowing();
    });
    dialog.run(model);
    EXPECT_EQ(setRequests, 1);
    EXPECT_FALSE(dialog.isShowing());
    EXPECT_FALSE(model.refresh);
}

}  // namespace
}  // namespace hx
