#include "control/ChannelSet.h"

#include <algorithm>

#include "app/LogChannel.h"
#include "control/DisplayTexts.h"
#include "usb/DeviceDiscovery.h"

namespace hx {

namespace {
// Driver thread -> UI thread: a unit arrived; wParam: its device ID.
constexpr std::uint32_t kMsgUnitArrived = WM_USER + 0x201;
}  // namespace

CChannel::CChannel(CChannelSet& set, int deviceId)
    : m_deviceId(deviceId),
      m_loop(*set.m_ports.loop, deviceId, [&set, this](int status) { set.channelQuit(*this, status); }),
      m_driver(*set.m_ports.driver, set.m_notices, deviceId),
      m_profile(*set.m_ports.profile, deviceId) {}

CChannel::~CChannel() {
    frontEnd.reset();
    m_shell.reset();
}

CChannelSet::CChannelSet(ChannelSetPorts ports, ChannelHooks hooks)
    : m_ports(std::move(ports)), m_hooks(std::move(hooks)) {}

CChannelSet::~CChannelSet() { shutDown(); }

void CChannelSet::startUp() {
    IEventLoop& loop = *m_ports.loop;
    loop.setTarget(this);
    // Time may pass while any channel's receiver waits for its channel to act.
    loop.setQuietCondition([this] {
        return std::any_of(m_channels.begin(), m_channels.end(),
                           [](const std::unique_ptr<CChannel>& c) { return c->m_loop.quiet(); });
    });
    const bool notices =
        m_notices.attach(*m_ports.driver, [&loop](DeviceNotice notice, const std::string& path) {
            if (notice != DeviceNotice::Arrival) return;
            const std::int16_t id = deviceIdFromPath(path);
            loop.post(WindowMessage{kMsgUnitArrived, static_cast<std::uintptr_t>(id), 0, {}});
        });
    if (!notices) loop.startTimer(kTimerRecheck, kRecheckIntervalMs);
    if (m_notices.attachError() == LinkError::NotConfigured && m_hooks.searchProblem)
        m_hooks.searchProblem(linkProblemText(0, LinkError::NotConfigured));
    loop.startTimer(kTimerSecond, 1000);

    m_controlSocket = std::make_unique<CControlSocket>([](int) {}, m_ports.controlFolder);
    m_controlSocket->setChannels(
        [this] {
            std::lock_guard lock(m_mutex);
            std::vector<CControlSocket::ChannelEntry> list;
            for (const auto& channel : m_channels)
                list.push_back({channel->deviceId() + 1, channel->property()});
            return list;
        },
        [this](int deviceId, int command) {
            std::lock_guard lock(m_mutex);
            for (const auto& channel : m_channels) {
                if (channel->deviceId() != deviceId - 1) continue;
                channel->m_loop.post(WindowMessage{WM_COMMAND, static_cast<std::uintptr_t>(command), 0, {}});
                return true;
            }
            return false;
        });
    m_running = true;
    addAttachedUnits();
}

void CChannelSet::addAttachedUnits() {
    std::vector<std::int16_t> ids = findUnitIds(*m_ports.driver);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (std::int16_t id : ids) channelFor(id);
}

CChannel* CChannelSet::find(int deviceId) {
    for (const auto& channel : m_channels)
        if (channel->deviceId() == deviceId) return channel.get();
    return nullptr;
}

CChannel* CChannelSet::channelFor(int deviceId) {
    if (CChannel* existing = find(deviceId)) return existing;
    if (!m_running || deviceId < 0 || deviceId >= 16 || m_channels.size() >= kMaxChannels) return nullptr;
    auto made = std::make_unique<CChannel>(*this, deviceId);
    CChannel& channel = *made;
    {
        std::lock_guard lock(m_mutex);
        m_channels.push_back(std::move(made));
    }
    CLogTagScope tag(deviceId);
    writeLogLinef('N', 'S', "Channel opened for device ID %d", deviceId + 1);
    channel.m_ui = m_hooks.makeUi(channel);
    ShellPorts ports(m_ports, channel.m_ui.get());
    ports.loop = &channel.m_loop;
    ports.profile = &channel.m_profile;
    ports.driver = &channel.m_driver;
    ports.startCompanion = m_ports.startCompanion && !m_companionStarted;
    ports.controlSocket = false;
    m_companionStarted = true;
    channel.m_shell = std::make_unique<CApplicationShell>(ports);
    channel.m_shell->startUp([this, &channel] {
        channel.controller().setPropertyListener([&channel](int value) { channel.m_property = value; });
        channel.document().setPresetDeviceId(static_cast<std::int16_t>(channel.deviceId()));
        if (m_hooks.beforeEnumeration) m_hooks.beforeEnumeration(channel);
    });
    if (m_hooks.started) m_hooks.started(channel);
    return &channel;
}

bool CChannelSet::allFinished() const {
    return std::all_of(m_channels.begin(), m_channels.end(),
                       [](const std::unique_ptr<CChannel>& c) { return c->finished(); });
}

void CChannelSet::channelQuit(CChannel& channel, int status) {
    if (channel.m_finished) return;
    channel.m_finished = true;
    channel.m_status = status;
    if (m_hooks.finished) m_hooks.finished(channel, status);
}

void CChannelSet::handleMessage(const WindowMessage& message) {
    if (message.id == kMsgChannelWork) {
        if (CChannel* channel = find(static_cast<int>(message.wParam))) channel->m_loop.deliverQueued();
    } else if (message.id == kMsgUnitArrived) {
        channelFor(static_cast<int>(message.wParam));
    }
}

void CChannelSet::handleTimer(int timerId) {
    if (timerId >= kChannelTimerBase) {
        if (CChannel* channel = find(timerId / kChannelTimerBase - 1))
            channel->m_loop.deliverTimer(timerId % kChannelTimerBase);
    } else if (timerId == kTimerRecheck) {
        addAttachedUnits();
    } else if (timerId == kTimerSecond) {
        if (m_hooks.second) m_hooks.second();
    }
}

void CChannelSet::shutDown() {
    if (!m_running) return;
    m_running = false;
    IEventLoop& loop = *m_ports.loop;
    loop.killTimer(kTimerRecheck);
    loop.killTimer(kTimerSecond);
    m_controlSocket.reset();
    for (const auto& channel : m_channels) {
        CLogTagScope tag(channel->deviceId());
        if (!channel->m_shell) continue;
        channel->m_loop.setTarget(&channel->controller());
        channel->frontEnd.reset();
        channel->m_shell->shutDown();
    }
    m_notices.detach(*m_ports.driver);
    loop.setQuietCondition(nullptr);
    loop.setTarget(nullptr);
}

}  // namespace hx
