#pragma once
// Splitting and parsing the lines of a ".tm" timer file.
//
// The file is read through a window of at most 1024 bytes: a line ends at
// the first carriage return or line feed, and the run of carriage returns and
// line feeds after it goes with it (so empty lines vanish). A line with no end
// inside the window is the whole window, which is how a line longer than 1024
// characters becomes several lines of 1024. A UTF-8 byte-order mark at the
// start of the file is skipped.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace hx {

class CTimerFileLineReader {
  public:
    static constexpr std::size_t kWindowSize = 1024;

    // Fills buffer with up to size bytes; returns the count, 0 at the end,
    // -1 on a read error (which ends the reading like the end of the file).
    using Source = std::function<long(char* buffer, std::size_t size)>;

    explicit CTimerFileLineReader(Source source);

    // The next line without its line ends; empty optional when nothing is left.
    std::optional<std::string> nextLine();

  private:
    void refill();

    Source m_source;
    std::string m_pending;  // bytes read and not yet taken, at most the window
    bool m_sourceDone = false;
    bool m_begun = false;  // the byte-order mark, if any, was skipped
};

// The value of one line: leading and trailing blanks ignored; a line whose
// first character is neither a digit nor "-" is skipped (empty optional);
// otherwise the leading digits with an optional "-" ("12abc" is 12, "-" is 0).
// Numbers beyond 32 bits are held at the largest magnitude, +-2147483647,
// and set *held when held is given.
std::optional<std::int32_t> parseTimerLine(std::string_view line, bool* held = nullptr);

}  // namespace hx
