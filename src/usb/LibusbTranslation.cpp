#include "usb/LibusbTranslation.h"

#include <libusb.h>

#include <cctype>
#include <cstdio>

namespace hx {
namespace {

std::optional<unsigned> threeDigits(std::string_view text, std::size_t at) {
    if (text.size() < at + 3) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = at; i < at + 3; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

}  // namespace

std::string makeUsbDevicePath(const UsbLocation& location) {
    char path[64];
    std::snprintf(path, sizeof path, "usb#vid_%04x&pid_%04x#bus%03u&addr%03u", location.vendorId,
                  location.productId, static_cast<unsigned>(location.bus),
                  static_cast<unsigned>(location.address));
    return path;
}

std::optional<UsbLocation> parseUsbDevicePath(std::string_view path) {
    unsigned vendor = 0, product = 0, bus = 0, address = 0;
    int consumed = 0;
    std::string text(path);
    if (std::sscanf(text.c_str(), "usb#vid_%4x&pid_%4x#bus%3u&addr%3u%n", &vendor, &product, &bus, &address,
                    &consumed) != 4 ||
        bus > 255 || address > 255) {
        return std::nullopt;
    }
    UsbLocation location{static_cast<std::uint8_t>(bus), static_cast<std::uint8_t>(address),
                         static_cast<std::uint16_t>(vendor), static_cast<std::uint16_t>(product), -1};
    // Only the exact form we make counts, so two spellings never name one unit.
    if (makeUsbDevicePath(location) != text.substr(0, static_cast<std::size_t>(consumed)))
        return std::nullopt;
    std::string_view rest = path.substr(static_cast<std::size_t>(consumed));
    if (rest.empty()) return location;
    // "\ifIIIpipePPP" with three digits each, interface 0 only.
    std::optional<unsigned> interfaceNumber = threeDigits(rest, 3);
    std::optional<unsigned> pipe = threeDigits(rest, 10);
    if (rest.size() != 13 || rest.substr(0, 3) != "\\if" || rest.substr(6, 4) != "pipe" || !interfaceNumber ||
        !pipe || *interfaceNumber != 0) {
        return std::nullopt;
    }
    location.pipe = static_cast<int>(*pipe);
    return location;
}

std::optional<UsbControlSetup> controlSetupFromHeader(const ControlHeader& header) {
    std::uint8_t recipient = 0;
    switch (header.function) {
        case kVendorDevice:
            recipient = LIBUSB_RECIPIENT_DEVICE;
            break;
        case kVendorInterface:
            recipient = LIBUSB_RECIPIENT_INTERFACE;
            break;
        case kVendorEndpoint:
            recipient = LIBUSB_RECIPIENT_ENDPOINT;
            break;
        case kVendorOther:
            recipient = LIBUSB_RECIPIENT_OTHER;
            break;
        default:
            return std::nullopt;
    }
    std::uint8_t direction = header.isRead() ? LIBUSB_ENDPOINT_IN : LIBUSB_ENDPOINT_OUT;
    return UsbControlSetup{static_cast<std::uint8_t>(LIBUSB_REQUEST_TYPE_VENDOR | direction | recipient),
                           header.request, header.value, header.index};
}

UsbPipes choosePipes(const std::vector<UsbEndpoint>& endpointsOfInterface0) {
    UsbPipes pipes;
    for (const UsbEndpoint& endpoint : endpointsOfInterface0) {
        std::uint8_t type = endpoint.attributes & LIBUSB_TRANSFER_TYPE_MASK;
        if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) continue;
        bool in = (endpoint.address & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
        std::optional<UsbEndpoint>& slot = in ? pipes.in : pipes.out;
        if (!slot) slot = endpoint;
    }
    return pipes;
}

std::vector<std::uint8_t> deviceDescriptorBytes(const UsbDeviceDescriptor& d) {
    auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
    auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    return {static_cast<std::uint8_t>(kDeviceDescriptorSize),
            LIBUSB_DT_DEVICE,
            lo(d.bcdUSB),
            hi(d.bcdUSB),
            d.deviceClass,
            d.deviceSubClass,
            d.deviceProtocol,
            d.maxPacketSize0,
            lo(d.vendorId),
            hi(d.vendorId),
            lo(d.productId),
            hi(d.productId),
            lo(d.bcdDevice),
            hi(d.bcdDevice),
            d.manufacturerIndex,
            d.productIndex,
            d.serialNumberIndex,
            d.numConfigurations};
}

LinkError linkErrorFromLibusb(int error) {
    switch (error) {
        case LIBUSB_SUCCESS:
            return LinkError::None;
        case LIBUSB_ERROR_PIPE:      // a stalled endpoint, or a request the unit refused
        case LIBUSB_ERROR_OVERFLOW:  // the unit sent more than was asked for
            return LinkError::Protocol;
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return LinkError::UnitGone;
        case LIBUSB_ERROR_ACCESS:
            return LinkError::NoPermission;
        case LIBUSB_ERROR_BUSY:
            return LinkError::Busy;
        case LIBUSB_ERROR_TIMEOUT:
            return LinkError::TimedOut;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return LinkError::NotSupported;
        case LIBUSB_ERROR_INTERRUPTED:
            return LinkError::Cancelled;
        default:  // LIBUSB_ERROR_IO, and the library's own failures
            return LinkError::Io;
    }
}

std::optional<std::uint16_t> parseVendorId(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 4) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value =
            value * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                                   ? c - '0'
                                                   : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    }
    return static_cast<std::uint16_t>(value);
}

std::string udevRuleText(std::uint16_t vendorId) {
    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "%04x", vendorId);
    return std::string("# /etc/udev/rules.d/70-halnor40ku.rules: HX-40K units of USB vendor ") + vendor +
           " for the user at the seat and the group plugdev\n"
           "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" +
           vendor +
           "\", ATTR{idProduct}==\"011[0-9a-f]\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"\n";
}

}  // namespace hx
