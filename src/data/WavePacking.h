#pragma once
// The packed form of a wave in a data file: a block of
//   bytes 0-1  L, the whole block's length in bytes (unsigned, little-endian)
//   bytes 2-3  sample 0 (signed, little-endian)
//   bytes 4..  one code per difference d = sample[i] - sample[i-1] (16-bit)
// with three kinds of code, told apart by the low bits of their first byte:
//   ...1  nibble run: 2n+1, then n differences of -7..7 as 4-bit values, two
//         per byte, low half first (n = 1..127; an odd run leaves the last
//         high half 0)
//   ..10  short difference: one byte, bits 7-2 hold d (-31..31)
//   ..00  long difference: two bytes; (b0 >> 2) + (b1 << 6) is d as a 14-bit value
// Samples are 12-bit values, so every difference fits the long form; the
// round trip unpack(pack(x)) == x holds for any samples whose neighbours
// differ by no more than 8191 (in 16-bit arithmetic).
// Pure functions, any thread.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Ring.h"

namespace hx {

constexpr std::size_t kWaveHeaderSize = 4;
constexpr int kMinSample = -2048, kMaxSample = 2047;  // 12-bit two's complement
constexpr int kMaxRunLength = 127;

// Longest block for n samples: every difference in the long form.
constexpr std::size_t maxPackedSize(std::size_t samples) {
    return kWaveHeaderSize + 2 * (samples > 0 ? samples - 1 : 0);
}
constexpr std::size_t kMaxPackedRingSize = maxPackedSize(kRingSize);  // 8002

// Packs samples (at least one) into out, which must hold maxPackedSize(n)
// bytes; returns the block's length. Allocates nothing.
std::size_t packWaveInto(std::span<const std::int16_t> samples, std::span<std::uint8_t> out);

// The same into a new vector of exactly the block's length.
std::vector<std::uint8_t> packWaveSamples(std::span<const std::int16_t> samples);

// Unpacks one block from the start of bytes into out, which receives exactly
// out.size() samples. On success returns true and sets blockLength to L; on
// a damaged block (a sample outside kMinSample..kMaxSample included) returns
// false with a reason and the code's byte offset in error and leaves out in an
// unspecified state. Reads nothing beyond bytes and writes nothing beyond out.
bool unpackWave(std::span<const std::uint8_t> bytes, std::span<std::int16_t> out, std::size_t& blockLength,
                std::string& error);

}  // namespace hx
