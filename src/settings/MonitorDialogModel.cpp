#include "settings/MonitorDialogModel.h"

namespace hx {

std::int32_t colorTableValue(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= kColorTable.size()) return kBlack;
    const ColorTableEntry& e = kColorTable[static_cast<std::size_t>(index)];
    return static_cast<std::int32_t>(e.red | (e.green << 8) | (e.blue << 16));
}

namespace {
// A value edited by hand may lie outside its list: it opens as the default
// (a blank list would otherwise be stored back as -1 on OK).
std::int32_t within(std::int32_t value, std::size_t count, std::int32_t fallback) {
    return value >= 0 && static_cast<std::size_t>(value) < count ? value : fallback;
}
}  // namespace

MonitorDialogState MonitorDialogState::fromValues(const MonitorValues& v) {
    MonitorDialogState defaults;
    defaults.restoreDefaults();
    MonitorDialogState s;
    s.pressWidth = within(v.pressWidth, kTraceWidthItems.size(), defaults.pressWidth);
    s.waveWidth = within(v.waveWidth, kTraceWidthItems.size(), defaults.waveWidth);
    s.waveColorNo = within(v.waveColorNo, hx::kColorTable.size(), defaults.waveColorNo);
    s.pressColorNo = within(v.pressColorNo, hx::kColorTable.size(), defaults.pressColorNo);
    s.backChoice = v.backColorNo >= kPicked && v.backColorNo <= kColorTable ? v.backColorNo : kWhiteChoice;
    s.timerMode = within(v.timerMode, 2, defaults.timerMode);
    s.traceMode = within(v.traceMode, 2, defaults.traceMode);
    s.outputFile = within(v.outputFile, kCreateDatafileItems.size(), defaults.outputFile);
    s.filenameType = within(v.filenameType, kFilenameTypeItems.size(), defaults.filenameType);
    s.backColor = v.backColor;
    s.pressColor = colorTableValue(s.pressColorNo);
    s.waveColor = colorTableValue(s.waveColorNo);
    return s;
}

void MonitorDialogState::storeInto(MonitorValues& v) const {
    v.pressWidth = pressWidth;
    v.waveWidth = waveWidth;
    v.waveColorNo = waveColorNo;
    v.pressColorNo = pressColorNo;
    v.backColorNo = backChoice;
    v.timerMode = timerMode;
    v.traceMode = traceMode;
    v.outputFile = outputFile;
    v.filenameType = filenameType;
    v.backColor = backColor;
    v.pressColor = pressColor;
    v.waveColor = waveColor;
}

void MonitorDialogState::selectPressColor(int index) {
    pressColorNo = index;
    pressColor = colorTableValue(index);
}

void MonitorDialogState::selectWaveColor(int index) {
    waveColorNo = index;
    waveColor = colorTableValue(index);
}

void MonitorDialogState::chooseWhite() {
    backColor = kWhite;
    backChoice = kWhiteChoice;
}

void MonitorDialogState::chooseBlack() {
    backColor = kBlack;
    backChoice = kBlackChoice;
}

void MonitorDialogState::colorPicked(std::int32_t colour) {
    backColor = colour & 0xFFFFFF;
    backChoice = kPicked;
}

void MonitorDialogState::restoreDefaults() {
    waveWidth = 1;
    outputFile = 1;
    pressColorNo = 6;
    pressWidth = 0;
    waveColorNo = 0;
    filenameType = 0;
    timerMode = 0;
    traceMode = 0;
    backColor = kWhite;
    pressColor = colorTableValue(6);
    waveColor = colorTableValue(0);
}

TracePreview tracePreview(const MonitorDialogState& s, int boxLeft, int boxTop, int boxWidth, int boxHeight) {
    TracePreview p{};
    p.left = boxLeft + 4;
    p.top = boxTop + 16;
    p.width = boxWidth - 8;
    p.height = boxHeight - 20;
    p.background = s.backColor;
    p.press = {p.top + p.height / 3, (s.pressWidth & 1) + 1, s.pressColor};
    p.wave = {p.top + 2 * p.height / 3, (s.waveWidth & 1) + 1, s.waveColor};
    return p;
}

}  // namespace hx
