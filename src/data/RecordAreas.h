#pragma once
// Sizes of the document's raw record areas, which the receiver thread copies
// inbound records into and the decoding reads.

#include <cstddef>

namespace hx {

constexpr std::size_t kWaveAreaSize = 100;
constexpr std::size_t kResultAreaSize = 200;
constexpr std::size_t kAnimalAreaSize = 100;
// The animal-information block: the first bytes of the animal area, both as
// received and as built to be sent.
constexpr std::size_t kAnimalBlockSize = 64;

// Result pieces: bytes 2 to 63 of a type 2, 3 or 5 record go to these offsets
// of the result record area.
constexpr std::size_t kResultPieceSize = 62;
constexpr std::size_t kResultPieceOffset[3] = {0, 62, 124};

}  // namespace hx
