#pragma once
// One simulated measuring unit: the device side of every exchange with the
// program (control requests, the two pipes), its own measurement cycle, its
// clock, menu settings, animal information and version text, the physiological
// signals it streams, its own oscillometric estimate of the result, and faults
// on demand.
//
// Units are made and owned by CSimDriver (addUnit); references stay valid for
// the driver's life. Every public method is thread-safe and may be called from
// any thread (tests, the UI thread, the receiver thread through the driver).
// Time comes from the driver's IClock: in virtual time nothing moves until the
// clock is advanced.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/Clock.h"
#include "sim/Physiology.h"
#include "sim/SimRecords.h"
#include "usb/UnitDriver.h"

namespace hx {

// Unit states as getState reports them.
enum SimUnitState : int {
    kSimAdjust = 1,   // busy adjusting after power-on
    kSimView = 2,     // live view, streams wave packets
    kSimPress = 3,    // inflating the cuff
    kSimRecord = 4,   // deflating and recording the pulses
    kSimResult = 5,   // shows the result
    kSimMenu = 6,     // its own menu is open
    kSimCancel = 9,   // a measurement was cancelled
    kSimWait = 10,    // waiting
    kSimAnimal = 11,  // animal-number entry is open
    kSimBrowse = 12,  // browsing its memory card
};

// Key codes and mode commands of control request 1.
enum SimCommand : int {
    kSimKeyUp = 1,
    kSimKeyDown = 2,
    kSimKeyStart = 4,  // start / enter; cancels a running measurement
    kSimCmdLinkOff = 254,
    kSimCmdMenuUsb = 910,
    kSimCmdTimeUsb = 911,
    kSimCmdWaitUsb = 912,
    kSimCmdView = 913,         // CR_VIEW
    kSimCmdIdle = 914,         // CR_IDLE
    kSimCmdRestartView = 915,  // CR_RESTARTVIEW
};

// Control request numbers the unit answers.
enum SimRequestNumber : int {
    kSimReqCommand = 1,
    kSimReqGetTime = 3,
    kSimReqGetMenu = 4,
    kSimReqGetState = 5,
    kSimReqSetTime = 6,
    kSimReqSendMenu = 10,
    kSimReqGetAnimalInfo = 12,
    kSimReqGetDeviceVer = 14,
};

// Error codes of a failed measurement.
enum SimErrorCode : int {
    kSimErrNone = 0,
    kSimErrAir = 5,  // "Air": the cuff leaks, the pressure was not reached
    kSimErrLo = 16,  // "Lo": no usable pulses
    kSimErrHi = 17,  // "Hi": the pressure lies beyond the measured range
};

// One measurement as the unit reported it, with the hidden truth behind it.
struct SimResult {
    int errorCode = 0;
    int sbpHalf = 0;  // half units, as sent
    int mbpHalf = 0;
    int dbpHalf = 0;
    int hr = 0;
    int firstMarker = 0;   // recording sample index at the SBP point
    int secondMarker = 0;  // recording sample index at the DBP point
    int measurementNumber = 0;
    std::string dateTime;                    // YYMMDDhhmmss from the unit's clock
    std::vector<int> pulseMarks;             // at most 50, ascending, never 0
    int recordedSamples = 0;                 // samples of the recording sweep (ring indices 0..n-1)
    SimTruth truth;                          // what the animal really had
    std::array<std::uint8_t, 186> record{};  // the result record as sent in three pieces
};

// One control request as the unit received it.
struct SimRequest {
    std::int64_t atMs = 0;
    int request = 0;
    int value = 0;
    bool in = false;  // unit to host
    std::vector<std::uint8_t> data;
};

// The tail the cuff sits on: warm (a warmed platform, the pulse passes well)
// or cold (small pulses that fade further during the sitting as the tail
// cools, with the vessels swelling and narrowing).
enum class SimTail { Warm, Cold };

struct SimUnitOptions {
    std::string versionText = "HX-40K V1.05";  // ends in '2'..'8': long-ID animal block
    std::uint32_t seed = 1;
    SimMenu menu = defaultSimMenu();
    SimAnimalInfo animal{"1", "", "", "", ""};
    int adjustMs = 3000;           // state 1 after power-on; 0 starts in View
    int samplesPerPacket = 10;     // 1..14 sample pairs per wave packet (100 samples/s)
    bool answerVersion = true;     // false: getDeviceVer is never answered
    bool motionArtefacts = false;  // small movements now and then, about one every 8 s
    double truthSpread = 1.0;      // 0: every measurement has the animal's mean values
    // The defaults below give the clean animal that tests with exact
    // expectations rely on; lifelikeAnimal() sets what the program uses.
    double breathingDepth = 0.0;   // fraction by which breathing swells the pulse (0..0.5)
    double movementChance = 0.0;   // probability per measurement of a movement while recording
    double acclimationMmHg = 0.0;  // SBP raise of an animal's first measurement, fading over the next
    // Across days: each animal (by its animal number and the seed) has its own
    // values and remembers on how many days it has been measured. The raise of
    // its first day (on SBP, and erratic readings, more movements) fades over
    // its next days; the restraint raises its heart rate at the start of every
    // sitting, more while it is untrained.
    double individuality = 0.0;  // 0: every animal of a species alike; 1: as animals differ
    double trainingMmHg = 0.0;   // SBP raise of an average animal's first day
    bool restraint = false;
    SimTail tail = SimTail::Warm;
    int smallAnimal = kAnimalRat;  // in the cuff when TYPE is 2 (OTHER): kAnimalRat or kAnimalMouse
    std::uint16_t vendorId = 0x1A2B;
    std::optional<std::uint16_t> productId;          // default 0x110 + device ID
    std::optional<std::int64_t> clockOffsetSeconds;  // unit clock - wall time; default: local zone
    int measurementNumber = 0;                       // number the next measurement reports
};

// How often the simulated animal moves during a measurement.
enum class SimArtefacts { None, Normal, Many };

// Turns on what makes the animal lifelike: reading-to-reading spread,
// breathing, acclimation (the first measurements of an animal are raised),
// animals that differ, training across days, the restraint's effect on the
// heart, and movements at the given rate. Deterministic for the options' seed.
void lifelikeAnimal(SimUnitOptions& options, SimArtefacts artefacts);

class CSimDriver;

// Device path of a simulated unit: "\\?\usb#vid_VVVV&pid_PPPP#simNNNN#{class GUID}",
// lower-case hex, NNNN the serial number.
std::string simDevicePath(std::uint16_t vendorId, std::uint16_t productId, int serial);

class CSimUnit {
  public:
    CSimUnit(int deviceId, int serial, IClock& clock, SimUnitOptions options);
    ~CSimUnit();
    CSimUnit(const CSimUnit&) = delete;
    CSimUnit& operator=(const CSimUnit&) = delete;

    // Identity.
    int deviceId() const { return m_deviceId; }
    std::uint16_t productId() const { return m_productId; }
    std::uint16_t vendorId() const { return m_options.vendorId; }
    const std::string& devicePath() const { return m_path; }
    bool present() const;

    // What the unit holds and shows.
    int state() const;
    SimMenu menu() const;
    SimAnimalInfo animalInfo() const;
    std::string versionText() const;
    std::string pcVersionText() const;  // last PC version frame, "" before one came
    std::time_t unitTime() const;       // its own clock, seconds since 1970 in its own zone
    double cuffPressureMmHg() const;
    SimTruth currentTruth() const;  // the animal's values for this (or the next) measurement
    std::optional<SimResult> lastResult() const;
    int resultCount() const;              // results sent since the unit was made
    bool streaming() const;               // sends wave packets in View, Press and Record
    std::size_t queuedRecords() const;    // records waiting on the inbound pipe
    std::int64_t nextDeadlineMs() const;  // INT64_MAX when nothing is due

    // Control requests as received, oldest first.
    std::vector<SimRequest> requestLog() const;
    int countRequests(int request, std::optional<int> value = std::nullopt) const;
    void clearRequestLog();

    // The unit's own keys and screens (as a person at the unit would use them).
    void pressKey(int code);  // 1 up, 2 down, 4 start/enter
    void pressMenuKey();      // opens its menu (state 6)
    void pressAnimalKey();    // opens the animal-number entry (state 11)
    void pressBrowseKey();    // opens the memory-card browser (state 12)
    // In the animal entry: types a new animal number and confirms it.
    void enterAnimalNumber(const std::string& number);

    // Settings changed on the unit itself.
    void setMenu(const SimMenu& menu);
    void setVersionText(const std::string& text);
    void setAnimalInfo(const SimAnimalInfo& info);
    void setAnswerVersion(bool answer);
    // Fixes the animal's values of every following measurement (nullopt: drawn again).
    void setTruthOverride(std::optional<SimTruth> truth);
    void setMotionArtefacts(bool on);
    void setMovementChance(double chance);  // per measurement, 0..1
    void setPulseScale(double scale);       // 0: no pulse reaches the sensor (no animal)
    void setTail(SimTail tail);
    // Raises SBP of the following measurements by this much (MBP and DBP
    // less), as a treatment would: for simulated studies.
    void setPressureShift(double sbpMmHg);

    // Faults on demand.
    void setCuffLeak(bool leaking);       // the cuff cannot be pressurised: "Air"
    void setConfigured(bool configured);  // false: the configuration query gives 0
    // The next pipe read fails with DeviceError; with resetCures a unit reset
    // clears it, otherwise the reset fails and the fault stays until replug or
    // clearFaults.
    void injectReadError(bool resetCures);
    // The next pipe read fails with BrokenPipe, and so does every read until
    // the inbound pipe is reset.
    void injectBrokenPipe();
    // Ends every fault: read errors, broken pipe, leak, unconfigured, forced
    // error flag, and answers the version request again.
    void clearFaults();
    void setErrorFlag(bool on);                           // byte 6 of the wave packets
    void injectMenuNotice(int type = 1);                  // a type-1 or type-15 record
    void injectRecord(std::vector<std::uint8_t> record);  // any bytes, 1..64
    void injectShortRecord();                             // a 3-byte wave packet header
    void injectUnknownRecord(int type = 9);               // a 64-byte record of a type nobody decodes

  private:
    friend class CSimDriver;
    struct Impl;

    // Driver side (called by CSimDriver).
    void setDeadlineListener(std::function<void()> listener);
    void advanceTo(std::int64_t nowMs);
    void plugIn();
    void pullOut();
    std::uint32_t generation() const;
    bool configured() const;
    void descriptor(std::uint8_t out[18]) const;
    int controlIn(int request, int value, int index, std::uint8_t* out, std::size_t length);
    bool controlOut(int request, int value, int index, const std::uint8_t* data, std::size_t length);
    bool pipeWrite(const std::uint8_t* data, std::size_t length);
    bool resetUnit();
    bool resetPipe();
    std::uint32_t readerOpened();  // returns the plug-in generation it counted for
    void readerClosed(std::uint32_t generation);
    struct ReadTicket {
        std::uint32_t generation = 0;
        const bool* cancelled = nullptr;  // guarded by the unit's mutex
        const bool* closed = nullptr;     // guarded by the unit's mutex
    };
    // wait false: 0 bytes at once when nothing is queued.
    PipeReadResult readRecord(const ReadTicket& ticket, std::uint8_t* buffer, std::size_t length, bool wait);
    void wakeReaders();
    std::mutex& mutex() const { return m_mutex; }

    // Runs action(now) under the lock after catching up with the clock, then
    // tells the driver that the next deadline may have moved.
    template <typename F>
    void withUnit(F&& action);
    void deadlineChanged();

    // Everything below runs with m_mutex held.
    void powerOnLocked(std::int64_t now);
    void advanceLocked(std::int64_t now);
    bool streamingLocked() const;
    void updateSamplingLocked(std::int64_t now);
    void handleTimedLocked(std::int64_t t);
    void setStateLocked(int state, std::int64_t now);
    void enterViewLocked(std::int64_t now, bool restartSweep);
    void restartSweepLocked();
    void startMeasurementLocked(std::int64_t now);
    void startRecordLocked(std::int64_t now);
    void cancelMeasurementLocked(std::int64_t now);
    void startDumpLocked(std::int64_t now);
    double currentCuffLocked(std::int64_t now) const;
    void sampleLocked(std::int64_t t);
    void pushSampleLocked(const WaveSample& sample, bool error);
    void flushPendingLocked();
    void finishMeasurementLocked(std::int64_t now, int forcedError);
    void handleCommandLocked(int code, std::int64_t now);
    void logRequestLocked(int request, int value, bool in, const std::uint8_t* data, std::size_t length);
    void enqueueLocked(Record record);
    void discardQueueLocked();

    const int m_deviceId;
    const std::uint16_t m_productId;
    const std::string m_path;
    SimUnitOptions m_options;
    IClock& m_clock;
    mutable std::mutex m_mutex;
    std::condition_variable m_recordReady;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace hx
