// The device-ID choice: which buttons it offers and what it answers; where the
// choosers open.

#include <gtest/gtest.h>

#include <QRadioButton>

#include "GuiTestSupport.h"
#include "gui/dialogs/CDeviceIdDialog.h"
#include "gui/dialogs/StartFolder.h"

namespace hx::test {
namespace {

TEST(DeviceIdDialog, OffersOnlyListedIdsAndAnswersTheCheckedOne) {
    ensureApplication();
    CDeviceIdDialog dialog({2, 5, 40, -1, 2});
    EXPECT_EQ(dialog.windowTitle(), "DEV_TYPE");
    for (int id = 0; id < CDeviceIdDialog::kIds; ++id) {
        EXPECT_EQ(dialog.button(id)->isEnabled(), id == 2 || id == 5) << id;
        EXPECT_FALSE(dialog.button(id)->isChecked()) << id;
        EXPECT_EQ(dialog.button(id)->text(), QString::number(id + 1));
    }
    dialog.accept();
    EXPECT_FALSE(dialog.choice().has_value()) << "OK without a choice leaves it to the caller";

    CDeviceIdDialog second({2, 5});
    second.button(5)->setChecked(true);
    second.accept();
    EXPECT_EQ(second.choice(), 5);
}

}  // namespace
}  // namespace hx::test

namespace hx::test {
// Choosers open in a folder that exists: the nearest existing parent of a
// folder since removed, else the home folder.
TEST(StartFolder, IsTheNearestFolderThatExists) {
    TempDir dir;
    const QString root = QString::fromStdString(dir.path().string());
    EXPECT_EQ(existingFolder(root + QStringLiteral("/gone/deeper")), root);
    EXPECT_EQ(existingFolder(root), root);
    EXPECT_EQ(existingFolder(QString()), QDir::homePath());
}
}  // namespace hx::test
