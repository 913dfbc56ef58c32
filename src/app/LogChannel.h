#pragma once
// Diagnostic log channel: every line goes into the shared-memory block "/HX40K"
// (one 136-byte record at its start) and is announced to a viewer listening on
// the Unix datagram socket "Debug_logMessage" in the user's runtime folder.
// Writing never blocks and never fails visibly. Thread-safe: writers are
// serialised within the process (record write and announcement under one lock).
//
// Record layout (little-endian): bytes 0-3 time in seconds since 1970, 4 and 5
// the kind letters, 6-7 text length, 8-135 the text, not terminated; bytes after
// the length keep what earlier lines left there.
// Announcement: a datagram of two little-endian 64-bit values, wParam (address of
// the block in the writing process, of no use elsewhere) and lParam (136).
//
// Behind the first record, in the same block, a ring keeps the latest records,
// so that a viewer that falls behind a burst still prints every line. Copies of
// the program share the block, so the sequence is taken atomically in it:
//   kLogRingOffset + 0   u32 "HXR1" (kLogRingMagic), u32 number of slots
//                  + 8   u64 sequence of the latest record (the first is 1)
//                  + 16  the slots: u64 sequence (0 while being written), record

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

constexpr std::size_t kLogRecordSize = 136;
constexpr std::size_t kLogTextMax = 128;
constexpr std::size_t kLogBlockSize = 4096;
constexpr std::size_t kLogNoticeSize = 16;
constexpr std::size_t kLogRingOffset = 256;
constexpr std::uint32_t kLogRingMagic = 0x31525848;  // "HXR1"
constexpr std::size_t kLogRingSlotSize = 8 + kLogRecordSize;
constexpr std::size_t kLogRingSlots = (kLogBlockSize - kLogRingOffset - 16) / kLogRingSlotSize;

// One process's mapping of the shared block and its announcing socket.
// Made by logChannel(); all access goes through the free functions below,
// which hold the channel lock.
class CLogChannel {
  public:
    CLogChannel(const std::string& sharedMemoryName, const std::string& viewerSocketPath);
    ~CLogChannel();
    CLogChannel(const CLogChannel&) = delete;
    CLogChannel& operator=(const CLogChannel&) = delete;

    // False when the block could not be opened or mapped: lines are dropped.
    bool isMapped() const { return m_view != nullptr; }
    // The block's address in this process (wParam of the announcement).
    const void* view() const { return m_view; }

    // Fills the staging record, copies it to the block and announces it.
    // The caller holds the channel lock.
    void write(std::string_view text, char kind1, char kind2, std::uint32_t timeSeconds);

  private:
    // True when the block is mapped; m_foreignBlock tells why not.
    bool mapBlock(const std::string& name);
    void writeRing();
    void openSocket(const std::string& path);
    void announce();

    unsigned char* m_view = nullptr;
    int m_block = -1;             // the block's descriptor while it is mapped
    bool m_foreignBlock = false;  // the last block tried was someone else's
    int m_socket = -1;
    bool m_haveViewerAddress = false;
    sockaddr_un m_viewerAddress{};
    socklen_t m_viewerAddressLength = 0;
    unsigned char m_staging[kLogRecordSize] = {};
};

// The process-wide channel, made on first use. The reference stays valid only
// until closeLogChannel() or setLogChannelNames(); prefer writeLogLine.
CLogChannel& logChannel();

// Writes one finished line with its two kind letters ('N'/'E', then 'P'/'D'/'S').
// Texts longer than 128 bytes are cut to 128.
void writeLogLine(std::string_view text, char kind1, char kind2);

// The tag the calling thread puts before each of its lines ("dev=3" while it
// works for the unit with device ID 3); empty: none. A thread started for a
// unit takes over its starter's tag.
void setThreadLogTag(std::string tag);
const std::string& threadLogTag();

// printf-style convenience over writeLogLine.
void writeLogLinef(char kind1, char kind2, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Sees every line as it is written (tests follow the program's diagnostics
// with it). Called under the channel's lock: it must not write lines itself.
using LogLineObserver = std::function<void(std::string_view text, char kind1, char kind2)>;
void setLogLineObserver(LogLineObserver observer);

// Unmaps the block and forgets the channel; a later line makes a new one.
void closeLogChannel();

// Names used by the channel. Tests point them elsewhere so that runs in
// parallel do not share a block; the defaults are "/HX40K" and
// "<runtime dir>/Debug_logMessage". An empty name restores its default.
// Closes the current channel so that the next line uses the new names.
void setLogChannelNames(const std::string& sharedMemoryName, const std::string& viewerSocketPath);
std::string logSharedMemoryName();
std::string logViewerSocketPath();

// Any local user can make the shared block first. A block that is not this
// user's own and closed to others is not used: lines then go to the block of
// this user, "<name>-<uid>" (the viewer looks there too), and one line on
// stderr says so.
std::string userLogBlockName(const std::string& sharedMemoryName);
bool isPrivateLogBlock(int fd);

// The user's runtime folder with a final "/": $XDG_RUNTIME_DIR, or
// /tmp/runtime-<user>/ (made when missing) as Qt does. Empty when the folder
// is not the user's own directory (a link, another user's folder): then
// there are no log notices and no control socket, and one line on stderr
// says so. A folder of the user's own is made owner-only.
std::string runtimeFolder();

// A record as a reader sees it. The block is shared with other processes, so
// a length beyond the text field is cut to the field.
struct LogRecord {
    std::uint32_t timeSeconds = 0;
    char kind1 = 0;
    char kind2 = 0;
    std::string text;
};
std::optional<LogRecord> decodeLogRecord(const unsigned char* bytes, std::size_t size);

// Lines this process has written since it started.
std::uint64_t logLinesWritten();

// The ring of a mapped block (kLogBlockSize bytes, read-only is enough).
// logRingSequence: the latest record's sequence; empty when the block has no ring.
std::optional<std::uint64_t> logRingSequence(const unsigned char* block);
// The records after sequence `after`, in order. missed counts those the ring
// had already overwritten; last is the sequence read up to (a record still
// being written ends the read early, to be read next time).
struct LogRingRead {
    std::vector<LogRecord> records;
    std::uint64_t missed = 0;
    std::uint64_t last = 0;
};
LogRingRead readLogRing(const unsigned char* block, std::uint64_t after);

// Decodes an announcement datagram; empty when it is not 16 bytes.
struct LogNotice {
    std::uint64_t wParam = 0;
    std::uint64_t lParam = 0;
};
std::optional<LogNotice> decodeLogNotice(const unsigned char* bytes, std::size_t size);

}  // namespace hx
