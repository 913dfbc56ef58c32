// The models behind the Animal ID, Menu and Monitor dialogs.

#include <gtest/gtest.h>

#include "settings/AnimalIdFields.h"
#include "settings/MenuDialogModel.h"
#include "settings/MonitorDialogModel.h"

namespace hx {
namespace {

// Types text into a field key by key, as the widget reports each key.
std::u16string typed(const FieldRule& rule, std::u16string_view keys, std::u16string text = {}) {
    for (char16_t key : keys) {
        const std::u16string after = text + key;
        text = applyFieldEdit(rule, text, after, after.size()).text;
    }
    return text;
}

FieldEdit pasted(const FieldRule& rule, std::u16string_view before, std::size_t at,
                 std::u16string_view clip) {
    std::u16string after(before.substr(0, at));
    after += clip;
    after += before.substr(at);
    return applyFieldEdit(rule, before, after, at + clip.size());
}

TEST(AnimalFields, NumbersFollowTheForm) {
    const FieldRule shortNo = animalFieldRule(AnimalField::kAnimalNo, false);
    const FieldRule longNo = animalFieldRule(AnimalField::kAnimalNo, true);
    EXPECT_EQ(typed(shortNo, u"A"), u"");
    EXPECT_EQ(typed(shortNo, u"1234"), u"123");
    EXPECT_EQ(typed(longNo, u"AB12-"), u"AB12");
    EXPECT_EQ(typed(animalFieldRule(AnimalField::kStudyNo, true), u"S-1/2"), u"S-1/2");
    EXPECT_EQ(typed(animalFieldRule(AnimalField::kStudyNo, false), u"S-1/2"), u"S-1");
}

TEST(AnimalFields, TextFieldsTakeAsciiLettersDigitsAndFiveMarks) {
    const FieldRule comment = animalFieldRule(AnimalField::kComment, false);
    EXPECT_EQ(typed(comment, u"a;b_c' d"), u"abc' d");
    // The unit keeps 7-bit characters: accented letters would come back changed.
    EXPECT_EQ(typed(comment, u"M\u00e9lanie \u00c5"), u"Mlanie ");
    EXPECT_EQ(typed(comment, std::u16string(40, u'x')).size(), 32u);
    for (CharFilter f :
         {CharFilter::kDigits, CharFilter::kLetters, CharFilter::kLettersDigits, CharFilter::kText})
        EXPECT_TRUE(acceptsTyped(f, 8)) << "backspace in filter " << static_cast<int>(f);
    EXPECT_FALSE(acceptsTyped(CharFilter::kNone, 8));
}

TEST(AnimalFields, PasteKeepsAcceptedCharactersUpToTheLimit) {
    const FieldRule weight = animalFieldRule(AnimalField::kWeight, false);
    FieldEdit edit = pasted(weight, u"", 0, u"1.5;kg\u00e9!");
    EXPECT_EQ(edit.text, u"1.5kg");
    EXPECT_EQ(edit.cursor, 5u);
    // Pasted in the middle of "12": only one character fits the limit of 3.
    edit = pasted(animalFieldRule(AnimalField::kAnimalNo, false), u"12", 1, u"x789");
    EXPECT_EQ(edit.text, u"172");
    EXPECT_EQ(edit.cursor, 2u);
}

TEST(AnimalFields, TextFromBeforeIsKeptEvenWhenItBreaksTheRule) {
    // A long-form number shown in the short form: nothing is cut or filtered,
    // keys that would lengthen it are refused, deleting works.
    const FieldRule shortNo = animalFieldRule(AnimalField::kAnimalNo, false);
    EXPECT_EQ(typed(shortNo, u"7", u"AB123456"), u"AB123456");
    EXPECT_EQ(applyFieldEdit(shortNo, u"AB123456", u"AB12345", 7).text, u"AB12345");
    EXPECT_EQ(applyFieldEdit(shortNo, u"AB123456", u"B123456", 0).text, u"B123456");
    // Replacing a selection with a refused key leaves the selection deleted, as typing would.
    EXPECT_EQ(applyFieldEdit(shortNo, u"123", u"1x", 2).text, u"1");
}

TEST(MenuModel, ControlsFromTheWordsAndBack) {
    MenuSettings read;
    read.words = {9, 2, 0, 2, 3, 3, 2, 1, 2, 0, 77, 1};
    const MenuDialogControls c = menuDialogControls(read);
    EXPECT_EQ(c.pressPosition, 10);
    EXPECT_EQ(pressOpeningText(read), "190");
    EXPECT_EQ(c.autoSIndex, 0);
    EXPECT_TRUE(c.autoP) << "AUTO-P takes the whole word";
    EXPECT_TRUE(c.dbp) << "DBP takes bit 0";
    EXPECT_FALSE(c.print);
    EXPECT_EQ(c.speed, 2);
    EXPECT_EQ(c.type, 0);

    MenuDialogControls changed = c;
    changed.pressPosition = 26;
    changed.autoSIndex = 10;
    EXPECT_EQ(pressSlidingText(26), "350");
    EXPECT_EQ(std::string(kAutoSItems[10]), " 10");
    const MenuSettings out = menuDialogResult(changed, read);
    EXPECT_EQ(out.words, (std::array<std::int16_t, 12>{25, 2, 10, 1, 1, 3, 2, 1, 2, 0, 77, 1}))
        << "word 10, USB and PRINT keep the values read";
}

TEST(MenuModel, ValuesWithoutAChoiceAreNotReplacedByMinusOne) {
    MenuSettings read;
    read.words = {40, 9, 11, 0, 0, 0, 0, 0, 5, -1, 0, 0};
    const MenuDialogControls c = menuDialogControls(read);
    EXPECT_EQ(c.pressPosition, 26);
    EXPECT_EQ(c.senseIndex, -1);
    EXPECT_EQ(c.autoSIndex, -1);
    EXPECT_EQ(c.speed, -1);
    EXPECT_EQ(c.type, -1);
    const MenuSettings out = menuDialogResult(c, read);
    EXPECT_EQ(out[MenuSettings::kSense], 9);
    EXPECT_EQ(out[MenuSettings::kAutoS], 11);
    EXPECT_EQ(out[MenuSettings::kSpeed], 5);
    EXPECT_EQ(out[MenuSettings::kType], -1);
    EXPECT_EQ(pressSlidingText(3277), "-32676") << "the sliding text is a 16-bit value";
}

TEST(MonitorModel, TraceColoursComeFromTheTableByIndex) {
    MonitorValues stored;
    stored.pressColorNo = 14;
    stored.pressColor = 0x123456;
    stored.waveColorNo = 18;
    MonitorDialogState s = MonitorDialogState::fromValues(stored);
    EXPECT_EQ(s.pressColor, 0x0000FF) << "Red";
    // Before: an index outside the table opened as a blank list and black, and OK stored -1.
    EXPECT_EQ(s.waveColorNo, 0) << "an index outside the table opens as the default";
    EXPECT_EQ(s.waveColor, colorTableValue(0));
    MonitorValues edited;
    edited.outputFile = 7;
    edited.filenameType = -1;
    edited.pressWidth = 2;
    const MonitorDialogState opened = MonitorDialogState::fromValues(edited);
    EXPECT_EQ(opened.outputFile, 1);
    EXPECT_EQ(opened.filenameType, 0);
    EXPECT_EQ(opened.pressWidth, 0);
    EXPECT_EQ(colorTableValue(1), 0xF0CAA6) << "Aqua, red in the low byte";

    s.pressWidth = 3;
    const TracePreview p = tracePreview(s, 10, 20, 100, 80);
    EXPECT_EQ(p.left, 14);
    EXPECT_EQ(p.top, 36);
    EXPECT_EQ(p.width, 92);
    EXPECT_EQ(p.height, 60);
    EXPECT_EQ(p.press.y, 56);
    EXPECT_EQ(p.press.width, 2);
    EXPECT_EQ(p.press.colour, 0x0000FF);
    EXPECT_EQ(p.wave.y, 76);
    EXPECT_EQ(p.wave.width, 2) << "the default wave width index 1";
}

TEST(MonitorModel, DefaultKeepsTheBackgroundChoiceAndOkStoresEverything) {
    MonitorValues values;
    values.frameTop = 7;
    MonitorDialogState s = MonitorDialogState::fromValues(values);
    s.chooseBlack();
    s.selectWaveColor(17);
    s.traceMode = 1;
    s.restoreDefaults();
    EXPECT_EQ(s.backChoice, MonitorDialogState::kBlackChoice);
    EXPECT_EQ(s.backColor, kWhite);
    EXPECT_EQ(s.filenameType, 0) << "Default gives MMDDhhmm, unlike an empty profile";
    s.storeInto(values);
    EXPECT_EQ(values.backColorNo, 1);
    EXPECT_EQ(values.backColor, kWhite);
    EXPECT_EQ(values.waveColorNo, 0);
    EXPECT_EQ(values.waveColor, 0xFF0000);
    EXPECT_EQ(values.waveWidth, 1);
    EXPECT_EQ(values.pressColor, 0x808080);
    EXPECT_EQ(values.traceMode, 0);
    EXPECT_EQ(values.frameTop, 7);

    s.colorPicked(0x7F123456);
    EXPECT_EQ(s.backColor, 0x123456);
    EXPECT_EQ(s.backChoice, MonitorDialogState::kPicked);
}

}  // namespace
}  // namespace hx
