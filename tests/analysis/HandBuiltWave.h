#pragma once
// Small hand-built recordings for the analysis tests: triangular pulses whose
// tops and heights are chosen by the test, so that the expected peak lists can
// be worked out on paper.
//
// A pulse rises over 6 samples to its top and falls over 12 samples back to 0.
// The analysis records a pulse's top when the next pulse has risen for three
// samples, so a train always ends with one closing pulse that is not listed.

#include <cstdint>
#include <memory>
#include <vector>

#include "analysis/OscillometricAnalysis.h"
#include "base/Ring.h"

namespace hx::test {

constexpr int kPulseRise = 6;
constexpr int kPulseFall = 12;

struct HandBuiltRecording {
    Ring pressure{};
    Ring wave{};
    std::vector<int> tops;  // every pulse added, in order

    HandBuiltRecording() { pressure.fill(100); }

    void pulse(int top, int height) {
        for (int j = 0; j <= kPulseRise; ++j) {
            wave[static_cast<std::size_t>(top - kPulseRise + j)] =
                static_cast<std::int16_t>(height * j / kPulseRise);
        }
        for (int j = 1; j <= kPulseFall; ++j) {
            wave[static_cast<std::size_t>(top + j)] =
                static_cast<std::int16_t>(height * (kPulseFall - j) / kPulseFall);
        }
        tops.push_back(top);
    }

    // Pulses every `period` samples from `firstTop` on, one per height.
    void train(int firstTop, int period, const std::vector<int>& heights) {
        for (std::size_t k = 0; k < heights.size(); ++k) {
            pulse(firstTop + static_cast<int>(k) * period, heights[k]);
        }
    }

    // Makes the mean of the first 3999 wave samples exactly 0 by adjusting the
    // first 80 samples (which the peak search never looks at), so that the
    // centred wave equals the built one and amplitudes are the heights.
    void balance() {
        long sum = 0;
        for (int i = 0; i < 3999; ++i) {
            sum += wave[static_cast<std::size_t>(i)];
        }
        for (int i = 0; i < 80; ++i) {
            wave[static_cast<std::size_t>(i)] =
                static_cast<std::int16_t>(wave[static_cast<std::size_t>(i)] - sum / 80);
        }
        wave[0] = static_cast<std::int16_t>(wave[0] - sum % 80);
    }

    std::vector<int> topsBetween(std::size_t first, std::size_t end) const {
        return {tops.begin() + static_cast<long>(first), tops.begin() + static_cast<long>(end)};
    }
};

inline std::vector<int> toInts(std::span<const std::int16_t> list) { return {list.begin(), list.end()}; }

inline std::vector<int> repeated(std::size_t count, int height) { return std::vector<int>(count, height); }

// Balances the recording and analyses it as a valid result.
inline std::unique_ptr<COscillometricAnalysis> analyseBalanced(HandBuiltRecording& r) {
    r.balance();
    auto analysis = std::make_unique<COscillometricAnalysis>();
    analysis->analyse(r.pressure, r.wave, 0);
    return analysis;
}

}  // namespace hx::test
