// The Monitor dialog driven through its widgets, with its preview checked by pixels.

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "gui/dialogs/CMonitorDialog.h"
#include "gui/dialogs/CTraceImageBox.h"

namespace hx {
namespace {

// The colour at the middle of the preview's line y, and of its background.
struct PreviewPixels {
    QColor press, wave, background;
};
PreviewPixels previewPixels(CMonitorDialog& dialog) {
    CTraceImageBox* box = dialog.traceImage();
    const QImage image = box->grab().toImage();
    const TracePreview p = tracePreview(dialog.state(), 0, 0, box->width(), box->height());
    const double ratio = image.devicePixelRatio();
    auto at = [&](int x, int y) { return image.pixelColor(qRound(x * ratio), qRound(y * ratio)); };
    const int x = p.left + p.width / 2;
    return {at(x, p.press.y), at(x, p.wave.y), at(x, p.top + 2)};
}

class MonitorDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { test::ensureApplication(); }
};

TEST_F(MonitorDialogTest, OpensWithTableColoursAndDrawsThemInThePreview) {
    MonitorValues values;
    values.pressColorNo = 14;
    values.pressColor = 0x00FF00;  // ignored: the index decides
    CMonitorDialog dialog(values, QStringLiteral("Halnor40KU: ID->2"));
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Halnor40KU: ID->2");
    EXPECT_EQ(dialog.pressColorList()->currentText(), "Red");
    EXPECT_EQ(dialog.filenameTypeList()->currentText(), "DDhhmmss");
    PreviewPixels px = previewPixels(dialog);
    EXPECT_EQ(px.press, QColor(255, 0, 0));
    EXPECT_EQ(px.wave, QColor(0, 0, 255));
    EXPECT_EQ(px.background, QColor(255, 255, 255));

    // A new wave colour shows at once.
    QTest::keyClick(dialog.waveColorList(), Qt::Key_End);  // "Yellow"
    EXPECT_EQ(previewPixels(dialog).wave, QColor(255, 255, 0));
}

TEST_F(MonitorDialogTest, DefaultAfterBlackKeepsBlackCheckedWithAWhitePreview) {
    MonitorValues values;
    CMonitorDialog dialog(values, QString());
    dialog.show();
    dialog.backgroundGroup()->button(1)->click();
    EXPECT_EQ(previewPixels(dialog).background, QColor(0, 0, 0));
    dialog.defaultButton()->click();
    EXPECT_EQ(dialog.backgroundGroup()->checkedId(), 1);
    EXPECT_EQ(previewPixels(dialog).background, QColor(255, 255, 255));
    EXPECT_EQ(dialog.filenameTypeList()->currentText(), "MMDDhhmm");
    dialog.accept();
    MonitorValues stored;
    dialog.storeInto(stored);
    EXPECT_EQ(stored.backColorNo, 1);
    EXPECT_EQ(stored.backColor, kWhite);
    EXPECT_EQ(stored.filenameType, 0);
}

TEST_F(MonitorDialogTest, PickedColourIsStoredWithTheColorTableChoice) {
    MonitorValues values;
    CMonitorDialog dialog(values, QString());
    dialog.setColorChooser(
        [](const QColor&, QWidget*) { return std::optional<QColor>(QColor(0x12, 0x34, 0x56)); });
    dialog.show();
    dialog.backgroundGroup()->button(2)->click();
    EXPECT_EQ(previewPixels(dialog).background, QColor(0x12, 0x34, 0x56));
    dialog.accept();
    MonitorValues stored;
    dialog.storeInto(stored);
    EXPECT_EQ(stored.backColorNo, 2);
    EXPECT_EQ(stored.backColor, 0x563412);

    // A chooser closed without a colour changes nothing.
    CMonitorDialog second(stored, QString());
    second.setColorChooser([](const QColor&, QWidget*) { return std::optional<QColor>(); });
    second.backgroundGroup()->button(2)->click();
    EXPECT_EQ(second.state().backColor, 0x563412);
}

}  // namespace
}  // namespace hx
