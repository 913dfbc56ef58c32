// The analysis of one recorded measurement, as the result pane runs it on the
// user-interface thread after every result. Reported per analysis and per
// ring sample (4000 per recording).

#include <benchmark/benchmark.h>

#include <memory>

#include "../tests/support/SyntheticPulseWave.h"
#include "analysis/OscillometricAnalysis.h"

namespace {

using hx::COscillometricAnalysis;
using hx::test::makeSyntheticRecording;
using hx::test::SyntheticPulseParams;

void runAnalysis(benchmark::State& state, const SyntheticPulseParams& params) {
    const auto recording = makeSyntheticRecording(params);
    auto analysis = std::make_unique<COscillometricAnalysis>();
    for (auto _ : state) {
        analysis->analyse(recording.pressure, recording.wave, 0);
        benchmark::DoNotOptimize(analysis->envelope().data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(hx::kRingSize));
    // Seconds per sample, printed with an SI prefix (e.g. "4.3n" = 4.3 ns).
    state.counters["per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(hx::kRingSize),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["pulses_fitted"] = static_cast<double>(analysis->peaks().size());
}

void BM_AnalyseRat(benchmark::State& state) {
    SyntheticPulseParams p;  // 380 beats/min, pulses largest at index 2800
    runAnalysis(state, p);
}
BENCHMARK(BM_AnalyseRat);

void BM_AnalyseDog(benchmark::State& state) {
    SyntheticPulseParams p;
    p.beatsPerMinute = 100;
    p.peakIndex = 2000;
    runAnalysis(state, p);
}
BENCHMARK(BM_AnalyseDog);

// A failed result: only the rings are copied.
void BM_FailedResult(benchmark::State& state) {
    const auto recording = makeSyntheticRecording(SyntheticPulseParams{});
    auto analysis = std::make_unique<COscillometricAnalysis>();
    for (auto _ : state) {
        analysis->analyse(recording.pressure, recording.wave, 16);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FailedResult);

}  // namespace
