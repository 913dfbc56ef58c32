#pragma once
// Several units at once: one channel per attached unit, each the whole
// program of one unit (its application shell with document and controller),
// all on one event loop, one driver, one diagnostic log and one control
// socket. A unit plugged in later gets a channel; a pulled unit's channel
// stays and connects again by itself when the unit comes back. Nothing of a
// channel is shared with another: the loop, the driver and the profile each
// channel sees are its own views of the shared ones (ChannelPorts.h).

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/ApplicationShell.h"
#include "control/ChannelPorts.h"
#include "control/ControlSocket.h"

namespace hx {

class CChannelSet;

class CChannel {
  public:
    int deviceId() const { return m_deviceId; }  // zero-based, as the document keeps it
    CApplicationShell& shell() { return *m_shell; }
    CMainController& controller() { return m_shell->controller(); }
    CHalnor55KUDoc& document() { return m_shell->document(); }
    IUiPort& ui() { return *m_ui; }
    CChannelLoop& loop() { return m_loop; }
    // The window property of this channel (15, then 272 + device ID).
    int property() const { return m_property.load(); }
    // The channel's front end ended its run (a console goal met or failed).
    bool finished() const { return m_finished; }
    int status() const { return m_status; }

    // What the front end keeps for this channel (destroyed before the shell).
    std::shared_ptr<void> frontEnd;

    CChannel(CChannelSet& set, int deviceId);
    ~CChannel();
    CChannel(const CChannel&) = delete;
    CChannel& operator=(const CChannel&) = delete;

  private:
    friend class CChannelSet;
    const int m_deviceId;
    CChannelLoop m_loop;
    CChannelDriver m_driver;
    CChannelProfile m_profile;
    std::unique_ptr<IUiPort> m_ui;
    std::unique_ptr<CApplicationShell> m_shell;
    std::atomic<int> m_property{15};
    bool m_finished = false;
    int m_status = 0;
};

using ChannelSetPorts = ProgramPorts;

// How a front end takes part in each channel's life; every call on the UI thread.
struct ChannelHooks {
    // The channel's UI port, made before its start-up (required).
    std::function<std::unique_ptr<IUiPort>(CChannel&)> makeUi;
    // Before the channel's first enumeration (the shell's showWindow step).
    std::function<void(CChannel&)> beforeEnumeration;
    // After the channel's start-up.
    std::function<void(CChannel&)> started;
    // The channel's front end ended its run with this status (see finished()).
    std::function<void(CChannel&, int status)> finished;
    // Once a second of the loop's time.
    std::function<void()> second;
    // At start-up, when no unit can be looked for at all (the units' USB vendor
    // ID is not set): what to tell the user, as the one-unit program's error pane says it.
    std::function<void(const std::string& text)> searchProblem;
};

class CChannelSet final : public IMessageTarget {
  public:
    static constexpr std::size_t kMaxChannels = 16;

    CChannelSet(ChannelSetPorts ports, ChannelHooks hooks);
    ~CChannelSet() override;
    CChannelSet(const CChannelSet&) = delete;
    CChannelSet& operator=(const CChannelSet&) = delete;

    // Takes the loop, the driver's notices and the control socket, and opens
    // a channel for each attached unit (in device ID order).
    void startUp();
    // Ends every channel through its shell's shut-down; idempotent.
    void shutDown();

    std::size_t size() const { return m_channels.size(); }
    CChannel& at(std::size_t i) { return *m_channels[i]; }
    CChannel* find(int deviceId);
    // A channel for the unit with this device ID (made and started when new);
    // null beyond kMaxChannels or for an ID a unit cannot carry.
    CChannel* channelFor(int deviceId);
    // Every channel's front end has ended its run.
    bool allFinished() const;
    CControlSocket* controlSocket() { return m_controlSocket.get(); }

    // IMessageTarget
    void handleMessage(const WindowMessage& message) override;
    void handleTimer(int timerId) override;

  private:
    friend class CChannel;
    static constexpr int kTimerRecheck = 1;  // without device notices: look for new units
    static constexpr int kTimerSecond = 2;
    void addAttachedUnits();
    void channelQuit(CChannel& channel, int status);

    ChannelSetPorts m_ports;
    ChannelHooks m_hooks;
    CNoticeFanOut m_notices;
    std::vector<std::unique_ptr<CChannel>> m_channels;  // grows only; guarded for the socket by m_mutex
    mutable std::mutex m_mutex;
    std::unique_ptr<CControlSocket> m_controlSocket;
    bool m_running = false;
    bool m_companionStarted = false;
};

}  // namespace hx
