// Feeds arbitrary records through a fake inbound pipe into the real receiver
// thread, with the fuzzer's main thread playing the main window: it takes the
// thread's messages from a queue, decodes each handed-over record from the
// document's record areas and hands it back. Checks that every record is
// dispatched exactly once to the right place, that a handed-over area still
// holds its record when the window decodes it, that recovered read failures
// cost nothing, and that every record's activity is ended.
//
// Input: a sequence of [control byte][record]. The low 6 bits of the control
// byte + 1 give the record length (1 to 64). Bits 6-7 put a read failure
// before the record: 1 a broken pipe, 2 a device error that a unit reset
// cures, 3 a read of no bytes.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/LogChannel.h"
#include "data/Halnor55KUDoc.h"
#include "protocol/CommandChannel.h"
#include "protocol/ReceiverThread.h"
#include "protocol/RecordDecoding.h"
#include "settings/ProfileStore.h"
#include "support/SilentMessagePort.h"
#include "usb/ControlHeader.h"

namespace {

using namespace hx;
using Bytes = std::vector<std::uint8_t>;

void check(bool condition) {
    if (!condition) std::abort();
}

// One unit with two pipes; the inbound pipe hands out the scripted reads and
// then blocks until cancelled.
class FuzzPipeDriver : public IUnitDriver {
  public:
    static constexpr const char* kPath = "fuzz#vid_1a2b&pid_0113#unit";

    void script(std::deque<PipeReadResult> reads, std::deque<Bytes> data) {
        std::lock_guard lock(m_mutex);
        m_reads = std::move(reads);
        m_data = std::move(data);
        m_cancelled = false;
        m_drained = false;
    }
    bool drained() const {
        std::lock_guard lock(m_mutex);
        return m_drained;
    }

    std::vector<std::string> presentInterfaces() override { return {kPath}; }
    LinkResult<DriverHandle> open(const std::string& path) override {
        if (path == kPath) return {1, LinkError::None};
        if (path == std::string(kPath) + "\\if000pipe000") return {2, LinkError::None};
        if (path == std::string(kPath) + "\\if000pipe001") return {3, LinkError::None};
        return {kInvalidHandle, LinkError::UnitGone};
    }
    void close(DriverHandle) override {}
    LinkError ioControl(DriverHandle, std::uint32_t code, const std::uint8_t*, std::size_t, std::uint8_t* out,
                        std::size_t outLength, std::size_t* returned) override {
        *returned = 0;
        if (code == kIoctlGetDescriptor && outLength >= kDeviceDescriptorSize) {
            auto descriptor = makeDeviceDescriptor({0, 0, 0x1A2B, 0x0113, 0x0100});
            std::copy(descriptor.begin(), descriptor.end(), out);
            *returned = descriptor.size();
        } else if (code == kIoctlGetConfiguration && outLength >= 4) {
            out[0] = 1;
            out[1] = out[2] = out[3] = 0;
            *returned = 4;
        }
        return LinkError::None;
    }
    PipeReadResult readPipe(DriverHandle, std::uint8_t* buffer, std::size_t length) override {
        std::unique_lock lock(m_mutex);
        if (m_reads.empty()) {
            m_drained = true;
            m_changed.wait(lock, [this] { return m_cancelled; });
            return {LinkError::Cancelled, 0, true};
        }
        PipeReadResult read = m_reads.front();
        m_reads.pop_front();
        if (read.error == LinkError::None) {
            Bytes bytes = std::move(m_data.front());
            m_data.pop_front();
            read.bytes = std::min(bytes.size(), length);
            std::copy_n(bytes.begin(), read.bytes, buffer);
        }
        return read;
    }
    void cancelRead(DriverHandle) override {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }
    LinkError writePipe(DriverHandle, const std::uint8_t*, std::size_t) override { return LinkError::None; }
    LinkError setNoticeHandler(NoticeHandler) override { return LinkError::NotSupported; }

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<PipeReadResult> m_reads;
    std::deque<Bytes> m_data;
    bool m_cancelled = false;
    bool m_drained = false;
};

// Counts record activity; the receiver's pauses cost nothing.
class CountingClock : public IClock {
  public:
    std::int64_t nowMs() const override { return 0; }
    std::time_t wallTime() const override { return 0; }
    void sleepMs(int) override {}
    void endActivity() override {
        std::lock_guard lock(m_mutex);
        ++ended;
    }
    int endedCount() {
        std::lock_guard lock(m_mutex);
        return ended;
    }

  private:
    std::mutex m_mutex;
    int ended = 0;
};

// The window's side: messages queue up here and the fuzzer's main thread
// handles them. A send waits until the main thread has handled it.
class QueueSink : public IReceiverSink {
  public:
    void post(WindowMessage message) override {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(message));
        m_changed.notify_all();
    }
    void send(WindowMessage message) override {
        std::unique_lock lock(m_mutex);
        const std::uint64_t ticket = ++m_sent;
        m_queue.push_back(std::move(message));
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_handled >= ticket || m_stopping; });
    }
    void showMenuNotice() override {
        std::lock_guard lock(m_mutex);
        ++menuNotices;
    }
    void stopRequested() override {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }

    // Main thread: the next message, or nothing when idle for a moment.
    std::optional<WindowMessage> next() {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::milliseconds(2), [this] { return !m_queue.empty(); }))
            return std::nullopt;
        WindowMessage message = std::move(m_queue.front());
        m_queue.pop_front();
        return message;
    }
    void handledSend() {
        std::lock_guard lock(m_mutex);
        ++m_handled;
        m_changed.notify_all();
    }
    bool empty() {
        std::lock_guard lock(m_mutex);
        return m_queue.empty();
    }
    int menuNoticeCount() {
        std::lock_guard lock(m_mutex);
        return menuNotices;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<WindowMessage> m_queue;
    std::uint64_t m_sent = 0;
    std::uint64_t m_handled = 0;
    bool m_stopping = false;
    int menuNotices = 0;
};

using SilentPort = hx::test::SilentMessagePort;

std::string g_logName;
void removeLogBlock() { ::shm_unlink(g_logName.c_str()); }

struct Expected {
    std::deque<Bytes> waves, results, animals, versions;
    int menuNotices = 0;
    int records = 0;  // reads that brought bytes
};

Bytes padded(const Bytes& record) {
    Bytes bytes = record;
    bytes.resize(kRecordSize, 0);
    return bytes;
}

// Plays the main window for one message: checks the area against the record
// the thread was given, decodes it and hands it back.
void handle(const WindowMessage& m, CHalnor55KUDoc& doc, Expected& expected, CEvent& handOver,
            QueueSink& sink) {
    switch (m.id) {
        case kMsgWavePacket: {
            check(!expected.waves.empty());
            check(std::equal(expected.waves.front().begin(), expected.waves.front().end(), doc.waveArea()));
            expected.waves.pop_front();
            int result = decodeWavePacket(doc);
            check(result >= kWaveRefused && result <= kWaveStoredAtZero);
            check(doc.writePosition() >= 0 && doc.writePosition() < static_cast<int>(kRingSize));
            handOver.set();
            break;
        }
        case kMsgResultReady: {
            check(!expected.results.empty());
            check(std::equal(expected.results.front().begin() + 2, expected.results.front().end(),
                             doc.resultArea() + kResultPieceOffset[2]));
            expected.results.pop_front();
            decodeResultRecord(doc);
            check(doc.result().dateTime.size() <= 12);
            handOver.set();
            break;
        }
        case kMsgAnimalBlock: {
            check(!expected.animals.empty());
            check(std::equal(expected.animals.front().begin(), expected.animals.front().end(),
                             doc.animalArea()));
            expected.animals.pop_front();
            decodeAnimalBlock(doc);
            handOver.set();
            sink.handledSend();
            break;
        }
        case kMsgVersionRecord: {
            check(!expected.versions.empty());
            const Bytes& record = expected.versions.front();
            check(m.wParam != 0);
            check(m.lParam == static_cast<std::intptr_t>(record.size()) - 1);
            check(m.text == versionRecordText(record.data(), record.size()));
            expected.versions.pop_front();
            applyDeviceVersion(doc, m.text);
            break;
        }
        default:
            std::abort();  // the thread never ends on its own here
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool logReady = [] {
        g_logName = "/hx40k-fuzz-receiver-" + std::to_string(::getpid());
        setLogChannelNames(g_logName, "");
        std::atexit(removeLogBlock);
        return true;
    }();
    (void)logReady;
    static CHalnor40KUApp app;
    static CMemoryProfileStore store;
    static SilentPort port;
    static CHalnor55KUDoc doc(app, store, port, "/tmp/");

    std::deque<PipeReadResult> reads;
    std::deque<Bytes> records;
    Expected expected;
    for (std::size_t at = 0; at < size;) {
        const std::uint8_t control = data[at++];
        const std::size_t length = std::min<std::size_t>((control & 0x3F) + 1u, size - at);
        if (length == 0) break;
        switch (control >> 6) {
            case 1:
                reads.push_back({LinkError::Protocol, 0, false});
                break;
            case 2:
                reads.push_back({LinkError::Io, 0, true});
                break;
            case 3:
                reads.push_back({LinkError::None, 0, true});
                records.emplace_back();
                break;
            default:
                break;
        }
        Bytes record(data + at, data + at + length);
        at += length;
        reads.push_back({LinkError::None, 0, false});
        records.push_back(record);
        ++expected.records;
        switch (recordType(record[0])) {
            case 1:
            case 15:
                ++expected.menuNotices;
                break;
            case 4:
                expected.waves.push_back(padded(record));
                break;
            case 5:
                expected.results.push_back(padded(record));
                break;
            case 6:
                expected.animals.push_back(padded(record));
                break;
            case 7:
                expected.versions.push_back(record);
                break;
            default:
                break;
        }
    }

    FuzzPipeDriver driver;
    driver.script(std::move(reads), std::move(records));
    CountingClock clock;
    auto channel = std::make_unique<CCommandChannel>(driver, clock);
    channel->setLogWriter([](std::string_view, char, char) {});
    check(channel->ResetPipe(0x113) == LinkError::None);

    QueueSink sink;
    CEvent stop, go, handOver;
    ReceiverParams params;
    params.channel = channel.get();
    params.sink = &sink;
    params.stopEvent = &stop;
    params.goEvent = &go;
    params.handOverEvent = &handOver;
    params.resultArea = doc.resultArea();
    params.waveArea = doc.waveArea();
    params.animalArea = doc.animalArea();
    CReceiverThread receiver;
    receiver.setLogWriter([](std::string_view, char, char) {});
    check(receiver.start(params));

    // Runs until the thread has read everything and every message is handled.
    for (;;) {
        if (std::optional<WindowMessage> m = sink.next()) {
            handle(*m, doc, expected, handOver, sink);
        } else if (driver.drained() && sink.empty()) {
            break;
        }
    }
    receiver.stop();
    channel.reset();

    check(expected.waves.empty() && expected.results.empty() && expected.animals.empty() &&
          expected.versions.empty());
    check(sink.menuNoticeCount() == expected.menuNotices);
    check(clock.endedCount() == expected.records);
    return 0;
}
