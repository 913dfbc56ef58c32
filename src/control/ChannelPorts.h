#pragma once
// What one channel (one unit's whole program) sees of the ports it shares
// with the other channels: its own view of the event loop (its messages,
// timers and quit), of the driver (only its unit's interfaces and notices)
// and of the profile (the animal's and the unit's settings kept per device
// ID, the program's settings shared).

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "control/EventLoop.h"
#include "settings/ProfileStore.h"
#include "usb/UnitDriver.h"

namespace hx {

// The shared loop's message that hands one queued message to a channel;
// wParam: the channel's device ID.
constexpr std::uint32_t kMsgChannelWork = WM_USER + 0x200;

// Timers of a channel travel on the shared loop as kChannelTimerBase *
// (device ID + 1) + the channel's own timer number.
constexpr int kChannelTimerBase = 100000;

// The tag a channel's diagnostic lines start with: "dev=3" for device ID 2.
std::string channelLogTag(int deviceId);

// While alive, the calling thread's diagnostic lines name the channel.
class CLogTagScope {
  public:
    explicit CLogTagScope(int deviceId);
    ~CLogTagScope();
    CLogTagScope(const CLogTagScope&) = delete;
    CLogTagScope& operator=(const CLogTagScope&) = delete;

  private:
    std::string m_previous;
};

class CChannelLoop final : public IEventLoop {
  public:
    // onQuit: the channel's front end ended its run with this status.
    CChannelLoop(IEventLoop& shared, int deviceId, std::function<void(int status)> onQuit);

    void setTarget(IMessageTarget* target) override { m_target = target; }
    void post(WindowMessage message) override;
    bool send(WindowMessage message, CEvent* abort = nullptr) override;
    bool invoke(std::function<void()> fn, CEvent* abort = nullptr) override;
    void startTimer(int timerId, int periodMs) override;
    void killTimer(int timerId) override;
    bool timerRunning(int timerId) const override;
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs) override;
    IClock& clock() override { return m_shared.clock(); }
    void setQuietCondition(std::function<bool()> condition) override;
    bool addPoller(const void* owner, std::function<bool()> work) override;
    void removePoller(const void* owner) override { m_shared.removePoller(owner); }
    void quit(int exitCode) override { m_onQuit(exitCode); }

    // On the UI thread, called by the channel set.
    void deliverQueued();  // one message queued by post
    void deliverTimer(int timerId);
    bool quiet() const;  // the channel's quiet condition holds

  private:
    int sharedTimerId(int timerId) const;

    IEventLoop& m_shared;
    const int m_deviceId;
    std::function<void(int)> m_onQuit;
    IMessageTarget* m_target = nullptr;
    mutable std::mutex m_mutex;
    std::deque<WindowMessage> m_queue;
    std::function<bool()> m_quietCondition;
};

// Device notices fanned out to the channels by device ID.
class CNoticeFanOut {
  public:
    // Registers with the driver once; false when it cannot deliver notices.
    bool attach(IUnitDriver& driver, IUnitDriver::NoticeHandler setHandler);
    void detach(IUnitDriver& driver);
    bool attached() const { return m_attached; }
    LinkError attachError() const { return m_attachError; }
    void setChannelHandler(int deviceId, IUnitDriver::NoticeHandler handler);

  private:
    void deliver(DeviceNotice notice, const std::string& path);

    std::mutex m_mutex;  // held while a handler runs, so a cleared one is never called after
    std::map<int, IUnitDriver::NoticeHandler> m_handlers;
    IUnitDriver::NoticeHandler m_setHandler;
    bool m_attached = false;
    LinkError m_attachError = LinkError::None;  // why the driver refused, for the channels that ask
};

class CChannelDriver final : public IUnitDriver {
  public:
    CChannelDriver(IUnitDriver& shared, CNoticeFanOut& notices, int deviceId)
        : m_shared(shared), m_notices(notices), m_deviceId(deviceId) {}

    std::vector<std::string> presentInterfaces() override;
    LinkResult<DriverHandle> open(const std::string& path) override { return m_shared.open(path); }
    void close(DriverHandle handle) override { m_shared.close(handle); }
    LinkError ioControl(DriverHandle handle, std::uint32_t code, const std::uint8_t* in, std::size_t inLength,
                        std::uint8_t* out, std::size_t outLength, std::size_t* returned) override {
        return m_shared.ioControl(handle, code, in, inLength, out, outLength, returned);
    }
    PipeReadResult readPipe(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) override {
        return m_shared.readPipe(pipe, buffer, length);
    }
    bool readsWithoutWaiting() const override { return m_shared.readsWithoutWaiting(); }
    PipeReadResult readPipeNow(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) override {
        return m_shared.readPipeNow(pipe, buffer, length);
    }
    void cancelRead(DriverHandle pipe) override { m_shared.cancelRead(pipe); }
    LinkError writePipe(DriverHandle pipe, const std::uint8_t* data, std::size_t length) override {
        return m_shared.writePipe(pipe, data, length);
    }
    LinkError setNoticeHandler(NoticeHandler handler) override;

  private:
    IUnitDriver& m_shared;
    CNoticeFanOut& m_notices;
    const int m_deviceId;
};

// Keys of the animal and of the unit go to a section of their own per device
// ID ("HalnorEWU_1_unit3"); a key not yet kept there reads the shared value,
// so the first run with several units starts from the one-unit settings.
class CChannelProfile final : public IProfileStore {
  public:
    CChannelProfile(IProfileStore& shared, int deviceId);
    std::int32_t readInt(const std::string& section, const std::string& key,
                         std::int32_t defaultValue) override;
    void writeInt(const std::string& section, const std::string& key, std::int32_t value) override;
    std::string readText(const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
    void writeText(const std::string& section, const std::string& key, const std::string& value) override;

    static bool perUnitKey(const std::string& key);
    std::string unitSection(const std::string& section) const;

  private:
    IProfileStore& m_shared;
    const int m_deviceId;
};

}  // namespace hx
