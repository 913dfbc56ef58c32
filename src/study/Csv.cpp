#include "study/Csv.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hx {

std::vector<CsvRecord> parseCsvRecords(std::string_view text) {
    std::vector<CsvRecord> records;
    CsvRecord rec;
    std::string field;
    std::size_t line = 1, start = 0;
    bool quoted = false, fieldStarted = false, content = false;
    auto finish = [&](std::size_t end, bool terminated) {
        if (content) {
            rec.fields.push_back(std::move(field));
            std::string_view raw = text.substr(start, end - start);
            if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
            rec.text = raw;
            rec.terminated = terminated;
            rec.quoteOpen = quoted;
            records.push_back(std::move(rec));
        }
        rec = {};
        field.clear();
        fieldStarted = content = quoted = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!content && !fieldStarted && rec.fields.empty()) {
            rec.line = line;
            start = i;
        }
        if (c == '\n') ++line;
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == '"' && !fieldStarted) {
            quoted = fieldStarted = content = true;
        } else if (c == ',') {
            rec.fields.push_back(std::move(field));
            field.clear();
            fieldStarted = false;
            content = true;
        } else if (c == '\n') {
            finish(i, true);
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // the "\n" ends the record
        } else {
            field += c;
            fieldStarted = content = true;
        }
    }
    finish(text.size(), false);
    return records;
}

std::string csvQuote(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos &&
        (field.empty() || (field.front() != ' ' && field.back() != ' ')))
        return field;
    std::string out = "\"";
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string csvLine(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ',';
        out += csvQuote(fields[i]);
    }
    return out + "\r\n";
}

bool readWholeFile(const std::string& path, std::string& text, std::string& reason, bool* missing) {
    if (missing) *missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (missing) *missing = errno == ENOENT;
        reason = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        reason = "not a file";
        return false;
    }
    text.assign(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;  // shrank meanwhile: take what is there
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    return true;
}

std::string appendLocked(const std::string& path, const std::string& header, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return std::strerror(errno);
    const auto fail = [fd] {
        const int e = errno;
        ::close(fd);
        return std::string(std::strerror(e));
    };
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) return fail();
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail();
    const off_t before = st.st_size;
    std::string out;
    if (before == 0) {
        out = header;
    } else {
        char last = '\n';
        if (::pread(fd, &last, 1, before - 1) == 1 && last != '\n') out = "\r\n";
    }
    out += bytes;
    const char* p = out.data();
    std::size_t left = out.size();
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (ok) ok = ::fsync(fd) == 0;
    std::string error;
    if (!ok) {
        error = std::strerror(errno);
        if (::ftruncate(fd, before) == 0) ::fsync(fd);
    }
    ::close(fd);
    if (error.empty() && before == 0) {
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return error;
}

std::string joinFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace hx
