#pragma once
// The byte layouts the transport exchanges with the unit driver: the 16-byte
// control header of a vendor request, the 4-byte descriptor request and the
// 18-byte device descriptor. All little-endian. Pure functions, shared by the
// transport and the drivers that have to take the buffers apart again.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace hx {

constexpr std::size_t kControlHeaderSize = 16;
constexpr std::size_t kDeviceDescriptorSize = 18;
constexpr std::size_t kDescriptorRequestSize = 4;

// Function codes of a vendor request, by recipient (request types 0 to 3).
enum : std::uint16_t {
    kVendorDevice = 0x17,
    kVendorInterface = 0x18,
    kVendorEndpoint = 0x19,
    kVendorOther = 0x20,
};

// Transfer flags of the header: 2 when the data flows from the unit to the host.
constexpr std::uint32_t kTransferDirectionIn = 2;

struct ControlHeader {
    std::uint16_t function = kVendorDevice;
    std::uint32_t transferFlags = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;

    bool isRead() const { return (transferFlags & kTransferDirectionIn) != 0; }
    bool operator==(const ControlHeader&) const = default;
};

struct DeviceDescriptorFields {
    std::uint8_t deviceClass = 0;
    std::uint8_t deviceSubClass = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bcdDevice = 0;
    bool operator==(const DeviceDescriptorFields&) const = default;
};

// Little-endian 16-bit fields.
namespace detail {

inline void putLe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline std::uint16_t getLe16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

}  // namespace detail

// Function code of request type 0 to 3; nothing for any other type.
inline std::optional<std::uint16_t> functionCodeForRequestType(int requestType) {
    static constexpr std::uint16_t kCodes[] = {kVendorDevice, kVendorInterface, kVendorEndpoint,
                                               kVendorOther};
    if (requestType < 0 || requestType > 3) return std::nullopt;
    return kCodes[requestType];
}

// Bytes 2-3, 8 and 14-15 are always 0.
inline std::array<std::uint8_t, kControlHeaderSize> encodeControlHeader(const ControlHeader& header) {
    std::array<std::uint8_t, kControlHeaderSize> bytes{};
    detail::putLe16(&bytes[0], header.function);
    detail::putLe16(&bytes[4], static_cast<std::uint16_t>(header.transferFlags & 0xFFFF));
    detail::putLe16(&bytes[6], static_cast<std::uint16_t>(header.transferFlags >> 16));
    bytes[9] = header.request;
    detail::putLe16(&bytes[10], header.value);
    detail::putLe16(&bytes[12], header.index);
    return bytes;
}

// Nothing when fewer than 16 bytes are given.
inline std::optional<ControlHeader> decodeControlHeader(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr || length < kControlHeaderSize) return std::nullopt;
    ControlHeader header;
    header.function = detail::getLe16(&bytes[0]);
    header.transferFlags = static_cast<std::uint32_t>(detail::getLe16(&bytes[4])) |
                           (static_cast<std::uint32_t>(detail::getLe16(&bytes[6])) << 16);
    header.request = bytes[9];
    header.value = detail::getLe16(&bytes[10]);
    header.index = detail::getLe16(&bytes[12]);
    return header;
}

// Device descriptor, index 0, language 0.
inline std::array<std::uint8_t, kDescriptorRequestSize> descriptorRequest() { return {1, 0, 0, 0}; }

// Nothing when fewer than 18 bytes are given.
inline std::optional<DeviceDescriptorFields> parseDeviceDescriptor(const std::uint8_t* bytes,
                                                                   std::size_t length) {
    if (bytes == nullptr || length < kDeviceDescriptorSize) return std::nullopt;
    DeviceDescriptorFields fields;
    fields.deviceClass = bytes[4];
    fields.deviceSubClass = bytes[5];
    fields.vendorId = detail::getLe16(&bytes[8]);
    fields.productId = detail::getLe16(&bytes[10]);
    fields.bcdDevice = detail::getLe16(&bytes[12]);
    return fields;
}

// A standard 18-byte device descriptor carrying the given fields (other fields
// hold plausible values), for drivers that answer the descriptor request.
inline std::array<std::uint8_t, kDeviceDescriptorSize> makeDeviceDescriptor(
    const DeviceDescriptorFields& fields) {
    std::array<std::uint8_t, kDeviceDescriptorSize> bytes{};
    bytes[0] = kDeviceDescriptorSize;    // bLength
    bytes[1] = 1;                        // bDescriptorType: device
    detail::putLe16(&bytes[2], 0x0200);  // bcdUSB 2.0
    bytes[4] = fields.deviceClass;
    bytes[5] = fields.deviceSubClass;
    bytes[7] = 64;  // bMaxPacketSize0
    detail::putLe16(&bytes[8], fields.vendorId);
    detail::putLe16(&bytes[10], fields.productId);
    detail::putLe16(&bytes[12], fields.bcdDevice);
    bytes[17] = 1;  // bNumConfigurations
    return bytes;
}

}  // namespace hx
