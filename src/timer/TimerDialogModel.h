#pragma once
// The Timer mode dialog's rows as values: 100 rows, each an interval (seconds
// since the previous recording; -P marks the repeat period P; 0 ends the list)
// and the time of that recording from the start of the series (negative on
// the repeat row), with the two text parsers, the recomputation in both
// directions and the scrolled window of 20 rows. Plain C++; UI thread only.
// Sums are held within the 32-bit range instead of overflowing.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

class CTimerDialogModel {
  public:
    static constexpr int kRows = 100;
    static constexpr int kVisibleRows = 20;
    static constexpr int kMaxTopRow = kRows - kVisibleRows;  // 80

    // Both columns empty, top row 0.
    CTimerDialogModel() = default;

    // Replaces both columns with the entry array (at most 100 entries taken)
    // and recomputes the times.
    void load(std::span<const std::int32_t> entries);
    // "ClearAll": both columns empty.
    void clear();
    // The 100 intervals, for the schedule's set entries.
    std::vector<std::int32_t> entries() const;

    std::int32_t interval(int row) const { return m_intervals[index(row)]; }
    std::int32_t time(int row) const { return m_times[index(row)]; }

    // The user left the interval field of row with text. Returns false (and
    // changes nothing) when the text gives no value or 0; otherwise the row takes
    // the value and every time is recomputed.
    bool enterInterval(int row, std::string_view text);
    // The user left the time field of row with text: the row takes the time and
    // the intervals are derived from the times, which stay as they are.
    void enterTime(int row, std::string_view text);

    // Interval text: seconds, or minutes and seconds ("1:30", "1.5" = 65); a "-"
    // anywhere makes it negative; the scan ends at a second separator. Nothing
    // when the text is blank.
    static std::optional<std::int32_t> parseInterval(std::string_view text);
    // Time text: up to three numbers (seconds; minutes, seconds; hours, minutes,
    // seconds) split by any other character; "*" ends the scan and marks the
    // repeat row (a negative result). Blank gives 0.
    static std::int32_t parseTime(std::string_view text);

    // "%02u:%02u" of minutes within the hour and seconds ("-" before for a
    // negative value); empty for 0.
    static std::string intervalText(std::int32_t seconds);
    // "%02u:%02u:%02u" of hours, minutes and seconds ("*" after for a negative
    // value); empty for 0.
    static std::string timeText(std::int32_t seconds);

    int topRow() const { return m_topRow; }
    // Held within 0 to 80. Line steps are 1 row, page steps 10.
    void setTopRow(int row);

  private:
    static std::size_t index(int row);
    void recomputeTimes();
    void deriveIntervals();

    std::array<std::int32_t, kRows> m_intervals{};
    std::array<std::int32_t, kRows> m_times{};
    int m_topRow = 0;
};

}  // namespace hx
