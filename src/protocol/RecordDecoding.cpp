#include "protocol/RecordDecoding.h"

#include <algorithm>

#include "app/LogChannel.h"

// The records' types, offsets and units: docs/protocol.md.

namespace hx {

namespace {

std::uint16_t readWord(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

std::int16_t readSigned(const std::uint8_t* bytes) { return static_cast<std::int16_t>(readWord(bytes)); }

// A field of at most width bytes, ended early by a 0 byte.
std::string fieldText(const std::uint8_t* bytes, std::size_t width) {
    const std::uint8_t* end = std::find(bytes, bytes + width, std::uint8_t{0});
    return std::string(bytes, end);
}

// The date-time text of a result: bytes 26 to 37.
constexpr std::size_t kDateTimeOffset = 26;
constexpr std::size_t kDateTimeLength = 12;
constexpr std::size_t kPulseMarkOffset = 62;

// Animal block layout after the two number fields of width L.
constexpr std::size_t kTextFieldWidth = 8;  // weight, sex/age
constexpr std::size_t kCommentMax = 32;
// Bytes 56 to 63 carry the 32nd comment character in their top bits (long-ID
// form); they are comment characters 23 to 30 there.
constexpr std::size_t kSpreadFirstByte = 56;
constexpr std::size_t kSpreadFirstChar = 23;
constexpr std::size_t kSpreadChar = 31;

std::size_t commentOffset(std::size_t width) { return 2 * width + 17; }

// Stores one sample pair at ring index p, sign-extended.
void storePair(CHalnor55KUDoc& doc, const std::uint8_t* pair, int p) {
    const auto index = static_cast<std::size_t>(p);
    doc.pressureRing()[index] = signExtend12(readWord(pair));
    doc.waveRing()[index] = signExtend12(readWord(pair + 2));
    doc.setCuffPressure(doc.pressureRing()[index]);
}

// The first sample of a new sweep was stored at index 0: everything after it is
// the previous sweep and goes.
void restartSweep(CHalnor55KUDoc& doc) {
    doc.setMeasurementPhase(CHalnor55KUDoc::kPhaseSweep);
    std::fill(doc.pressureRing().begin() + 1, doc.pressureRing().end(), 0);
    std::fill(doc.waveRing().begin() + 1, doc.waveRing().end(), 0);
    doc.listener().onSweepRestart();
}

void countHeartRateSample(CHalnor55KUDoc& doc) {
    auto counter = static_cast<std::int16_t>(doc.heartRateCounter() + 1);
    if (counter > CHalnor55KUDoc::kHeartRateInterval) {
        doc.listener().onLiveHeartRate(doc.liveHeartRate());
        counter = 0;
    }
    doc.setHeartRateCounter(counter);
}

void followHeader(CHalnor55KUDoc& doc, int sensorLevel) {
    if (sensorLevel != doc.sensorLevel()) {
        doc.setSensorLevel(sensorLevel);
        doc.listener().onSensorLevel(sensorLevel);
    }
    if (doc.packetErrorByte() != doc.errorFlag()) {
        doc.setErrorFlag(doc.packetErrorByte());
        doc.listener().onErrorFlagChanged(doc.errorFlag());
    }
}

// Text placement of the block builder.
void putRightmost(const std::string& text, std::uint8_t* field, std::size_t width) {
    const std::size_t n = std::min(width, text.size());
    std::copy(text.end() - static_cast<std::ptrdiff_t>(n), text.end(), field);
}

void putLeading(const std::string& text, std::uint8_t* field, std::size_t width) {
    const std::size_t n = std::min(width, text.size());
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), field);
}

}  // namespace

int decodeWavePacket(CHalnor55KUDoc& doc) {
    const std::uint8_t* packet = doc.waveArea();
    const int count = packet[1] & 0x0F;
    const std::uint16_t indexWord = readWord(packet + 2);
    const bool restart = indexWord == kRestartMark;
    const int index = indexWord & 0x7FFF;

    if (doc.waitForStart() && index != 0) return kWaveRefused;
    // An index beyond the rings has no place to go; it is dropped like a packet
    // that came before the start of the sweep.
    if (index >= static_cast<int>(kRingSize)) return kWaveRefused;

    doc.setBatchStartIndex(index);
    doc.setLiveHeartRate(readSigned(packet + 4));
    doc.setPacketErrorByte(packet[6]);
    doc.setWaitForStart(false);
    doc.setBatchCount(count);
    const int sensorLevel = packet[7] & 0x0F;
    doc.setWritePosition(index);

    int result = kWaveStored;
    int p = index;
    for (int k = 0; k < count; ++k) {
        // A count of 15 reads 4 bytes past a 64-byte record; they lie inside the
        // 100-byte area, cleared by the receiver before it copied the record.
        storePair(doc, packet + 8 + 4 * k, p);
        if (p == 0) {
            result = kWaveStoredAtZero;
            if (restart) restartSweep(doc);
        }
        countHeartRateSample(doc);
        p = (p + 1) % static_cast<int>(kRingSize);
        doc.setWritePosition(p);
        followHeader(doc, sensorLevel);
    }
    return result;
}

MeasurementResult parseResultRecord(std::span<const std::uint8_t, kResultAreaSize> area) {
    const std::uint8_t* r = area.data();
    MeasurementResult result;
    result.dateTime = fieldText(r + kDateTimeOffset, kDateTimeLength);
    result.sbp = readSigned(r + 0);
    result.mbp = readSigned(r + 2);
    result.dbp = readSigned(r + 4);
    result.hr = readSigned(r + 6);
    result.firstMarker = readSigned(r + 8);
    result.secondMarker = readSigned(r + 10);
    result.resultWord6 = readSigned(r + 12);
    result.resultByte15 = r[15];
    result.resultByte16 = r[16];
    result.resultByte18 = r[18];
    result.resultByte20 = r[20];
    result.measurementNumber = readSigned(r + 22);
    result.errorCode = static_cast<std::int8_t>(r[25]);
    for (std::size_t i = 0; i < result.pulseMarks.size(); ++i)
        result.pulseMarks[i] = readSigned(r + kPulseMarkOffset + 2 * i);
    return result;
}

void decodeResultRecord(CHalnor55KUDoc& doc) {
    doc.replaceResult(
        parseResultRecord(std::span<const std::uint8_t, kResultAreaSize>(doc.resultArea(), kResultAreaSize)));
    doc.freezeRings();
}

AnimalTexts parseAnimalBlock(std::span<const std::uint8_t, 64> block, bool longId) {
    const std::size_t width = animalNumberWidth(longId);
    const std::uint8_t* b = block.data();
    AnimalTexts texts;
    texts.animalNo = fieldText(b + 1, width);
    texts.studyNo = fieldText(b + 1 + width, width);
    texts.weight = fieldText(b + 2 * width + 1, kTextFieldWidth);
    texts.sexAge = fieldText(b + 2 * width + 9, kTextFieldWidth);

    const std::size_t offset = commentOffset(width);
    const std::size_t length = std::min(kAnimalBlockSize - offset, kCommentMax);
    std::array<std::uint8_t, 36> comment{};
    std::copy(b + offset, b + offset + length, comment.begin());
    if (offset + length == kAnimalBlockSize) {
        // The comment runs to the end of the block: its 32nd character sits in
        // the top bits of the last eight bytes, highest bit first.
        for (std::size_t i = 0; i < 8; ++i) {
            comment[kSpreadChar] |= static_cast<std::uint8_t>((comment[kSpreadFirstChar + i] & 0x80) >> i);
            comment[kSpreadFirstChar + i] &= 0x7F;
        }
        comment[kSpreadChar] &= 0x7F;
    }
    texts.comment = fieldText(comment.data(), kCommentMax);
    return texts;
}

void fillAnimalBlock(const AnimalTexts& texts, bool longId, std::span<std::uint8_t, 64> block) {
    std::uint8_t* b = block.data();
    std::fill(b + 1, b + kAnimalBlockSize, std::uint8_t{0});
    const std::size_t width = animalNumberWidth(longId);
    putRightmost(texts.animalNo, b + 1, width);
    putRightmost(texts.studyNo, b + 1 + width, width);
    putLeading(texts.weight, b + 2 * width + 1, kTextFieldWidth);
    putLeading(texts.sexAge, b + 2 * width + 9, kTextFieldWidth);

    const std::size_t offset = commentOffset(width);
    if (!longId) {
        putLeading(texts.comment, b + offset, kCommentMax);
        return;
    }
    putLeading(texts.comment, b + offset, kCommentMax - 1);
    if (texts.comment.size() < kCommentMax) return;
    const auto last = static_cast<std::uint8_t>(texts.comment[kSpreadChar]);
    for (std::size_t i = 0; i < 8; ++i)
        b[kSpreadFirstByte + i] |= static_cast<std::uint8_t>(((last >> (7 - i)) & 1) << 7);
}

void decodeAnimalBlock(CHalnor55KUDoc& doc) {
    const std::span<const std::uint8_t, 64> block(doc.animalArea(), kAnimalBlockSize);
    doc.setAnimalTexts(parseAnimalBlock(block, doc.app().isLongId()));
    doc.setAnimalBlockReceived();
}

std::span<const std::uint8_t, 64> buildAnimalBlock(CHalnor55KUDoc& doc) {
    std::uint8_t* area = doc.animalArea();
    std::fill(area + 1, area + kAnimalAreaSize, std::uint8_t{0});
    // The unit always sends its own block first; a block built without one
    // still needs the animal-information type byte.
    if (!doc.animalBlockReceived()) area[0] = kRecordAnimalInfo;
    fillAnimalBlock(doc.animalTexts(), doc.app().isLongId(),
                    std::span<std::uint8_t, 64>(area, kAnimalBlockSize));
    return std::span<const std::uint8_t, 64>(area, kAnimalBlockSize);
}

std::string versionRecordText(const std::uint8_t* record, std::size_t length) {
    length = std::min(length, kMaxRecordSize);
    if (record == nullptr || length < 2) return {};
    return fieldText(record + 1, length - 1);
}

void applyDeviceVersion(CHalnor55KUDoc& doc, const std::string& text) {
    doc.app().setDeviceVersionText(text);
    doc.setVersionMark(1);
    writeLogLinef('N', 'P', "Read dev_ver:%s", text.c_str());
}

}  // namespace hx
