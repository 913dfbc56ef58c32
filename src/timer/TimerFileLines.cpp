#include "timer/TimerFileLines.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace hx {

namespace {

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

CTimerFileLineReader::CTimerFileLineReader(Source source) : m_source(std::move(source)) {
    m_pending.reserve(kWindowSize);
}

void CTimerFileLineReader::refill() {
    char buffer[kWindowSize];
    while (!m_sourceDone && m_pending.size() < kWindowSize) {
        const long n = m_source(buffer, kWindowSize - m_pending.size());
        if (n <= 0) {
            m_sourceDone = true;
            break;
        }
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> CTimerFileLineReader::nextLine() {
    refill();
    if (!m_begun) {
        // Editors on other systems start a UTF-8 file with a byte-order mark;
        // it is not part of the first line.
        m_begun = true;
        if (m_pending.starts_with("\xEF\xBB\xBF")) m_pending.erase(0, 3);
    }
    if (m_pending.empty()) return std::nullopt;
    const auto end = std::find_if(m_pending.begin(), m_pending.end(), isLineEnd);
    const auto afterRun = std::find_if_not(end, m_pending.end(), isLineEnd);
    std::string line(m_pending.begin(), end);
    m_pending.erase(m_pending.begin(), afterRun);
    return line;
}

std::optional<std::int32_t> parseTimerLine(std::string_view line, bool* held) {
    line = trimBlanks(line);
    if (line.empty() || !(isDigit(line.front()) || line.front() == '-')) return std::nullopt;
    const bool negative = line.front() == '-';
    if (negative) line.remove_prefix(1);
    constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (char c : line) {
        if (!isDigit(c)) break;
        if (value * 10 + (c - '0') > kLargest && held) *held = true;
        value = std::min(value * 10 + (c - '0'), kLargest);
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace hx
