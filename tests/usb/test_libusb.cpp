// The libusb driver's translation of the driver contract (paths, control
// transfers, endpoints, descriptors, statuses, the vendor setting), and the
// driver itself on a machine where no unit is attached.

#include <gtest/gtest.h>
#include <libusb.h>

#include <cstdlib>

#include "usb/LibusbDriver.h"
#include "usb/LibusbTranslation.h"
#include "usb/Transport.h"

namespace hx {
namespace {

TEST(LibusbPaths, UnitAndPipePathsRoundTrip) {
    UsbLocation unit{3, 7, 0x1A2B, 0x0113, -1};
    std::string path = makeUsbDevicePath(unit);
    EXPECT_EQ(path, "usb#vid_1a2b&pid_0113#bus003&addr007");
    EXPECT_EQ(parseUsbDevicePath(path), unit);

    // The pipe names the transport makes lead back to the unit and the pipe.
    auto pipe = parseUsbDevicePath(CTransport::pipeName(path, 0, 1));
    ASSERT_TRUE(pipe.has_value());
    EXPECT_EQ(pipe->pipe, 1);
    EXPECT_EQ(pipe->address, 7);
}

TEST(LibusbPaths, ForeignOrMalformedPathsAreRefused) {
    const char* bad[] = {
        "",
        "usb#vid_1a2b&pid_0113",
        "USB#VID_1A2B&PID_0113#BUS003&ADDR007",
        "usb#vid_1a2b&pid_0113#bus003&addr007x",
        "usb#vid_1a2b&pid_0113#bus003&addr007\\if001pipe000",  // only interface 0 exists
        "usb#vid_1a2b&pid_0113#bus003&addr007\\if000pipe0001",
        "usb#vid_1a2b&pid_0113#bus003&addr007\\if000pipeabc",
        "usb#vid_1a2b&pid_0113#bus300&addr007",
        "\\\\?\\usb#vid_1a2b&pid_0113#sim0003#{c14d9f44-b151-42da-9a94-d2c4932b4624}",
    };
    for (const char* path : bad) EXPECT_FALSE(parseUsbDevicePath(path).has_value()) << path;
}

TEST(LibusbControl, FunctionCodeAndFlagsGiveTheRequestType) {
    struct Case {
        std::uint16_t function;
        std::uint32_t flags;
        std::uint8_t requestType;
    } cases[] = {
        {kVendorDevice, kTransferDirectionIn, 0xC0},
        {kVendorDevice, 0, 0x40},
        {kVendorInterface, 0, 0x41},
        {kVendorEndpoint, 0, 0x42},
        {kVendorOther, 2, 0xC3},
    };
    for (const Case& c : cases) {
        auto setup = controlSetupFromHeader({c.function, c.flags, 14, 913, 5});
        ASSERT_TRUE(setup.has_value());
        EXPECT_EQ(*setup, (UsbControlSetup{c.requestType, 14, 913, 5}));
    }
    EXPECT_FALSE(controlSetupFromHeader({0x21, 0, 1, 0, 0}).has_value());
}

TEST(LibusbPipes, FirstInAndOutBulkOrInterruptEndpointsArePipesZeroAndOne) {
    std::vector<UsbEndpoint> endpoints = {
        {0x81, LIBUSB_TRANSFER_TYPE_ISOCHRONOUS}, {0x02, LIBUSB_TRANSFER_TYPE_BULK},
        {0x83, LIBUSB_TRANSFER_TYPE_INTERRUPT},   {0x84, LIBUSB_TRANSFER_TYPE_BULK},
        {0x05, LIBUSB_TRANSFER_TYPE_BULK},
    };
    UsbPipes pipes = choosePipes(endpoints);
    ASSERT_TRUE(pipes.in && pipes.out);
    EXPECT_EQ(pipes.in->address, 0x83);
    EXPECT_EQ(pipes.out->address, 0x02);
    EXPECT_FALSE(choosePipes({{0x81, LIBUSB_TRANSFER_TYPE_BULK}}).out.has_value());
}

TEST(LibusbDescriptor, BytesAreTheStandardLayout) {
    UsbDeviceDescriptor descriptor;
    descriptor.deviceClass = 0xFF;
    descriptor.deviceSubClass = 2;
    descriptor.vendorId = 0x1A2B;
    descriptor.productId = 0x0113;
    descriptor.bcdDevice = 0x0142;
    std::vector<std::uint8_t> bytes = deviceDescriptorBytes(descriptor);
    ASSERT_EQ(bytes.size(), kDeviceDescriptorSize);
    EXPECT_EQ(bytes[0], 18);
    EXPECT_EQ(bytes[1], 1);
    auto fields = parseDeviceDescriptor(bytes.data(), bytes.size());
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(*fields, (DeviceDescriptorFields{0xFF, 2, 0x1A2B, 0x0113, 0x0142}));
}

TEST(LibusbStatus, ErrorsMapToTheLinksCauses) {
    // What the channel recovers from, and what the user is told about an open.
    EXPECT_EQ(linkErrorFromLibusb(LIBUSB_SUCCESS), LinkError::None);
    EXPECT_EQ(linkErrorFromLibusb(LIBUSB_ERROR_PIPE), LinkError::Protocol);
    EXPECT_EQ(linkErrorFromLibusb(LIBUSB_ERROR_IO), LinkError::Io);
    EXPECT_EQ(linkErrorFromLibusb(LIBUSB_ERROR_NO_DEVICE), LinkError::UnitGone);
    EXPECT_EQ(linkErrorFromLibusb(LIBUSB_ERROR_ACCESS), LinkError::NoPermission);
    EXPECT_EQ(linkErrorFromLibusb(LIBUSB_ERROR_BUSY), LinkError::Busy);
}

TEST(LibusbVendor, VendorIdIsHexWithOrWithoutPrefix) {
    EXPECT_EQ(parseVendorId("1a2b"), 0x1A2B);
    EXPECT_EQ(parseVendorId("0x1A2B"), 0x1A2B);
    EXPECT_EQ(parseVendorId(" 04d8\n"), 0x04D8);
    for (const char* bad : {"", "0x", "12345", "xyz", "1a 2b", "-1"})
        EXPECT_FALSE(parseVendorId(bad).has_value()) << bad;
}

TEST(LibusbTranslation, TheUdevRuleNamesTheVendorTheSeatAndPlugdev) {
    const std::string rule = udevRuleText(0x04D8);
    EXPECT_NE(rule.find("ATTR{idVendor}==\"04d8\", ATTR{idProduct}==\"011[0-9a-f]\""), std::string::npos)
        << rule;
    EXPECT_NE(rule.find("TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\""), std::string::npos) << rule;
}

TEST(LibusbDriver, WithoutAVendorNothingIsListedOrOpened) {
    CLibusbDriver driver(std::nullopt);
    EXPECT_TRUE(driver.presentInterfaces().empty());
    EXPECT_FALSE(driver.open("usb#vid_1a2b&pid_0113#bus001&addr002").ok());
    EXPECT_EQ(driver.setNoticeHandler([](DeviceNotice, const std::string&) {}), LinkError::NotConfigured);
}

TEST(LibusbDriver, PathsOfAnotherVendorOrAbsentUnitsDoNotOpen) {
    CLibusbDriver driver(0x1A2B);
    EXPECT_FALSE(driver.open("usb#vid_9999&pid_0113#bus001&addr002").ok());
    EXPECT_FALSE(driver.open("usb#vid_1a2b&pid_0113#bus255&addr255").ok());
    EXPECT_FALSE(driver.open("not a path").ok());
    std::size_t returned = 7;
    EXPECT_NE(driver.ioControl(42, kIoctlGetConfiguration, nullptr, 0, nullptr, 0, &returned),
              LinkError::None);
    EXPECT_EQ(returned, 0u);
    std::uint8_t buffer[64];
    EXPECT_EQ(driver.readPipe(42, buffer, sizeof buffer).error, LinkError::UnitGone);
    EXPECT_NE(driver.writePipe(42, buffer, sizeof buffer), LinkError::None);

    // The transport finds no unit of this vendor here and leaves its table empty.
    CTransport transport(driver);
    EXPECT_EQ(transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value, -1);
    EXPECT_EQ(transport.slotsInUse(), 0);
}

TEST(LibusbDriver, HotplugWatchingStartsAndEndsWithTheDriver) {
    // Whether this machine supports hotplug or not, registering must not hang
    // and destroying the driver must end its event thread.
    for (int round = 0; round < 2; ++round) {
        CLibusbDriver driver(0x1A2B);
        bool watched = driver.setNoticeHandler([](DeviceNotice, const std::string&) {}) == LinkError::None;
        if (driver.available() && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
            EXPECT_TRUE(watched);
        }
        EXPECT_TRUE(driver.setNoticeHandler(nullptr) == LinkError::None || !watched);
    }
}

TEST(LibusbDriver, VendorComesFromTheEnvironment) {
    ::setenv("HX40K_USB_VENDOR_ID", "0x04d8", 1);
    EXPECT_EQ(CLibusbDriver::vendorIdFromEnvironment(), 0x04D8);
    ::setenv("HX40K_USB_VENDOR_ID", "bogus", 1);
    EXPECT_FALSE(CLibusbDriver::vendorIdFromEnvironment().has_value());
    ::unsetenv("HX40K_USB_VENDOR_ID");
    EXPECT_FALSE(CLibusbDriver::vendorIdFromEnvironment().has_value());
}

}  // namespace
}  // namespace hx
