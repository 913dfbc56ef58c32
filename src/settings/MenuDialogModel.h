#pragma once
// The Menu dialog's controls as values: the unit's twelve menu words turned
// into a slider position, list selections, check boxes and radio choices, and
// back into the twelve words on OK. Plain C++; UI thread only.

#include <array>
#include <string>

#include "base/MenuSettings.h"

namespace hx {

struct MenuDialogControls {
    static constexpr int kSliderMin = 1;
    static constexpr int kSliderMax = 26;
    static constexpr int kSliderTick = 10;

    int pressPosition = kSliderMin;  // PRESS index + 1
    int senseIndex = -1;             // list selection; -1 none
    int autoSIndex = -1;
    bool autoP = false;  // from the whole word (any value but 0 ticks it)
    bool dbp = false;    // DBP, USB, PRINT, SOUND and TIME from bit 0 of their words
    bool usb = false;    // shown only: their boxes are disabled
    bool print = false;
    bool sound = false;
    bool time = false;
    int speed = -1;  // radio index 0..2; -1 no button
    int type = -1;   // 0 RABBIT/MONKEY, 1 DOG, 2 OTHER; -1 no button
};

inline constexpr std::array<const char*, 8> kSenseItems{"  0", "  1", "  2", "  3",
                                                        "  4", "  5", "  6", "  7"};
inline constexpr std::array<const char*, 11> kAutoSItems{" OFF", "  1", "  2", "  3", "  4", "  5",
                                                         "  6",  "  7", "  8", "  9", " 10"};
inline constexpr std::array<const char*, 3> kSpeedItems{"1", "2", "3"};
inline constexpr std::array<const char*, 3> kTypeItems{"RABBIT/MONKEY", "DOG", "OTHER"};

// The controls on opening. A list or radio value outside its items selects
// nothing; the slider position is held within 1 to 26.
MenuDialogControls menuDialogControls(const MenuSettings& settings);

// The words on OK. Words the dialog has no choice for keep the values read:
// word 10 always, and a list or radio group with nothing selected (the unit
// would otherwise be sent -1 for a setting the user never touched), and USB
// and PRINT, whose boxes cannot be changed.
MenuSettings menuDialogResult(const MenuDialogControls& controls, const MenuSettings& read);

// The PRESS value text: "%d" of word 0 × 10 + 100 on opening, and of the slider
// position × 10 + 90 (as a 16-bit value) while the slider moves.
std::string pressOpeningText(const MenuSettings& settings);
std::string pressSlidingText(int position);

}  // namespace hx
