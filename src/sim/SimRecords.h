#pragma once
// Byte layouts of everything the simulated unit exchanges with the program:
// wave packets, the three result pieces, the animal-information block in its
// short and long-ID forms, the menu frame and the two clock frames.
// Numbers in records are big-endian; samples are 12-bit two's complement.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/MenuSettings.h"
#include "base/RecordAreas.h"

namespace hx {

// The unit's twelve 16-bit menu words, indexed by the names of
// MenuSettings::Word (PRESS index, SENSE, AUTO-S, AUTO-P, DBP, USB, PRINT,
// SOUND, SPEED, TYPE, a word not edited, TIME).
using SimMenu = std::array<std::int16_t, 12>;
// Power-on menu of a unit: PRESS 180 mmHg, SENSE 2, single measurements, DOG.
SimMenu defaultSimMenu();

// The five texts of the animal-information block.
struct SimAnimalInfo {
    std::string animalNumber;
    std::string studyNumber;
    std::string weight;
    std::string sexAge;
    std::string comment;
    bool operator==(const SimAnimalInfo&) const = default;
};

constexpr std::size_t kResultRecordSize = 186;
constexpr int kMaxPairsPerPacket = 14;
constexpr int kSweepLength = 4000;
constexpr int kMaxPulseMarks = 50;

using Record = std::vector<std::uint8_t>;

struct WaveSample {
    std::int16_t pressureHalf;  // cuff pressure, half units
    std::int16_t wave;
};

// A type-4 record of 64 bytes. samples holds at most 14 pairs; each value is
// sent as its low 12 bits.
Record buildWavePacket(std::uint16_t indexWord, int liveHr, std::uint8_t errorFlag, std::uint8_t sensorLevel,
                       const WaveSample* samples, std::size_t count);

// Values of the 186-byte result record.
struct ResultFields {
    int sbpHalf = 0, mbpHalf = 0, dbpHalf = 0, hr = 0;
    int firstMarker = 0, secondMarker = 0;
    int resultWord6 = 0;
    std::uint8_t byte15 = 20;
    int measurementNumber = 0;
    int errorCode = 0;
    std::string dateTime;         // 12 characters
    std::vector<int> pulseMarks;  // at most 50 used
};
std::array<std::uint8_t, kResultRecordSize> buildResultRecord(const ResultFields& fields);
// The three records (types 2, 3, 5) that carry it: bytes 2..63 of each hold
// one 62-byte piece.
std::array<Record, 3> splitResultRecord(const std::array<std::uint8_t, kResultRecordSize>& record);

// True when the version text selects the long-ID animal block: its last
// character is one of the digits 2 to 8.
bool isLongIdVersion(const std::string& versionText);
// The 64-byte animal block (byte 0 = typeByte) in the short (L = 3) or long-ID
// (L = 8) form. Numbers keep their last L characters, weight and sex/age their
// first 8, the comment its first 32 (in the long-ID form the 32nd character is
// spread over bit 7 of bytes 56..63). Only 7-bit characters are kept.
std::array<std::uint8_t, kRecordSize> encodeAnimalBlock(const SimAnimalInfo& info, bool longId,
                                                        std::uint8_t typeByte = 6);
SimAnimalInfo decodeAnimalBlock(const std::uint8_t* block, std::size_t length, bool longId);

// The 8-byte menu frame: words 0, 1, 2; the six flags in byte 3; SPEED, TYPE,
// word 10; a zero byte.
std::array<std::uint8_t, 8> encodeMenuFrame(const SimMenu& menu);
// Reads a frame the way the unit takes it: flags to 0/1, values clamped to
// their ranges (PRESS 0..25, SENSE 0..7, AUTO-S 0..10, SPEED 0..2, TYPE 0..2).
SimMenu decodeMenuFrame(const std::uint8_t* frame);

// The BCD clock reply: second, minute, hour, weekday, day, month, year-2000, 0.
std::array<std::uint8_t, 8> encodeBcdTime(std::time_t unitTime);
// The plain clock frame the program writes (year-2000, month, day, weekday,
// hour, minute, second, 0) as seconds since 1970 in the unit's zone; nullopt
// when a field is out of range.
std::optional<std::time_t> decodeClockFrame(const std::uint8_t* frame);
// YYMMDDhhmmss of a unit time.
std::string dateTimeText(std::time_t unitTime);

}  // namespace hx
