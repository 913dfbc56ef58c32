#pragma once
// The simulated unit's own oscillometric estimate, made on the recording it
// streamed: beats found in the pulse wave, their amplitudes against the cuff
// pressure, MBP at the largest amplitude, SBP and DBP where the amplitude
// envelope crosses kSbpRatio and kDbpRatio of it, HR from the beat intervals.

#include <cstdint>
#include <vector>

namespace hx {

struct OscillometricEstimate {
    int errorCode = 0;  // 0, 16 "Lo" (no usable pulses) or 17 "Hi" (SBP above the recording)
    double sbp = 0.0;   // mmHg
    double mbp = 0.0;
    double dbp = 0.0;
    int hr = 0;
    int sbpIndex = 0;            // first sample at or below SBP (0 when none)
    int dbpIndex = 0;            // first sample at or below DBP (0 when none)
    std::vector<int> beats;      // sample indices of the beat tops, ascending
    std::vector<int> usedBeats;  // the beats around the pressures found, at most 50
};

// pressureHalf: cuff pressure in half units per sample; wave: pulse wave per
// sample; both of the same length, sampled at sampleRateHz while the cuff
// deflates. Values before index 0 of the recording do not exist.
OscillometricEstimate estimateOscillometric(const std::vector<std::int16_t>& pressureHalf,
                                            const std::vector<std::int16_t>& wave, int sampleRateHz);

}  // namespace hx
