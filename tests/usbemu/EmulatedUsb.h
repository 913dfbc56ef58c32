#pragma once
// Simulated units on an emulated USB bus, for running the libusb driver end to
// end without hardware. umockdev's testbed makes the sysfs entries and device
// node of each unit (descriptors as a real unit has them); its preload library,
// linked into the test program, sends libusb's usbdevfs requests on that node
// to a handler here, which answers them from a simulated unit: control URBs
// become the unit's control requests, the bulk OUT endpoint its outbound pipe,
// and the bulk IN endpoint is served from its inbound pipe by a pump thread.
//
// Order matters: the testbed (and so UMOCKDEV_DIR) must exist before the first
// libusb context, and before the test starts threads of its own. The testbed
// outlives every CLibusbDriver made over it. The simulated driver outlives the
// testbed. Handler calls come on umockdev's thread; the pump has its own.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/VirtualClock.h"
#include "sim/SimDriver.h"

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

namespace hx::test {

class CEmulatedUnit;

class CUsbTestbed {
  public:
    CUsbTestbed();
    ~CUsbTestbed();
    CUsbTestbed(const CUsbTestbed&) = delete;
    CUsbTestbed& operator=(const CUsbTestbed&) = delete;

    // False (with the reason) when this program does not run under umockdev's
    // preload, so no emulated device can be reached.
    static bool available(std::string* why);

    // Puts the simulated unit on bus `bus` (1 to 99) as device 1, with the
    // vendor ID and product ID of its descriptor. Each bus serves once per
    // testbed: a unit plugged in again takes a new one, as a real replug gets
    // a new address. An "add" uevent announces it (sent here: umockdev 0.17
    // adds devices from text without one).
    CEmulatedUnit& plugIn(CSimDriver& sim, CSimUnit& unit, int bus);
    // Takes the unit off the bus: its URBs and requests end with ENODEV, the
    // sysfs entry goes and a "remove" uevent is sent (here too: umockdev 0.17
    // removes devices without one). The simulated unit is unplugged too.
    void pullOut(CEmulatedUnit& unit);

  private:
    _UMockdevTestbed* m_testbed = nullptr;
    std::vector<std::unique_ptr<CEmulatedUnit>> m_units;
};

class CEmulatedUnit {
  public:
    CEmulatedUnit(CSimDriver& sim, CSimUnit& unit, int bus);
    ~CEmulatedUnit();
    CEmulatedUnit(const CEmulatedUnit&) = delete;
    CEmulatedUnit& operator=(const CEmulatedUnit&) = delete;

    int bus() const { return m_bus; }
    std::string devNode() const;      // /dev/bus/usb/BBB/001
    std::string sysPath() const;      // /sys/devices/usbB
    std::string description() const;  // the testbed's text for the device
    CSimUnit& simUnit() { return m_unit; }
    CSimDriver& sim() { return m_sim; }

    // From now on every URB and request ends with ENODEV, as after the cable
    // was pulled; URBs in flight are handed back with that status.
    void loseDevice();

    // Handler side (umockdev's thread).
    bool handleIoctl(_UMockdevIoctlClient* client);
    _UMockdevIoctlBase* handler() const { return m_handler; }

  private:
    struct Urb;
    struct ReadOutcome {
        LinkError status = LinkError::None;
        std::vector<std::uint8_t> bytes;
    };

    int submit(void* urb);
    void finishLocked(void* urb, int status, std::size_t actualLength);
    void deliverLocked(void* urb, const ReadOutcome& outcome);
    int controlUrb(void* urb);
    void openPipesLocked();
    void closePipes(std::unique_lock<std::mutex>& lock);
    void pump();

    CSimDriver& m_sim;
    CSimUnit& m_unit;
    int m_bus;
    _UMockdevIoctlBase* m_handler = nullptr;
    DriverHandle m_simUnit = kInvalidHandle;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    DriverHandle m_inPipe = kInvalidHandle;
    DriverHandle m_outPipe = kInvalidHandle;
    bool m_pumpReading = false;
    bool m_gone = false;
    bool m_stop = false;
    std::deque<void*> m_waitingIn;    // IN URBs waiting for a record
    std::deque<ReadOutcome> m_stash;  // a record read after its URB went
    std::deque<void*> m_done;         // URBs ready to be reaped
    std::thread m_pump;
};

// A test with simulated units on an emulated bus, skipped where the bus
// cannot be emulated: the virtual clock, the simulated driver and the testbed,
// made and ended in the order they need.
class EmulatedBusTest : public ::testing::Test {
  protected:
    static constexpr std::uint16_t kVendor = 0x1A2B;

    void SetUp() override {
        std::string why;
        if (!CUsbTestbed::available(&why)) GTEST_SKIP() << why;
        testbed = std::make_unique<CUsbTestbed>();
    }
    // A unit of kVendor with this device ID on bus `bus`, done adjusting
    // after adjustMs.
    CEmulatedUnit& plugIn(int deviceId, int bus, int adjustMs = 0) {
        SimUnitOptions options;
        options.adjustMs = adjustMs;
        options.vendorId = kVendor;
        return testbed->plugIn(sim, sim.addUnit(deviceId, options), bus);
    }

    CVirtualClock clock;
    CSimDriver sim{clock};
    std::unique_ptr<CUsbTestbed> testbed;
};

}  // namespace hx::test
