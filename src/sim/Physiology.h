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
#include <string>

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

// Animals: the first three are the words of the TYPE menu setting. The unit
// knows no mouse: it is measured with TYPE 2 (OTHER), the setting for small
// animals, like the rat.
enum SimAnimalType : int { kAnimalRabbitMonkey = 0, kAnimalDog = 1, kAnimalRat = 2, kAnimalMouse = 3 };

struct AnimalProfile {
    SimTruth mean;          // typical values of a trained animal in the restrainer
    double pulseAmplitude;  // sensor units at the envelope maximum, SENSE 2
    double respirationHz;   // baseline wander of the wave
    double variability;     // scale of the reading-to-reading and animal-to-animal spread
    double restraintHr;     // heart rate raised by this fraction at the start of a sitting, untrained
    double trainingScale;   // times the first day's raise of a rodent (a dog stands for its cuff)
};

// Profile of an animal; other values give the dog.
AnimalProfile animalProfile(int animal);

// Draws the values of one measurement around the animal's mean, with the
// spread scaled by spread and the animal's variability (0: exactly the mean).
// Keeps DBP < MBP < SBP.
SimTruth drawTruth(int animal, double spread, std::mt19937& rng);

// The values of the cycle-th measurement (0 = the first) of an animal that is
// not yet used to the restrainer and the cuff: raised by raiseMmHg on SBP (less
// on MBP and DBP) at first, fading by 30 % per cycle.
SimTruth acclimatedTruth(const SimTruth& rested, double raiseMmHg, int cycle);

// What makes one animal of a species itself, drawn once from the unit's seed
// and its animal number: its own resting values, how strongly and how long its
// first days in the restrainer raise its pressure, and how well its tail
// passes the pulse.
struct SimIndividual {
    double sbpOffset = 0.0;      // mmHg
    double dbpOffset = 0.0;      // mmHg
    double hrFactor = 1.0;       // times the species' heart rate
    double trainingRaise = 1.0;  // times the unit's raise of the first day
    double trainingDays = 1.5;   // the raise falls to 1/e after this many days
    double perfusion = 1.0;      // times the species' pulse amplitude
};

// spread 0: the average animal.
SimIndividual drawIndividual(int animal, double spread, std::uint32_t seed, const std::string& animalNumber);

// How untrained an animal is on its day-th measured day (1 = the first): 1 on
// the first day, falling towards 0 at the individual's pace.
double untrainedShare(const SimIndividual& individual, int day);

// The heart rate of a measurement raised by the restraint: most at the first
// cycle of a sitting (cycle 0), settling to 40 % of that; an untrained animal
// (untrained 1) twice as much as a trained one.
double restrainedHeartRate(double hr, const AnimalProfile& profile, double untrained, int cycle);

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
    // How well the tail passes the pulse (1: a warm tail of an average
    // animal), and how much its vessels swell and narrow (vasomotion, 0..0.6):
    // a slow wave of the pulse amplitude and a larger beat-to-beat variation.
    void setPerfusion(double perfusion, double vasomotion);
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
    double m_perfusion = 1.0;
    double m_vasomotion = 0.0;
    double m_vasoPhase = 0.0;
    double m_vasoHz = 0.08;
    bool m_artefacts = false;

    double m_phase = 0.0;          // of the current beat, 0..1
    double m_periodMs = 600.0;     // of the current beat
    double m_beatAmplitude = 1.0;  // beat-to-beat variation of the current beat
    double m_widen = 1.0;          // of the pulse shape of a fast heart
    double m_shapeScale = 1.0;
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
