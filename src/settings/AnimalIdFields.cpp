#include "settings/AnimalIdFields.h"

#include <algorithm>

namespace hx {

namespace {

constexpr std::size_t kShortNumberLimit = 3;
constexpr std::size_t kLongNumberLimit = 8;
constexpr std::size_t kTextLimit = 8;
constexpr std::size_t kCommentLimit = 32;
constexpr char32_t kBackspace = 8;

bool isAsciiLetter(char32_t c) { return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z'); }
bool isDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool isTextMark(char32_t c) { return c == U'.' || c == U'-' || c == U'/' || c == U'\'' || c == U' '; }

std::size_t commonPrefix(std::u16string_view a, std::u16string_view b) {
    std::size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
    return n;
}

}  // namespace

FieldRule animalFieldRule(AnimalField field, bool longId) {
    const std::size_t numberLimit = longId ? kLongNumberLimit : kShortNumberLimit;
    switch (field) {
        case AnimalField::kAnimalNo:
            return {longId ? CharFilter::kLettersDigits : CharFilter::kDigits, numberLimit};
        case AnimalField::kStudyNo:
            return {CharFilter::kText, numberLimit};
        case AnimalField::kWeight:
        case AnimalField::kSexAge:
            return {CharFilter::kText, kTextLimit};
        case AnimalField::kComment:
            return {CharFilter::kText, kCommentLimit};
        case AnimalField::kDataFolder:
            return {CharFilter::kAny, 0};
    }
    return {CharFilter::kNone, 0};
}

bool acceptsTyped(CharFilter filter, char32_t c) {
    switch (filter) {
        case CharFilter::kAny:
            return true;
        case CharFilter::kNone:
            return false;
        default:
            break;
    }
    if (c == kBackspace) return true;
    switch (filter) {
        case CharFilter::kDigits:
            return isDigit(c);
        case CharFilter::kLetters:
            return isAsciiLetter(c);
        case CharFilter::kLettersDigits:
            return isAsciiLetter(c) || isDigit(c);
        case CharFilter::kText:
            return isAsciiLetter(c) || isDigit(c) || isTextMark(c);
        default:
            return false;
    }
}

FieldEdit applyFieldEdit(const FieldRule& rule, std::u16string_view before, std::u16string_view after,
                         std::size_t cursor) {
    cursor = std::min(cursor, after.size());
    // Where the inserted characters lie: normally just before the cursor, with
    // the text after the cursor unchanged from before.
    std::size_t start = 0;
    std::size_t end = cursor;
    const std::u16string_view tail = after.substr(cursor);
    if (before.size() >= tail.size() && before.substr(before.size() - tail.size()) == tail) {
        start = commonPrefix(before.substr(0, before.size() - tail.size()), after.substr(0, cursor));
    } else {
        start = commonPrefix(before, after);
        std::size_t suffix = 0;
        const std::size_t most = std::min(before.size(), after.size()) - start;
        while (suffix < most && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
            ++suffix;
        end = after.size() - suffix;
    }

    std::u16string inserted;
    for (char16_t c : after.substr(start, end - start))
        if (c != kBackspace && acceptsTyped(rule.filter, c)) inserted += c;
    const std::size_t kept = after.size() - (end - start);
    if (rule.limit != 0)
        inserted.resize(std::min(inserted.size(), rule.limit > kept ? rule.limit - kept : 0));

    FieldEdit edit;
    edit.text.reserve(kept + inserted.size());
    edit.text.append(after.substr(0, start));
    edit.text.append(inserted);
    edit.text.append(after.substr(end));
    edit.cursor = start + inserted.size();
    return edit;
}

}  // namespace hx
