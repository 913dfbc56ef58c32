#include "data/Halnor55KUDoc.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/LogChannel.h"
#include "data/DataFileWriter.h"

namespace hx {

namespace {

// Answers nothing and shows nothing: stands in while no listener is set.
IDocumentListener& silentListener() {
    static IDocumentListener listener;
    return listener;
}

bool isLegalDrawMode(int mode) {
    switch (mode) {
        case 0:
        case 1:
        case 2:
        case 97:
        case 98:
        case 99:
            return true;
        default:
            return false;
    }
}

// Caption of the program's plain message boxes.
constexpr const char* kProgramCaption = "Halnor40KU";

// Values of the monitor preference "outputFile".
constexpr std::int32_t kSaveAlways = 0;
constexpr std::int32_t kSaveWithoutError = 1;
constexpr std::int32_t kSaveNever = 2;

}  // namespace

CHalnor55KUDoc::CHalnor55KUDoc(CHalnor40KUApp& app, IProfileStore& store, IMessagePort& port,
                               std::string documentsFolder)
    : m_app(app),
      m_port(port),
      m_clock(&CSystemClock::instance()),
      m_result(),
      m_preference(store, std::move(documentsFolder)),
      m_menu(m_preference.deviceMenu()),
      m_schedule(&port) {}

CHalnor55KUDoc::~CHalnor55KUDoc() = default;

IDocumentListener& CHalnor55KUDoc::listener() { return m_listener ? *m_listener : silentListener(); }

void CHalnor55KUDoc::clearLiveData() {
    m_pressureRing.fill(0);
    m_waveRing.fill(0);
    m_waveArea.fill(0);
}

void CHalnor55KUDoc::freezeRings() {
    const int p = m_writePosition;
    if (p > 20 && p < static_cast<int>(kRingSize)) {
        std::fill(m_pressureRing.begin() + p, m_pressureRing.end(), 0);
        std::fill(m_waveRing.begin() + p, m_waveRing.end(), 0);
    }
    m_resultPressureRing = m_pressureRing;
    m_resultWaveRing = m_waveRing;
}

bool CHalnor55KUDoc::setDrawMode(int mode) {
    if (!isLegalDrawMode(mode)) {
        m_port.messageBox("set Drawmode invalid value", kProgramCaption, MsgIcon::Stop, MsgButtons::Ok);
        return false;
    }
    m_drawMode = mode;
    return true;
}

void CHalnor55KUDoc::setVersionMark(int mark) {
    m_versionMark = mark;
    writeLogLinef('N', 'P', "Mark readHXVer :%d", mark);
}

void CHalnor55KUDoc::addDeviceId(std::int16_t id) {
    m_deviceIds.push_back(id);
    ++m_deviceIdCount;
}

void CHalnor55KUDoc::removeDeviceId(std::int16_t id) {
    m_deviceIds.remove(id);
    m_deviceIdCount = static_cast<std::int32_t>(m_deviceIds.size());
}

void CHalnor55KUDoc::clearDeviceIds() {
    m_deviceIds.clear();
    m_deviceIdCount = 0;
}

std::size_t CHalnor55KUDoc::copyDeviceIds(std::span<std::int16_t> out) const {
    std::size_t n = 0;
    for (auto it = m_deviceIds.begin(); it != m_deviceIds.end() && n < out.size(); ++it) out[n++] = *it;
    return n;
}

std::string CHalnor55KUDoc::formattedDateTime() const {
    const std::string& t = m_result.dateTime;
    if (t.size() != 12) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%c%c/%c%c/%c%c %c%c:%c%c:%c%c", t[0], t[1], t[2], t[3], t[4], t[5],
                  t[6], t[7], t[8], t[9], t[10], t[11]);
    return text;
}

HistoryRow CHalnor55KUDoc::historyRow() const {
    HistoryRow row;
    row.number = m_result.measurementNumber + 1;
    row.hr = m_result.hr;
    row.sbp = sbpForDisplay();
    row.mbp = mbpForDisplay();
    row.dbp = dbpForDisplay();
    row.dateTime = m_result.dateTime;
    return row;
}

void CHalnor55KUDoc::sendHistoryRow(int errorCode) { listener().onHistoryRow(errorCode, historyRow()); }

bool CHalnor55KUDoc::saveDecision() {
    switch (m_preference.monitor().outputFile) {
        case kSaveAlways:
            return true;
        case kSaveWithoutError:
            return m_result.errorCode == 0;
        case kSaveNever:
            return false;
        default:
            return m_port.messageBox("Save to File?", "File", MsgIcon::None, MsgButtons::YesNo) ==
                   MsgAnswer::Yes;
    }
}

int CHalnor55KUDoc::writeDataFile() {
    const MonitorValues& monitor = m_preference.monitor();
    DataFileRequest request;
    request.result = &m_result;
    request.pressureRing = &m_pressureRing;
    request.waveRing = &m_waveRing;
    request.animal = m_preference.animal();
    request.dataFolder = m_preference.dataFolder();
    request.filenameType = monitor.filenameType;
    request.timerMode = monitor.timerMode;
    m_lastDataFilePath.clear();
    return hx::writeDataFile(request, m_port, &m_lastDataFilePath);
}

bool CHalnor55KUDoc::timerAndTraceMode() const {
    const MonitorValues& monitor = m_preference.monitor();
    return monitor.timerMode == 1 && monitor.traceMode == 1;
}

int CHalnor55KUDoc::editMonitorSettings(const MonitorDialog& dialog) {
    if (!dialog) return 0;
    MonitorValues edited = m_preference.monitor();
    if (!dialog(edited)) return 0;
    m_preference.monitor() = edited;
    m_preference.writeMonitorGroup();
    return 1;
}

void CHalnor55KUDoc::saveFrameRect(std::int32_t left, std::int32_t top, std::int32_t right,
                                   std::int32_t bottom) {
    m_preference.storeFrameRect(left, top, right, bottom);
}

void CHalnor55KUDoc::stampScheduleTime() {
    if (m_preference.monitor().timerMode == 1) m_schedule.startSeries(m_clock->wallTime());
}

bool CHalnor55KUDoc::recordingDue() const { return m_schedule.recordingDue(m_clock->wallTime()); }

std::size_t CHalnor55KUDoc::scheduleEntries(std::span<std::int32_t> out) const {
    return m_schedule.getEntries(out);
}

int CHalnor55KUDoc::setScheduleEntriesAndWrite(std::span<const std::int32_t> entries,
                                               const std::string& path) {
    m_schedule.setEntries(entries);
    return m_schedule.writeTimerFile(path);
}

int CHalnor55KUDoc::readScheduleEntries(const std::string& path, std::span<std::int32_t> out,
                                        std::size_t& count) {
    const int result = m_schedule.readTimerFile(path);
    count = m_schedule.getEntries(out);
    return result;
}

void CHalnor55KUDoc::setScheduleEntries(std::span<const std::int32_t> entries) {
    m_schedule.setEntries(entries);
}

std::int32_t CHalnor55KUDoc::scheduleNextRecording() {
    if (m_preference.monitor().timerMode != 1) return -1;
    const std::int32_t seconds = m_schedule.secondsUntilNextRecording(m_clock->wallTime());
    if (seconds >= 1) return seconds;
    m_schedule.endSeries();
    return 0;
}

}  // namespace hx
