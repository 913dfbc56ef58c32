#pragma once
// The texts the main window shows: state names, error pane, title, history
// cells and the two lines of the clock dialog. Shared by every front end so
// the console prints exactly what the window shows.

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

#include "control/UiPort.h"
#include "usb/LinkError.h"

namespace hx {

// Name of a unit state in the state pane ("---" for anything unknown).
std::string unitStateName(int state);

// Error pane text by code: 1 "Error !!", 128 the system text of errnoValue,
// 129 "Command send fail.", 130 the duplicate-ID message, else "---".
std::string errorPaneText(int code, int errnoValue = 0);
inline constexpr const char* kDuplicateIdMessage = "Have found repeat device ID. Please to check device ID. ";

// Why no unit can be used, and what to do about it, for the error pane: the
// unit with this device ID (zero-based) could not be opened for `cause`
// (NoPermission, Busy, ...), or, for NotConfigured, no unit can be looked for.
std::string linkProblemText(int deviceId, LinkError cause);

// "Halnor40KU (Connected)->3" style title.
std::string windowTitle(bool connected, int deviceId);

// "%s: ID->%d" caption of the dialogs.
std::string dialogCaption(int deviceId);

// Cells of the history list: N, HR, SBP, MBP, DBP, time.
struct HistoryCells {
    std::array<std::string, 6> text;
};
// Applies the list's rules: an error code blanks the pressures ("---"), a clear
// show-MBP/DBP flag blanks MBP and DBP; numbers print as unsigned 32-bit.
HistoryCells historyCells(const HistoryRow& row, int errorCode, bool showMbpDbp);
// The row's whole date and time as the unit sent it, "20YY/MM/DD hh:mm:ss"
// (the Time cell shows the time of day only); empty when it has no date.
std::string historyDateTime(const HistoryRow& row);

// The two lines of the clock dialog: "    PC:YYYY/MM/DD hh:mm:ss" and
// "HX-40K:YYYY/MM/DD hh:mm:ss". A unit less than 2 s off within the same
// minute shows the PC's second.
std::array<std::string, 2> clockDialogLines(const std::tm& pcLocalTime, std::array<std::int16_t, 6> unitTime);

}  // namespace hx
