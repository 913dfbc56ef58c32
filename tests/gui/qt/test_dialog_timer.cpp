// The Timer mode dialog driven through its widgets, with timer files.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "GuiTestSupport.h"
#include "gui/dialogs/CTimerModeDialog.h"
#include "support/TempDir.h"

namespace hx {
namespace {

class TimerDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ensureApplication();
        dialog.show();
        QApplication::setActiveWindow(&dialog);
    }
    // Types text into a field and leaves it with Enter.
    void enter(QLineEdit* field, const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    CTimerSchedule schedule;
    CTimerModeDialog dialog{schedule, {}};
};

TEST_F(TimerDialogTest, WorkedExamplesThroughTheFields) {
    enter(dialog.intervalField(0), "1:00");
    enter(dialog.intervalField(1), "2:00");
    enter(dialog.intervalField(2), "5:00");
    EXPECT_TRUE(dialog.isVisible()) << "Enter does not close the dialog";
    EXPECT_EQ(dialog.timeField(0)->text(), "00:01:00");
    EXPECT_EQ(dialog.timeField(1)->text(), "00:03:00");
    EXPECT_EQ(dialog.timeField(2)->text(), "00:08:00");

    enter(dialog.timeField(1), "00:10:00");
    EXPECT_EQ(dialog.intervalField(1)->text(), "09:00");
    EXPECT_EQ(dialog.intervalField(2)->text(), "-02:00");
    EXPECT_EQ(dialog.timeField(2)->text(), "00:08:00");

    enter(dialog.intervalField(0), "61:40");
    EXPECT_EQ(dialog.intervalField(0)->text(), "01:40");
    EXPECT_EQ(dialog.timeField(0)->text(), "01:01:40");

    // A text without a value stays as typed and changes nothing.
    enter(dialog.intervalField(3), "abc");
    EXPECT_EQ(dialog.intervalField(3)->text(), "abc");
    EXPECT_EQ(dialog.model().interval(3), 0);

    // Leaving a field by the focus takes it too; passing through a field
    // without typing changes nothing, even where the column cannot show the
    // whole value (the hour of 61:40).
    dialog.intervalField(0)->setFocus();
    dialog.intervalField(3)->setFocus();
    EXPECT_EQ(dialog.model().interval(0), 3700);
    dialog.intervalField(3)->selectAll();
    QTest::keyClicks(dialog.intervalField(3), "-2:00");
    dialog.timeField(5)->setFocus();
    EXPECT_EQ(dialog.model().interval(3), -120);
}

TEST_F(TimerDialogTest, ScrollingShowsTheLastRowsAndKeepsWhatIsTyped) {
    dialog.intervalField(0)->setFocus();
    QTest::keyClicks(dialog.intervalField(0), "30");
    dialog.scrollBar()->setValue(dialog.scrollBar()->maximum());
    EXPECT_EQ(dialog.scrollBar()->maximum(), 80);
    EXPECT_EQ(dialog.rowLabel(0)->text(), "81");
    EXPECT_EQ(dialog.rowLabel(19)->text(), "100");
    EXPECT_EQ(dialog.model().interval(0), 30) << "the text typed before scrolling belongs to row 1";
    QTest::keyClick(dialog.scrollBar(), Qt::Key_PageUp);
    EXPECT_EQ(dialog.rowLabel(0)->text(), "71");
}

TEST_F(TimerDialogTest, WriteThenReadRoundTripsAndAFailedReadKeepsTheRows) {
    test::TempDir dir;
    const std::string path = dir.folder() + "series.tm";
    dialog.setFileChooser(
        [&](bool, QWidget*) { return std::optional<QString>(QString::fromStdString(path)); });
    enter(dialog.intervalField(0), "60");
    enter(dialog.intervalField(1), "2:00");
    enter(dialog.timeField(2), "0:08:00*");
    dialog.writeButton()->click();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "60\n120\n-300\n");

    dialog.clearAllButton()->click();
    EXPECT_EQ(dialog.intervalField(0)->text(), "");
    EXPECT_EQ(schedule.intervals().size(), 2u) << "ClearAll leaves the schedule alone";
    dialog.readButton()->click();
    EXPECT_EQ(dialog.intervalField(1)->text(), "02:00");
    EXPECT_EQ(dialog.timeField(2)->text(), "00:08:00*");

    // The file is gone by the time it is read: a message, and the rows stay.
    enter(dialog.intervalField(3), "10");
    std::filesystem::remove(path);
    QString shown;
    test::whenModal<QMessageBox>([&](QMessageBox* message) {
        shown = message->windowTitle() + ": " + message->text();
        message->accept();
    });
    dialog.readButton()->click();
    EXPECT_EQ(shown, "Error in Read Timerfile: File Open Error");
    EXPECT_EQ(dialog.model().interval(3), 10);
    EXPECT_EQ(dialog.intervalField(0)->text(), "01:00");
}

}  // namespace
}  // namespace hx
