#include "settings/MenuDialogModel.h"

#include <algorithm>
#include <cstdint>

namespace hx {

namespace {

int indexWithin(int value, std::size_t count) {
    return value >= 0 && static_cast<std::size_t>(value) < count ? value : -1;
}

bool bit0(std::int16_t word) { return (word & 1) != 0; }

}  // namespace

MenuDialogControls menuDialogControls(const MenuSettings& s) {
    MenuDialogControls c;
    c.pressPosition = std::clamp(s[MenuSettings::kPress] + 1, MenuDialogControls::kSliderMin,
                                 MenuDialogControls::kSliderMax);
    c.senseIndex = indexWithin(s[MenuSettings::kSense], kSenseItems.size());
    c.autoSIndex = indexWithin(s[MenuSettings::kAutoS], kAutoSItems.size());
    c.autoP = s[MenuSettings::kAutoP] != 0;
    c.dbp = bit0(s[MenuSettings::kDbp]);
    c.usb = bit0(s[MenuSettings::kUsb]);
    c.print = bit0(s[MenuSettings::kPrint]);
    c.sound = bit0(s[MenuSettings::kSound]);
    c.time = bit0(s[MenuSettings::kTime]);
    c.speed = indexWithin(s[MenuSettings::kSpeed], kSpeedItems.size());
    c.type = indexWithin(s[MenuSettings::kType], kTypeItems.size());
    return c;
}

MenuSettings menuDialogResult(const MenuDialogControls& c, const MenuSettings& read) {
    MenuSettings out = read;
    auto chosen = [&](int index, int word) {
        if (index >= 0) out[word] = static_cast<std::int16_t>(index);
    };
    out[MenuSettings::kPress] = static_cast<std::int16_t>(
        std::clamp(c.pressPosition, MenuDialogControls::kSliderMin, MenuDialogControls::kSliderMax) - 1);
    chosen(c.senseIndex, MenuSettings::kSense);
    chosen(c.autoSIndex, MenuSettings::kAutoS);
    out[MenuSettings::kAutoP] = c.autoP ? 1 : 0;
    out[MenuSettings::kDbp] = c.dbp ? 1 : 0;
    out[MenuSettings::kSound] = c.sound ? 1 : 0;
    chosen(c.speed, MenuSettings::kSpeed);
    chosen(c.type, MenuSettings::kType);
    out[MenuSettings::kTime] = c.time ? 1 : 0;
    return out;
}

std::string pressOpeningText(const MenuSettings& s) {
    return std::to_string(s[MenuSettings::kPress] * 10 + 100);
}

std::string pressSlidingText(int position) {
    return std::to_string(static_cast<std::int16_t>(position * 10 + 90));
}

}  // namespace hx
