#pragma once
// The unit's twelve 16-bit menu words (24 bytes), in the order the unit keeps them.

#include <array>
#include <cstdint>

namespace hx {

struct MenuSettings {
    enum Word : int {
        kPress = 0,    // PRESS index: pressure 100 + 10 * index mmHg
        kSense = 1,    // SENSE
        kAutoS = 2,    // AUTO-S (repeat count)
        kAutoP = 3,    // AUTO-P flag
        kDbp = 4,      // DBP flag: show MBP and DBP
        kUsb = 5,      // USB flag
        kPrint = 6,    // PRINT flag
        kSound = 7,    // SOUND flag
        kSpeed = 8,    // SPEED
        kType = 9,     // TYPE: 0 rabbit/monkey, 1 dog, 2 other
        kWord10 = 10,  // not edited on the PC; sent back as last read
        kTime = 11,    // TIME flag: show the clock dialog
    };
    std::array<std::int16_t, 12> words{8, 2, 3, 1, 1, 1, 1, 1, 0, 1, 0, 0};

    std::int16_t& operator[](int i) { return words[static_cast<std::size_t>(i)]; }
    std::int16_t operator[](int i) const { return words[static_cast<std::size_t>(i)]; }
    bool operator==(const MenuSettings&) const = default;
};
static_assert(sizeof(MenuSettings) == 24);

}  // namespace hx
