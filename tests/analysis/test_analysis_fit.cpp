// The envelope fit and curve: numerical soundness of the cubic fit where the
// pulses lie late in the recording, the curve on realistic recordings, and
// robustness against arbitrary ring contents.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "analysis/EnvelopeFit.h"
#include "analysis/OscillometricAnalysis.h"
#include "support/SyntheticPulseWave.h"

namespace hx::test {
namespace {

using Analysis = COscillometricAnalysis;

// Independent least-squares cubic for comparison: x centred and scaled to
// [-1, 1], long double, partial pivoting. Well conditioned wherever the pulses
// lie, so it serves as the true fit.
class CReferenceCubic {
  public:
    CReferenceCubic(std::span<const std::int16_t> x, std::span<const std::int16_t> y) {
        long double lo = x.front();
        long double hi = x.front();
        for (auto v : x) {
            lo = std::min<long double>(lo, v);
            hi = std::max<long double>(hi, v);
        }
        m_centre = (lo + hi) / 2;
        m_scale = hi > lo ? (hi - lo) / 2 : 1;
        long double m[4][5] = {};
        for (std::size_t i = 0; i < x.size(); ++i) {
            long double t[7] = {1};
            for (int k = 1; k < 7; ++k) {
                t[k] = t[k - 1] * scaled(x[i]);
            }
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    m[r][c] += t[r + c];
                }
                m[r][4] += t[r] * y[i];
            }
        }
        for (int p = 0; p < 4; ++p) {
            int best = p;
            for (int r = p + 1; r < 4; ++r) {
                if (std::fabs(m[r][p]) > std::fabs(m[best][p])) {
                    best = r;
                }
            }
            std::swap(m[p], m[best]);
            for (int r = 0; r < 4; ++r) {
                const long double f = r == p ? 0 : m[r][p] / m[p][p];
                for (int c = 0; c < 5; ++c) {
                    m[r][c] -= f * m[p][c];
                }
            }
        }
        for (int r = 0; r < 4; ++r) {
            m_c[r] = m[r][4] / m[r][r];
        }
    }

    long double operator()(int x) const {
        const long double t = scaled(x);
        return m_c[0] + t * (m_c[1] + t * (m_c[2] + t * m_c[3]));
    }

  private:
    long double scaled(int x) const { return (x - m_centre) / m_scale; }
    long double m_centre = 0;
    long double m_scale = 1;
    long double m_c[4] = {};
};

// Pulses of a parabola-shaped envelope every 10 samples from `start`.
void parabola(int start, std::vector<std::int16_t>& x, std::vector<std::int16_t>& y) {
    for (int k = 0; k <= 30; ++k) {
        x.push_back(static_cast<std::int16_t>(start + 10 * k));
        y.push_back(static_cast<std::int16_t>(250 - (k - 15) * (k - 15)));
    }
}

template <typename Real>
double worstMiss(std::span<const std::int16_t> x, std::span<const std::int16_t> y,
                 const std::array<Real, 4>& c) {
    double worst = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        worst = std::max(worst, std::fabs(static_cast<double>(evaluateCubicEnvelope(c, x[i])) - y[i]));
    }
    return worst;
}

// --- The fit on its own -----------------------------------------------------

TEST(CubicFit, ReproducesAParabolaWhereverThePulsesLie) {
    for (int start : {200, 1500, 2500, 3600}) {
        std::vector<std::int16_t> x;
        std::vector<std::int16_t> y;
        parabola(start, x, y);
        std::array<double, 4> c{};
        ASSERT_TRUE(fitCubicEnvelope<double>(x, y, c));
        EXPECT_LT(worstMiss<double>(x, y, c), 1e-3) << "pulses from " << start;
    }
}

TEST(CubicFit, SinglePrecisionWouldMissLatePulsesByMoreThanTheirSize) {
    // Why the fit runs in double: the same elimination in float misses the
    // amplitudes (25..250) of pulses late in the recording by more than 25.
    std::vector<std::int16_t> x;
    std::vector<std::int16_t> y;
    parabola(2500, x, y);
    std::array<float, 4> c{};
    ASSERT_TRUE(fitCubicEnvelope<float>(x, y, c));
    EXPECT_GT(worstMiss<float>(x, y, c), 25.0);
}

TEST(CubicFit, RefusesTooFewOrDegeneratePointsAndKeepsTheCoefficients) {
    const std::array<double, 4> before{1, 2, 3, 4};
    std::array<double, 4> c = before;
    const std::vector<std::int16_t> three{100, 200, 300};
    EXPECT_FALSE(fitCubicEnvelope<double>(three, three, c));
    // Four pulses at one index: the normal matrix is singular.
    const std::vector<std::int16_t> same{3000, 3000, 3000, 3000};
    const std::vector<std::int16_t> y{10, 20, 30, 40};
    EXPECT_FALSE(fitCubicEnvelope<double>(same, y, c));
    const std::vector<std::int16_t> four{100, 200, 300, 400};
    EXPECT_FALSE(fitCubicEnvelope<double>(four, three, c));
    EXPECT_EQ(c, before);
}

// --- Realistic recordings -----------------------------------------------------

struct RecordingCase {
    const char* name;
    double beatsPerMinute;
    int peakIndex;
    double startPressure;  // half units; the higher, the faster the cuff deflates
};

class RealisticRecording : public ::testing::TestWithParam<RecordingCase> {};

TEST_P(RealisticRecording, CurveFollowsThePulseAmplitudes) {
    auto analysis = std::make_unique<Analysis>();
    for (std::uint32_t seed = 1; seed <= 10; ++seed) {
        SyntheticPulseParams p;
        p.seed = seed;
        p.beatsPerMinute = GetParam().beatsPerMinute;
        p.peakIndex = GetParam().peakIndex;
        p.startPressure = GetParam().startPressure;
        const SyntheticRecording rec = makeSyntheticRecording(p);
        analysis->analyse(rec.pressure, rec.wave, 0);
        SCOPED_TRACE(testing::Message() << "seed " << seed);

        ASSERT_TRUE(analysis->hasCurve());
        const auto x = analysis->peaks();
        const auto y = analysis->smoothedAmplitudes();
        ASSERT_GE(x.size(), 8u);
        const int first = x.front();
        const int last = x.back();
        const auto& curve = analysis->envelope();
        const int baseline = analysis->baseline();

        // The curve exists exactly from the first fitted pulse to the last one.
        for (int s = 0; s < static_cast<int>(kRingSize); ++s) {
            ASSERT_EQ(curve[static_cast<std::size_t>(s)] != Analysis::kNoValue, s >= first && s < last) << s;
        }
        // It is the least-squares cubic through the smoothed amplitudes,
        // truncated to whole units, in the raw wave's scale.
        const CReferenceCubic reference(x, y);
        for (int s = first; s < last; ++s) {
            const long double expected = reference(s);
            const int value = curve[static_cast<std::size_t>(s)] - baseline;
            ASSERT_LE(std::fabs(value - std::trunc(expected)), 1.0L) << "at " << s;
        }
        // And it passes close to the pulses themselves: the envelope of a
        // deflating cuff is smooth enough for a cubic over the window.
        const int top = *std::max_element(y.begin(), y.end());
        for (std::size_t i = 0; i + 1 < x.size(); ++i) {
            EXPECT_LE(std::abs(curve[static_cast<std::size_t>(x[i])] - baseline - y[i]), top / 4)
                << "pulse " << i;
        }
        // The curve peaks near the mean pressure (the window of pulses is
        // not centred on the largest one, so neither is the cubic's top).
        const auto highest = std::max_element(curve.begin() + first, curve.begin() + last);
        EXPECT_NEAR(rec.pressure[static_cast<std::size_t>(highest - curve.begin())], p.meanPressure, 40);
    }
}

INSTANTIATE_TEST_SUITE_P(Animals, RealisticRecording,
                         ::testing::Values(RecordingCase{"RatEarly", 380, 1500, 360},
                                           RecordingCase{"RatLate", 380, 2900, 360},
                                           RecordingCase{"RatLateFastCuff", 350, 3000, 520},
                                           RecordingCase{"RatVeryLate", 320, 3400, 440},
                                           RecordingCase{"DogEarly", 100, 1600, 360},
                                           RecordingCase{"DogLate", 100, 2700, 360},
                                           RecordingCase{"DogLateFastCuff", 100, 2800, 520}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RealisticRecordings, SinglePrecisionFitWouldDrawAWrongCurveOnLatePulses) {
    // A cuff deflating at about 5 mmHg/s puts fewer pulses, over a shorter
    // stretch, into the fit. The same pulses fitted in float: how often does
    // the curve leave the least-squares one by more than a tenth of the
    // largest amplitude? The program's double fit stays within a hundredth of
    // a unit of it.
    auto analysis = std::make_unique<Analysis>();
    int recordings = 0;
    int wrongInFloat = 0;
    for (std::uint32_t seed = 1; seed <= 60; ++seed) {
        SyntheticPulseParams p;
        p.seed = seed;
        p.beatsPerMinute = 300 + (seed * 7) % 100;
        p.peakIndex = 2600 + static_cast<int>(seed * 37) % 800;
        p.startPressure = 520;
        const SyntheticRecording rec = makeSyntheticRecording(p);
        analysis->analyse(rec.pressure, rec.wave, 0);
        const auto x = analysis->peaks();
        const auto y = analysis->smoothedAmplitudes();
        if (!analysis->hasCurve() || x.front() <= 2000) {
            continue;
        }
        ++recordings;
        const CReferenceCubic reference(x, y);
        std::array<float, 4> c{};
        const bool fitted = fitCubicEnvelope<float>(x, y, c);
        const int top = *std::max_element(y.begin(), y.end());
        bool wrong = !fitted;
        for (std::size_t i = 0; i < x.size(); ++i) {
            wrong = wrong || std::fabs(evaluateCubicEnvelope(c, x[i]) - reference(x[i])) > top / 10.0L;
            ASSERT_LT(std::fabs(evaluateCubicEnvelope(analysis->coefficients(), x[i]) - reference(x[i])),
                      0.01L);
        }
        wrongInFloat += wrong ? 1 : 0;
    }
    ASSERT_GE(recordings, 40);
    EXPECT_GE(wrongInFloat * 5, recordings);
}

// --- Robustness ----------------------------------------------------------------

TEST(ArbitraryRings, AnalysisStaysWithinItsListsAndTheRecording) {
    // Damaged files reach the analysis through the data-file tool: any ring
    // contents must give consistent lists (and no out-of-range access, which
    // the sanitizer builds check).
    std::mt19937 rng(7);
    auto analysis = std::make_unique<Analysis>();
    for (int round = 0; round < 300; ++round) {
        Ring pressure;
        Ring wave;
        const int kind = round % 3;
        for (std::size_t i = 0; i < kRingSize; ++i) {
            const auto r = rng();
            pressure[i] = static_cast<std::int16_t>(kind == 0 ? (r & 3) : (r & 0xFFF) + 1);
            // 0: full 16-bit noise, 1: 12-bit noise, 2: sparse spikes
            wave[i] =
                static_cast<std::int16_t>(kind == 0   ? r >> 16
                                          : kind == 1 ? static_cast<int>((r >> 8) & 0xFFF) - 2048
                                                      : ((r & 31) == 0 ? static_cast<int>(r >> 20) : 0));
        }
        analysis->analyse(pressure, wave, 0);
        const auto peaks = analysis->peaks();
        ASSERT_LE(analysis->detectedPeaks().size(), Analysis::kMaxPeaks);
        ASSERT_LE(peaks.size(), Analysis::kMaxFitPoints);
        ASSERT_TRUE(std::is_sorted(peaks.begin(), peaks.end()));
        for (auto index : peaks) {
            ASSERT_GE(index, 100);
            ASSERT_LT(index, 4000);
        }
        if (!analysis->hasCurve()) {
            ASSERT_TRUE(std::all_of(analysis->envelope().begin(), analysis->envelope().end(),
                                    [](std::int16_t v) { return v == Analysis::kNoValue; }));
        }
    }
}

}  // namespace
}  // namespace hx::test
