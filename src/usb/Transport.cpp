#include "usb/Transport.h"

#include <cstdio>
#include <vector>

#include "usb/ControlHeader.h"

namespace hx {

CTransport::CTransport(IUnitDriver& driver) : m_driver(driver) {}

CTransport::~CTransport() { closeAllUnits(); }

void CTransport::initTransport() { closeAllUnits(); }

void CTransport::closeAllUnits() {
    std::vector<DriverHandle> open;
    {
        std::lock_guard lock(m_tableLock);
        for (Slot& slot : m_slots) {
            if (slot.handle != kInvalidHandle) open.push_back(slot.handle);
            slot = Slot{};
        }
    }
    // Closed outside the lock: a driver may take its time over a close.
    for (DriverHandle handle : open) m_driver.close(handle);
}

std::optional<std::string> CTransport::getDevicePath(int n) const {
    if (n < 0) return std::nullopt;
    std::vector<std::string> paths = m_driver.presentInterfaces();
    if (static_cast<std::size_t>(n) >= paths.size()) return std::nullopt;
    return paths[static_cast<std::size_t>(n)];
}

LinkResult<int> CTransport::openUnit(unsigned matchFlags, std::uint8_t deviceClass,
                                     std::uint8_t deviceSubClass, std::uint16_t vendorId,
                                     std::uint16_t productId, std::uint8_t bcdDevice) {
    LinkError firstCause = LinkError::None;
    auto note = [&firstCause](LinkError cause) {
        if (firstCause == LinkError::None) firstCause = cause;
    };
    // One snapshot of the present units, walked in system order, so the first
    // matching unit listed is the one opened.
    for (const std::string& path : m_driver.presentInterfaces()) {
        LinkResult<DriverHandle> opened = m_driver.open(path);
        if (!opened.ok()) {
            note(opened.error);
            continue;
        }
        LinkResult<bool> matches = descriptorMatches(opened.value, matchFlags, deviceClass, deviceSubClass,
                                                     vendorId, productId, bcdDevice);
        if (!matches.ok() || !matches.value) {
            note(matches.error);
            m_driver.close(opened.value);
            continue;
        }
        int slot = takeSlot(path, opened.value);
        if (slot != -1) return {slot, LinkError::None};
        m_driver.close(opened.value);  // table full: skip the unit
        note(LinkError::Busy);
    }
    return {-1, firstCause != LinkError::None ? firstCause : LinkError::UnitGone};
}

LinkResult<bool> CTransport::descriptorMatches(DriverHandle handle, unsigned matchFlags,
                                               std::uint8_t deviceClass, std::uint8_t deviceSubClass,
                                               std::uint16_t vendorId, std::uint16_t productId,
                                               std::uint8_t bcdDevice) const {
    auto request = descriptorRequest();
    std::array<std::uint8_t, kDeviceDescriptorSize> reply{};
    std::size_t returned = 0;
    if (LinkError error = m_driver.ioControl(handle, kIoctlGetDescriptor, request.data(), request.size(),
                                             reply.data(), reply.size(), &returned);
        error != LinkError::None) {
        return {false, error};
    }
    // A short reply is no descriptor: comparing left-over bytes could open the wrong unit.
    std::optional<DeviceDescriptorFields> fields = parseDeviceDescriptor(reply.data(), returned);
    if (!fields) return {false, LinkError::Protocol};
    bool matches = true;
    if ((matchFlags & kMatchClass) && fields->deviceClass != deviceClass) matches = false;
    if ((matchFlags & kMatchSubClass) && fields->deviceSubClass != deviceSubClass) matches = false;
    if ((matchFlags & kMatchVendor) && fields->vendorId != vendorId) matches = false;
    if ((matchFlags & kMatchProduct) && fields->productId != productId) matches = false;
    if ((matchFlags & kMatchBcdDevice) && fields->bcdDevice != bcdDevice) matches = false;
    return {matches, LinkError::None};
}

int CTransport::takeSlot(const std::string& path, DriverHandle handle) {
    if (handle == kInvalidHandle) return -1;
    std::lock_guard lock(m_tableLock);
    for (int i = 0; i < kSlotCount; ++i) {
        Slot& slot = m_slots[static_cast<std::size_t>(i)];
        if (slot.handle == kInvalidHandle) {
            slot.path = path;
            slot.handle = handle;
            return i;
        }
    }
    return -1;
}

LinkError CTransport::unitCheck(int slot) const {
    DriverHandle unit = slotHandle(slot);
    if (unit == kInvalidHandle) return LinkError::UnitGone;
    std::array<std::uint8_t, 4> reply{};
    std::size_t returned = 0;
    if (LinkError error = m_driver.ioControl(unit, kIoctlGetConfiguration, nullptr, 0, reply.data(),
                                             reply.size(), &returned);
        error != LinkError::None) {
        return error;
    }
    if (returned < reply.size()) return LinkError::Protocol;
    std::uint32_t configuration =
        static_cast<std::uint32_t>(reply[0]) | (static_cast<std::uint32_t>(reply[1]) << 8) |
        (static_cast<std::uint32_t>(reply[2]) << 16) | (static_cast<std::uint32_t>(reply[3]) << 24);
    return configuration != 0 ? LinkError::None : LinkError::Protocol;
}

std::string CTransport::pipeName(const std::string& unitPath, int interfaceNumber, int pipeNumber) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "\\if%03dpipe%03d",
                  static_cast<int>(static_cast<std::uint8_t>(interfaceNumber)),
                  static_cast<int>(static_cast<std::uint8_t>(pipeNumber)));
    return unitPath + suffix;
}

LinkResult<DriverHandle> CTransport::openPipe(int slot, int interfaceNumber, int pipeNumber,
                                              bool /*overlapped*/) const {
    std::string path = slotPath(slot);
    if (path.empty()) return {kInvalidHandle, LinkError::UnitGone};
    return m_driver.open(pipeName(path, interfaceNumber, pipeNumber));
}

LinkError CTransport::resetPipeHandle(DriverHandle pipe) const {
    if (pipe == kInvalidHandle) return LinkError::UnitGone;
    std::size_t returned = 0;
    return m_driver.ioControl(pipe, kIoctlResetPipe, nullptr, 0, nullptr, 0, &returned);
}

LinkError CTransport::resetUnit(int slot) const {
    DriverHandle unit = slotHandle(slot);
    if (unit == kInvalidHandle) return LinkError::UnitGone;
    const std::uint8_t resetCode = 15;
    std::size_t returned = 0;
    return m_driver.ioControl(unit, kIoctlResetUnit, &resetCode, 1, nullptr, 0, &returned);
}

std::size_t CTransport::controlRequest(int slot, int direction, int requestType, std::uint8_t request,
                                       std::uint16_t value, std::uint16_t index, std::size_t length,
                                       std::uint8_t* buffer) const {
    DriverHandle unit = slotHandle(slot);
    if (unit == kInvalidHandle) return 0;
    std::optional<std::uint16_t> function = functionCodeForRequestType(requestType);
    if (!function) return 0;
    if (direction != kDirectionOut)
        return controlRead(unit, *function, request, value, index, length, buffer);
    return controlWrite(unit, *function, request, value, index, length, buffer) ? 1 : 0;
}

std::size_t CTransport::controlRead(DriverHandle unit, std::uint16_t function, std::uint8_t request,
                                    std::uint16_t value, std::uint16_t index, std::size_t length,
                                    std::uint8_t* buffer) const {
    ControlHeader header{function, kTransferDirectionIn, request, value, index};
    auto bytes = encodeControlHeader(header);
    std::size_t outLength = buffer != nullptr ? (length & 0xFFFF) : 0;
    std::size_t returned = 0;
    if (m_driver.ioControl(unit, kIoctlControlRead, bytes.data(), bytes.size(), buffer, outLength,
                           &returned) != LinkError::None) {
        return 0;
    }
    return returned <= outLength ? returned : outLength;
}

bool CTransport::controlWrite(DriverHandle unit, std::uint16_t function, std::uint8_t request,
                              std::uint16_t value, std::uint16_t index, std::size_t length,
                              const std::uint8_t* buffer) const {
    ControlHeader header{function, 0, request, value, index};
    auto bytes = encodeControlHeader(header);
    std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
    if (buffer != nullptr) input.insert(input.end(), buffer, buffer + length);
    std::size_t returned = 0;
    return m_driver.ioControl(unit, kIoctlControlWrite, input.data(), input.size(), nullptr, 0, &returned) ==
           LinkError::None;
}

void CTransport::closeUnit(int slot) {
    DriverHandle handle = kInvalidHandle;
    {
        std::lock_guard lock(m_tableLock);
        if (slot < 0 || slot >= kSlotCount) return;
        Slot& entry = m_slots[static_cast<std::size_t>(slot)];
        handle = entry.handle;
        entry = Slot{};
    }
    if (handle != kInvalidHandle) m_driver.close(handle);
}

bool CTransport::isValidSlot(int slot) const { return slotHandle(slot) != kInvalidHandle; }

std::string CTransport::slotPath(int slot) const {
    std::lock_guard lock(m_tableLock);
    if (slot < 0 || slot >= kSlotCount) return {};
    const Slot& entry = m_slots[static_cast<std::size_t>(slot)];
    return entry.handle != kInvalidHandle ? entry.path : std::string{};
}

DriverHandle CTransport::slotHandle(int slot) const {
    std::lock_guard lock(m_tableLock);
    if (slot < 0 || slot >= kSlotCount) return kInvalidHandle;
    return m_slots[static_cast<std::size_t>(slot)].handle;
}

int CTransport::slotsInUse() const {
    std::lock_guard lock(m_tableLock);
    int count = 0;
    for (const Slot& slot : m_slots) count += slot.handle != kInvalidHandle ? 1 : 0;
    return count;
}

}  // namespace hx
