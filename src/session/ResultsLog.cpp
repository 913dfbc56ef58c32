#include "session/ResultsLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

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

void appendField(std::string& line, const std::string& value) {
    const std::string text = cleanText(value);
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

// Writes all of data at the end of fd; false with errno set on failure.
bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
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

}  // namespace

const std::array<std::string_view, 20>& resultsLogColumns() { return kColumns; }

std::string resultErrorName(int code) {
    switch (code) {
        case 0:
            return {};
        case 5:
            return "Air";
        case 16:
            return "Lo";
        case 17:
            return "Hi";
        default:
            return "Err" + std::to_string(code);
    }
}

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
        appendField(line, fields[i]);
    }
    return line + "\r\n";
}

std::string resultsLogPath(const std::string& folder) { return folderPrefix(folder) + kResultsLogName; }

std::string appendResultsLog(const std::string& folder, const ResultsLogRow& row) {
    const std::string path = resultsLogPath(folder);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
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

std::optional<ResultsLogContents> parseResultsLog(std::string_view text, std::string& reason) {
    // Records: fields separated by ',', records by LF or CRLF outside quotes.
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false, fieldStarted = false, lineHasContent = false;
    auto endField = [&] {
        fields.push_back(std::move(field));
        field.clear();
        fieldStarted = false;
    };
    auto endRecord = [&] {
        if (lineHasContent || !fields.empty()) {
            endField();
            records.push_back(std::move(fields));
        }
        fields.clear();
        field.clear();
        fieldStarted = false;
        lineHasContent = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == '"' && !fieldStarted) {
            quoted = true;
            fieldStarted = lineHasContent = true;
        } else if (c == ',') {
            endField();
            lineHasContent = true;
        } else if (c == '\n') {
            endRecord();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // the "\n" ends the record
        } else {
            field += c;
            fieldStarted = lineHasContent = true;
        }
    }
    endRecord();

    if (records.empty() || records.front().size() != kColumns.size() ||
        !std::equal(kColumns.begin(), kColumns.end(), records.front().begin())) {
        reason = "not a results log (the first line is not its header)";
        return std::nullopt;
    }
    ResultsLogContents contents;
    for (std::size_t k = 1; k < records.size(); ++k) {
        auto& f = records[k];
        ResultsLogRow r;
        if (f.size() != kColumns.size() || !parseInt(f[1], r.deviceId) || !parseInt(f[12], r.errorCode) ||
            (f[14] != "yes" && f[14] != "no") || !parseInt(f[19], r.session)) {
            ++contents.damagedLines;
            continue;
        }
        r.dateTime = std::move(f[0]);
        r.animalNo = std::move(f[2]);
        r.studyNo = std::move(f[3]);
        r.weight = std::move(f[4]);
        r.sexAge = std::move(f[5]);
        r.comment = std::move(f[6]);
        r.n = std::move(f[7]);
        r.hr = std::move(f[8]);
        r.sbp = std::move(f[9]);
        r.mbp = std::move(f[10]);
        r.dbp = std::move(f[11]);
        r.errorText = std::move(f[13]);
        r.saved = f[14] == "yes";
        r.saveRule = std::move(f[15]);
        r.dataFile = std::move(f[16]);
        r.unitVersion = std::move(f[17]);
        r.programVersion = std::move(f[18]);
        contents.rows.push_back(std::move(r));
    }
    return contents;
}

std::optional<ResultsLogContents> readResultsLog(const std::string& path, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        reason = "not a file";
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // a file that shrank meanwhile: take what is there
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    return parseResultsLog(text, reason);
}

}  // namespace hx
