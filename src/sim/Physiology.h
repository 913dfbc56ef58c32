#pragma once
// The simulated animal: its true blood pressures and heart rate, and the pulse
// wave its tail gives the unit's sensor at a given cuff pressure.
//
// The oscillation amplitude follows an envelope over the cuff pressure that is
// largest at the mean pressure and falls to kSbpRatio of that at the systolic
// and to kDbpRatio at the diastolic pressure, as the oscillometric method
// assumes. At a nearly empty cuff the pulse stays visible at a resting level.

#include <cstdint>
#include <random>

namespace hx {

// The hidden values of one measurement: mmHg and beats per minute.
struct SimTruth {
    double sbp = 140.0;
    double mbp = 105.0;
    double dbp = 85.0;
    double hr = 100.0;
};

constexpr double kSbpRatio = 0.55;  // amplitude at SBP relative to the maximum
constexpr double kDbpRatio = 0.75;  // amplitude at DBP relative to the maximum
constexpr int kSampleRateHz = 100;
constexpr int kSamplePeriodMs = 1000 / kSampleRateHz;

// Animal types of the TYPE menu word.
enum SimAnimalType : int { kAnimalRabbitMonkey = 0, kAnimalDog = 1, kAnimalRat = 2 };

struct AnimalProfile {
    SimTruth mean;          // typical values of the type
    double pulseAmplitude;  // sensor units at the envelope maximum, SENSE 2
    double respirationHz;   // baseline wander of the wave
};

// Profile of a TYPE word; values outside 0..2 give the dog.
AnimalProfile animalProfile(int type);

// Draws the values of one measurement around the type's mean, with the spread
// scaled by spread (0: exactly the mean). Keeps DBP < MBP < SBP.
SimTruth drawTruth(int type, double spread, std::mt19937& rng);

// The values of the cycle-th measurement (0 = the first) of an animal that is
// not yet used to the restrainer and the cuff: raised by raiseMmHg on SBP (less
// on MBP and DBP, a faster heart) at first, fading by 30 % per cycle.
SimTruth acclimatedTruth(const SimTruth& rested, double raiseMmHg, int cycle);

// Relative oscillation amplitude (0..1) at a cuff pressure in mmHg.
double oscillationEnvelope(const SimTruth& truth, double cuffMmHg);

// Shape of one pulse over its period (phase 0..1): a quick systolic rise, a
// notch and a smaller dicrotic wave; 0 at the start, 1 at the top.
double pulseShape(double phase);

// Sample-by-sample pulse wave of the animal, one call per 10 ms.
class CPulseGenerator {
  public:
    explicit CPulseGenerator(std::uint32_t seed);

    void setAnimal(int type);
    void setTruth(const SimTruth& truth) { m_truth = truth; }
    const SimTruth& truth() const { return m_truth; }
    void setMotionArtefacts(bool on) { m_artefacts = on; }
    void setPulseScale(double scale) { m_pulseScale = scale < 0 ? 0 : scale; }
    // Breathing swells and shrinks the pulse by this fraction (0..0.5) and
    // moves the baseline with it; 0 leaves only a faint baseline wander.
    void setBreathingDepth(double depth) { m_breathingDepth = depth < 0 ? 0 : depth > 0.5 ? 0.5 : depth; }
    // A movement of the animal that begins afterSamples samples from now and
    // lasts lengthSamples: an irregular burst in the wave of about size times
    // the largest pulse, a shift of the wave's baseline by shift sensor units
    // that fades after the burst, and a squeeze of the cuff. Replaces one not
    // yet begun.
    void scheduleMovement(int afterSamples, int lengthSamples, double size, double shift);

    // Wave sample in sensor units (not yet amplified or clipped) at the given
    // cuff pressure; advances time by one sample period.
    double nextWave(double cuffMmHg);
    // Cuff pressure disturbance of the current motion artefact, mmHg.
    double pressureDisturbance() const { return m_artefactPressure; }
    bool artefactActive() const { return m_artefactLeft > 0 || m_movementLeft > 0; }
    // Heart rate from the last visible beat, 0 after 3 s without one.
    int liveHeartRate() const { return m_liveHr; }
    std::mt19937& rng() { return m_rng; }

  private:
    void startBeat(double cuffMmHg);
    void maybeStartArtefact();
    double movementSample();

    std::mt19937 m_rng;
    std::normal_distribution<double> m_gauss{0.0, 1.0};
    SimTruth m_truth;
    AnimalProfile m_profile;
    double m_pulseScale = 1.0;
    bool m_artefacts = false;

    double m_phase = 0.0;          // of the current beat, 0..1
    double m_periodMs = 600.0;     // of the current beat
    double m_beatAmplitude = 1.0;  // beat-to-beat variation of the current beat
    double m_respPhase = 0.0;
    std::int64_t m_elapsedMs = 0;
    std::int64_t m_lastVisibleBeatMs = -1000000;
    int m_liveHr = 0;

    int m_artefactLeft = 0;  // samples
    int m_artefactLength = 0;
    double m_artefactWave = 0.0;
    double m_artefactPressure = 0.0;
    double m_artefactPeakPressure = 0.0;

    double m_breathingDepth = 0.0;
    int m_movementIn = -1;  // samples until a scheduled movement begins; -1: none
    int m_movementLeft = 0;
    int m_movementLength = 0;
    double m_movementSize = 0.0;   // sensor units
    double m_movementShift = 0.0;  // baseline shift at the end of the burst, sensor units
    double m_baselineShift = 0.0;  // what is left of it afterwards
    double m_movementPhase1 = 0.0, m_movementPhase2 = 0.0;
};

}  // namespace hx
