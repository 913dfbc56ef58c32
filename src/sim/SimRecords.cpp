#include "sim/SimRecords.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

// Built from the table in docs/protocol.md, not from the program's decoding,
// so a mistake on one side shows up in the tests instead of cancelling out.

namespace hx {

namespace {

void putBigEndian(std::uint8_t* at, int value) {
    const auto v = static_cast<std::uint16_t>(value);
    at[0] = static_cast<std::uint8_t>(v >> 8);
    at[1] = static_cast<std::uint8_t>(v & 0xFF);
}

std::uint8_t toBcd(int value) { return static_cast<std::uint8_t>(((value / 10) % 10) << 4 | (value % 10)); }

// Copies at most width characters (7-bit only) of text into the block.
void putText(std::uint8_t* at, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width && i < text.size(); ++i)
        at[i] = static_cast<std::uint8_t>(text[i]) & 0x7F;
}

std::string lastChars(const std::string& text, std::size_t n) {
    return text.size() <= n ? text : text.substr(text.size() - n);
}

std::string readText(const std::uint8_t* block, std::size_t length, std::size_t from, std::size_t width) {
    std::string out;
    for (std::size_t i = from; i < from + width && i < length; ++i) {
        if (block[i] == 0) break;
        out.push_back(static_cast<char>(block[i]));
    }
    return out;
}

}  // namespace

SimMenu defaultSimMenu() {
    // PRESS index 8 (180 mmHg), SENSE 2, AUTO-S off, AUTO-P, DBP, USB, PRINT,
    // SOUND on, SPEED "1", TYPE DOG, word 10 zero, TIME off.
    return SimMenu{8, 2, 0, 1, 1, 1, 1, 1, 0, 1, 0, 0};
}

Record buildWavePacket(std::uint16_t indexWord, int liveHr, std::uint8_t errorFlag, std::uint8_t sensorLevel,
                       const WaveSample* samples, std::size_t count) {
    count = std::min<std::size_t>(count, kMaxPairsPerPacket);
    Record r(kRecordSize, 0);
    r[0] = 4;
    r[1] = static_cast<std::uint8_t>(count);
    putBigEndian(&r[2], indexWord);
    putBigEndian(&r[4], liveHr);
    r[6] = errorFlag;
    r[7] = sensorLevel & 0x0F;
    for (std::size_t k = 0; k < count; ++k) {
        putBigEndian(&r[8 + 4 * k], samples[k].pressureHalf & 0x0FFF);
        putBigEndian(&r[10 + 4 * k], samples[k].wave & 0x0FFF);
    }
    return r;
}

std::array<std::uint8_t, kResultRecordSize> buildResultRecord(const ResultFields& f) {
    std::array<std::uint8_t, kResultRecordSize> r{};
    putBigEndian(&r[0], f.sbpHalf);
    putBigEndian(&r[2], f.mbpHalf);
    putBigEndian(&r[4], f.dbpHalf);
    putBigEndian(&r[6], f.hr);
    putBigEndian(&r[8], f.firstMarker);
    putBigEndian(&r[10], f.secondMarker);
    putBigEndian(&r[12], f.resultWord6);
    r[15] = f.byte15;
    putBigEndian(&r[22], f.measurementNumber);
    r[25] = static_cast<std::uint8_t>(f.errorCode);
    for (std::size_t i = 0; i < 12 && i < f.dateTime.size(); ++i)
        r[26 + i] = static_cast<std::uint8_t>(f.dateTime[i]);
    std::size_t k = 0;
    for (int mark : f.pulseMarks) {
        if (k >= kMaxPulseMarks || mark == 0) break;  // the list ends at the first 0
        putBigEndian(&r[62 + 2 * k], mark);
        ++k;
    }
    return r;
}

std::array<Record, 3> splitResultRecord(const std::array<std::uint8_t, kResultRecordSize>& record) {
    static constexpr std::uint8_t kTypes[3] = {2, 3, 5};
    std::array<Record, 3> out;
    for (int i = 0; i < 3; ++i) {
        Record r(kRecordSize, 0);
        r[0] = kTypes[i];
        std::memcpy(&r[2], &record[static_cast<std::size_t>(i) * kResultPieceSize], kResultPieceSize);
        out[static_cast<std::size_t>(i)] = std::move(r);
    }
    return out;
}

bool isLongIdVersion(const std::string& versionText) {
    if (versionText.empty()) return false;
    const char last = versionText.back();
    return last >= '2' && last <= '8';
}

std::array<std::uint8_t, kRecordSize> encodeAnimalBlock(const SimAnimalInfo& info, bool longId,
                                                        std::uint8_t typeByte) {
    const std::size_t L = longId ? 8 : 3;
    std::array<std::uint8_t, kRecordSize> b{};
    b[0] = typeByte;
    putText(&b[1], lastChars(info.animalNumber, L), L);
    putText(&b[L + 1], lastChars(info.studyNumber, L), L);
    putText(&b[2 * L + 1], info.weight, 8);
    putText(&b[2 * L + 9], info.sexAge, 8);
    const std::size_t commentAt = 2 * L + 17;
    if (!longId) {
        putText(&b[commentAt], info.comment, 32);
    } else {
        putText(&b[commentAt], info.comment, 31);
        if (info.comment.size() > 31) {
            // The 32nd character has no byte of its own: bit 7 of bytes 56..63
            // carry its bits 7..0.
            const auto c = static_cast<std::uint8_t>(info.comment[31]) & 0x7F;
            for (int i = 0; i < 8; ++i) {
                if (c & (0x80 >> i)) b[56 + static_cast<std::size_t>(i)] |= 0x80;
            }
        }
    }
    return b;
}

SimAnimalInfo decodeAnimalBlock(const std::uint8_t* block, std::size_t length, bool longId) {
    std::array<std::uint8_t, kRecordSize> b{};
    std::memcpy(b.data(), block, std::min(length, kRecordSize));
    const std::size_t L = longId ? 8 : 3;
    const std::size_t commentAt = 2 * L + 17;
    char last = 0;
    if (longId) {
        for (int i = 0; i < 8; ++i) {
            std::uint8_t& byte = b[56 + static_cast<std::size_t>(i)];
            if (byte & 0x80) last = static_cast<char>(last | (0x80 >> i));
            byte &= 0x7F;
        }
        last = static_cast<char>(last & 0x7F);
    }
    SimAnimalInfo info;
    info.animalNumber = readText(b.data(), kRecordSize, 1, L);
    info.studyNumber = readText(b.data(), kRecordSize, L + 1, L);
    info.weight = readText(b.data(), kRecordSize, 2 * L + 1, 8);
    info.sexAge = readText(b.data(), kRecordSize, 2 * L + 9, 8);
    info.comment =
        readText(b.data(), kRecordSize, commentAt, std::min<std::size_t>(kRecordSize - commentAt, 32));
    if (longId && info.comment.size() == 31 && last != 0) info.comment.push_back(last);
    return info;
}

std::array<std::uint8_t, 8> encodeMenuFrame(const SimMenu& m) {
    std::array<std::uint8_t, 8> f{};
    f[0] = static_cast<std::uint8_t>(m[MenuSettings::kPress]);
    f[1] = static_cast<std::uint8_t>(m[MenuSettings::kSense]);
    f[2] = static_cast<std::uint8_t>(m[MenuSettings::kAutoS]);
    f[3] =
        static_cast<std::uint8_t>((m[MenuSettings::kAutoP] ? 0x01 : 0) | (m[MenuSettings::kDbp] ? 0x02 : 0) |
                                  (m[MenuSettings::kUsb] ? 0x04 : 0) | (m[MenuSettings::kPrint] ? 0x08 : 0) |
                                  (m[MenuSettings::kSound] ? 0x10 : 0) | (m[MenuSettings::kTime] ? 0x20 : 0));
    f[4] = static_cast<std::uint8_t>(m[MenuSettings::kSpeed]);
    f[5] = static_cast<std::uint8_t>(m[MenuSettings::kType]);
    f[6] = static_cast<std::uint8_t>(m[MenuSettings::kWord10]);
    return f;
}

SimMenu decodeMenuFrame(const std::uint8_t* f) {
    auto clampWord = [](std::uint8_t v, int hi) { return static_cast<std::int16_t>(std::min<int>(v, hi)); };
    SimMenu m{};
    m[MenuSettings::kPress] = clampWord(f[0], 25);
    m[MenuSettings::kSense] = clampWord(f[1], 7);
    m[MenuSettings::kAutoS] = clampWord(f[2], 10);
    m[MenuSettings::kAutoP] = (f[3] & 0x01) ? 1 : 0;
    m[MenuSettings::kDbp] = (f[3] & 0x02) ? 1 : 0;
    m[MenuSettings::kUsb] = (f[3] & 0x04) ? 1 : 0;
    m[MenuSettings::kPrint] = (f[3] & 0x08) ? 1 : 0;
    m[MenuSettings::kSound] = (f[3] & 0x10) ? 1 : 0;
    m[MenuSettings::kTime] = (f[3] & 0x20) ? 1 : 0;
    m[MenuSettings::kSpeed] = clampWord(f[4], 2);
    m[MenuSettings::kType] = clampWord(f[5], 2);
    m[MenuSettings::kWord10] = f[6];
    return m;
}

std::array<std::uint8_t, 8> encodeBcdTime(std::time_t unitTime) {
    std::tm tm{};
    gmtime_r(&unitTime, &tm);
    std::array<std::uint8_t, 8> r{};
    r[0] = toBcd(tm.tm_sec);
    r[1] = toBcd(tm.tm_min);
    r[2] = toBcd(tm.tm_hour);
    r[3] = toBcd(tm.tm_wday + 1);
    r[4] = toBcd(tm.tm_mday);
    r[5] = toBcd(tm.tm_mon + 1);
    r[6] = toBcd((tm.tm_year + 1900 - 2000 + 100) % 100);
    return r;
}

std::optional<std::time_t> decodeClockFrame(const std::uint8_t* f) {
    const int year = f[0], month = f[1], day = f[2], hour = f[4], minute = f[5], second = f[6];
    if (year > 99 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 59) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = 2000 + year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return timegm(&tm);
}

std::string dateTimeText(std::time_t unitTime) {
    std::tm tm{};
    gmtime_r(&unitTime, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02d", (tm.tm_year + 1900) % 100, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

}  // namespace hx
