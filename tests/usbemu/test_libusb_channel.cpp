// The command channel's requests through libusb reach the simulated unit with
// their bytes intact in both directions: what the unit then holds, and what
// it answers, is what the channel sent and reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/LogChannel.h"
#include "app/VirtualClock.h"
#include "protocol/CommandChannel.h"
#include "sim/SimDriver.h"
#include "usb/LibusbDriver.h"
#include "usbemu/EmulatedUsb.h"

namespace hx::test {
namespace {

using LibusbChannel = EmulatedBusTest;

TEST_F(LibusbChannel, RequestsAndFramesCarryTheirBytesBothWays) {
    CSimUnit& unit = plugIn(2, 1).simUnit();
    {
        CLibusbDriver libusb(kVendor);
        CCommandChannel channel(libusb, clock);
        channel.setLogWriter([](std::string_view, char, char) {});
        ASSERT_EQ(channel.ResetPipe(kProductIdBase + 2), LinkError::None);

        EXPECT_TRUE(channel.sendCMD(CR_VIEW));
        EXPECT_EQ(unit.countRequests(kRequestCommand, CR_VIEW), 1);
        EXPECT_EQ(channel.getState(), unit.state());

        MenuSettings menu;
        ASSERT_TRUE(channel.getMenu(menu));
        EXPECT_EQ(menu.words, unit.menu());
        menu[MenuSettings::kType] = 2;
        menu[MenuSettings::kSound] = 0;
        EXPECT_TRUE(channel.sendMenu(menu));
        EXPECT_EQ(unit.menu(), menu.words);

        EXPECT_TRUE(channel.setTime(makeClockFrame(2012, 3, 15, 5, 9, 30, 5)));
        UnitClock time;
        ASSERT_TRUE(channel.getTime(time));
        EXPECT_EQ(time, (UnitClock{2012, 3, 15, 9, 30, 5}));

        EXPECT_TRUE(channel.sendPcVer("Halnor40KU1.0.2.0"));
        EXPECT_EQ(unit.pcVersionText(), "Halnor40KU1.0.2.0");
    }
}

TEST_F(LibusbChannel, AFailedPipeReadIsCountedAndLoggedByName) {
    // Before: a read error dropped the record without a line or a count.
    CEmulatedUnit& emulated = plugIn(2, 1);
    std::vector<std::string> lines;
    setLogLineObserver([&](std::string_view text, char, char) { lines.emplace_back(text); });
    {
        CLibusbDriver libusb(kVendor);
        const std::vector<std::string> paths = libusb.presentInterfaces();
        ASSERT_EQ(paths.size(), 1u);
        const DriverHandle in = libusb.open(paths[0] + "\\if000pipe000").value;
        ASSERT_NE(in, kInvalidHandle);
        emulated.loseDevice();
        std::uint8_t buffer[64];
        EXPECT_NE(libusb.readPipe(in, buffer, sizeof buffer).error, LinkError::None);
        EXPECT_EQ(libusb.readErrors(), 1u);
        libusb.close(in);
    }
    setLogLineObserver(nullptr);
    EXPECT_NE(
        std::find_if(lines.begin(), lines.end(),
                     [](const std::string& l) { return l.find("libusb read error: LIBUSB_ERROR_") == 0; }),
        lines.end());
}

}  // namespace
}  // namespace hx::test
