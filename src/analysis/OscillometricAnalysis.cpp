#include "analysis/OscillometricAnalysis.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/EnvelopeFit.h"

namespace hx {

namespace {

// The analysis keeps several values as signed 16-bit words that wrap on
// overflow; this is that narrowing, made explicit.
constexpr std::int16_t wrap16(std::int32_t v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(v)));
}

// Peak search starts here: the first second of a recording holds the cuff's
// own settling, not pulses.
constexpr int kFirstSearchIndex = 100;
constexpr int kStartThreshold = 50;
constexpr int kNoiseAmplitude = 20;
constexpr int kDecaysBeforeReset = 20;
// Pulses that must precede a gap for the run before it to count.
constexpr std::size_t kMinRunBeforeGap = 12;
constexpr int kZeroRunEndingRecording = 5;
constexpr int kNoInterval = 1000;

// A curve sample from the evaluated envelope: truncated toward zero, clamped to
// the 32-bit range first so that the conversion is always defined, then the
// baseline is added back in 16-bit arithmetic. A value that is not a number
// leaves the sample without a value.
std::int16_t curveValue(double envelope, std::int16_t baseline) {
    if (std::isnan(envelope)) {
        return COscillometricAnalysis::kNoValue;
    }
    constexpr double kLow = static_cast<double>(std::numeric_limits<std::int32_t>::min());
    constexpr double kHigh = static_cast<double>(std::numeric_limits<std::int32_t>::max());
    const auto whole = static_cast<std::int32_t>(std::clamp(envelope, kLow, kHigh));
    // Sum in unsigned arithmetic: only the low 16 bits are kept.
    return wrap16(static_cast<std::int32_t>(static_cast<std::uint32_t>(whole) +
                                            static_cast<std::uint32_t>(static_cast<std::int32_t>(baseline))));
}

}  // namespace

// ---------------------------------------------------------------------------
// PeakList

void COscillometricAnalysis::PeakList::clear() {
    entries.fill(0);
    count = 0;
}

void COscillometricAnalysis::PeakList::append(std::int16_t index) {
    if (count < kMaxPeaks) {
        entries[count++] = index;
    }
}

void COscillometricAnalysis::PeakList::terminate() {
    entries[count] = 0;
    entries[count + 1] = 0;
    entries[count + 2] = 0;
}

// ---------------------------------------------------------------------------

COscillometricAnalysis::COscillometricAnalysis() {
    // No curve until a recording has been analysed (a zero curve would draw a
    // flat line that no fit produced).
    m_curve.fill(kNoValue);
}

void COscillometricAnalysis::analyse(const Ring& pressure, const Ring& wave, int errorCode) {
    if (errorCode != 0) {
        // A failed measurement has no pulses worth fitting; the outputs stay
        // consistent with the last analysed recording.
        return;
    }
    m_pressure = pressure;
    m_wave = wave;

    m_recordingLength = findRecordingLength();
    m_detected.clear();
    m_cleaned.clear();
    m_cut.clear();
    m_final.clear();
    m_largest = 0;
    m_curve.fill(kNoValue);
    m_hasCurve = false;
    if (m_recordingLength < 2) {
        // No sample to take a mean over: nothing to analyse.
        m_baseline = 0;
        return;
    }

    removeBaseline(m_recordingLength);
    detectPeaks(m_detected);

    PeakList once;
    cleanOnce(m_detected, once);
    cleanOnce(once, m_cleaned);

    m_cut = m_cleaned;
    cutAtGap(m_cut);

    if (m_cut.count > 0) {
        m_largest = findLargestPulse(m_cut);
        takeWindow(m_cut, m_largest, m_final);
    }
    for (std::size_t i = 0; i < m_final.count; ++i) {
        m_smoothed[i] = wrap16(smoothedAmplitude(m_final, i));
    }
    fitAndDrawCurve();
}

int COscillometricAnalysis::findRecordingLength() const {
    auto sample = [this](int k) { return k < static_cast<int>(kRingSize) ? m_pressure[k] : 0; };
    for (int k = 0; k < static_cast<int>(kRingSize); ++k) {
        bool allZero = true;
        for (int j = 0; j < kZeroRunEndingRecording && allZero; ++j) {
            allZero = sample(k + j) == 0;
        }
        if (allZero) {
            return k;
        }
    }
    return static_cast<int>(kRingSize);
}

// The mean is taken over the first length - 1 samples (the last recorded one
// is left out), then taken out of the whole ring.
void COscillometricAnalysis::removeBaseline(int length) {
    const int n = length - 1;
    std::int32_t sum = 0;
    for (int i = 0; i < n; ++i) {
        sum += m_wave[i];
    }
    m_baseline = wrap16(sum / n);
    for (auto& sample : m_wave) {
        sample = wrap16(sample - m_baseline);
    }
}

// A peak is taken where the wave has risen over four samples three times in a
// row and the swing since the last decision reaches an adaptive threshold: half
// the last accepted swing (at least 50). Swings that miss it but are more than
// noise let the threshold decay by an eighth, back to 50 after twenty decays.
//
// The swing is the fall from the top since the last decision to the lowest
// value after it. On a fast heart (a mouse, or a rat near 500 a minute: ten to
// fifteen samples a beat) the next pulse can climb above that top before its
// rise has counted three, which would leave a swing of nothing and lose the
// pulse. So a top that is overtaken by a rise that follows a fall (three
// falling samples, the rise not yet counted three) keeps its own swing, and
// the decision takes it when the swing at hand is smaller. Where the rise is
// counted before it reaches the last top (slower hearts) nothing changes.
void COscillometricAnalysis::detectPeaks(PeakList& out) const {
    int lowest = 32767;
    int highest = -32768;
    int highestIndex = 0;
    int overtakenSwing = 0;
    int overtakenIndex = 0;
    int rises = 0;
    int falls = 0;
    int threshold = kStartThreshold;
    int decays = 0;
    out.clear();
    for (int i = kFirstSearchIndex; i < static_cast<int>(kRingSize); ++i) {
        const int v = m_wave[i];
        const int slope = wrap16(v - m_wave[i - 4]);
        if (v < lowest) {
            lowest = v;
        }
        if (v > highest) {
            if (falls >= 3 && highest - lowest > overtakenSwing) {
                overtakenSwing = highest - lowest;
                overtakenIndex = highestIndex;
            }
            highest = v;
            highestIndex = i;
            lowest = v;
        }
        if (slope > 0 && ++rises >= 3) {
            falls = 0;
        }
        if (slope < 0 && ++falls >= 3) {
            rises = 0;
            continue;
        }
        if (rises != 3) {
            continue;
        }
        int swing = highest - lowest;
        int peakIndex = highestIndex;
        if (overtakenSwing > swing) {
            swing = overtakenSwing;
            peakIndex = overtakenIndex;
        }
        if (swing >= threshold) {
            out.append(static_cast<std::int16_t>(peakIndex));
            threshold = std::max(swing / 2, kStartThreshold);
            decays = 0;
        } else if (swing > kNoiseAmplitude) {
            threshold -= threshold >> 3;
            if (++decays == kDecaysBeforeReset) {
                decays = 0;
                threshold = kStartThreshold;
            }
        }
        lowest = 32767;
        highest = -32768;
        overtakenSwing = 0;
    }
    out.terminate();
}

std::int16_t COscillometricAnalysis::meanInterval(const PeakList& list) const {
    if (list.count < 2) {
        return kNoInterval;
    }
    std::int32_t sum = 0;
    for (std::size_t k = 0; k + 1 < list.count; ++k) {
        sum += wrap16(list.entries[k + 1] - list.entries[k]);
    }
    return wrap16(sum / static_cast<std::int32_t>(list.count - 1));
}

// Two peaks closer than 5/9 of the mean interval are one pulse: the higher
// survives. A gap of more than three intervals ends the list's run; a run of
// fewer than twelve pulses before it is thrown away (it was noise before the
// pulses began).
void COscillometricAnalysis::cleanOnce(const PeakList& in, PeakList& out) const {
    const int mean = meanInterval(in);
    out.clear();
    std::size_t k = 0;
    while (k < kMaxPeaks && in.entries[k] != 0) {
        const int p = in.entries[k];
        const int q = in.entries[k + 1];
        const int gap = q != 0 ? q - p : mean;
        if (gap < 5 * mean / 9) {
            if (m_wave[p] > m_wave[q]) {
                out.append(static_cast<std::int16_t>(p));
                k += 2;
            } else {
                k += 1;
            }
            continue;
        }
        if (gap <= 3 * mean) {
            out.append(static_cast<std::int16_t>(p));
        } else if (out.count < kMinRunBeforeGap) {
            out.clear();
        } else {
            out.append(static_cast<std::int16_t>(p));
        }
        ++k;
    }
    out.terminate();
}

// The list ends at the first gap of more than three intervals that follows a
// run of at least twelve regular intervals (the pulses after it belong to
// something else, e.g. a movement).
void COscillometricAnalysis::cutAtGap(PeakList& list) const {
    const int mean = meanInterval(list);
    std::size_t run = 0;
    for (std::size_t k = 0; list.entries[k] != 0 && list.entries[k + 1] != 0; ++k) {
        if (list.entries[k + 1] - list.entries[k] <= 3 * mean) {
            ++run;
        } else if (run >= kMinRunBeforeGap) {
            list.count = k + 1;
            list.terminate();
            return;
        } else {
            run = 0;
        }
    }
}

int COscillometricAnalysis::amplitude(const PeakList& list, std::size_t k) const {
    return m_wave[list.entries[k]];
}

// The largest pulse must be less than twice each neighbour, so that a single
// spike is not taken for it. The first and the last entry have one neighbour
// only and are judged against that one.
int COscillometricAnalysis::findLargestPulse(const PeakList& list) const {
    int best = -1;
    int bestAmplitude = 0;
    for (std::size_t k = 0; k < list.count; ++k) {
        const int a = amplitude(list, k);
        const bool belowPrevious = k == 0 || a < 2 * amplitude(list, k - 1);
        const bool belowNext = k + 1 == list.count || a < 2 * amplitude(list, k + 1);
        if (belowPrevious && belowNext && (best < 0 || a >= bestAmplitude)) {
            best = static_cast<int>(k);
            bestAmplitude = a;
        }
    }
    return std::max(best, 0);
}

int COscillometricAnalysis::smoothedAmplitude(const PeakList& list, std::size_t k) const {
    const int a = amplitude(list, k);
    const bool last = list.entries[k + 1] == 0;
    if (k == 0) {
        // A lone pulse has no neighbour to compare with.
        return last ? a : std::min(a, amplitude(list, 1));
    }
    const int u = amplitude(list, k - 1);
    if (last) {
        return std::min(a, u);
    }
    const int w = amplitude(list, k + 1);
    if (u >= a && u >= w) {
        return u > 3 * a / 2 ? (a + w) / 2 : (u + a + w) / 3;
    }
    if (a >= w) {
        // A spike well above both neighbours is replaced by their mean.
        return (a > 3 * u / 2 || a > 3 * w / 2) ? (u + w) / 2 : (u + a + w) / 3;
    }
    return w > 3 * a / 2 ? (u + a) / 2 : (u + a + w) / 3;
}

// Keeps the pulses around the largest one: from just before the first rise
// above half its smoothed amplitude (after at least three pulses below it) to
// where the amplitudes have fallen below half again, at most 64 pulses.
void COscillometricAnalysis::takeWindow(const PeakList& in, int largest, PeakList& out) const {
    const int half = smoothedAmplitude(in, static_cast<std::size_t>(largest)) / 2;

    int start = 0;
    int lowRun = 0;
    for (int j = 0; j < largest; ++j) {
        if (smoothedAmplitude(in, static_cast<std::size_t>(j)) <= half) {
            ++lowRun;
        } else if (lowRun >= 3) {
            start = std::max(j - 1, 0);
            break;
        } else {
            lowRun = 0;
        }
    }

    int end = largest;
    lowRun = 0;
    while (in.entries[static_cast<std::size_t>(end)] != 0) {
        if (smoothedAmplitude(in, static_cast<std::size_t>(end)) < half) {
            if (++lowRun == 2) {
                break;
            }
        } else {
            lowRun = 0;
        }
        ++end;
    }

    const int count = std::min(std::max(2 * largest - start, end), static_cast<int>(kMaxFitPoints));
    out.clear();
    for (int i = 0; i < count; ++i) {
        const std::int16_t entry = in.entries[static_cast<std::size_t>(start + i)];
        if (entry == 0) {
            break;
        }
        out.append(entry);
    }
    out.terminate();
}

void COscillometricAnalysis::fitAndDrawCurve() {
    const std::size_t n = m_final.count;
    std::array<double, 4> fitted{};
    if (!fitCubicEnvelope<double>(std::span<const std::int16_t>(m_final.entries.data(), n),
                                  std::span<const std::int16_t>(m_smoothed.data(), n), fitted)) {
        // Too few pulses or a degenerate fit: the recording gets no curve, and
        // the coefficients of the last good fit stay.
        return;
    }
    m_coefficients = fitted;
    const int first = m_final.entries[0];
    const int last = m_final.entries[n - 1];
    for (int s = first; s < last; ++s) {
        m_curve[static_cast<std::size_t>(s)] = curveValue(evaluateCubicEnvelope(fitted, s), m_baseline);
    }
    m_hasCurve = true;
}

}  // namespace hx
