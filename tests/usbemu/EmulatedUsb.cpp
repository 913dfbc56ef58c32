#include "usbemu/EmulatedUsb.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "usb/ControlHeader.h"

#if HX_HAVE_UMOCKDEV
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>
#endif

namespace hx::test {

#if HX_HAVE_UMOCKDEV

namespace {

constexpr std::uint8_t kInEndpoint = 0x81;
constexpr std::uint8_t kOutEndpoint = 0x02;
constexpr std::size_t kSetupSize = 8;

// Configuration 1 with interface 0 (vendor class) and its two bulk endpoints of
// 64 bytes, the pipes of a unit.
std::vector<std::uint8_t> configurationDescriptor() {
    return {9, 2,    32,
            0, 1,    1,
            0, 0x80, 50,  // configuration, 32 bytes in all
            9, 4,    0,
            0, 2,    0xFF,
            0, 0,    0,  // interface 0, two endpoints
            7, 5,    kInEndpoint,
            2, 64,   0,
            0,  // bulk IN
            7, 5,    kOutEndpoint,
            2, 64,   0,
            0};  // bulk OUT
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

gboolean onHandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<CEmulatedUnit*>(self)->handleIoctl(client) ? TRUE : FALSE;
}

// The argument of an ioctl: a pointer into this process (the preload shares
// our address space).
void* argumentOf(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    void* pointer = nullptr;
    std::memcpy(&pointer, arg->data, sizeof pointer);
    return pointer;
}

usbdevfs_urb* urbOf(void* urb) { return static_cast<usbdevfs_urb*>(urb); }

}  // namespace

CUsbTestbed::CUsbTestbed() : m_testbed(umockdev_testbed_new()) {}

CUsbTestbed::~CUsbTestbed() {
    for (auto& unit : m_units) umockdev_testbed_detach_ioctl(m_testbed, unit->devNode().c_str(), nullptr);
    m_units.clear();
    g_object_unref(m_testbed);
}

bool CUsbTestbed::available(std::string* why) {
    // umockdev_in_mock_environment() looks only at LD_PRELOAD; this program
    // has the preload linked in instead, so look for it among the loaded
    // libraries.
    if (umockdev_in_mock_environment()) return true;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libumockdev-preload") != std::string::npos) return true;
    if (why) *why = "this test program does not run under umockdev's preload library";
    return false;
}

CEmulatedUnit& CUsbTestbed::plugIn(CSimDriver& sim, CSimUnit& unit, int bus) {
    auto emulated = std::make_unique<CEmulatedUnit>(sim, unit, bus);
    // The handler first, so that libusb can open the node as soon as the
    // "add" uevent of the device arrives.
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, emulated->devNode().c_str(), emulated->handler(), &error)) {
        std::string message = error ? error->message : "attach_ioctl failed";
        g_clear_error(&error);
        throw std::runtime_error(message);
    }
    if (!umockdev_testbed_add_from_string(m_testbed, emulated->description().c_str(), &error)) {
        std::string message = error ? error->message : "add_from_string failed";
        g_clear_error(&error);
        throw std::runtime_error(message);
    }
    umockdev_testbed_uevent(m_testbed, emulated->sysPath().c_str(), "add");
    m_units.push_back(std::move(emulated));
    return *m_units.back();
}

void CUsbTestbed::pullOut(CEmulatedUnit& unit) {
    unit.loseDevice();
    unit.sim().unplug(unit.simUnit());
    umockdev_testbed_uevent(m_testbed, unit.sysPath().c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, unit.sysPath().c_str());
}

CEmulatedUnit::CEmulatedUnit(CSimDriver& sim, CSimUnit& unit, int bus)
    : m_sim(sim), m_unit(unit), m_bus(bus), m_handler(umockdev_ioctl_base_new()) {
    m_simUnit = m_sim.open(m_unit.devicePath()).value;
    g_signal_connect_after(m_handler, "handle-ioctl", G_CALLBACK(onHandleIoctl), this);
    m_pump = std::thread(&CEmulatedUnit::pump, this);
}

CEmulatedUnit::~CEmulatedUnit() {
    {
        std::unique_lock lock(m_mutex);
        m_stop = true;
        m_changed.notify_all();
        closePipes(lock);
    }
    m_pump.join();
    m_sim.close(m_simUnit);
    g_object_unref(m_handler);
}

std::string CEmulatedUnit::devNode() const {
    char text[32];
    std::snprintf(text, sizeof text, "/dev/bus/usb/%03d/001", m_bus);
    return text;
}

std::string CEmulatedUnit::sysPath() const { return "/sys/devices/usb" + std::to_string(m_bus); }

std::string CEmulatedUnit::description() const {
    std::vector<std::uint8_t> device(kDeviceDescriptorSize);
    auto request = descriptorRequest();
    std::size_t returned = 0;
    m_sim.ioControl(m_simUnit, kIoctlGetDescriptor, request.data(), request.size(), device.data(),
                    device.size(), &returned);
    std::vector<std::uint8_t> all = device;
    std::vector<std::uint8_t> configuration = configurationDescriptor();
    all.insert(all.end(), configuration.begin(), configuration.end());

    char busText[8];
    std::snprintf(busText, sizeof busText, "%03d", m_bus);
    std::string text;
    text += "P: /devices/usb" + std::to_string(m_bus) + "\n";
    text += std::string("N: bus/usb/") + busText + "/001\n";
    text += "E: SUBSYSTEM=usb\n";
    text += "E: DEVTYPE=usb_device\n";
    text += "E: DRIVER=usb\n";
    text += "E: DEVNAME=" + devNode() + "\n";
    text += std::string("E: BUSNUM=") + busText + "\n";
    text += "E: DEVNUM=001\n";
    text += "A: busnum=" + std::to_string(m_bus) + "\\n\n";
    text += "A: devnum=1\\n\n";
    text += "A: bConfigurationValue=1\\n\n";
    text += "A: speed=480\\n\n";
    text += "H: descriptors=" + hex(all) + "\n";
    return text;
}

void CEmulatedUnit::loseDevice() {
    std::unique_lock lock(m_mutex);
    m_gone = true;
    while (!m_waitingIn.empty()) {
        finishLocked(m_waitingIn.front(), -ENODEV, 0);
        m_waitingIn.pop_front();
    }
    // Nothing reaches the host any more: the unit's records go nowhere (and
    // so are no longer in flight for virtual time), as when its pipe closes.
    closePipes(lock);
    m_changed.notify_all();
}

bool CEmulatedUnit::handleIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    auto complete = [client](long result, int error) {
        umockdev_ioctl_client_complete(client, result, error);
        return true;
    };
    // A unit that is gone still hands back its URBs; everything else fails.
    if (request != USBDEVFS_REAPURBNDELAY && request != USBDEVFS_REAPURB && request != USBDEVFS_DISCARDURB) {
        std::lock_guard lock(m_mutex);
        if (m_gone) return complete(-1, ENODEV);
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            std::uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                 USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
            std::memcpy(argumentOf(client), &caps, sizeof caps);
            return complete(0, 0);
        }
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            return complete(-1, ENODATA);  // no kernel driver is bound to the interface
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: {
            std::lock_guard lock(m_mutex);
            openPipesLocked();
            return complete(0, 0);
        }
        case USBDEVFS_RELEASEINTERFACE: {
            std::unique_lock lock(m_mutex);
            closePipes(lock);
            return complete(0, 0);
        }
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
            return complete(0, 0);
        case USBDEVFS_CLEAR_HALT: {
            unsigned endpoint = 0;
            std::memcpy(&endpoint, argumentOf(client), sizeof endpoint);
            DriverHandle pipe = kInvalidHandle;
            {
                std::lock_guard lock(m_mutex);
                pipe = endpoint == kInEndpoint    ? m_inPipe
                       : endpoint == kOutEndpoint ? m_outPipe
                                                  : kInvalidHandle;
            }
            std::size_t returned = 0;
            bool ok =
                m_sim.ioControl(pipe, kIoctlResetPipe, nullptr, 0, nullptr, 0, &returned) == LinkError::None;
            return ok ? complete(0, 0) : complete(-1, EINVAL);
        }
        case USBDEVFS_RESET: {
            const std::uint8_t code = 15;
            std::size_t returned = 0;
            if (m_sim.ioControl(m_simUnit, kIoctlResetUnit, &code, 1, nullptr, 0, &returned) ==
                LinkError::None)
                return complete(0, 0);
            return complete(-1, m_unit.present() ? EIO : ENODEV);
        }
        case USBDEVFS_SUBMITURB: {
            int error = submit(argumentOf(client));
            return error == 0 ? complete(0, 0) : complete(-1, error);
        }
        case USBDEVFS_DISCARDURB: {
            void* urb = argumentOf(client);
            std::lock_guard lock(m_mutex);
            auto it = std::find(m_waitingIn.begin(), m_waitingIn.end(), urb);
            if (it == m_waitingIn.end()) return complete(-1, EINVAL);
            m_waitingIn.erase(it);
            finishLocked(urb, -ENOENT, 0);
            return complete(0, 0);
        }
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            std::lock_guard lock(m_mutex);
            if (m_done.empty()) return complete(-1, m_gone ? ENODEV : EAGAIN);
            void* urb = m_done.front();
            m_done.pop_front();
            std::memcpy(argumentOf(client), &urb, sizeof urb);
            return complete(0, 0);
        }
        default:
            return false;
    }
}

int CEmulatedUnit::submit(void* urbPointer) {
    usbdevfs_urb* urb = urbOf(urbPointer);
    std::lock_guard lock(m_mutex);
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        int status = controlUrb(urbPointer);
        finishLocked(urbPointer, status, status == 0 ? static_cast<std::size_t>(urb->actual_length) : 0);
        return 0;
    }
    if (urb->type != USBDEVFS_URB_TYPE_BULK) return EINVAL;
    if (urb->endpoint == kOutEndpoint) {
        openPipesLocked();
        const auto* data = static_cast<const std::uint8_t*>(urb->buffer);
        bool ok =
            m_sim.writePipe(m_outPipe, data, static_cast<std::size_t>(urb->buffer_length)) == LinkError::None;
        finishLocked(urbPointer, ok ? 0 : (m_unit.present() ? -EPIPE : -ENODEV),
                     ok ? static_cast<std::size_t>(urb->buffer_length) : 0);
        return 0;
    }
    if (urb->endpoint != kInEndpoint) return EINVAL;
    if (!m_stash.empty()) {
        ReadOutcome outcome = std::move(m_stash.front());
        m_stash.pop_front();
        deliverLocked(urbPointer, outcome);
        return 0;
    }
    m_waitingIn.push_back(urbPointer);
    m_changed.notify_all();
    return 0;
}

// One control transfer on endpoint 0: vendor requests go to the simulated
// unit, GET_STATUS is answered here, anything else stalls. Returns the URB
// status and sets actual_length.
int CEmulatedUnit::controlUrb(void* urbPointer) {
    usbdevfs_urb* urb = urbOf(urbPointer);
    urb->actual_length = 0;
    if (urb->buffer_length < static_cast<int>(kSetupSize)) return -EINVAL;
    auto* setup = static_cast<std::uint8_t*>(urb->buffer);
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const std::uint16_t value = detail::getLe16(setup + 2);
    const std::uint16_t index = detail::getLe16(setup + 4);
    const std::size_t length = std::min<std::size_t>(
        detail::getLe16(setup + 6), static_cast<std::size_t>(urb->buffer_length) - kSetupSize);
    const bool in = (requestType & 0x80) != 0;
    if ((requestType & 0x60) == 0) {
        if (in && request == 0 && length >= 2) {  // GET_STATUS: bus-powered, no remote wake-up
            setup[kSetupSize] = setup[kSetupSize + 1] = 0;
            urb->actual_length = 2;
            return 0;
        }
        return -EPIPE;
    }
    if ((requestType & 0x60) != 0x40 || (requestType & 0x1F) != 0) return -EPIPE;
    auto header = encodeControlHeader({kVendorDevice, in ? kTransferDirectionIn : 0u, request, value, index});
    std::size_t returned = 0;
    bool ok = false;
    if (in) {
        ok = m_sim.ioControl(m_simUnit, kIoctlControlRead, header.data(), header.size(), setup + kSetupSize,
                             length, &returned) == LinkError::None;
    } else {
        std::vector<std::uint8_t> input(header.begin(), header.end());
        input.insert(input.end(), setup + kSetupSize, setup + kSetupSize + length);
        ok = m_sim.ioControl(m_simUnit, kIoctlControlWrite, input.data(), input.size(), nullptr, 0,
                             &returned) == LinkError::None;
        returned = length;
    }
    if (!ok) return m_unit.present() ? -EPIPE : -ENODEV;
    urb->actual_length = static_cast<int>(returned);
    return 0;
}

void CEmulatedUnit::finishLocked(void* urbPointer, int status, std::size_t actualLength) {
    usbdevfs_urb* urb = urbOf(urbPointer);
    urb->status = status;
    urb->actual_length = static_cast<int>(actualLength);
    m_done.push_back(urbPointer);
    m_changed.notify_all();
}

void CEmulatedUnit::deliverLocked(void* urbPointer, const ReadOutcome& outcome) {
    usbdevfs_urb* urb = urbOf(urbPointer);
    switch (outcome.status) {
        case LinkError::None: {
            const std::size_t room = static_cast<std::size_t>(urb->buffer_length);
            if (outcome.bytes.size() > room) {
                finishLocked(urbPointer, -EOVERFLOW, 0);
                return;
            }
            std::memcpy(urb->buffer, outcome.bytes.data(), outcome.bytes.size());
            finishLocked(urbPointer, 0, outcome.bytes.size());
            return;
        }
        case LinkError::Protocol:
            finishLocked(urbPointer, -EPIPE, 0);
            return;
        case LinkError::Io:
            finishLocked(urbPointer, -EPROTO, 0);
            return;
        case LinkError::UnitGone:
            finishLocked(urbPointer, -ENODEV, 0);
            return;
        default:
            finishLocked(urbPointer, -EIO, 0);
            return;
    }
}

void CEmulatedUnit::openPipesLocked() {
    if (m_inPipe == kInvalidHandle) m_inPipe = m_sim.open(m_unit.devicePath() + "\\if000pipe000").value;
    if (m_outPipe == kInvalidHandle) m_outPipe = m_sim.open(m_unit.devicePath() + "\\if000pipe001").value;
    m_changed.notify_all();
}

// Closes the unit's pipes as a released interface does; records it had read
// for nobody are dropped, as the unit drops them when its pipe is closed.
void CEmulatedUnit::closePipes(std::unique_lock<std::mutex>& lock) {
    DriverHandle in = m_inPipe, out = m_outPipe;
    m_inPipe = m_outPipe = kInvalidHandle;
    if (in != kInvalidHandle) m_sim.cancelRead(in);
    m_changed.wait(lock, [this] { return !m_pumpReading; });
    for (const ReadOutcome& outcome : m_stash)
        if (outcome.status == LinkError::None && !outcome.bytes.empty()) m_sim.clock().endActivity();
    m_stash.clear();
    lock.unlock();
    if (in != kInvalidHandle) m_sim.close(in);
    if (out != kInvalidHandle) m_sim.close(out);
    lock.lock();
}

void CEmulatedUnit::pump() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] {
            return m_stop ||
                   (!m_gone && m_inPipe != kInvalidHandle && !m_waitingIn.empty() && m_stash.empty());
        });
        if (m_stop) return;
        const DriverHandle pipe = m_inPipe;
        m_pumpReading = true;
        lock.unlock();
        std::uint8_t buffer[64];
        PipeReadResult read = m_sim.readPipe(pipe, buffer, sizeof buffer);
        lock.lock();
        m_pumpReading = false;
        m_changed.notify_all();
        if (read.error == LinkError::Cancelled) continue;
        ReadOutcome outcome{read.error, {}};
        if (read.error == LinkError::None)
            outcome.bytes.assign(buffer, buffer + std::min(read.bytes, sizeof buffer));
        if (!m_waitingIn.empty() && m_inPipe == pipe) {
            void* urb = m_waitingIn.front();
            m_waitingIn.pop_front();
            deliverLocked(urb, outcome);
        } else if (m_inPipe == pipe) {
            m_stash.push_back(std::move(outcome));
        } else if (outcome.status == LinkError::None && !outcome.bytes.empty()) {
            m_sim.clock().endActivity();  // read for a pipe that has been closed since
        }
    }
}

#else  // without umockdev nothing can be emulated; the tests skip

CUsbTestbed::CUsbTestbed() = default;
CUsbTestbed::~CUsbTestbed() = default;
bool CUsbTestbed::available(std::string* why) {
    if (why) *why = "umockdev (libumockdev-dev) was not found when this test program was built";
    return false;
}
CEmulatedUnit& CUsbTestbed::plugIn(CSimDriver&, CSimUnit&, int) { throw std::logic_error("no umockdev"); }
void CUsbTestbed::pullOut(CEmulatedUnit&) {}
CEmulatedUnit::~CEmulatedUnit() = default;
std::string CEmulatedUnit::devNode() const { return {}; }
std::string CEmulatedUnit::sysPath() const { return {}; }
std::string CEmulatedUnit::description() const { return {}; }
void CEmulatedUnit::loseDevice() {}
bool CEmulatedUnit::handleIoctl(_UMockdevIoctlClient*) { return false; }

#endif

}  // namespace hx::test
