#include "control/DisplayTexts.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hx {

std::string unitStateName(int state) {
    switch (state) {
        case kStateAdjust:
            return "adjust";
        case kStateView:
            return "View";
        case kStatePress:
            return "Press";
        case kStateRecord:
            return "Record";
        case kStateResult:
            return "Result";
        case kStateMenu:
            return "Menu";
        case kStateCancel:
            return "Cancel";
        case kStateWait:
            return "Wait ";
        case kStateAnimal:
            return "Animal";
        case kStateBrowse:
            return "Browse SD";
        default:
            return "---";
    }
}

std::string errorPaneText(int code, int errnoValue) {
    switch (code) {
        case 1:
            return "Error !!";
        case 128:
            return std::strerror(errnoValue);
        case 129:
            return "Command send fail.";
        case 130:
            return kDuplicateIdMessage;
        default:
            return "---";
    }
}

std::string linkProblemText(int deviceId, LinkError cause) {
    const std::string unit = "Unit ID " + std::to_string(deviceId + 1);
    switch (cause) {
        case LinkError::NoPermission:
            return unit +
                   " cannot be opened: no permission. Install the program's udev rule "
                   "(see README), then unplug the unit and plug it in again.";
        case LinkError::Busy:
            return unit +
                   " is held by another program (another copy of Halnor40KU?): close that "
                   "program; this one connects when the unit is free.";
        case LinkError::NotConfigured:
            return "No unit can be found: the units' USB vendor ID is not set. Set HX40K_USB_VENDOR_ID "
                   "(hex) or usbVendorId in the profile; halnor40ku --list-units shows what is attached.";
        default:
            return unit + " cannot be opened: " + linkErrorText(cause) + ".";
    }
}

std::string windowTitle(bool connected, int deviceId) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "->%d", deviceId + 1);
    return std::string(connected ? "Halnor40KU (Connected)" : "Halnor40KU (Not Connected)") + buffer;
}

std::string dialogCaption(int deviceId) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s: ID->%d", "Halnor40KU", deviceId + 1);
    return buffer;
}

namespace {
std::string unsignedText(std::int32_t v) { return std::to_string(static_cast<std::uint32_t>(v)); }
std::string pressureText(std::int32_t v) { return v == -1 ? "---" : unsignedText(v); }
}  // namespace

HistoryCells historyCells(const HistoryRow& row, int errorCode, bool showMbpDbp) {
    std::int32_t sbp = row.sbp, mbp = row.mbp, dbp = row.dbp;
    if (errorCode != 0) {
        sbp = mbp = dbp = -1;
    } else if (!showMbpDbp) {
        mbp = dbp = -1;
    }
    HistoryCells cells;
    cells.text[0] = unsignedText(row.number);
    cells.text[1] = unsignedText(row.hr);
    cells.text[2] = pressureText(sbp);
    cells.text[3] = pressureText(mbp);
    cells.text[4] = pressureText(dbp);
    const std::string& t = row.dateTime;
    if (t.size() >= 12) {
        cells.text[5] = t.substr(6, 2) + ":" + t.substr(8, 2) + ":" + t.substr(10, 2);
    }
    return cells;
}

std::string historyDateTime(const HistoryRow& row) {
    const std::string& t = row.dateTime;
    if (t.size() < 12) return {};
    return "20" + t.substr(0, 2) + "/" + t.substr(2, 2) + "/" + t.substr(4, 2) + " " + t.substr(6, 2) + ":" +
           t.substr(8, 2) + ":" + t.substr(10, 2);
}

std::array<std::string, 2> clockDialogLines(const std::tm& pc, std::array<std::int16_t, 6> unit) {
    // A unit in step with the PC shows exactly the PC's second.
    if (std::abs(unit[5] - pc.tm_sec) < 2 && unit[4] == pc.tm_min)
        unit[5] = static_cast<std::int16_t>(pc.tm_sec);
    char pcText[64];
    std::strftime(pcText, sizeof pcText, "%Y/%m/%d %H:%M:%S", &pc);
    char unitText[96];
    std::snprintf(unitText, sizeof unitText, "%s:%4d/%02d/%02d %02d:%02d:%02d", "HX-40K", unit[0], unit[1],
                  unit[2], unit[3], unit[4], unit[5]);
    return {std::string("    PC:") + pcText, unitText};
}

}  // namespace hx
