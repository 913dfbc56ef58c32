#pragma once
// Reading a data file back into its fields: for the hx40k-data tool and for
// anyone who analyses recordings outside the program. Strict about structure
// (block lengths, codes, sample counts, nothing after the second wave) and
// never reads outside the bytes it is given, so damaged or foreign files are
// refused with a reason instead of being half understood.
// Pure functions apart from readDataFile's file access; any thread.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Ring.h"
#include "settings/Preference.h"

namespace hx {

// Largest data file there can be: the three blocks and two rings packed in the long form.
constexpr std::size_t kMaxDataFileSize = 1056 + 2 * 8002;

struct DataFileContents {
    std::string date;    // "YY/MM/DD" as stored (up to its first 0 byte)
    std::string time;    // "hh:mm:ss"
    AnimalTexts animal;  // each up to its first 0 byte, at most 8 (comment 32) bytes
    std::uint8_t resultByte15 = 0;
    std::uint8_t resultByte16 = 0;
    std::int16_t sbp = 0;  // half units, as stored
    std::int16_t dbp = 0;
    std::int16_t mbp = 0;
    std::int16_t firstMarker = 0;
    std::int16_t secondMarker = 0;
    std::int16_t resultWord6 = 0;
    std::vector<std::int16_t> pulseMarks;  // the list up to (not including) its first 0
    Ring pressure{};
    Ring wave{};
    std::size_t pressureBlockLength = 0;  // L1
    std::size_t waveBlockLength = 0;      // L2
};

struct DataFileParse {
    bool ok = false;
    std::string error;  // why the bytes are not a data file, when !ok
    DataFileContents contents;
};

// Parses the bytes of a whole data file.
DataFileParse parseDataFile(std::span<const std::uint8_t> bytes);

// Reads and parses the file at path; a file that cannot be read, or that is
// larger than any data file can be, is refused with the reason.
DataFileParse readDataFile(const std::string& path);

// The fields before the waves (date, time, animal texts, result, pulse marks)
// of the file at path, for readers that need the result and not the
// recording. The framing is checked (the two wave blocks' lengths, read from
// their headers, add up to the file's size), the samples are neither read nor
// checked: the rings stay 0 and a damaged sample goes unnoticed.
DataFileParse readDataFileFields(const std::string& path);

// As readDataFileFields, for a file that a listing of the open folder
// `folder` gave as a regular file: the file is read whole in one go (its
// size is where the read ends), with no look at its size first. A file that
// is not a good data file is read again by readDataFileFields(path), so the
// reasons are the same; path names the same file for that.
DataFileParse readDataFileFieldsAt(int folder, const char* name, const std::string& path);

}  // namespace hx
