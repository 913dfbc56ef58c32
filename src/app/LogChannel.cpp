#include "app/LogChannel.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

namespace hx {

namespace {

constexpr const char* kDefaultSharedMemoryName = "/HX40K";
constexpr const char* kViewerSocketName = "Debug_logMessage";

std::atomic<std::uint64_t> g_linesWritten{0};

// The ring's words are read with atomic loads; the view may be read-only.
std::uint64_t loadWord(const unsigned char* p, std::memory_order order) {
    return std::atomic_ref<std::uint64_t>(*reinterpret_cast<std::uint64_t*>(const_cast<unsigned char*>(p)))
        .load(order);
}

// One lock for the channel pointer, the names and every write: a line is
// written and announced whole, and closing never pulls the block away from
// under a writer.
struct ChannelState {
    std::mutex mutex;
    std::unique_ptr<CLogChannel> channel;
    std::string sharedMemoryName;  // empty: the default
    std::string viewerSocketPath;  // empty: the default
    LogLineObserver observer;
};

// Never destroyed: threads and static destructors may still log while the
// process ends.
ChannelState& state() {
    static ChannelState* s = new ChannelState;
    return *s;
}

std::string effectiveSharedMemoryName(const ChannelState& s) {
    return s.sharedMemoryName.empty() ? kDefaultSharedMemoryName : s.sharedMemoryName;
}

std::string effectiveViewerSocketPath(const ChannelState& s) {
    if (!s.viewerSocketPath.empty()) return s.viewerSocketPath;
    const std::string folder = runtimeFolder();
    return folder.empty() ? std::string() : folder + kViewerSocketName;
}

CLogChannel& channelLocked(ChannelState& s) {
    if (!s.channel)
        s.channel = std::make_unique<CLogChannel>(effectiveSharedMemoryName(s), effectiveViewerSocketPath(s));
    return *s.channel;
}

void putLe16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void putLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void putLe64(unsigned char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t getLe(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

std::uint32_t nowSeconds() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace

// The block is shared by every copy of the program under one name, so a block
// that someone else made (another user, or open to others) is not written to:
// our lines would become readable by them.
bool isPrivateLogBlock(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    return info.st_uid == ::geteuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::string userLogBlockName(const std::string& sharedMemoryName) {
    return sharedMemoryName + "-" + std::to_string(::geteuid());
}

CLogChannel::CLogChannel(const std::string& sharedMemoryName, const std::string& viewerSocketPath) {
    if (!mapBlock(sharedMemoryName) && m_foreignBlock) {
        const std::string own = userLogBlockName(sharedMemoryName);
        static std::atomic<bool> told{false};
        if (mapBlock(own) && !told.exchange(true))
            std::fprintf(
                stderr,
                "halnor40ku: the shared memory block %s belongs to another user or is open to others; "
                "diagnostic lines go to %s (hx40k-logview finds it)\n",
                sharedMemoryName.c_str(), own.c_str());
    }
    openSocket(viewerSocketPath);
}

CLogChannel::~CLogChannel() {
    if (m_view) ::munmap(m_view, kLogBlockSize);
    if (m_block >= 0) ::close(m_block);
    if (m_socket >= 0) ::close(m_socket);
}

bool CLogChannel::mapBlock(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    m_foreignBlock = fd < 0 ? errno == EACCES : !isPrivateLogBlock(fd);
    if (fd < 0) return false;
    struct stat info {};
    // A new block (size 0) is sized; one of another size is someone else's
    // and is left alone.
    const bool usable = !m_foreignBlock && ::fstat(fd, &info) == 0 &&
                        (info.st_size == static_cast<off_t>(kLogBlockSize) ||
                         (info.st_size == 0 && ::ftruncate(fd, static_cast<off_t>(kLogBlockSize)) == 0));
    if (usable) {
        void* view = ::mmap(nullptr, kLogBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (view != MAP_FAILED) {
            m_view = static_cast<unsigned char*>(view);
            m_block = fd;  // records go in through the descriptor (see write)
            return true;
        }
    }
    ::close(fd);
    return false;
}

void CLogChannel::openSocket(const std::string& path) {
    if (path.empty() || path.size() >= sizeof m_viewerAddress.sun_path) return;
    m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) return;
    m_viewerAddress.sun_family = AF_UNIX;
    std::memcpy(m_viewerAddress.sun_path, path.data(), path.size());
    m_viewerAddressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    m_haveViewerAddress = true;
}

void CLogChannel::write(std::string_view text, char kind1, char kind2, std::uint32_t timeSeconds) {
    if (!m_view) return;
    const std::size_t length = text.size() < kLogTextMax ? text.size() : kLogTextMax;
    putLe32(m_staging, timeSeconds);
    m_staging[4] = static_cast<unsigned char>(kind1);
    m_staging[5] = static_cast<unsigned char>(kind2);
    putLe16(m_staging + 6, static_cast<std::uint16_t>(length));
    if (length > 0) std::memcpy(m_staging + 8, text.data(), length);
    // Anyone with the user's rights can shrink the block under us, and a
    // store into a mapping past the file's end kills the process (SIGBUS).
    // So records go in through the descriptor, never the mapping, and a
    // block of the wrong size is not written to at all.
    struct stat info {};
    if (::fstat(m_block, &info) != 0 || info.st_size != static_cast<off_t>(kLogBlockSize)) return;
    if (::pwrite(m_block, m_staging, kLogRecordSize, 0) != static_cast<ssize_t>(kLogRecordSize)) return;
    writeRing();
    g_linesWritten.fetch_add(1, std::memory_order_relaxed);
    announce();
}

void CLogChannel::writeRing() {
    // Copies of the program share the ring: the sequence is taken and the
    // slot filled under a short lock on the ring's header. A lock that cannot
    // be had within about a millisecond (a copy stopped while holding it)
    // costs the ring this line, never a wait; the first record still has it.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(kLogRingOffset);
    lock.l_len = 16;
    bool locked = false;
    for (int attempt = 0; attempt < 50 && !locked; ++attempt) {
        locked = ::fcntl(m_block, F_OFD_SETLK, &lock) == 0;
        if (!locked) std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    if (!locked) return;

    const auto at = [](std::size_t offset) { return static_cast<off_t>(kLogRingOffset + offset); };
    std::uint32_t magic = 0;
    std::uint64_t latest = 0;
    bool ours = ::pread(m_block, &magic, sizeof magic, at(0)) == sizeof magic &&
                ::pread(m_block, &latest, sizeof latest, at(8)) == sizeof latest;
    if (ours && magic != kLogRingMagic) {
        // A fresh block is all zero; whoever comes first lays the ring out.
        const std::uint32_t header[2] = {kLogRingMagic, static_cast<std::uint32_t>(kLogRingSlots)};
        ours = magic == 0 && ::pwrite(m_block, header, sizeof header, at(0)) == sizeof header;
        latest = 0;
    }
    if (ours) {
        // The slot's sequence is 0 while it is being filled, so a viewer that
        // reads it meanwhile skips it rather than taking half a record.
        const std::uint64_t sequence = latest + 1;
        const std::size_t slot = 16 + ((sequence - 1) % kLogRingSlots) * kLogRingSlotSize;
        const std::uint64_t filling = 0;
        if (::pwrite(m_block, &filling, sizeof filling, at(slot)) == sizeof filling &&
            ::pwrite(m_block, m_staging, kLogRecordSize, at(slot + 8)) ==
                static_cast<ssize_t>(kLogRecordSize) &&
            ::pwrite(m_block, &sequence, sizeof sequence, at(slot)) == sizeof sequence)
            (void)::pwrite(m_block, &sequence, sizeof sequence, at(8));
    }
    lock.l_type = F_UNLCK;
    (void)::fcntl(m_block, F_OFD_SETLK, &lock);
}

void CLogChannel::announce() {
    if (m_socket < 0 || !m_haveViewerAddress) return;
    unsigned char notice[kLogNoticeSize];
    putLe64(notice, reinterpret_cast<std::uintptr_t>(m_view));
    putLe64(notice + 8, kLogRecordSize);
    // No viewer bound, or one that is not keeping up: the line is simply not
    // announced. Never wait for it.
    (void)::sendto(m_socket, notice, sizeof notice, MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&m_viewerAddress), m_viewerAddressLength);
}

CLogChannel& logChannel() {
    ChannelState& s = state();
    std::lock_guard lock(s.mutex);
    return channelLocked(s);
}

namespace {
// The channel (unit) the calling thread works for: named at the start of its lines.
thread_local std::string t_lineTag;
}  // namespace

void setThreadLogTag(std::string tag) { t_lineTag = std::move(tag); }
const std::string& threadLogTag() { return t_lineTag; }

void writeLogLine(std::string_view text, char kind1, char kind2) {
    try {
        std::string tagged;
        if (!t_lineTag.empty()) {
            tagged.reserve(t_lineTag.size() + 1 + text.size());
            tagged.append(t_lineTag).append(1, ' ').append(text);
            text = tagged;
        }
        ChannelState& s = state();
        std::lock_guard lock(s.mutex);
        channelLocked(s).write(text, kind1, kind2, nowSeconds());
        if (s.observer) s.observer(text.substr(0, kLogTextMax), kind1, kind2);
    } catch (...) {
        // A diagnostic line is never worth failing the caller.
    }
}

void writeLogLinef(char kind1, char kind2, const char* format, ...) {
    // Only the first 128 bytes can be kept, so the text is formatted into a
    // fixed buffer and cut there.
    char buffer[kLogTextMax + 1];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (written < 0) return;
    const std::size_t length = std::min(static_cast<std::size_t>(written), kLogTextMax);
    writeLogLine(std::string_view(buffer, length), kind1, kind2);
}

void setLogLineObserver(LogLineObserver observer) {
    ChannelState& s = state();
    std::lock_guard lock(s.mutex);
    s.observer = std::move(observer);
}

void closeLogChannel() {
    ChannelState& s = state();
    std::lock_guard lock(s.mutex);
    s.channel.reset();
}

void setLogChannelNames(const std::string& sharedMemoryName, const std::string& viewerSocketPath) {
    ChannelState& s = state();
    std::lock_guard lock(s.mutex);
    s.channel.reset();
    s.sharedMemoryName = sharedMemoryName;
    s.viewerSocketPath = viewerSocketPath;
}

std::string logSharedMemoryName() {
    ChannelState& s = state();
    std::lock_guard lock(s.mutex);
    return effectiveSharedMemoryName(s);
}

std::string logViewerSocketPath() {
    ChannelState& s = state();
    std::lock_guard lock(s.mutex);
    return effectiveViewerSocketPath(s);
}

namespace {

// A folder where other users could place or replace our sockets is not used:
// it must be a directory of our own (not a link) and reachable by us alone.
// A folder of ours with looser modes is made private, as Qt does.
bool makeTrustedFolder(const std::string& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return errno == ENOENT;  // nothing there to take over
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return false;
    return (info.st_mode & 0777) == 0700 || ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace

std::string runtimeFolder() {
    std::string folder;
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
        folder = xdg;
        if (folder.back() != '/') folder += '/';
    } else {
        std::string user;
        char buffer[1024];
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
            user = found->pw_name;
        if (user.empty()) user = std::to_string(::geteuid());
        const char* tmp = std::getenv("TMPDIR");
        std::string base = (tmp && *tmp) ? tmp : "/tmp";
        if (base.back() != '/') base += '/';
        folder = base + "runtime-" + user + "/";
        ::mkdir(folder.c_str(), 0700);
    }
    if (makeTrustedFolder(folder.substr(0, folder.size() - 1))) return folder;
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        std::fprintf(stderr,
                     "halnor40ku: runtime folder %s is not private to this user: running without log notices "
                     "and control socket\n",
                     folder.c_str());
    return {};
}

std::optional<LogRecord> decodeLogRecord(const unsigned char* bytes, std::size_t size) {
    if (!bytes || size < kLogRecordSize) return std::nullopt;
    LogRecord record;
    record.timeSeconds = static_cast<std::uint32_t>(getLe(bytes, 4));
    record.kind1 = static_cast<char>(bytes[4]);
    record.kind2 = static_cast<char>(bytes[5]);
    std::size_t length = static_cast<std::size_t>(getLe(bytes + 6, 2));
    if (length > kLogTextMax) length = kLogTextMax;
    record.text.assign(reinterpret_cast<const char*>(bytes + 8), length);
    return record;
}

std::optional<LogNotice> decodeLogNotice(const unsigned char* bytes, std::size_t size) {
    if (!bytes || size != kLogNoticeSize) return std::nullopt;
    return LogNotice{getLe(bytes, 8), getLe(bytes + 8, 8)};
}

std::uint64_t logLinesWritten() { return g_linesWritten.load(std::memory_order_relaxed); }

std::optional<std::uint64_t> logRingSequence(const unsigned char* block) {
    const unsigned char* ring = block + kLogRingOffset;
    const auto magic =
        std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(const_cast<unsigned char*>(ring)))
            .load(std::memory_order_acquire);
    if (magic != kLogRingMagic || getLe(ring + 4, 4) != kLogRingSlots) return std::nullopt;
    return loadWord(ring + 8, std::memory_order_acquire);
}

LogRingRead readLogRing(const unsigned char* block, std::uint64_t after) {
    LogRingRead read;
    read.last = after;
    const auto latest = logRingSequence(block);
    if (!latest) return read;
    if (*latest < after) after = 0;  // the block was made anew
    std::uint64_t first = after + 1;
    if (*latest >= kLogRingSlots && *latest - kLogRingSlots + 1 > first) {
        read.missed += *latest - kLogRingSlots + 1 - first;
        first = *latest - kLogRingSlots + 1;
    }
    read.last = first - 1;
    const unsigned char* slots = block + kLogRingOffset + 16;
    for (std::uint64_t sequence = first; sequence <= *latest; ++sequence) {
        const unsigned char* slot = slots + ((sequence - 1) % kLogRingSlots) * kLogRingSlotSize;
        bool done = false;
        for (int attempt = 0; attempt < 1000 && !done; ++attempt) {
            const std::uint64_t before = loadWord(slot, std::memory_order_acquire);
            if (before > sequence) {  // overwritten before we came to it
                ++read.missed;
                done = true;
            } else if (before == sequence) {
                unsigned char copy[kLogRecordSize];
                std::memcpy(copy, slot + 8, sizeof copy);
                std::atomic_thread_fence(std::memory_order_acquire);
                if (loadWord(slot, std::memory_order_relaxed) == sequence) {
                    if (auto record = decodeLogRecord(copy, sizeof copy)) read.records.push_back(*record);
                } else {
                    ++read.missed;
                }
                done = true;
            } else {
                std::this_thread::yield();  // its writer is still at it
            }
        }
        if (!done) return read;  // read it next time
        read.last = sequence;
    }
    return read;
}

}  // namespace hx
