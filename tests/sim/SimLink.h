#pragma once
// A bare host for the simulated driver in virtual time: opens one unit and its
// pipes, issues control requests with the driver's byte buffers, and runs the
// clock while it collects every record the unit sends (acknowledging each as
// the receiver thread would).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/VirtualClock.h"
#include "sim/SimDriver.h"

namespace hx::test {

// Options for quick runs: no adjust time, fixed seed.
inline SimUnitOptions simFastOptions(std::uint32_t seed = 7) {
    SimUnitOptions o;
    o.adjustMs = 0;
    o.seed = seed;
    return o;
}

class SimLink {
  public:
    explicit SimLink(SimUnitOptions options = simFastOptions(), int deviceId = 3) : driver(clock) {
        unit = &driver.addUnit(deviceId, std::move(options));
    }
    ~SimLink() { closeAll(); }

    static SimUnitOptions fastOptions(std::uint32_t seed = 7) { return simFastOptions(seed); }

    bool openAll() {
        device = driver.open(unit->devicePath()).value;
        in = driver.open(unit->devicePath() + "\\if000pipe000").value;
        out = driver.open(unit->devicePath() + "\\if000pipe001").value;
        return device != kInvalidHandle && in != kInvalidHandle && out != kInvalidHandle;
    }
    void closeAll() {
        for (DriverHandle* h : {&in, &out, &device}) {
            if (*h != kInvalidHandle) driver.close(*h);
            *h = kInvalidHandle;
        }
    }

    static std::vector<std::uint8_t> header(int request, int value, bool read) {
        std::vector<std::uint8_t> h(16, 0);
        h[0] = 0x17;
        h[4] = read ? 2 : 0;
        h[9] = static_cast<std::uint8_t>(request);
        h[10] = static_cast<std::uint8_t>(value & 0xFF);
        h[11] = static_cast<std::uint8_t>(value >> 8);
        return h;
    }
    bool controlWrite(int request, int value, const std::vector<std::uint8_t>& data = {}) {
        std::vector<std::uint8_t> buffer = header(request, value, false);
        buffer.insert(buffer.end(), data.begin(), data.end());
        std::size_t returned = 0;
        return driver.ioControl(device, kIoctlControlWrite, buffer.data(), buffer.size(), nullptr, 0,
                                &returned) == LinkError::None;
    }
    std::vector<std::uint8_t> controlRead(int request, std::size_t length) {
        const std::vector<std::uint8_t> h = header(request, 0, true);
        std::vector<std::uint8_t> reply(length, 0xEE);
        std::size_t returned = 0;
        if (driver.ioControl(device, kIoctlControlRead, h.data(), h.size(), reply.data(), reply.size(),
                             &returned) != LinkError::None) {
            return {};
        }
        reply.resize(returned);
        return reply;
    }
    bool command(int code) { return controlWrite(1, code); }
    int state() {
        const auto r = controlRead(5, 1);
        return r.size() == 1 ? r[0] : -1;
    }

    // Reads every queued record (never blocks) and acknowledges it.
    std::vector<Record> drain() {
        std::vector<Record> got;
        while (unit->queuedRecords() > 0) {
            Record r(64, 0);
            const PipeReadResult res = driver.readPipe(in, r.data(), r.size());
            if (res.error != LinkError::None) break;
            r.resize(res.bytes);
            clock.endActivity();
            got.push_back(std::move(r));
        }
        records.insert(records.end(), got.begin(), got.end());
        return got;
    }

    // Runs the clock deadline by deadline (collecting records) until stop()
    // holds or virtual time reaches limitMs. Returns stop()'s last answer.
    bool runUntil(const std::function<bool()>& stop, std::int64_t limitMs) {
        drain();
        while (!stop()) {
            const auto next = clock.nextDeadline();
            if (!next || *next > limitMs) {
                clock.advanceTo(limitMs);
                drain();
                return stop();
            }
            clock.advanceTo(*next);
            drain();
        }
        return true;
    }
    void runFor(std::int64_t ms) {
        const std::int64_t end = clock.nowMs() + ms;
        runUntil([] { return false; }, end);
    }

    // Starts a measurement and runs until its result has been sent.
    bool measure(std::int64_t limitMs = 120000) {
        const int before = unit->resultCount();
        if (!command(4)) return false;
        return runUntil([&] { return unit->resultCount() > before; }, clock.nowMs() + limitMs);
    }

    CVirtualClock clock;
    CSimDriver driver;
    CSimUnit* unit = nullptr;
    DriverHandle device = kInvalidHandle;
    DriverHandle in = kInvalidHandle;
    DriverHandle out = kInvalidHandle;
    std::vector<Record> records;  // everything drained so far
};

inline int recordType(const Record& r) { return r.empty() ? -1 : (r[0] & 0x0F); }
inline int be16(const std::uint8_t* p) { return static_cast<std::int16_t>((p[0] << 8) | p[1]); }
inline int sample12(int word) { return (word & 0x800) ? (word | ~0xFFF) : (word & 0xFFF); }

}  // namespace hx::test
