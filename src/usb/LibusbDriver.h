#pragma once
// The unit driver for real units, over libusb-1.0.
//
// Units are the devices with the configured vendor ID (the units' vendor ID is
// a setting: the front end passes it in, from its settings or the environment
// variable HX40K_USB_VENDOR_ID); without one no device is listed. Paths look
// like "usb#vid_1a2b&pid_0113#bus003&addr007"; pipe 0 is the first IN and pipe
// 1 the first OUT bulk or interrupt endpoint of interface 0. The driver's
// requests become: unit reset -> libusb_reset_device, pipe reset -> clear halt,
// control read/write -> a vendor control transfer on endpoint 0, descriptor ->
// the device descriptor, configuration -> the active configuration value.
//
// Control transfers and pipe writes end after a time limit, so a hung unit
// cannot freeze the program; reads wait as long as it takes but end within
// about kReadSliceMs of cancelRead or close. Arrival and removal notices come
// from libusb's hotplug support on the driver's own event thread.
// Thread-safe.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "usb/LibusbTranslation.h"
#include "usb/UnitDriver.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace hx {

class CLibusbDriver final : public IUnitDriver {
  public:
    static constexpr int kDefaultTimeoutMs = 2000;
    static constexpr int kReadSliceMs = 100;

    // vendorId: the units' USB vendor ID, or nothing to list no device at all.
    explicit CLibusbDriver(std::optional<std::uint16_t> vendorId, int timeoutMs = kDefaultTimeoutMs);
    ~CLibusbDriver() override;
    CLibusbDriver(const CLibusbDriver&) = delete;
    CLibusbDriver& operator=(const CLibusbDriver&) = delete;

    // The vendor ID from HX40K_USB_VENDOR_ID (hexadecimal), if set and valid.
    static std::optional<std::uint16_t> vendorIdFromEnvironment();

    // False when libusb could not be initialised (then nothing is ever listed).
    bool available() const { return m_context != nullptr; }
    // Without a vendor ID no unit is listed. These are the devices that may
    // be units all the same: a product ID of the units' range (0x0110 to
    // 0x011F) and a vendor-specific class on the device or its interface 0;
    // each as its USB location (vendor, product, bus, address).
    std::vector<UsbLocation> possibleUnits() const;

    // Pipe reads that failed (each also written to the diagnostic log with
    // libusb's error name), since the driver was made.
    unsigned long readErrors() const { return m_readErrors.load(); }

    std::vector<std::string> presentInterfaces() override;
    LinkResult<DriverHandle> open(const std::string& path) override;
    void close(DriverHandle handle) override;
    LinkError ioControl(DriverHandle handle, std::uint32_t code, const std::uint8_t* in, std::size_t inLength,
                        std::uint8_t* out, std::size_t outLength, std::size_t* returned) override;
    PipeReadResult readPipe(DriverHandle pipe, std::uint8_t* buffer, std::size_t length) override;
    void cancelRead(DriverHandle pipe) override;
    LinkError writePipe(DriverHandle pipe, const std::uint8_t* data, std::size_t length) override;
    LinkError setNoticeHandler(NoticeHandler handler) override;

    // Called by libusb on the driver's event thread for an arrival (arrived) or
    // a removal; not for other callers.
    void onHotplug(libusb_device* device, bool arrived);

  private:
    struct Device;  // one opened unit, shared by its handle and its pipes
    struct Entry {
        std::shared_ptr<Device> device;
        int pipe = -1;  // -1: the unit itself
        std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    };

    LinkResult<std::shared_ptr<Device>> openDevice(const std::string& unitPath, std::uint8_t bus,
                                                   std::uint8_t address);
    std::optional<Entry> find(DriverHandle handle) const;
    LinkError unitRequest(const Entry& entry, std::uint32_t code, const std::uint8_t* in,
                          std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                          std::size_t* returned);
    LinkError controlTransfer(const Entry& entry, const std::uint8_t* in, std::size_t inLength,
                              std::uint8_t* out, std::size_t outLength, std::size_t* returned, bool read);
    void runEvents();

    std::optional<std::uint16_t> m_vendorId;
    int m_timeoutMs;
    libusb_context* m_context = nullptr;

    mutable std::mutex m_mutex;
    std::map<DriverHandle, Entry> m_entries;
    std::map<std::string, std::weak_ptr<Device>> m_devices;  // by unit path
    DriverHandle m_nextHandle = 1;

    std::atomic<unsigned long> m_readErrors{0};
    std::mutex m_noticeMutex;  // held while a notice is delivered
    NoticeHandler m_noticeHandler;
    bool m_hotplugRegistered = false;
    int m_hotplugHandle = 0;
    std::atomic<bool> m_stopEvents{false};
    std::thread m_eventThread;
};

}  // namespace hx
