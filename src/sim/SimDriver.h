#pragma once
// The simulated unit driver: the unit driver's contract (IUnitDriver) over any
// number of simulated units, so the program's transport, command channel,
// receiver thread and decoding run unchanged against it.
//
// Device paths look like
//   \\?\usb#vid_1a2b&pid_0113#sim0003#{c14d9f44-b151-42da-9a94-d2c4932b4624}
// (pid = 0x110 + device ID in lower-case hex); the inbound pipe is
// "<path>\if000pipe000", the outbound pipe "<path>\if000pipe001".
//
// Time: with a real clock a thread of the driver paces the units; with a
// CVirtualClock the units' events are scheduled on that clock and happen only
// when it is advanced (nextDeadlineMs tells when the next one is due). Every
// record a unit hands to its inbound pipe calls clock.beginActivity(); the
// reader calls endActivity() after posting or dropping it. Records that are
// discarded unread (unplug, last inbound handle closed) call endActivity here.
//
// Arrival and removal notices are delivered in order on a thread of the
// driver, never on the caller's thread; each counts as activity on the clock
// until its handler has returned. Thread-safe. The clock must outlive
// the driver. Destroying the driver ends reads still blocked in readPipe
// (they return Gone) and waits for them to return; a reader must not start a
// new read after that.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/Clock.h"
#include "sim/SimUnit.h"
#include "usb/UnitDriver.h"

namespace hx {

class CVirtualClock;

class CSimDriver final : public IUnitDriver {
  public:
    // A CVirtualClock puts the driver in virtual time; any other clock runs it
    // in real time with a pacing thread.
    explicit CSimDriver(IClock& clock = CSystemClock::instance());
    ~CSimDriver() override;
    CSimDriver(const CSimDriver&) = delete;
    CSimDriver& operator=(const CSimDriver&) = delete;

    // Plugs in a new unit (state 1 for its adjust time, then View) and sends
    // an arrival notice. Adding an ID that is already present makes a second
    // unit with the same ID (a duplicate, as when two units were set alike).
    CSimUnit& addUnit(int deviceId, SimUnitOptions options = {});
    std::vector<CSimUnit*> units() const;    // in the order they were added
    CSimUnit* unitById(int deviceId) const;  // the first one added with that ID

    // Pulls the unit out: its handles die (reads end with Gone), queued records
    // are discarded, a removal notice follows. Replug plugs it in again as
    // after power-on (new handles needed) and sends an arrival notice.
    void unplug(CSimUnit& unit);
    void replug(CSimUnit& unit);

    // When notices are not supported, setNoticeHandler returns NotSupported and
    // no notice is delivered (the program then re-checks on its own).
    void setNoticesSupported(bool supported) {
        refuseNotices(supported ? LinkError::None : LinkError::NotSupported);
    }
    // setNoticeHandler returns this cause and delivers no notice (None: notices work).
    void refuseNotices(LinkError cause);
    // Every open fails with this cause (NoPermission as without the udev rule,
    // Busy as with another program on the unit); None opens again. Any thread.
    void refuseOpening(LinkError cause);
    // Blocks until every notice queued so far has been handled.
    void flushNotices();

    // The earliest time any unit needs the clock to reach; nullopt when idle.
    std::optional<std::int64_t> nextDeadlineMs() const;
    bool virtualTime() const { return m_virtual != nullptr; }
    // Reads under way in readPipe right now (blocked ones included).
    int activeReads() const { return m_activeReads.load(); }
    IClock& clock() const { return m_clock; }

    static std::string devicePath(std::uint16_t vendorId, std::uint16_t productId, int serial);
    static constexpr const char* kInterfaceClass = "{c14d9f44-b151-42da-9a94-d2c4932b4624}";

    // IUnitDriver
    std::vector<std::string> presentInterfaces() override;
    LinkResult<DriverHandle> open(const std::string& path) override;
    void close(DriverHandle handle) override;
    LinkError ioControl(DriverHandle handle, std::uint32_t code, const std::uint8_t* in, std::size_t inLength,
                        std::uint8_t* out, std::size_t outLength, std::size_t* returned) override;
    PipeReadResult readPipe(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) override;
    bool readsWithoutWaiting() const override { return virtualTime(); }
    PipeReadResult readPipeNow(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) override;
    void cancelRead(DriverHandle pipe) override;
    LinkError writePipe(DriverHandle pipe, const std::uint8_t* data, std::size_t length) override;
    LinkError setNoticeHandler(NoticeHandler handler) override;

  private:
    enum class HandleKind { Unit, InPipe, OutPipe };
    struct Handle {
        CSimUnit* unit = nullptr;
        HandleKind kind = HandleKind::Unit;
        std::uint32_t generation = 0;
        bool cancelled = false;  // guarded by the unit's mutex
        bool closed = false;     // guarded by the unit's mutex
    };
    std::shared_ptr<Handle> findHandle(DriverHandle handle) const;
    PipeReadResult read(DriverHandle pipe, std::uint8_t* buffer, std::size_t length, bool wait);
    void postNotice(DeviceNotice notice, const std::string& path);
    void noticeLoop();
    void pacingLoop();
    void reschedule();
    void tick();

    IClock& m_clock;
    CVirtualClock* m_virtual = nullptr;

    mutable std::mutex m_tableMutex;  // units and handles
    std::vector<std::unique_ptr<CSimUnit>> m_units;
    std::map<DriverHandle, std::shared_ptr<Handle>> m_handles;
    DriverHandle m_nextHandle = 1;
    std::map<int, int> m_serialsInUse;  // device ID -> units made with it

    // Virtual time: the one callback scheduled on the clock.
    std::mutex m_scheduleMutex;
    std::uint64_t m_scheduledId = 0;
    std::int64_t m_scheduledAt = 0;

    // Real time: the pacing thread.
    std::mutex m_pacingMutex;
    std::condition_variable m_pacingWake;
    bool m_stopping = false;
    bool m_pacingDirty = false;
    std::thread m_pacingThread;
    std::atomic<int> m_activeReads{0};

    // Notices.
    std::mutex m_noticeMutex;
    std::condition_variable m_noticeWake;
    std::condition_variable m_noticeDone;
    std::deque<std::pair<DeviceNotice, std::string>> m_notices;
    bool m_noticeBusy = false;
    bool m_noticeStop = false;
    LinkError m_noticeRefusal = LinkError::None;
    std::atomic<LinkError> m_openRefusal{LinkError::None};
    NoticeHandler m_noticeHandler;
    std::thread m_noticeThread;
};

}  // namespace hx
