#include "data/DataFileSample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

namespace hx {

namespace {

constexpr double kSamplesPerSecond = 100.0;
constexpr std::size_t kInflateEnd = 250;     // 2.5 s to full pressure
constexpr std::size_t kDeflateStart = 300;   // then half a second of rest
constexpr std::size_t kReleaseStart = 3800;  // the cuff is opened at the end
constexpr double kTopPressure = 165.0;       // mmHg
constexpr double kDeflateRate = 3.1;         // mmHg per second
constexpr double kMaxAmplitude = 420.0;      // wave units at the mean pressure
constexpr std::size_t kMaxPulseMarks = 50;

class CSampleRandom {
  public:
    explicit CSampleRandom(std::uint32_t seed) : m_engine(seed) {}
    // Uniform in [low, high); computed from the engine's integers only, so it
    // does not depend on the standard library's distributions.
    double uniform(double low, double high) { return low + (high - low) * (m_engine() / 4294967296.0); }
    // Roughly normal with the given spread (sum of four uniforms).
    double noise(double spread) {
        double sum = 0;
        for (int i = 0; i < 4; ++i) sum += uniform(-1.0, 1.0);
        return sum * spread * 0.866;
    }

  private:
    std::mt19937 m_engine;
};

struct Truth {
    double sbp, mbp, dbp;  // mmHg
    double heartRate;      // per minute
};

std::int16_t twelveBit(double value) {
    return static_cast<std::int16_t>(std::clamp(std::lround(value), -2048L, 2047L));
}

double cuffPressure(std::size_t i) {
    if (i < kInflateEnd) {
        const double x = static_cast<double>(i) / kInflateEnd;
        return kTopPressure * std::sin(x * std::numbers::pi / 2);
    }
    if (i < kDeflateStart) return kTopPressure;
    const double deflated =
        kTopPressure - kDeflateRate * static_cast<double>(i - kDeflateStart) / kSamplesPerSecond;
    if (i < kReleaseStart) return deflated;
    const double atRelease =
        kTopPressure - kDeflateRate * (kReleaseStart - kDeflateStart) / kSamplesPerSecond;
    return atRelease * std::exp(-static_cast<double>(i - kReleaseStart) / 25.0);
}

// Oscillation amplitude at cuff pressure p: a bell around MBP, narrower
// above it, so that it is 0.55 of its top at SBP and 0.75 at DBP.
double envelope(const Truth& truth, double p) {
    const double ratio = p >= truth.mbp ? 0.55 : 0.75;
    const double edge = p >= truth.mbp ? truth.sbp : truth.dbp;
    const double width = std::abs(edge - truth.mbp) / std::sqrt(std::log(1.0 / ratio));
    const double x = (p - truth.mbp) / width;
    return std::exp(-x * x);
}

// One beat's shape over its phase 0..1: a quick upstroke, then a slower fall;
// less its mean over the beat, as the unit's wave channel has no steady part.
double beatShape(double phase) {
    constexpr double kMean = 0.298;
    if (phase < 0.18) return std::sin(phase / 0.18 * std::numbers::pi / 2) - kMean;
    return std::exp(-(phase - 0.18) * 4.5) - 0.1 * (phase - 0.18) - kMean;
}

// First index in the let-down where the cuff pressure falls to or below p (half units).
std::int16_t crossing(const Ring& pressure, double halfUnits) {
    for (std::size_t i = kDeflateStart; i < kReleaseStart; ++i)
        if (pressure[i] <= halfUnits) return static_cast<std::int16_t>(i);
    return 0;
}

void fillWave(DataFileSample& sample, const Truth& truth, CSampleRandom& random) {
    const double beatLength = kSamplesPerSecond * 60.0 / truth.heartRate;
    double beatStart = random.uniform(0, beatLength);
    double length = beatLength;
    double strength = 1.0;
    std::size_t marks = 0;
    for (std::size_t i = 0; i < kRingSize; ++i) {
        if (static_cast<double>(i) >= beatStart + length) {
            beatStart += length;
            length = beatLength * random.uniform(0.96, 1.04);
            strength = random.uniform(0.93, 1.07);
        }
        const double p = cuffPressure(i);
        const double phase = (static_cast<double>(i) - beatStart) / length;
        const double recording = i >= kDeflateStart && i < kReleaseStart ? 1.0 : 0.15;
        const double amplitude = kMaxAmplitude * strength * envelope(truth, p) * recording;
        sample.wave[i] = twelveBit(amplitude * beatShape(phase) + random.noise(3.0));

        // The unit marks the top of each clear beat of the let-down.
        const double peakPhase = 0.18;
        const bool atPeak = phase <= peakPhase && phase + 1.0 / length > peakPhase;
        if (atPeak && recording == 1.0 && amplitude > 0.2 * kMaxAmplitude && marks < kMaxPulseMarks)
            sample.result.pulseMarks[marks++] = static_cast<std::int16_t>(i);
    }
}

void fillResult(DataFileSample& sample, const Truth& truth, CSampleRandom& random, std::uint32_t seed) {
    MeasurementResult& result = sample.result;
    // The unit's own estimate sits within a few half units of the truth.
    result.sbp = static_cast<std::int16_t>(std::lround(2 * truth.sbp + random.noise(2.0)));
    result.mbp = static_cast<std::int16_t>(std::lround(2 * truth.mbp + random.noise(2.0)));
    result.dbp = static_cast<std::int16_t>(std::lround(2 * truth.dbp + random.noise(2.0)));
    result.hr = static_cast<std::int16_t>(std::lround(truth.heartRate));
    result.firstMarker = crossing(sample.pressure, result.sbp);
    result.secondMarker = crossing(sample.pressure, result.dbp);
    result.measurementNumber = static_cast<std::int16_t>(seed % 1000);
    char dateTime[16];
    std::snprintf(dateTime, sizeof dateTime, "120315%02u%02u%02u", 9 + seed / 3600 % 12, seed / 60 % 60,
                  seed % 60);
    result.dateTime = dateTime;
}

}  // namespace

DataFileSample makeSampleMeasurement(std::uint32_t seed) {
    CSampleRandom random(seed);
    Truth truth;
    truth.sbp = 140.0 + random.uniform(-8, 8);
    truth.dbp = 85.0 + random.uniform(-6, 6);
    truth.mbp = truth.dbp + (truth.sbp - truth.dbp) * random.uniform(0.36, 0.44);
    truth.heartRate = random.uniform(90, 120);

    DataFileSample sample;
    for (std::size_t i = 0; i < kRingSize; ++i)
        sample.pressure[i] = twelveBit(2 * cuffPressure(i) + (i < kReleaseStart ? random.noise(0.7) : 0.0));
    fillWave(sample, truth, random);
    fillResult(sample, truth, random, seed);

    sample.animal.animalNo = std::to_string(seed % 1000);
    sample.animal.studyNo = "STUDY-1";
    sample.animal.weight = "312g";
    sample.animal.sexAge = "M 12w";
    sample.animal.comment = "synthetic sample measurement";
    return sample;
}

}  // namespace hx
