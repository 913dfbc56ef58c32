#pragma once
// Decoding of every record the unit sends, and the animal-information block in
// both directions. The receiver thread copies the raw bytes into the document's
// record areas; the main window then calls these functions on the
// user-interface thread while the receiver waits for its hand-over event.
//
// Numbers in the unit's records are big-endian. Samples are 12-bit two's
// complement values carried in 16-bit words.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/RecordAreas.h"
#include "data/Halnor55KUDoc.h"
#include "data/MeasurementResult.h"
#include "settings/Preference.h"

namespace hx {

// ---- inbound records ---------------------------------------------------------

constexpr std::size_t kMaxRecordSize = kRecordSize;

// The record type is the low 4 bits of byte 0; the high bits are ignored.
enum RecordType : int {
    kRecordMenuNotice = 1,  // also 15: shown as "ID_MENU", nothing stored
    kRecordResultFirst = 2,
    kRecordResultSecond = 3,
    kRecordWavePacket = 4,
    kRecordResultThird = 5,
    kRecordAnimalInfo = 6,
    kRecordVersion = 7,
    kRecordMenuNoticeAlt = 15,
};

constexpr int recordType(std::uint8_t byte0) { return byte0 & 0x0F; }

// A 12-bit two's complement sample word, sign-extended: only the low 12 bits
// count (0x0800 -> -2048, 0x07FF and 0xF7FF -> 2047, 0x1FFF -> -1).
constexpr std::int16_t signExtend12(std::uint16_t word) {
    return static_cast<std::int16_t>((word & 0x0800) ? (word | 0xF000) : (word & 0x0FFF));
}

// ---- wave packets --------------------------------------------------------------

// Result of decodeWavePacket.
constexpr int kWaveRefused = -1;      // nothing stored
constexpr int kWaveStored = 0;        // stored, no sample at ring index 0
constexpr int kWaveStoredAtZero = 1;  // a sample landed at ring index 0

// Decodes the wave packet in the document's wave record area into the live
// rings (the packet says where it lands). Refused, leaving the document as it
// was: a packet whose index is not 0 while the document waits for the start of
// a sweep, and a packet whose index lies beyond the rings (4000 or more).
// Tells the document's listener about the live heart rate (every 31st sample),
// sensor level and error flag changes, and a sweep restart.
int decodeWavePacket(CHalnor55KUDoc& doc);

// ---- results -------------------------------------------------------------------

// The fields of a result record assembled in a result record area. Error code
// bytes of 0x80 and above are negative codes. The date-time text is the 12
// bytes as sent, cut at a 0 byte.
MeasurementResult parseResultRecord(std::span<const std::uint8_t, kResultAreaSize> area);

// Replaces the document's result by the one in its result record area and
// freezes the rings.
void decodeResultRecord(CHalnor55KUDoc& doc);

// ---- animal information ----------------------------------------------------------

// Width of the animal and study number fields: 8 in the long-ID form, 3 in the
// short form.
constexpr std::size_t animalNumberWidth(bool longId) { return longId ? 8 : 3; }

// The five texts of a 64-byte animal block. In the long-ID form the 32nd
// comment character is gathered from bit 7 of bytes 56 to 63.
AnimalTexts parseAnimalBlock(std::span<const std::uint8_t, 64> block, bool longId);

// Fills bytes 1 to 63 of a 64-byte block from the texts (byte 0 is left
// alone): the rightmost characters of the two numbers, the first ones of the
// other texts; in the long-ID form a 32nd comment character is spread over
// bit 7 of bytes 56 to 63.
void fillAnimalBlock(const AnimalTexts& texts, bool longId, std::span<std::uint8_t, 64> block);

// Stores the texts of the block in the animal record area into the
// preferences' animal group (in memory). The form follows the application's
// device version text.
void decodeAnimalBlock(CHalnor55KUDoc& doc);

// Builds the block to send from the preferences' animal texts in the animal
// record area (bytes 1 to 99 cleared first) and returns its 64 bytes. Byte 0
// keeps the type byte of the block last received; before any was received it
// is set to 6.
std::span<const std::uint8_t, 64> buildAnimalBlock(CHalnor55KUDoc& doc);

// ---- version record ------------------------------------------------------------

// The unit's version text in a version record of length bytes: bytes 1 to
// length - 1, ended by the first 0 byte (at most 63 characters).
std::string versionRecordText(const std::uint8_t* record, std::size_t length);

// The steps of a version record that need no window: the text becomes the
// application's device version text (choosing the animal-block form from now
// on), the document's version mark becomes 1, and "Read dev_ver:%s" is logged.
void applyDeviceVersion(CHalnor55KUDoc& doc, const std::string& text);

}  // namespace hx
