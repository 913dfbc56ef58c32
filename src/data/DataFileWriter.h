#pragma once
// The data file of one saved measurement: its name and folder, its three
// blocks and the two packed waves. The document calls these on the
// user-interface thread right after a result has been decoded.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/MessagePort.h"
#include "data/MeasurementResult.h"
#include "data/Ring.h"
#include "settings/Preference.h"

namespace hx {

// Everything a data file is made from, taken at the moment of writing.
struct DataFileRequest {
    const MeasurementResult* result = nullptr;
    const Ring* pressureRing = nullptr;  // the live rings (frozen at the result)
    const Ring* waveRing = nullptr;
    AnimalTexts animal;
    std::string dataFolder;  // ends with "/"; the name is appended as it is
    std::int32_t filenameType = 1;
    std::int32_t timerMode = 0;
};

// Full path of the file to write; empty when the user cancelled the "Free"
// file dialog (asked through port).
std::string buildDataFilePath(const DataFileRequest& request, IMessagePort& port);

// 0 written (or no path: nothing written, nothing shown); 1 writing failed and
// "File Write Error!" was shown; -1 result byte 15 is 0 (nothing written).
// Writes through a temporary file in the same folder and renames it over the
// target, so a failure never leaves a partial file or damages an older one.
int writeDataFile(const DataFileRequest& request, IMessagePort& port);

// Packs one ring of 4000 samples into its wave block (length, sample 0, codes).
std::vector<std::uint8_t> packWave(std::span<const std::int16_t, kRingSize> ring);

}  // namespace hx
