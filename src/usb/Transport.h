#pragma once
// The program's thin layer over the unit driver: a table of opened units
// addressed by small slot numbers, the search for a unit by its device
// descriptor, the naming and opening of its pipes, and one operation per
// driver request. Reports failures as a LinkError (a control request as 0
// bytes); it never shows or logs anything (the command channel does).
//
// One table per CTransport object (128 slots). The program keeps one transport
// per unit driver and one command channel at a time over it; tests make their
// own. Slots are taken and freed under the table lock; every operation may be
// called from any thread. Control requests are not serialised here: the command
// channel's control lock keeps one in flight at a time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "usb/UnitDriver.h"

namespace hx {

// Match flags of openUnit: which descriptor fields are compared.
enum : unsigned {
    kMatchClass = 1,
    kMatchSubClass = 2,
    kMatchVendor = 4,
    kMatchProduct = 8,
    kMatchBcdDevice = 16,  // the whole 16-bit bcdDevice against the given 8-bit value
};

// Directions of controlRequest.
enum : int { kDirectionOut = 0, kDirectionIn = 1 };

class CTransport {
  public:
    static constexpr int kSlotCount = 128;

    // The driver must outlive the transport.
    explicit CTransport(IUnitDriver& driver);
    ~CTransport();  // closes every unit still open
    CTransport(const CTransport&) = delete;
    CTransport& operator=(const CTransport&) = delete;

    IUnitDriver& driver() const { return m_driver; }

    // Marks all slots free (closing any handle a slot still held).
    void initTransport();
    // Frees every slot in use, closing its handle.
    void closeAllUnits();

    // Device path of the n-th present interface of the unit class (from 0).
    std::optional<std::string> getDevicePath(int n) const;

    // Opens the first present unit whose descriptor matches the fields selected
    // by matchFlags and returns its slot. Units that cannot be opened, whose
    // descriptor cannot be read or that do not match are closed again and
    // skipped; so is a matching unit when the table is full. Without a match:
    // slot -1 and the first cause met on the way (a unit that could not be
    // opened: NoPermission, Busy, ...), else UnitGone.
    LinkResult<int> openUnit(unsigned matchFlags, std::uint8_t deviceClass, std::uint8_t deviceSubClass,
                             std::uint16_t vendorId, std::uint16_t productId, std::uint8_t bcdDevice);

    // None when the unit reports a non-zero configuration (present and
    // configured); UnitGone when the slot is not valid; Protocol for a unit
    // that is not configured; else why the request failed.
    LinkError unitCheck(int slot) const;

    // Opens pipe `pipeNumber` of interface `interfaceNumber` of the slot's unit.
    // Every pipe of our drivers is cancellable, so `overlapped` only documents
    // how the caller means to use it. UnitGone when the slot is not valid, else
    // the driver's answer. The caller owns and closes the handle.
    LinkResult<DriverHandle> openPipe(int slot, int interfaceNumber, int pipeNumber, bool overlapped) const;

    // None, or why the reset failed (UnitGone for an invalid handle or slot).
    LinkError resetPipeHandle(DriverHandle pipe) const;
    LinkError resetUnit(int slot) const;

    // One vendor control transfer on the slot's unit. Direction 0 writes length
    // bytes from buffer; any other direction reads up to length (modulo 65536)
    // bytes into it. Request types 0 to 3 select the recipient (device,
    // interface, endpoint, other). Returns for a read the number of bytes
    // received (0 on failure), for a write 1 on success; 0 when the slot is not
    // valid or the request type is not 0 to 3 (nothing is sent then).
    std::size_t controlRequest(int slot, int direction, int requestType, std::uint8_t request,
                               std::uint16_t value, std::uint16_t index, std::size_t length,
                               std::uint8_t* buffer) const;

    // Frees the slot and closes its unit handle; nothing for a slot not valid.
    void closeUnit(int slot);

    // A slot is valid when it is not -1 and holds a handle.
    bool isValidSlot(int slot) const;
    std::string slotPath(int slot) const;     // empty for a free or invalid slot
    DriverHandle slotHandle(int slot) const;  // kInvalidHandle for a free or invalid slot
    int slotsInUse() const;

    // "<unit path>\ifIIIpipePPP", both numbers modulo 256 in three digits.
    static std::string pipeName(const std::string& unitPath, int interfaceNumber, int pipeNumber);

  private:
    struct Slot {
        std::string path;
        DriverHandle handle = kInvalidHandle;
    };

    int takeSlot(const std::string& path, DriverHandle handle);
    LinkResult<bool> descriptorMatches(DriverHandle handle, unsigned matchFlags, std::uint8_t deviceClass,
                                       std::uint8_t deviceSubClass, std::uint16_t vendorId,
                                       std::uint16_t productId, std::uint8_t bcdDevice) const;
    std::size_t controlRead(DriverHandle unit, std::uint16_t function, std::uint8_t request,
                            std::uint16_t value, std::uint16_t index, std::size_t length,
                            std::uint8_t* buffer) const;
    bool controlWrite(DriverHandle unit, std::uint16_t function, std::uint8_t request, std::uint16_t value,
                      std::uint16_t index, std::size_t length, const std::uint8_t* buffer) const;

    IUnitDriver& m_driver;
    mutable std::mutex m_tableLock;
    std::array<Slot, kSlotCount> m_slots;
};

}  // namespace hx
