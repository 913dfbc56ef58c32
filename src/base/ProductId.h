#pragma once
// The USB product ID of a unit: the unit with device ID d (1 to 16) carries
// the product ID kProductIdBase + d, which also appears in its device path.

#include <cstdint>

namespace hx {

constexpr std::uint16_t kProductIdBase = 0x110;

}  // namespace hx
