// The driver contract suite run through the libusb driver, against a simulated
// unit behind an emulated USB device: every request, read and write below goes
// through libusb and usbdevfs as with a real unit.

#include <memory>

#include "app/VirtualClock.h"
#include "sim/SimDriver.h"
#include "support/DriverContract.h"
#include "usb/LibusbDriver.h"
#include "usb/LibusbTranslation.h"
#include "usbemu/EmulatedUsb.h"

namespace hx::test {
namespace {

constexpr std::uint16_t kVendor = 0x1A2B;

struct LibusbRig : DriverRig {
    LibusbRig() {
        if (!CUsbTestbed::available(&skipReason)) return;
        testbed = std::make_unique<CUsbTestbed>();
        SimUnitOptions options;
        options.adjustMs = 0;
        options.vendorId = kVendor;
        testbed->plugIn(sim, sim.addUnit(3, options), 1);
        libusb = std::make_unique<CLibusbDriver>(kVendor);
        unitPath = makeUsbDevicePath({1, 1, kVendor, productId, -1});
    }
    ~LibusbRig() override {
        libusb.reset();  // before the emulated bus goes
        testbed.reset();
    }
    IUnitDriver& driver() override { return libusb ? static_cast<IUnitDriver&>(*libusb) : sim; }

    CVirtualClock clock;
    CSimDriver sim{clock};
    std::unique_ptr<CUsbTestbed> testbed;
    std::unique_ptr<CLibusbDriver> libusb;
};

INSTANTIATE_TEST_SUITE_P(Drivers, DriverContract,
                         ::testing::Values(RigFactory([] { return std::unique_ptr<DriverRig>(new LibusbRig); })),
                         [](const ::testing::TestParamInfo<RigFactory>&) { return "LibusbOnEmulatedUnit"; });

}  // namespace
}  // namespace hx::test
