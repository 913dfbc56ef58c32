// Packing and unpacking one ring of a data file: a realistic measurement and
// the worst case (every difference in the long form). Items are samples, so
// the report shows the time per sample as well.

#include <benchmark/benchmark.h>

#include <array>
#include <string>

#include "data/DataFileReader.h"
#include "data/DataFileSample.h"
#include "data/DataFileWriter.h"
#include "data/WavePacking.h"

namespace {

hx::Ring worstCaseRing() {
    hx::Ring ring;
    for (std::size_t i = 0; i < ring.size(); ++i) ring[i] = (i % 2) ? 2047 : -2048;
    return ring;
}

const hx::Ring& ringFor(int kind) {
    static const hx::DataFileSample sample = hx::makeSampleMeasurement(1);
    static const hx::Ring worst = worstCaseRing();
    return kind == 0 ? sample.pressure : kind == 1 ? sample.wave : worst;
}

const char* nameOf(int kind) { return kind == 0 ? "pressure" : kind == 1 ? "wave" : "worst case"; }

void BM_PackRing(benchmark::State& state) {
    const hx::Ring& ring = ringFor(static_cast<int>(state.range(0)));
    std::array<std::uint8_t, hx::kMaxPackedRingSize> out;
    std::size_t length = 0;
    for (auto _ : state) {
        length = hx::packWaveInto(ring, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ring.size()));
    state.SetLabel(std::string(nameOf(static_cast<int>(state.range(0)))) + ", " + std::to_string(length) +
                   " bytes");
}
BENCHMARK(BM_PackRing)->Arg(0)->Arg(1)->Arg(2);

void BM_UnpackRing(benchmark::State& state) {
    const hx::Ring& ring = ringFor(static_cast<int>(state.range(0)));
    const auto block = hx::packWave(ring);
    hx::Ring out;
    std::size_t length = 0;
    std::string error;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hx::unpackWave(block, out, length, error));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ring.size()));
    state.SetLabel(nameOf(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_UnpackRing)->Arg(0)->Arg(1)->Arg(2);

// Everything the program does in memory for one data file: blocks and both rings.
void BM_BuildDataFile(benchmark::State& state) {
    static const hx::DataFileSample sample = hx::makeSampleMeasurement(1);
    hx::DataFileRequest request;
    request.result = &sample.result;
    request.pressureRing = &sample.pressure;
    request.waveRing = &sample.wave;
    request.animal = sample.animal;
    for (auto _ : state) benchmark::DoNotOptimize(hx::buildDataFileBytes(request));
    state.SetItemsProcessed(state.iterations() * 2 * static_cast<std::int64_t>(hx::kRingSize));
}
BENCHMARK(BM_BuildDataFile);

}  // namespace
