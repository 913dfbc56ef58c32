// Decoding speed of the records the unit streams: full wave packets (14 sample
// pairs, the most a 64-byte record holds) and assembled results with the
// freezing of both rings. Reported per record and per sample.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "app/Application.h"
#include "data/Halnor55KUDoc.h"
#include "protocol/RecordDecoding.h"
#include "settings/ProfileStore.h"
#include "support/SilentMessagePort.h"

namespace {

using namespace hx;

using SilentPort = hx::test::SilentMessagePort;

struct Bench {
    CHalnor40KUApp app;
    CMemoryProfileStore store;
    SilentPort port;
    CHalnor55KUDoc doc{app, store, port, std::filesystem::temp_directory_path().string() + "/"};
};

constexpr int kPairsPerPacket = 14;

std::array<std::uint8_t, kMaxRecordSize> wavePacket() {
    std::array<std::uint8_t, kMaxRecordSize> packet{};
    packet[0] = kRecordWavePacket;
    packet[1] = kPairsPerPacket;
    packet[5] = 120;  // live heart rate
    packet[7] = 3;    // sensor level
    for (int k = 0; k < kPairsPerPacket; ++k) {
        // Pressures around 150 mmHg, waves crossing zero: both signs of the
        // 12-bit extension are exercised.
        const auto pressure = static_cast<std::uint16_t>(300 + k);
        const auto wave = static_cast<std::uint16_t>((k % 2 ? 0x0F00 : 0x0100) + k);
        packet[static_cast<std::size_t>(8 + 4 * k)] = static_cast<std::uint8_t>(pressure >> 8);
        packet[static_cast<std::size_t>(9 + 4 * k)] = static_cast<std::uint8_t>(pressure);
        packet[static_cast<std::size_t>(10 + 4 * k)] = static_cast<std::uint8_t>(wave >> 8);
        packet[static_cast<std::size_t>(11 + 4 * k)] = static_cast<std::uint8_t>(wave);
    }
    return packet;
}

// One packet as the receiver thread hands it over (area cleared, record
// copied, index of the running sweep) and its decoding.
void BM_WavePacket(benchmark::State& state) {
    Bench bench;
    auto packet = wavePacket();
    int index = 0;
    for (auto _ : state) {
        packet[2] = static_cast<std::uint8_t>(index >> 8);
        packet[3] = static_cast<std::uint8_t>(index);
        std::uint8_t* area = bench.doc.waveArea();
        std::fill_n(area, kMaxRecordSize, std::uint8_t{0});
        std::copy(packet.begin(), packet.end(), area);
        benchmark::DoNotOptimize(decodeWavePacket(bench.doc));
        index = (index + kPairsPerPacket) % static_cast<int>(kRingSize);
    }
    state.SetItemsProcessed(state.iterations() * kPairsPerPacket);
    state.counters["packets"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["samples"] = benchmark::Counter(static_cast<double>(state.iterations() * kPairsPerPacket),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WavePacket);

void fillResultArea(CHalnor55KUDoc& doc) {
    std::uint8_t* area = doc.resultArea();
    for (std::size_t i = 0; i < kResultAreaSize; ++i) area[i] = static_cast<std::uint8_t>(i * 7);
    const char* text = "120315093045";
    std::copy(text, text + 12, area + 26);
}

// A whole result: parsing plus freezing both 4000-sample rings.
void BM_ResultRecord(benchmark::State& state) {
    Bench bench;
    fillResultArea(bench.doc);
    bench.doc.pressureRing().fill(300);
    bench.doc.waveRing().fill(-20);
    bench.doc.setWritePosition(3600);
    for (auto _ : state) {
        decodeResultRecord(bench.doc);
        benchmark::DoNotOptimize(bench.doc.resultWaveRing().data());
    }
    const auto frozen = static_cast<double>(state.iterations()) * 2.0 * static_cast<double>(kRingSize);
    state.SetItemsProcessed(state.iterations() * 2 * static_cast<std::int64_t>(kRingSize));
    state.counters["results"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["samples"] = benchmark::Counter(frozen, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResultRecord);

// The field parsing alone, without the rings.
void BM_ResultFields(benchmark::State& state) {
    Bench bench;
    fillResultArea(bench.doc);
    const std::span<const std::uint8_t, kResultAreaSize> area(bench.doc.resultArea(), kResultAreaSize);
    for (auto _ : state) benchmark::DoNotOptimize(parseResultRecord(area));
    state.counters["results"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ResultFields);

}  // namespace
