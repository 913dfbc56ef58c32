// What the user types into the dialogs, on arbitrary bytes: the Timer mode
// rows (parsers, both recomputations, texts) and the Animal ID field filter.
// Input: lines; a line's first byte picks the field and row, the rest is the text.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "settings/AnimalIdFields.h"
#include "timer/TimerDialogModel.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

bool obeys(const hx::FieldRule& rule, std::u16string_view text) {
    if (rule.limit != 0 && text.size() > rule.limit) return false;
    for (char16_t c : text)
        if (!hx::acceptsTyped(rule.filter, c)) return false;
    return true;
}

void timerLine(hx::CTimerDialogModel& model, std::uint8_t op, std::string_view text) {
    const int row = op % hx::CTimerDialogModel::kRows;
    if (op & 0x80)
        model.enterTime(row, text);
    else
        model.enterInterval(row, text);
    for (int r = 0; r < hx::CTimerDialogModel::kRows; ++r) {
        const std::int32_t t = model.time(r);
        if (t < -kMax || model.interval(r) < -kMax) __builtin_trap();
        // A time shows every part of itself, so its text reads back the same.
        if (hx::CTimerDialogModel::parseTime(hx::CTimerDialogModel::timeText(t)) != t) __builtin_trap();
        if (hx::CTimerDialogModel::intervalText(model.interval(r)).size() > 6) __builtin_trap();
    }
}

void fieldLine(std::uint8_t op, std::string_view text) {
    const auto field = static_cast<hx::AnimalField>(op % 6);
    const hx::FieldRule rule = hx::animalFieldRule(field, (op & 0x40) != 0);
    std::u16string before;
    for (char c : text.substr(0, text.size() / 2))
        before += static_cast<char16_t>(static_cast<unsigned char>(c));
    std::u16string after = before;
    const std::size_t at = before.empty() ? 0 : op % (before.size() + 1);
    std::u16string inserted;
    for (char c : text.substr(text.size() / 2))
        inserted += static_cast<char16_t>(static_cast<unsigned char>(c) * 7);
    after.insert(at, inserted);
    const hx::FieldEdit edit = hx::applyFieldEdit(rule, before, after, at + inserted.size());
    if (edit.cursor > edit.text.size()) __builtin_trap();
    // A field that obeyed its rule still does after any edit.
    if (obeys(rule, before) && !obeys(rule, edit.text)) __builtin_trap();
    // Nothing the user did not touch is lost.
    if (edit.text.substr(0, at) != before.substr(0, at)) __builtin_trap();
    if (edit.text.size() < before.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hx::CTimerDialogModel model;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        if (line.empty()) continue;
        const auto op = static_cast<std::uint8_t>(line[0]);
        if (op & 0x20)
            fieldLine(op, line.substr(1));
        else
            timerLine(model, op, line.substr(1));
    }
    return 0;
}
