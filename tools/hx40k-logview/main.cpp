// hx40k-logview: shows the program's diagnostic lines as they are written.
//
//   hx40k-logview [--socket PATH] [--shm NAME] [--count N]
//
// Binds the viewer socket (by default Debug_logMessage in the user's runtime
// folder), and on every announcement reads the new records from its own
// read-only view of the shared block and prints "YYYY-MM-DD hh:mm:ss K K text".
// The block's ring lets it print every line once and in order, also after a
// burst; when the ring overran, a line on stderr says how many were missed.
// A block without the ring (an older writer) gives its first record per notice.
// Ends on SIGINT or SIGTERM (or after N lines) and removes its socket file.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/LogChannel.h"

namespace {

struct Options {
    std::string socketPath;
    std::string sharedMemoryName;
    long count = 0;  // 0: until a signal
};

void usage() { std::fprintf(stderr, "usage: hx40k-logview [--socket PATH] [--shm NAME] [--count N]\n"); }

bool parseOptions(int argc, char** argv, Options& options) {
    options.socketPath = hx::logViewerSocketPath();
    options.sharedMemoryName = hx::logSharedMemoryName();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (arg == "--socket") {
            options.socketPath = value;
        } else if (arg == "--shm") {
            options.sharedMemoryName = value;
        } else if (arg == "--count") {
            char* end = nullptr;
            options.count = std::strtol(value, &end, 10);
            if (*value == '\0' || *end != '\0' || options.count < 0) return false;
        } else {
            return false;
        }
    }
    return !options.socketPath.empty() && !options.sharedMemoryName.empty();
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    if (path.size() >= sizeof address.sun_path) return false;
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// A socket file left by a viewer that died is removed; one that a running
// viewer still listens on is not taken from it, nor is anything that is not
// a socket.
bool clearStaleSocket(const std::string& path, const sockaddr_un& address) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
    if (!S_ISSOCK(info.st_mode)) {
        std::fprintf(stderr, "hx40k-logview: %s exists and is not a socket\n", path.c_str());
        return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool alive = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (alive) {
        std::fprintf(stderr, "hx40k-logview: another viewer listens on %s\n", path.c_str());
        return false;
    }
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

// The runtime folder may be missing when it is our own fallback under /tmp.
void makeParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    ::mkdir(path.substr(0, slash).c_str(), 0700);
}

int bindViewerSocket(const std::string& path) {
    sockaddr_un address{};
    if (!fillAddress(path, address)) {
        std::fprintf(stderr, "hx40k-logview: socket path too long: %s\n", path.c_str());
        return -1;
    }
    makeParentFolder(path);
    if (!clearStaleSocket(path, address)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const mode_t oldMask = ::umask(077);  // only this user may announce lines
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::umask(oldMask);
    if (bound != 0) {
        std::fprintf(stderr, "hx40k-logview: cannot bind %s: %s\n", path.c_str(), std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

// A copy of the shared block, read again at each look (the program makes the
// block on its first line). It is read with pread, never mapped: anyone with
// the user's rights can shrink the block, and a read through a mapping past
// its end would kill the viewer (SIGBUS). The block under the default name
// may be another user's; then the program writes to this user's own block,
// and so the viewer reads that.
class CBlockView {
  public:
    explicit CBlockView(std::string name) : m_name(std::move(name)) {}
    ~CBlockView() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CBlockView(const CBlockView&) = delete;
    CBlockView& operator=(const CBlockView&) = delete;

    const unsigned char* record() {
        if (m_fd < 0) open();
        if (m_fd < 0) return nullptr;
        const ssize_t got = ::pread(m_fd, m_copy, sizeof m_copy, 0);
        m_size = got >= static_cast<ssize_t>(hx::kLogBlockSize)    ? hx::kLogBlockSize
                 : got >= static_cast<ssize_t>(hx::kLogRecordSize) ? hx::kLogRecordSize
                                                                   : 0;
        return m_size > 0 ? m_copy : nullptr;
    }
    // The ring needs the whole block.
    bool hasRing() { return record() && m_size == hx::kLogBlockSize && hx::logRingSequence(m_copy); }
    std::size_t size() const { return m_size; }

  private:
    void open() {
        int fd = ::shm_open(m_name.c_str(), O_RDONLY | O_CLOEXEC, 0);
        if (fd < 0 ? errno == EACCES : !hx::isPrivateLogBlock(fd)) {
            if (fd >= 0) ::close(fd);
            fd = ::shm_open(hx::userLogBlockName(m_name).c_str(), O_RDONLY | O_CLOEXEC, 0);
        }
        m_fd = fd;
    }

    std::string m_name;
    int m_fd = -1;
    alignas(8) unsigned char m_copy[hx::kLogBlockSize] = {};
    std::size_t m_size = 0;
};

// Control characters would drive the terminal; they are shown as \xNN.
std::string printable(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

char printableKind(char kind) { return kind >= 0x21 && kind < 0x7F ? kind : '?'; }

void printRecord(const hx::LogRecord& record) {
    const std::time_t when = record.timeSeconds;
    std::tm local{};
    char stamp[32] = "(no local time)";
    if (::localtime_r(&when, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::printf("%s %c %c %s\n", stamp, printableKind(record.kind1), printableKind(record.kind2),
                printable(record.text).c_str());
    std::fflush(stdout);
}

int openSignalFd(sigset_t& mask) {
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    if (::sigprocmask(SIG_BLOCK, &mask, nullptr) != 0) return -1;
    return ::signalfd(-1, &mask, SFD_CLOEXEC);
}

// Prints the ring's records after `last` (at most `room`); returns how many.
long printRing(CBlockView& block, std::uint64_t& last, long room) {
    const unsigned char* bytes = block.record();
    if (!bytes || block.size() != hx::kLogBlockSize) return 0;  // shrunk meanwhile
    const hx::LogRingRead read = hx::readLogRing(bytes, last);
    long printed = 0;
    std::uint64_t missed = read.missed;
    for (const hx::LogRecord& record : read.records) {
        if (room > 0 && printed >= room) break;
        printRecord(record);
        ++printed;
    }
    // Lines not printed for --count stay unread; they are not missed.
    last = read.last - (read.records.size() - static_cast<std::size_t>(printed));
    if (missed > 0) {
        std::fprintf(stderr, "hx40k-logview: %llu line(s) missed: written faster than they were read\n",
                     static_cast<unsigned long long>(missed));
        std::fflush(stderr);
    }
    return printed;
}

// Returns the number of lines printed.
long handleNotice(int socketFd, CBlockView& block, std::uint64_t& last, bool& lastKnown, long room) {
    unsigned char buffer[64];
    bool announced = false;
    ssize_t got = 0;
    // Every pending notice at once: the ring holds the lines they announce.
    while ((got = ::recv(socketFd, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0) {
        const auto notice = hx::decodeLogNotice(buffer, static_cast<std::size_t>(got));
        if (notice && notice->lParam == hx::kLogRecordSize) announced = true;
    }
    if (block.hasRing()) {
        // A block that appeared after the viewer started is read from its first line.
        if (!lastKnown) lastKnown = true;
        return printRing(block, last, room);
    }
    if (!announced) return 0;
    const unsigned char* bytes = block.record();
    if (!bytes) return 0;
    const auto record = hx::decodeLogRecord(bytes, hx::kLogRecordSize);  // a copy already
    if (!record) return 0;
    printRecord(*record);
    return 1;
}

int run(const Options& options) {
    sigset_t mask;
    const int signalFd = openSignalFd(mask);
    if (signalFd < 0) return 1;
    CBlockView block(options.sharedMemoryName);
    // A block that is already there holds earlier lines: start after them.
    // Taken before the socket is bound, so that a line announced as soon as
    // the socket is there is newer than this starting point and is printed.
    std::uint64_t last = 0;
    bool lastKnown = false;
    if (block.hasRing()) {
        last = hx::logRingSequence(block.record()).value_or(0);
        lastKnown = true;
    }
    const int socketFd = bindViewerSocket(options.socketPath);
    if (socketFd < 0) return 1;
    long printed = 0;
    bool stop = false;
    while (!stop && (options.count == 0 || printed < options.count)) {
        pollfd fds[2] = {{socketFd, POLLIN, 0}, {signalFd, POLLIN, 0}};
        // Notices can be dropped when the viewer falls behind; the ring is
        // looked at now and then all the same.
        const int ready = ::poll(fds, 2, 250);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) stop = true;
        if (!stop) {
            const long room = options.count == 0 ? 0 : options.count - printed;
            printed += handleNotice(socketFd, block, last, lastKnown, room);
        }
    }
    ::close(socketFd);
    ::unlink(options.socketPath.c_str());
    ::close(signalFd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    return run(options);
}
