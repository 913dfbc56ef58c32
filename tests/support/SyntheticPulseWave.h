#pragma once
// A realistic recorded measurement for the analysis tests and benchmarks: the
// cuff deflates linearly while the pulse wave shows beats whose oscillation
// amplitude follows an envelope around the mean pressure (largest where the
// cuff crosses MBP, falling off faster above it than below). Deterministic for
// a seed; header-only so benchmarks can use it too.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "base/Ring.h"

namespace hx::test {

struct SyntheticPulseParams {
    std::uint32_t seed = 1;
    double beatsPerMinute = 380.0;  // a rat; 100 for a dog
    double samplesPerSecond = 100.0;
    int recordedSamples = 4000;    // both rings are 0 from here on
    double startPressure = 360.0;  // half units at index 0
    double meanPressure = 200.0;   // MBP, half units
    int peakIndex = 2800;          // where the deflating cuff crosses MBP
    double peakAmplitude = 600.0;  // oscillation at MBP, wave units
    double widthAbove = 45.0;      // half units: about 0.55 of the top at SBP
    double widthBelow = 40.0;      // half units: about 0.75 of the top at DBP
    double noise = 2.0;            // amplitude of the uniform noise, wave units
    double offset = 40.0;          // the wave's resting level
    double beatJitter = 0.04;      // beat-to-beat variation, fraction of a period
};

struct SyntheticRecording {
    Ring pressure{};
    Ring wave{};
};

namespace detail {

inline double unitRandom(std::mt19937& rng) { return static_cast<double>(rng() >> 8) / 16777216.0; }

// One beat of the oscillation over a phase of 0..1: quick upstroke, slow run-off.
inline double beatShape(double phase) {
    constexpr double kRise = 0.35;
    constexpr double kPi = 3.14159265358979323846;
    if (phase < 0.0 || phase >= 1.0) {
        return 0.0;
    }
    if (phase < kRise) {
        const double s = std::sin(kPi * phase / (2 * kRise));
        return s * s;
    }
    return std::exp(-(phase - kRise) / 0.2);
}

inline std::int16_t toSample(double v) {
    return static_cast<std::int16_t>(std::clamp(std::lround(v), -2048L, 2047L));
}

}  // namespace detail

inline SyntheticRecording makeSyntheticRecording(const SyntheticPulseParams& p) {
    SyntheticRecording r;
    std::mt19937 rng(p.seed);
    const double rate = (p.startPressure - p.meanPressure) / p.peakIndex;  // half units per sample
    auto pressureAt = [&](double t) { return p.startPressure - rate * t; };
    auto envelopeAt = [&](double t) {
        const double dp = pressureAt(t) - p.meanPressure;
        const double width = dp > 0 ? p.widthAbove : p.widthBelow;
        return p.peakAmplitude * std::exp(-0.5 * (dp / width) * (dp / width));
    };

    const double period = p.samplesPerSecond * 60.0 / p.beatsPerMinute;
    std::array<double, kRingSize> wave{};
    wave.fill(p.offset);
    double beat = period * detail::unitRandom(rng);
    while (beat < p.recordedSamples) {
        const double length = period * (1.0 + p.beatJitter * (2.0 * detail::unitRandom(rng) - 1.0));
        const double amplitude = envelopeAt(beat);
        const int first = static_cast<int>(std::ceil(beat));
        for (int t = first; t < p.recordedSamples && t < first + static_cast<int>(length) + 1; ++t) {
            wave[static_cast<std::size_t>(t)] += amplitude * detail::beatShape((t - beat) / length);
        }
        beat += length;
    }
    for (int t = 0; t < static_cast<int>(kRingSize); ++t) {
        const auto i = static_cast<std::size_t>(t);
        if (t >= p.recordedSamples) {
            r.pressure[i] = 0;
            r.wave[i] = 0;
            continue;
        }
        // Never 0 while recording: a run of zeros marks the end of the recording.
        r.pressure[i] = detail::toSample(std::max(1.0, pressureAt(t)));
        r.wave[i] = detail::toSample(wave[i] + p.noise * (2.0 * detail::unitRandom(rng) - 1.0));
    }
    return r;
}

}  // namespace hx::test
