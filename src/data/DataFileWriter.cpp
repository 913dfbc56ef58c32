#include "data/DataFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/LogChannel.h"
#include "app/ReplaceFile.h"
#include "data/WavePacking.h"

namespace hx {

namespace {

constexpr std::int32_t kFilenameDayTime = 1;  // "DDhhmmss"
constexpr std::int32_t kFilenameFree = 2;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Characters that would take a name into another folder or that no one can
// type back: the path separator, NUL and the other control characters.
bool unfitForName(char c) {
    const auto u = static_cast<unsigned char>(c);
    return c == '/' || u < 0x20 || u == 0x7F;
}

char nameChar(char c) { return unfitForName(c) ? '_' : c; }

// Character n (1-based, as the date-time text is counted) or fallback when the text is short.
char dateTimeChar(const std::string& dateTime, std::size_t n, char fallback) {
    return n - 1 < dateTime.size() ? dateTime[n - 1] : fallback;
}

void putWord(std::span<std::uint8_t> block, std::size_t at, std::int16_t value) {
    const auto word = static_cast<std::uint16_t>(value);
    block[at] = static_cast<std::uint8_t>(word & 0xFF);
    block[at + 1] = static_cast<std::uint8_t>(word >> 8);
}

// The first min(length, size) characters; the rest of the field stays 0.
void putText(std::span<std::uint8_t> block, std::size_t at, std::size_t size, const std::string& text) {
    std::memcpy(block.data() + at, text.data(), std::min(size, text.size()));
}

// "%c%c<sep>%c%c<sep>%c%c" from characters first..first+5 of the date-time
// text; a character the text does not have is written as 0, as a C string
// past its end would give.
void putStamp(std::span<std::uint8_t> block, std::size_t at, const std::string& dateTime, std::size_t first,
              char separator) {
    std::size_t out = at;
    for (std::size_t k = 0; k < 6; ++k) {
        if (k == 2 || k == 4) block[out++] = static_cast<std::uint8_t>(separator);
        block[out++] = static_cast<std::uint8_t>(dateTimeChar(dateTime, first + k, '\0'));
    }
}

void fillIdentification(std::span<std::uint8_t> block, const DataFileRequest& request) {
    using namespace datafile;
    const MeasurementResult& result = *request.result;
    putStamp(block, kDate, result.dateTime, 1, '/');
    putStamp(block, kTime, result.dateTime, 7, ':');
    putText(block, kAnimalNo, kShortTextSize, request.animal.animalNo);
    putText(block, kStudyNo, kShortTextSize, request.animal.studyNo);
    putText(block, kWeight, kShortTextSize, request.animal.weight);
    putText(block, kSexAge, kShortTextSize, request.animal.sexAge);
    putText(block, kComment, kCommentSize, request.animal.comment);
    block[kResultByte15] = result.resultByte15;
    block[102] = 1;
    block[kResultByte16] = result.resultByte16;
    block[108] = 1;
    block[109] = 2;
    block[113] = 1;
    block[120] = 'B';
}

void fillResult(std::span<std::uint8_t> block, const MeasurementResult& result) {
    using namespace datafile;
    // The order is SBP, DBP, MBP, in the stored half units.
    putWord(block, kSbp, result.sbp);
    putWord(block, kDbp, result.dbp);
    putWord(block, kMbp, result.mbp);
    putWord(block, kFirstMarker, result.firstMarker);
    putWord(block, kSecondMarker, result.secondMarker);
    putWord(block, kSbpAgain, result.sbp);
    putWord(block, kDbpAgain, result.dbp);
    putWord(block, kMbpAgain, result.mbp);
    putWord(block, kResultWord6, result.resultWord6);
    putWord(block, kNine, 9);
    putWord(block, kFirstMarkerAgain, result.firstMarker);
    putWord(block, kSecondMarkerAgain, result.secondMarker);
}

void fillPulseMarks(std::span<std::uint8_t> block, const MeasurementResult& result) {
    for (std::size_t i = 0; i < result.pulseMarks.size(); ++i) putWord(block, 2 * i, result.pulseMarks[i]);
}

int reportFailure(IMessagePort& port, const std::string& path, int error) {
    writeLogLinef('E', 'P', "File Write Error! %s: %s", path.c_str(), std::strerror(error));
    port.messageBox(kDataFileWriteError, kDataFileErrorCaption, MsgIcon::Warning, MsgButtons::Ok);
    return 1;
}

}  // namespace

std::string dataFileSuffix(const std::string& animalNo) {
    const auto first = std::find_if_not(animalNo.begin(), animalNo.end(), isBlank);
    const auto last = std::find_if_not(animalNo.rbegin(), animalNo.rend(), isBlank).base();
    std::string padded = "0000000";
    if (first < last) padded.append(first, last);
    std::string suffix = padded.substr(padded.size() - 3);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), nameChar);
    return suffix;
}

namespace {

std::string stampedName(const DataFileRequest& request, bool dayTime, int copy) {
    const std::string& dateTime = request.result ? request.result->dateTime : std::string();
    const std::size_t first = dayTime ? 5 : 3;  // DDhhmmss : MMDDhhmm
    std::string name = "B";
    for (std::size_t n = first; n < first + 8; ++n) name += nameChar(dateTimeChar(dateTime, n, '_'));
    if (copy > 1) name += "-" + std::to_string(copy);
    return name + "." + dataFileSuffix(request.animal.animalNo);
}

bool freeForm(const DataFileRequest& request) {
    return request.timerMode != 1 && request.filenameType == kFilenameFree;
}

// Copies of one name tried before giving up: far more results than a unit
// can give in one second.
constexpr int kMaxNameCopies = 999;

}  // namespace

std::string dataFileName(const DataFileRequest& request) {
    return stampedName(request, request.timerMode == 1 || request.filenameType == kFilenameDayTime, 1);
}

std::string dayTimeDataFileName(const DataFileRequest& request, int copy) {
    return stampedName(request, true, copy);
}

std::string buildDataFilePath(const DataFileRequest& request, IMessagePort& port) {
    const std::string name = dataFileName(request);
    if (freeForm(request)) {
        const auto chosen =
            port.saveFileDialog(request.dataFolder + name, dataFileSuffix(request.animal.animalNo));
        return chosen.value_or(std::string());
    }
    return request.dataFolder + name;
}

std::array<std::uint8_t, kDataFileHeaderSize> buildDataFileHeader(const DataFileRequest& request) {
    std::array<std::uint8_t, kDataFileHeaderSize> header{};
    const std::span<std::uint8_t> all(header);
    fillIdentification(all.subspan(0, kIdentificationBlockSize), request);
    fillResult(all.subspan(datafile::kResultBlock, kResultBlockSize), *request.result);
    fillPulseMarks(all.subspan(datafile::kPulseMarkBlock, kPulseMarkBlockSize), *request.result);
    return header;
}

std::vector<std::uint8_t> buildDataFileBytes(const DataFileRequest& request) {
    const auto header = buildDataFileHeader(request);
    std::vector<std::uint8_t> bytes(kDataFileHeaderSize + 2 * kMaxPackedRingSize);
    std::copy(header.begin(), header.end(), bytes.begin());
    std::size_t at = kDataFileHeaderSize;
    at += packWaveInto(*request.pressureRing, std::span(bytes).subspan(at, kMaxPackedRingSize));
    at += packWaveInto(*request.waveRing, std::span(bytes).subspan(at, kMaxPackedRingSize));
    bytes.resize(at);
    return bytes;
}

int writeDataFile(const DataFileRequest& request, IMessagePort& port, std::string* writtenPath) {
    if (!request.result) return -1;
    const std::string path = buildDataFilePath(request, port);
    if (path.empty()) return 0;
    if (request.result->resultByte15 == 0) return -1;
    if (!request.pressureRing || !request.waveRing) return reportFailure(port, path, EINVAL);

    const auto bytes = buildDataFileBytes(request);
    if (freeForm(request)) {
        const ReplaceFileResult written = replaceFileContents(path, bytes);
        if (!written.ok()) return reportFailure(port, path, written.error);
        if (writtenPath) *writtenPath = path;
        return 0;
    }
    // The form's name, then the day-time stamp, then its numbered copies.
    for (int attempt = 0; attempt <= kMaxNameCopies; ++attempt) {
        const std::string candidate =
            attempt == 0 ? path : request.dataFolder + dayTimeDataFileName(request, attempt);
        if (attempt == 1 && candidate == path) continue;  // the form's name is the day-time one
        const ReplaceFileResult written = replaceFileContents(candidate, bytes, IfExists::kKeep);
        if (written.failedAt == ReplaceStage::kExists) continue;
        if (!written.ok()) return reportFailure(port, candidate, written.error);
        if (attempt > 0)
            writeLogLinef('N', 'P', "Data file %s exists; this result was written as %s", path.c_str(),
                          candidate.c_str());
        if (writtenPath) *writtenPath = candidate;
        return 0;
    }
    return reportFailure(port, path, EEXIST);
}

}  // namespace hx
