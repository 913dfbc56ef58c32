#pragma once
// A synthetic measurement for trying the data-file tools without a unit: the
// cuff is inflated to about 165 mmHg and let down at about 3 mmHg per second
// while the pulse wave oscillates at the animal's heart rate, largest near the
// mean pressure (about 55 % of that at SBP and 75 % at DBP), with beat-to-beat
// variation and noise. 100 samples per second, 4000 samples (40 seconds).
// The same seed always gives the same measurement. Pure; any thread.

#include <cstdint>

#include "base/Ring.h"
#include "data/MeasurementResult.h"
#include "settings/Preference.h"

namespace hx {

struct DataFileSample {
    MeasurementResult result;  // SBP, MBP, DBP in half units, markers at the SBP and DBP points
    Ring pressure{};           // cuff pressure, half units
    Ring wave{};               // pulse wave, 12-bit samples
    AnimalTexts animal;
};

DataFileSample makeSampleMeasurement(std::uint32_t seed);

}  // namespace hx
