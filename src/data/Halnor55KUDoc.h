#pragma once
// CHalnor55KUDoc: the one measurement document. It holds what the unit streams
// and reports while the program runs (live rings, frozen result rings, the
// current result, the menu settings, the raw record areas), the values the
// panes show between results, and the binding of this copy of the program to a
// device ID. It owns the preferences and the timer schedule.
//
// Threads: every operation runs on the user-interface thread, except that the
// receiver thread writes raw bytes into the three record areas. The main
// window's hand-over event is the whole protocol between the two: the receiver
// never writes an area while the user-interface thread decodes it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <span>
#include <string>

#include "app/Application.h"
#include "app/Clock.h"
#include "app/MessagePort.h"
#include "base/MenuSettings.h"
#include "base/RecordAreas.h"
#include "base/Ring.h"
#include "data/DocumentListener.h"
#include "data/MeasurementResult.h"
#include "settings/Preference.h"
#include "settings/ProfileStore.h"
#include "timer/TimerSchedule.h"

namespace hx {

class CHalnor55KUDoc {
  public:
    // Measurement phases.
    static constexpr int kPhaseNothingStarted = 99;
    static constexpr int kPhaseStarted = 0;  // a measurement or the live view was started
    static constexpr int kPhaseSweep = 2;    // the unit began a new sweep
    static constexpr int kPhaseResult = 3;   // the result has arrived

    // Live samples between two sends of the live heart rate (sent on the 31st).
    static constexpr std::int16_t kHeartRateInterval = 30;

    // Constructed on the user-interface thread at start-up; app, store and port
    // must outlive the document. documentsFolder ends with "/" (the fallback data
    // folder of the preferences).
    CHalnor55KUDoc(CHalnor40KUApp& app, IProfileStore& store, IMessagePort& port,
                   std::string documentsFolder);
    ~CHalnor55KUDoc();
    CHalnor55KUDoc(const CHalnor55KUDoc&) = delete;
    CHalnor55KUDoc& operator=(const CHalnor55KUDoc&) = delete;

    // ---- collaborators -------------------------------------------------------
    CHalnor40KUApp& app() { return m_app; }
    IMessagePort& port() { return m_port; }
    CPreference& preference() { return m_preference; }
    const CPreference& preference() const { return m_preference; }
    CTimerSchedule& timerSchedule() { return m_schedule; }
    const CTimerSchedule& timerSchedule() const { return m_schedule; }

    // Who hears about live values, sweep restarts, error flags and history rows.
    // Not owned; null means nobody listens. The listener must outlive its use.
    void setListener(IDocumentListener* listener) { m_listener = listener; }
    // The current listener, or a listener that ignores everything.
    IDocumentListener& listener();

    // The clock that stamps and checks the timer schedule (default: the system
    // clock). Not owned; must outlive the document.
    void setClock(IClock& clock) { m_clock = &clock; }

    // ---- wave data -------------------------------------------------------------
    // Live rings, filled sample by sample by the wave decoding.
    Ring& pressureRing() { return m_pressureRing; }
    Ring& waveRing() { return m_waveRing; }
    const Ring& pressureRing() const { return m_pressureRing; }
    const Ring& waveRing() const { return m_waveRing; }
    // Copies of the live rings taken when the last result arrived.
    const Ring& resultPressureRing() const { return m_resultPressureRing; }
    const Ring& resultWaveRing() const { return m_resultWaveRing; }

    // The write position minus 1, or 0 when the write position is 0 (also right
    // after a sample was stored at 3999 and the position wrapped).
    int lastSampleIndex() const { return m_writePosition == 0 ? 0 : m_writePosition - 1; }

    // Fills both live rings and the whole wave record area with 0; the write
    // position and the counters stay as they are.
    void clearLiveData();

    // Cuts the stale tail of the previous sweep off the live rings (entries from
    // the write position on, when it lies in 21 to 3999) and copies both live
    // rings whole into the result rings.
    void freezeRings();

    // ---- record areas (written by the receiver thread) --------------------------
    std::uint8_t* waveArea() { return m_waveArea.data(); }
    std::uint8_t* resultArea() { return m_resultArea.data(); }
    std::uint8_t* animalArea() { return m_animalArea.data(); }
    const std::uint8_t* waveArea() const { return m_waveArea.data(); }
    const std::uint8_t* resultArea() const { return m_resultArea.data(); }
    const std::uint8_t* animalArea() const { return m_animalArea.data(); }

    // True once an animal block from the unit has been decoded; a block built
    // before that carries type byte 6 of its own.
    bool animalBlockReceived() const { return m_animalBlockReceived; }
    void setAnimalBlockReceived() { m_animalBlockReceived = true; }

    // ---- display state -----------------------------------------------------------
    int drawMode() const { return m_drawMode; }
    // Accepts 0, 1, 2, 97, 98 and 99. Any other value keeps the old one, shows
    // "set Drawmode invalid value" with the stop icon and returns false.
    bool setDrawMode(int mode);

    int measurementPhase() const { return m_measurementPhase; }
    void setMeasurementPhase(int phase) { m_measurementPhase = phase; }

    // Ring index (0 to 3999) where the next live sample goes.
    int writePosition() const { return m_writePosition; }
    void setWritePosition(int position) { m_writePosition = position; }

    int sensorLevel() const { return m_sensorLevel; }
    void setSensorLevel(int level) { m_sensorLevel = level; }
    int errorFlag() const { return m_errorFlag; }
    void setErrorFlag(int flag) { m_errorFlag = flag; }

    // Last pressure sample stored, half units; halved for display.
    std::int16_t cuffPressure() const { return m_cuffPressure; }
    void setCuffPressure(std::int16_t pressure) { m_cuffPressure = pressure; }
    std::int16_t cuffPressureForDisplay() const { return halve(m_cuffPressure); }

    std::int16_t heartRateCounter() const { return m_heartRateCounter; }
    void setHeartRateCounter(std::int16_t count) { m_heartRateCounter = count; }
    std::uint8_t packetErrorByte() const { return m_packetErrorByte; }
    void setPacketErrorByte(std::uint8_t value) { m_packetErrorByte = value; }
    std::int16_t liveHeartRate() const { return m_liveHeartRate; }
    void setLiveHeartRate(std::int16_t hr) { m_liveHeartRate = hr; }

    // Whether the main window passes stored packets on to the panes.
    bool liveUpdate() const { return m_liveUpdate; }
    void setLiveUpdate(bool on) { m_liveUpdate = on; }
    // The information view shows MBP and DBP only while set (menu word DBP is 1).
    bool showMbpDbp() const { return m_showMbpDbp; }
    void setShowMbpDbp(bool on) { m_showMbpDbp = on; }

    // 0 while connecting, 1 once the unit's version record was read. Setting it
    // writes "Mark readHXVer :%d" to the diagnostic log.
    int versionMark() const { return m_versionMark; }
    void setVersionMark(int mark);

    // Samples in the last wave packet (0 to 15) and the ring index of its first
    // sample (0 to 3999 for a stored packet).
    int batchCount() const { return m_batchCount; }
    void setBatchCount(int count) { m_batchCount = count; }
    int batchStartIndex() const { return m_batchStartIndex; }
    void setBatchStartIndex(int index) { m_batchStartIndex = index; }

    // While set, only a wave packet that starts at ring index 0 is accepted.
    bool waitForStart() const { return m_waitForStart; }
    void setWaitForStart(bool on) { m_waitForStart = on; }

    // ---- device binding ------------------------------------------------------------
    std::int16_t deviceId() const { return m_deviceId; }
    void setDeviceId(std::int16_t id) { m_deviceId = id; }
    // -1: none; otherwise taken as the device ID without asking.
    std::int16_t presetDeviceId() const { return m_presetDeviceId; }
    void setPresetDeviceId(std::int16_t id) { m_presetDeviceId = id; }

    // The IDs discovery considers available, in insertion order; an ID may be
    // listed more than once.
    const std::list<std::int16_t>& deviceIds() const { return m_deviceIds; }
    void addDeviceId(std::int16_t id);
    // Removes every entry equal to id.
    void removeDeviceId(std::int16_t id);
    void clearDeviceIds();
    std::int32_t deviceIdCount() const { return m_deviceIdCount; }
    // Copies the list in order into out, at most out.size() entries; returns how
    // many were copied. The rest of out is left alone.
    std::size_t copyDeviceIds(std::span<std::int16_t> out) const;

    // ---- measurement result -----------------------------------------------------
    const MeasurementResult& result() const { return m_result; }
    // Replaces the current result whole (the result decoding calls it).
    void replaceResult(const MeasurementResult& result) { m_result = result; }

    std::int16_t sbpForDisplay() const { return halve(m_result.sbp); }
    std::int16_t mbpForDisplay() const { return halve(m_result.mbp); }
    std::int16_t dbpForDisplay() const { return halve(m_result.dbp); }
    // The history list's row of the current result.
    HistoryRow historyRow() const;

    // "YY/MM/DD hh:mm:ss" from a 12-character date-time text, else "".
    std::string formattedDateTime() const;

    // Hands the listener the history row of the current result (number + 1, HR,
    // halved pressures, the unformatted date-time text) with errorCode.
    void sendHistoryRow(int errorCode);

    // Whether the current result is to be saved, by the monitor preference
    // "outputFile": 0 always, 1 only without error, 2 never, other values ask
    // "Save to File?" (caption "File", Yes/No) and save on Yes.
    bool saveDecision();

    // Writes the data file of the current result from the live rings and the
    // preferences; the writer's result (0 written or nothing to write, 1 failed
    // and reported, -1 result byte 15 is 0).
    int writeDataFile();
    // The file the last writeDataFile() wrote; empty when it wrote none.
    const std::string& lastDataFilePath() const { return m_lastDataFilePath; }

    // Both monitor preferences "timerMode" and "traceMode" are 1.
    bool timerAndTraceMode() const;

    // ---- settings and animal information ---------------------------------------
    const MenuSettings& menuSettings() const { return m_menu; }
    MenuSettings& menuSettings() { return m_menu; }
    void setMenuSettings(const MenuSettings& menu) { m_menu = menu; }

    AnimalTexts animalTexts() const { return m_preference.animal(); }
    void setAnimalTexts(const AnimalTexts& texts) { m_preference.animal() = texts; }
    std::string dataFolder() const { return m_preference.dataFolder(); }

    // Trace colours (0x00BBGGRR) and width flags for the wave and result panes.
    std::int32_t backColor() const { return m_preference.monitor().backColor; }
    std::int32_t pressColor() const { return m_preference.monitor().pressColor; }
    std::int32_t pressWidth() const { return m_preference.monitor().pressWidth; }
    std::int32_t waveColor() const { return m_preference.monitor().waveColor; }
    std::int32_t waveWidth() const { return m_preference.monitor().waveWidth; }

    // Runs the monitor settings dialog on a copy of the monitor group. The dialog
    // returns true for OK; then the copy is stored and the group written to the
    // profile. Returns 1 on OK, 0 on Cancel.
    using MonitorDialog = std::function<bool(MonitorValues&)>;
    int editMonitorSettings(const MonitorDialog& dialog);

    // Stores the main window's screen rectangle (when the window is destroyed).
    void saveFrameRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);

    // ---- timer schedule -------------------------------------------------------
    // In timer mode: starts a recording series now (a running series keeps
    // its start). Outside timer mode nothing: a Start then begins no series,
    // so the next timer-mode Start still finds the schedule unstarted.
    void stampScheduleTime();
    // The current time is at or after the next recording time.
    bool recordingDue() const;
    // The schedule as an entry array for the timer dialog; returns the number of
    // entries written (at most out.size()).
    std::size_t scheduleEntries(std::span<std::int32_t> out) const;
    // Dialog button "Write": takes the entries, then writes the timer file.
    // 0 written, 1 failed or empty path.
    int setScheduleEntriesAndWrite(std::span<const std::int32_t> entries, const std::string& path);
    // Dialog button "Read": reads the timer file, then hands out the entries.
    // Returns the read result (0 read, 1 not); count receives the entries written.
    int readScheduleEntries(const std::string& path, std::span<std::int32_t> out, std::size_t& count);
    // Dialog closed with OK: takes the entries; no file is written.
    void setScheduleEntries(std::span<const std::int32_t> entries);
    // Only in timer mode ("timerMode" 1): seconds until the next recording, which
    // become the main window's countdown. 0 when the schedule has no further
    // recording (the series is then stopped and rewound, and the main window
    // shows that timer mode is complete). -1 when timer mode is off (nothing done).
    std::int32_t scheduleNextRecording();

  private:
    CHalnor40KUApp& m_app;
    IMessagePort& m_port;
    IDocumentListener* m_listener = nullptr;
    IClock* m_clock;

    // Display state and binding first, as the program has always initialised
    // them, then the owned objects in their making order.
    int m_drawMode = 0;
    int m_measurementPhase = kPhaseNothingStarted;
    int m_writePosition = 0;
    int m_sensorLevel = 0;
    int m_errorFlag = 0;
    std::int16_t m_cuffPressure = 0;
    std::int16_t m_heartRateCounter = 0;
    std::uint8_t m_packetErrorByte = 0;
    std::int16_t m_liveHeartRate = 0;
    bool m_liveUpdate = true;
    bool m_showMbpDbp = false;
    int m_versionMark = 0;
    int m_batchCount = 0;
    int m_batchStartIndex = 0;
    bool m_waitForStart = false;
    bool m_animalBlockReceived = false;

    std::int16_t m_deviceId = 0;
    std::int16_t m_presetDeviceId = -1;
    std::list<std::int16_t> m_deviceIds;
    std::int32_t m_deviceIdCount = 0;

    MeasurementResult m_result;
    std::string m_lastDataFilePath;
    CPreference m_preference;
    MenuSettings m_menu;
    CTimerSchedule m_schedule;

    Ring m_pressureRing{};
    Ring m_waveRing{};
    Ring m_resultPressureRing{};
    Ring m_resultWaveRing{};

    std::array<std::uint8_t, kWaveAreaSize> m_waveArea{};
    std::array<std::uint8_t, kResultAreaSize> m_resultArea{};
    std::array<std::uint8_t, kAnimalAreaSize> m_animalArea{};
};

}  // namespace hx
