#include "usb/LibusbDriver.h"

#include <libusb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/ProductId.h"
#include "usb/ControlHeader.h"
#include "usb/LibusbTranslation.h"
#include "usb/LinkLog.h"

namespace hx {

struct CLibusbDriver::Device {
    libusb_device_handle* handle = nullptr;
    UsbPipes pipes;
    std::mutex claimMutex;
    bool claimed = false;
    // One request on endpoint 0 at a time: a unit reset (the receiver
    // thread's) never runs in the middle of a control transfer of the
    // user-interface thread, nor a pipe reset.
    std::mutex requestMutex;

    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() {
        if (claimed) libusb_release_interface(handle, 0);
        libusb_close(handle);
    }

    // The data pipes need interface 0 claimed (a kernel driver bound to it is
    // detached for as long as we hold it).
    LinkError claim() {
        std::lock_guard lock(claimMutex);
        if (claimed) return LinkError::None;
        libusb_set_auto_detach_kernel_driver(handle, 1);
        const int result = libusb_claim_interface(handle, 0);
        claimed = result == LIBUSB_SUCCESS;
        return linkErrorFromLibusb(result);
    }
};

namespace {

int LIBUSB_CALL hotplugThunk(libusb_context*, libusb_device* device, libusb_hotplug_event event, void* self) {
    static_cast<CLibusbDriver*>(self)->onHotplug(device, event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    return 0;  // stay registered
}

UsbLocation locationOf(libusb_device* device) {
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    return {libusb_get_bus_number(device), libusb_get_device_address(device), descriptor.idVendor,
            descriptor.idProduct, -1};
}

std::vector<UsbEndpoint> endpointsOfInterface0(libusb_device* device) {
    std::vector<UsbEndpoint> endpoints;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS || config == nullptr)
        return endpoints;
    if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
        const libusb_interface_descriptor& setting = config->interface[0].altsetting[0];
        for (int i = 0; i < setting.bNumEndpoints; ++i)
            endpoints.push_back({setting.endpoint[i].bEndpointAddress, setting.endpoint[i].bmAttributes});
    }
    libusb_free_config_descriptor(config);
    return endpoints;
}

// One bulk or interrupt transfer, whichever the endpoint is.
int transfer(libusb_device_handle* handle, const UsbEndpoint& endpoint, std::uint8_t* data, int length,
             int* transferred, unsigned timeoutMs) {
    if ((endpoint.attributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_INTERRUPT)
        return libusb_interrupt_transfer(handle, endpoint.address, data, length, transferred, timeoutMs);
    return libusb_bulk_transfer(handle, endpoint.address, data, length, transferred, timeoutMs);
}

void putLe32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

CLibusbDriver::CLibusbDriver(std::optional<std::uint16_t> vendorId, int timeoutMs)
    : m_vendorId(vendorId), m_timeoutMs(timeoutMs) {
    if (libusb_init(&m_context) != LIBUSB_SUCCESS) m_context = nullptr;
}

CLibusbDriver::~CLibusbDriver() {
    if (m_hotplugRegistered) {
        libusb_hotplug_deregister_callback(m_context, m_hotplugHandle);
        m_stopEvents = true;
        libusb_interrupt_event_handler(m_context);
        m_eventThread.join();
    }
    std::map<DriverHandle, Entry> entries;
    {
        std::lock_guard lock(m_mutex);
        entries.swap(m_entries);
    }
    entries.clear();  // closes every unit still open, before libusb goes
    if (m_context != nullptr) libusb_exit(m_context);
}

std::optional<std::uint16_t> CLibusbDriver::vendorIdFromEnvironment() {
    const char* text = std::getenv("HX40K_USB_VENDOR_ID");
    if (text == nullptr) return std::nullopt;
    return parseVendorId(text);
}

std::vector<UsbLocation> CLibusbDriver::possibleUnits() const {
    std::vector<UsbLocation> found;
    if (m_context == nullptr) return found;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) continue;
        if ((descriptor.idProduct & 0xFFF0) != kProductIdBase) continue;
        bool vendorSpecific = descriptor.bDeviceClass == LIBUSB_CLASS_VENDOR_SPEC;
        libusb_config_descriptor* config = nullptr;
        if (!vendorSpecific && libusb_get_active_config_descriptor(list[i], &config) == LIBUSB_SUCCESS &&
            config != nullptr) {
            vendorSpecific = config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0 &&
                             config->interface[0].altsetting[0].bInterfaceClass == LIBUSB_CLASS_VENDOR_SPEC;
        }
        if (config != nullptr) libusb_free_config_descriptor(config);
        if (vendorSpecific) found.push_back(locationOf(list[i]));
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    return found;
}

std::vector<std::string> CLibusbDriver::presentInterfaces() {
    std::vector<std::string> paths;
    if (m_context == nullptr || !m_vendorId) return paths;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(m_context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        UsbLocation location = locationOf(list[i]);
        if (location.vendorId == *m_vendorId) paths.push_back(makeUsbDevicePath(location));
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    return paths;
}

LinkResult<std::shared_ptr<CLibusbDriver::Device>> CLibusbDriver::openDevice(const std::string& unitPath,
                                                                             std::uint8_t bus,
                                                                             std::uint8_t address) {
    {
        std::lock_guard lock(m_mutex);
        if (auto known = m_devices[unitPath].lock()) return {known, LinkError::None};
    }
    std::shared_ptr<Device> device;
    LinkError error = LinkError::UnitGone;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(m_context, &list);
    for (ssize_t i = 0; i < count && !device; ++i) {
        UsbLocation location = locationOf(list[i]);
        if (location.bus != bus || location.address != address || makeUsbDevicePath(location) != unitPath)
            continue;
        libusb_device_handle* handle = nullptr;
        error = linkErrorFromLibusb(libusb_open(list[i], &handle));
        if (error != LinkError::None) break;
        device = std::make_shared<Device>();
        device->handle = handle;
        device->pipes = choosePipes(endpointsOfInterface0(list[i]));
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    if (!device) return {nullptr, error};
    std::lock_guard lock(m_mutex);
    // Another thread may have opened the same unit meanwhile: share its handle.
    if (auto known = m_devices[unitPath].lock()) return {known, LinkError::None};
    m_devices[unitPath] = device;
    return {device, LinkError::None};
}

LinkResult<DriverHandle> CLibusbDriver::open(const std::string& path) {
    const LinkResult<DriverHandle> gone{kInvalidHandle, LinkError::UnitGone};
    if (m_context == nullptr || !m_vendorId) return gone;
    std::optional<UsbLocation> location = parseUsbDevicePath(path);
    if (!location || location->vendorId != *m_vendorId) return gone;
    UsbLocation unit = *location;
    unit.pipe = -1;
    LinkResult<std::shared_ptr<Device>> device = openDevice(makeUsbDevicePath(unit), unit.bus, unit.address);
    if (!device.ok()) return {kInvalidHandle, device.error};
    if (location->pipe >= 0) {
        bool exists = (location->pipe == 0 && device.value->pipes.in) ||
                      (location->pipe == 1 && device.value->pipes.out);
        if (!exists) return gone;
        if (LinkError error = device.value->claim(); error != LinkError::None) return {kInvalidHandle, error};
    }
    std::lock_guard lock(m_mutex);
    DriverHandle handle = m_nextHandle++;
    m_entries[handle] = Entry{device.value, location->pipe};
    return {handle, LinkError::None};
}

void CLibusbDriver::close(DriverHandle handle) {
    std::optional<Entry> entry;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(handle);
        if (it == m_entries.end()) return;
        it->second.cancelled->store(true);
        entry = std::move(it->second);
        m_entries.erase(it);
    }
    // The unit is closed here, outside the lock, once its last handle is gone.
}

std::optional<CLibusbDriver::Entry> CLibusbDriver::find(DriverHandle handle) const {
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(handle);
    if (it == m_entries.end()) return std::nullopt;
    return it->second;
}

LinkError CLibusbDriver::ioControl(DriverHandle handle, std::uint32_t code, const std::uint8_t* in,
                                   std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                                   std::size_t* returned) {
    *returned = 0;
    std::optional<Entry> entry = find(handle);
    if (!entry) return LinkError::UnitGone;
    if (code == kIoctlResetPipe) {
        if (entry->pipe < 0) return LinkError::Protocol;
        const std::optional<UsbEndpoint>& endpoint =
            entry->pipe == 0 ? entry->device->pipes.in : entry->device->pipes.out;
        if (!endpoint) return LinkError::Protocol;
        std::lock_guard lock(entry->device->requestMutex);
        return linkErrorFromLibusb(libusb_clear_halt(entry->device->handle, endpoint->address));
    }
    if (entry->pipe >= 0) return LinkError::Protocol;  // the other requests go to the unit itself
    std::lock_guard lock(entry->device->requestMutex);
    return unitRequest(*entry, code, in, inLength, out, outLength, returned);
}

LinkError CLibusbDriver::unitRequest(const Entry& entry, std::uint32_t code, const std::uint8_t* in,
                                     std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                                     std::size_t* returned) {
    libusb_device_handle* handle = entry.device->handle;
    switch (code) {
        case kIoctlResetUnit:
            return linkErrorFromLibusb(libusb_reset_device(handle));
        case kIoctlControlRead:
            return controlTransfer(entry, in, inLength, out, outLength, returned, true);
        case kIoctlControlWrite:
            return controlTransfer(entry, in, inLength, out, outLength, returned, false);
        case kIoctlGetDescriptor: {
            libusb_device_descriptor d{};
            if (int result = libusb_get_device_descriptor(libusb_get_device(handle), &d);
                result != LIBUSB_SUCCESS)
                return linkErrorFromLibusb(result);
            std::vector<std::uint8_t> bytes =
                deviceDescriptorBytes({d.bcdUSB, d.bDeviceClass, d.bDeviceSubClass, d.bDeviceProtocol,
                                       d.bMaxPacketSize0, d.idVendor, d.idProduct, d.bcdDevice,
                                       d.iManufacturer, d.iProduct, d.iSerialNumber, d.bNumConfigurations});
            *returned = std::min(bytes.size(), outLength);
            if (*returned > 0) std::memcpy(out, bytes.data(), *returned);
            return LinkError::None;
        }
        case kIoctlGetConfiguration: {
            int configuration = 0;
            if (outLength < 4) return LinkError::Protocol;
            if (int result = libusb_get_configuration(handle, &configuration); result != LIBUSB_SUCCESS)
                return linkErrorFromLibusb(result);
            putLe32(out, static_cast<std::uint32_t>(configuration));
            *returned = 4;
            return LinkError::None;
        }
        default:
            return LinkError::Protocol;
    }
}

LinkError CLibusbDriver::controlTransfer(const Entry& entry, const std::uint8_t* in, std::size_t inLength,
                                         std::uint8_t* out, std::size_t outLength, std::size_t* returned,
                                         bool read) {
    std::optional<ControlHeader> header = decodeControlHeader(in, inLength);
    if (!header || header->isRead() != read) return LinkError::Protocol;
    std::optional<UsbControlSetup> setup = controlSetupFromHeader(*header);
    if (!setup) return LinkError::Protocol;
    std::uint8_t* data = nullptr;
    std::size_t length = 0;
    std::vector<std::uint8_t> payload;
    if (read) {
        data = out;
        length = std::min<std::size_t>(outLength, 0xFFFF);
    } else {
        payload.assign(in + kControlHeaderSize, in + inLength);
        data = payload.data();
        length = std::min<std::size_t>(payload.size(), 0xFFFF);
    }
    int result = libusb_control_transfer(
        entry.device->handle, setup->requestType, setup->request, setup->value, setup->index,
        length > 0 ? data : nullptr, static_cast<std::uint16_t>(length), static_cast<unsigned>(m_timeoutMs));
    if (result < 0) return linkErrorFromLibusb(result);
    if (read) *returned = static_cast<std::size_t>(result);
    return LinkError::None;
}

PipeReadResult CLibusbDriver::readPipe(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) {
    std::optional<Entry> entry = find(pipe);
    if (!entry) return {LinkError::UnitGone, 0, false};
    if (entry->pipe != 0 || !entry->device->pipes.in) return {LinkError::Protocol, 0, false};
    const UsbEndpoint endpoint = *entry->device->pipes.in;
    bool waited = false;
    length = std::min<std::size_t>(length, 0x7FFFFFFF);
    std::size_t got = 0;
    // Short slices keep the read cancellable without the asynchronous API. A
    // slice that times out after part of a record (a record of several
    // packets) keeps that part and reads on for the rest: the record ends with
    // its short packet (or a full buffer), never with the slice.
    for (;;) {
        if (entry->cancelled->load()) return {LinkError::Cancelled, 0, waited};
        int transferred = 0;
        const int result = transfer(entry->device->handle, endpoint, buffer + got,
                                    static_cast<int>(length - got), &transferred, kReadSliceMs);
        got += static_cast<std::size_t>(std::max(transferred, 0));
        if (result == LIBUSB_SUCCESS || (result == LIBUSB_ERROR_TIMEOUT && got == length))
            return {LinkError::None, got, waited};
        if (result == LIBUSB_ERROR_TIMEOUT) {
            waited = true;
            continue;
        }
        // An overflow, a stall, a unit gone: the record is lost; say which.
        const unsigned long errors = m_readErrors.fetch_add(1) + 1;
        writeLinkLinef({}, "libusb read error: %s (%lu so far)", libusb_error_name(result), errors);
        return {linkErrorFromLibusb(result), 0, waited};
    }
}

void CLibusbDriver::cancelRead(DriverHandle pipe) {
    std::optional<Entry> entry = find(pipe);
    if (entry) entry->cancelled->store(true);
}

LinkError CLibusbDriver::writePipe(DriverHandle pipe, const std::uint8_t* data, std::size_t length) {
    std::optional<Entry> entry = find(pipe);
    if (!entry) return LinkError::UnitGone;
    if (entry->pipe != 1 || !entry->device->pipes.out || length > 0x7FFFFFFF) return LinkError::Protocol;
    std::vector<std::uint8_t> copy(data, data + length);  // libusb takes a non-const buffer
    int transferred = 0;
    int result = transfer(entry->device->handle, *entry->device->pipes.out, copy.data(),
                          static_cast<int>(length), &transferred, static_cast<unsigned>(m_timeoutMs));
    if (result != LIBUSB_SUCCESS) return linkErrorFromLibusb(result);
    return static_cast<std::size_t>(transferred) == length ? LinkError::None : LinkError::TimedOut;
}

LinkError CLibusbDriver::setNoticeHandler(NoticeHandler handler) {
    {
        std::lock_guard lock(m_noticeMutex);
        m_noticeHandler = std::move(handler);
    }
    if (!m_vendorId) return LinkError::NotConfigured;  // no unit can be looked for, nor watched
    if (m_hotplugRegistered) return LinkError::None;
    if (m_context == nullptr || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
        return LinkError::NotSupported;
    libusb_hotplug_callback_handle handle = 0;
    int result = libusb_hotplug_register_callback(
        m_context,
        static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                          LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        static_cast<libusb_hotplug_flag>(0), *m_vendorId, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        hotplugThunk, this, &handle);
    if (result != LIBUSB_SUCCESS) return linkErrorFromLibusb(result);
    m_hotplugHandle = handle;
    m_hotplugRegistered = true;
    m_eventThread = std::thread(&CLibusbDriver::runEvents, this);
    return LinkError::None;
}

void CLibusbDriver::runEvents() {
    while (!m_stopEvents.load()) {
        timeval slice{0, 200 * 1000};
        libusb_handle_events_timeout_completed(m_context, &slice, nullptr);
    }
}

void CLibusbDriver::onHotplug(libusb_device* device, bool arrived) {
    // Called under the lock, so that setNoticeHandler (clearing it among
    // others) waits for a notice under way: after it returns, the old handler
    // is never called again. A handler only posts; it never sets handlers.
    std::lock_guard lock(m_noticeMutex);
    if (m_noticeHandler)
        m_noticeHandler(arrived ? DeviceNotice::Arrival : DeviceNotice::Removal,
                        makeUsbDevicePath(locationOf(device)));
}

}  // namespace hx
