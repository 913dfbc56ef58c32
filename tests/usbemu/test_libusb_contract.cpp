// The driver contract suite run through the libusb driver, against a simulated
// unit behind an emulated USB device: every request, read and write below goes
// through libusb and usbdevfs as with a real unit.

#include <algorithm>
#include <memory>

#include "app/VirtualClock.h"
#include "sim/SimDriver.h"
#include "support/DriverContract.h"
#include "usb/LibusbDriver.h"
#include "usb/LibusbTranslation.h"
#include "usb/UnitListing.h"
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

INSTANTIATE_TEST_SUITE_P(Drivers, DriverContract, ::testing::Values(RigFactory([] {
                             return std::unique_ptr<DriverRig>(new LibusbRig);
                         })),
                         [](const ::testing::TestParamInfo<RigFactory>&) { return "LibusbOnEmulatedUnit"; });

}  // namespace
}  // namespace hx::test

namespace hx::test {
namespace {

using LibusbListing = EmulatedBusTest;

TEST_F(LibusbListing, AttachedUnitsShowIdAndVersionWithoutAnyRequest) {
    const int adjustMs = SimUnitOptions{}.adjustMs;
    CSimUnit& first = plugIn(0, 1, adjustMs).simUnit();
    CSimUnit& fourth = plugIn(3, 2, adjustMs).simUnit();
    {
        CLibusbDriver libusb(kVendor);
        std::vector<std::string> lines;
        for (const UnitListing& unit : listUnits(libusb)) lines.push_back(formatUnitListing(unit));
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines,
                  (std::vector<std::string>{"ID 1  version 1.05  usb#vid_1a2b&pid_0110#bus001&addr001",
                                            "ID 4  version 1.05  usb#vid_1a2b&pid_0113#bus002&addr001"}));
    }
    {
        // Without a vendor ID nothing is listed, but both show as possible units.
        CLibusbDriver unset(std::nullopt);
        EXPECT_TRUE(listUnits(unset).empty());
        const std::vector<UsbLocation> possible = unset.possibleUnits();
        ASSERT_EQ(possible.size(), 2u);
        EXPECT_EQ(possible[0].vendorId, kVendor);
        EXPECT_EQ(possible[0].productId & 0xFFF0, 0x0110);
    }
    EXPECT_TRUE(first.requestLog().empty());
    EXPECT_TRUE(fourth.requestLog().empty());

    // A unit the user may not open is still listed, with the likely cause.
    UnitListing locked{"usb#vid_1a2b&pid_0111#bus003&addr009", 1, std::nullopt, LinkError::NoPermission};
    EXPECT_EQ(
        formatUnitListing(locked),
        "ID 2  version ?  usb#vid_1a2b&pid_0111#bus003&addr009  (no permission to open the unit: is the "
        "udev rule installed?)");
}

}  // namespace
}  // namespace hx::test
