// The data-file reader on arbitrary bytes: it must refuse or accept without
// reading out of bounds, and whatever waves it accepts must pack and unpack
// back to the same samples.
//
// Inputs are tried three ways, so that short inputs reach accepting paths too:
// as a whole file, as one wave block of 4000 samples, and (first byte = sample
// count - 1, modulo 64) as a short wave block.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "data/DataFileReader.h"
#include "data/WavePacking.h"

namespace {

void expectRoundTrip(std::span<const std::int16_t> samples) {
    const std::vector<std::uint8_t> block = hx::packWaveSamples(samples);
    std::vector<std::int16_t> again(samples.size());
    std::size_t length = 0;
    std::string error;
    if (!hx::unpackWave(block, again, length, error) || length != block.size()) __builtin_trap();
    if (!std::equal(samples.begin(), samples.end(), again.begin())) __builtin_trap();
}

void tryBlock(std::span<const std::uint8_t> bytes, std::size_t count) {
    std::vector<std::int16_t> samples(count);
    std::size_t length = 0;
    std::string error;
    if (hx::unpackWave(bytes, samples, length, error)) {
        if (length > bytes.size()) __builtin_trap();
        expectRoundTrip(samples);
    } else if (error.empty()) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);

    const hx::DataFileParse parse = hx::parseDataFile(bytes);
    if (parse.ok) {
        if (1056 + parse.contents.pressureBlockLength + parse.contents.waveBlockLength != size)
            __builtin_trap();
        expectRoundTrip(parse.contents.pressure);
        expectRoundTrip(parse.contents.wave);
    } else if (parse.error.empty()) {
        __builtin_trap();
    }

    tryBlock(bytes, hx::kRingSize);
    if (size > 0) tryBlock(bytes.subspan(1), data[0] % 64 + 1u);
    return 0;
}
