#include "timer/TimerDialogModel.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace hx {

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
// Digits beyond this stop adding: any larger number is held at kMax anyway.
constexpr std::int64_t kDigitsCap = kMax * 10;

std::int32_t held(std::int64_t v) { return static_cast<std::int32_t>(std::clamp(v, -kMax, kMax)); }

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

void addDigit(std::int64_t& number, char c) {
    if (number < kDigitsCap) number = number * 10 + (c - '0');
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::size_t CTimerDialogModel::index(int row) {
    return static_cast<std::size_t>(std::clamp(row, 0, kRows - 1));
}

void CTimerDialogModel::load(std::span<const std::int32_t> entries) {
    clear();
    const std::size_t n = std::min(entries.size(), m_intervals.size());
    std::copy_n(entries.begin(), n, m_intervals.begin());
    recomputeTimes();
}

void CTimerDialogModel::clear() {
    m_intervals.fill(0);
    m_times.fill(0);
}

std::vector<std::int32_t> CTimerDialogModel::entries() const {
    return std::vector<std::int32_t>(m_intervals.begin(), m_intervals.end());
}

void CTimerDialogModel::recomputeTimes() {
    m_times.fill(0);
    m_times[0] = m_intervals[0];
    for (std::size_t r = 1; r < m_intervals.size() && m_intervals[r] != 0; ++r) {
        const std::int64_t interval = m_intervals[r];
        m_times[r] = held(interval > 0 ? interval + m_times[r - 1] : interval - m_times[r - 1]);
    }
}

void CTimerDialogModel::deriveIntervals() {
    m_intervals[0] = m_times[0];
    for (std::size_t r = 1; r < m_times.size(); ++r) {
        const std::int64_t time = m_times[r];
        const std::int64_t previous = m_times[r - 1];
        if (time < 0)
            m_intervals[r] = held(previous + time);
        else if (time == 0 || previous <= 0)
            m_intervals[r] = 0;
        else
            m_intervals[r] = held(time - previous);
    }
}

bool CTimerDialogModel::enterInterval(int row, std::string_view text) {
    if (row < 0 || row >= kRows) return false;
    const std::optional<std::int32_t> value = parseInterval(text);
    if (!value || *value == 0) return false;
    m_intervals[index(row)] = *value;
    recomputeTimes();
    return true;
}

void CTimerDialogModel::enterTime(int row, std::string_view text) {
    if (row < 0 || row >= kRows) return;
    m_times[index(row)] = parseTime(text);
    deriveIntervals();
}

std::optional<std::int32_t> CTimerDialogModel::parseInterval(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    bool negative = false;
    bool separated = false;
    std::int64_t number = 0;
    std::int64_t minutes = 0;
    for (char c : text) {
        if (c == '-') {
            negative = true;
        } else if (isDigit(c)) {
            addDigit(number, c);
        } else if (!separated) {
            separated = true;
            minutes = number * 60;
            number = 0;
        } else {
            break;
        }
    }
    const std::int32_t value = held(number + minutes);
    return negative ? -value : value;
}

std::int32_t CTimerDialogModel::parseTime(std::string_view text) {
    text = trimmed(text);
    std::array<std::int64_t, 3> numbers{};
    std::size_t n = 0;
    bool repeat = false;
    for (char c : text) {
        if (isDigit(c)) {
            addDigit(numbers[n], c);
        } else if (c == '*') {
            repeat = true;
            break;
        } else if (n + 1 < numbers.size()) {
            ++n;
        } else {
            break;
        }
    }
    std::int64_t seconds = 0;
    for (std::size_t i = 0; i <= n; ++i) seconds = std::min(seconds * 60 + numbers[i], kDigitsCap);
    const std::int32_t value = held(seconds);
    return repeat ? -value : value;
}

std::string CTimerDialogModel::intervalText(std::int32_t seconds) {
    if (seconds == 0) return {};
    const std::int64_t v = seconds < 0 ? -static_cast<std::int64_t>(seconds) : seconds;
    char text[16];
    std::snprintf(text, sizeof text, "%s%02u:%02u", seconds < 0 ? "-" : "",
                  static_cast<unsigned>(v % 3600 / 60), static_cast<unsigned>(v % 60));
    return text;
}

std::string CTimerDialogModel::timeText(std::int32_t seconds) {
    if (seconds == 0) return {};
    const std::int64_t v = seconds < 0 ? -static_cast<std::int64_t>(seconds) : seconds;
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u%s", static_cast<unsigned>(v / 3600),
                  static_cast<unsigned>(v % 3600 / 60), static_cast<unsigned>(v % 60),
                  seconds < 0 ? "*" : "");
    return text;
}

void CTimerDialogModel::setTopRow(int row) { m_topRow = std::clamp(row, 0, kMaxTopRow); }

}  // namespace hx
