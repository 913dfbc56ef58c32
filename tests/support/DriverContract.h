#pragma once
// The unit driver's contract, as the transport and the command channel rely on
// it: one parameterised suite that every driver runs (the scripted driver, the
// simulated driver, and the libusb driver over an emulated unit). A test
// program instantiates it with factories of its rigs:
//   INSTANTIATE_TEST_SUITE_P(Drivers, DriverContract, ::testing::Values(...));

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "usb/ControlHeader.h"
#include "usb/UnitDriver.h"

namespace hx::test {

// One driver with one unit of product ID 0x113 (device ID 3) attached.
struct DriverRig {
    virtual ~DriverRig() = default;
    virtual IUnitDriver& driver() = 0;
    std::string unitPath;
    std::uint16_t productId = 0x113;
    std::string skipReason;  // set when this machine cannot run the rig
};

using RigFactory = std::function<std::unique_ptr<DriverRig>()>;

class DriverContract : public ::testing::TestWithParam<RigFactory> {
  protected:
    DriverContract() : rig(GetParam()()), driver(rig->driver()) {}
    void SetUp() override {
        if (!rig->skipReason.empty()) GTEST_SKIP() << rig->skipReason;
    }

    std::vector<std::uint8_t> controlHeader(std::uint8_t request, std::uint16_t value, bool read) {
        auto bytes =
            encodeControlHeader({kVendorDevice, read ? kTransferDirectionIn : 0u, request, value, 0});
        return {bytes.begin(), bytes.end()};
    }

    std::unique_ptr<DriverRig> rig;
    IUnitDriver& driver;
};

TEST_P(DriverContract, UnitsAreListedWithTheirProductIdInThePath) {
    auto paths = driver.presentInterfaces();
    ASSERT_NE(std::find(paths.begin(), paths.end(), rig->unitPath), paths.end());
    std::string lower = rig->unitPath;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    EXPECT_NE(lower.find("pid_0113#"), std::string::npos);
}

TEST_P(DriverContract, TheUnitAndItsTwoPipesOpenAndNothingElse) {
    DriverHandle unit = driver.open(rig->unitPath).value;
    DriverHandle in = driver.open(rig->unitPath + "\\if000pipe000").value;
    DriverHandle out = driver.open(rig->unitPath + "\\if000pipe001").value;
    EXPECT_NE(unit, kInvalidHandle);
    EXPECT_NE(in, kInvalidHandle);
    EXPECT_NE(out, kInvalidHandle);
    EXPECT_FALSE(driver.open(rig->unitPath + "\\if000pipe009").ok());
    EXPECT_EQ(driver.open("no such unit").error, LinkError::UnitGone);
    for (DriverHandle h : {unit, in, out}) driver.close(h);
}

TEST_P(DriverContract, DescriptorConfigurationAndResetsAnswerWithTheirBuffers) {
    DriverHandle unit = driver.open(rig->unitPath).value;
    auto request = descriptorRequest();
    std::uint8_t descriptor[kDeviceDescriptorSize] = {};
    std::size_t returned = 0;
    ASSERT_EQ(driver.ioControl(unit, kIoctlGetDescriptor, request.data(), request.size(), descriptor,
                               sizeof descriptor, &returned),
              LinkError::None);
    ASSERT_EQ(returned, kDeviceDescriptorSize);
    EXPECT_EQ(parseDeviceDescriptor(descriptor, returned)->productId, rig->productId);

    std::uint8_t configuration[4] = {};
    ASSERT_EQ(driver.ioControl(unit, kIoctlGetConfiguration, nullptr, 0, configuration, 4, &returned),
              LinkError::None);
    EXPECT_EQ(returned, 4u);
    EXPECT_NE(configuration[0] | configuration[1] | configuration[2] | configuration[3], 0);

    const std::uint8_t resetCode = 15;
    EXPECT_EQ(driver.ioControl(unit, kIoctlResetUnit, &resetCode, 1, nullptr, 0, &returned), LinkError::None);
    DriverHandle in = driver.open(rig->unitPath + "\\if000pipe000").value;
    EXPECT_EQ(driver.ioControl(in, kIoctlResetPipe, nullptr, 0, nullptr, 0, &returned), LinkError::None);
    driver.close(in);
    driver.close(unit);
}

TEST_P(DriverContract, ControlRequestsCarryTheHeaderAndTheData) {
    DriverHandle unit = driver.open(rig->unitPath).value;
    std::vector<std::uint8_t> write = controlHeader(1, 913, false);
    std::size_t returned = 0;
    EXPECT_EQ(driver.ioControl(unit, kIoctlControlWrite, write.data(), write.size(), nullptr, 0, &returned),
              LinkError::None);

    std::vector<std::uint8_t> withData = controlHeader(6, 0, false);
    const std::uint8_t frame[8] = {12, 3, 15, 5, 9, 30, 5, 0};
    withData.insert(withData.end(), frame, frame + 8);
    EXPECT_EQ(
        driver.ioControl(unit, kIoctlControlWrite, withData.data(), withData.size(), nullptr, 0, &returned),
        LinkError::None);

    std::vector<std::uint8_t> read = controlHeader(5, 0, true);
    std::uint8_t state = 0xEE;
    EXPECT_EQ(driver.ioControl(unit, kIoctlControlRead, read.data(), read.size(), &state, 1, &returned),
              LinkError::None);
    EXPECT_LE(returned, 1u);
    driver.close(unit);
}

TEST_P(DriverContract, FramesGoOnlyDownTheOutboundPipe) {
    DriverHandle unit = driver.open(rig->unitPath).value;
    DriverHandle in = driver.open(rig->unitPath + "\\if000pipe000").value;
    DriverHandle out = driver.open(rig->unitPath + "\\if000pipe001").value;
    std::uint8_t frame[64] = {8, 'H', 'X'};
    EXPECT_EQ(driver.writePipe(out, frame, sizeof frame), LinkError::None);
    EXPECT_NE(driver.writePipe(in, frame, sizeof frame), LinkError::None);
    for (DriverHandle h : {unit, in, out}) driver.close(h);
}

TEST_P(DriverContract, ACancelledReadEndsAndLaterReadsEndAtOnceUntilClosed) {
    DriverHandle unit = driver.open(rig->unitPath).value;
    DriverHandle in = driver.open(rig->unitPath + "\\if000pipe000").value;
    LinkError last = LinkError::None;
    std::thread reader([&] {
        std::uint8_t buffer[64];
        // Records already due may come first; the read after them blocks.
        for (int i = 0; i < 1000 && last == LinkError::None; ++i)
            last = driver.readPipe(in, buffer, 64).error;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    driver.cancelRead(in);
    reader.join();
    EXPECT_EQ(last, LinkError::Cancelled);

    std::uint8_t buffer[64];
    EXPECT_EQ(driver.readPipe(in, buffer, 64).error, LinkError::Cancelled);
    driver.close(in);
    LinkError afterClose = driver.readPipe(in, buffer, 64).error;
    EXPECT_TRUE(afterClose == LinkError::UnitGone || afterClose == LinkError::Cancelled);
    driver.close(unit);
}

}  // namespace hx::test
