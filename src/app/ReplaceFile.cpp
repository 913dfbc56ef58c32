#include "app/ReplaceFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string_view>

namespace hx {

namespace {

constexpr int kNameAttempts = 100;
constexpr std::string_view kTemporaryPrefix = ".hx40k-";
constexpr std::string_view kTemporarySuffix = ".part";
constexpr mode_t kNewFileMode = 0666;  // the umask takes its share

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string randomLetters(std::size_t count) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 generator{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += kLetters[pick(generator)];
    return text;
}

// Opens a new, exclusive temporary file in folder; -1 with errno on failure.
// The file stays locked while it is open, which tells the clean-up at start
// that a running copy still writes it.
int createTemporary(const std::string& folder, std::string& tempPath) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        tempPath =
            folder + "/" + std::string(kTemporaryPrefix) + randomLetters(10) + std::string(kTemporarySuffix);
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0) (void)::flock(fd, LOCK_EX | LOCK_NB);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool isTemporaryName(std::string_view name) {
    return name.size() > kTemporaryPrefix.size() + kTemporarySuffix.size() &&
           name.starts_with(kTemporaryPrefix) && name.ends_with(kTemporarySuffix);
}

// A file system that cannot sync folders (EINVAL) has nothing to sync.
bool syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    return synced;
}

ReplaceFileResult failure(ReplaceStage stage, int error) { return {stage, error}; }

// Renames without replacing: fails with EEXIST when the name is taken, also
// when another writer took it after we looked. File systems without the
// atomic form get a check just before the rename.
bool renameKeeping(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat taken {};
    if (::lstat(to.c_str(), &taken) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// A direct create would fail on a folder or on a file we may not write; the
// rename would not, so those cases are refused before anything is made. So
// is anything but a regular file: the rename would put a plain file in the
// place of a device, a pipe or a symbolic link (and the link's target would
// keep its old contents).
bool targetRefusesWriting(const std::string& path, struct stat& existing, bool& exists, int& error) {
    exists = ::lstat(path.c_str(), &existing) == 0;
    if (!exists) return false;
    if (S_ISDIR(existing.st_mode)) {
        error = EISDIR;
        return true;
    }
    if (!S_ISREG(existing.st_mode)) {
        error = EPERM;
        return true;
    }
    if (::access(path.c_str(), W_OK) != 0) {
        error = errno;
        return true;
    }
    return false;
}

}  // namespace

bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

ReplaceFileResult replaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes,
                                      IfExists ifExists) {
    if (path.empty() || path.back() == '/') return failure(ReplaceStage::kCreate, EISDIR);

    struct stat existing {};
    bool exists = false;
    int refusal = 0;
    const bool keep = ifExists == IfExists::kKeep;
    if (keep && ::lstat(path.c_str(), &existing) == 0) return failure(ReplaceStage::kExists, EEXIST);
    if (targetRefusesWriting(path, existing, exists, refusal)) return failure(ReplaceStage::kCreate, refusal);

    const std::string folder = folderOf(path);
    std::string tempPath;
    const int fd = createTemporary(folder, tempPath);
    if (fd < 0) return failure(ReplaceStage::kCreate, errno);

    bool written = writeAll(fd, bytes.data(), bytes.size());
    // The old file's permissions, but never set-user-ID, set-group-ID or sticky.
    if (written && exists) (void)::fchmod(fd, existing.st_mode & 0777);
    written = written && ::fsync(fd) == 0;
    int error = written ? 0 : errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && !(keep ? renameKeeping(tempPath, path) : ::rename(tempPath.c_str(), path.c_str()) == 0)) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(tempPath.c_str());
        return failure(keep && error == EEXIST ? ReplaceStage::kExists : ReplaceStage::kWrite, error);
    }
    // The new file is in place; a folder that cannot be synced is still a
    // failure to make it durable, so it is reported.
    if (!syncFolder(folder)) return failure(ReplaceStage::kWrite, errno);
    return {};
}

std::size_t removeStaleTemporaryFiles(const std::string& folder, std::time_t now) {
    const std::string base = folder.empty() ? "." : folder;
    DIR* dir = ::opendir(base.c_str());
    if (!dir) return 0;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name)) continue;
        const std::string path = base + (base.back() == '/' ? "" : "/") + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat info {};
        const bool stale = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                           info.st_mtime <= now - kStaleTemporaryAgeS && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale && ::unlink(path.c_str()) == 0) ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

}  // namespace hx
