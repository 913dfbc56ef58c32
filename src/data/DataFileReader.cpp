#include "data/DataFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "data/DataFileWriter.h"
#include "data/WavePacking.h"

namespace hx {

static_assert(kMaxDataFileSize == kDataFileHeaderSize + 2 * kMaxPackedRingSize);

namespace {

std::int16_t wordAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8)));
}

// A text field: its bytes up to the first 0, or the whole field when it is full.
std::string textAt(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
    const auto field = bytes.subspan(at, size);
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}

void readHeader(std::span<const std::uint8_t> bytes, DataFileContents& out) {
    using namespace datafile;
    out.date = textAt(bytes, kDate, 8);
    out.time = textAt(bytes, kTime, 8);
    out.animal.animalNo = textAt(bytes, kAnimalNo, kShortTextSize);
    out.animal.studyNo = textAt(bytes, kStudyNo, kShortTextSize);
    out.animal.weight = textAt(bytes, kWeight, kShortTextSize);
    out.animal.sexAge = textAt(bytes, kSexAge, kShortTextSize);
    out.animal.comment = textAt(bytes, kComment, kCommentSize);
    out.resultByte15 = bytes[kResultByte15];
    out.resultByte16 = bytes[kResultByte16];

    const auto result = bytes.subspan(kResultBlock, kResultBlockSize);
    out.sbp = wordAt(result, kSbp);
    out.dbp = wordAt(result, kDbp);
    out.mbp = wordAt(result, kMbp);
    out.firstMarker = wordAt(result, kFirstMarker);
    out.secondMarker = wordAt(result, kSecondMarker);
    out.resultWord6 = wordAt(result, kResultWord6);

    const auto marks = bytes.subspan(kPulseMarkBlock, kPulseMarkBlockSize);
    out.pulseMarks.clear();
    for (std::size_t i = 0; i < 50; ++i) {
        const std::int16_t mark = wordAt(marks, 2 * i);
        if (mark == 0) break;
        out.pulseMarks.push_back(mark);
    }
}

DataFileParse refused(std::string error) {
    DataFileParse parse;
    parse.error = std::move(error);
    return parse;
}

}  // namespace

DataFileParse parseDataFile(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kDataFileHeaderSize + 2 * kWaveHeaderSize) {
        return refused("file too short for a data file: " + std::to_string(bytes.size()) +
                       " bytes, at least " + std::to_string(kDataFileHeaderSize + 2 * kWaveHeaderSize) +
                       " needed");
    }
    DataFileParse parse;
    readHeader(bytes, parse.contents);

    std::string error;
    std::size_t at = kDataFileHeaderSize;
    if (!unpackWave(bytes.subspan(at), parse.contents.pressure, parse.contents.pressureBlockLength, error)) {
        return refused("pressure wave at byte " + std::to_string(at) + ": " + error);
    }
    at += parse.contents.pressureBlockLength;
    if (!unpackWave(bytes.subspan(at), parse.contents.wave, parse.contents.waveBlockLength, error)) {
        return refused("pulse wave at byte " + std::to_string(at) + ": " + error);
    }
    at += parse.contents.waveBlockLength;
    if (at != bytes.size()) {
        return refused(std::to_string(bytes.size() - at) +
                       " bytes of trailing garbage after the pulse wave (at byte " + std::to_string(at) +
                       ")");
    }
    parse.ok = true;
    return parse;
}

namespace {

// Opens path for reading, without blocking, and only a regular file: a pipe
// with no writer would hang the reader, a device would feed it for ever.
// Returns the descriptor, or -1 with the reason.
int openDataFile(const std::string& path, struct stat& info, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = path + ": not a regular file";
        return -1;
    }
    return fd;
}

bool readAt(int fd, std::uint8_t* into, std::size_t size, off_t at) {
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t n = ::pread(fd, into + filled, size - filled, at + static_cast<off_t>(filled));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        filled += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

namespace {

constexpr std::size_t kLeastDataFileSize = kDataFileHeaderSize + 2 * kWaveHeaderSize;

std::size_t lengthAt(const std::uint8_t* at) { return at[0] | (at[1] << 8); }

// The fields of a file whose two wave blocks fill it exactly.
DataFileParse framedFields(std::span<const std::uint8_t> head, std::size_t pressureLength,
                           std::size_t waveLength) {
    DataFileParse parse;
    readHeader(head, parse.contents);
    parse.contents.pressureBlockLength = pressureLength;
    parse.contents.waveBlockLength = waveLength;
    parse.ok = true;
    return parse;
}

}  // namespace

DataFileParse readDataFileFields(const std::string& path) {
    struct stat info {};
    std::string error;
    const int fd = openDataFile(path, info, error);
    if (fd < 0) return refused(error);
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size < kLeastDataFileSize || size > kMaxDataFileSize) {
        ::close(fd);
        return refused(size < kLeastDataFileSize
                           ? "file too short for a data file: " + std::to_string(size) + " bytes"
                           : "larger than any data file can be: " + std::to_string(size) + " bytes");
    }
    // The fields and the first wave block's length; then the second's.
    std::array<std::uint8_t, kDataFileHeaderSize + 2> head;
    auto failed = [&] {
        const int e = errno != 0 ? errno : EIO;
        ::close(fd);
        return refused(path + ": " + std::strerror(e));
    };
    if (!readAt(fd, head.data(), head.size(), 0)) return failed();
    const std::size_t pressureLength = lengthAt(&head[kDataFileHeaderSize]);
    const std::size_t secondAt = kDataFileHeaderSize + pressureLength;
    std::size_t waveLength = 0;
    if (pressureLength >= kWaveHeaderSize && secondAt + kWaveHeaderSize <= size) {
        std::uint8_t second[2] = {};
        if (!readAt(fd, second, 2, static_cast<off_t>(secondAt))) return failed();
        waveLength = lengthAt(second);
    }
    ::close(fd);
    if (pressureLength < kWaveHeaderSize || waveLength < kWaveHeaderSize || secondAt + waveLength != size) {
        return refused("wave block lengths " + std::to_string(pressureLength) + " and " +
                       std::to_string(waveLength) + " do not add up to the file's " + std::to_string(size) +
                       " bytes");
    }
    return framedFields(head, pressureLength, waveLength);
}

DataFileParse readDataFileFieldsAt(int folder, const char* name, const std::string& path) {
    // Not through a link: one put in the listed file's place goes the careful way.
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return readDataFileFields(path);
    // One byte more than the largest data file: a read that stops short has met the file's end.
    std::array<std::uint8_t, kMaxDataFileSize + 1> bytes;
    ssize_t n = 0;
    do {
        n = ::pread(fd, bytes.data(), bytes.size(), 0);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    const auto size = static_cast<std::size_t>(n > 0 ? n : 0);
    if (size >= kLeastDataFileSize && size <= kMaxDataFileSize) {
        const std::size_t pressureLength = lengthAt(&bytes[kDataFileHeaderSize]);
        const std::size_t secondAt = kDataFileHeaderSize + pressureLength;
        if (pressureLength >= kWaveHeaderSize && secondAt + kWaveHeaderSize <= size) {
            const std::size_t waveLength = lengthAt(&bytes[secondAt]);
            if (waveLength >= kWaveHeaderSize && secondAt + waveLength == size)
                return framedFields(std::span(bytes).first(kDataFileHeaderSize), pressureLength, waveLength);
        }
    }
    // Anything else is told apart, with its reason, by the reader that looks at the size first.
    return readDataFileFields(path);
}

DataFileParse readDataFile(const std::string& path) {
    struct stat info {};
    std::string error;
    const int fd = openDataFile(path, info, error);
    if (fd < 0) return refused(error);
    // One byte more than the largest data file tells a too-large file apart.
    std::vector<std::uint8_t> bytes(kMaxDataFileSize + 1);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return refused(path + ": " + std::strerror(error));
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (filled > kMaxDataFileSize) {
        return refused(path + ": larger than any data file can be (more than " +
                       std::to_string(kMaxDataFileSize) + " bytes)");
    }
    bytes.resize(filled);
    return parseDataFile(bytes);
}

}  // namespace hx
