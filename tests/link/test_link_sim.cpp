// The unit link end to end against the simulated unit in virtual time: the
// transport finds the unit, the command channel's requests change what the
// unit holds, and the receiver thread takes its records through the hand-over,
// including the unit's faults.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "app/VirtualClock.h"
#include "protocol/CommandChannel.h"
#include "protocol/ReceiverThread.h"
#include "sim/SimDriver.h"
#include "support/ReceiverTestSink.h"

namespace hx {
namespace {

using test::ReceiverTestSink;

SimUnitOptions quickUnit() {
    SimUnitOptions options;
    options.adjustMs = 0;
    options.seed = 11;
    return options;
}

class LinkSimTest : public ::testing::Test {
  protected:
    LinkSimTest() {
        driver.addUnit(1, quickUnit());
        unit = &driver.addUnit(3, quickUnit());
        channel = std::make_unique<CCommandChannel>(transport, clock);
        channel->setLogWriter([this](std::string_view text, char, char) {
            std::lock_guard lock(linesMutex);
            lines.emplace_back(text);
        });
        receiver.setLogWriter([](std::string_view, char, char) {});
        // The main window hands every record back as soon as it has it.
        sink.onPost = [this](const WindowMessage&) { handOver.set(); };
        sink.onSend = [this](const WindowMessage&) { handOver.set(); };
    }

    ~LinkSimTest() override {
        receiver.stop();
        channel.reset();
    }

    void openAndListen() {
        ASSERT_EQ(channel->ResetPipe(kProductIdBase + 3), LinkError::None);
        ReceiverParams p;
        p.channel = channel.get();
        p.sink = &sink;
        p.stopEvent = &stop;
        p.goEvent = &go;
        p.handOverEvent = &handOver;
        p.resultArea = resultArea.data();
        p.waveArea = waveArea.data();
        p.animalArea = animalArea.data();
        ASSERT_TRUE(receiver.start(p));
    }

    // Lets virtual time pass and waits until the receiver has dealt with every
    // record the unit sent meanwhile.
    void run(std::int64_t ms) {
        for (std::int64_t t = 0; t < ms; t += 10) {
            clock.advanceBy(10);
            ASSERT_TRUE(clock.waitUntilIdle(5000));
        }
    }

    std::size_t count(std::uint32_t id) const {
        std::size_t n = 0;
        for (const WindowMessage& m : sink.messages()) n += m.id == id ? 1 : 0;
        return n;
    }

    CVirtualClock clock;
    CSimDriver driver{clock};
    CTransport transport{driver};
    CSimUnit* unit = nullptr;
    std::unique_ptr<CCommandChannel> channel;
    ReceiverTestSink sink;
    CEvent stop, go, handOver;
    std::array<std::uint8_t, kResultAreaSize> resultArea{};
    std::array<std::uint8_t, kWaveAreaSize> waveArea{};
    std::array<std::uint8_t, kAnimalAreaSize> animalArea{};
    CReceiverThread receiver;
    std::mutex linesMutex;
    std::vector<std::string> lines;
};

TEST_F(LinkSimTest, TheChannelOpensTheUnitWithItsProductId) {
    ASSERT_EQ(channel->ResetPipe(kProductIdBase + 3), LinkError::None);
    EXPECT_EQ(transport.slotPath(channel->deviceSlot()), unit->devicePath());

    CCommandChannel absent(driver, clock);
    absent.setLogWriter([](std::string_view, char, char) {});
    EXPECT_EQ(absent.ResetPipe(kProductIdBase + 7), LinkError::UnitGone);
}

TEST_F(LinkSimTest, AnUnconfiguredUnitIsNotOpened) {
    unit->setConfigured(false);
    EXPECT_EQ(channel->ResetPipe(kProductIdBase + 3), LinkError::Protocol);
    EXPECT_FALSE(channel->sendCMD(CR_VIEW));
    EXPECT_EQ(unit->countRequests(kRequestCommand), 0);
}

TEST_F(LinkSimTest, RequestsChangeWhatTheUnitHolds) {
    ASSERT_EQ(channel->ResetPipe(kProductIdBase + 3), LinkError::None);
    EXPECT_TRUE(channel->sendCMD(CR_VIEW));
    EXPECT_EQ(unit->countRequests(kRequestCommand, CR_VIEW), 1);
    EXPECT_EQ(channel->getState(), unit->state());

    MenuSettings menu;
    ASSERT_TRUE(channel->getMenu(menu));
    EXPECT_EQ(menu.words, unit->menu());
    menu[MenuSettings::kType] = 2;
    menu[MenuSettings::kSound] = 0;
    EXPECT_TRUE(channel->sendMenu(menu));
    EXPECT_EQ(unit->menu(), menu.words);

    EXPECT_TRUE(channel->setTime(makeClockFrame(2012, 3, 15, 5, 9, 30, 5)));
    UnitClock time;
    ASSERT_TRUE(channel->getTime(time));
    EXPECT_EQ(time, (UnitClock{2012, 3, 15, 9, 30, 5}));

    EXPECT_TRUE(channel->sendPcVer("Halnor40KU1.0.2.0"));
    EXPECT_EQ(unit->pcVersionText(), "Halnor40KU1.0.2.0");
}

TEST_F(LinkSimTest, TheReceiverTakesVersionAnimalBlockAndWavesFromTheUnit) {
    openAndListen();
    channel->sendCMD(CR_VIEW);
    channel->getDeviceVer();
    channel->getAnimalInfo();
    run(1000);

    auto messages = sink.messages();
    std::string version;
    for (const WindowMessage& m : messages)
        if (m.id == kMsgVersionRecord) version = m.text;
    EXPECT_EQ(version, unit->versionText());
    EXPECT_EQ(count(kMsgAnimalBlock), 1u);
    EXPECT_EQ(animalArea[0] & 0x0F, 6);
    // The unit streams 100 samples a second, ten to a packet.
    EXPECT_GE(count(kMsgWavePacket), 8u);
    EXPECT_EQ(waveArea[0] & 0x0F, 4);
    EXPECT_EQ(clock.inFlight(), 0);
}

TEST_F(LinkSimTest, AReadErrorThatAResetCuresGoesUnnoticed) {
    openAndListen();
    channel->sendCMD(CR_VIEW);
    run(200);
    unit->injectReadError(true);
    std::size_t before = count(kMsgWavePacket);
    run(500);
    EXPECT_GT(count(kMsgWavePacket), before);
    EXPECT_EQ(count(kMsgReadError), 0u);
    std::lock_guard lock(linesMutex);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("ResetDevice: ", 0) == 0; }),
              lines.end());
}

TEST_F(LinkSimTest, AReadErrorThatOutlivesTheResetEndsTheThread) {
    openAndListen();
    channel->sendCMD(CR_VIEW);
    run(100);
    unit->injectReadError(false);
    for (int i = 0; i < 500 && receiver.isRunning(); ++i) {
        clock.advanceBy(10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(count(kMsgReadError), 1u);
    EXPECT_FALSE(receiver.isRunning());
}

TEST_F(LinkSimTest, AMenuNoticeAndUnknownRecordsReachNoArea) {
    openAndListen();
    unit->injectMenuNotice(15);
    unit->injectUnknownRecord(9);
    run(50);
    EXPECT_EQ(sink.menuNotices(), 1);
    EXPECT_EQ(clock.inFlight(), 0);
}

TEST_F(LinkSimTest, AfterUnpluggingTheReceiverStopsAndTheChannelGoes) {
    openAndListen();
    channel->sendCMD(CR_VIEW);
    run(200);
    driver.unplug(*unit);
    clock.advanceBy(100);
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
    channel.reset();
    EXPECT_EQ(transport.slotsInUse(), 0);
    EXPECT_EQ(clock.inFlight(), 0);
}

}  // namespace
}  // namespace hx
