// The transport over a scripted driver: slot table, unit matching, pipe names,
// the exact control-request buffers and the behaviour on slots not valid.

#include <gtest/gtest.h>

#include "support/ScriptedDriver.h"
#include "usb/ControlHeader.h"
#include "usb/Transport.h"

namespace hx {
namespace {

using test::ScriptedDriver;

class TransportTest : public ::testing::Test {
  protected:
    ScriptedDriver driver;
    CTransport transport{driver};
};

TEST_F(TransportTest, NoUnitAttachedOpensNothingAndLeavesEverySlotFree) {
    transport.initTransport();
    EXPECT_EQ(transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).error, LinkError::UnitGone);
    EXPECT_EQ(transport.slotsInUse(), 0);
    EXPECT_FALSE(transport.getDevicePath(0).has_value());
}

TEST_F(TransportTest, MatchingByProductOpensTheRightUnitAndClosesTheOthers) {
    driver.addUnit(0x111);
    int second = driver.addUnit(0x113);
    transport.initTransport();

    int slot = transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value;
    ASSERT_EQ(slot, 0);
    EXPECT_EQ(transport.slotPath(slot), driver.unit(second).path);
    // The first unit was opened to read its descriptor and closed again.
    EXPECT_EQ(driver.openHandleCount(), 1);
    EXPECT_EQ(driver.closedHandles().size(), 1u);
    EXPECT_EQ(*transport.getDevicePath(1), driver.unit(second).path);
}

TEST_F(TransportTest, EachMatchFlagComparesOnlyItsField) {
    int index = driver.addUnit(0x112, 0x1A2B);
    auto& descriptor = driver.unit(index).descriptor;
    descriptor.deviceClass = 0xFF;
    descriptor.deviceSubClass = 0x01;
    descriptor.bcdDevice = 0x0042;

    struct Case {
        unsigned flags;
        std::uint8_t cls, sub;
        std::uint16_t vendor, product;
        std::uint8_t bcd;
        bool opens;
    } cases[] = {
        {0, 0, 0, 0, 0, 0, true},  // nothing compared: the first unit listed
        {kMatchClass, 0xFF, 0, 0, 0, 0, true},
        {kMatchClass, 0xFE, 0, 0, 0, 0, false},
        {kMatchSubClass, 0, 0x02, 0, 0, 0, false},
        {kMatchVendor, 0, 0, 0x1A2B, 0, 0, true},
        {kMatchVendor, 0, 0, 0x1A2C, 0x112, 0, false},
        {kMatchProduct | kMatchVendor, 0, 0, 0x1A2B, 0x112, 0, true},
        {kMatchBcdDevice, 0, 0, 0, 0, 0x42, true},
        {kMatchBcdDevice, 0, 0, 0, 0, 0x43, false},
    };
    for (const Case& c : cases) {
        transport.initTransport();
        int slot = transport.openUnit(c.flags, c.cls, c.sub, c.vendor, c.product, c.bcd).value;
        EXPECT_EQ(slot != -1, c.opens) << "flags " << c.flags;
    }
}

TEST_F(TransportTest, BcdDeviceIsComparedAsAWhole16BitField) {
    int index = driver.addUnit(0x112);
    driver.unit(index).descriptor.bcdDevice = 0x0142;
    // The low byte matches, but the field as a whole does not.
    EXPECT_EQ(transport.openUnit(kMatchBcdDevice, 0, 0, 0, 0, 0x42).value, -1);
}

TEST_F(TransportTest, UnitsThatCannotBeOpenedOrDescribedAreSkipped) {
    int closedUnit = driver.addUnit(0x113);
    int silentUnit = driver.addUnit(0x113);
    int good = driver.addUnit(0x113);
    driver.unit(closedUnit).openError = LinkError::NoPermission;
    driver.unit(silentUnit).descriptorReadable = false;

    int slot = transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value;
    ASSERT_NE(slot, -1);
    EXPECT_EQ(transport.slotPath(slot), driver.unit(good).path);
    EXPECT_EQ(driver.openHandleCount(), 1);
    // Without the good unit, the first cause met is given.
    driver.unit(good).present = false;
    EXPECT_EQ(transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).error, LinkError::NoPermission);
}

TEST_F(TransportTest, AFullTableSkipsTheUnitAndClosesItsHandle) {
    driver.addUnit(0x113);
    for (int i = 0; i < CTransport::kSlotCount; ++i)
        ASSERT_EQ(transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value, i);
    EXPECT_EQ(transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value, -1);
    EXPECT_EQ(driver.openHandleCount(), CTransport::kSlotCount);

    // A freed slot is taken again, lowest first.
    transport.closeUnit(5);
    EXPECT_EQ(transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value, 5);

    transport.closeAllUnits();
    EXPECT_EQ(transport.slotsInUse(), 0);
    EXPECT_EQ(driver.openHandleCount(), 0);
}

TEST_F(TransportTest, UnitCheckTellsInvalidFromUnconfigured) {
    int index = driver.addUnit(0x113);
    int slot = transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value;
    EXPECT_EQ(transport.unitCheck(slot), LinkError::None);
    driver.unit(index).configuration = 0;
    EXPECT_EQ(transport.unitCheck(slot), LinkError::Protocol);
    driver.unit(index).configuration = 0x01000000;  // any non-zero 32-bit value counts
    EXPECT_EQ(transport.unitCheck(slot), LinkError::None);

    EXPECT_EQ(transport.unitCheck(-1), LinkError::UnitGone);
    EXPECT_EQ(transport.unitCheck(CTransport::kSlotCount), LinkError::UnitGone);
    transport.closeUnit(slot);
    EXPECT_EQ(transport.unitCheck(slot), LinkError::UnitGone);
}

TEST_F(TransportTest, PipesAreNamedFromTheUnitPathModulo256) {
    EXPECT_EQ(CTransport::pipeName("P", 0, 1), "P\\if000pipe001");
    EXPECT_EQ(CTransport::pipeName("P", 257, 300), "P\\if001pipe044");
    EXPECT_EQ(CTransport::pipeName("P", -1, 0), "P\\if255pipe000");

    int index = driver.addUnit(0x113);
    int slot = transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value;
    DriverHandle pipe = transport.openPipe(slot, 0, 1, false).value;
    ASSERT_NE(pipe, kInvalidHandle);
    EXPECT_EQ(driver.openedPaths().back(), driver.unit(index).path + "\\if000pipe001");
    EXPECT_FALSE(transport.openPipe(-1, 0, 0, true).ok());
    EXPECT_FALSE(transport.openPipe(slot, 0, 7, true).ok());  // no such pipe
}

TEST_F(TransportTest, AnEightByteWriteSendsHeaderAndDataInOneBuffer) {
    driver.addUnit(0x113);
    int slot = transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value;
    driver.clearLog();
    std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(transport.controlRequest(slot, kDirectionOut, 0, 10, 0x1234, 0x5678, sizeof data, data), 1u);

    auto writes = driver.calls(kIoctlControlWrite);
    ASSERT_EQ(writes.size(), 1u);
    const std::vector<std::uint8_t> expected = {0x17, 0x00, 0, 0, 0, 0, 0, 0, 0, 10, 0x34, 0x12,
                                                0x78, 0x56, 0, 0, 1, 2, 3, 4, 5, 6,  7,    8};
    EXPECT_EQ(writes[0].input, expected);
    EXPECT_EQ(writes[0].outLength, 0u);
}

TEST_F(TransportTest, AReadAsksWithFlagsTwoAndReturnsTheBytesReceived) {
    driver.addUnit(0x113);
    int slot = transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value;
    driver.setControlReply(3, {9, 8, 7});
    std::uint8_t reply[8] = {};
    EXPECT_EQ(transport.controlRequest(slot, kDirectionIn, 2, 3, 0, 1, sizeof reply, reply), 3u);
    EXPECT_EQ(reply[2], 7);

    auto reads = driver.calls(kIoctlControlRead);
    ASSERT_EQ(reads.size(), 1u);
    const std::vector<std::uint8_t> header = {0x19, 0x00, 0, 0, 2, 0, 0, 0, 0, 3, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(reads[0].input, header);
    EXPECT_EQ(reads[0].outLength, 8u);

    driver.failControl(3);
    EXPECT_EQ(transport.controlRequest(slot, kDirectionIn, 0, 3, 0, 0, sizeof reply, reply), 0u);
}

TEST_F(TransportTest, RequestTypesSelectTheRecipientAndOthersSendNothing) {
    driver.addUnit(0x113);
    int slot = transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value;
    driver.clearLog();
    for (int type = 0; type < 4; ++type)
        transport.controlRequest(slot, kDirectionOut, type, 1, 0, 0, 0, nullptr);
    auto seen = driver.controls();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].header.function, 0x17);
    EXPECT_EQ(seen[1].header.function, 0x18);
    EXPECT_EQ(seen[2].header.function, 0x19);
    EXPECT_EQ(seen[3].header.function, 0x20);

    driver.clearLog();
    EXPECT_EQ(transport.controlRequest(slot, kDirectionOut, 4, 1, 0, 0, 0, nullptr), 0u);
    EXPECT_EQ(transport.controlRequest(slot, kDirectionIn, -1, 1, 0, 0, 0, nullptr), 0u);
    EXPECT_EQ(transport.controlRequest(-1, kDirectionOut, 0, 1, 0, 0, 0, nullptr), 0u);
    EXPECT_TRUE(driver.calls().empty());
}

TEST_F(TransportTest, ResetsUseTheirRequestsAndFailOnInvalidTargets) {
    driver.addUnit(0x113);
    int slot = transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0).value;
    DriverHandle pipe = transport.openPipe(slot, 0, 0, true).value;
    driver.clearLog();

    EXPECT_EQ(transport.resetUnit(slot), LinkError::None);
    auto unitResets = driver.calls(kIoctlResetUnit);
    ASSERT_EQ(unitResets.size(), 1u);
    EXPECT_EQ(unitResets[0].input, std::vector<std::uint8_t>{15});
    EXPECT_EQ(unitResets[0].handle, transport.slotHandle(slot));

    EXPECT_EQ(transport.resetPipeHandle(pipe), LinkError::None);
    EXPECT_EQ(driver.calls(kIoctlResetPipe).size(), 1u);

    driver.setResetUnitResult(false);
    EXPECT_NE(transport.resetUnit(slot), LinkError::None);
    EXPECT_NE(transport.resetUnit(-1), LinkError::None);
    EXPECT_NE(transport.resetPipeHandle(kInvalidHandle), LinkError::None);
}

TEST_F(TransportTest, InitClosesWhatAnEarlierUserLeftOpen) {
    driver.addUnit(0x113);
    transport.openUnit(kMatchProduct, 0, 0, 0, 0x113, 0);
    transport.initTransport();
    EXPECT_EQ(transport.slotsInUse(), 0);
    EXPECT_EQ(driver.openHandleCount(), 0);
}

TEST(ControlHeader, RoundTripsAndRefusesShortBuffers) {
    ControlHeader header{kVendorOther, kTransferDirectionIn, 0xAB, 0xBEEF, 0x0102};
    auto bytes = encodeControlHeader(header);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 0);
    EXPECT_EQ(bytes[8], 0);
    EXPECT_EQ(bytes[14], 0);
    EXPECT_EQ(bytes[15], 0);
    EXPECT_EQ(decodeControlHeader(bytes.data(), bytes.size()), header);
    EXPECT_FALSE(decodeControlHeader(bytes.data(), 15).has_value());

    DeviceDescriptorFields fields{0xFF, 0x01, 0x1A2B, 0x0113, 0x0100};
    auto descriptor = makeDeviceDescriptor(fields);
    EXPECT_EQ(descriptor[10], 0x13);
    EXPECT_EQ(descriptor[11], 0x01);
    EXPECT_EQ(parseDeviceDescriptor(descriptor.data(), descriptor.size()), fields);
    EXPECT_FALSE(parseDeviceDescriptor(descriptor.data(), 17).has_value());
}

}  // namespace
}  // namespace hx
