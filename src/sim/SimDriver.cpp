#include "sim/SimDriver.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstring>

#include "app/VirtualClock.h"

namespace hx {

namespace {

constexpr std::int64_t kNever = INT64_MAX;
constexpr const char* kInPipeSuffix = "\\if000pipe000";
constexpr const char* kOutPipeSuffix = "\\if000pipe001";
constexpr std::size_t kControlHeaderSize = 16;
constexpr int kMaxPacingWaitMs = 50;

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool endsWithNoCase(const std::string& text, const std::string& suffix, std::string& head) {
    if (text.size() < suffix.size()) return false;
    if (!equalsNoCase(text.substr(text.size() - suffix.size()), suffix)) return false;
    head = text.substr(0, text.size() - suffix.size());
    return true;
}

struct ControlHeader {
    int function = 0;
    int request = 0;
    int value = 0;
    int index = 0;
};

ControlHeader parseHeader(const std::uint8_t* in) {
    ControlHeader h;
    h.function = in[0] | (in[1] << 8);
    h.request = in[9];
    h.value = in[10] | (in[11] << 8);
    h.index = in[12] | (in[13] << 8);
    return h;
}

}  // namespace

CSimDriver::CSimDriver(IClock& clock) : m_clock(clock), m_virtual(dynamic_cast<CVirtualClock*>(&clock)) {
    m_noticeThread = std::thread([this] { noticeLoop(); });
    if (!m_virtual) m_pacingThread = std::thread([this] { pacingLoop(); });
}

CSimDriver::~CSimDriver() {
    {
        std::lock_guard lock(m_pacingMutex);
        m_stopping = true;
    }
    m_pacingWake.notify_all();
    if (m_pacingThread.joinable()) m_pacingThread.join();
    {
        std::lock_guard lock(m_noticeMutex);
        m_noticeStop = true;
    }
    m_noticeWake.notify_all();
    if (m_noticeThread.joinable()) m_noticeThread.join();
    {
        // Notices never delivered must not hold the virtual clock.
        std::lock_guard lock(m_noticeMutex);
        if (m_virtual)
            for (std::size_t i = 0; i < m_notices.size(); ++i) m_virtual->endNotice();
        m_notices.clear();
    }
    {
        std::lock_guard lock(m_scheduleMutex);
        if (m_virtual && m_scheduledId != 0) m_virtual->cancel(m_scheduledId);
        m_scheduledId = 0;
    }
    // A reader still blocked in readPipe (a receiver thread that did not stop
    // in time) is ended with Gone before the units go away.
    std::map<DriverHandle, std::shared_ptr<Handle>> handles;
    {
        std::lock_guard lock(m_tableMutex);
        handles.swap(m_handles);
    }
    for (auto& [id, handle] : handles) {
        {
            std::lock_guard lock(handle->unit->mutex());
            handle->closed = true;
        }
        handle->unit->wakeReaders();
    }
    while (m_activeReads.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard lock(m_tableMutex);
    m_units.clear();  // discards queued records, ending their activity
}

std::string CSimDriver::devicePath(std::uint16_t vendorId, std::uint16_t productId, int serial) {
    return simDevicePath(vendorId, productId, serial);
}

// ---------------------------------------------------------------------------
// Units

CSimUnit& CSimDriver::addUnit(int deviceId, SimUnitOptions options) {
    CSimUnit* unit;
    {
        std::lock_guard lock(m_tableMutex);
        // The first unit of an ID gets serial NNNN = ID; duplicates add 100 each.
        const int made = m_serialsInUse[deviceId]++;
        const int serial = deviceId + 100 * made;
        m_units.push_back(std::make_unique<CSimUnit>(deviceId, serial, m_clock, std::move(options)));
        unit = m_units.back().get();
    }
    unit->setDeadlineListener([this] { reschedule(); });
    reschedule();
    postNotice(DeviceNotice::Arrival, unit->devicePath());
    return *unit;
}

std::vector<CSimUnit*> CSimDriver::units() const {
    std::lock_guard lock(m_tableMutex);
    std::vector<CSimUnit*> out;
    for (const auto& u : m_units) out.push_back(u.get());
    return out;
}

CSimUnit* CSimDriver::unitById(int deviceId) const {
    std::lock_guard lock(m_tableMutex);
    for (const auto& u : m_units) {
        if (u->deviceId() == deviceId) return u.get();
    }
    return nullptr;
}

void CSimDriver::unplug(CSimUnit& unit) {
    if (!unit.present()) return;
    unit.pullOut();
    postNotice(DeviceNotice::Removal, unit.devicePath());
}

void CSimDriver::replug(CSimUnit& unit) {
    if (unit.present()) return;
    unit.plugIn();
    postNotice(DeviceNotice::Arrival, unit.devicePath());
}

std::optional<std::int64_t> CSimDriver::nextDeadlineMs() const {
    std::int64_t d = kNever;
    for (CSimUnit* u : units()) d = std::min(d, u->nextDeadlineMs());
    if (d == kNever) return std::nullopt;
    return d;
}

// ---------------------------------------------------------------------------
// Pacing

void CSimDriver::tick() {
    {
        std::lock_guard lock(m_scheduleMutex);
        m_scheduledId = 0;
    }
    const std::int64_t now = m_clock.nowMs();
    for (CSimUnit* u : units()) u->advanceTo(now);
    reschedule();
}

void CSimDriver::reschedule() {
    if (!m_virtual) {
        {
            std::lock_guard lock(m_pacingMutex);
            m_pacingDirty = true;
        }
        m_pacingWake.notify_all();
        return;
    }
    // Worked out under the schedule lock, so a late caller with an old answer
    // cannot replace an earlier deadline.
    std::lock_guard lock(m_scheduleMutex);
    std::int64_t d = kNever;
    for (CSimUnit* u : units()) d = std::min(d, u->nextDeadlineMs());
    if (m_scheduledId != 0 && d == m_scheduledAt) return;
    if (m_scheduledId != 0) m_virtual->cancel(m_scheduledId);
    m_scheduledId = 0;
    if (d == kNever) return;
    m_scheduledAt = d;
    m_scheduledId = m_virtual->schedule(d, [this] { tick(); });
}

void CSimDriver::pacingLoop() {
    std::unique_lock lock(m_pacingMutex);
    while (!m_stopping) {
        m_pacingDirty = false;
        lock.unlock();
        const std::int64_t now = m_clock.nowMs();
        std::int64_t next = kNever;
        for (CSimUnit* u : units()) {
            u->advanceTo(now);
            next = std::min(next, u->nextDeadlineMs());
        }
        lock.lock();
        if (m_stopping) break;
        const std::int64_t wait =
            next == kNever ? kMaxPacingWaitMs : std::clamp<std::int64_t>(next - now, 1, kMaxPacingWaitMs);
        // A unit whose next event moved while we were advancing says so.
        m_pacingWake.wait_for(lock, std::chrono::milliseconds(wait),
                              [this] { return m_stopping || m_pacingDirty; });
    }
}

// ---------------------------------------------------------------------------
// Notices

void CSimDriver::refuseNotices(LinkError cause) {
    std::lock_guard lock(m_noticeMutex);
    m_noticeRefusal = cause;
}

LinkError CSimDriver::setNoticeHandler(NoticeHandler handler) {
    std::lock_guard lock(m_noticeMutex);
    if (m_noticeRefusal != LinkError::None) {
        m_noticeHandler = nullptr;
        return m_noticeRefusal;
    }
    m_noticeHandler = std::move(handler);
    return LinkError::None;
}

void CSimDriver::refuseOpening(LinkError cause) { m_openRefusal = cause; }

void CSimDriver::postNotice(DeviceNotice notice, const std::string& path) {
    {
        std::lock_guard lock(m_noticeMutex);
        if (!m_noticeHandler || m_noticeRefusal != LinkError::None) return;
        m_notices.emplace_back(notice, path);
        // In virtual time a notice counts as in flight until its handler returns.
        if (m_virtual) m_virtual->beginNotice();
    }
    m_noticeWake.notify_all();
}

void CSimDriver::noticeLoop() {
    std::unique_lock lock(m_noticeMutex);
    for (;;) {
        m_noticeWake.wait(lock, [this] { return m_noticeStop || !m_notices.empty(); });
        if (m_noticeStop) return;
        auto [notice, path] = m_notices.front();
        m_notices.pop_front();
        NoticeHandler handler = m_noticeHandler;
        m_noticeBusy = true;
        lock.unlock();
        if (handler) handler(notice, path);
        if (m_virtual) m_virtual->endNotice();
        lock.lock();
        m_noticeBusy = false;
        m_noticeDone.notify_all();
    }
}

void CSimDriver::flushNotices() {
    std::unique_lock lock(m_noticeMutex);
    m_noticeDone.wait(lock, [this] { return m_noticeStop || (m_notices.empty() && !m_noticeBusy); });
}

// ---------------------------------------------------------------------------
// The driver's contract

std::vector<std::string> CSimDriver::presentInterfaces() {
    std::vector<std::string> paths;
    for (CSimUnit* u : units()) {
        if (u->present()) paths.push_back(u->devicePath());
    }
    return paths;
}

LinkResult<DriverHandle> CSimDriver::open(const std::string& path) {
    if (const LinkError refusal = m_openRefusal.load(); refusal != LinkError::None)
        return {kInvalidHandle, refusal};
    CSimUnit* unit = nullptr;
    HandleKind kind = HandleKind::Unit;
    for (CSimUnit* candidate : units()) {
        if (!candidate->present()) continue;
        std::string head;
        if (equalsNoCase(path, candidate->devicePath())) {
            kind = HandleKind::Unit;
        } else if (endsWithNoCase(path, kInPipeSuffix, head) && equalsNoCase(head, candidate->devicePath())) {
            kind = HandleKind::InPipe;
        } else if (endsWithNoCase(path, kOutPipeSuffix, head) &&
                   equalsNoCase(head, candidate->devicePath())) {
            kind = HandleKind::OutPipe;
        } else {
            continue;
        }
        unit = candidate;
        break;
    }
    if (unit == nullptr) return {kInvalidHandle, LinkError::UnitGone};
    auto handle = std::make_shared<Handle>();
    handle->unit = unit;
    handle->kind = kind;
    // Counted outside the table lock: the unit calls back into the driver.
    handle->generation = kind == HandleKind::InPipe ? unit->readerOpened() : unit->generation();
    std::lock_guard lock(m_tableMutex);
    const DriverHandle id = m_nextHandle++;
    m_handles.emplace(id, std::move(handle));
    return {id, LinkError::None};
}

void CSimDriver::close(DriverHandle id) {
    std::shared_ptr<Handle> handle;
    {
        std::lock_guard lock(m_tableMutex);
        auto it = m_handles.find(id);
        if (it == m_handles.end()) return;
        handle = it->second;
        m_handles.erase(it);
    }
    {
        std::lock_guard lock(handle->unit->mutex());
        handle->closed = true;
    }
    handle->unit->wakeReaders();
    if (handle->kind == HandleKind::InPipe) handle->unit->readerClosed(handle->generation);
}

std::shared_ptr<CSimDriver::Handle> CSimDriver::findHandle(DriverHandle id) const {
    std::lock_guard lock(m_tableMutex);
    auto it = m_handles.find(id);
    return it == m_handles.end() ? nullptr : it->second;
}

LinkError CSimDriver::ioControl(DriverHandle id, std::uint32_t code, const std::uint8_t* in,
                                std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                                std::size_t* returned) {
    if (returned) *returned = 0;
    const auto handle = findHandle(id);
    if (!handle) return LinkError::UnitGone;
    CSimUnit& unit = *handle->unit;
    // A handle of an earlier plug-in is dead even when the unit is back.
    if (!unit.present() || handle->generation != unit.generation()) return LinkError::UnitGone;
    const bool onUnit = handle->kind == HandleKind::Unit;
    auto done = [](bool ok) { return ok ? LinkError::None : LinkError::Protocol; };

    switch (code) {
        case kIoctlResetUnit:
            if (!onUnit || in == nullptr || inLength < 1) return LinkError::Protocol;
            return unit.resetUnit() ? LinkError::None : LinkError::Io;
        case kIoctlResetPipe:
            return done(!onUnit && unit.resetPipe());
        case kIoctlGetDescriptor: {
            if (!onUnit || in == nullptr || inLength < 4 || in[0] != 1 || out == nullptr)
                return LinkError::Protocol;
            std::uint8_t d[18];
            unit.descriptor(d);
            const std::size_t n = std::min<std::size_t>(18, outLength);
            std::memcpy(out, d, n);
            if (returned) *returned = n;
            return LinkError::None;
        }
        case kIoctlGetConfiguration: {
            if (!onUnit || out == nullptr || outLength < 4) return LinkError::Protocol;
            const std::uint32_t value = unit.configured() ? 1 : 0;
            for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
            if (returned) *returned = 4;
            return LinkError::None;
        }
        case kIoctlControlRead: {
            if (!onUnit || in == nullptr || inLength < kControlHeaderSize) return LinkError::Protocol;
            const ControlHeader h = parseHeader(in);
            // The unit takes vendor requests to the device only.
            if (h.function != 0x17) return LinkError::Protocol;
            const int n = unit.controlIn(h.request, h.value, h.index, out, out ? outLength : 0);
            if (n < 0) return LinkError::Protocol;
            if (returned) *returned = static_cast<std::size_t>(n);
            return LinkError::None;
        }
        case kIoctlControlWrite: {
            if (!onUnit || in == nullptr || inLength < kControlHeaderSize) return LinkError::Protocol;
            const ControlHeader h = parseHeader(in);
            if (h.function != 0x17) return LinkError::Protocol;
            return done(unit.controlOut(h.request, h.value, h.index, in + kControlHeaderSize,
                                        inLength - kControlHeaderSize));
        }
        default:
            return LinkError::Protocol;
    }
}

PipeReadResult CSimDriver::readPipe(DriverHandle id, std::uint8_t* buffer, std::size_t length) {
    return read(id, buffer, length, true);
}

PipeReadResult CSimDriver::readPipeNow(DriverHandle id, std::uint8_t* buffer, std::size_t length) {
    // In real time the pacing thread fills the pipe: a read that does not wait
    // would only make its caller spin.
    return read(id, buffer, length, !virtualTime());
}

PipeReadResult CSimDriver::read(DriverHandle id, std::uint8_t* buffer, std::size_t length, bool wait) {
    struct ActiveRead {
        std::atomic<int>& count;
        explicit ActiveRead(std::atomic<int>& c) : count(c) { ++count; }
        ~ActiveRead() { --count; }
    } active(m_activeReads);
    PipeReadResult result;
    const auto handle = findHandle(id);
    if (!handle) {
        result.error = LinkError::UnitGone;
        return result;
    }
    if (handle->kind != HandleKind::InPipe) {
        result.error = LinkError::Protocol;
        return result;
    }
    CSimUnit::ReadTicket ticket;
    ticket.generation = handle->generation;
    ticket.cancelled = &handle->cancelled;
    ticket.closed = &handle->closed;
    // The handle (and so the flags) stays alive through the shared pointer.
    return handle->unit->readRecord(ticket, buffer, length, wait);
}

void CSimDriver::cancelRead(DriverHandle id) {
    const auto handle = findHandle(id);
    if (!handle) return;
    {
        std::lock_guard lock(handle->unit->mutex());
        handle->cancelled = true;
    }
    handle->unit->wakeReaders();
}

LinkError CSimDriver::writePipe(DriverHandle id, const std::uint8_t* data, std::size_t length) {
    const auto handle = findHandle(id);
    if (!handle) return LinkError::UnitGone;
    if (handle->kind != HandleKind::OutPipe) return LinkError::Protocol;
    CSimUnit& unit = *handle->unit;
    if (!unit.present() || handle->generation != unit.generation()) return LinkError::UnitGone;
    return unit.pipeWrite(data, length) ? LinkError::None : LinkError::Protocol;
}

}  // namespace hx
