#pragma once
// A unit driver whose units, replies and inbound records a test scripts, and
// which records every request, write, open and close it sees. Thread-safe: the
// receiver thread reads while the test thread scripts and inspects.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "usb/ControlHeader.h"
#include "usb/UnitDriver.h"

namespace hx::test {

struct IoCall {
    DriverHandle handle = kInvalidHandle;
    std::uint32_t code = 0;
    std::vector<std::uint8_t> input;
    std::size_t outLength = 0;
};

// A control request as the unit saw it: the decoded header and the data.
struct SeenControl {
    ControlHeader header;
    std::vector<std::uint8_t> data;  // writes only
    std::size_t outLength = 0;       // reads only
};

struct ScriptedRead {
    LinkError error = LinkError::None;
    std::vector<std::uint8_t> bytes;
    bool waited = true;
};

class ScriptedDriver : public IUnitDriver {
  public:
    struct Unit {
        std::string path;
        DeviceDescriptorFields descriptor;
        std::uint32_t configuration = 1;  // 0: present but not configured
        bool present = true;
        LinkError openError = LinkError::None;  // why opening the unit fails, or None
        bool descriptorReadable = true;
        std::set<int> failingPipes;  // pipe numbers that cannot be opened
    };

    // A unit with a path of the form the real drivers use; returns its index.
    int addUnit(std::uint16_t productId, std::uint16_t vendorId = 0x1A2B);
    int addUnitWithPath(std::string path, std::uint16_t productId, std::uint16_t vendorId = 0x1A2B);
    // Changes a unit; call while no other thread uses the driver.
    Unit& unit(int index);

    // Replies to control reads by request number (shorter or empty replies allowed).
    void setControlReply(std::uint8_t request, std::vector<std::uint8_t> reply);
    // Makes every control request with this number fail.
    void failControl(std::uint8_t request, bool fail = true);
    void setResetUnitResult(bool ok);
    void setResetPipeResult(bool ok);
    // While held, a unit reset blocks until released (a unit that hangs).
    void holdUnitResets(bool hold);
    // Waits (real time) until a unit reset is blocked by the hold.
    bool waitForHeldReset(int timeoutMs = 5000);
    void setWriteResult(bool ok);

    // Inbound pipe: results handed to readPipe calls in order; a read with none
    // queued blocks until one is queued or the read is cancelled.
    void queueRecord(std::vector<std::uint8_t> bytes, bool waited = true);
    void queueRead(ScriptedRead read);
    // Waits (real time) until `count` reads have started in total; false on time-out.
    bool waitForReads(int count, int timeoutMs = 5000);
    int readsStarted() const;
    bool queueEmpty() const;

    // What the driver saw.
    std::vector<IoCall> calls() const;
    std::vector<IoCall> calls(std::uint32_t code) const;
    std::vector<SeenControl> controls() const;
    std::vector<std::vector<std::uint8_t>> writes() const;
    std::vector<std::string> openedPaths() const;
    std::vector<DriverHandle> closedHandles() const;
    int openHandleCount() const;
    std::string pathOf(DriverHandle handle) const;
    int cancelCount() const;
    void clearLog();

    // IUnitDriver
    std::vector<std::string> presentInterfaces() override;
    LinkResult<DriverHandle> open(const std::string& path) override;
    void close(DriverHandle handle) override;
    LinkError ioControl(DriverHandle handle, std::uint32_t code, const std::uint8_t* in, std::size_t inLength,
                        std::uint8_t* out, std::size_t outLength, std::size_t* returned) override;
    PipeReadResult readPipe(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) override;
    // Reads that do not wait, as for a loop in virtual time: off unless set.
    void setReadsWithoutWaiting(bool on) { m_readsWithoutWaiting = on; }
    bool readsWithoutWaiting() const override { return m_readsWithoutWaiting; }
    PipeReadResult readPipeNow(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) override;
    void cancelRead(DriverHandle pipe) override;
    LinkError writePipe(DriverHandle pipe, const std::uint8_t* data, std::size_t length) override;
    LinkError setNoticeHandler(NoticeHandler handler) override;
    void notify(DeviceNotice notice, const std::string& path);

  private:
    struct Opened {
        int unit = -1;
        int pipe = -1;  // -1: the unit itself
    };

    PipeReadResult read(DriverHandle pipe, std::uint8_t* buffer, std::size_t length, bool wait);
    LinkError answer(const Opened& target, std::uint32_t code, const std::uint8_t* in, std::size_t inLength,
                     std::uint8_t* out, std::size_t outLength, std::size_t* returned);

    mutable std::mutex m_mutex;
    std::atomic<bool> m_readsWithoutWaiting{false};
    std::condition_variable m_changed;
    std::vector<Unit> m_units;
    std::map<DriverHandle, Opened> m_open;
    std::set<DriverHandle> m_cancelled;
    DriverHandle m_nextHandle = 0x40;
    std::map<std::uint8_t, std::vector<std::uint8_t>> m_controlReplies;
    std::set<std::uint8_t> m_failingControls;
    bool m_resetUnitOk = true;
    bool m_resetPipeOk = true;
    bool m_holdResets = false;
    int m_heldResets = 0;
    bool m_writeOk = true;
    std::deque<ScriptedRead> m_inbound;
    int m_readsStarted = 0;
    int m_cancels = 0;
    std::vector<IoCall> m_calls;
    std::vector<std::vector<std::uint8_t>> m_writes;
    std::vector<std::string> m_openedPaths;
    std::vector<DriverHandle> m_closed;
    NoticeHandler m_handler;
};

}  // namespace hx::test
