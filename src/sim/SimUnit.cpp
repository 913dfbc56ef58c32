#include "sim/SimUnit.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "base/ProductId.h"
#include "sim/Oscillometry.h"

namespace hx {

namespace {

constexpr std::int64_t kNever = INT64_MAX;
constexpr double kInflateMmHgPerS = 45.0;
constexpr int kPressHoldMs = 300;       // at the top before the deflation starts
constexpr int kPressTimeoutMs = 15000;  // a cuff that does not fill by then leaks
constexpr double kEndPressureMmHg = 40.0;
constexpr double kMaxRecordSeconds = 38.0;  // fits the 4000-sample sweep with room
constexpr int kMaxRecordSamples = 3990;
constexpr int kCancelHoldMs = 2000;
constexpr int kAutoResultHoldMs = 5000;  // AUTO-S: result shown, then View
constexpr int kAutoPauseMs = 3000;       // AUTO-S: View, then the next start
constexpr double kDumpTauMs = 400.0;
constexpr std::size_t kMaxQueuedRecords = 512;
constexpr std::size_t kMaxLoggedRequests = 10000;
// An animal left this long without a measurement counts as new to the cuff.
constexpr std::int64_t kAcclimationRestMs = 30 * 60 * 1000;

// Deflation in mmHg/s for SPEED "1", "2", "3".
double deflationRate(int speed) {
    static constexpr double kRates[3] = {4.0, 6.0, 8.0};
    return kRates[std::clamp(speed, 0, 2)];
}

std::int64_t localZoneOffset(std::time_t wall) {
    std::tm tm{};
    localtime_r(&wall, &tm);
    return tm.tm_gmtoff;
}

int animalOfType(int type, int smallAnimal) { return type == kAnimalRat ? smallAnimal : type; }

std::int64_t dayOf(std::time_t unitTime) {
    const auto t = static_cast<std::int64_t>(unitTime);
    return t >= 0 ? t / 86400 : (t - 86399) / 86400;
}

std::string stepNumber(const std::string& number, int delta) {
    if (number.empty() ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return number;
    }
    long value = std::stol(number) + delta;
    if (value < 0) value = 0;
    std::string text = std::to_string(value);
    if (text.size() < number.size()) text.insert(0, number.size() - text.size(), '0');
    return text;
}

}  // namespace

struct CSimUnit::Impl {
    bool deferReaderWake = false;    // advanceTo wakes the reader after unlocking
    bool readerWakePending = false;  // a record was queued meanwhile
    explicit Impl(std::uint32_t seed) : gen(seed) {}

    // Held settings.
    SimMenu menu{};
    SimAnimalInfo animal;
    std::string version;
    std::string pcVersion;
    bool answerVersion = true;
    bool configured = true;
    bool leak = false;
    bool errorFlagForced = false;
    double truthSpread = 1.0;
    std::optional<SimTruth> truthOverride;
    double movementChance = 0.0;
    double acclimationMmHg = 0.0;
    // Acclimation: measurements of the animal now in the restrainer, told by
    // its animal number and TYPE; a change of either, or a long rest, starts
    // the count again.
    int cyclesWithAnimal = 0;
    std::string acclimatedNumber;
    int acclimatedType = -1;
    std::int64_t lastStartMs = INT64_MIN / 2;
    double individuality = 0.0;
    double trainingMmHg = 0.0;
    bool restraint = false;
    SimTail tail = SimTail::Warm;
    int smallAnimal = kAnimalRat;
    double pressureShift = 0.0;
    double untrained = 0.0;  // of the animal now measured, 0..1
    // What each animal measured so far is and remembers, by animal and number.
    struct AnimalMemory {
        SimIndividual individual;
        int days = 0;  // days with a measurement
        std::int64_t lastDay = INT64_MIN;
    };
    std::map<std::pair<int, std::string>, AnimalMemory> animals;
    std::int64_t clockOffset = 0;  // unit clock minus wall time, seconds
    int samplesPerPacket = 10;

    // Plug state.
    bool present = true;
    std::uint32_t generation = 1;
    int readers = 0;

    // Cycle.
    int state = kSimAdjust;
    std::int64_t stateUntil = kNever;  // end of a timed state (adjust, cancel, auto result)
    std::int64_t autoAt = kNever;      // next automatic start of an AUTO-S series
    int autoRemaining = 0;
    bool linkOn = true;  // 254 stops the stream, 913/915 start it

    // Sampling.
    bool sampling = false;
    std::int64_t nextSampleMs = 0;
    double cuff = 0.0;  // mmHg
    double cuffTarget = 0.0;
    double deflateRate = 4.0;
    std::int64_t pressStartMs = 0;
    std::int64_t topReachedMs = -1;
    std::int64_t dumpStartMs = 0;
    double dumpFrom = 0.0;
    bool dumping = false;

    // Sweep.
    int sweepPos = 0;
    bool restartPending = false;
    std::vector<WaveSample> pending;
    int pendingStart = 0;
    bool pendingError = false;

    // Recording and results.
    std::vector<std::int16_t> recPressure;
    std::vector<std::int16_t> recWave;
    CPulseGenerator gen;
    std::optional<SimResult> lastResult;
    int resultCount = 0;
    int measurementNumber = 0;

    // Faults.
    enum class ReadFault { None, Curable, Persistent } readFault = ReadFault::None;
    bool brokenPipe = false;  // the next inbound read fails until the pipe is reset

    std::deque<Record> queue;
    std::deque<SimRequest> log;  // the oldest dropped first, in constant time
    std::function<void()> deadlineListener;
};

// ---------------------------------------------------------------------------
// Construction

CSimUnit::CSimUnit(int deviceId, int serial, IClock& clock, SimUnitOptions options)
    : m_deviceId(deviceId),
      m_productId(options.productId ? *options.productId
                                    : static_cast<std::uint16_t>(kProductIdBase + deviceId)),
      m_path(simDevicePath(options.vendorId, m_productId, serial)),
      m_options(std::move(options)),
      m_clock(clock),
      m_impl(std::make_unique<Impl>(m_options.seed)) {
    Impl& u = *m_impl;
    u.menu = m_options.menu;
    u.animal = m_options.animal;
    u.version = m_options.versionText;
    u.answerVersion = m_options.answerVersion;
    u.truthSpread = m_options.truthSpread;
    u.samplesPerPacket = std::clamp(m_options.samplesPerPacket, 1, kMaxPairsPerPacket);
    u.measurementNumber = m_options.measurementNumber;
    u.clockOffset =
        m_options.clockOffsetSeconds ? *m_options.clockOffsetSeconds : localZoneOffset(m_clock.wallTime());
    u.gen.setMotionArtefacts(m_options.motionArtefacts);
    u.gen.setBreathingDepth(m_options.breathingDepth);
    u.movementChance = std::clamp(m_options.movementChance, 0.0, 1.0);
    u.acclimationMmHg = std::max(0.0, m_options.acclimationMmHg);
    u.individuality = std::max(0.0, m_options.individuality);
    u.trainingMmHg = std::max(0.0, m_options.trainingMmHg);
    u.restraint = m_options.restraint;
    u.tail = m_options.tail;
    u.smallAnimal = m_options.smallAnimal == kAnimalMouse ? kAnimalMouse : kAnimalRat;
    const int animal = animalOfType(u.menu[MenuSettings::kType], u.smallAnimal);
    u.gen.setAnimal(animal);
    u.gen.setTruth(drawTruth(animal, u.truthSpread, u.gen.rng()));
    std::lock_guard lock(m_mutex);
    powerOnLocked(m_clock.nowMs());
}

CSimUnit::~CSimUnit() {
    std::lock_guard lock(m_mutex);
    discardQueueLocked();
}

void lifelikeAnimal(SimUnitOptions& options, SimArtefacts artefacts) {
    // SBP then varies by about 5 mmHg from one reading to the next, DBP by 4.
    options.truthSpread = 0.75;
    options.breathingDepth = 0.12;
    options.acclimationMmHg = 12.0;
    options.individuality = 1.0;
    // Rodents' first days in the restrainer read 10 to 25 mmHg high; training
    // takes 1 to 5 days.
    options.trainingMmHg = 18.0;
    options.restraint = true;
    options.movementChance = artefacts == SimArtefacts::None     ? 0.0
                             : artefacts == SimArtefacts::Normal ? 0.25
                                                                 : 0.6;
    options.motionArtefacts = artefacts == SimArtefacts::Many;
}

std::string simDevicePath(std::uint16_t vendorId, std::uint16_t productId, int serial) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "\\\\?\\usb#vid_%04x&pid_%04x#sim%04d#{c14d9f44-b151-42da-9a94-d2c4932b4624}", vendorId,
                  productId, serial);
    return text;
}

void CSimUnit::powerOnLocked(std::int64_t now) {
    Impl& u = *m_impl;
    u.cuff = 0.0;
    u.dumping = false;
    u.linkOn = true;
    u.autoAt = kNever;
    u.autoRemaining = 0;
    u.sweepPos = 0;
    u.restartPending = true;
    u.pending.clear();
    if (m_options.adjustMs > 0) {
        u.state = kSimAdjust;
        u.stateUntil = now + m_options.adjustMs;
    } else {
        u.state = kSimView;
        u.stateUntil = kNever;
    }
    u.sampling = false;
    updateSamplingLocked(now);
}

// ---------------------------------------------------------------------------
// Time

void CSimUnit::setDeadlineListener(std::function<void()> listener) {
    std::lock_guard lock(m_mutex);
    m_impl->deadlineListener = std::move(listener);
}

void CSimUnit::deadlineChanged() {
    std::function<void()> listener;
    {
        std::lock_guard lock(m_mutex);
        listener = m_impl->deadlineListener;
    }
    if (listener) listener();
}

void CSimUnit::advanceTo(std::int64_t nowMs) {
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        // The reader is woken once the lock is released: woken under it, it
        // would only wake to wait for the lock.
        struct Defer {
            Impl& u;
            explicit Defer(Impl& impl) : u(impl) { u.deferReaderWake = true; }
            ~Defer() { u.deferReaderWake = false; }
        } defer(*m_impl);
        advanceLocked(nowMs);
        wake = std::exchange(m_impl->readerWakePending, false);
    }
    if (wake) m_recordReady.notify_all();
}

void CSimUnit::advanceLocked(std::int64_t now) {
    Impl& u = *m_impl;
    if (!u.present) return;
    for (;;) {
        const std::int64_t timed = std::min(u.stateUntil, u.autoAt);
        const std::int64_t sample = u.sampling ? u.nextSampleMs : kNever;
        const std::int64_t t = std::min(timed, sample);
        if (t == kNever || t > now) break;
        if (timed <= sample) {
            handleTimedLocked(t);
        } else {
            u.nextSampleMs += kSamplePeriodMs;
            sampleLocked(t);
        }
        updateSamplingLocked(t);
    }
}

std::int64_t CSimUnit::nextDeadlineMs() const {
    std::lock_guard lock(m_mutex);
    const Impl& u = *m_impl;
    if (!u.present) return kNever;
    std::int64_t d = std::min(u.stateUntil, u.autoAt);
    if (u.sampling) {
        // Wake once per packet, not per sample: nothing leaves the unit in between.
        const int left = streamingLocked() ? u.samplesPerPacket - static_cast<int>(u.pending.size()) : 10;
        d = std::min(d, u.nextSampleMs + static_cast<std::int64_t>(std::max(0, left - 1)) * kSamplePeriodMs);
    }
    return d;
}

bool CSimUnit::streamingLocked() const {
    const Impl& u = *m_impl;
    return u.present && u.configured && u.linkOn && u.readers > 0 &&
           (u.state == kSimView || u.state == kSimPress || u.state == kSimRecord);
}

void CSimUnit::updateSamplingLocked(std::int64_t now) {
    Impl& u = *m_impl;
    // A measurement runs whether or not anybody listens; the live view only
    // needs samples while they are streamed.
    const bool should = u.present && (u.state == kSimPress || u.state == kSimRecord ||
                                      (u.state == kSimView && streamingLocked()));
    if (should && !u.sampling) u.nextSampleMs = now + kSamplePeriodMs;
    u.sampling = should;
}

void CSimUnit::handleTimedLocked(std::int64_t t) {
    Impl& u = *m_impl;
    if (u.stateUntil <= t) {
        u.stateUntil = kNever;
        if (u.state == kSimAdjust || u.state == kSimCancel || u.state == kSimResult) {
            enterViewLocked(t, false);
            if (u.autoRemaining > 0) u.autoAt = t + kAutoPauseMs;
        }
        return;
    }
    if (u.autoAt <= t) {
        u.autoAt = kNever;
        if (u.autoRemaining > 0 && (u.state == kSimView || u.state == kSimResult)) {
            --u.autoRemaining;
            startMeasurementLocked(t);
        } else {
            u.autoRemaining = 0;
        }
    }
}

// ---------------------------------------------------------------------------
// The measurement cycle

void CSimUnit::setStateLocked(int state, std::int64_t now) {
    Impl& u = *m_impl;
    if (u.state == state) return;
    // What was gathered for the PC belongs to the old state's stream.
    flushPendingLocked();
    u.state = state;
    updateSamplingLocked(now);
}

void CSimUnit::enterViewLocked(std::int64_t now, bool restartSweep) {
    Impl& u = *m_impl;
    if (u.state != kSimResult && u.state != kSimCancel && u.state != kSimView) startDumpLocked(now);
    setStateLocked(kSimView, now);
    u.stateUntil = kNever;
    if (restartSweep) restartSweepLocked();
}

void CSimUnit::restartSweepLocked() {
    Impl& u = *m_impl;
    flushPendingLocked();
    u.sweepPos = 0;
    u.restartPending = true;
}

void CSimUnit::startMeasurementLocked(std::int64_t now) {
    Impl& u = *m_impl;
    const int animal = animalOfType(u.menu[MenuSettings::kType], u.smallAnimal);
    u.gen.setAnimal(animal);
    if (animal != u.acclimatedType || u.animal.animalNumber != u.acclimatedNumber ||
        now - u.lastStartMs > kAcclimationRestMs) {
        u.cyclesWithAnimal = 0;
    }
    u.acclimatedType = animal;
    u.acclimatedNumber = u.animal.animalNumber;
    u.lastStartMs = now;

    auto [entry, added] = u.animals.try_emplace({animal, u.animal.animalNumber});
    Impl::AnimalMemory& memory = entry->second;
    if (added)
        memory.individual = drawIndividual(animal, u.individuality, m_options.seed, u.animal.animalNumber);
    const std::int64_t day = dayOf(static_cast<std::time_t>(m_clock.wallTime() + u.clockOffset));
    if (memory.lastDay != day) {
        ++memory.days;
        memory.lastDay = day;
    }
    const SimIndividual& ind = memory.individual;
    u.untrained = u.trainingMmHg > 0.0 ? untrainedShare(ind, memory.days) : 0.0;
    const int cycle = u.cyclesWithAnimal;

    if (u.truthOverride) {
        u.gen.setTruth(*u.truthOverride);
    } else {
        // An untrained animal's readings scatter more.
        SimTruth t = drawTruth(animal, u.truthSpread * (1.0 + u.untrained), u.gen.rng());
        t.sbp += ind.sbpOffset;
        t.dbp += ind.dbpOffset;
        t.mbp += ind.dbpOffset + 0.4 * (ind.sbpOffset - ind.dbpOffset);
        t.hr *= ind.hrFactor;
        const double raise =
            u.trainingMmHg * animalProfile(animal).trainingScale * ind.trainingRaise * u.untrained +
            u.pressureShift;
        t.sbp += raise;
        t.mbp += 0.7 * raise;
        t.dbp += 0.5 * raise;
        t = acclimatedTruth(t, u.acclimationMmHg, cycle);
        if (u.restraint) t.hr = restrainedHeartRate(t.hr, animalProfile(animal), u.untrained, cycle);
        u.gen.setTruth(t);
    }
    if (u.tail == SimTail::Cold) {
        // A tail on a cold platform passes about half the pulse at the start
        // of a sitting and cools further with every cycle; its vessels swell
        // and narrow, and now and then close almost entirely, more often the
        // longer it lies there.
        std::normal_distribution<double> gauss(0.0, 1.0);
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        double p = ind.perfusion * 0.55 * std::pow(0.94, cycle) * std::exp(0.4 * gauss(u.gen.rng()));
        if (uniform(u.gen.rng()) < std::min(0.6, 0.15 + 0.03 * cycle)) p *= 0.08;
        u.gen.setPerfusion(std::max(0.01, p), 0.25);
    } else {
        u.gen.setPerfusion(ind.perfusion, 0.0);
    }
    ++u.cyclesWithAnimal;
    u.cuffTarget = 100.0 + 10.0 * std::clamp<int>(u.menu[MenuSettings::kPress], 0, 25);
    u.cuff = std::max(0.0, currentCuffLocked(now));
    u.dumping = false;
    u.pressStartMs = now;
    u.topReachedMs = -1;
    u.stateUntil = kNever;
    u.autoAt = kNever;
    setStateLocked(kSimPress, now);
}

void CSimUnit::startRecordLocked(std::int64_t now) {
    Impl& u = *m_impl;
    u.deflateRate = std::max(deflationRate(u.menu[MenuSettings::kSpeed]),
                             (u.cuff - kEndPressureMmHg) / kMaxRecordSeconds);
    u.recPressure.clear();
    u.recWave.clear();
    if (u.movementChance > 0.0) {
        // Whether the animal moves during this recording, when, how long and
        // how much: from a twitch the estimate rides out to a struggle it
        // cannot measure through.
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        // An untrained animal struggles more.
        const bool moves = uniform(u.gen.rng()) < std::min(0.9, u.movementChance * (1.0 + 1.5 * u.untrained));
        const double recordSamples = (u.cuff - kEndPressureMmHg) / u.deflateRate * kSampleRateHz;
        const int after = static_cast<int>(uniform(u.gen.rng()) * 0.9 * recordSamples);
        const int length = static_cast<int>((0.5 + 3.5 * uniform(u.gen.rng())) * kSampleRateHz);
        const double size =
            (0.3 + 2.7 * uniform(u.gen.rng())) * animalProfile(u.acclimatedType).pulseAmplitude;
        const double shift = (uniform(u.gen.rng()) < 0.5 ? -1.0 : 1.0) * 0.5 * size;
        if (moves) u.gen.scheduleMovement(after, length, size, shift);
    }
    setStateLocked(kSimRecord, now);
    // The recording sweep starts at ring index 0 with the restart mark.
    restartSweepLocked();
}

void CSimUnit::cancelMeasurementLocked(std::int64_t now) {
    Impl& u = *m_impl;
    u.autoRemaining = 0;
    u.autoAt = kNever;
    startDumpLocked(now);
    setStateLocked(kSimCancel, now);
    u.stateUntil = now + kCancelHoldMs;
}

void CSimUnit::startDumpLocked(std::int64_t now) {
    Impl& u = *m_impl;
    u.dumpFrom = currentCuffLocked(now);
    u.dumpStartMs = now;
    u.dumping = true;
}

double CSimUnit::currentCuffLocked(std::int64_t now) const {
    const Impl& u = *m_impl;
    if (!u.dumping) return u.cuff;
    return u.dumpFrom * std::exp(-static_cast<double>(now - u.dumpStartMs) / kDumpTauMs);
}

void CSimUnit::sampleLocked(std::int64_t t) {
    Impl& u = *m_impl;
    const double dt = kSamplePeriodMs / 1000.0;
    if (u.state == kSimPress) {
        if (u.topReachedMs < 0) {
            // A leaking cuff loses air in proportion to its pressure and never fills.
            u.cuff += (kInflateMmHgPerS - (u.leak ? 0.6 * u.cuff : 0.0)) * dt;
            if (u.cuff >= u.cuffTarget) {
                u.cuff = u.cuffTarget;
                u.topReachedMs = t;
            } else if (t - u.pressStartMs >= kPressTimeoutMs) {
                finishMeasurementLocked(t, kSimErrAir);
                return;
            }
        }
    } else if (u.state == kSimRecord) {
        u.cuff -= u.deflateRate * dt;
    } else {
        u.cuff = currentCuffLocked(t);
    }

    std::normal_distribution<double> noise(0.0, 0.6);
    // SENSE 0..7 sets the amplifier's gain; 2 passes the sensor's units as they are.
    const double gain = (std::clamp<int>(u.menu[MenuSettings::kSense], 0, 7) + 2) / 4.0;
    const double wave = u.gen.nextWave(u.cuff) * gain;
    const double pressureHalf = 2.0 * (u.cuff + u.gen.pressureDisturbance()) + noise(u.gen.rng());
    const bool clipped = wave > 2047.0 || wave < -2048.0;
    WaveSample s;
    s.wave = static_cast<std::int16_t>(std::lround(std::clamp(wave, -2048.0, 2047.0)));
    s.pressureHalf = static_cast<std::int16_t>(std::lround(std::clamp(pressureHalf, -2048.0, 2047.0)));

    if (u.state == kSimRecord) {
        u.recPressure.push_back(s.pressureHalf);
        u.recWave.push_back(s.wave);
    }
    pushSampleLocked(s,
                     clipped || ((u.state == kSimRecord || u.state == kSimPress) && u.gen.artefactActive()));

    if (u.state == kSimPress && u.topReachedMs >= 0 && t - u.topReachedMs >= kPressHoldMs) {
        startRecordLocked(t);
    } else if (u.state == kSimRecord &&
               (u.cuff <= kEndPressureMmHg || static_cast<int>(u.recWave.size()) >= kMaxRecordSamples)) {
        finishMeasurementLocked(t, kSimErrNone);
    }
}

void CSimUnit::pushSampleLocked(const WaveSample& s, bool error) {
    Impl& u = *m_impl;
    if (streamingLocked()) {
        if (u.pending.empty()) {
            u.pendingStart = u.sweepPos;
            u.pendingError = false;
        }
        u.pending.push_back(s);
        u.pendingError = u.pendingError || error;
        if (static_cast<int>(u.pending.size()) >= u.samplesPerPacket) flushPendingLocked();
    }
    ++u.sweepPos;
}

void CSimUnit::flushPendingLocked() {
    Impl& u = *m_impl;
    if (u.pending.empty()) return;
    if (streamingLocked()) {
        std::uint16_t index;
        if (u.restartPending && u.pendingStart == 0) {
            index = kRestartMark;
            u.restartPending = false;
        } else {
            index = static_cast<std::uint16_t>(u.pendingStart % kSweepLength);
        }
        const std::uint8_t flag = (u.pendingError || u.errorFlagForced) ? 1 : 0;
        enqueueLocked(buildWavePacket(index, u.gen.liveHeartRate(), flag,
                                      static_cast<std::uint8_t>(u.menu[MenuSettings::kSense]),
                                      u.pending.data(), u.pending.size()));
    }
    u.pending.clear();
}

void CSimUnit::finishMeasurementLocked(std::int64_t now, int forcedError) {
    Impl& u = *m_impl;
    SimResult r;
    r.truth = u.gen.truth();
    r.recordedSamples = static_cast<int>(u.recWave.size());
    r.measurementNumber = u.measurementNumber++;
    r.dateTime = dateTimeText(static_cast<std::time_t>(m_clock.wallTime() + u.clockOffset));
    if (forcedError != kSimErrNone) {
        r.errorCode = forcedError;
    } else {
        const OscillometricEstimate e = estimateOscillometric(u.recPressure, u.recWave, kSampleRateHz);
        r.errorCode = e.errorCode;
        r.pulseMarks = e.errorCode == 0 ? e.usedBeats : std::vector<int>{};
        if (e.errorCode == 0) {
            r.sbpHalf = static_cast<int>(std::lround(2.0 * e.sbp));
            r.mbpHalf = static_cast<int>(std::lround(2.0 * e.mbp));
            r.dbpHalf = static_cast<int>(std::lround(2.0 * e.dbp));
            r.hr = e.hr;
            r.firstMarker = e.sbpIndex;
            r.secondMarker = e.dbpIndex;
        }
    }
    if (r.pulseMarks.size() > static_cast<std::size_t>(kMaxPulseMarks)) r.pulseMarks.resize(kMaxPulseMarks);

    ResultFields f;
    f.sbpHalf = r.sbpHalf;
    f.mbpHalf = r.mbpHalf;
    f.dbpHalf = r.dbpHalf;
    f.hr = r.hr;
    f.firstMarker = r.firstMarker;
    f.secondMarker = r.secondMarker;
    f.measurementNumber = r.measurementNumber;
    f.errorCode = r.errorCode;
    f.dateTime = r.dateTime;
    f.pulseMarks = r.pulseMarks;
    r.record = buildResultRecord(f);

    // The last samples of the recording go out before the result.
    flushPendingLocked();
    startDumpLocked(now);
    u.state = kSimResult;
    u.stateUntil = kNever;
    updateSamplingLocked(now);
    for (Record& piece : splitResultRecord(r.record)) enqueueLocked(std::move(piece));
    u.lastResult = std::move(r);
    ++u.resultCount;
    if (u.autoRemaining > 0) u.stateUntil = now + kAutoResultHoldMs;
}

// ---------------------------------------------------------------------------
// Keys and commands

void CSimUnit::handleCommandLocked(int code, std::int64_t now) {
    Impl& u = *m_impl;
    switch (code) {
        case kSimKeyStart:
            switch (u.state) {
                case kSimView:
                    u.autoRemaining = std::max(0, u.menu[MenuSettings::kAutoS] - 1);
                    startMeasurementLocked(now);
                    break;
                case kSimPress:
                case kSimRecord:
                    cancelMeasurementLocked(now);
                    break;
                case kSimResult:
                case kSimMenu:
                case kSimAnimal:
                case kSimBrowse:
                case kSimWait:
                    u.autoRemaining = 0;
                    u.autoAt = kNever;
                    enterViewLocked(now, false);
                    break;
                default:
                    break;
            }
            break;
        case kSimKeyUp:
        case kSimKeyDown: {
            const int delta = code == kSimKeyUp ? 1 : -1;
            if (u.state == kSimMenu) {
                u.menu[MenuSettings::kPress] =
                    static_cast<std::int16_t>(std::clamp(u.menu[MenuSettings::kPress] + delta, 0, 25));
            } else if (u.state == kSimAnimal) {
                u.animal.animalNumber = stepNumber(u.animal.animalNumber, delta);
            }
            break;
        }
        case kSimCmdLinkOff:
            u.pending.clear();
            u.linkOn = false;
            break;
        case kSimCmdWaitUsb:
            if (u.state == kSimView) setStateLocked(kSimWait, now);
            break;
        case kSimCmdView:
        case kSimCmdRestartView:
            u.linkOn = true;
            if (u.state == kSimAdjust || u.state == kSimPress || u.state == kSimRecord) break;  // busy
            if (u.state != kSimView) {
                u.autoRemaining = 0;
                u.autoAt = kNever;
            }
            enterViewLocked(now, code == kSimCmdRestartView);
            break;
        default:
            // 910, 911, 914 and other codes: accepted, nothing to do.
            break;
    }
    updateSamplingLocked(now);
}

template <typename F>
void CSimUnit::withUnit(F&& action) {
    {
        std::lock_guard lock(m_mutex);
        const std::int64_t now = m_clock.nowMs();
        advanceLocked(now);
        action(now);
    }
    deadlineChanged();
}

void CSimUnit::pressKey(int code) {
    withUnit([&](std::int64_t now) {
        if (m_impl->present) handleCommandLocked(code, now);
    });
}

void CSimUnit::pressMenuKey() {
    withUnit([&](std::int64_t now) {
        if (m_impl->state == kSimView || m_impl->state == kSimResult) setStateLocked(kSimMenu, now);
    });
}

void CSimUnit::pressAnimalKey() {
    withUnit([&](std::int64_t now) {
        if (m_impl->state == kSimView || m_impl->state == kSimResult) setStateLocked(kSimAnimal, now);
    });
}

void CSimUnit::pressBrowseKey() {
    withUnit([&](std::int64_t now) {
        if (m_impl->state == kSimView || m_impl->state == kSimResult) setStateLocked(kSimBrowse, now);
    });
}

void CSimUnit::enterAnimalNumber(const std::string& number) {
    withUnit([&](std::int64_t now) {
        Impl& u = *m_impl;
        if (u.state != kSimAnimal) return;
        u.animal.animalNumber = number;
        enterViewLocked(now, false);
    });
}

// ---------------------------------------------------------------------------
// Control requests and pipes (driver side)

void CSimUnit::logRequestLocked(int request, int value, bool in, const std::uint8_t* data,
                                std::size_t length) {
    Impl& u = *m_impl;
    if (u.log.size() >= kMaxLoggedRequests) u.log.pop_front();
    SimRequest r;
    r.atMs = m_clock.nowMs();
    r.request = request;
    r.value = value;
    r.in = in;
    if (data) r.data.assign(data, data + length);
    u.log.push_back(std::move(r));
}

int CSimUnit::controlIn(int request, int value, int, std::uint8_t* out, std::size_t length) {
    int result = -1;
    withUnit([&](std::int64_t) {
        Impl& u = *m_impl;
        logRequestLocked(request, value, true, nullptr, 0);
        if (!u.present || !u.configured || out == nullptr) return;
        std::uint8_t reply[8] = {};
        std::size_t size = 0;
        switch (request) {
            case kSimReqGetState:
                reply[0] = static_cast<std::uint8_t>(u.state);
                size = 1;
                break;
            case kSimReqGetTime: {
                const auto bcd = encodeBcdTime(static_cast<std::time_t>(m_clock.wallTime() + u.clockOffset));
                std::memcpy(reply, bcd.data(), 8);
                size = 8;
                break;
            }
            case kSimReqGetMenu: {
                const auto frame = encodeMenuFrame(u.menu);
                std::memcpy(reply, frame.data(), 8);
                size = 8;
                break;
            }
            default:
                return;  // the unit stalls an unknown request
        }
        size = std::min(size, length);
        std::memcpy(out, reply, size);
        result = static_cast<int>(size);
    });
    return result;
}

bool CSimUnit::controlOut(int request, int value, int, const std::uint8_t* data, std::size_t length) {
    bool ok = false;
    withUnit([&](std::int64_t now) {
        Impl& u = *m_impl;
        logRequestLocked(request, value, false, data, length);
        if (!u.present || !u.configured) return;
        switch (request) {
            case kSimReqCommand:
                handleCommandLocked(value, now);
                ok = true;
                break;
            case kSimReqSetTime: {
                if (length < 8 || data == nullptr) return;
                const auto t = decodeClockFrame(data);
                if (!t) return;  // a frame the unit's clock cannot hold
                u.clockOffset = static_cast<std::int64_t>(*t) - static_cast<std::int64_t>(m_clock.wallTime());
                ok = true;
                break;
            }
            case kSimReqSendMenu:
                if (length < 8 || data == nullptr) return;
                u.menu = decodeMenuFrame(data);
                ok = true;
                break;
            case kSimReqGetAnimalInfo: {
                const auto block = encodeAnimalBlock(u.animal, isLongIdVersion(u.version), 6);
                enqueueLocked(Record(block.begin(), block.end()));
                ok = true;
                break;
            }
            case kSimReqGetDeviceVer:
                if (u.answerVersion) {
                    Record r(kRecordSize, 0);
                    r[0] = 7;
                    for (std::size_t i = 0; i < u.version.size() && i + 1 < kRecordSize; ++i) {
                        r[i + 1] = static_cast<std::uint8_t>(u.version[i]);
                    }
                    enqueueLocked(std::move(r));
                }
                ok = true;
                break;
            default:
                break;
        }
    });
    return ok;
}

bool CSimUnit::pipeWrite(const std::uint8_t* data, std::size_t length) {
    bool ok = false;
    withUnit([&](std::int64_t) {
        Impl& u = *m_impl;
        if (!u.present || !u.configured || data == nullptr || length == 0) return;
        if (data[0] == 8) {
            // The PC's version text follows the mark, zero-padded.
            std::string text;
            for (std::size_t i = 1; i < length && data[i] != 0; ++i)
                text.push_back(static_cast<char>(data[i]));
            u.pcVersion = text;
        } else {
            u.animal = decodeAnimalBlock(data, length, isLongIdVersion(u.version));
        }
        ok = true;
    });
    return ok;
}

bool CSimUnit::resetUnit() {
    std::lock_guard lock(m_mutex);
    Impl& u = *m_impl;
    if (!u.present) return false;
    if (u.readFault == Impl::ReadFault::Persistent) return false;
    u.readFault = Impl::ReadFault::None;
    return true;
}

bool CSimUnit::resetPipe() {
    std::lock_guard lock(m_mutex);
    if (!m_impl->present) return false;
    m_impl->brokenPipe = false;
    return true;
}

void CSimUnit::descriptor(std::uint8_t out[18]) const {
    std::memset(out, 0, 18);
    out[0] = 18;    // bLength
    out[1] = 1;     // device descriptor
    out[3] = 0x02;  // USB 2.00
    out[4] = 0xFF;  // vendor-specific class
    out[7] = 64;    // bMaxPacketSize0
    out[8] = static_cast<std::uint8_t>(m_options.vendorId & 0xFF);
    out[9] = static_cast<std::uint8_t>(m_options.vendorId >> 8);
    out[10] = static_cast<std::uint8_t>(m_productId & 0xFF);
    out[11] = static_cast<std::uint8_t>(m_productId >> 8);
    out[12] = 0x05;  // bcdDevice 1.05
    out[13] = 0x01;
    out[14] = 1;
    out[15] = 2;
    out[16] = 3;
    out[17] = 1;  // one configuration
}

void CSimUnit::enqueueLocked(Record record) {
    Impl& u = *m_impl;
    // Nobody reads the inbound pipe: the unit's buffer is simply overwritten.
    if (!u.present || u.readers <= 0) return;
    if (u.queue.size() >= kMaxQueuedRecords) {
        u.queue.pop_front();
        m_clock.endActivity();
    }
    u.queue.push_back(std::move(record));
    m_clock.beginActivity();
    if (u.deferReaderWake)
        u.readerWakePending = true;
    else
        m_recordReady.notify_all();
}

void CSimUnit::discardQueueLocked() {
    Impl& u = *m_impl;
    for (std::size_t i = 0; i < u.queue.size(); ++i) m_clock.endActivity();
    u.queue.clear();
}

std::uint32_t CSimUnit::readerOpened() {
    std::uint32_t generation = 0;
    withUnit([&](std::int64_t now) {
        if (m_impl->present) ++m_impl->readers;
        generation = m_impl->generation;
        updateSamplingLocked(now);
    });
    return generation;
}

void CSimUnit::readerClosed(std::uint32_t generation) {
    withUnit([&](std::int64_t now) {
        Impl& u = *m_impl;
        if (generation != u.generation || u.readers <= 0) return;
        if (--u.readers == 0) {
            u.pending.clear();
            discardQueueLocked();
        }
        updateSamplingLocked(now);
        m_recordReady.notify_all();
    });
}

PipeReadResult CSimUnit::readRecord(const ReadTicket& ticket, std::uint8_t* buffer, std::size_t length,
                                    bool wait) {
    std::unique_lock lock(m_mutex);
    Impl& u = *m_impl;
    PipeReadResult result;
    for (;;) {
        if (*ticket.closed || ticket.generation != u.generation || !u.present) {
            result.error = LinkError::UnitGone;
            return result;
        }
        if (*ticket.cancelled) {
            result.error = LinkError::Cancelled;
            return result;
        }
        if (u.brokenPipe) {
            result.error = LinkError::Protocol;
            return result;
        }
        if (u.readFault != Impl::ReadFault::None) {
            result.error = LinkError::Io;
            return result;
        }
        if (!u.queue.empty()) {
            Record r = std::move(u.queue.front());
            u.queue.pop_front();
            result.bytes = std::min(length, r.size());
            if (buffer != nullptr && result.bytes > 0) std::memcpy(buffer, r.data(), result.bytes);
            result.error = LinkError::None;
            return result;
        }
        if (!wait) {
            result.error = LinkError::None;
            return result;
        }
        result.waited = true;
        m_recordReady.wait(lock);
    }
}

void CSimUnit::wakeReaders() {
    std::lock_guard lock(m_mutex);
    m_recordReady.notify_all();
}

void CSimUnit::plugIn() {
    withUnit([&](std::int64_t now) {
        Impl& u = *m_impl;
        if (u.present) return;
        u.present = true;
        u.readFault = Impl::ReadFault::None;
        powerOnLocked(now);
    });
}

void CSimUnit::pullOut() {
    {
        std::lock_guard lock(m_mutex);
        Impl& u = *m_impl;
        if (!u.present) return;
        advanceLocked(m_clock.nowMs());
        discardQueueLocked();
        u.present = false;
        ++u.generation;
        u.readers = 0;
        u.pending.clear();
        u.sampling = false;
        u.stateUntil = kNever;
        u.autoAt = kNever;
        u.autoRemaining = 0;
        m_recordReady.notify_all();
    }
    deadlineChanged();
}

std::uint32_t CSimUnit::generation() const {
    std::lock_guard lock(m_mutex);
    return m_impl->generation;
}

bool CSimUnit::configured() const {
    std::lock_guard lock(m_mutex);
    return m_impl->configured;
}

// ---------------------------------------------------------------------------
// Observers

bool CSimUnit::present() const {
    std::lock_guard lock(m_mutex);
    return m_impl->present;
}

int CSimUnit::state() const {
    std::lock_guard lock(m_mutex);
    return m_impl->state;
}

SimMenu CSimUnit::menu() const {
    std::lock_guard lock(m_mutex);
    return m_impl->menu;
}

SimAnimalInfo CSimUnit::animalInfo() const {
    std::lock_guard lock(m_mutex);
    return m_impl->animal;
}

std::string CSimUnit::versionText() const {
    std::lock_guard lock(m_mutex);
    return m_impl->version;
}

std::string CSimUnit::pcVersionText() const {
    std::lock_guard lock(m_mutex);
    return m_impl->pcVersion;
}

std::time_t CSimUnit::unitTime() const {
    std::lock_guard lock(m_mutex);
    return static_cast<std::time_t>(m_clock.wallTime() + m_impl->clockOffset);
}

double CSimUnit::cuffPressureMmHg() const {
    std::lock_guard lock(m_mutex);
    return currentCuffLocked(m_clock.nowMs());
}

SimTruth CSimUnit::currentTruth() const {
    std::lock_guard lock(m_mutex);
    return m_impl->gen.truth();
}

std::optional<SimResult> CSimUnit::lastResult() const {
    std::lock_guard lock(m_mutex);
    return m_impl->lastResult;
}

int CSimUnit::resultCount() const {
    std::lock_guard lock(m_mutex);
    return m_impl->resultCount;
}

bool CSimUnit::streaming() const {
    std::lock_guard lock(m_mutex);
    return streamingLocked();
}

std::size_t CSimUnit::queuedRecords() const {
    std::lock_guard lock(m_mutex);
    return m_impl->queue.size();
}

std::vector<SimRequest> CSimUnit::requestLog() const {
    std::lock_guard lock(m_mutex);
    return {m_impl->log.begin(), m_impl->log.end()};
}

int CSimUnit::countRequests(int request, std::optional<int> value) const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_impl->log.begin(), m_impl->log.end(), [&](const SimRequest& r) {
        return r.request == request && (!value || r.value == *value);
    }));
}

void CSimUnit::clearRequestLog() {
    std::lock_guard lock(m_mutex);
    m_impl->log.clear();
}

// ---------------------------------------------------------------------------
// Settings and faults

void CSimUnit::setMenu(const SimMenu& menu) {
    withUnit([&](std::int64_t) { m_impl->menu = menu; });
}

void CSimUnit::setVersionText(const std::string& text) {
    withUnit([&](std::int64_t) { m_impl->version = text; });
}

void CSimUnit::setAnimalInfo(const SimAnimalInfo& info) {
    withUnit([&](std::int64_t) { m_impl->animal = info; });
}

void CSimUnit::setAnswerVersion(bool answer) {
    withUnit([&](std::int64_t) { m_impl->answerVersion = answer; });
}

void CSimUnit::setTruthOverride(std::optional<SimTruth> truth) {
    withUnit([&](std::int64_t) {
        m_impl->truthOverride = truth;
        if (truth) m_impl->gen.setTruth(*truth);
    });
}

void CSimUnit::setMotionArtefacts(bool on) {
    withUnit([&](std::int64_t) { m_impl->gen.setMotionArtefacts(on); });
}

void CSimUnit::setMovementChance(double chance) {
    withUnit([&](std::int64_t) { m_impl->movementChance = std::clamp(chance, 0.0, 1.0); });
}

void CSimUnit::setPulseScale(double scale) {
    withUnit([&](std::int64_t) { m_impl->gen.setPulseScale(scale); });
}

void CSimUnit::setTail(SimTail tail) {
    withUnit([&](std::int64_t) { m_impl->tail = tail; });
}

void CSimUnit::setPressureShift(double sbpMmHg) {
    withUnit([&](std::int64_t) { m_impl->pressureShift = sbpMmHg; });
}

void CSimUnit::setCuffLeak(bool leaking) {
    withUnit([&](std::int64_t) { m_impl->leak = leaking; });
}

void CSimUnit::setConfigured(bool configured) {
    withUnit([&](std::int64_t now) {
        m_impl->configured = configured;
        updateSamplingLocked(now);
    });
}

void CSimUnit::injectReadError(bool resetCures) {
    withUnit([&](std::int64_t) {
        m_impl->readFault = resetCures ? Impl::ReadFault::Curable : Impl::ReadFault::Persistent;
        m_recordReady.notify_all();
    });
}

void CSimUnit::injectBrokenPipe() {
    withUnit([&](std::int64_t) {
        m_impl->brokenPipe = true;
        m_recordReady.notify_all();
    });
}

void CSimUnit::clearFaults() {
    withUnit([&](std::int64_t now) {
        Impl& u = *m_impl;
        u.readFault = Impl::ReadFault::None;
        u.brokenPipe = false;
        u.leak = false;
        u.configured = true;
        u.errorFlagForced = false;
        u.answerVersion = true;
        updateSamplingLocked(now);
    });
}

void CSimUnit::setErrorFlag(bool on) {
    withUnit([&](std::int64_t) { m_impl->errorFlagForced = on; });
}

void CSimUnit::injectMenuNotice(int type) {
    Record r(kRecordSize, 0);
    r[0] = static_cast<std::uint8_t>(type == 15 ? 15 : 1);
    injectRecord(std::move(r));
}

void CSimUnit::injectRecord(std::vector<std::uint8_t> record) {
    if (record.empty()) return;
    if (record.size() > kRecordSize) record.resize(kRecordSize);
    withUnit([&](std::int64_t) { enqueueLocked(std::move(record)); });
}

void CSimUnit::injectShortRecord() { injectRecord({4, 0, 0}); }

void CSimUnit::injectUnknownRecord(int type) {
    Record r(kRecordSize, 0xA5);
    r[0] = static_cast<std::uint8_t>(type & 0x0F);
    injectRecord(std::move(r));
}

}  // namespace hx
