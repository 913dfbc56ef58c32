// The command channel over a scripted driver: every frame, every request as the
// unit sees it, every log line, the opening statuses and the read recovery.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "protocol/CommandChannel.h"
#include "protocol/UnitState.h"
#include "support/ScriptedDriver.h"

namespace hx {
namespace {

using test::ScriptedDriver;
using test::ScriptedRead;
using Bytes = std::vector<std::uint8_t>;

std::string hexHandle(const char* format, DriverHandle handle) {
    char text[96];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(handle));
    return text;
}

// --- frames ------------------------------------------------------------------

TEST(ChannelFrames, ClockFrameIsPlainNumbersWithSundayAsOne) {
    EXPECT_EQ(makeClockFrame(2012, 3, 15, 5, 9, 30, 5), (ClockFrame{12, 3, 15, 5, 9, 30, 5, 0}));
    std::tm time{};
    time.tm_year = 112;
    time.tm_mon = 2;
    time.tm_mday = 15;
    time.tm_wday = 4;  // Thursday
    time.tm_hour = 9;
    time.tm_min = 30;
    time.tm_sec = 5;
    EXPECT_EQ(makeClockFrame(time), (ClockFrame{12, 3, 15, 5, 9, 30, 5, 0}));
    EXPECT_EQ(makeClockFrame(2099, 12, 31, 7, 23, 59, 59)[0], 99);
}

TEST(ChannelFrames, ClockReplyIsBcdInItsOwnOrder) {
    const std::uint8_t reply[8] = {0x05, 0x30, 0x09, 0xEE, 0x15, 0x03, 0x12, 0xEE};
    auto time = parseClockReply(reply, sizeof reply);
    ASSERT_TRUE(time.has_value());
    EXPECT_EQ(*time, (UnitClock{2012, 3, 15, 9, 30, 5}));
    EXPECT_FALSE(parseClockReply(reply, 6).has_value());
}

TEST(ChannelFrames, MenuFlagsRoundTripThroughByteThree) {
    MenuFrame frame{8, 2, 3, 0x21, 1, 2, 0x5A, 0xFF};
    MenuSettings menu = parseMenuFrame(frame);
    EXPECT_EQ(menu[MenuSettings::kAutoP], 1);
    EXPECT_EQ(menu[MenuSettings::kTime], 1);
    for (int word : {MenuSettings::kDbp, MenuSettings::kUsb, MenuSettings::kPrint, MenuSettings::kSound})
        EXPECT_EQ(menu[word], 0) << word;
    EXPECT_EQ(menu[MenuSettings::kPress], 8);
    EXPECT_EQ(menu[MenuSettings::kType], 2);
    EXPECT_EQ(menu[MenuSettings::kWord10], 0x5A);

    MenuFrame back = makeMenuFrame(menu);
    EXPECT_EQ(back[3], 0x21);
    EXPECT_EQ(back[6], 0x5A);  // word 10 goes back as it was read
    EXPECT_EQ(back[7], 0);

    // Bits 6 and 7 are ignored when read; any non-zero word sets its bit.
    EXPECT_EQ(parseMenuFrame(MenuFrame{0, 0, 0, 0xC0, 0, 0, 0, 0}), parseMenuFrame(MenuFrame{}));
    menu[MenuSettings::kSound] = 7;
    EXPECT_EQ(makeMenuFrame(menu)[3], 0x31);
}

TEST(ChannelFrames, PcVersionFrameIsMarkTextAndZeros) {
    OutboundFrame frame = makePcVersionFrame("Halnor40KU");
    EXPECT_EQ(frame[0], 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&frame[1]), 10), "Halnor40KU");
    for (std::size_t i = 11; i < frame.size(); ++i) EXPECT_EQ(frame[i], 0) << i;

    std::string longText(80, 'x');
    frame = makePcVersionFrame(longText);
    EXPECT_EQ(frame[63], 'x');  // only the first 63 characters fit
}

// --- the channel over a scripted unit ----------------------------------------

class ChannelTest : public ::testing::Test {
  protected:
    ChannelTest() {
        unitIndex = driver.addUnit(0x113);
        channel.setLogWriter([this](std::string_view text, char k1, char k2) {
            lines.emplace_back(text);
            kinds.push_back(std::string{k1, k2});
        });
    }

    void open() {
        ASSERT_EQ(channel.ResetPipe(0x113), LinkError::None);
        lines.clear();
        driver.clearLog();
    }

    ScriptedDriver driver;
    CTransport transport{driver};
    CCommandChannel channel{transport, CSystemClock::instance()};
    int unitIndex = 0;
    std::vector<std::string> lines;
    std::vector<std::string> kinds;
};

TEST_F(ChannelTest, OpeningGivesItsCauseAndLogsOnlyOnSuccess) {
    EXPECT_EQ(channel.ResetPipe(0x111), LinkError::UnitGone);

    driver.unit(unitIndex).configuration = 0;
    EXPECT_EQ(channel.ResetPipe(0x113), LinkError::Protocol);

    // The driver's cause comes through: the unit's device file is not ours to open.
    driver.unit(unitIndex).configuration = 1;
    driver.unit(unitIndex).openError = LinkError::NoPermission;
    EXPECT_EQ(channel.ResetPipe(0x113), LinkError::NoPermission);
    EXPECT_TRUE(lines.empty());
}

TEST_F(ChannelTest, OpeningFailsWhenAPipeCannotBeOpened) {
    driver.unit(unitIndex).failingPipes = {1};
    EXPECT_EQ(channel.ResetPipe(0x113), LinkError::Busy);
    EXPECT_TRUE(lines.empty());
}

TEST_F(ChannelTest, OpeningResetsBothPipesAndLogsTheInboundHandle) {
    ASSERT_EQ(channel.ResetPipe(0x113), LinkError::None);
    const std::string& path = driver.unit(unitIndex).path;
    EXPECT_EQ(driver.pathOf(channel.inPipe()), path + "\\if000pipe000");
    EXPECT_EQ(driver.pathOf(channel.outPipe()), path + "\\if000pipe001");
    auto resets = driver.calls(kIoctlResetPipe);
    ASSERT_EQ(resets.size(), 2u);
    EXPECT_EQ(resets[0].handle, channel.inPipe());
    EXPECT_EQ(resets[1].handle, channel.outPipe());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], hexHandle("ResetPipe: initialize m_hInPip:0x%Xd", channel.inPipe()));
    EXPECT_EQ(kinds[0], "NP");
}

TEST_F(ChannelTest, DeletingTheChannelClosesItsPipesAndFreesTheTable) {
    {
        CCommandChannel other(transport, CSystemClock::instance());
        other.setLogWriter([](std::string_view, char, char) {});
        ASSERT_EQ(other.ResetPipe(0x113), LinkError::None);
        EXPECT_EQ(driver.openHandleCount(), 3);
    }
    EXPECT_EQ(driver.openHandleCount(), 0);
    EXPECT_EQ(transport.slotsInUse(), 0);
}

TEST_F(ChannelTest, EveryControlOperationSendsItsRequest) {
    open();
    driver.setControlReply(kRequestGetState, {2});
    driver.setControlReply(kRequestGetTime, {0, 0, 0, 0, 1, 1, 0, 0});
    driver.setControlReply(kRequestGetMenu, {8, 2, 3, 0x21, 1, 1, 0, 0});
    MenuSettings menu;
    UnitClock time;

    EXPECT_TRUE(channel.sendCMD(CR_VIEW));
    EXPECT_EQ(channel.getState(), kStateView);
    EXPECT_TRUE(channel.getTime(time));
    EXPECT_TRUE(channel.setTime(makeClockFrame(2012, 3, 15, 5, 9, 30, 5)));
    EXPECT_TRUE(channel.getMenu(menu));
    EXPECT_TRUE(channel.sendMenu(menu));
    EXPECT_TRUE(channel.getAnimalInfo());
    EXPECT_TRUE(channel.getDeviceVer());

    struct Expected {
        std::uint8_t request;
        bool read;
        std::uint16_t value;
        std::size_t length;
    } expected[] = {
        {kRequestCommand, false, CR_VIEW, 0}, {kRequestGetState, true, 0, 1},
        {kRequestGetTime, true, 0, 8},        {kRequestSetTime, false, 0, 8},
        {kRequestGetMenu, true, 0, 8},        {kRequestSendMenu, false, 0, 8},
        {kRequestGetAnimalInfo, false, 0, 8}, {kRequestGetDeviceVer, false, 0, 0},
    };
    auto seen = driver.controls();
    ASSERT_EQ(seen.size(), std::size(expected));
    for (std::size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].header.function, kVendorDevice);
        EXPECT_EQ(seen[i].header.request, expected[i].request);
        EXPECT_EQ(seen[i].header.isRead(), expected[i].read);
        EXPECT_EQ(seen[i].header.value, expected[i].value);
        EXPECT_EQ(seen[i].header.index, 0);
        EXPECT_EQ(expected[i].read ? seen[i].outLength : seen[i].data.size(), expected[i].length);
    }
    EXPECT_EQ(seen[3].data, (Bytes{12, 3, 15, 5, 9, 30, 5, 0}));
    EXPECT_EQ(seen[5].data, (Bytes{8, 2, 3, 0x21, 1, 1, 0, 0}));
    EXPECT_EQ(seen[6].data, (Bytes{0, 0, 7, 7, 7, 7, 7, 0}));
    EXPECT_EQ(lines, (std::vector<std::string>{"Pc->sendCMD: CR_VIEW", "Pc->getMenu", "Pc->getAnimalInfo",
                                               "Pc->getDeviceVer"}));
}

TEST_F(ChannelTest, CommandsLogTheirNameOrTheirNumber) {
    open();
    const std::pair<int, const char*> named[] = {
        {910, "Pc->sendCMD: CR_MENU_USB"},
        {911, "Pc->sendCMD: CR_TIME_USB"},
        {912, "Pc->sendCMD: CR_WAIT_USB"},
        {913, "Pc->sendCMD: CR_VIEW"},
        {914, "Pc->sendCMD: CR_IDLE"},
        {915, "Pc->sendCMD: CR_RESTARTVIEW"},
        {4, "Pc->sendCMD: 4"},
        {254, "Pc->sendCMD: 254"},
    };
    for (const auto& [code, line] : named) {
        lines.clear();
        EXPECT_TRUE(channel.sendCMD(code));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], line);
    }
}

TEST_F(ChannelTest, CommandsToAnUnconfiguredOrClosedUnitSendAndLogNothing) {
    open();
    driver.unit(unitIndex).configuration = 0;
    EXPECT_FALSE(channel.sendCMD(CR_VIEW));
    EXPECT_TRUE(driver.controls().empty());
    EXPECT_TRUE(lines.empty());

    CCommandChannel unopened(transport, CSystemClock::instance());
    unopened.setLogWriter([this](std::string_view text, char, char) { lines.emplace_back(text); });
    EXPECT_FALSE(unopened.sendCMD(4));
    EXPECT_TRUE(lines.empty());
}

TEST_F(ChannelTest, AFailedCommandIsLoggedButReportedAsFailed) {
    open();
    driver.failControl(kRequestCommand);
    EXPECT_FALSE(channel.sendCMD(CR_RESTARTVIEW));
    EXPECT_EQ(lines, std::vector<std::string>{"Pc->sendCMD: CR_RESTARTVIEW"});
}

TEST_F(ChannelTest, FailedQueriesLeaveTheCallersValuesAlone) {
    open();
    driver.failControl(kRequestGetState);
    driver.failControl(kRequestGetTime);
    driver.failControl(kRequestGetMenu);
    EXPECT_EQ(channel.getState(), -1);

    UnitClock time{1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(channel.getTime(time));
    EXPECT_EQ(time, (UnitClock{1, 2, 3, 4, 5, 6}));

    MenuSettings menu;
    menu[MenuSettings::kPress] = 5;
    MenuSettings before = menu;
    EXPECT_FALSE(channel.getMenu(menu));
    EXPECT_EQ(menu, before);
    EXPECT_EQ(lines, std::vector<std::string>{"Pc->getMenu"});

    // Replies too short to hold the values count as failures too.
    driver.failControl(kRequestGetState, false);
    driver.failControl(kRequestGetTime, false);
    driver.failControl(kRequestGetMenu, false);
    driver.setControlReply(kRequestGetState, {});
    driver.setControlReply(kRequestGetTime, {0x05, 0x30, 0x09});
    driver.setControlReply(kRequestGetMenu, {1, 2, 3});
    EXPECT_EQ(channel.getState(), -1);
    EXPECT_FALSE(channel.getTime(time));
    EXPECT_EQ(time, (UnitClock{1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(channel.getMenu(menu));
    EXPECT_EQ(menu, before);
}

TEST_F(ChannelTest, StateIsASignedByte) {
    open();
    driver.setControlReply(kRequestGetState, {0xFE});
    EXPECT_EQ(channel.getState(), -2);
}

TEST_F(ChannelTest, ClockReadConvertsTheBcdReply) {
    open();
    driver.setControlReply(kRequestGetTime, {0x05, 0x30, 0x09, 0x00, 0x15, 0x03, 0x12, 0x00});
    UnitClock time;
    ASSERT_TRUE(channel.getTime(time));
    EXPECT_EQ(time, (UnitClock{2012, 3, 15, 9, 30, 5}));
}

TEST_F(ChannelTest, MenuWriteReportsAFailedRequest) {
    open();
    driver.failControl(kRequestSendMenu);
    EXPECT_FALSE(channel.sendMenu(MenuSettings{}));
}

TEST_F(ChannelTest, FramesGoDownTheOutboundPipeWithTheirLogLines) {
    open();
    std::uint8_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<std::uint8_t>(i + 1);
    EXPECT_TRUE(channel.sendAnimalInfo(block));
    EXPECT_TRUE(channel.sendPcVer("Halnor40KU1.0.2.0"));

    auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], Bytes(block, block + 64));
    EXPECT_EQ(writes[1].size(), 64u);
    EXPECT_EQ(writes[1][0], 8);
    EXPECT_EQ(lines, (std::vector<std::string>{"Pc->sendAnimalInfo", "Pc->sendPcVer:\x08Halnor40KU1.0.2.0"}));

    driver.setWriteResult(false);
    EXPECT_FALSE(channel.sendAnimalInfo(block));
}

TEST_F(ChannelTest, AVersionTextFillingTheFrameIsLoggedWithoutReadingPastIt) {
    open();
    std::string text(100, 'v');
    channel.sendPcVer(text);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Pc->sendPcVer:\x08" + std::string(63, 'v'));
}

TEST_F(ChannelTest, ControlRequestsFromSeveralThreadsNeverOverlap) {
    // A driver that notices when two control requests are in flight at once.
    class OverlapDriver : public ScriptedDriver {
      public:
        LinkError ioControl(DriverHandle handle, std::uint32_t code, const std::uint8_t* in,
                            std::size_t inLength, std::uint8_t* out, std::size_t outLength,
                            std::size_t* returned) override {
            bool control = code == kIoctlControlRead || code == kIoctlControlWrite;
            if (control && inFlight.fetch_add(1) != 0) overlapped = true;
            if (control) std::this_thread::sleep_for(std::chrono::microseconds(200));
            LinkError ok = ScriptedDriver::ioControl(handle, code, in, inLength, out, outLength, returned);
            if (control) inFlight.fetch_sub(1);
            return ok;
        }
        std::atomic<int> inFlight{0};
        std::atomic<bool> overlapped{false};
    };
    OverlapDriver overlapDriver;
    overlapDriver.addUnit(0x113);
    CCommandChannel shared(overlapDriver, CSystemClock::instance());
    shared.setLogWriter([](std::string_view, char, char) {});
    ASSERT_EQ(shared.ResetPipe(0x113), LinkError::None);

    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 30; ++i) {
                shared.sendCMD(CR_VIEW);
                shared.getState();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(overlapDriver.overlapped);
    EXPECT_EQ(overlapDriver.controls().size(), 180u);
}

// --- reading records ---------------------------------------------------------

// 1 a record, 0 a failed read recovered from (or cancelled), -1 the unit lost.
int kind(const RecordRead& read) { return read.unitLost ? -1 : read.error == LinkError::None ? 1 : 0; }

TEST_F(ChannelTest, ReadsGiveTheRecordWhetherAtOnceOrAfterWaiting) {
    open();
    driver.queueRecord({0x04, 1, 2}, false);
    driver.queueRecord({0x07, 'A'}, true);
    driver.queueRecord({}, true);
    std::uint8_t buffer[64] = {};
    RecordRead read;
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 1);
    EXPECT_EQ(read.bytes, 3u);
    EXPECT_EQ(buffer[2], 2);
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 1);
    EXPECT_EQ(read.bytes, 2u);
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 1);
    EXPECT_EQ(read.bytes, 0u);
    EXPECT_TRUE(lines.empty());
}

TEST_F(ChannelTest, ABrokenPipeIsResetAndLogged) {
    open();
    driver.queueRead({LinkError::Protocol, {}, false});
    driver.queueRead({LinkError::Protocol, {}, true});
    std::uint8_t buffer[64];
    RecordRead read;
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 0);
    EXPECT_EQ(read.bytes, 0u);
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 0);
    auto resets = driver.calls(kIoctlResetPipe);
    ASSERT_EQ(resets.size(), 2u);
    EXPECT_EQ(resets[0].handle, channel.inPipe());
    std::string line = hexHandle("ResetInPipe: ERROR_BROKEN_PIPE m_hInPip:0x%Xd", channel.inPipe());
    EXPECT_EQ(lines, (std::vector<std::string>{line, line}));
}

TEST_F(ChannelTest, ADeviceErrorResetsTheUnitAndTellsWhetherThatHelped) {
    open();
    driver.queueRead({LinkError::Io, {}, false});
    driver.queueRead({LinkError::Io, {}, true});
    std::uint8_t buffer[64];
    RecordRead read;
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 0);
    EXPECT_EQ(read.bytes, 0u);
    driver.setResetUnitResult(false);
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), -1);
    EXPECT_EQ(driver.calls(kIoctlResetUnit).size(), 2u);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         hexHandle("ResetDevice: ERROR_IO_DEVICE m_hInPip:0x%Xd", channel.inPipe()),
                         hexHandle("ResetDevice: ERROR_IO_PENDING m_hInPip:0x%Xd", channel.inPipe())}));
}

TEST_F(ChannelTest, OtherReadFailuresAreQuietAndCostNothing) {
    open();
    driver.queueRead({LinkError::TimedOut, {}, true});
    std::uint8_t buffer[64];
    RecordRead read;
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 0);
    EXPECT_EQ(read.bytes, 0u);
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(driver.calls().empty());
}

TEST_F(ChannelTest, AUnitGoneUnderTheReadEndsReadingWhenItCannotBeReset) {
    open();
    driver.queueRead({LinkError::UnitGone, {}, true});
    driver.queueRead({LinkError::UnitGone, {}, true});
    std::uint8_t buffer[64];
    RecordRead read;
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 0);  // the reset worked: read on
    driver.setResetUnitResult(false);
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), -1);
    EXPECT_EQ(read.bytes, 0u);
    EXPECT_EQ(driver.calls(kIoctlResetUnit).size(), 2u);
    EXPECT_TRUE(lines.empty());
}

TEST_F(ChannelTest, CancellingEndsAPendingReadAndEveryLaterOne) {
    open();
    std::atomic<int> result{99};
    std::thread reader([&] {
        std::uint8_t buffer[64];
        result = kind(channel.readRecord(buffer, 64));
    });
    ASSERT_TRUE(driver.waitForReads(1));
    channel.cancelRead();
    reader.join();
    EXPECT_EQ(result, 0);

    driver.queueRecord({0x04});
    std::uint8_t buffer[64];
    RecordRead read;
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 0);
    EXPECT_EQ(read.bytes, 0u);
}

TEST_F(ChannelTest, AnUnopenedChannelReadsNothing) {
    std::uint8_t buffer[64];
    RecordRead read;
    EXPECT_EQ(kind(read = channel.readRecord(buffer, 64)), 0);
    EXPECT_EQ(read.bytes, 0u);
    EXPECT_EQ(driver.readsStarted(), 0);
}

}  // namespace
}  // namespace hx
