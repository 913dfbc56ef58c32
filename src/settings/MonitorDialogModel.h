#pragma once
// The Monitor dialog's state as values: what it takes from the monitor group,
// what each control does to it, the "Default" button, the trace preview's
// geometry, and what OK stores. Plain C++; UI thread only.
// Colours are 0x00BBGGRR.

#include <array>
#include <cstdint>

#include "settings/Preference.h"

namespace hx {

struct ColorTableEntry {
    const char* name;
    std::uint8_t red, green, blue;
};
inline constexpr std::array<ColorTableEntry, 18> kColorTable{{
    {"Blue", 0, 0, 255},
    {"Aqua", 166, 202, 240},
    {"Black", 0, 0, 0},
    {"White", 255, 255, 255},
    {"LtGray", 192, 192, 192},
    {"DkGray", 160, 160, 164},
    {"Gray", 128, 128, 128},
    {"Olive", 128, 128, 0},
    {"Green", 0, 255, 0},
    {"Lime", 0, 128, 0},
    {"Fuchsia", 255, 0, 255},
    {"Maron", 128, 0, 0},
    {"Navy", 0, 0, 128},
    {"Purple", 128, 0, 128},
    {"Red", 255, 0, 0},
    {"Silver", 192, 192, 192},
    {"Teal", 0, 128, 128},
    {"Yellow", 255, 255, 0},
}};
inline constexpr std::array<const char*, 3> kFilenameTypeItems{"MMDDhhmm", "DDhhmmss", "Free"};
inline constexpr std::array<const char*, 4> kCreateDatafileItems{"Always", "No Error", "Never", "Inquire"};
inline constexpr std::array<const char*, 2> kTraceWidthItems{"1 dot", "2 dot"};

inline constexpr std::int32_t kWhite = 0xFFFFFF;
inline constexpr std::int32_t kBlack = 0x000000;

// The colour of a table entry; an index outside the table gives black.
std::int32_t colorTableValue(int index);

struct MonitorDialogState {
    enum BackChoice : std::int32_t { kPicked = -1, kWhiteChoice = 0, kBlackChoice = 1, kColorTable = 2 };

    std::int32_t backColor = kWhite;
    std::int32_t pressColor = 0;
    std::int32_t waveColor = 0;
    std::int32_t pressWidth = 0;  // list index: 0 "1 dot", 1 "2 dot"
    std::int32_t waveWidth = 0;
    std::int32_t waveColorNo = 0;
    std::int32_t pressColorNo = 0;
    std::int32_t backChoice = kWhiteChoice;  // the checked button when OK is pressed
    std::int32_t timerMode = 0;
    std::int32_t traceMode = 0;
    std::int32_t outputFile = 0;
    std::int32_t filenameType = 0;

    // Opening: the trace colours come from the table by their indices, whatever
    // the stored colours hold; the background colour is taken as stored.
    static MonitorDialogState fromValues(const MonitorValues& values);
    // OK: every dialog value into the monitor group (the frame values stay).
    void storeInto(MonitorValues& values) const;

    void selectPressColor(int index);
    void selectWaveColor(int index);
    void chooseWhite();
    void chooseBlack();
    // A colour confirmed in the colour chooser ("Color Table").
    void colorPicked(std::int32_t colour);
    // "Default": lists, boxes and trace colours to their defaults and a white
    // background; the background choice is left as it is.
    void restoreDefaults();
};

// The preview inside the " Trace Image " box: the box's rectangle less 4 pixels
// left, right and bottom and 16 at the top, filled with the background; the
// pressure line at a third of its height, the wave line at two thirds, each
// (width index AND 1) + 1 pixels wide.
struct TracePreview {
    struct Line {
        int y;
        int width;
        std::int32_t colour;
    };
    int left, top, width, height;
    std::int32_t background;
    Line press, wave;
};
TracePreview tracePreview(const MonitorDialogState& state, int boxLeft, int boxTop, int boxWidth,
                          int boxHeight);

}  // namespace hx
