#pragma once
// CTimerSchedule: the list of recording intervals of timer mode, an optional
// repeat period, the running series, and the ".tm" timer file.
// Used on the user-interface thread only.
//
// Times are seconds since 1970. Intervals count from the previous recording;
// the offset list holds their running sums (held at 2147483647 rather than
// overflowing). The repeat period goes on after the list is used up.

#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/MessagePort.h"

namespace hx {

class CTimerFileLineReader;

class CTimerSchedule {
  public:
    static constexpr int kMaxEntries = 100;

    // The longest a measurement can run from its start to its result:
    // inflation, a recording that fills the 40-second sweep, the result.
    static constexpr std::int32_t kLongestMeasurementS = 50;

    // Caption of every message the schedule shows (stop icon), reading and writing alike.
    static constexpr const char* kErrorCaption = "Error in Read Timerfile";

    // port may be null (then errors are not shown); it must outlive the schedule.
    explicit CTimerSchedule(IMessagePort* port = nullptr);

    // 0 when read; 1 when the path is empty or the file could not be opened
    // ("File Open Error", silent when the file does not exist; the schedule is
    // then left as it was). On success the lists and the repeat period are
    // replaced and the start time rewound unless a series runs (it keeps its
    // start); a read error part-way keeps what was read so far.
    int readTimerFile(const std::string& path);
    // The same reading from bytes in memory (never fails): for tests and fuzzing.
    void readTimerText(std::string_view bytes);
    // 0 when written; 1 when the path is empty or the file could not be
    // written ("File Open Error" when it cannot be created, "File Write Error!"
    // when writing fails later). The file is replaced whole or not at all.
    int writeTimerFile(const std::string& path) const;
    // The timer file's text: "%d\n" per interval, then -P for a repeat period P.
    std::string timerText() const;

    // Entry array: intervals, then -P for a repeat period P; 0 ends it. At most
    // kMaxEntries entries are taken. Rewinds the start time unless a series
    // runs: a running series keeps its start, so unchanged entries change nothing.
    void setEntries(std::span<const std::int32_t> entries);
    // Writes at most out.size() entries and nothing after them; returns how
    // many were written. A schedule longer than out keeps its repeat period in
    // the last slot and drops the intervals that do not fit before it.
    std::size_t getEntries(std::span<std::int32_t> out) const;

    // Only when no series runs: the series starts now.
    void startSeries(std::time_t now);
    void stopSeries() { m_started = false; }
    void rewind();
    // The series is over: stopped and rewound, so the next Start begins anew.
    void endSeries() {
        stopSeries();
        rewind();
    }
    bool started() const { return m_started; }

    std::time_t startTime() const { return m_startTime; }
    std::time_t nextRecordingTime() const { return m_nextRecordingTime; }
    bool recordingDue(std::time_t now) const { return now >= m_nextRecordingTime; }
    // Seconds until the next recording (also stores its time), 0 when none.
    std::int32_t secondsUntilNextRecording(std::time_t now);

    const std::vector<std::int32_t>& intervals() const { return m_intervals; }
    const std::vector<std::int32_t>& offsets() const { return m_offsets; }
    std::int32_t repeatPeriod() const { return m_repeatPeriod; }
    // How many values of the timer file last read were beyond 32 bits and
    // held at 2147483647 seconds (68 years): worth telling the user.
    int heldEntries() const { return m_heldEntries; }
    // What to tell the user after reading a timer file whose entries do not
    // all fit in rows (the rest are dropped when the rows are taken), or whose
    // values were held at 32 bits; "" when there is nothing to say.
    std::string readWarning(std::size_t rows = kMaxEntries) const;

    // Whether a slot can fall while the measurement started by the slot
    // before it still runs: an interval or repeat period of 1 to
    // kLongestMeasurementS - 1 seconds. Such a slot cuts that measurement
    // short (an interval of 0 names the same second and is skipped).
    bool cutsMeasurementsShort() const;
    // What the front ends tell the user, once, about such a schedule (the
    // console when the series starts, the window when the Timer mode dialog
    // is closed with OK).
    static constexpr const char* kShortSlotWarning =
        "The schedule has intervals shorter than a measurement can take (50 s): those slots cut the "
        "measurement in progress short.";

    // A repeat period shorter than a measurement (1 to kLongestMeasurementS - 1
    // seconds) is not taken: this is it (0: none), and what to tell the user.
    std::int32_t refusedRepeatPeriod() const { return m_refusedRepeatPeriod; }
    std::string refusedRepeatPeriodWarning() const;

    // 1 January 1990 00:00:00 local time: the marker for "no start".
    static std::time_t noStartTime();

  private:
    void clear();
    void appendInterval(std::int32_t seconds);
    void takeRepeatPeriod(std::int32_t seconds);
    // Reads lines until the first negative value; the lists must be empty.
    void readLines(CTimerFileLineReader& lines);
    void showError(const std::string& text) const;

    IMessagePort* m_port;
    std::vector<std::int32_t> m_intervals;
    std::vector<std::int32_t> m_offsets;
    std::int32_t m_repeatPeriod = 0;
    std::int32_t m_refusedRepeatPeriod = 0;
    int m_heldEntries = 0;
    std::time_t m_startTime;
    std::time_t m_nextRecordingTime = 0;
    bool m_started = false;
};

}  // namespace hx
