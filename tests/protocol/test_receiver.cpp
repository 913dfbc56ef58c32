// The receiver thread over a scripted unit: dispatch of every record type into
// the record areas, the hand-over protocol, the menu notice, read errors, the
// pacing and the stop operation.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/CommandChannel.h"
#include "protocol/ReceiverThread.h"
#include "support/ReceiverTestSink.h"
#include "support/ScriptedDriver.h"

namespace hx {
namespace {

using test::ReceiverTestSink;
using test::RecordingClock;
using test::ScriptedDriver;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUntouched = 0xEE;

// Long enough for a running thread to have read again if it were going to.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

Bytes record(std::uint8_t type, std::size_t length, std::uint8_t fill) {
    Bytes bytes(length, fill);
    bytes[0] = type;
    return bytes;
}

class ReceiverTest : public ::testing::Test {
  protected:
    ReceiverTest() {
        driver.addUnit(0x113);
        channel = std::make_unique<CCommandChannel>(transport, clock);
        channel->setLogWriter([](std::string_view, char, char) {});
        EXPECT_EQ(channel->ResetPipe(0x113), LinkError::None);
        resultArea.fill(kUntouched);
        waveArea.fill(kUntouched);
        animalArea.fill(kUntouched);
        receiver.setLogWriter([this](std::string_view text, char, char) { lines.emplace_back(text); });
    }

    ~ReceiverTest() override { receiver.stop(); }

    ReceiverParams params() {
        ReceiverParams p;
        p.channel = channel.get();
        p.sink = &sink;
        p.stopEvent = &stopEvent;
        p.goEvent = &goEvent;
        p.handOverEvent = &handOverEvent;
        p.messageValue = 0x77;
        p.resultArea = resultArea.data();
        p.waveArea = waveArea.data();
        p.animalArea = animalArea.data();
        return p;
    }

    void start() { ASSERT_TRUE(receiver.start(params())); }

    // Feeds one record and waits until the thread has gone back to reading.
    // With nothing queued the thread sits in its latest read, which takes the
    // record; the read after it shows the record has been dealt with.
    void feedAndWaitForNextRead(const Bytes& bytes) {
        ASSERT_TRUE(driver.waitForReads(1));
        ASSERT_TRUE(driver.queueEmpty());
        int reads = driver.readsStarted();
        driver.queueRecord(bytes);
        ASSERT_TRUE(driver.waitForReads(reads + 1));
    }

    ScriptedDriver driver;
    CTransport transport{driver};
    RecordingClock clock;
    std::unique_ptr<CCommandChannel> channel;
    ReceiverTestSink sink;
    CEvent stopEvent;
    CEvent goEvent;
    CEvent handOverEvent;
    std::array<std::uint8_t, kResultAreaSize> resultArea{};
    std::array<std::uint8_t, kWaveAreaSize> waveArea{};
    std::array<std::uint8_t, kAnimalAreaSize> animalArea{};
    std::vector<std::string> lines;
    CReceiverThread receiver;
};

TEST_F(ReceiverTest, AWavePacketIsCopiedPostedAndHeldUntilHandedOver) {
    handOverEvent.set();
    start();
    // 0x14: the high bits are not part of the type.
    Bytes packet = record(0x14, 20, 0x5A);
    driver.queueRecord(packet);
    ASSERT_TRUE(sink.waitForMessages(1));

    auto messages = sink.messages();
    EXPECT_EQ(messages[0].id, kMsgWavePacket);
    EXPECT_EQ(messages[0].wParam, 0x77u);
    EXPECT_FALSE(sink.wasSent()[0]);
    EXPECT_FALSE(handOverEvent.isSet());
    EXPECT_TRUE(std::equal(packet.begin(), packet.end(), waveArea.begin()));
    EXPECT_TRUE(std::all_of(waveArea.begin() + 20, waveArea.begin() + 64, [](auto b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(waveArea.begin() + 64, waveArea.end(), [](auto b) { return b == kUntouched; }));

    settle();
    EXPECT_EQ(driver.readsStarted(), 1);  // nothing more is read before the hand-over
    handOverEvent.set();
    EXPECT_TRUE(driver.waitForReads(2));
}

TEST_F(ReceiverTest, ResultPiecesAssembleAndOnlyTheThirdIsAnnounced) {
    start();
    Bytes first = record(0x02, 64, 0x11);
    Bytes second = record(0x03, 64, 0x22);
    first[1] = 0x99;  // byte 1 of a piece is not copied
    feedAndWaitForNextRead(first);
    feedAndWaitForNextRead(second);
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_EQ(resultArea[0], 0x11);
    EXPECT_EQ(resultArea[61], 0x11);
    EXPECT_EQ(resultArea[62], 0x22);
    EXPECT_EQ(resultArea[123], 0x22);
    EXPECT_EQ(resultArea[124], kUntouched);

    driver.queueRecord(record(0x05, 10, 0x33));  // a short third piece brings zeros
    ASSERT_TRUE(sink.waitForMessages(1));
    EXPECT_EQ(sink.messages()[0].id, kMsgResultReady);
    EXPECT_EQ(resultArea[124], 0x33);
    EXPECT_EQ(resultArea[131], 0x33);
    EXPECT_EQ(resultArea[132], 0);
    EXPECT_EQ(resultArea[185], 0);
    EXPECT_EQ(resultArea[186], kUntouched);
    EXPECT_FALSE(handOverEvent.isSet());
}

TEST_F(ReceiverTest, AnAnimalBlockIsSentAndStaysHeldUntilHandedOver) {
    std::array<std::uint8_t, kAnimalAreaSize> seenInHandler{};
    sink.onSend = [&](const WindowMessage&) { seenInHandler = animalArea; };
    start();
    Bytes block = record(0x06, 40, 'a');
    driver.queueRecord(block);
    ASSERT_TRUE(sink.waitForMessages(1));
    EXPECT_EQ(sink.messages()[0].id, kMsgAnimalBlock);
    EXPECT_TRUE(sink.wasSent()[0]);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), seenInHandler.begin()));
    EXPECT_EQ(seenInHandler[40], 0);
    EXPECT_EQ(seenInHandler[64], kUntouched);

    settle();
    EXPECT_EQ(driver.readsStarted(), 1);
    handOverEvent.set();
    EXPECT_TRUE(driver.waitForReads(2));
}

TEST_F(ReceiverTest, AVersionRecordCarriesItsOwnCopyOfTheText) {
    start();
    driver.queueRecord({0x07});
    Bytes version = {0x17, 'V', 'e', 'r', '2', '.', '3', 0, 'z', 'z'};
    driver.queueRecord(version);
    ASSERT_TRUE(sink.waitForMessages(2));
    auto messages = sink.messages();
    EXPECT_EQ(messages[0].id, kMsgVersionRecord);
    EXPECT_NE(messages[0].wParam, 0u);  // non-zero: a text is attached
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(messages[0].text, "");
    EXPECT_EQ(messages[1].lParam, 9);
    EXPECT_EQ(messages[1].text, "Ver2.3");
}

TEST_F(ReceiverTest, RecordsOfOtherTypesAreDroppedWithoutTrace) {
    start();
    for (std::uint8_t type : {0x00, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xF0})
        feedAndWaitForNextRead(record(type, 64, 0x44));
    EXPECT_TRUE(sink.messages().empty());
    auto untouched = [](const auto& area) {
        return std::all_of(area.begin(), area.end(), [](auto b) { return b == kUntouched; });
    };
    EXPECT_TRUE(untouched(resultArea));
    EXPECT_TRUE(untouched(waveArea));
    EXPECT_TRUE(untouched(animalArea));
    EXPECT_EQ(clock.activitiesEnded(), 9);
}

TEST_F(ReceiverTest, AMenuNoticeHoldsTheThreadUntilItIsClosed) {
    sink.closeMenuGate();
    start();
    driver.queueRecord({0x01});
    driver.queueRecord({0x0F});
    ASSERT_TRUE(sink.waitForMenuNotices(1));
    settle();
    EXPECT_EQ(driver.readsStarted(), 1);
    EXPECT_EQ(sink.menuNotices(), 1);

    sink.openMenuGate();
    ASSERT_TRUE(sink.waitForMenuNotices(2));
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(ReceiverTest, AnIncurableReadErrorIsAnnouncedAndEndsTheThread) {
    driver.setResetUnitResult(false);
    start();
    driver.queueRead({LinkError::Io, {}, true});
    ASSERT_TRUE(sink.waitForMessages(1));
    EXPECT_EQ(sink.messages()[0].id, kMsgReadError);
    EXPECT_EQ(sink.messages()[0].wParam, 0x77u);
    for (int i = 0; i < 500 && receiver.isRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_EQ(driver.readsStarted(), 1);
}

TEST_F(ReceiverTest, AfterAReadErrorTheChannelMayGoBeforeTheThreadIsStopped) {
    // The main window deletes the channel first when it handles the read error;
    // stopping the thread afterwards must not reach into the deleted channel.
    driver.setResetUnitResult(false);
    start();
    driver.queueRead({LinkError::Io, {}, false});
    ASSERT_TRUE(sink.waitForMessages(1));
    channel.reset();
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
}

TEST_F(ReceiverTest, RecoveredReadFailuresPauseBrieflyAndReadAgain) {
    start();
    driver.queueRead({LinkError::Protocol, {}, false});
    driver.queueRead({LinkError::Io, {}, false});  // the unit reset cures it
    driver.queueRecord({});                        // a read of no bytes
    driver.queueRecord(record(0x02, 64, 1));
    ASSERT_TRUE(driver.waitForReads(5));
    receiver.stop();
    std::vector<int> sleeps = clock.sleeps();
    sleeps.resize(4);  // what follows comes from the cancelled read of the stop
    EXPECT_EQ(sleeps, (std::vector<int>{2, 2, 5, 5}));
    EXPECT_EQ(clock.activitiesEnded(), 1);  // only the record with bytes was in flight
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(ReceiverTest, StoppingWhileWaitingForTheHandOverEndsWithoutReadingAgain) {
    start();
    driver.queueRecord(record(0x04, 64, 0));
    ASSERT_TRUE(sink.waitForMessages(1));
    driver.queueRecord(record(0x04, 64, 0));  // would be read if the thread went on
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_EQ(driver.readsStarted(), 1);
    EXPECT_FALSE(driver.queueEmpty());
    EXPECT_EQ(lines, std::vector<std::string>{"stop thread! "});
}

TEST_F(ReceiverTest, StoppingCancelsAPendingReadSoTheChannelCanGo) {
    start();
    ASSERT_TRUE(driver.waitForReads(1));
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_EQ(driver.cancelCount(), 1);
    channel.reset();  // safe: nothing reads through it any more
    EXPECT_EQ(driver.openHandleCount(), 0);
}

TEST_F(ReceiverTest, StopDoesNotWaitForAUnitResetThatHangs) {
    // Before: stop waited for the read to return, so a reset that hung held
    // the user-interface thread with it.
    std::shared_ptr<CCommandChannel> shared = std::move(channel);
    ReceiverParams p = params();
    p.channel = shared.get();
    p.keepAlive = shared;
    driver.holdUnitResets(true);
    ASSERT_TRUE(receiver.start(p));
    driver.queueRead({LinkError::Io, {}, false});
    ASSERT_TRUE(driver.waitForHeldReset());

    auto stopped = std::async(std::launch::async, [&] { receiver.stop(); });
    const bool returned = stopped.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    driver.holdUnitResets(false);  // lets a hung stop finish, so the test ends either way
    stopped.wait();
    ASSERT_TRUE(returned) << "stop waited for the hanging reset";

    // The thread owns the channel until its read returns, then ends
    // without reporting anything.
    shared.reset();
    for (int i = 0; i < 500 && receiver.isRunning(); ++i) settle();
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_EQ(lines, std::vector<std::string>{"stop thread! "});
    receiver.stop();
    EXPECT_EQ(lines.size(), 1u) << "a second stop writes nothing";
}

TEST_F(ReceiverTest, StoppingReleasesAMenuNoticeThatIsStillOpen) {
    sink.closeMenuGate();
    start();
    driver.queueRecord({0x01});
    ASSERT_TRUE(sink.waitForMenuNotices(1));
    receiver.stop();
    EXPECT_FALSE(receiver.isRunning());
}

TEST_F(ReceiverTest, AStoppedThreadIsFollowedByANewOneOnAFreshChannel) {
    ASSERT_TRUE(receiver.start(params()));
    ASSERT_TRUE(driver.waitForReads(1));
    receiver.stop();
    // Both set: stop wins, and the thread has ended.
    EXPECT_TRUE(goEvent.isSet());
    EXPECT_TRUE(stopEvent.isSet());
    EXPECT_FALSE(receiver.isRunning());

    // A later start resets the stop event; a second start while running is refused.
    auto fresh = std::make_unique<CCommandChannel>(transport, clock);
    fresh->setLogWriter([](std::string_view, char, char) {});
    channel.reset();
    ASSERT_EQ(fresh->ResetPipe(0x113), LinkError::None);
    channel = std::move(fresh);
    ASSERT_TRUE(receiver.start(params()));
    EXPECT_FALSE(stopEvent.isSet());
    EXPECT_FALSE(receiver.start(params()));
    ASSERT_TRUE(driver.waitForReads(2));
}

TEST_F(ReceiverTest, StartNeedsAChannelAndEveryArea) {
    ReceiverParams p = params();
    p.channel = nullptr;
    EXPECT_FALSE(receiver.start(p));
    p = params();
    p.waveArea = nullptr;
    EXPECT_FALSE(receiver.start(p));
    EXPECT_FALSE(receiver.isRunning());
}

TEST_F(ReceiverTest, EveryRecordReadEndsItsActivityOnce) {
    // The main window hands every record back at once.
    sink.onSend = [this](const WindowMessage&) { handOverEvent.set(); };
    sink.onPost = [this](const WindowMessage&) { handOverEvent.set(); };
    start();
    const Bytes records[] = {record(0x04, 64, 0),
                             record(0x02, 64, 0),
                             record(0x03, 64, 0),
                             record(0x05, 64, 0),
                             record(0x06, 64, 0),
                             {0x07, 'x'},
                             {0x0B}};
    for (const Bytes& r : records) feedAndWaitForNextRead(r);
    receiver.stop();
    EXPECT_EQ(clock.activitiesEnded(), 7);
}

// --- events ------------------------------------------------------------------

TEST_F(ReceiverTest, PolledByTheLoopItReadsOneRecordACallAndHoldsOneThatWaitsForTheHandOver) {
    driver.setReadsWithoutWaiting(true);
    ASSERT_TRUE(receiver.startPolled(params()));
    EXPECT_FALSE(receiver.poll());  // nothing queued: no wait, nothing done
    driver.queueRecord(record(0x04, 64, 0x11));
    driver.queueRecord(record(0x07, 8, 0x41));
    driver.queueRecord(record(0x04, 64, 0x22));

    EXPECT_TRUE(receiver.poll());
    EXPECT_EQ(waveArea[1], 0x11);
    EXPECT_FALSE(receiver.poll());  // the packet is the window's until it hands it over
    EXPECT_TRUE(receiver.waitingForHandOver());
    EXPECT_EQ(sink.messages().size(), 1u);

    handOverEvent.set();
    EXPECT_TRUE(receiver.poll());  // the version text does not wait
    EXPECT_TRUE(receiver.poll());
    EXPECT_EQ(waveArea[1], 0x22);
    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1].id, kMsgVersionRecord);
    EXPECT_EQ(messages[2].id, kMsgWavePacket);

    handOverEvent.set();
    receiver.stop();
    driver.queueRecord(record(0x04, 64, 0x33));
    EXPECT_FALSE(receiver.poll());  // stopped: never reads again
    EXPECT_EQ(waveArea[1], 0x22);
    EXPECT_FALSE(receiver.isRunning());
}

TEST_F(ReceiverTest, PolledItEndsWhenTheUnitIsLost) {
    driver.setReadsWithoutWaiting(true);
    driver.setResetUnitResult(false);
    ASSERT_TRUE(receiver.startPolled(params()));
    driver.queueRead({LinkError::Io, {}, true});
    EXPECT_TRUE(receiver.poll());
    ASSERT_EQ(sink.messages().size(), 1u);
    EXPECT_EQ(sink.messages()[0].id, kMsgReadError);
    EXPECT_FALSE(receiver.isRunning());
    EXPECT_FALSE(receiver.poll());
}

TEST(ReceiverEvents, ManualEventsStaySetAndAutoEventsAreConsumed) {
    CEvent manual(CEvent::Reset::Manual);
    CEvent automatic(CEvent::Reset::Auto, true);
    manual.set();
    manual.wait();
    EXPECT_TRUE(manual.waitFor(0));
    EXPECT_TRUE(manual.isSet());
    manual.reset();
    EXPECT_FALSE(manual.waitFor(1));

    EXPECT_TRUE(automatic.waitFor(0));
    EXPECT_FALSE(automatic.isSet());
    EXPECT_FALSE(automatic.waitFor(1));
}

TEST(ReceiverEvents, WaitingForEitherPrefersTheFirstAndConsumesOnlyIt) {
    CEvent stop(CEvent::Reset::Auto, true);
    CEvent go(CEvent::Reset::Auto, true);
    EXPECT_EQ(CEvent::waitAny(stop, go), 0);
    EXPECT_TRUE(go.isSet());
    EXPECT_EQ(CEvent::waitAny(stop, go), 1);
    EXPECT_FALSE(go.isSet());
    EXPECT_EQ(CEvent::waitAnyFor(stop, go, 1), -1);
}

TEST(ReceiverEvents, AWaiterWakesWhenAnotherThreadSets) {
    CEvent first;
    CEvent second;
    int woke = -1;
    std::thread waiter([&] { woke = CEvent::waitAny(first, second); });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    second.set();
    waiter.join();
    EXPECT_EQ(woke, 1);

    CEvent gate(CEvent::Reset::Auto);
    std::thread opener([&] { gate.set(); });
    gate.wait();
    opener.join();
    EXPECT_FALSE(gate.isSet());
}

}  // namespace
}  // namespace hx
