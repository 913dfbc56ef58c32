// The unit link streaming as fast as it can: a simulated unit (in virtual time,
// so the receiver's pacing sleeps cost nothing) hands wave packets to its
// inbound pipe, the receiver thread reads them through the command channel and
// hands each one over to a consumer playing the main window, which decodes it
// into a document and hands it back.
//
// Counters: records per second, and the latency from the record leaving the
// unit (handed to its pipe) to the consumer holding it (message received, the
// record in the document's wave area), median and 99th percentile in
// microseconds. The argument is how many records the unit may have in flight.

#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "app/LogChannel.h"
#include "app/VirtualClock.h"
#include "data/Halnor55KUDoc.h"
#include "protocol/CommandChannel.h"
#include "protocol/ReceiverThread.h"
#include "protocol/RecordDecoding.h"
#include "settings/ProfileStore.h"
#include "sim/SimDriver.h"
#include "support/SilentMessagePort.h"

namespace {

using namespace hx;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kMagic = 0x7EAD;  // marks the packets this benchmark sends
constexpr int kRecordsPerIteration = 2000;

class MessageQueue : public IReceiverSink {
  public:
    void post(WindowMessage message) override {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(message));
        m_changed.notify_one();
    }
    void send(WindowMessage message) override { post(std::move(message)); }
    void showMenuNotice() override {}
    WindowMessage next() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_queue.empty(); });
        WindowMessage message = std::move(m_queue.front());
        m_queue.pop_front();
        return message;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<WindowMessage> m_queue;
};

using SilentPort = hx::test::SilentMessagePort;

std::vector<std::uint8_t> wavePacket(std::uint32_t sequence) {
    std::vector<std::uint8_t> packet(8 + 4 * 14, 0);
    const std::uint16_t index = static_cast<std::uint16_t>((sequence * 14) % 4000);
    packet[0] = 0x04;
    packet[1] = 14;
    packet[2] = static_cast<std::uint8_t>(index >> 8);
    packet[3] = static_cast<std::uint8_t>(index & 0xFF);
    packet[4] = kMagic >> 8;
    packet[5] = kMagic & 0xFF;
    packet[7] = 3;
    for (int i = 0; i < 4; ++i) packet[8 + i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
    for (std::size_t i = 12; i < packet.size(); ++i) packet[i] = static_cast<std::uint8_t>(i * 7);
    return packet;
}

std::uint32_t sequenceOf(const std::uint8_t* area) {
    return (std::uint32_t{area[8]} << 24) | (std::uint32_t{area[9]} << 16) | (std::uint32_t{area[10]} << 8) |
           area[11];
}

double percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    auto at = values.begin() + static_cast<std::ptrdiff_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

void BM_LinkStreaming(benchmark::State& state) {
    static const bool logReady = [] {
        setLogChannelNames("/hx40k-bench-link-" + std::to_string(::getpid()), "");
        return true;
    }();
    (void)logReady;
    const int window = static_cast<int>(state.range(0));

    CHalnor40KUApp app;
    CMemoryProfileStore store;
    SilentPort port;
    CHalnor55KUDoc doc(app, store, port, "/tmp/");

    CVirtualClock clock;
    CSimDriver driver(clock);
    SimUnitOptions options;
    options.adjustMs = 0;
    CSimUnit& unit = driver.addUnit(3, options);
    CCommandChannel channel(driver, clock);
    channel.setLogWriter([](std::string_view, char, char) {});
    if (channel.ResetPipe(kProductIdBase + 3) != LinkError::None) {
        state.SkipWithError("the simulated unit did not open");
        return;
    }

    MessageQueue queue;
    CEvent stop, go, handOver;
    ReceiverParams params;
    params.channel = &channel;
    params.sink = &queue;
    params.stopEvent = &stop;
    params.goEvent = &go;
    params.handOverEvent = &handOver;
    params.resultArea = doc.resultArea();
    params.waveArea = doc.waveArea();
    params.animalArea = doc.animalArea();
    CReceiverThread receiver;
    receiver.setLogWriter([](std::string_view, char, char) {});
    receiver.start(params);

    std::vector<Clock::time_point> sent(kRecordsPerIteration);
    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(kRecordsPerIteration) * 8);
    std::atomic<int> consumed{0};
    std::int64_t records = 0;

    for (auto _ : state) {
        consumed = 0;
        std::thread unitSide([&] {
            for (int i = 0; i < kRecordsPerIteration; ++i) {
                while (i - consumed.load() >= window) std::this_thread::yield();
                sent[static_cast<std::size_t>(i)] = Clock::now();
                unit.injectRecord(wavePacket(static_cast<std::uint32_t>(i)));
            }
        });
        while (consumed.load() < kRecordsPerIteration) {
            WindowMessage message = queue.next();
            const auto held = Clock::now();
            if (message.id == kMsgWavePacket) {
                const std::uint8_t* area = doc.waveArea();
                const bool ours = area[4] == (kMagic >> 8) && area[5] == (kMagic & 0xFF);
                const std::uint32_t sequence = sequenceOf(area);
                decodeWavePacket(doc);
                if (ours && sequence < static_cast<std::uint32_t>(kRecordsPerIteration)) {
                    latencies.push_back(
                        std::chrono::duration<double, std::micro>(held - sent[sequence]).count());
                    consumed.fetch_add(1);
                }
            }
            handOver.set();
        }
        unitSide.join();
        records += kRecordsPerIteration;
    }
    receiver.stop();

    state.counters["records_per_s"] =
        benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
    state.counters["latency_median_us"] = percentile(latencies, 0.5);
    state.counters["latency_p99_us"] = percentile(latencies, 0.99);
}

BENCHMARK(BM_LinkStreaming)->Arg(1)->Arg(4)->Arg(16)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
