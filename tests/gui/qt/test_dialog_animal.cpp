// The Animal ID dialog driven through its widgets.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "gui/dialogs/CAnimalIdDialog.h"

namespace hx {
namespace {

class AnimalDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { test::ensureApplication(); }

    AnimalDialogModel model(bool longId) {
        AnimalDialogModel m;
        m.longId = longId;
        m.caption = "Halnor40KU: ID->1";
        m.texts.animalNo = "12";
        m.dataFolder = "/data/mouse/";
        return m;
    }
};

// Keys as a keyboard sends them; letters beyond ASCII carry only their text.
void typeKeys(QLineEdit* edit, const QString& keys) {
    for (QChar c : keys) {
        if (c.unicode() < 0x80)
            QTest::keyClick(edit, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// Types keys into the fields while the dialog runs, then presses OK.
std::string typedInto(CAnimalIdDialog& dialog, AnimalDialogModel& m, AnimalField which, const QString& keys) {
    test::whenModal([&](QWidget*) {
        QLineEdit* edit = dialog.field(which);
        edit->clear();
        typeKeys(edit, keys);
        dialog.accept();
    });
    EXPECT_TRUE(dialog.run(m));
    switch (which) {
        case AnimalField::kAnimalNo:
            return m.texts.animalNo;
        case AnimalField::kStudyNo:
            return m.texts.studyNo;
        case AnimalField::kComment:
            return m.texts.comment;
        default:
            return m.texts.weight;
    }
}

TEST_F(AnimalDialogTest, TypedCharactersFollowTheFieldAndForm) {
    CAnimalIdDialog dialog;
    AnimalDialogModel shortForm = model(false);
    AnimalDialogModel longForm = model(true);
    EXPECT_EQ(typedInto(dialog, shortForm, AnimalField::kAnimalNo, "A1234"), "123");
    EXPECT_EQ(typedInto(dialog, longForm, AnimalField::kAnimalNo, "AB12-"), "AB12");
    EXPECT_EQ(typedInto(dialog, shortForm, AnimalField::kStudyNo, "S-1/2"), "S-1");
    EXPECT_EQ(typedInto(dialog, longForm, AnimalField::kStudyNo, "S-1/2"), "S-1/2");
    EXPECT_EQ(typedInto(dialog, shortForm, AnimalField::kComment, QString::fromUtf8("a;b_ 'é\bc")), "ab c")
        << "semicolon, underscore and accented letter refused; backspace works";
}

TEST_F(AnimalDialogTest, PastedTextPassesTheSameFilter) {
    CAnimalIdDialog dialog;
    AnimalDialogModel m = model(false);
    test::whenModal([&](QWidget*) {
        QApplication::clipboard()->setText(QString::fromUtf8("S-1/2"));
        dialog.field(AnimalField::kStudyNo)->paste();
        QApplication::clipboard()->setText(QString::fromUtf8("Grüne; Maus_1"));
        dialog.field(AnimalField::kComment)->paste();
        dialog.accept();
    });
    ASSERT_TRUE(dialog.run(m));
    EXPECT_EQ(m.texts.studyNo, "S-1");
    EXPECT_EQ(m.texts.comment, "Grne Maus1");
}

TEST_F(AnimalDialogTest, UnitBlockRefreshesFieldsAndFolderChoiceKeepsTypedText) {
    CAnimalIdDialog dialog;
    dialog.setFolderChooser([](QWidget*) { return std::optional<QString>(QStringLiteral("/srv/rats")); });
    AnimalDialogModel m = model(true);
    test::whenModal([&](QWidget* shown) {
        EXPECT_EQ(shown, &dialog);
        EXPECT_EQ(dialog.windowTitle(), "Halnor40KU: ID->1");
        EXPECT_EQ(dialog.field(AnimalField::kAnimalNo)->text(), "12");
        EXPECT_TRUE(dialog.field(AnimalField::kDataFolder)->isReadOnly());
        // The unit's animal block arrives: every field shows the model's texts,
        // even those longer than the form allows.
        m.texts.animalNo = "AB123456";
        m.texts.comment = "from the unit";
        m.refresh();
        EXPECT_EQ(dialog.field(AnimalField::kComment)->text(), "from the unit");
        QTest::keyClicks(dialog.field(AnimalField::kWeight), "25g");
        dialog.directoryButton()->click();
        EXPECT_FALSE(dialog.run(m)) << "one at a time";
        dialog.accept();
    });
    ASSERT_TRUE(dialog.run(m));
    EXPECT_EQ(m.texts.animalNo, "AB123456");
    EXPECT_EQ(m.texts.weight, "25g");
    EXPECT_EQ(m.dataFolder, "/srv/rats/");
    EXPECT_FALSE(m.refresh) << "no refresh once the dialog has closed";

    dialog.setFolderChooser([](QWidget*) { return std::optional<QString>(); });
    test::whenModal([&](QWidget*) {
        dialog.directoryButton()->click();
        EXPECT_EQ(dialog.field(AnimalField::kDataFolder)->text(), "/srv/rats/");
        dialog.endIfShowing();  // the unit was lost
    });
    m.texts.sexAge = "kept";
    EXPECT_FALSE(dialog.run(m));
    EXPECT_EQ(m.texts.sexAge, "kept") << "Cancel changes nothing";
    dialog.endIfShowing();  // not showing: nothing happens
}

}  // namespace
}  // namespace hx
