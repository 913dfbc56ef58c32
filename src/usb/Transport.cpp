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

int CTransport::openUnit(unsigned matchFlags, std::uint8_t deviceClass, std::uint8_t deviceSubClass,
                         std::uint16_t vendorId, std::uint16_t productId, std::uint8_t bcdDevice) {
    // One snapshot of the present units, walked in system order, so the first
    // matching unit listed is the one opened.
    for (const std::string& path : m_driver.presentInterfaces()) {
        DriverHandle handle = m_driver.open(path);
        if (handle == kInvalidHandle) continue;
        if (!descriptorMatches(handle, matchFlags, deviceClass, deviceSubClass, vendorId, productId,
                               bcdDevice)) {
            m_driver.close(handle);
            continue;
        }
        int slot = takeSlot(path, handle);
        if (slot != -1) return slot;
        m_driver.close(handle);  // table full: skip the unit
    }
    return -1;
}

bool CTransport::descriptorMatches(DriverHandle handle, unsigned matchFlags, std::uint8_t deviceClass,
                                   std::uint8_t deviceSubClass, std::uint16_t vendorId,
                                   std::uint16_t productId, std::uint8_t bcdDevice) const {
    auto request = descriptorRequest();
    std::array<std::uint8_t, kDeviceDescriptorSize> reply{};
    std::size_t returned = 0;
    if (!m_driver.ioControl(handle, kIoctlGetDescriptor, request.data(), request.size(), reply.data(),
                            reply.size(), &returned)) {
        return false;
    }
    // A short reply is no descriptor: comparing left-over bytes could open the wrong unit.
    std::optional<DeviceDescriptorFields> fields = parseDeviceDescriptor(reply.data(), returned);
    if (!fields) return false;
    if ((matchFlags & kMatchClass) && fields->deviceClass != deviceClass) return false;
    if ((matchFlags & kMatchSubClass) && fields->deviceSubClass != deviceSubClass) return false;
    if ((matchFlags & kMatchVendor) && fields->vendorId != vendorId) return false;
    if ((matchFlags & kMatchProduct) && fields->productId != productId) return false;
    if ((matchFlags & kMatchBcdDevice) && fields->bcdDevice != bcdDevice) return false;
    return true;
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

int CTransport::unitCheck(int slot) const {
    DriverHandle unit = slotHandle(slot);
    if (unit == kInvalidHandle) return 1;
    std::array<std::uint8_t, 4> reply{};
    std::size_t returned = 0;
    bool ok =
        m_driver.ioControl(unit, kIoctlGetConfiguration, nullptr, 0, reply.data(), reply.size(), &returned);
    if (!ok || returned < reply.size()) return 2;
    std::uint32_t configuration =
        static_cast<std::uint32_t>(reply[0]) | (static_cast<std::uint32_t>(reply[1]) << 8) |
        (static_cast<std::uint32_t>(reply[2]) << 16) | (static_cast<std::uint32_t>(reply[3]) << 24);
    return configuration != 0 ? 0 : 2;
}

std::string CTransport::pipeName(const std::string& unitPath, int interfaceNumber, int pipeNumber) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "\\if%03dpipe%03d",
                  static_cast<int>(static_cast<std::uint8_t>(interfaceNumber)),
                  static_cast<int>(static_cast<std::uint8_t>(pipeNumber)));
    return unitPath + suffix;
}

DriverHandle CTransport::openPipe(int slot, int interfaceNumber, int pipeNumber, bool /*overlapped*/) const {
    std::string path = slotPath(slot);
    if (path.empty()) return kInvalidHandle;
    return m_driver.open(pipeName(path, interfaceNumber, pipeNumber));
}

bool CTransport::resetPipeHandle(DriverHandle pipe) const {
    if (pipe == kInvalidHandle) return false;
    std::size_t returned = 0;
    return m_driver.ioControl(pipe, kIoctlResetPipe, nullptr, 0, nullptr, 0, &returned);
}

bool CTransport::resetUnit(int slot) const {
    DriverHandle unit = slotHandle(slot);
    if (unit == kInvalidHandle) return false;
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
    if (!m_driver.ioControl(unit, kIoctlControlRead, bytes.data(), bytes.size(), buffer, outLength,
                            &returned)) {
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
    return m_driver.ioControl(unit, kIoctlControlWrite, input.data(), input.size(), nullptr, 0, &returned);
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
