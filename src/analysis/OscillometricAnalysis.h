#pragma once
// The PC's own analysis of a recorded measurement: it takes the baseline out of
// the pulse wave, finds the pulse peaks, cleans the peak list, keeps the pulses
// around the largest one, smooths their amplitudes and fits a cubic envelope of
// amplitude over sample index, sampled into one curve value per ring index.
//
// Threading: one object is used from one thread at a time (the user-interface
// thread in the program). The object holds fixed arrays only; analyse()
// allocates nothing, so it is safe to keep one object for the whole run.
// The object is about 25 KB; prefer a member or a heap object to the stack.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Ring.h"

namespace hx {

class COscillometricAnalysis {
  public:
    // Curve value at a sample index where the envelope has no value.
    static constexpr std::int16_t kNoValue = -32768;
    // Most peaks any list holds. A peak takes at least three falling and three
    // rising samples, so a recording can hold no more than this many and none
    // is lost (a mouse's 500-700 beats a minute give up to 450 in a recording).
    static constexpr std::size_t kMaxPeaks = 650;
    // Most pulses kept around the largest pulse for the envelope fit.
    static constexpr std::size_t kMaxFitPoints = 64;

    using Curve = std::array<std::int16_t, kRingSize>;

    COscillometricAnalysis();

    // Analyses one recording. pressure and wave are the frozen result rings
    // (12-bit samples sign-extended, cuff pressure in half units); they are
    // copied, never changed. errorCode is the result's error code: when it is
    // not 0 the recording is not analysed and every output below, the
    // intermediate ones included, keeps what the previous analysis left (so
    // the curve stays that of the earlier recording; callers that draw must
    // not draw it for a failed result).
    void analyse(const Ring& pressure, const Ring& wave, int errorCode);

    // Mean of the wave over the recording, taken out before the peak search.
    // The curve values are in the raw wave's scale (the baseline added back).
    std::int16_t baseline() const { return m_baseline; }

    // Sample indices of the pulses the envelope was fitted to, in increasing
    // order, without the list's ending zeros. Empty when nothing was found.
    std::span<const std::int16_t> peaks() const { return listSpan(m_final); }

    // c0..c3 of the envelope f(s) = c0 + c1 s + c2 s^2 + c3 s^3 (s = sample
    // index, f in wave units without the baseline). A recording without a fit
    // keeps the coefficients of the last successful fit (all 0 before any).
    std::array<double, 4> coefficients() const { return m_coefficients; }

    // One value per sample index: the envelope in raw wave units, or kNoValue.
    // Values exist only from the first fitted pulse up to (not including) the
    // last one, and only when hasCurve() is true.
    const Curve& envelope() const { return m_curve; }

    // True when the envelope holds a fitted curve (at least four pulses and a
    // finite fit). False before the first analysis.
    bool hasCurve() const { return m_hasCurve; }

    // Samples recorded: the index of the first run of five zero pressure
    // samples, or 4000 when there is none. 0 before the first analysis.
    int recordingLength() const { return m_recordingLength; }

    // --- Intermediate results of the last analysis, for tests and tools. ---

    // The wave after the baseline was taken out.
    const Ring& centredWave() const { return m_wave; }
    // Peaks as first found, before any cleaning.
    std::span<const std::int16_t> detectedPeaks() const { return listSpan(m_detected); }
    // After the two cleaning passes (close peaks merged, short runs before a
    // gap dropped).
    std::span<const std::int16_t> cleanedPeaks() const { return listSpan(m_cleaned); }
    // After the list was cut at the first gap that follows a long enough run.
    std::span<const std::int16_t> cutPeaks() const { return listSpan(m_cut); }
    // Smoothed amplitude of each entry of peaks() (the fit's y values).
    std::span<const std::int16_t> smoothedAmplitudes() const { return {m_smoothed.data(), m_final.count}; }
    // Position in cutPeaks() of the largest pulse (0 when none qualified).
    int largestPulse() const { return m_largest; }

  private:
    // A peak list: sample indices ended by a 0, with three 0 words always
    // written after the last entry (the walks below rely on them).
    struct PeakList {
        std::array<std::int16_t, kMaxPeaks + 3> entries{};
        std::size_t count = 0;
        void clear();
        void append(std::int16_t index);  // ignored when full
        void terminate();                 // writes the three ending 0 words
    };

    static std::span<const std::int16_t> listSpan(const PeakList& list) {
        return {list.entries.data(), list.count};
    }

    int findRecordingLength() const;
    void removeBaseline(int length);
    void detectPeaks(PeakList& out) const;
    std::int16_t meanInterval(const PeakList& list) const;
    void cleanOnce(const PeakList& in, PeakList& out) const;
    void cutAtGap(PeakList& list) const;
    int findLargestPulse(const PeakList& list) const;
    void takeWindow(const PeakList& in, int largest, PeakList& out) const;
    int amplitude(const PeakList& list, std::size_t k) const;
    int smoothedAmplitude(const PeakList& list, std::size_t k) const;
    void fitAndDrawCurve();

    Ring m_pressure{};
    Ring m_wave{};
    std::int16_t m_baseline = 0;
    int m_recordingLength = 0;
    PeakList m_detected;
    PeakList m_cleaned;
    PeakList m_cut;
    PeakList m_final;
    std::array<std::int16_t, kMaxFitPoints> m_smoothed{};
    int m_largest = 0;
    std::array<double, 4> m_coefficients{};
    Curve m_curve{};
    bool m_hasCurve = false;
};

}  // namespace hx
