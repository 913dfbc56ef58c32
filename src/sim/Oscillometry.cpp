#include "sim/Oscillometry.h"

#include <algorithm>
#include <cmath>

#include "sim/Physiology.h"

namespace hx {

namespace {

// Beats whose envelope value is at least this fraction of the top take part
// in the fit of the top.
constexpr double kFitLevel = 0.3;
// A beat further than this from the median of its neighbours is a movement.
constexpr double kOutlierFraction = 0.5;
constexpr double kMinPulseUnits = 30.0;
// Neighbouring pulses differ by less than this factor in amplitude; a
// movement's swings do not.
constexpr double kJumpRatio = 1.6;
// No pulse stands this far above the smoothed top of the envelope.
constexpr double kFitCeiling = 1.4;
// Pulses whose envelope tops out below this are too weak to tell whether the
// recording began above SBP: "Lo", not "Hi".
constexpr double kClearPulseUnits = 120.0;

using Signal = std::vector<double>;
using Samples = std::vector<std::int16_t>;
using Index = std::ptrdiff_t;

struct Beat {
    Index index;       // sample of the top
    double pressure;   // mmHg at the top
    double amplitude;  // top minus the foot before it
};

double at(const Signal& s, Index i) { return s[static_cast<std::size_t>(i)]; }
double at(const Samples& s, Index i) { return s[static_cast<std::size_t>(i)]; }
Index length(const Signal& s) { return static_cast<Index>(s.size()); }
Index length(const Samples& s) { return static_cast<Index>(s.size()); }

double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    const auto mid = v.begin() + static_cast<Index>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// Removes the slow baseline (a centred moving mean over about one second) and
// smooths over three samples.
Signal detrendAndSmooth(const Samples& wave, int rate) {
    const Index n = length(wave);
    Signal prefix(wave.size() + 1, 0.0);
    for (Index i = 0; i < n; ++i) prefix[static_cast<std::size_t>(i + 1)] = at(prefix, i) + at(wave, i);
    const Index half = rate / 2;
    Signal hp(wave.size());
    for (Index i = 0; i < n; ++i) {
        const Index a = std::max<Index>(0, i - half), b = std::min(n, i + half + 1);
        hp[static_cast<std::size_t>(i)] =
            at(wave, i) - (at(prefix, b) - at(prefix, a)) / static_cast<double>(b - a);
    }
    Signal s(wave.size());
    for (Index i = 0; i < n; ++i) {
        const Index a = std::max<Index>(0, i - 1), b = std::min(n - 1, i + 1);
        double sum = 0.0;
        for (Index j = a; j <= b; ++j) sum += at(hp, j);
        s[static_cast<std::size_t>(i)] = sum / static_cast<double>(b - a + 1);
    }
    return s;
}

// The beat period in samples from the autocorrelation of the wave: the
// shortest lag whose correlation comes close to the best one (so a multiple of
// the period is not taken). Large excursions (movements) are clipped first so
// they cannot set the rhythm. 0 when the wave shows none.
Index beatPeriod(const Signal& wave, int rate) {
    std::vector<double> magnitudes;
    for (double v : wave) magnitudes.push_back(std::fabs(v));
    const double limit = 4.0 * median(magnitudes) + 1.0;
    Signal clipped;
    for (double v : wave) clipped.push_back(std::clamp(v, -limit, limit));
    // Only where the pulses are strong: above SBP and far below DBP a weak
    // pulse is lost under the breathing, which would set the rhythm.
    const Index total = length(clipped);
    Signal power(clipped.size(), 0.0);
    double strongest = 0.0;
    for (Index i = 0; i < total; ++i) {
        const Index a = std::max<Index>(0, i - rate / 2), b = std::min(total, i + rate / 2 + 1);
        double sum = 0.0;
        for (Index j = a; j < b; j += 2) sum += at(clipped, j) * at(clipped, j);
        power[static_cast<std::size_t>(i)] = sum;
        strongest = std::max(strongest, sum);
    }
    Index first = 0, last = total - 1;
    while (first < last && at(power, first) < 0.25 * strongest) ++first;
    while (last > first && at(power, last) < 0.25 * strongest) --last;
    if (last - first < 3 * rate) {
        first = std::max<Index>(0, (first + last) / 2 - 3 * rate / 2);
        last = std::min(total - 1, first + 3 * rate);
    }
    const Signal s(clipped.begin() + first, clipped.begin() + last + 1);

    const Index n = length(s);
    const Index minLag = std::max(4, rate * 60 / 700);
    const Index maxLag = std::min<Index>(n / 3, rate * 60 / 30);
    if (maxLag <= minLag + 2) return 0;
    Signal r(static_cast<std::size_t>(maxLag + 2), 0.0);
    for (Index lag = minLag - 1; lag <= maxLag + 1; ++lag) {
        double sum = 0.0;
        for (Index i = 0; i + lag < n; ++i) sum += at(s, i) * at(s, i + lag);
        r[static_cast<std::size_t>(lag)] = sum / static_cast<double>(n - lag);
    }
    double best = 0.0;
    for (Index lag = minLag; lag <= maxLag; ++lag) best = std::max(best, at(r, lag));
    if (best <= 0.0) return 0;
    for (Index lag = minLag; lag <= maxLag; ++lag) {
        const double v = at(r, lag);
        if (v >= 0.6 * best && v >= at(r, lag - 1) && v >= at(r, lag + 1)) return lag;
    }
    return 0;
}

double pressureAt(const Samples& pressureHalf, Index index) {
    const Index a = std::max<Index>(0, index - 5), b = std::min(length(pressureHalf) - 1, index + 5);
    double sum = 0.0;
    for (Index i = a; i <= b; ++i) sum += at(pressureHalf, i);
    return sum / static_cast<double>(b - a + 1) / 2.0;
}

// Tops of the beats: local maxima, the highest first, none closer than 0.6 of
// a period to another; each with the depth of the foot before it.
std::vector<Beat> findBeats(const Signal& s, const Samples& pressureHalf, Index period) {
    const Index n = length(s);
    const Index w = std::max<Index>(2, period / 4);
    std::vector<Index> candidates;
    for (Index i = 1; i + 1 < n; ++i) {
        bool top = true;
        for (Index j = std::max<Index>(0, i - w); j <= std::min(n - 1, i + w) && top; ++j) {
            if (at(s, j) > at(s, i) || (at(s, j) == at(s, i) && j < i)) top = false;
        }
        if (top) candidates.push_back(i);
    }
    std::sort(candidates.begin(), candidates.end(), [&](Index x, Index y) { return at(s, x) > at(s, y); });
    const Index refractory = std::max<Index>(2, period * 6 / 10);
    std::vector<Index> accepted;
    for (Index c : candidates) {
        const bool clear = std::none_of(accepted.begin(), accepted.end(),
                                        [&](Index a) { return std::abs(a - c) < refractory; });
        if (clear) accepted.push_back(c);
    }
    std::sort(accepted.begin(), accepted.end());
    std::vector<Beat> beats;
    for (Index top : accepted) {
        double foot = at(s, top);
        for (Index j = std::max<Index>(0, top - refractory); j < top; ++j) foot = std::min(foot, at(s, j));
        beats.push_back({top, pressureAt(pressureHalf, top), at(s, top) - foot});
    }
    return beats;
}

// Drops beats far from the median of their neighbours: a movement of the
// animal, not a pulse.
std::vector<Beat> dropOutliers(const std::vector<Beat>& beats) {
    const Index n = static_cast<Index>(beats.size());
    std::vector<Beat> kept;
    for (Index i = 0; i < n; ++i) {
        std::vector<double> around;
        for (Index j = std::max<Index>(0, i - 3); j <= std::min(n - 1, i + 3); ++j) {
            if (j != i) around.push_back(beats[static_cast<std::size_t>(j)].amplitude);
        }
        const double m = median(around);
        const double a = beats[static_cast<std::size_t>(i)].amplitude;
        if (std::fabs(a - m) <= kOutlierFraction * m + 20.0)
            kept.push_back(beats[static_cast<std::size_t>(i)]);
    }
    return kept;
}

// Median of five, then mean of three, along the beats.
Signal smoothEnvelope(const std::vector<Beat>& beats) {
    const Index n = static_cast<Index>(beats.size());
    Signal med(beats.size());
    for (Index i = 0; i < n; ++i) {
        std::vector<double> window;
        for (Index j = std::max<Index>(0, i - 2); j <= std::min(n - 1, i + 2); ++j) {
            window.push_back(beats[static_cast<std::size_t>(j)].amplitude);
        }
        med[static_cast<std::size_t>(i)] = median(window);
    }
    Signal out(beats.size());
    for (Index i = 0; i < n; ++i) {
        const Index a = std::max<Index>(0, i - 1), b = std::min(n - 1, i + 1);
        double sum = 0.0;
        for (Index j = a; j <= b; ++j) sum += at(med, j);
        out[static_cast<std::size_t>(i)] = sum / static_cast<double>(b - a + 1);
    }
    return out;
}

double det3(const double q[3][3]) {
    return q[0][0] * (q[1][1] * q[2][2] - q[1][2] * q[2][1]) -
           q[0][1] * (q[1][0] * q[2][2] - q[1][2] * q[2][0]) +
           q[0][2] * (q[1][0] * q[2][1] - q[1][1] * q[2][0]);
}

struct Top {
    double at = 0.0;      // mmHg
    double height = 0.0;  // log amplitude
};

// Least squares of y = c - up (x - m)^2 above m and c - down (x - m)^2 below
// it, with m searched in quarter-mmHg steps: the log of an envelope that
// falls off at its own rate on each side of its top.
bool fitTop(const Signal& x, const Signal& y, Top& top) {
    if (x.size() < 5) return false;
    const double lo = *std::min_element(x.begin(), x.end());
    const double hi = *std::max_element(x.begin(), x.end());
    double best = HUGE_VAL;
    bool found = false;
    for (double m = lo; m <= hi; m += 0.25) {
        double a[3][3] = {}, r[3] = {};
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double d = (x[i] - m) * (x[i] - m);
            const double col[3] = {1.0, x[i] >= m ? -d : 0.0, x[i] < m ? -d : 0.0};
            for (int j = 0; j < 3; ++j) {
                r[j] += col[j] * y[i];
                for (int k = 0; k < 3; ++k) a[j][k] += col[j] * col[k];
            }
        }
        const double d = det3(a);
        if (std::fabs(d) < 1e-9) continue;
        double sol[3];
        for (int k = 0; k < 3; ++k) {
            double q[3][3];
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) q[i][j] = j == k ? r[i] : a[i][j];
            sol[k] = det3(q) / d;
        }
        if (sol[1] <= 0.0 || sol[2] <= 0.0) continue;  // not a top
        double ss = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double e = y[i] - (sol[0] - (x[i] >= m ? sol[1] : sol[2]) * (x[i] - m) * (x[i] - m));
            ss += e * e;
        }
        if (ss < best) {
            best = ss;
            top = {m, sol[0]};
            found = true;
        }
    }
    return found;
}

// Pressure at which the envelope crosses level between beats i (at or above)
// and j (below), linearly between them.
double crossing(const std::vector<Beat>& beats, const Signal& env, std::size_t i, std::size_t j,
                double level) {
    const double span = env[i] - env[j];
    const double f = span > 0.0 ? (env[i] - level) / span : 0.0;
    return beats[i].pressure + f * (beats[j].pressure - beats[i].pressure);
}

int firstIndexAtOrBelow(const Samples& pressureHalf, double mmHg) {
    for (std::size_t i = 0; i < pressureHalf.size(); ++i) {
        if (pressureHalf[i] / 2.0 <= mmHg) return static_cast<int>(i);
    }
    return 0;
}

int heartRate(const std::vector<Beat>& beats, double minAmplitude, Index period, int rate) {
    double sum = 0.0;
    int count = 0;
    for (std::size_t i = 1; i < beats.size(); ++i) {
        if (beats[i].amplitude < minAmplitude || beats[i - 1].amplitude < minAmplitude) continue;
        const Index d = beats[i].index - beats[i - 1].index;
        if (d < period * 6 / 10 || d > period * 15 / 10) continue;  // a missed or an extra beat
        sum += static_cast<double>(d);
        ++count;
    }
    if (count == 0) return static_cast<int>(std::lround(60.0 * rate / static_cast<double>(period)));
    return static_cast<int>(std::lround(60.0 * rate * count / sum));
}

// MBP and the largest amplitude from a parabola fitted to the log amplitudes
// around the envelope's top; left as they are when no fit can be made.
void fitMbp(const std::vector<Beat>& beats, const Signal& env, std::size_t top, double& mbp, double& amax) {
    std::size_t a = top, b = top;
    while (a > 0 && env[a - 1] >= kFitLevel * env[top]) --a;
    while (b + 1 < env.size() && env[b + 1] >= kFitLevel * env[top]) ++b;
    Signal x, y;
    for (std::size_t i = a; i <= b; ++i) {
        // Far above the smoothed top: a movement's swing, not a pulse.
        if (beats[i].amplitude <= 1.0 || beats[i].amplitude > kFitCeiling * env[top]) continue;
        x.push_back(beats[i].pressure);
        y.push_back(std::log(beats[i].amplitude));
    }
    Top fitted;
    if (fitTop(x, y, fitted)) {
        mbp = fitted.at;
        amax = std::exp(fitted.height);
    }
}

// A movement between SBP and DBP leaves holes in the beats there (its swings
// were dropped as outliers, the pulses under it were lost), or, when its
// swings passed for beats, amplitudes that jump from one beat to the next as
// no pulse does. With more than a few of either, or a jump next to the top
// (MBP would be the movement's), the pressures would be guessed.
bool movementSpoils(const std::vector<Beat>& beats, const Signal& env, double amax, std::size_t top,
                    std::size_t sbpAbove, std::size_t dbpBelow, Index period, int sampleRateHz) {
    // Each against the smoothed envelope at its place, so that the steep
    // flanks of a narrow pulse pressure are not taken for a jump.
    auto jump = [&](std::size_t k) {
        if (env[k] < kFitLevel * amax && env[k + 1] < kFitLevel * amax) return false;
        const double a = std::max(1.0, beats[k].amplitude) / std::max(1.0, env[k]);
        const double b = std::max(1.0, beats[k + 1].amplitude) / std::max(1.0, env[k + 1]);
        return std::max(a, b) > kJumpRatio * std::min(a, b);
    };
    int expected = 1, missing = 0, jumps = 0;
    for (std::size_t k = sbpAbove; k < dbpBelow; ++k) {
        const double gap =
            static_cast<double>(beats[k + 1].index - beats[k].index) / static_cast<double>(period);
        const int slots = std::max(1, static_cast<int>(std::lround(gap)));
        expected += slots;
        missing += slots - 1;
        if (jump(k)) ++jumps;
    }
    // The top within two seconds of a jump may be the movement's.
    const std::size_t near = static_cast<std::size_t>(std::max<Index>(2, 2 * sampleRateHz / period));
    // A fast heart puts many beats in those seconds, each pair with its own
    // small chance of a large step: one a few beats long counts.
    int jumpsAtTop = 0;
    for (std::size_t k = top > near ? top - near : 0; k + 1 < beats.size() && k <= top + near; ++k) {
        if (jump(k)) ++jumpsAtTop;
    }
    const bool jumpAtTop = jumpsAtTop > static_cast<int>(near / 5);
    return missing > std::max(2, expected / 6) || jumps > std::max(2, expected / 6) || jumpAtTop;
}

// The beats the estimate rests on, from a little above SBP to a little below
// DBP, thinned out evenly to at most 50.
std::vector<int> usedBeats(const std::vector<Beat>& beats, std::size_t sbpAbove, std::size_t dbpBelow) {
    const std::size_t from = sbpAbove >= 2 ? sbpAbove - 2 : 0;
    const std::size_t to = std::min(beats.size() - 1, dbpBelow + 2);
    std::vector<int> used;
    for (std::size_t k = from; k <= to; ++k) {
        if (beats[k].index > 0) used.push_back(static_cast<int>(beats[k].index));
    }
    if (used.size() > 50) {
        std::vector<int> thinned;
        for (std::size_t k = 0; k < 50; ++k) thinned.push_back(used[k * (used.size() - 1) / 49]);
        used = thinned;
    }
    return used;
}

}  // namespace

OscillometricEstimate estimateOscillometric(const std::vector<std::int16_t>& pressureHalf,
                                            const std::vector<std::int16_t>& wave, int sampleRateHz) {
    OscillometricEstimate e;
    e.errorCode = 16;
    const std::size_t n = std::min(pressureHalf.size(), wave.size());
    if (sampleRateHz <= 0 || n < static_cast<std::size_t>(2 * sampleRateHz)) return e;
    const Samples p(pressureHalf.begin(), pressureHalf.begin() + static_cast<Index>(n));
    const Samples w(wave.begin(), wave.begin() + static_cast<Index>(n));

    const Signal s = detrendAndSmooth(w, sampleRateHz);
    const Index period = beatPeriod(s, sampleRateHz);
    if (period == 0) return e;
    const std::vector<Beat> all = findBeats(s, p, period);
    for (const Beat& b : all) e.beats.push_back(static_cast<int>(b.index));
    const std::vector<Beat> beats = dropOutliers(all);
    if (beats.size() < 6) return e;

    const Signal env = smoothEnvelope(beats);
    const std::size_t top = static_cast<std::size_t>(std::max_element(env.begin(), env.end()) - env.begin());
    double amax = env[top];
    if (amax < kMinPulseUnits) return e;  // nothing a pulse could have made

    double mbp = beats[top].pressure;
    fitMbp(beats, env, top, mbp, amax);

    const auto strong =
        std::count_if(beats.begin(), beats.end(), [&](const Beat& b) { return b.amplitude >= 0.3 * amax; });
    if (strong < 6) return e;

    // SBP: towards higher pressures (earlier beats) until the envelope falls
    // below its ratio. Not found: the pulses were already large when the
    // recording began, SBP lies above the cuff pressure.
    std::size_t i = top;
    while (i > 0 && env[i - 1] >= kSbpRatio * amax) --i;
    if (i == 0) {
        if (amax >= kClearPulseUnits) e.errorCode = 17;
        return e;
    }
    const std::size_t sbpAbove = i - 1;
    const double sbp = crossing(beats, env, i, i - 1, kSbpRatio * amax);

    std::size_t j = top;
    while (j + 1 < env.size() && env[j + 1] >= kDbpRatio * amax) ++j;
    if (j + 1 >= env.size()) return e;  // the cuff never went low enough
    const std::size_t dbpBelow = j + 1;
    const double dbp = crossing(beats, env, j, j + 1, kDbpRatio * amax);

    // A movement between SBP and DBP would make the pressures a guess: "Lo".
    if (movementSpoils(beats, env, amax, top, sbpAbove, dbpBelow, period, sampleRateHz)) return e;

    e.errorCode = 0;
    e.sbp = sbp;
    e.dbp = dbp;
    e.mbp = std::clamp(mbp, dbp, sbp);
    e.hr = heartRate(beats, 0.3 * amax, period, sampleRateHz);
    e.sbpIndex = firstIndexAtOrBelow(p, sbp);
    e.dbpIndex = firstIndexAtOrBelow(p, dbp);

    e.usedBeats = usedBeats(beats, sbpAbove, dbpBelow);
    return e;
}

}  // namespace hx
