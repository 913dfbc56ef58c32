#pragma once
// A ring of 4000 samples: 12-bit two's-complement values sign-extended to 16 bits.

#include <array>
#include <cstddef>
#include <cstdint>

namespace hx {

constexpr std::size_t kRingSize = 4000;
using Ring = std::array<std::int16_t, kRingSize>;

}  // namespace hx
