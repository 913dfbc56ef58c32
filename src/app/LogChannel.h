#pragma once
// Diagnostic log channel: every line goes into the shared-memory block "/HX40K"
// (one 136-byte record at its start) and is announced to a viewer listening on
// the Unix datagram socket "Debug_logMessage" in the user's runtime folder.
// Writing never blocks and never fails visibly. Thread-safe.

#include <cstdint>
#include <string>
#include <string_view>

namespace hx {

constexpr std::size_t kLogRecordSize = 136;
constexpr std::size_t kLogTextMax = 128;
constexpr std::size_t kLogBlockSize = 4096;

class CLogChannel;

// The process-wide channel, made on first use.
CLogChannel& logChannel();

// Writes one finished line with its two kind letters ('N'/'E', then 'P'/'D'/'S').
// Texts longer than 128 bytes are cut to 128.
void writeLogLine(std::string_view text, char kind1, char kind2);

// printf-style convenience over writeLogLine.
void writeLogLinef(char kind1, char kind2, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Unmaps the block and forgets the channel; a later line makes a new one.
void closeLogChannel();

// Names used by the channel. Tests point them elsewhere so that runs in
// parallel do not share a block; the defaults are "/HX40K" and
// "<runtime dir>/Debug_logMessage".
void setLogChannelNames(const std::string& sharedMemoryName, const std::string& viewerSocketPath);
std::string logSharedMemoryName();
std::string logViewerSocketPath();

// The user's runtime folder: $XDG_RUNTIME_DIR, or /tmp/runtime-<user>/ as Qt does.
std::string runtimeFolder();

}  // namespace hx
