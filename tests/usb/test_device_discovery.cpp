// Device IDs from device paths.

#include <gtest/gtest.h>

#include "usb/DeviceDiscovery.h"

namespace hx {
namespace {

TEST(DeviceIdFromPath, ProductIdAboveTheBaseGivesTheId) {
    EXPECT_EQ(deviceIdFromPath("\\\\?\\usb#vid_1a2b&pid_0113#5&1234#{c14d9f44-b151-42da-9a94-d2c4932b4624}"),
              3);
    EXPECT_EQ(deviceIdFromPath("usb#VID_1A2B&PID_0110#x"), 0);  // any case
    EXPECT_EQ(deviceIdFromPath("usb#vid_1a2b&pid_011f#x"), 15);
    EXPECT_EQ(deviceIdFromPath("usb#vid_1a2b&pid_0125#x"), 21);  // not limited here
}

TEST(DeviceIdFromPath, BelowTheBaseOrWithoutPidIsNoUnit) {
    EXPECT_EQ(deviceIdFromPath("usb#vid_1a2b&pid_0100#x"), -1);
    EXPECT_EQ(deviceIdFromPath("usb#vid_1a2b#x"), -1);
    EXPECT_EQ(deviceIdFromPath(""), -1);
    EXPECT_EQ(deviceIdFromPath("pid"), -1);
    EXPECT_EQ(deviceIdFromPath("pid_zz#"), -1);
}

TEST(DeviceIdFromPath, NumberEndsAtTheFirstNonHexCharacter) {
    EXPECT_EQ(deviceIdFromPath("usb#vid_1&pid_0112&mi_00#x"), 2);
    EXPECT_EQ(deviceIdFromPath("usb#vid_1&pid_112"), 2);  // no "#": to the end
}

}  // namespace
}  // namespace hx
