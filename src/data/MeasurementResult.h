#pragma once
// One measurement result as the unit reports it. Replaced whole at each result.

#include <array>
#include <cstdint>
#include <string>

namespace hx {

struct MeasurementResult {
    std::int16_t sbp = 0;  // half units
    std::int16_t mbp = 0;  // half units
    std::int16_t dbp = 0;  // half units
    std::int16_t hr = 0;
    std::int16_t firstMarker = 0;   // sample index, 0 = none
    std::int16_t secondMarker = 0;  // sample index, 0 = none
    std::int16_t resultWord6 = 0;
    std::uint8_t resultByte15 = 20;  // a data file is written only when non-zero
    std::uint8_t resultByte16 = 0;
    std::uint8_t resultByte18 = 0;
    std::uint8_t resultByte20 = 0;
    std::int16_t measurementNumber = 0;
    std::int8_t errorCode = 0;                  // 0 = valid; 16 "Lo", 17 "Hi", 5 "Air", ...
    std::array<std::int16_t, 50> pulseMarks{};  // ended by the first 0
    std::string dateTime;                       // 12 characters YYMMDDhhmmss as sent, or what came
};

// The name of a result's error code, as every front end and file shows it:
// "Lo", "Hi", "Air", "Err<code>"; "" for 0.
std::string resultErrorName(int code);

// Every pressure shown to the user: half units halved, rounding away from zero.
constexpr std::int16_t halve(std::int16_t v) {
    return v >= 0 ? static_cast<std::int16_t>((v + 1) / 2) : static_cast<std::int16_t>(-((1 - v) / 2));
}

}  // namespace hx
