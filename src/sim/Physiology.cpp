#include "sim/Physiology.h"

#include <algorithm>
#include <cmath>

namespace hx {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Fractions by which the envelope falls from its top to SBP and DBP, written
// as the exponents of a Gaussian on each side of the mean pressure.
const double kUpperExponent = -std::log(kSbpRatio);
const double kLowerExponent = -std::log(kDbpRatio);

// Below this cuff pressure the sensor sees the resting pulse.
constexpr double kRestingBelowMmHg = 20.0;
constexpr double kRestingLevel = 0.4;

double gaussBump(double x, double centre, double width) {
    const double d = (x - centre) / width;
    return std::exp(-d * d);
}

// The pulse shape with both waves widened by widen (1: as pulseShape), summed
// over the neighbouring periods so that it stays continuous from one beat to
// the next; not yet scaled.
double widePulse(double phase, double widen) {
    double v = 0.0;
    for (double p : {phase - 1.0, phase, phase + 1.0})
        v += gaussBump(p, 0.2, 0.09 * widen) + 0.35 * gaussBump(p, 0.5, 0.1 * widen);
    return v;
}

// The systolic wave takes at least this long: a fast heart's pulse is not
// sharper than that.
constexpr double kMinSystoleSdMs = 15.0;

}  // namespace

// Values of trained, conscious animals measured by tail or limb cuff, from
// published ranges: rabbit SBP 110-130, DBP 75-90 mmHg, HR 180-250 bpm; beagle
// dog SBP 130-150, MBP 95-105, DBP 75-85 mmHg, HR 70-120 bpm; normotensive rat
// SBP 115-135, DBP 80-90 mmHg, HR 300-350 bpm at rest and 350-450 bpm in the
// restrainer (restraint alone raises it by up to about 40 %); mouse SBP
// 105-125, DBP 75-90 mmHg, HR 500-700 bpm in the restrainer. Rabbits and mice
// vary more from reading to reading than rats, dogs less.
AnimalProfile animalProfile(int animal) {
    switch (animal) {
        case kAnimalRabbitMonkey:
            return {{120.0, 95.0, 80.0, 200.0}, 520.0, 0.7, 1.4, 0.25, 0.7};
        case kAnimalRat:
            return {{125.0, 100.0, 85.0, 360.0}, 420.0, 1.3, 1.0, 0.35, 1.0};
        case kAnimalMouse:
            return {{115.0, 96.0, 82.0, 580.0}, 360.0, 2.7, 1.3, 0.12, 1.0};
        case kAnimalDog:
        default:
            return {{140.0, 99.0, 79.0, 100.0}, 600.0, 0.3, 0.8, 0.15, 0.3};
    }
}

SimTruth drawTruth(int animal, double spread, std::mt19937& rng) {
    const AnimalProfile profile = animalProfile(animal);
    const SimTruth mean = profile.mean;
    if (spread <= 0.0) return mean;
    spread *= profile.variability;
    std::normal_distribution<double> gauss(0.0, 1.0);
    SimTruth t;
    t.dbp = mean.dbp + 5.0 * spread * gauss(rng);
    t.sbp = mean.sbp + 7.0 * spread * gauss(rng);
    // The mean pressure sits at a similar fraction of the pulse pressure in
    // every animal of a type; keep the order with some room on each side.
    if (t.sbp < t.dbp + 20.0) t.sbp = t.dbp + 20.0;
    double fraction = (mean.mbp - mean.dbp) / (mean.sbp - mean.dbp) + 0.04 * spread * gauss(rng);
    fraction = std::clamp(fraction, 0.25, 0.6);
    t.mbp = t.dbp + fraction * (t.sbp - t.dbp);
    t.hr = mean.hr * (1.0 + 0.05 * spread * gauss(rng));
    return t;
}

SimTruth acclimatedTruth(const SimTruth& rested, double raiseMmHg, int cycle) {
    if (raiseMmHg <= 0.0 || cycle < 0) return rested;
    const double r = raiseMmHg * std::pow(0.7, cycle);
    SimTruth t = rested;
    t.sbp += r;
    t.mbp += 0.7 * r;
    t.dbp += 0.5 * r;
    return t;
}

SimIndividual drawIndividual(int animal, double spread, std::uint32_t seed, const std::string& animalNumber) {
    SimIndividual ind;
    if (spread <= 0.0) return ind;
    // FNV-1a of the animal number, so that an animal is the same on every day.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : animalNumber) hash = (hash ^ c) * 16777619u;
    std::seed_seq seq{seed, hash, static_cast<std::uint32_t>(animal)};
    std::mt19937 rng(seq);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double s = spread * animalProfile(animal).variability;
    ind.sbpOffset = 6.0 * s * gauss(rng);
    ind.dbpOffset = 0.6 * ind.sbpOffset + 3.0 * s * gauss(rng);
    ind.hrFactor = std::clamp(1.0 + 0.05 * s * gauss(rng), 0.8, 1.2);
    ind.trainingRaise = std::clamp(1.0 + 0.3 * spread * gauss(rng), 0.3, 1.8);
    ind.trainingDays = 0.5 + 2.0 * uniform(rng);
    ind.perfusion = std::clamp(1.0 + 0.12 * spread * gauss(rng), 0.7, 1.3);
    return ind;
}

double untrainedShare(const SimIndividual& individual, int day) {
    if (day <= 1) return 1.0;
    return std::exp(-(day - 1) / std::max(0.1, individual.trainingDays));
}

double restrainedHeartRate(double hr, const AnimalProfile& profile, double untrained, int cycle) {
    const double settling = 0.4 + 0.6 * std::pow(0.75, std::max(0, cycle));
    return hr * (1.0 + profile.restraintHr * (0.5 + 0.5 * std::clamp(untrained, 0.0, 1.0)) * settling);
}

double oscillationEnvelope(const SimTruth& truth, double cuffMmHg) {
    double f;
    if (cuffMmHg >= truth.mbp) {
        const double x = (cuffMmHg - truth.mbp) / std::max(1.0, truth.sbp - truth.mbp);
        f = std::exp(-kUpperExponent * x * x);
    } else {
        const double x = (truth.mbp - cuffMmHg) / std::max(1.0, truth.mbp - truth.dbp);
        f = std::exp(-kLowerExponent * x * x);
    }
    if (cuffMmHg < kRestingBelowMmHg) {
        const double resting = kRestingLevel * (1.0 - std::max(0.0, cuffMmHg) / kRestingBelowMmHg);
        f = std::max(f, resting);
    }
    return f;
}

double pulseShape(double phase) {
    // Systolic wave plus a dicrotic wave; scaled so the top is 1 and the
    // start of the period is near 0.
    static const double kScale = [] {
        double top = 0.0;
        for (int i = 0; i <= 1000; ++i) {
            const double p = i / 1000.0;
            top = std::max(top, gaussBump(p, 0.2, 0.09) + 0.35 * gaussBump(p, 0.5, 0.1));
        }
        return 1.0 / top;
    }();
    return kScale * (gaussBump(phase, 0.2, 0.09) + 0.35 * gaussBump(phase, 0.5, 0.1));
}

CPulseGenerator::CPulseGenerator(std::uint32_t seed) : m_rng(seed) {
    setAnimal(kAnimalDog);
    m_truth = m_profile.mean;
    m_periodMs = 60000.0 / m_truth.hr;
}

void CPulseGenerator::setAnimal(int type) { m_profile = animalProfile(type); }

void CPulseGenerator::setPerfusion(double perfusion, double vasomotion) {
    m_perfusion = std::max(0.0, perfusion);
    m_vasomotion = std::clamp(vasomotion, 0.0, 0.6);
    if (m_vasomotion <= 0.0) return;
    // Vasomotion runs at a few cycles a minute, each sitting at its own pace.
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    m_vasoHz = 0.05 + 0.1 * uniform(m_rng);
    m_vasoPhase = 2.0 * kPi * uniform(m_rng);
}

void CPulseGenerator::startBeat(double cuffMmHg) {
    const double meanPeriod = 60000.0 / std::max(20.0, m_truth.hr);
    // Respiratory sinus arrhythmia plus a little random variation.
    const double rsa = 0.02 * std::sin(m_respPhase);
    m_periodMs = meanPeriod * (1.0 + rsa + 0.02 * m_gauss(m_rng));
    m_periodMs = std::max(meanPeriod * 0.8, std::min(meanPeriod * 1.2, m_periodMs));
    m_widen = std::max(1.0, kMinSystoleSdMs / (0.09 * m_periodMs));
    if (m_widen > 1.0) {
        double top = 0.0;
        for (int i = 0; i < 100; ++i) top = std::max(top, widePulse(i / 100.0, m_widen));
        m_shapeScale = top > 0.0 ? 1.0 / top : 1.0;
    }
    m_beatAmplitude = std::max(0.3, 1.0 + (0.04 + 0.2 * m_vasomotion) * m_gauss(m_rng));
    // A beat the unit can see updates its live heart rate.
    const double visible =
        m_profile.pulseAmplitude * m_pulseScale * m_perfusion * oscillationEnvelope(m_truth, cuffMmHg);
    if (visible > 40.0) {
        m_liveHr = static_cast<int>(std::lround(60000.0 / m_periodMs));
        m_lastVisibleBeatMs = m_elapsedMs;
    }
}

void CPulseGenerator::maybeStartArtefact() {
    if (!m_artefacts || m_artefactLeft > 0) return;
    // About one movement every 8 seconds.
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    if (uniform(m_rng) >= kSamplePeriodMs / 8000.0) return;
    m_artefactLength = 20 + static_cast<int>(uniform(m_rng) * 40.0);
    m_artefactLeft = m_artefactLength;
    const double sign = uniform(m_rng) < 0.5 ? -1.0 : 1.0;
    m_artefactWave = sign * (300.0 + 600.0 * uniform(m_rng));
    m_artefactPeakPressure = sign * (2.0 + 4.0 * uniform(m_rng));
}

void CPulseGenerator::scheduleMovement(int afterSamples, int lengthSamples, double size, double shift) {
    if (m_movementLeft > 0) return;
    m_movementIn = std::max(0, afterSamples);
    m_movementLength = std::max(1, lengthSamples);
    m_movementSize = size;
    m_movementShift = shift;
}

// One sample of a scheduled movement (burst and baseline shift); advances it.
double CPulseGenerator::movementSample() {
    if (m_movementIn == 0) {
        m_movementIn = -1;
        m_movementLeft = m_movementLength;
        std::uniform_real_distribution<double> uniform(0.0, 2.0 * kPi);
        m_movementPhase1 = uniform(m_rng);
        m_movementPhase2 = uniform(m_rng);
    } else if (m_movementIn > 0) {
        --m_movementIn;
    }
    double wave = 0.0;
    if (m_movementLeft > 0) {
        // The tail twitches at a few hertz, unevenly; the baseline drifts to
        // its new level while it does.
        const double done = static_cast<double>(m_movementLength - m_movementLeft) / m_movementLength;
        const double envelope = std::sin(kPi * done);
        const double t = (m_movementLength - m_movementLeft) * kSamplePeriodMs / 1000.0;
        const double burst = 0.7 * std::sin(2.0 * kPi * 1.7 * t + m_movementPhase1) +
                             0.5 * std::sin(2.0 * kPi * 3.1 * t + m_movementPhase2) + 0.3 * m_gauss(m_rng);
        wave = m_movementSize * envelope * burst;
        m_baselineShift = m_movementShift * done;
        m_artefactPressure += 3.0 * envelope * (m_movementShift < 0 ? -1.0 : 1.0);
        --m_movementLeft;
    } else {
        // The shift fades over about two seconds.
        m_baselineShift *= std::exp(-kSamplePeriodMs / 2000.0);
        if (std::fabs(m_baselineShift) < 0.5) m_baselineShift = 0.0;
    }
    return wave + m_baselineShift;
}

double CPulseGenerator::nextWave(double cuffMmHg) {
    m_elapsedMs += kSamplePeriodMs;
    m_phase += kSamplePeriodMs / m_periodMs;
    if (m_phase >= 1.0) {
        m_phase -= 1.0;
        startBeat(cuffMmHg);
    }
    m_respPhase += 2.0 * kPi * m_profile.respirationHz * kSamplePeriodMs / 1000.0;
    if (m_respPhase > 2.0 * kPi) m_respPhase -= 2.0 * kPi;
    if (m_elapsedMs - m_lastVisibleBeatMs > 3000) m_liveHr = 0;
    if (m_vasomotion > 0.0) {
        m_vasoPhase += 2.0 * kPi * m_vasoHz * kSamplePeriodMs / 1000.0;
        if (m_vasoPhase > 2.0 * kPi) m_vasoPhase -= 2.0 * kPi;
    }

    const double breath = std::sin(m_respPhase);
    const double tail = m_perfusion * (1.0 + m_vasomotion * std::sin(m_vasoPhase));
    const double amplitude = m_profile.pulseAmplitude * m_pulseScale * tail * m_beatAmplitude *
                             (1.0 + m_breathingDepth * breath) * oscillationEnvelope(m_truth, cuffMmHg);
    const double shape = m_widen > 1.0 ? m_shapeScale * widePulse(m_phase, m_widen) : pulseShape(m_phase);
    double wave = amplitude * shape;
    // Breathing moves the tail's blood volume, less in a narrowed tail.
    wave += (8.0 + 150.0 * m_breathingDepth * std::min(1.0, m_perfusion)) * breath;
    wave += 3.0 * m_gauss(m_rng);

    maybeStartArtefact();
    m_artefactPressure = 0.0;
    if (m_artefactLeft > 0) {
        const double s = std::sin(kPi * (m_artefactLength - m_artefactLeft) / m_artefactLength);
        wave += m_artefactWave * s;
        m_artefactPressure = m_artefactPeakPressure * s;
        --m_artefactLeft;
    }
    if (m_movementIn >= 0 || m_movementLeft > 0 || m_baselineShift != 0.0) wave += movementSample();
    return wave;
}

}  // namespace hx
