#pragma once
// What `halnor40ku --list-units` shows: every attached unit with its device ID
// and the version its USB descriptor carries (bcdDevice), found without
// connecting to it: the unit is opened only for its descriptor, no pipe is
// opened and no request reaches it, so a copy of the program that serves the
// unit is not disturbed. Called on any thread that may use the driver.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "usb/UnitDriver.h"

namespace hx {

struct UnitListing {
    std::string devicePath;
    std::int16_t deviceId = -1;              // zero-based; -1 when the path carries none
    std::optional<std::uint16_t> bcdDevice;  // nothing when the unit could not be opened
    LinkError problem = LinkError::None;     // why the descriptor could not be read
};

std::vector<UnitListing> listUnits(IUnitDriver& driver);

// One line per unit, e.g. "ID 4  version 1.05  usb#vid_1a2b&pid_0113#bus001&addr007"
// (the ID as the user sees it, 1 to 16). A unit that could not be opened
// shows "version ?" and why, e.g. "(no permission to open the unit: is the
// udev rule installed?)".
std::string formatUnitListing(const UnitListing& unit);

}  // namespace hx
