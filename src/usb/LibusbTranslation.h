#pragma once
// How the libusb driver maps the unit-driver contract onto USB: device paths,
// vendor control transfers from the 16-byte control header, the choice of the
// two data endpoints, the standard device descriptor bytes and the status of a
// transfer. Pure functions without a device, so they can be tested here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "usb/ControlHeader.h"
#include "usb/UnitDriver.h"

namespace hx {

// Where a unit sits on the bus, and which of its pipes a path names.
struct UsbLocation {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    int pipe = -1;  // -1: the unit itself; else the pipe of interface 0
    bool operator==(const UsbLocation&) const = default;
};

// "usb#vid_1a2b&pid_0113#bus003&addr007": the unit's path, with the
// "pid_XXXX#" the discovery reads its device ID from.
std::string makeUsbDevicePath(const UsbLocation& location);
// Takes a unit path or a pipe path ("<unit path>\if000pipe001") apart; nothing
// for a path not made by makeUsbDevicePath, or a pipe of another interface.
std::optional<UsbLocation> parseUsbDevicePath(std::string_view path);

// A vendor control transfer as libusb takes it.
struct UsbControlSetup {
    std::uint8_t requestType = 0;  // bmRequestType
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    bool operator==(const UsbControlSetup&) const = default;
};

// bmRequestType: vendor, direction from the transfer flags, recipient from the
// function code (0x17 device, 0x18 interface, 0x19 endpoint, 0x20 other).
// Nothing for another function code.
std::optional<UsbControlSetup> controlSetupFromHeader(const ControlHeader& header);

struct UsbEndpoint {
    std::uint8_t address = 0;     // bit 7 set: IN
    std::uint8_t attributes = 0;  // low 2 bits: 0 control, 1 isochronous, 2 bulk, 3 interrupt
    bool operator==(const UsbEndpoint&) const = default;
};

struct UsbPipes {
    std::optional<UsbEndpoint> in;   // pipe 0: the first IN bulk or interrupt endpoint
    std::optional<UsbEndpoint> out;  // pipe 1: the first OUT bulk or interrupt endpoint
};

UsbPipes choosePipes(const std::vector<UsbEndpoint>& endpointsOfInterface0);

// The 18 bytes of a standard device descriptor from its fields, in order.
struct UsbDeviceDescriptor {
    std::uint16_t bcdUSB = 0x0200;
    std::uint8_t deviceClass = 0;
    std::uint8_t deviceSubClass = 0;
    std::uint8_t deviceProtocol = 0;
    std::uint8_t maxPacketSize0 = 64;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t manufacturerIndex = 0;
    std::uint8_t productIndex = 0;
    std::uint8_t serialNumberIndex = 0;
    std::uint8_t numConfigurations = 1;
};
std::vector<std::uint8_t> deviceDescriptorBytes(const UsbDeviceDescriptor& descriptor);

// The link error of a finished libusb call (a libusb_error value, 0 for success).
LinkError linkErrorFromLibusb(int error);

// The vendor ID of the units from configuration text: hexadecimal, with or
// without "0x"; nothing for empty or malformed text or a value above 0xFFFF.
std::optional<std::uint16_t> parseVendorId(std::string_view text);

// The udev rule that lets the user at the seat and the group plugdev open the
// units (product IDs 0x0110 to 0x011F) of this vendor, with a comment line.
std::string udevRuleText(std::uint16_t vendorId);

}  // namespace hx
