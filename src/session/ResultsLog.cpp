#include "session/ResultsLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

#include "app/ReplaceFile.h"

namespace hx {

namespace {

constexpr std::array<std::string_view, 20> kColumns = {
    "Date time",       "Device ID", "Animal No", "Study No",  "Weight",    "Sex/Age",
    "Comment",         "N",         "HR",        "SBP",       "MBP",       "DBP",
    "Error code",      "Error",     "Saved",     "Save rule", "Data file", "Unit version",
    "Program version", "Session"};

// Texts from the unit are bytes in the unit's code page: valid UTF-8 is kept,
// anything else is taken as Latin-1, so the log is always UTF-8. Control
// characters become spaces, so a row is always one line of the file.
std::string cleanText(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        std::size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        bool valid = len != 0 && i + len <= in.size();
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(in[i + k]) & 0xC0) == 0x80;
        if (valid) {
            out.append(in, i, len);
            i += len;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

// A text cell that a spreadsheet would take for a formula is written with a
// leading "'" (and so is one that begins with "'" itself, so reading back
// takes exactly one away).
bool needsTextMark(const std::string& text) {
    return !text.empty() && std::string_view("=+-@\t'").find(text.front()) != std::string_view::npos;
}
std::string unmarked(std::string&& text) {
    if (!text.empty() && text.front() == '\'') text.erase(0, 1);
    return std::move(text);
}

// textCell: a free text (animal texts, names, versions), marked as text
// where it would read as a formula.
void appendField(std::string& line, const std::string& value, bool textCell = false) {
    std::string text = cleanText(value);
    if (textCell && needsTextMark(text)) text.insert(0, 1, '\'');
    if (text.find_first_of(",\"\r\n") == std::string::npos &&
        (text.empty() || (text.front() != ' ' && text.back() != ' '))) {
        line += text;
        return;
    }
    line += '"';
    for (char c : text) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

std::string folderPrefix(const std::string& folder) {
    if (folder.empty()) return {};
    return folder.back() == '/' ? folder : folder + "/";
}

void syncFolder(const std::string& folder) {
    const std::string path = folder.empty() ? "." : folder;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool parseInt(const std::string& text, int& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && !text.empty();
}

// A physical line longer than this is damaged: a row is well under a
// kilobyte, and the limit keeps a file without line ends from costing memory.
constexpr std::size_t kMaxLineBytes = 64 * 1024;
constexpr std::size_t kChunkBytes = 64 * 1024;

// The fields of one physical line (without its line end). False when a
// quoted field does not close on the line.
bool splitLine(std::string_view line, std::vector<std::string>& fields) {
    fields.clear();
    std::string field;
    bool quoted = false, fieldStarted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"' && !fieldStarted) {
            quoted = fieldStarted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
            fieldStarted = false;
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    fields.push_back(std::move(field));
    return !quoted;
}

std::string_view withoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

bool isHeaderLine(std::string_view line) {
    std::vector<std::string> fields;
    return splitLine(withoutLineEnd(line), fields) && fields.size() == kColumns.size() &&
           std::equal(kColumns.begin(), kColumns.end(), fields.begin());
}

}  // namespace

const std::array<std::string_view, 20>& resultsLogColumns() { return kColumns; }

std::string resultsLogDateTime(const std::string& t) {
    if (t.size() != 12 || t.find_first_not_of("0123456789") != std::string::npos) return t;
    return "20" + t.substr(0, 2) + "-" + t.substr(2, 2) + "-" + t.substr(4, 2) + " " + t.substr(6, 2) + ":" +
           t.substr(8, 2) + ":" + t.substr(10, 2);
}

std::string saveRuleText(int outputFile, bool answeredYes) {
    switch (outputFile) {
        case 0:
            return "Always";
        case 1:
            return "No Error";
        case 2:
            return "Never";
        default:
            return answeredYes ? "Yes" : "No";
    }
}

std::string resultsLogHeader() {
    std::string line;
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        if (i) line += ',';
        appendField(line, std::string(kColumns[i]));
    }
    return line + "\r\n";
}

std::string formatResultsLogRow(const ResultsLogRow& r) {
    const std::string fields[] = {r.dateTime,
                                  std::to_string(r.deviceId),
                                  r.animalNo,
                                  r.studyNo,
                                  r.weight,
                                  r.sexAge,
                                  r.comment,
                                  r.n,
                                  r.hr,
                                  r.sbp,
                                  r.mbp,
                                  r.dbp,
                                  std::to_string(r.errorCode),
                                  r.errorText,
                                  r.saved ? "yes" : "no",
                                  r.saveRule,
                                  r.dataFile,
                                  r.unitVersion,
                                  r.programVersion,
                                  std::to_string(r.session)};
    static_assert(std::size(fields) == kColumns.size());
    std::string line;
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        if (i) line += ',';
        appendField(line, fields[i], (i >= 2 && i <= 6) || (i >= 16 && i <= 18));
    }
    return line + "\r\n";
}

namespace {

// The first line of an open file (at most a little longer than the header).
std::string firstLine(int fd) {
    std::string text(resultsLogHeader().size() + 2, '\0');
    const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.substr(0, text.find('\n'));
}

// Whether the file at path exists and holds something other than our log.
bool isForeignFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool foreign =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && !isHeaderLine(firstLine(fd));
    ::close(fd);
    return foreign;
}

}  // namespace

std::string resultsLogPath(const std::string& folder) {
    const std::string path = folderPrefix(folder) + kResultsLogName;
    return isForeignFile(path) ? folderPrefix(folder) + kResultsLogBesideName : path;
}

bool resultsLogBesideForeignFile(const std::string& folder) {
    return resultsLogPath(folder) != folderPrefix(folder) + kResultsLogName;
}

std::string appendResultsLog(const std::string& folder, const ResultsLogRow& row) {
    const std::string path = resultsLogPath(folder);
    // Without blocking: a FIFO under the log's name is refused, not waited on.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) return std::strerror(errno);
    // The lock goes with the open file and is released by close(), also when
    // the process dies, so a crashed copy never blocks the others.
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int e = errno;
            ::close(fd);
            return std::strerror(e);
        }
    }
    std::string out;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return std::strerror(e);
    }
    const off_t before = st.st_size;
    if (!S_ISREG(st.st_mode) || (before > 0 && !isHeaderLine(firstLine(fd)))) {
        ::close(fd);
        return S_ISREG(st.st_mode) ? "not a results log (the first line is not its header)"
                                   : "not a regular file";
    }
    if (before == 0) {
        out = resultsLogHeader();
    } else {
        // A line left unfinished (a crash, a copy of an older program) stays a
        // line of its own; this row starts on a fresh one.
        char last = '\n';
        if (::pread(fd, &last, 1, before - 1) == 1 && last != '\n') out = "\r\n";
    }
    out += formatResultsLogRow(row);
    std::string error;
    if (!writeAll(fd, out.data(), out.size()) || ::fsync(fd) != 0) {
        error = std::strerror(errno);
        // Cut a partly written row off again: the file holds whole rows only.
        if (::ftruncate(fd, before) == 0) ::fsync(fd);
    }
    ::close(fd);
    if (error.empty() && before == 0) syncFolder(folder);
    return error;
}

namespace {

enum class LineKind { Blank, Row, Damaged };

LineKind rowFromLine(std::string_view line, std::vector<std::string>& f, ResultsLogRow& r) {
    line = withoutLineEnd(line);
    if (line.empty()) return LineKind::Blank;
    if (!splitLine(line, f) || f.size() != kColumns.size() || !parseInt(f[1], r.deviceId) ||
        !parseInt(f[12], r.errorCode) || (f[14] != "yes" && f[14] != "no") || !parseInt(f[19], r.session))
        return LineKind::Damaged;
    r.dateTime = std::move(f[0]);
    r.animalNo = unmarked(std::move(f[2]));
    r.studyNo = unmarked(std::move(f[3]));
    r.weight = unmarked(std::move(f[4]));
    r.sexAge = unmarked(std::move(f[5]));
    r.comment = unmarked(std::move(f[6]));
    r.n = std::move(f[7]);
    r.hr = std::move(f[8]);
    r.sbp = std::move(f[9]);
    r.mbp = std::move(f[10]);
    r.dbp = std::move(f[11]);
    r.errorText = std::move(f[13]);
    r.saved = f[14] == "yes";
    r.saveRule = std::move(f[15]);
    r.dataFile = unmarked(std::move(f[16]));
    r.unitVersion = unmarked(std::move(f[17]));
    r.programVersion = unmarked(std::move(f[18]));
    return LineKind::Row;
}

// An open log: a regular file whose first line is the header. Opened without
// blocking, so a FIFO or device under the log's name is refused, not waited on.
class LogFile {
  public:
    LogFile(const std::string& path, std::string& reason) {
        m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            reason = std::strerror(errno);
            return;
        }
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            reason = "not a regular file";
            return;
        }
        m_size = st.st_size;
        std::string first(std::min<off_t>(m_size, 4096), '\0');
        const ssize_t n = ::pread(m_fd, first.data(), first.size(), 0);
        first.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        const std::size_t end = first.find('\n');
        if (!isHeaderLine(std::string_view(first).substr(0, end)) ||
            (end == std::string::npos && first.size() < static_cast<std::size_t>(m_size))) {
            reason = "not a results log (the first line is not its header)";
            return;
        }
        m_rowsStart = end == std::string::npos ? m_size : static_cast<off_t>(end + 1);
        m_ok = true;
    }
    ~LogFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    bool ok() const { return m_ok; }

    // Calls line(text, start) for every physical line after the header (or from byte `from`, the
    // start of a line, up to byte `to`), first to last, start being where the line begins; stops
    // when it returns false. Overlong lines are counted, not passed. A last line without its line
    // end is passed only with takeTornEnd. Returns the byte position after the last whole line read.
    template <class F>
    off_t forward(F&& line, std::size_t& overlong, off_t from = -1, bool takeTornEnd = true,
                  off_t to = std::numeric_limits<off_t>::max()) const {
        std::string carry, buffer(kChunkBytes, '\0');
        bool skipping = false;
        off_t lineEnd = from < m_rowsStart ? m_rowsStart : from;
        off_t lineStart = lineEnd;
        const off_t end = std::min(m_size, to);
        for (off_t pos = lineEnd; pos < end;) {
            const ssize_t n = ::pread(m_fd, buffer.data(), std::min<off_t>(kChunkBytes, end - pos), pos);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;  // a file that shrank meanwhile: take what is there
            const off_t chunkStart = pos;
            pos += n;
            std::string_view data(buffer.data(), static_cast<std::size_t>(n));
            for (;;) {
                const std::size_t nl = data.find('\n');
                const std::string_view piece = data.substr(0, nl);
                if (!skipping && carry.size() + piece.size() > kMaxLineBytes) {
                    skipping = true;
                    carry.clear();
                    ++overlong;
                }
                if (!skipping) carry.append(piece);
                if (nl == std::string_view::npos) break;
                lineEnd = chunkStart + static_cast<off_t>(data.data() - buffer.data() + nl + 1);
                data.remove_prefix(nl + 1);
                if (!skipping && !line(std::string_view(carry), lineStart)) return lineEnd;
                lineStart = lineEnd;
                carry.clear();
                skipping = false;
            }
        }
        if (takeTornEnd && !skipping && !carry.empty()) line(std::string_view(carry), lineStart);
        return lineEnd;
    }

    off_t size() const { return m_size; }

    // The same from the last line back to the first, reading at most
    // maxBytes from the end. False when it stopped before the first row.
    template <class F>
    bool backward(F&& line, std::size_t& overlong, std::uint64_t maxBytes) const {
        std::string carry, buffer(kChunkBytes, '\0');
        bool skipping = false;
        const off_t floor = m_size - m_rowsStart > static_cast<off_t>(std::min<std::uint64_t>(
                                                       maxBytes, std::numeric_limits<off_t>::max()))
                                ? m_size - static_cast<off_t>(maxBytes)
                                : m_rowsStart;
        for (off_t pos = m_size; pos > floor;) {
            const auto len = static_cast<std::size_t>(std::min<off_t>(kChunkBytes, pos - floor));
            ssize_t n = ::pread(m_fd, buffer.data(), len, pos - static_cast<off_t>(len));
            if (n < 0 && errno == EINTR) continue;
            if (n != static_cast<ssize_t>(len)) return false;  // shrank meanwhile
            pos -= static_cast<off_t>(len);
            std::string_view data(buffer.data(), len);
            for (;;) {
                const std::size_t nl = data.rfind('\n');
                const std::string_view piece = nl == std::string_view::npos ? data : data.substr(nl + 1);
                if (!skipping && carry.size() + piece.size() > kMaxLineBytes) {
                    skipping = true;
                    carry.clear();
                    ++overlong;
                }
                if (!skipping) carry.insert(0, piece);
                if (nl == std::string_view::npos) break;
                data = data.substr(0, nl);
                if (!skipping && !line(std::string_view(carry))) return true;
                carry.clear();
                skipping = false;
            }
        }
        if (floor != m_rowsStart) return false;
        if (!skipping) line(std::string_view(carry));
        return true;
    }

  private:
    int m_fd = -1;
    off_t m_size = 0;
    off_t m_rowsStart = 0;
    bool m_ok = false;
};

}  // namespace

std::optional<ResultsLogContents> parseResultsLog(std::string_view text, std::string& reason) {
    const std::size_t end = text.find('\n');
    if (!isHeaderLine(text.substr(0, end))) {
        reason = "not a results log (the first line is not its header)";
        return std::nullopt;
    }
    ResultsLogContents contents;
    std::vector<std::string> fields;
    for (std::size_t pos = end == std::string_view::npos ? text.size() : end + 1; pos < text.size();) {
        const std::size_t nl = text.find('\n', pos);
        const std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        pos = nl == std::string_view::npos ? text.size() : nl + 1;
        ResultsLogRow r;
        const LineKind kind = line.size() > kMaxLineBytes ? LineKind::Damaged : rowFromLine(line, fields, r);
        if (kind == LineKind::Row) contents.rows.push_back(std::move(r));
        if (kind == LineKind::Damaged) ++contents.damagedLines;
    }
    return contents;
}

namespace {

// Every row of the log from byte `from` on (to byte `to`), damaged lines counted, and where each row's
// line starts when starts is given; returns where the last whole line ends.
off_t readRowsForward(const LogFile& file, std::vector<ResultsLogRow>& rows, std::size_t& damagedLines,
                      off_t from = -1, bool takeTornEnd = true, std::vector<std::uint64_t>* starts = nullptr,
                      off_t to = std::numeric_limits<off_t>::max()) {
    std::vector<std::string> fields;
    return file.forward(
        [&](std::string_view line, off_t start) {
            ResultsLogRow r;
            const LineKind kind = rowFromLine(line, fields, r);
            if (kind == LineKind::Row) {
                rows.push_back(std::move(r));
                if (starts) starts->push_back(static_cast<std::uint64_t>(start));
            }
            if (kind == LineKind::Damaged) ++damagedLines;
            return true;
        },
        damagedLines, from, takeTornEnd, to);
}

}  // namespace

std::optional<ResultsLogContents> readResultsLog(const std::string& path, std::string& reason) {
    LogFile file(path, reason);
    if (!file.ok()) return std::nullopt;
    ResultsLogContents contents;
    readRowsForward(file, contents.rows, contents.damagedLines);
    return contents;
}

std::optional<LogRowsSince> readResultsLogSince(const std::string& path, std::uint64_t offset,
                                                std::string& reason, std::uint64_t until) {
    LogFile file(path, reason);
    if (!file.ok()) return std::nullopt;
    LogRowsSince since;
    // A log shorter than what was read of it before was replaced: its rows are all new.
    since.restarted = offset > static_cast<std::uint64_t>(file.size());
    const off_t from = since.restarted ? 0 : static_cast<off_t>(offset);
    const off_t to = static_cast<off_t>(std::min<std::uint64_t>(until, std::numeric_limits<off_t>::max()));
    since.offset = static_cast<std::uint64_t>(
        readRowsForward(file, since.rows, since.damagedLines, from, false, &since.starts, to));
    return since;
}

std::optional<NewestSession> readNewestSession(const std::string& path, std::string& reason,
                                               const std::function<bool(const ResultsLogRow&)>& accept,
                                               std::uint64_t maxBytes) {
    LogFile file(path, reason);
    if (!file.ok()) return std::nullopt;
    NewestSession found;
    std::vector<std::string> fields;
    bool inSession = false;
    found.complete = file.backward(
        [&](std::string_view line) {
            ResultsLogRow r;
            const LineKind kind = rowFromLine(line, fields, r);
            if (kind == LineKind::Damaged) ++found.damagedLines;
            if (kind != LineKind::Row) return true;
            found.maxSession = std::max(found.maxSession, r.session);
            if (!inSession) {
                if (!accept(r)) return true;
                inSession = true;
            } else if (r.deviceId != found.rows.front().deviceId) {
                return true;  // another unit's row in between
            } else if (r.session != found.rows.front().session || r.animalNo != found.rows.front().animalNo) {
                return false;  // where the session began
            }
            found.rows.insert(found.rows.begin(), std::move(r));
            return true;
        },
        found.damagedLines, maxBytes);
    return found;
}

}  // namespace hx
