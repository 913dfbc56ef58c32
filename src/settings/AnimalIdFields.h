#pragma once
// The fields of the Animal ID dialog: which characters each accepts and how
// many, by form (short or long animal number), and the rule that applies
// them to an edit. Plain C++ so the console front end and the tests share
// the widgets' rule. UI thread only; no state.
//
// Letters are ASCII letters only: the unit keeps 7-bit characters, so an
// accented letter would come back changed and spoil the character beside it.

#include <cstddef>
#include <string>
#include <string_view>

namespace hx {

// The character filter of a field.
enum class CharFilter {
    kAny = 0,            // every character (the read-only folder field)
    kDigits = 1,         // 0-9
    kLetters = 2,        // A-Z, a-z
    kLettersDigits = 3,  // letters and digits
    kText = 4,           // letters, digits and ".-/' "
    kNone = 5,           // nothing
};

enum class AnimalField { kAnimalNo, kStudyNo, kWeight, kSexAge, kComment, kDataFolder };

struct FieldRule {
    CharFilter filter = CharFilter::kAny;
    std::size_t limit = 0;  // most characters the field takes; 0: no limit
};

// The rule of a field in the short form (animal and study number 3 characters,
// the animal number digits only) or the long-ID form (8, letters and digits).
FieldRule animalFieldRule(AnimalField field, bool longId);

// Whether the filter takes the typed character c (a UTF-16 code unit or a
// code point). Backspace (8) passes every filter that takes anything.
bool acceptsTyped(CharFilter filter, char32_t c);

// An edit of a field as the widget reports it: the text before, the text after
// and the cursor after. The characters the edit inserted (those before the
// cursor that the text before did not have there) pass the filter one by one
// as if typed; those beyond the limit are dropped, as a full field refuses a
// key. Text that was there before is kept as it is, even when it breaks the
// rule (a longer number from the profile, or one of the other form), so
// nothing the user did not touch is lost.
struct FieldEdit {
    std::u16string text;
    std::size_t cursor = 0;
};
FieldEdit applyFieldEdit(const FieldRule& rule, std::u16string_view before, std::u16string_view after,
                         std::size_t cursor);

}  // namespace hx
