// The Menu dialog driven through its widgets.

#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QTest>

#include "GuiTestSupport.h"
#include "gui/dialogs/CMenuDialog.h"

namespace hx {
namespace {

TEST(MenuDialog, SliderTextFollowsTheSliderAndOkBuildsTheWords) {
    test::ensureApplication();
    MenuSettings read;
    read.words = {9, 2, 10, 1, 3, 1, 0, 1, 0, 1, 42, 0};
    CMenuDialog dialog(read, QStringLiteral("Halnor40KU: ID->1"));
    EXPECT_EQ(dialog.windowTitle(), "Halnor40KU: ID->1");
    EXPECT_EQ(dialog.pressSlider()->value(), 10);
    EXPECT_EQ(dialog.pressText()->text(), "190");
    EXPECT_EQ(dialog.autoSList()->currentText(), " 10");
    EXPECT_TRUE(dialog.box(MenuSettings::kDbp)->isChecked());
    EXPECT_FALSE(dialog.box(MenuSettings::kUsb)->isEnabled());
    EXPECT_FALSE(dialog.box(MenuSettings::kPrint)->isEnabled());
    EXPECT_EQ(dialog.typeGroup()->checkedButton()->text(), "DOG");

    QTest::keyClick(dialog.pressSlider(), Qt::Key_End);
    EXPECT_EQ(dialog.pressText()->text(), "350");
    QTest::keyClick(dialog.pressSlider(), Qt::Key_Left);
    EXPECT_EQ(dialog.pressText()->text(), "340");
    dialog.autoSList()->setCurrentIndex(0);
    EXPECT_EQ(dialog.autoSList()->currentText(), " OFF");
    dialog.box(MenuSettings::kTime)->click();
    dialog.speedGroup()->button(2)->click();
    dialog.accept();
    EXPECT_EQ(dialog.result().words, (std::array<std::int16_t, 12>{24, 2, 0, 1, 1, 1, 0, 1, 2, 1, 42, 1}));
}

}  // namespace
}  // namespace hx
