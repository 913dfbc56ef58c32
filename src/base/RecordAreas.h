#pragma once
// Sizes shared by everything that handles the unit's records: the record
// itself, the document's raw record areas (which the receiver thread copies
// inbound records into and the decoding reads) and the result pieces.

#include <cstddef>
#include <cstdint>

namespace hx {

// Largest record the unit sends (one read), and the size of both frames the
// program writes to it.
constexpr std::size_t kRecordSize = 64;
// The index word of the first wave packet of a new sweep.
constexpr std::uint16_t kRestartMark = 0x8000;

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
