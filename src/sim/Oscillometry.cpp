#include "sim/Oscillometry.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "sim/Physiology.h"

namespace hx {

namespace {

struct Beat {
    int index;        // sample of the top
    double pressure;  // mmHg at the top
    double amplitude; // top minus the foot before it
};

// Removes the slow baseline (a centred moving mean over about one second) and
// smooths over three samples.
std::vector<double> detrendAndSmooth(const std::vector<std::int16_t>& wave, int rate) {
    const int n = static_cast<int>(wave.size());
    std::vector<double> prefix(static_cast<std::size_t>(n) + 1, 0.0);
    for (int i = 0; i < n; ++i) prefix[static_cast<std::size_t>(i) + 1] = prefix[static_cast<std::size_t>(i)] + wave[static_cast<std::size_t>(i)];
    const int half = rate / 2;
    std::vector<double> hp(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const int a = std::max(0, i - half), b = std::min(n, i + half + 1);
        hp[static_cast<std::size_t>(i)] = wave[static_cast<std::size_t>(i)] - (prefix[static_cast<std::size_t>(b)] - prefix[static_cast<std::size_t>(a)]) / (b - a);
    }
    std::vector<double> s(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const int a = std::max(0, i - 1), b = std::min(n - 1, i + 1);
        double sum = 0.0;
        for (int j = a; j <= b; ++j) sum += hp[static_cast<std::size_t>(j)];
        s[static_cast<std::size_t>(i)] = sum / (b - a + 1);
    }
    return s;
}

// The beat period in samples from the autocorrelation of the wave: the
// shortest lag whose correlation comes close to the best one (so a multiple of
// the period is not taken). 0 when the wave shows no rhythm.
int beatPeriod(const std::vector<double>& s, int rate) {
    const int n = static_cast<int>(s.size());
    const int minLag = std::max(4, rate * 60 / 700);
    const int maxLag = std::min(n / 3, rate * 60 / 30);
    if (maxLag <= minLag + 2) return 0;
    std::vector<double> r(static_cast<std::size_t>(maxLag) + 2, 0.0);
    for (int lag = minLag - 1; lag <= maxLag + 1; ++lag) {
        double sum = 0.0;
        for (int i = 0; i + lag < n; ++i) sum += s[static_cast<std::size_t>(i)] * s[static_cast<std::size_t>(i + lag)];
        r[static_cast<std::size_t>(lag)] = sum / (n - lag);
    }
    double best = 0.0;
    for (int lag = minLag; lag <= maxLag; ++lag) best = std::max(best, r[static_cast<std::size_t>(lag)]);
    if (best <= 0.0) return 0;
    for (int lag = minLag; lag <= maxLag; ++lag) {
        const double v = r[static_cast<std::size_t>(lag)];
        if (v >= 0.6 * best && v >= r[static_cast<std::size_t>(lag - 1)] && v >= r[static_cast<std::size_t>(lag + 1)]) return lag;
    }
    return 0;
}

double pressureAt(const std::vector<std::int16_t>& pressureHalf, int index) {
    const int n = static_cast<int>(pressureHalf.size());
    const int a = std::max(0, index - 5), b = std::min(n - 1, index + 5);
    double sum = 0.0;
    for (int i = a; i <= b; ++i) sum += pressureHalf[static_cast<std::size_t>(i)];
    return sum / (b - a + 1) / 2.0;
}

// Tops of the beats: local maxima, the highest first, none closer than 0.6 of
// a period to another.
std::vector<Beat> findBeats(const std::vector<double>& s, const std::vector<std::int16_t>& pressureHalf, int period) {
    const int n = static_cast<int>(s.size());
    const int w = std::max(2, period / 4);
    std::vector<int> candidates;
    for (int i = 1; i + 1 < n; ++i) {
        const int a = std::max(0, i - w), b = std::min(n - 1, i + w);
        bool top = true;
        for (int j = a; j <= b && top; ++j) {
            if (s[static_cast<std::size_t>(j)] > s[static_cast<std::size_t>(i)] || (s[static_cast<std::size_t>(j)] == s[static_cast<std::size_t>(i)] && j < i)) top = false;
        }
        if (top) candidates.push_back(i);
    }
    std::sort(candidates.begin(), candidates.end(),
              [&](int x, int y) { return s[static_cast<std::size_t>(x)] > s[static_cast<std::size_t>(y)]; });
    const int refractory = std::max(2, period * 6 / 10);
    std::vector<int> accepted;
    for (int c : candidates) {
        bool clear = true;
        for (int a : accepted) {
            if (std::abs(a - c) < refractory) {
                clear = false;
                break;
            }
        }
        if (clear) accepted.push_back(c);
    }
    std::sort(accepted.begin(), accepted.end());
    std::vector<Beat> beats;
    for (int top : accepted) {
        double foot = s[static_cast<std::size_t>(top)];
        for (int j = std::max(0, top - refractory); j < top; ++j) foot = std::min(foot, s[static_cast<std::size_t>(j)]);
        beats.push_back({top, pressureAt(pressureHalf, top), s[static_cast<std::size_t>(top)] - foot});
    }
    return beats;
}

// Median of five, then mean of three, along the beats: single outliers such as
// a movement do not move the envelope.
std::vector<double> smoothEnvelope(const std::vector<Beat>& beats) {
    const int n = static_cast<int>(beats.size());
    std::vector<double> med(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        std::vector<double> window;
        for (int j = std::max(0, i - 2); j <= std::min(n - 1, i + 2); ++j) window.push_back(beats[static_cast<std::size_t>(j)].amplitude);
        std::nth_element(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(window.size() / 2), window.end());
        med[static_cast<std::size_t>(i)] = window[window.size() / 2];
    }
    std::vector<double> out(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const int a = std::max(0, i - 1), b = std::min(n - 1, i + 1);
        double sum = 0.0;
        for (int j = a; j <= b; ++j) sum += med[static_cast<std::size_t>(j)];
        out[static_cast<std::size_t>(i)] = sum / (b - a + 1);
    }
    return out;
}

// Least-squares parabola through (x, y); the top when it opens downwards.
bool parabolaTop(const std::vector<double>& x, const std::vector<double>& y, double& topX, double& topY) {
    const std::size_t n = x.size();
    if (n < 3) return false;
    const double mx = std::accumulate(x.begin(), x.end(), 0.0) / static_cast<double>(n);
    double s[5] = {0, 0, 0, 0, 0}, t[3] = {0, 0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        const double u = x[i] - mx;
        double p = 1.0;
        for (int k = 0; k < 5; ++k) {
            s[k] += p;
            if (k < 3) t[k] += p * y[i];
            p *= u;
        }
    }
    // Normal equations for y = c0 + c1 u + c2 u^2, solved by Cramer's rule.
    const double m[3][3] = {{s[0], s[1], s[2]}, {s[1], s[2], s[3]}, {s[2], s[3], s[4]}};
    auto det3 = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double d = det3(m);
    if (std::fabs(d) < 1e-12) return false;
    double c[3];
    for (int k = 0; k < 3; ++k) {
        double mk[3][3];
        for (int r = 0; r < 3; ++r)
            for (int col = 0; col < 3; ++col) mk[r][col] = (col == k) ? t[r] : m[r][col];
        c[k] = det3(mk) / d;
    }
    if (c[2] >= 0.0) return false;
    const double u = -c[1] / (2.0 * c[2]);
    topX = mx + u;
    topY = c[0] + c[1] * u + c[2] * u * u;
    return true;
}

// Pressure at which the envelope crosses level between beats i (at or above)
// and j (below).
double crossing(const std::vector<Beat>& beats, const std::vector<double>& env, std::size_t i, std::size_t j,
                double level) {
    const double span = env[i] - env[j];
    const double f = span > 0.0 ? (env[i] - level) / span : 0.0;
    return beats[i].pressure + f * (beats[j].pressure - beats[i].pressure);
}

int firstIndexAtOrBelow(const std::vector<std::int16_t>& pressureHalf, double mmHg) {
    for (std::size_t i = 0; i < pressureHalf.size(); ++i) {
        if (pressureHalf[i] / 2.0 <= mmHg) return static_cast<int>(i);
    }
    return 0;
}

int heartRate(const std::vector<Beat>& beats, double minAmplitude, int period, int rate) {
    double sum = 0.0;
    int count = 0;
    for (std::size_t i = 1; i < beats.size(); ++i) {
        if (beats[i].amplitude < minAmplitude || beats[i - 1].amplitude < minAmplitude) continue;
        const int d = beats[i].index - beats[i - 1].index;
        if (d < period * 6 / 10 || d > period * 15 / 10) continue;  // a missed or an extra beat
        sum += d;
        ++count;
    }
    if (count == 0) return period > 0 ? static_cast<int>(std::lround(60.0 * rate / period)) : 0;
    return static_cast<int>(std::lround(60.0 * rate * count / sum));
}

}  // namespace

OscillometricEstimate estimateOscillometric(const std::vector<std::int16_t>& pressureHalf,
                                            const std::vector<std::int16_t>& wave, int sampleRateHz) {
    OscillometricEstimate e;
    e.errorCode = 16;
    const std::size_t n = std::min(pressureHalf.size(), wave.size());
    if (n < static_cast<std::size_t>(2 * sampleRateHz) || sampleRateHz <= 0) return e;
    const std::vector<std::int16_t> p(pressureHalf.begin(), pressureHalf.begin() + static_cast<std::ptrdiff_t>(n));
    const std::vector<std::int16_t> w(wave.begin(), wave.begin() + static_cast<std::ptrdiff_t>(n));

    const std::vector<double> s = detrendAndSmooth(w, sampleRateHz);
    const int period = beatPeriod(s, sampleRateHz);
    if (period == 0) return e;
    const std::vector<Beat> beats = findBeats(s, p, period);
    for (const Beat& b : beats) e.beats.push_back(b.index);
    if (beats.size() < 6) return e;

    const std::vector<double> env = smoothEnvelope(beats);
    const std::size_t top = static_cast<std::size_t>(std::max_element(env.begin(), env.end()) - env.begin());
    double amax = env[top];
    if (amax < 30.0) return e;  // nothing a pulse could have made

    // Refine the top with a parabola through the beats near it.
    double mbp = beats[top].pressure;
    {
        std::size_t a = top, b = top;
        while (a > 0 && env[a - 1] >= 0.85 * env[top]) --a;
        while (b + 1 < env.size() && env[b + 1] >= 0.85 * env[top]) ++b;
        std::vector<double> x, y;
        for (std::size_t i = a; i <= b; ++i) {
            x.push_back(beats[i].pressure);
            y.push_back(env[i]);
        }
        double topX = 0.0, topY = 0.0;
        if (parabolaTop(x, y, topX, topY) && topX <= beats[a].pressure && topX >= beats[b].pressure &&
            topY >= env[top]) {
            mbp = topX;
            amax = topY;
        }
    }

    int strong = 0;
    for (const Beat& b : beats) strong += b.amplitude >= 0.3 * amax ? 1 : 0;
    if (strong < 6) return e;

    // SBP: towards higher pressures (earlier beats) until the envelope is below its ratio.
    std::size_t i = top;
    while (i > 0 && env[i - 1] >= kSbpRatio * amax) --i;
    if (i == 0) {
        e.errorCode = 17;  // the pulses were already large when the recording began
        return e;
    }
    const std::size_t sbpAbove = i - 1;
    const double sbp = crossing(beats, env, i, i - 1, kSbpRatio * amax);

    std::size_t j = top;
    while (j + 1 < env.size() && env[j + 1] >= kDbpRatio * amax) ++j;
    if (j + 1 >= env.size()) return e;  // the cuff never went low enough
    const std::size_t dbpBelow = j + 1;
    const double dbp = crossing(beats, env, j, j + 1, kDbpRatio * amax);

    e.errorCode = 0;
    e.sbp = sbp;
    e.mbp = std::clamp(mbp, dbp, sbp);
    e.dbp = dbp;
    e.hr = heartRate(beats, 0.3 * amax, period, sampleRateHz);
    e.sbpIndex = firstIndexAtOrBelow(p, sbp);
    e.dbpIndex = firstIndexAtOrBelow(p, dbp);

    // The beats the estimate rests on, from a little above SBP to a little
    // below DBP, thinned out evenly to at most 50.
    const std::size_t from = sbpAbove >= 2 ? sbpAbove - 2 : 0;
    const std::size_t to = std::min(beats.size() - 1, dbpBelow + 2);
    std::vector<int> used;
    for (std::size_t k = from; k <= to; ++k) {
        if (beats[k].index > 0) used.push_back(beats[k].index);
    }
    if (used.size() > 50) {
        std::vector<int> thinned;
        for (int k = 0; k < 50; ++k) thinned.push_back(used[static_cast<std::size_t>(k) * (used.size() - 1) / 49]);
        used = thinned;
    }
    e.usedBeats = used;
    return e;
}

}  // namespace hx
