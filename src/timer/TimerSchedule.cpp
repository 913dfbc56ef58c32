#include "timer/TimerSchedule.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>

#include "app/ReplaceFile.h"
#include "timer/TimerFileLines.h"

namespace hx {

namespace {

constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();

// -P for the most negative entry would overflow; such a period is held at the largest.
std::int32_t periodOf(std::int32_t negativeEntry) {
    return negativeEntry == std::numeric_limits<std::int32_t>::min() ? kLargest : -negativeEntry;
}

std::int32_t secondsUntil(std::time_t when, std::time_t now) {
    return static_cast<std::int32_t>(std::min<std::time_t>(when - now, kLargest));
}

class CFileDescriptor {
  public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

long readSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
}

}  // namespace

CTimerSchedule::CTimerSchedule(IMessagePort* port) : m_port(port), m_startTime(noStartTime()) {}

std::time_t CTimerSchedule::noStartTime() {
    std::tm start{};
    start.tm_year = 90;
    start.tm_mon = 0;
    start.tm_mday = 1;
    start.tm_isdst = -1;
    return std::mktime(&start);
}

void CTimerSchedule::rewind() { m_startTime = noStartTime(); }

void CTimerSchedule::clear() {
    m_heldEntries = 0;
    m_intervals.clear();
    m_offsets.clear();
    m_repeatPeriod = 0;
    m_refusedRepeatPeriod = 0;
}

void CTimerSchedule::appendInterval(std::int32_t seconds) {
    const std::int64_t previous = m_offsets.empty() ? 0 : m_offsets.back();
    m_intervals.push_back(seconds);
    m_offsets.push_back(static_cast<std::int32_t>(std::min<std::int64_t>(previous + seconds, kLargest)));
}

void CTimerSchedule::showError(const std::string& text) const {
    if (m_port) m_port->messageBox(text, kErrorCaption, MsgIcon::Stop, MsgButtons::Ok);
}

void CTimerSchedule::readLines(CTimerFileLineReader& lines) {
    while (auto line = lines.nextLine()) {
        bool held = false;
        const auto value = parseTimerLine(*line, &held);
        if (held) ++m_heldEntries;
        if (!value) continue;
        if (*value < 0) {
            takeRepeatPeriod(periodOf(*value));
            return;
        }
        appendInterval(*value);
    }
}

int CTimerSchedule::readTimerFile(const std::string& path) {
    if (path.empty()) return 1;
    // Without blocking: a pipe with no writer would otherwise hang the
    // program here, and a device never ends. Only a regular file is read.
    CFileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno != ENOENT) showError("File Open Error");
        return 1;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        showError("File Open Error");
        return 1;
    }
    try {
        clear();
        if (!m_started) rewind();
        CTimerFileLineReader lines(
            [fd = file.get()](char* buffer, std::size_t size) { return readSome(fd, buffer, size); });
        readLines(lines);
    } catch (const std::bad_alloc&) {
        clear();
        showError("CFile allocation failure");
        return 1;
    }
    return 0;
}

void CTimerSchedule::readTimerText(std::string_view bytes) {
    clear();
    if (!m_started) rewind();
    CTimerFileLineReader lines([&bytes](char* buffer, std::size_t size) {
        const std::size_t n = std::min(size, bytes.size());
        std::copy_n(bytes.data(), n, buffer);
        bytes.remove_prefix(n);
        return static_cast<long>(n);
    });
    readLines(lines);
}

std::string CTimerSchedule::timerText() const {
    std::string text;
    for (std::int32_t interval : m_intervals) text += std::to_string(interval) + "\n";
    if (m_repeatPeriod != 0) text += std::to_string(-m_repeatPeriod) + "\n";
    return text;
}

int CTimerSchedule::writeTimerFile(const std::string& path) const {
    if (path.empty()) return 1;
    const std::string text = timerText();
    const auto result =
        replaceFileContents(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    if (result.ok()) return 0;
    showError(result.failedAt == ReplaceStage::kCreate ? "File Open Error" : "File Write Error!");
    return 1;
}

void CTimerSchedule::setEntries(std::span<const std::int32_t> entries) {
    clear();
    // A running series keeps its start: its slots stay where the user saw them.
    if (!m_started) rewind();
    const std::size_t count = std::min(entries.size(), static_cast<std::size_t>(kMaxEntries));
    for (std::int32_t entry : entries.first(count)) {
        if (entry == 0) break;
        if (entry < 0) {
            takeRepeatPeriod(periodOf(entry));
            break;
        }
        appendInterval(entry);
    }
}

std::size_t CTimerSchedule::getEntries(std::span<std::int32_t> out) const {
    if (out.empty()) return 0;
    const bool repeats = m_repeatPeriod != 0;
    const std::size_t room = out.size() - (repeats && m_intervals.size() + 1 > out.size() ? 1 : 0);
    const std::size_t intervals = std::min(m_intervals.size(), room);
    std::copy_n(m_intervals.begin(), intervals, out.begin());
    std::size_t written = intervals;
    if (repeats && written < out.size()) out[written++] = -m_repeatPeriod;
    return written;
}

std::string CTimerSchedule::readWarning(std::size_t rows) const {
    std::string text;
    const std::size_t entries = m_intervals.size() + (m_repeatPeriod != 0 ? 1 : 0);
    if (entries > rows)
        text += "The timer file holds " + std::to_string(entries) + " entries; only the first " +
                std::to_string(rows) + " are kept.";
    if (m_heldEntries > 0) {
        if (!text.empty()) text += "\n";
        text += std::to_string(m_heldEntries) +
                " value(s) of the timer file are larger than 2147483647 seconds and are held at that value.";
    }
    if (m_refusedRepeatPeriod != 0) {
        if (!text.empty()) text += "\n";
        text += refusedRepeatPeriodWarning();
    }
    return text;
}

// A repeat period shorter than a measurement would start the next one before
// the last could end, for ever, and no result would come: it is refused.
void CTimerSchedule::takeRepeatPeriod(std::int32_t seconds) {
    if (seconds < kLongestMeasurementS)
        m_refusedRepeatPeriod = seconds;
    else
        m_repeatPeriod = seconds;
}

std::string CTimerSchedule::refusedRepeatPeriodWarning() const {
    return "The repeat period of " + std::to_string(m_refusedRepeatPeriod) +
           " s is shorter than a measurement can take (" + std::to_string(kLongestMeasurementS) +
           " s) and is not used: the schedule ends after its intervals.";
}

bool CTimerSchedule::cutsMeasurementsShort() const {
    auto tooShort = [](std::int32_t seconds) { return seconds > 0 && seconds < kLongestMeasurementS; };
    return std::any_of(m_intervals.begin(), m_intervals.end(), tooShort);
}

void CTimerSchedule::startSeries(std::time_t now) {
    if (m_started) return;
    m_startTime = now;
    m_nextRecordingTime = now;
    m_started = true;
}

std::int32_t CTimerSchedule::secondsUntilNextRecording(std::time_t now) {
    // The list is searched from its start every time: recordings whose time
    // passed while the unit was busy are skipped, not made up.
    for (std::int32_t offset : m_offsets) {
        const std::time_t when = m_startTime + offset;
        if (when > now) {
            m_nextRecordingTime = when;
            return secondsUntil(when, now);
        }
    }
    if (m_repeatPeriod == 0) return 0;
    if (m_nextRecordingTime <= now) {
        // Whole periods at once: after a rewind the last time may lie years back.
        const std::time_t periods = (now - m_nextRecordingTime) / m_repeatPeriod + 1;
        m_nextRecordingTime += periods * m_repeatPeriod;
    }
    return secondsUntil(m_nextRecordingTime, now);
}

}  // namespace hx
