// Packing and unpacking of the waves of a data file.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "data/DataFileWriter.h"
#include "data/WavePacking.h"

namespace hx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::int16_t>;

Samples unpack(const Bytes& block, std::size_t count) {
    Samples out(count);
    std::size_t length = 0;
    std::string error;
    EXPECT_TRUE(unpackWave(block, out, length, error)) << error;
    EXPECT_EQ(length, block.size());
    return out;
}

std::string unpackError(const Bytes& block, std::size_t count) {
    Samples out(count);
    std::size_t length = 0;
    std::string error;
    EXPECT_FALSE(unpackWave(block, out, length, error));
    return error;
}

TEST(WavePacking, SamplesLeavingTheTwelveBitRangeAreRefusedNotWrapped) {
    // 2047, then +1 as a short difference at byte 4; -2048, 0, then -1 in a nibble run at byte 5.
    EXPECT_NE(unpackError(Bytes{0x05, 0x00, 0xFF, 0x07, 0x06}, 2).find("byte 4"), std::string::npos);
    EXPECT_NE(unpackError(Bytes{0x07, 0x00, 0x00, 0xF8, 0x02, 0x03, 0x0F}, 3).find("byte 5"),
              std::string::npos);
    // A first sample beyond 12 bits, and a long difference of 8191.
    EXPECT_NE(unpackError(Bytes{0x04, 0x00, 0x00, 0x10}, 1).find("first sample"), std::string::npos);
    EXPECT_FALSE(unpackError(Bytes{0x06, 0x00, 0x00, 0x00, 0xFC, 0x7F}, 2).empty());
}

TEST(WavePacking, WorkedExample) {
    const Samples samples{100, 101, 99, 99, 120, 60};
    const Bytes block = packWaveSamples(samples);
    EXPECT_EQ(block, (Bytes{0x0A, 0x00, 0x64, 0x00, 0x07, 0xE1, 0x00, 0x56, 0x10, 0xFF}));
    EXPECT_EQ(unpack(block, samples.size()), samples);
}

TEST(WavePacking, EqualSamplesMakeRunsOf127) {
    Ring ring;
    ring.fill(-5);
    const Bytes block = packWave(ring);
    ASSERT_EQ(block.size(), 2051u);
    EXPECT_EQ(block[0] | block[1] << 8, 2051);
    EXPECT_EQ(static_cast<std::int16_t>(block[2] | block[3] << 8), -5);
    EXPECT_EQ(block[4], 255);
    EXPECT_EQ(block[4 + 65 * 31], 2 * 62 + 1) << "the last run holds the remaining 62 differences";
}

TEST(WavePacking, EveryDifferenceLongGivesTheLargestBlock) {
    Ring ring;
    for (std::size_t i = 0; i < ring.size(); ++i) ring[i] = (i % 2) ? 2047 : -2048;
    const Bytes block = packWave(ring);
    EXPECT_EQ(block.size(), kMaxPackedRingSize);
    EXPECT_EQ(block.size(), 8002u);
    EXPECT_EQ(unpack(block, kRingSize), Samples(ring.begin(), ring.end()));
}

TEST(WavePacking, CodeBoundaries) {
    // 7 is a nibble, 8 and -8 are short, 31 short, 32 and -32 long.
    const Samples samples{0, 7, 15, 7, 38, 70, 38, 7, 0};
    const Bytes block = packWaveSamples(samples);
    EXPECT_EQ(block, (Bytes{16, 0, 0, 0, 3, 7, 0x22, 0xE2, 0x7E, 0x80, 0x00, 0x80, 0xFF, 0x86, 3, 9}));
    EXPECT_EQ(unpack(block, samples.size()), samples);
}

TEST(WavePacking, AlternatingSmallAndLargeGivesRunsOfOne) {
    const Samples samples{0, 1, 41, 42, 2, 3};
    const Bytes block = packWaveSamples(samples);
    // +1 run, +40 long, +1 run, -40 long, +1 run
    EXPECT_EQ(block, (Bytes{14, 0, 0, 0, 3, 0x01, 0xA0, 0x00, 3, 0x01, 0x60, 0xFF, 3, 0x01}));
    EXPECT_EQ(unpack(block, samples.size()), samples);
}

TEST(WavePacking, RunClosesAt127AndANewOneOpens) {
    Samples samples(129);
    for (std::size_t i = 1; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(samples[i - 1] + 1);
    const Bytes block = packWaveSamples(samples);
    ASSERT_EQ(block.size(), 4u + 65 + 2);
    EXPECT_EQ(block[4], 255);
    EXPECT_EQ(block[68], 0x01) << "127th difference fills the low half of the last byte only";
    EXPECT_EQ(block[69], 3);
    EXPECT_EQ(unpack(block, samples.size()), samples);
}

TEST(WavePacking, RoundTripOfRandomTwelveBitRings) {
    std::mt19937 random(7);
    for (int spread : {3, 20, 200, 4095}) {
        std::uniform_int_distribution<int> step(-spread, spread);
        Ring ring;
        int value = 0;
        for (auto& sample : ring) {
            value = std::clamp(value + step(random), -2048, 2047);
            sample = static_cast<std::int16_t>(value);
        }
        const Bytes block = packWave(ring);
        EXPECT_LE(block.size(), kMaxPackedRingSize);
        EXPECT_EQ(unpack(block, kRingSize), Samples(ring.begin(), ring.end())) << "spread " << spread;
    }
}

TEST(WaveUnpacking, RefusesDamagedBlocks) {
    const Bytes good = packWaveSamples(Samples{100, 101, 99, 99, 120, 60});

    EXPECT_NE(unpackError(Bytes{0x0A, 0x00}, 6).find("header cut short"), std::string::npos);
    EXPECT_NE(unpackError(Bytes{0x03, 0x00, 0x00, 0x00}, 1).find("less than"), std::string::npos);

    Bytes truncated(good.begin(), good.end() - 1);
    EXPECT_NE(unpackError(truncated, 6).find("past the end of the file"), std::string::npos);

    Bytes shortLength = good;
    shortLength[0] = 9;  // the long code's second byte falls outside the block
    EXPECT_NE(unpackError(shortLength, 6).find("long difference"), std::string::npos);

    Bytes runTooLong = good;
    runTooLong[4] = 2 * 11 + 1;  // eleven differences need six bytes, the block has five left
    EXPECT_NE(unpackError(runTooLong, 6).find("nibble run"), std::string::npos);

    Bytes emptyRun = good;
    emptyRun[4] = 1;
    EXPECT_NE(unpackError(emptyRun, 6).find("empty nibble run"), std::string::npos);

    EXPECT_NE(unpackError(good, 5).find("more than 5 samples"), std::string::npos);
    EXPECT_NE(unpackError(good, 7).find("after 6 of 7"), std::string::npos);
}

TEST(WaveUnpacking, AcceptsCodesThePackerWouldNotChoose) {
    // A short -32, a nibble -8 and a long +3 are valid codes of other writers.
    const Bytes block{9, 0, 10, 0, 0x82, 3, 0x08, 0x0C, 0x00};
    EXPECT_EQ(unpack(block, 4), (Samples{10, -22, -30, -27}));
}

}  // namespace
}  // namespace hx
