// Decoding of the unit's records into the document: wave packets, results,
// animal blocks (both forms, both directions) and version records.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "protocol/RecordDecoding.h"
#include "support/DocumentFixture.h"

namespace hx {
namespace {

using test::DocumentFixture;

// ---- wave packets ------------------------------------------------------------

struct Pair {
    std::uint16_t pressure;
    std::uint16_t wave;
};

struct Packet {
    std::uint16_t indexWord = 0;
    std::vector<Pair> pairs;
    std::int16_t heartRate = 0;
    std::uint8_t errorByte = 0;
    std::uint8_t sensorByte = 0;
    std::uint8_t countByteHigh = 0;  // ignored high bits of byte 1
};

class WaveDecoding : public DocumentFixture {
  protected:
    // Places the packet in the wave area the way the receiver thread does:
    // the first 64 bytes cleared, then the record as read.
    int decode(const Packet& packet) {
        std::uint8_t* area = doc->waveArea();
        std::fill(area, area + 64, std::uint8_t{0});
        area[0] = 0x04;
        area[1] = static_cast<std::uint8_t>(packet.countByteHigh | (packet.pairs.size() & 0x0F));
        area[2] = static_cast<std::uint8_t>(packet.indexWord >> 8);
        area[3] = static_cast<std::uint8_t>(packet.indexWord);
        area[4] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(packet.heartRate) >> 8);
        area[5] = static_cast<std::uint8_t>(packet.heartRate);
        area[6] = packet.errorByte;
        area[7] = packet.sensorByte;
        for (std::size_t k = 0; k < packet.pairs.size(); ++k) {
            std::uint8_t* pair = area + 8 + 4 * k;
            pair[0] = static_cast<std::uint8_t>(packet.pairs[k].pressure >> 8);
            pair[1] = static_cast<std::uint8_t>(packet.pairs[k].pressure);
            pair[2] = static_cast<std::uint8_t>(packet.pairs[k].wave >> 8);
            pair[3] = static_cast<std::uint8_t>(packet.pairs[k].wave);
        }
        return decodeWavePacket(*doc);
    }

    static Packet packetAt(std::uint16_t indexWord, std::size_t count, std::uint16_t value = 100) {
        Packet p;
        p.indexWord = indexWord;
        for (std::size_t k = 0; k < count; ++k)
            p.pairs.push_back(
                {static_cast<std::uint16_t>(value + k), static_cast<std::uint16_t>(value + k + 1000)});
        return p;
    }

    void fillRings(std::int16_t value) {
        doc->pressureRing().fill(value);
        doc->waveRing().fill(value);
    }
};

TEST_F(WaveDecoding, RestartPacketClearsTheOldSweepBehindItsFirstSample) {
    fillRings(7);
    doc->setMeasurementPhase(CHalnor55KUDoc::kPhaseStarted);
    EXPECT_EQ(decode(packetAt(0x8000, 3)), kWaveStoredAtZero);
    EXPECT_EQ(doc->pressureRing()[0], 100);
    EXPECT_EQ(doc->pressureRing()[1], 101);
    EXPECT_EQ(doc->pressureRing()[2], 102);
    EXPECT_EQ(doc->waveRing()[0], 1100);
    EXPECT_EQ(doc->waveRing()[2], 1102);
    EXPECT_EQ(std::count(doc->pressureRing().begin() + 3, doc->pressureRing().end(), 0), 3997);
    EXPECT_EQ(std::count(doc->waveRing().begin() + 3, doc->waveRing().end(), 0), 3997);
    EXPECT_EQ(doc->measurementPhase(), CHalnor55KUDoc::kPhaseSweep);
    EXPECT_EQ(listener.sweepRestarts, 1);
    EXPECT_EQ(doc->writePosition(), 3);
}

TEST_F(WaveDecoding, PacketAtIndexZeroWithoutRestartMarkClearsNothing) {
    fillRings(7);
    EXPECT_EQ(decode(packetAt(0x0000, 2)), kWaveStoredAtZero);
    EXPECT_EQ(doc->pressureRing()[0], 100);
    EXPECT_EQ(doc->pressureRing()[2], 7);
    EXPECT_EQ(doc->waveRing()[3999], 7);
    EXPECT_EQ(doc->measurementPhase(), CHalnor55KUDoc::kPhaseNothingStarted);
    EXPECT_EQ(listener.sweepRestarts, 0);
}

TEST_F(WaveDecoding, PacketLandsWhereItsIndexSaysAndWrapsAtTheRingEnd) {
    EXPECT_EQ(decode(packetAt(100, 2)), kWaveStored);
    EXPECT_EQ(doc->pressureRing()[100], 100);
    EXPECT_EQ(doc->pressureRing()[101], 101);
    EXPECT_EQ(doc->batchStartIndex(), 100);
    EXPECT_EQ(doc->batchCount(), 2);
    EXPECT_EQ(doc->writePosition(), 102);
    EXPECT_EQ(doc->cuffPressure(), 101);

    // The unit decides the place: a packet elsewhere moves the write position.
    EXPECT_EQ(decode(packetAt(3998, 4)), kWaveStoredAtZero);
    EXPECT_EQ(doc->pressureRing()[3998], 100);
    EXPECT_EQ(doc->pressureRing()[3999], 101);
    EXPECT_EQ(doc->pressureRing()[0], 102);
    EXPECT_EQ(doc->pressureRing()[1], 103);
    EXPECT_EQ(doc->writePosition(), 2);
    EXPECT_EQ(doc->batchStartIndex(), 3998);
}

TEST_F(WaveDecoding, SamplesKeepOnlyTheirLowTwelveBitsSignExtended) {
    Packet p;
    p.indexWord = 10;
    p.pairs = {{0x0800, 0x07FF}, {0x07FF, 0x0800}, {0xF7FF, 0x1FFF}, {0x1FFF, 0xF7FF}, {0xFFFF, 0x0000}};
    decode(p);
    const Ring& pressure = doc->pressureRing();
    const Ring& wave = doc->waveRing();
    EXPECT_EQ(pressure[10], -2048);
    EXPECT_EQ(wave[10], 2047);
    EXPECT_EQ(pressure[11], 2047);
    EXPECT_EQ(wave[11], -2048);
    EXPECT_EQ(pressure[12], 2047);
    EXPECT_EQ(wave[12], -1);
    EXPECT_EQ(pressure[13], -1);
    EXPECT_EQ(wave[13], 2047);
    EXPECT_EQ(pressure[14], -1);
    EXPECT_EQ(wave[14], 0);
    EXPECT_EQ(doc->cuffPressure(), -1);
    EXPECT_EQ(doc->cuffPressureForDisplay(), -1);
}

TEST_F(WaveDecoding, WaitForStartRefusesEverythingButIndexZero) {
    fillRings(7);
    doc->setWritePosition(500);
    doc->setWaitForStart(true);
    Packet early = packetAt(5, 3);
    early.heartRate = 300;
    early.sensorByte = 9;
    EXPECT_EQ(decode(early), kWaveRefused);
    EXPECT_TRUE(doc->waitForStart());
    EXPECT_EQ(doc->writePosition(), 500);
    EXPECT_EQ(doc->pressureRing()[5], 7);
    EXPECT_EQ(doc->liveHeartRate(), 0);
    EXPECT_EQ(doc->sensorLevel(), 0);
    EXPECT_TRUE(listener.sensorLevels.empty());

    EXPECT_EQ(decode(packetAt(0x8000, 1)), kWaveStoredAtZero);
    EXPECT_FALSE(doc->waitForStart());
    EXPECT_EQ(decode(packetAt(1, 1)), kWaveStored);
}

TEST_F(WaveDecoding, IndexBeyondTheRingsIsRefusedAndStoresNothing) {
    fillRings(7);
    doc->setWritePosition(321);
    for (std::uint16_t indexWord : {4000, 0x7FFF, 0x8FA0, 0xFFFF}) {
        Packet p = packetAt(indexWord, 14);
        p.heartRate = 250;
        p.errorByte = 1;
        EXPECT_EQ(decode(p), kWaveRefused) << indexWord;
    }
    EXPECT_EQ(doc->writePosition(), 321);
    EXPECT_EQ(std::count(doc->pressureRing().begin(), doc->pressureRing().end(), 7), 4000);
    EXPECT_EQ(doc->liveHeartRate(), 0);
    EXPECT_EQ(doc->errorFlag(), 0);
    EXPECT_TRUE(listener.errorFlags.empty());
    EXPECT_EQ(decode(packetAt(3999, 1)), kWaveStored);
    EXPECT_EQ(doc->writePosition(), 0);
}

TEST_F(WaveDecoding, LiveHeartRateIsSentOnEveryThirtyFirstSample) {
    Packet a = packetAt(0, 14);
    a.heartRate = 380;
    decode(a);
    Packet b = packetAt(14, 14);
    b.heartRate = 381;
    decode(b);
    EXPECT_TRUE(listener.heartRates.empty());
    EXPECT_EQ(doc->heartRateCounter(), 28);
    Packet c = packetAt(28, 3);
    c.heartRate = -2;  // a signed value
    decode(c);
    ASSERT_EQ(listener.heartRates.size(), 1u);
    EXPECT_EQ(listener.heartRates[0], -2);
    EXPECT_EQ(doc->heartRateCounter(), 0);

    // The count runs across packets and starts again from 0.
    for (int i = 0; i < 2; ++i) decode(packetAt(static_cast<std::uint16_t>(31 + 14 * i), 14));
    EXPECT_EQ(listener.heartRates.size(), 1u);
    decode(packetAt(59, 3));
    EXPECT_EQ(listener.heartRates.size(), 2u);
}

TEST_F(WaveDecoding, EmptyPacketMovesTheWritePositionAndStoresHeaderValuesOnly) {
    fillRings(7);
    Packet p = packetAt(1234, 0);
    p.heartRate = 410;
    EXPECT_EQ(decode(p), kWaveStored);
    EXPECT_EQ(doc->writePosition(), 1234);
    EXPECT_EQ(doc->liveHeartRate(), 410);
    EXPECT_EQ(doc->batchCount(), 0);
    EXPECT_EQ(std::count(doc->pressureRing().begin(), doc->pressureRing().end(), 7), 4000);
    EXPECT_EQ(doc->heartRateCounter(), 0);

    // Even at index 0 with the restart mark nothing lands at 0.
    EXPECT_EQ(decode(packetAt(0x8000, 0)), kWaveStored);
    EXPECT_EQ(listener.sweepRestarts, 0);
    EXPECT_EQ(doc->pressureRing()[1], 7);
}

TEST_F(WaveDecoding, CountOfFifteenReadsPastTheRecordInsideTheArea) {
    Packet p = packetAt(200, 14);
    p.countByteHigh = 0xF0;  // high bits of the count byte are ignored
    decode(p);
    EXPECT_EQ(doc->batchCount(), 14);

    // Fifteen pairs: the last one lies in bytes 64 to 67 of the area, past the
    // end of a 64-byte record but inside the area.
    decode(packetAt(300, 15, 10));
    EXPECT_EQ(doc->batchCount(), 15);
    EXPECT_EQ(doc->pressureRing()[313], 23);
    EXPECT_EQ(doc->pressureRing()[314], 24);
    EXPECT_EQ(doc->writePosition(), 315);
}

TEST_F(WaveDecoding, SensorLevelAndErrorFlagAreReportedWhenTheyChange) {
    Packet p = packetAt(0, 2);
    p.sensorByte = 0xA5;  // only the low 4 bits are the level
    p.errorByte = 3;
    decode(p);
    EXPECT_EQ(doc->sensorLevel(), 5);
    EXPECT_EQ(listener.sensorLevels, std::vector<int>{5});
    EXPECT_EQ(doc->errorFlag(), 3);
    EXPECT_EQ(listener.errorFlags, std::vector<int>{3});

    p.indexWord = 2;
    decode(p);  // unchanged: nothing new
    EXPECT_EQ(listener.sensorLevels.size(), 1u);
    EXPECT_EQ(listener.errorFlags.size(), 1u);

    p.indexWord = 4;
    p.sensorByte = 0x05;
    p.errorByte = 0;
    decode(p);
    EXPECT_EQ(listener.sensorLevels.size(), 1u);
    EXPECT_EQ(listener.errorFlags, (std::vector<int>{3, 0}));
}

// ---- results -------------------------------------------------------------------

class ResultDecoding : public DocumentFixture {
  protected:
    // A result record as the unit assembles it (186 bytes).
    static std::array<std::uint8_t, 186> sampleRecord() {
        std::array<std::uint8_t, 186> r{};
        auto put = [&r](std::size_t at, std::uint16_t v) {
            r[at] = static_cast<std::uint8_t>(v >> 8);
            r[at + 1] = static_cast<std::uint8_t>(v);
        };
        put(0, 241);   // SBP
        put(2, 190);   // MBP
        put(4, 161);   // DBP
        put(6, 380);   // HR
        put(8, 1200);  // first marker
        put(10, 2600);
        put(12, 0xFFFE);  // word 6
        r[15] = 0x21;
        r[16] = 0x16;
        r[18] = 0x18;
        r[20] = 0x20;
        put(22, 41);
        r[25] = 0x10;
        std::memcpy(&r[26], "120315093045", 12);
        put(62, 1100);
        put(64, 1180);
        put(62 + 2 * 49, 3999);  // the 50th mark
        return r;
    }

    // Copies the record in three pieces into the result area, as the receiver
    // thread does with the records of types 2, 3 and 5.
    void deliver(const std::array<std::uint8_t, 186>& record) {
        for (int piece = 0; piece < 3; ++piece) {
            std::array<std::uint8_t, 64> frame{};
            frame[0] = static_cast<std::uint8_t>(kRecordResultFirst + (piece == 2 ? 3 : piece));
            std::copy_n(record.begin() + 62 * piece, 62, frame.begin() + 2);
            std::copy_n(frame.begin() + 2, kResultPieceSize, doc->resultArea() + kResultPieceOffset[piece]);
        }
        decodeResultRecord(*doc);
    }
};

TEST_F(ResultDecoding, FieldsComeFromTheirBytePositions) {
    deliver(sampleRecord());
    const MeasurementResult& r = doc->result();
    EXPECT_EQ(r.sbp, 241);
    EXPECT_EQ(r.mbp, 190);
    EXPECT_EQ(r.dbp, 161);
    EXPECT_EQ(r.hr, 380);
    EXPECT_EQ(r.firstMarker, 1200);
    EXPECT_EQ(r.secondMarker, 2600);
    EXPECT_EQ(r.resultWord6, -2);
    EXPECT_EQ(r.resultByte15, 0x21);
    EXPECT_EQ(r.resultByte16, 0x16);
    EXPECT_EQ(r.resultByte18, 0x18);
    EXPECT_EQ(r.resultByte20, 0x20);
    EXPECT_EQ(r.measurementNumber, 41);
    EXPECT_EQ(r.errorCode, 16);
    EXPECT_EQ(r.dateTime, "120315093045");
    EXPECT_EQ(r.pulseMarks[0], 1100);
    EXPECT_EQ(r.pulseMarks[1], 1180);
    EXPECT_EQ(r.pulseMarks[2], 0);
    EXPECT_EQ(r.pulseMarks[49], 3999);
    EXPECT_EQ(doc->formattedDateTime(), "12/03/15 09:30:45");
    EXPECT_EQ(doc->sbpForDisplay(), 121);
}

TEST_F(ResultDecoding, ErrorCodesFromByte0x80AreNegative) {
    auto record = sampleRecord();
    for (auto [byte, code] :
         {std::pair{0x80, -128}, std::pair{0xFF, -1}, std::pair{0x05, 5}, std::pair{0x00, 0}}) {
        record[25] = static_cast<std::uint8_t>(byte);
        deliver(record);
        EXPECT_EQ(doc->result().errorCode, code) << byte;
    }
}

TEST_F(ResultDecoding, ResultIsReplacedWholeAndAShortDateTimeShowsEmpty) {
    deliver(sampleRecord());
    std::array<std::uint8_t, 186> bare{};
    bare[15] = 1;
    std::memcpy(&bare[26], "12031509", 8);  // the rest of the text is 0
    deliver(bare);
    EXPECT_EQ(doc->result().sbp, 0);
    EXPECT_EQ(doc->result().pulseMarks[49], 0);
    EXPECT_EQ(doc->result().dateTime, "12031509");
    EXPECT_EQ(doc->formattedDateTime(), "");
}

TEST_F(ResultDecoding, DecodingFreezesTheRings) {
    doc->pressureRing().fill(50);
    doc->waveRing().fill(-50);
    doc->setWritePosition(1000);
    deliver(sampleRecord());
    EXPECT_EQ(doc->resultPressureRing()[999], 50);
    EXPECT_EQ(doc->resultPressureRing()[1000], 0);
    EXPECT_EQ(doc->resultWaveRing()[999], -50);
    EXPECT_EQ(doc->resultWaveRing()[3999], 0);
    EXPECT_EQ(doc->pressureRing()[1000], 0);
}

// ---- animal blocks ----------------------------------------------------------------

class AnimalBlocks : public DocumentFixture {
  protected:
    void useLongIdForm() { app.setDeviceVersionText("HX40K V1.02"); }
    void useShortForm() { app.setDeviceVersionText("HX40K V1.01"); }

    std::array<std::uint8_t, 64> build(const AnimalTexts& texts) {
        doc->setAnimalTexts(texts);
        const auto block = buildAnimalBlock(*doc);
        std::array<std::uint8_t, 64> copy{};
        std::copy(block.begin(), block.end(), copy.begin());
        return copy;
    }

    AnimalTexts receive(const std::array<std::uint8_t, 64>& block) {
        std::copy(block.begin(), block.end(), doc->animalArea());
        decodeAnimalBlock(*doc);
        return doc->animalTexts();
    }

    static std::string text(const std::array<std::uint8_t, 64>& b, std::size_t from, std::size_t n) {
        return std::string(b.begin() + static_cast<std::ptrdiff_t>(from),
                           b.begin() + static_cast<std::ptrdiff_t>(from + n));
    }

    static AnimalTexts sampleTexts() {
        AnimalTexts t;
        t.animalNo = "ABCDEFGHIJ";
        t.studyNo = "ST12";
        t.weight = "0123456789";
        t.sexAge = "F 12w";
        t.comment = "a comment of forty characters, or about";
        return t;
    }
};

TEST_F(AnimalBlocks, ShortFormKeepsThreeCharacterNumbersAndA32CharacterComment) {
    EXPECT_EQ(app.deviceVersionText(), "-----");  // no version yet: short form
    const auto block = build(sampleTexts());
    EXPECT_EQ(text(block, 1, 3), "HIJ");
    EXPECT_EQ(text(block, 4, 3), "T12");
    EXPECT_EQ(text(block, 7, 8), "01234567");
    EXPECT_EQ(text(block, 15, 8), std::string("F 12w\0\0\0", 8));
    EXPECT_EQ(text(block, 23, 32), "a comment of forty characters, o");
    EXPECT_EQ(std::count(block.begin() + 55, block.end(), 0), 9);

    const AnimalTexts back = receive(block);
    EXPECT_EQ(back.animalNo, "HIJ");
    EXPECT_EQ(back.studyNo, "T12");
    EXPECT_EQ(back.weight, "01234567");
    EXPECT_EQ(back.sexAge, "F 12w");
    EXPECT_EQ(back.comment, "a comment of forty characters, o");
}

TEST_F(AnimalBlocks, LongIdFormKeepsEightCharacterNumbers) {
    useLongIdForm();
    AnimalTexts t = sampleTexts();
    t.comment = "short";
    const auto block = build(t);
    EXPECT_EQ(text(block, 1, 8), "CDEFGHIJ");
    EXPECT_EQ(text(block, 9, 4), "ST12");
    EXPECT_EQ(block[13], 0);
    EXPECT_EQ(text(block, 17, 8), "01234567");
    EXPECT_EQ(text(block, 25, 5), "F 12w");
    EXPECT_EQ(text(block, 33, 5), "short");
    EXPECT_EQ(std::count(block.begin() + 38, block.end(), 0), 26);

    const AnimalTexts back = receive(block);
    EXPECT_EQ(back.animalNo, "CDEFGHIJ");
    EXPECT_EQ(back.studyNo, "ST12");
    EXPECT_EQ(back.comment, "short");
}

TEST_F(AnimalBlocks, ThirtySecondCommentCharacterIsSpreadOverTheTopBits) {
    useLongIdForm();
    AnimalTexts t;
    t.comment = "0123456789012345678901234567890Z";  // 32 characters, Z = 0x5A
    const auto block = build(t);
    for (std::size_t i = 56; i < 64; ++i) {
        const bool set = i == 57 || i == 59 || i == 60 || i == 62;
        EXPECT_EQ((block[i] & 0x80) != 0, set) << i;
        EXPECT_EQ(block[i] & 0x7F, t.comment[i - 33]) << i;
    }
    EXPECT_EQ(receive(block).comment, t.comment);

    t.comment = "0123456789012345678901234567890";  // 31 characters: nothing spread
    const auto plain = build(t);
    EXPECT_TRUE(std::none_of(plain.begin() + 56, plain.end(), [](std::uint8_t b) { return b & 0x80; }));
    EXPECT_EQ(receive(plain).comment, t.comment);

    t.comment = "0123456789012345678901234567890Z and more";  // cut to 32
    EXPECT_EQ(receive(build(t)).comment, "0123456789012345678901234567890Z");
}

TEST_F(AnimalBlocks, ReceivedTopBitsOfTheLastEightCommentCharactersAreCleared) {
    useLongIdForm();
    std::array<std::uint8_t, 64> block{};
    block[0] = 0x06;
    std::fill(block.begin() + 33, block.end(), std::uint8_t{'x'});
    for (std::size_t i = 56; i < 64; ++i) block[i] |= 0x80;  // 32nd character 0xFF
    const AnimalTexts t = receive(block);
    ASSERT_EQ(t.comment.size(), 32u);
    EXPECT_EQ(t.comment.substr(0, 31), std::string(31, 'x'));
    EXPECT_EQ(t.comment[31], '\x7F');  // its bit 7 does not survive
}

TEST_F(AnimalBlocks, FormFollowsTheLastCharacterOfTheDeviceVersion) {
    AnimalTexts t;
    t.animalNo = "1234567890";
    for (auto [version, expected] : {std::pair{"V2", "34567890"}, std::pair{"V8", "34567890"},
                                     std::pair{"V9", "890"}, std::pair{"V0", "890"}, std::pair{"V1", "890"},
                                     std::pair{"V1.0a", "890"}, std::pair{"-----", "890"}}) {
        app.setDeviceVersionText(version);
        const auto block = build(t);
        EXPECT_EQ(receive(block).animalNo, expected) << version;
    }
}

TEST_F(AnimalBlocks, DecodedTextsGoToThePreferencesInMemoryOnly) {
    const std::size_t writesBefore = store.writeLog().size();
    AnimalTexts t;
    t.animalNo = "M7";
    t.weight = "300g";
    std::array<std::uint8_t, 64> block{};
    block[0] = 0x06;
    std::copy(t.animalNo.begin(), t.animalNo.end(), block.begin() + 1);
    std::copy(t.weight.begin(), t.weight.end(), block.begin() + 7);
    receive(block);
    EXPECT_EQ(doc->preference().animal().animalNo, "M7");
    EXPECT_EQ(doc->preference().animal().weight, "300g");
    EXPECT_EQ(doc->preference().animal().comment, "");
    EXPECT_EQ(store.writeLog().size(), writesBefore);
}

TEST_F(AnimalBlocks, BuiltBlockCarriesTheTypeByteOfTheBlockLastReceived) {
    // Never received: the block still says what it is.
    std::fill(doc->animalArea(), doc->animalArea() + kAnimalAreaSize, std::uint8_t{0xEE});
    doc->animalArea()[0] = 0;
    EXPECT_EQ(build(AnimalTexts{})[0], kRecordAnimalInfo);
    EXPECT_EQ(std::count(doc->animalArea() + 1, doc->animalArea() + kAnimalAreaSize, 0), 99);

    std::array<std::uint8_t, 64> received{};
    received[0] = 0x16;
    receive(received);
    EXPECT_EQ(build(AnimalTexts{})[0], 0x16);
}

// ---- version records ----------------------------------------------------------------

using VersionRecords = DocumentFixture;

TEST_F(VersionRecords, TextIsTheRecordAfterItsTypeByteUpToTheFirstZero) {
    const std::uint8_t record[] = {0x07, 'H', 'X', ' ', 'V', '1', '.', '2', 0, 'z', 'z'};
    EXPECT_EQ(versionRecordText(record, 8), "HX V1.2");
    EXPECT_EQ(versionRecordText(record, sizeof record), "HX V1.2");
    EXPECT_EQ(versionRecordText(record, 4), "HX ");
    EXPECT_EQ(versionRecordText(record, 1), "");
    EXPECT_EQ(versionRecordText(record, 0), "");
    EXPECT_EQ(versionRecordText(nullptr, 5), "");

    std::array<std::uint8_t, 80> full;
    full.fill('v');
    full[0] = 0x07;
    EXPECT_EQ(versionRecordText(full.data(), 64), std::string(63, 'v'));
    EXPECT_EQ(versionRecordText(full.data(), full.size()), std::string(63, 'v'));  // a record is at most 64
}

TEST_F(VersionRecords, ApplyingAVersionSwitchesTheAnimalFormAndLogs) {
    applyDeviceVersion(*doc, "HX V1.2");
    EXPECT_EQ(app.deviceVersionText(), "HX V1.2");
    EXPECT_TRUE(app.isLongId());
    EXPECT_EQ(doc->versionMark(), 1);
    EXPECT_EQ(lastLogLine(), "Read dev_ver:HX V1.2");
}

}  // namespace
}  // namespace hx
