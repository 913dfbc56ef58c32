// Arbitrary ring contents through the analysis (the data-file tool feeds it
// rings from files of unknown origin). The input is the pressure ring then the
// wave ring, little-endian 16-bit samples; missing bytes are 0. Every run
// checks the invariants the result pane relies on.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "analysis/OscillometricAnalysis.h"

namespace {

void fill(hx::Ring& ring, const std::uint8_t* data, std::size_t size, std::size_t offset) {
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const std::size_t at = offset + 2 * i;
        const unsigned lo = at < size ? data[at] : 0;
        const unsigned hi = at + 1 < size ? data[at + 1] : 0;
        ring[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
    }
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto analysis = std::make_unique<hx::COscillometricAnalysis>();
    hx::Ring pressure;
    hx::Ring wave;
    fill(pressure, data, size, 0);
    fill(wave, data, size, 2 * hx::kRingSize);
    analysis->analyse(pressure, wave, 0);

    const auto peaks = analysis->peaks();
    check(peaks.size() <= hx::COscillometricAnalysis::kMaxFitPoints);
    check(analysis->detectedPeaks().size() <= hx::COscillometricAnalysis::kMaxPeaks);
    check(std::is_sorted(peaks.begin(), peaks.end()));
    check(analysis->smoothedAmplitudes().size() == peaks.size());
    const auto& curve = analysis->envelope();
    if (!analysis->hasCurve()) {
        check(std::all_of(curve.begin(), curve.end(),
                          [](std::int16_t v) { return v == hx::COscillometricAnalysis::kNoValue; }));
        return 0;
    }
    check(peaks.size() >= 4);
    for (std::size_t s = 0; s < curve.size(); ++s) {
        const bool inside = static_cast<int>(s) >= peaks.front() && static_cast<int>(s) < peaks.back();
        check(inside || curve[s] == hx::COscillometricAnalysis::kNoValue);
    }
    return 0;
}
