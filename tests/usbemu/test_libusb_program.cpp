// The whole program over the libusb driver: simulated units behind emulated
// USB devices, the shell, controller and receiver thread in virtual time. What
// the program does here is what it does with a real unit on the cable.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "control/ControlRig.h"
#include "data/DataFileReader.h"
#include "protocol/CommandChannel.h"
#include "usb/LibusbDriver.h"
#include "usbemu/EmulatedUsb.h"

namespace hx::test {
namespace {

constexpr std::uint16_t kVendor = 0x1A2B;

class LibusbProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!CUsbTestbed::available(&why)) GTEST_SKIP() << why;
        testbed = std::make_unique<CUsbTestbed>();
    }
    void TearDown() override {
        rig.stop();
        libusb.reset();
        testbed.reset();
    }

    CEmulatedUnit& plugIn(int id, int bus) {
        SimUnitOptions options;
        options.vendorId = kVendor;
        return testbed->plugIn(rig.sim, rig.addUnit(id, options), bus);
    }
    void start() {
        libusb = std::make_unique<CLibusbDriver>(kVendor);
        rig.ports.driver = libusb.get();
        rig.start();
    }
    bool measure() {
        std::size_t before = rig.ui.results.size();
        rig.command(kCmdStart);
        return rig.runUntil([&] { return rig.ui.results.size() > before; }, 180000);
    }

    ControlRig rig;
    std::unique_ptr<CUsbTestbed> testbed;
    std::unique_ptr<CLibusbDriver> libusb;
};

TEST_F(LibusbProgram, ConnectsSetsUpStreamsMeasuresAndSaves) {
    CSimUnit& unit = plugIn(0, 1).simUnit();
    start();
    ASSERT_TRUE(rig.waitReady());
    EXPECT_EQ(rig.ui.title(), "Halnor40KU (Connected)->1");
    EXPECT_GE(unit.countRequests(kRequestCommand, CR_VIEW), 1);
    EXPECT_FALSE(unit.pcVersionText().empty());
    EXPECT_EQ(rig.ui.versionPane.find(unit.versionText()) != std::string::npos, true) << rig.ui.versionPane;

    ASSERT_TRUE(measure());
    const ResultSeen& seen = rig.ui.results.back();
    std::optional<SimResult> sent = unit.lastResult();
    ASSERT_TRUE(sent);
    EXPECT_EQ(seen.errorCode, 0);
    EXPECT_EQ(seen.row.hr, sent->hr);
    DataFileParse file = readDataFile(seen.path);
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.contents.sbp, sent->sbpHalf);
    EXPECT_EQ(file.contents.dbp, sent->dbpHalf);
    EXPECT_GT(rig.ui.drawBatches, 100);
}

TEST_F(LibusbProgram, AReadErrorThatAResetCuresGoesUnnoticed) {
    CSimUnit& unit = plugIn(0, 1).simUnit();
    start();
    ASSERT_TRUE(rig.waitReady());
    LogCapture log;
    unit.injectReadError(true);
    rig.settleUntil([] { return false; }, 1000);
    EXPECT_TRUE(rig.controller().connected());
    int before = rig.ui.drawBatches;
    rig.runFor(1000);
    EXPECT_GT(rig.ui.drawBatches, before);  // the live view goes on after the reset
    EXPECT_EQ(log.count("OnUsb_ReadError!"), 0);
}

TEST_F(LibusbProgram, AReadErrorThatOutlivesTheResetReconnects) {
    CSimUnit& unit = plugIn(0, 1).simUnit();
    start();
    ASSERT_TRUE(rig.waitReady());
    LogCapture log;
    unit.injectReadError(false);
    ASSERT_TRUE(rig.settleUntil([&] { return !rig.controller().connected(); }, 10000));
    EXPECT_EQ(log.count("OnUsb_ReadError!"), 1);
    unit.clearFaults();
    ASSERT_TRUE(rig.runUntil([&] { return rig.connectedAndReady(); }, 30000));
}

TEST_F(LibusbProgram, PullingTheUnitOutAndPluggingItBackReconnects) {
    CEmulatedUnit& emulated = plugIn(0, 1);
    start();
    ASSERT_TRUE(rig.waitReady());
    LogCapture log;
    testbed->pullOut(emulated);
    ASSERT_TRUE(rig.settleUntil([&] { return !rig.controller().connected(); }, 10000));
    ASSERT_TRUE(rig.settleUntil([&] { return log.count("DBT_DEVICEREMOVERCOMPLETE: devId:0") == 1; }, 10000));
    EXPECT_TRUE(rig.doc().deviceIds().empty());
    EXPECT_TRUE(rig.loop.timerRunning(kTimerConnect));
    EXPECT_EQ(rig.ui.title(), "Halnor40KU (Not Connected)->1");

    // Back in, at a new address as after a real replug.
    rig.sim.replug(emulated.simUnit());
    testbed->plugIn(rig.sim, emulated.simUnit(), 2);
    ASSERT_TRUE(rig.settleUntil([&] { return log.count("DBT_DEVICEARRIVAL devId:0") == 1; }, 10000));
    ASSERT_TRUE(rig.runUntil([&] { return rig.connectedAndReady(); }, 30000));
}

TEST_F(LibusbProgram, URBsFailingWithNoDeviceEndInTheReconnectPathWithoutANotice) {
    CEmulatedUnit& emulated = plugIn(0, 1);
    start();
    ASSERT_TRUE(rig.waitReady());
    LogCapture log;
    emulated.loseDevice();  // the cable is cut, but no uevent comes
    ASSERT_TRUE(rig.settleUntil([&] { return !rig.controller().connected(); }, 10000));
    EXPECT_EQ(log.count("OnUsb_ReadError!"), 1);
    EXPECT_TRUE(rig.loop.timerRunning(kTimerConnect));
}

}  // namespace
}  // namespace hx::test
