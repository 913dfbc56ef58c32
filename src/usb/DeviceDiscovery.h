#pragma once
// Telling attached units apart: each carries its device ID in its USB product
// ID (0x110 + ID), which appears in its device path as "pid_XXXX#".

#include <cstdint>
#include <string>
#include <vector>

#include "usb/UnitDriver.h"

namespace hx {

// The device ID in a device path, or -1 (no "pid", or a product ID below 0x110).
// Product IDs above 0x11F give IDs of 16 and more; nothing limits them here.
std::int16_t deviceIdFromPath(const std::string& path);

// The IDs of every present interface whose path yields one, in system order.
std::vector<std::int16_t> findUnitIds(IUnitDriver& driver);

}  // namespace hx
