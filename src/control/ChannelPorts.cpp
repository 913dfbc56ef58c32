#include "control/ChannelPorts.h"

#include <cerrno>

#include "app/LogChannel.h"
#include "usb/DeviceDiscovery.h"

namespace hx {

std::string channelLogTag(int deviceId) { return "dev=" + std::to_string(deviceId + 1); }

CLogTagScope::CLogTagScope(int deviceId) : m_previous(threadLogTag()) {
    setThreadLogTag(channelLogTag(deviceId));
}

CLogTagScope::~CLogTagScope() { setThreadLogTag(std::move(m_previous)); }

// ---- event loop -------------------------------------------------------------

CChannelLoop::CChannelLoop(IEventLoop& shared, int deviceId, std::function<void(int)> onQuit)
    : m_shared(shared), m_deviceId(deviceId), m_onQuit(std::move(onQuit)) {}

void CChannelLoop::post(WindowMessage message) {
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(message));
    }
    m_shared.post(WindowMessage{kMsgChannelWork, static_cast<std::uintptr_t>(m_deviceId), 0, {}});
}

void CChannelLoop::deliverQueued() {
    WindowMessage message;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty()) return;
        message = std::move(m_queue.front());
        m_queue.pop_front();
    }
    CLogTagScope tag(m_deviceId);
    if (m_target) m_target->handleMessage(message);
}

bool CChannelLoop::send(WindowMessage message, CEvent* abort) {
    return m_shared.invoke(
        [this, message = std::move(message)] {
            CLogTagScope tag(m_deviceId);
            if (m_target) m_target->handleMessage(message);
        },
        abort);
}

bool CChannelLoop::invoke(std::function<void()> fn, CEvent* abort) {
    return m_shared.invoke(
        [this, fn = std::move(fn)] {
            CLogTagScope tag(m_deviceId);
            fn();
        },
        abort);
}

int CChannelLoop::sharedTimerId(int timerId) const { return kChannelTimerBase * (m_deviceId + 1) + timerId; }

void CChannelLoop::startTimer(int timerId, int periodMs) {
    m_shared.startTimer(sharedTimerId(timerId), periodMs);
}

void CChannelLoop::killTimer(int timerId) { m_shared.killTimer(sharedTimerId(timerId)); }

bool CChannelLoop::timerRunning(int timerId) const { return m_shared.timerRunning(sharedTimerId(timerId)); }

void CChannelLoop::deliverTimer(int timerId) {
    CLogTagScope tag(m_deviceId);
    if (m_target) m_target->handleTimer(timerId);
}

bool CChannelLoop::pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    return m_shared.pumpUntil(done, timeoutMs);
}

void CChannelLoop::setQuietCondition(std::function<bool()> condition) {
    std::lock_guard lock(m_mutex);
    m_quietCondition = std::move(condition);
}

bool CChannelLoop::addPoller(const void* owner, std::function<bool()> work) {
    return m_shared.addPoller(owner, [this, work = std::move(work)] {
        CLogTagScope tag(m_deviceId);
        return work();
    });
}

bool CChannelLoop::quiet() const {
    std::lock_guard lock(m_mutex);
    return m_quietCondition && m_quietCondition();
}

// ---- device notices ---------------------------------------------------------

bool CNoticeFanOut::attach(IUnitDriver& driver, IUnitDriver::NoticeHandler setHandler) {
    m_setHandler = std::move(setHandler);
    m_attachError = driver.setNoticeHandler(
        [this](DeviceNotice notice, const std::string& path) { deliver(notice, path); });
    m_attached = m_attachError == LinkError::None;
    return m_attached;
}

void CNoticeFanOut::detach(IUnitDriver& driver) {
    driver.setNoticeHandler(nullptr);
    m_attached = false;
}

void CNoticeFanOut::setChannelHandler(int deviceId, IUnitDriver::NoticeHandler handler) {
    std::lock_guard lock(m_mutex);
    if (handler)
        m_handlers[deviceId] = std::move(handler);
    else
        m_handlers.erase(deviceId);
}

void CNoticeFanOut::deliver(DeviceNotice notice, const std::string& path) {
    std::lock_guard lock(m_mutex);
    if (m_setHandler) m_setHandler(notice, path);
    auto it = m_handlers.find(deviceIdFromPath(path));
    if (it != m_handlers.end()) it->second(notice, path);
}

// ---- driver -----------------------------------------------------------------

std::vector<std::string> CChannelDriver::presentInterfaces() {
    std::vector<std::string> own;
    for (std::string& path : m_shared.presentInterfaces())
        if (deviceIdFromPath(path) == m_deviceId) own.push_back(std::move(path));
    return own;
}

LinkError CChannelDriver::setNoticeHandler(NoticeHandler handler) {
    if (!m_notices.attached()) return m_notices.attachError();
    m_notices.setChannelHandler(m_deviceId, std::move(handler));
    return LinkError::None;
}

// ---- profile ----------------------------------------------------------------

CChannelProfile::CChannelProfile(IProfileStore& shared, int deviceId)
    : m_shared(shared), m_deviceId(deviceId) {}

bool CChannelProfile::perUnitKey(const std::string& key) {
    // The animal texts, the data folder, timer mode and the unit's menu settings.
    static const char* const kKeys[] = {"ID_NO",   "STUDY_NO",   "WEIGHT",   "SEXAGE",
                                        "COMMENT", "dataFolder", "timerMode"};
    for (const char* k : kKeys)
        if (key == k) return true;
    return key.rfind("SETTING_", 0) == 0;
}

std::string CChannelProfile::unitSection(const std::string& section) const {
    return section + "_unit" + std::to_string(m_deviceId + 1);
}

std::int32_t CChannelProfile::readInt(const std::string& section, const std::string& key,
                                      std::int32_t defaultValue) {
    if (!perUnitKey(key)) return m_shared.readInt(section, key, defaultValue);
    return m_shared.readInt(unitSection(section), key, m_shared.readInt(section, key, defaultValue));
}

void CChannelProfile::writeInt(const std::string& section, const std::string& key, std::int32_t value) {
    // The window's place (frameLeft, frameTop, ...) is the one-unit window's: a
    // channel has no window of its own and leaves it as it was at its end.
    if (key.rfind("frame", 0) == 0) return;
    m_shared.writeInt(perUnitKey(key) ? unitSection(section) : section, key, value);
}

std::string CChannelProfile::readText(const std::string& section, const std::string& key,
                                      const std::string& defaultValue) {
    if (!perUnitKey(key)) return m_shared.readText(section, key, defaultValue);
    return m_shared.readText(unitSection(section), key, m_shared.readText(section, key, defaultValue));
}

void CChannelProfile::writeText(const std::string& section, const std::string& key,
                                const std::string& value) {
    m_shared.writeText(perUnitKey(key) ? unitSection(section) : section, key, value);
}

}  // namespace hx
