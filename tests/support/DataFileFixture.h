#pragma once
// A data-file request over a synthetic measurement, for the tests of the data
// files and their tool. Not copyable: the request points into the sample.

#include <cstdint>
#include <string>

#include "data/DataFileSample.h"
#include "data/DataFileWriter.h"

namespace hx::test {

class DataFileFixture {
  public:
    explicit DataFileFixture(std::uint32_t seed = 1, std::string folder = {})
        : sample(makeSampleMeasurement(seed)) {
        request.result = &sample.result;
        request.pressureRing = &sample.pressure;
        request.waveRing = &sample.wave;
        request.animal = sample.animal;
        request.dataFolder = std::move(folder);
    }
    DataFileFixture(const DataFileFixture&) = delete;
    DataFileFixture& operator=(const DataFileFixture&) = delete;

    DataFileSample sample;
    DataFileRequest request;
};

}  // namespace hx::test
