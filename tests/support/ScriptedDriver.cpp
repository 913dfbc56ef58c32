#include "support/ScriptedDriver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace hx::test {

int ScriptedDriver::addUnit(std::uint16_t productId, std::uint16_t vendorId) {
    char path[128];
    std::snprintf(path, sizeof path, "/dev/scripted/%zu/vid_%04x&pid_%04x#unit", m_units.size(), vendorId,
                  productId);
    return addUnitWithPath(path, productId, vendorId);
}

int ScriptedDriver::addUnitWithPath(std::string path, std::uint16_t productId, std::uint16_t vendorId) {
    std::lock_guard lock(m_mutex);
    Unit unit;
    unit.path = std::move(path);
    unit.descriptor.productId = productId;
    unit.descriptor.vendorId = vendorId;
    unit.descriptor.bcdDevice = 0x0100;
    m_units.push_back(unit);
    return static_cast<int>(m_units.size()) - 1;
}

ScriptedDriver::Unit& ScriptedDriver::unit(int index) { return m_units.at(static_cast<std::size_t>(index)); }

void ScriptedDriver::setControlReply(std::uint8_t request, std::vector<std::uint8_t> reply) {
    std::lock_guard lock(m_mutex);
    m_controlReplies[request] = std::move(reply);
}

void ScriptedDriver::failControl(std::uint8_t request, bool fail) {
    std::lock_guard lock(m_mutex);
    if (fail) {
        m_failingControls.insert(request);
    } else {
        m_failingControls.erase(request);
    }
}

void ScriptedDriver::setResetUnitResult(bool ok) {
    std::lock_guard lock(m_mutex);
    m_resetUnitOk = ok;
}

void ScriptedDriver::holdUnitResets(bool hold) {
    std::lock_guard lock(m_mutex);
    m_holdResets = hold;
    m_changed.notify_all();
}

bool ScriptedDriver::waitForHeldReset(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_heldResets > 0; });
}

void ScriptedDriver::setResetPipeResult(bool ok) {
    std::lock_guard lock(m_mutex);
    m_resetPipeOk = ok;
}

void ScriptedDriver::setWriteResult(bool ok) {
    std::lock_guard lock(m_mutex);
    m_writeOk = ok;
}

void ScriptedDriver::queueRecord(std::vector<std::uint8_t> bytes, bool waited) {
    queueRead({LinkError::None, std::move(bytes), waited});
}

void ScriptedDriver::queueRead(ScriptedRead read) {
    std::lock_guard lock(m_mutex);
    m_inbound.push_back(std::move(read));
    m_changed.notify_all();
}

bool ScriptedDriver::waitForReads(int count, int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_readsStarted >= count; });
}

int ScriptedDriver::readsStarted() const {
    std::lock_guard lock(m_mutex);
    return m_readsStarted;
}

bool ScriptedDriver::queueEmpty() const {
    std::lock_guard lock(m_mutex);
    return m_inbound.empty();
}

std::vector<IoCall> ScriptedDriver::calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<IoCall> ScriptedDriver::calls(std::uint32_t code) const {
    std::vector<IoCall> all = calls();
    std::erase_if(all, [code](const IoCall& call) { return call.code != code; });
    return all;
}

std::vector<SeenControl> ScriptedDriver::controls() const {
    std::vector<SeenControl> seen;
    for (const IoCall& call : calls()) {
        if (call.code != kIoctlControlRead && call.code != kIoctlControlWrite) continue;
        auto header = decodeControlHeader(call.input.data(), call.input.size());
        if (!header) continue;
        SeenControl control{*header, {}, call.outLength};
        if (call.code == kIoctlControlWrite)
            control.data.assign(call.input.begin() + kControlHeaderSize, call.input.end());
        seen.push_back(control);
    }
    return seen;
}

std::vector<std::vector<std::uint8_t>> ScriptedDriver::writes() const {
    std::lock_guard lock(m_mutex);
    return m_writes;
}

std::vector<std::string> ScriptedDriver::openedPaths() const {
    std::lock_guard lock(m_mutex);
    return m_openedPaths;
}

std::vector<DriverHandle> ScriptedDriver::closedHandles() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

int ScriptedDriver::openHandleCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_open.size());
}

std::string ScriptedDriver::pathOf(DriverHandle handle) const {
    std::lock_guard lock(m_mutex);
    auto it = m_open.find(handle);
    if (it == m_open.end()) return {};
    const std::string& unitPath = m_units[static_cast<std::size_t>(it->second.unit)].path;
    if (it->second.pipe < 0) return unitPath;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "\\if000pipe%03d", it->second.pipe);
    return unitPath + suffix;
}

int ScriptedDriver::cancelCount() const {
    std::lock_guard lock(m_mutex);
    return m_cancels;
}

void ScriptedDriver::clearLog() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
    m_writes.clear();
    m_openedPaths.clear();
    m_closed.clear();
}

std::vector<std::string> ScriptedDriver::presentInterfaces() {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> paths;
    for (const Unit& unit : m_units) {
        if (unit.present) paths.push_back(unit.path);
    }
    return paths;
}

LinkResult<DriverHandle> ScriptedDriver::open(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_openedPaths.push_back(path);
    for (std::size_t i = 0; i < m_units.size(); ++i) {
        const Unit& unit = m_units[i];
        if (!unit.present || path.compare(0, unit.path.size(), unit.path) != 0) continue;
        std::string rest = path.substr(unit.path.size());
        Opened opened{static_cast<int>(i), -1};
        if (rest.empty()) {
            if (unit.openError != LinkError::None) return {kInvalidHandle, unit.openError};
        } else {
            int pipe = -1;
            char tail = 0;
            if (std::sscanf(rest.c_str(), "\\if000pipe%3d%c", &pipe, &tail) != 1 || rest.size() != 13)
                continue;
            if (pipe > 1 || unit.failingPipes.count(pipe) != 0) return {kInvalidHandle, LinkError::Busy};
            opened.pipe = pipe;
        }
        DriverHandle handle = m_nextHandle++;
        m_open[handle] = opened;
        return {handle, LinkError::None};
    }
    return {kInvalidHandle, LinkError::UnitGone};
}

void ScriptedDriver::close(DriverHandle handle) {
    std::lock_guard lock(m_mutex);
    m_closed.push_back(handle);
    m_open.erase(handle);
    m_cancelled.erase(handle);
    m_changed.notify_all();
}

LinkError ScriptedDriver::ioControl(DriverHandle handle, std::uint32_t code, const std::uint8_t* in,
                                    std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                                    std::size_t* returned) {
    std::unique_lock lock(m_mutex);
    if (code == kIoctlResetUnit && m_holdResets) {
        ++m_heldResets;
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return !m_holdResets; });
        --m_heldResets;
    }
    *returned = 0;
    IoCall call{handle, code, {}, outLength};
    if (in != nullptr) call.input.assign(in, in + inLength);
    m_calls.push_back(call);
    auto it = m_open.find(handle);
    if (it == m_open.end()) return LinkError::UnitGone;
    return answer(it->second, code, in, inLength, out, outLength, returned);
}

LinkError ScriptedDriver::answer(const Opened& target, std::uint32_t code, const std::uint8_t* in,
                                 std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                                 std::size_t* returned) {
    const Unit& unit = m_units[static_cast<std::size_t>(target.unit)];
    auto give = [&](const std::uint8_t* bytes, std::size_t count) {
        count = std::min(count, outLength);
        if (count > 0) std::memcpy(out, bytes, count);
        *returned = count;
    };
    auto done = [](bool ok) { return ok ? LinkError::None : LinkError::Io; };
    switch (code) {
        case kIoctlResetPipe:
            return done(target.pipe >= 0 && m_resetPipeOk);
        case kIoctlResetUnit:
            return done(target.pipe < 0 && inLength == 1 && in[0] == 15 && m_resetUnitOk);
        case kIoctlGetDescriptor: {
            if (!unit.descriptorReadable || inLength != kDescriptorRequestSize) return LinkError::Protocol;
            auto bytes = makeDeviceDescriptor(unit.descriptor);
            give(bytes.data(), bytes.size());
            return LinkError::None;
        }
        case kIoctlGetConfiguration: {
            std::uint8_t bytes[4] = {static_cast<std::uint8_t>(unit.configuration),
                                     static_cast<std::uint8_t>(unit.configuration >> 8),
                                     static_cast<std::uint8_t>(unit.configuration >> 16),
                                     static_cast<std::uint8_t>(unit.configuration >> 24)};
            give(bytes, sizeof bytes);
            return LinkError::None;
        }
        case kIoctlControlRead:
        case kIoctlControlWrite: {
            auto header = decodeControlHeader(in, inLength);
            if (!header || m_failingControls.count(header->request) != 0) return LinkError::Protocol;
            if (code == kIoctlControlRead) {
                const std::vector<std::uint8_t>& reply = m_controlReplies[header->request];
                give(reply.data(), reply.size());
            }
            return LinkError::None;
        }
        default:
            return LinkError::Protocol;
    }
}

PipeReadResult ScriptedDriver::readPipe(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) {
    return read(pipe, buffer, length, true);
}

PipeReadResult ScriptedDriver::readPipeNow(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) {
    return read(pipe, buffer, length, !m_readsWithoutWaiting);
}

PipeReadResult ScriptedDriver::read(DriverHandle pipe, std::uint8_t* buffer, std::size_t length, bool wait) {
    std::unique_lock lock(m_mutex);
    ++m_readsStarted;
    m_changed.notify_all();
    auto ready = [&] {
        return !m_inbound.empty() || m_cancelled.count(pipe) != 0 || m_open.count(pipe) == 0;
    };
    if (!wait && !ready()) return {LinkError::None, 0, false};
    m_changed.wait(lock, ready);
    if (m_cancelled.count(pipe) != 0) return {LinkError::Cancelled, 0, true};
    if (m_open.count(pipe) == 0) return {LinkError::UnitGone, 0, true};
    ScriptedRead read = std::move(m_inbound.front());
    m_inbound.pop_front();
    m_changed.notify_all();
    std::size_t count = std::min(read.bytes.size(), length);
    if (count > 0) std::memcpy(buffer, read.bytes.data(), count);
    return {read.error, read.error == LinkError::None ? count : 0, read.waited};
}

void ScriptedDriver::cancelRead(DriverHandle pipe) {
    std::lock_guard lock(m_mutex);
    ++m_cancels;
    if (m_open.count(pipe) != 0) m_cancelled.insert(pipe);
    m_changed.notify_all();
}

LinkError ScriptedDriver::writePipe(DriverHandle pipe, const std::uint8_t* data, std::size_t length) {
    std::lock_guard lock(m_mutex);
    auto it = m_open.find(pipe);
    if (it == m_open.end() || it->second.pipe != 1) return LinkError::UnitGone;
    m_writes.emplace_back(data, data + length);
    return m_writeOk ? LinkError::None : LinkError::Io;
}

LinkError ScriptedDriver::setNoticeHandler(NoticeHandler handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
    return LinkError::None;
}

void ScriptedDriver::notify(DeviceNotice notice, const std::string& path) {
    NoticeHandler handler;
    {
        std::lock_guard lock(m_mutex);
        handler = m_handler;
    }
    if (handler) handler(notice, path);
}

}  // namespace hx::test
