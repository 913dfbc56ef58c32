#pragma once
// CTimerSchedule: the list of recording intervals of timer mode, an optional
// repeat period, the running series, and the ".tm" timer file.
// Used on the user-interface thread only.

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <vector>

#include "app/MessagePort.h"

namespace hx {

class CTimerSchedule {
public:
    static constexpr int kMaxEntries = 100;

    // port may be null (then errors are not shown); it must outlive the schedule.
    explicit CTimerSchedule(IMessagePort* port = nullptr);

    // 0 when read; 1 when the path is empty or the file could not be opened.
    int readTimerFile(const std::string& path);
    // 0 when written; 1 when the path is empty or the file could not be written.
    int writeTimerFile(const std::string& path) const;

    // Entry array: intervals, then -P for a repeat period P; 0 ends it.
    void setEntries(std::span<const std::int32_t> entries);
    // Writes at most out.size() entries; returns how many were written.
    std::size_t getEntries(std::span<std::int32_t> out) const;

    void startSeries(std::time_t now);
    void stopSeries() { m_started = false; }
    void rewind();
    bool started() const { return m_started; }

    std::time_t startTime() const { return m_startTime; }
    std::time_t nextRecordingTime() const { return m_nextRecordingTime; }
    bool recordingDue(std::time_t now) const { return now >= m_nextRecordingTime; }
    // Seconds until the next recording (also stores its time), 0 when none.
    std::int32_t secondsUntilNextRecording(std::time_t now);

    const std::vector<std::int32_t>& intervals() const { return m_intervals; }
    const std::vector<std::int32_t>& offsets() const { return m_offsets; }
    std::int32_t repeatPeriod() const { return m_repeatPeriod; }

    // 1 January 1990 00:00:00 local time: the marker for "no start".
    static std::time_t noStartTime();

private:
    void clear();
    void appendInterval(std::int32_t seconds);
    void showError(const std::string& text) const;

    IMessagePort* m_port;
    std::vector<std::int32_t> m_intervals;
    std::vector<std::int32_t> m_offsets;
    std::int32_t m_repeatPeriod = 0;
    std::time_t m_startTime;
    std::time_t m_nextRecordingTime = 0;
    bool m_started = false;
};

}  // namespace hx
