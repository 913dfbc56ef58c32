#pragma once
// Text forms of a read data file for the hx40k-data tool: JSON and CSV.
// Texts in a data file are raw bytes without a declared encoding, so every
// byte of 0x80 and above is written as \u00XX (read as Latin-1); the JSON is
// therefore plain ASCII and always valid. Pure; any thread.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "data/DataFileReader.h"

namespace hx {

// text as a quoted JSON string.
std::string jsonString(std::string_view text);
// A finite number with enough digits to read back the same double; null otherwise.
std::string jsonNumber(double value);
// [a,b,c] of the values.
std::string jsonIntArray(std::span<const std::int16_t> values);

// One JSON object with the identification fields, the stored values (SBP, DBP,
// MBP in half units), the markers, result word 6, the pulse marks and both
// waves of 4000 samples. Ends with a line feed.
std::string dataFileJson(const DataFileContents& contents);

// "index,pressure,wave" and then one line per sample.
std::string dataFileCsv(const DataFileContents& contents);

}  // namespace hx
