// The exchanges of the simulated unit as the program's transport sees them:
// paths, descriptor, configuration, control requests, records on the pipes.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "SimLink.h"
#include "sim/SimDriver.h"

namespace hx {
namespace {

using test::be16;
using test::recordType;
using test::SimLink;

TEST(SimDriverPaths, PathCarriesProductIdAndPipesOpenByName) {
    SimLink link;
    const auto paths = link.driver.presentInterfaces();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], "\\\\?\\usb#vid_1a2b&pid_0113#sim0003#{c14d9f44-b151-42da-9a94-d2c4932b4624}");
    EXPECT_TRUE(link.driver.open(paths[0] + "\\if000pipe000").ok());
    EXPECT_TRUE(link.driver.open(paths[0] + "\\IF000PIPE001").ok());  // names are not case-sensitive
    EXPECT_EQ(link.driver.open(paths[0] + "\\if000pipe002").error, LinkError::UnitGone);
    EXPECT_EQ(link.driver.open("\\\\?\\usb#vid_1a2b&pid_0114#sim0004#x").error, LinkError::UnitGone);

    // A duplicate ID is a second unit with its own path but the same product ID.
    CSimUnit& twin = link.driver.addUnit(3, SimLink::fastOptions());
    EXPECT_NE(twin.devicePath(), link.unit->devicePath());
    EXPECT_NE(twin.devicePath().find("pid_0113#"), std::string::npos);
    EXPECT_EQ(link.driver.presentInterfaces().size(), 2u);

    SimUnitOptions odd = SimLink::fastOptions();
    odd.productId = 0x0100;
    EXPECT_NE(link.driver.addUnit(15, odd).devicePath().find("pid_0100#"), std::string::npos);
}

TEST(SimDriverRequests, DescriptorAndConfigurationBuffers) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    const std::uint8_t request[4] = {1, 0, 0, 0};
    std::uint8_t d[18] = {};
    std::size_t returned = 0;
    ASSERT_EQ(link.driver.ioControl(link.device, kIoctlGetDescriptor, request, 4, d, 18, &returned),
              LinkError::None);
    EXPECT_EQ(returned, 18u);
    EXPECT_EQ(d[0], 18);
    EXPECT_EQ(d[1], 1);
    EXPECT_EQ(d[8] | d[9] << 8, 0x1A2B);
    EXPECT_EQ(d[10] | d[11] << 8, 0x0113);

    std::uint8_t config[4] = {};
    ASSERT_EQ(link.driver.ioControl(link.device, kIoctlGetConfiguration, nullptr, 0, config, 4, &returned),
              LinkError::None);
    EXPECT_NE(config[0] | config[1] | config[2] | config[3], 0);

    // Requests on the wrong kind of handle, or with short buffers, fail.
    EXPECT_NE(link.driver.ioControl(link.in, kIoctlGetDescriptor, request, 4, d, 18, &returned),
              LinkError::None);
    EXPECT_NE(link.driver.ioControl(link.device, kIoctlControlRead, request, 4, d, 18, &returned),
              LinkError::None);
    EXPECT_NE(link.driver.ioControl(link.device, 0x22001C, nullptr, 0, nullptr, 0, &returned),
              LinkError::None);
    EXPECT_EQ(link.driver.ioControl(link.in, kIoctlResetPipe, nullptr, 0, nullptr, 0, &returned),
              LinkError::None);

    // A stuck unit: configuration 0, and it takes no control request.
    link.unit->setConfigured(false);
    ASSERT_EQ(link.driver.ioControl(link.device, kIoctlGetConfiguration, nullptr, 0, config, 4, &returned),
              LinkError::None);
    EXPECT_EQ(config[0] | config[1] | config[2] | config[3], 0);
    EXPECT_FALSE(link.command(kSimCmdView));
    EXPECT_EQ(link.state(), -1);
}

TEST(SimDriverRequests, ClockSetPlainReadsBackAsBcdAndKeepsRunning) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    // 2012-03-15 (a Thursday) 09:30:05.
    ASSERT_TRUE(link.controlWrite(6, 0, {12, 3, 15, 5, 9, 30, 5, 0}));
    auto r = link.controlRead(3, 8);
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0], 0x05);
    EXPECT_EQ(r[1], 0x30);
    EXPECT_EQ(r[2], 0x09);
    EXPECT_EQ(r[4], 0x15);
    EXPECT_EQ(r[5], 0x03);
    EXPECT_EQ(r[6], 0x12);

    link.clock.advanceBy(61000);
    r = link.controlRead(3, 8);
    EXPECT_EQ(r[0], 0x06);
    EXPECT_EQ(r[1], 0x31);

    // A frame the clock cannot hold is refused and changes nothing.
    EXPECT_FALSE(link.controlWrite(6, 0, {12, 13, 15, 5, 9, 30, 5, 0}));
    EXPECT_FALSE(link.controlWrite(6, 0, {12, 3, 15}));
    EXPECT_EQ(link.controlRead(3, 8)[1], 0x31);
}

TEST(SimDriverRequests, MenuFrameRoundTripAndClamping) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    const std::vector<std::uint8_t> frame = {9, 5, 10, 0x21, 2, 0, 77, 0};
    ASSERT_TRUE(link.controlWrite(10, 0, frame));
    EXPECT_EQ(link.controlRead(4, 8), frame);
    const SimMenu m = link.unit->menu();
    EXPECT_EQ(m[3], 1);   // AUTO-P
    EXPECT_EQ(m[4], 0);   // DBP
    EXPECT_EQ(m[11], 1);  // TIME
    EXPECT_EQ(m[10], 77);

    // Values beyond a setting's range are held at its end; bits 6 and 7 are ignored.
    ASSERT_TRUE(link.controlWrite(10, 0, {200, 9, 99, 0xC2, 7, 5, 0, 0}));
    EXPECT_EQ(link.controlRead(4, 8), (std::vector<std::uint8_t>{25, 7, 10, 0x02, 2, 2, 0, 0}));
}

TEST(SimDriverRecords, VersionRecordAndItsAbsence) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    link.drain();
    link.records.clear();
    ASSERT_TRUE(link.command(kSimCmdLinkOff));  // the stream stops, so only answers arrive
    link.drain();
    link.records.clear();
    ASSERT_TRUE(link.controlWrite(14, 0));
    auto got = link.drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(recordType(got[0]), 7);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&got[0][1])), "HX-40K V1.05");

    link.unit->setAnswerVersion(false);
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(link.controlWrite(14, 0));
    link.runFor(2000);
    EXPECT_TRUE(link.drain().empty());
    EXPECT_EQ(link.unit->countRequests(14), 7);
}

TEST(SimDriverRecords, AnimalBlockInBothFormsAndPcWrites) {
    for (const std::string version : {"HX-40K V1.01", "HX-40K V1.05"}) {
        SimUnitOptions o = SimLink::fastOptions();
        o.versionText = version;
        SimLink link(o);
        ASSERT_TRUE(link.openAll());
        ASSERT_TRUE(link.command(kSimCmdLinkOff));
        link.drain();
        const bool longId = version.back() == '5';

        // The PC writes a block; the unit keeps its texts and sends the same bytes back.
        SimAnimalInfo info{"RAT-0042", "ST-77", "350g", "M/12w", "tail cuff, warm box 32C, calm ok!"};
        auto block = encodeAnimalBlock(info, longId, 6);
        ASSERT_EQ(link.driver.writePipe(link.out, block.data(), block.size()), LinkError::None);
        const SimAnimalInfo stored = link.unit->animalInfo();
        EXPECT_EQ(stored.animalNumber, longId ? "RAT-0042" : "042");
        EXPECT_EQ(stored.comment, longId ? info.comment.substr(0, 32) : info.comment.substr(0, 32));

        ASSERT_TRUE(link.controlWrite(12, 0, {0, 0, 7, 7, 7, 7, 7, 0}));
        auto got = link.drain();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(recordType(got[0]), 6);
        EXPECT_EQ(got[0], Record(block.begin(), block.end())) << version;
    }
}

TEST(SimDriverRecords, LongIdBlockCarriesThe32ndCharacterInTopBits) {
    SimAnimalInfo info{"1", "", "", "", std::string(31, 'a') + "Z"};
    const auto b = encodeAnimalBlock(info, true, 6);
    // Z = 0x5A = 0101 1010: bits 6, 4, 3 and 1 go to bytes 57, 59, 60 and 62.
    for (int i = 56; i < 64; ++i) {
        const bool set = i == 57 || i == 59 || i == 60 || i == 62;
        EXPECT_EQ((b[static_cast<std::size_t>(i)] & 0x80) != 0, set) << i;
    }
    EXPECT_EQ(decodeAnimalBlock(b.data(), b.size(), true).comment, info.comment);
    // The short form has no room for it: 32 characters from byte 23, 55..63 zero.
    const auto s = encodeAnimalBlock(info, false, 6);
    EXPECT_EQ(s[23 + 31], 'Z');
    for (int i = 55; i < 64; ++i) EXPECT_EQ(s[static_cast<std::size_t>(i)], 0);
}

TEST(SimDriverRecords, PcVersionFrameIsStored) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    std::vector<std::uint8_t> frame(64, 0);
    frame[0] = 8;
    const std::string text = "Halnor40KU1.0.2.0";
    std::copy(text.begin(), text.end(), frame.begin() + 1);
    ASSERT_EQ(link.driver.writePipe(link.out, frame.data(), frame.size()), LinkError::None);
    EXPECT_EQ(link.unit->pcVersionText(), text);
    EXPECT_NE(link.driver.writePipe(link.in, frame.data(), frame.size()), LinkError::None);
}

TEST(SimDriverRecords, InjectedNoticesShortAndUnknownRecordsArriveAsMade) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    ASSERT_TRUE(link.command(kSimCmdLinkOff));
    link.drain();
    link.unit->injectMenuNotice(1);
    link.unit->injectMenuNotice(15);
    link.unit->injectShortRecord();
    link.unit->injectUnknownRecord(11);
    const auto got = link.drain();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0][0], 1);
    EXPECT_EQ(got[1][0], 15);
    EXPECT_EQ(got[2].size(), 3u);
    EXPECT_EQ(recordType(got[3]), 11);
    EXPECT_EQ(link.clock.inFlight(), 0);
}

// ---------------------------------------------------------------------------
// Faults

TEST(SimDriverFaults, UnplugEndsBlockedReadWithGoneAndNotifies) {
    SimLink link;
    std::mutex m;
    std::vector<std::pair<DeviceNotice, std::string>> notices;
    ASSERT_EQ(link.driver.setNoticeHandler([&](DeviceNotice n, const std::string& p) {
        std::lock_guard lock(m);
        notices.emplace_back(n, p);
    }),
              LinkError::None);
    ASSERT_TRUE(link.openAll());
    ASSERT_TRUE(link.command(kSimCmdLinkOff));
    link.drain();

    // Records waiting in the pipe still count as in flight until the unplug drops them.
    ASSERT_TRUE(link.controlWrite(14, 0));
    ASSERT_EQ(link.clock.inFlight(), 1);
    link.drain();

    std::atomic<int> status{-1};
    std::thread reader([&] {
        std::uint8_t buffer[64];
        status = static_cast<int>(link.driver.readPipe(link.in, buffer, 64).error);
    });
    ASSERT_TRUE(link.controlWrite(14, 0));  // queued, then dropped by the unplug if not yet read
    link.driver.unplug(*link.unit);
    reader.join();
    // The reader either got the version record first or was ended by the unplug.
    if (status == static_cast<int>(LinkError::None)) {
        link.clock.endActivity();
        std::uint8_t buffer[64];
        EXPECT_EQ(link.driver.readPipe(link.in, buffer, 64).error, LinkError::UnitGone);
    } else {
        EXPECT_EQ(status, static_cast<int>(LinkError::UnitGone));
    }
    link.driver.flushNotices();  // a notice is in flight until its handler returns
    EXPECT_EQ(link.clock.inFlight(), 0);
    EXPECT_TRUE(link.driver.presentInterfaces().empty());
    EXPECT_EQ(link.driver.open(link.unit->devicePath()).error, LinkError::UnitGone);
    EXPECT_EQ(link.state(), -1);

    link.driver.replug(*link.unit);
    link.driver.flushNotices();
    {
        std::lock_guard lock(m);
        ASSERT_EQ(notices.size(), 2u);  // the arrival at addUnit came before the handler was set
        EXPECT_EQ(notices[0].first, DeviceNotice::Removal);
        EXPECT_EQ(notices[0].second, link.unit->devicePath());
        EXPECT_EQ(notices[1].first, DeviceNotice::Arrival);
    }
    // Old handles stay dead; a new open works and the unit starts from power-on.
    EXPECT_FALSE(link.command(kSimCmdView));
    link.closeAll();
    ASSERT_TRUE(link.openAll());
    EXPECT_EQ(link.state(), kSimView);
}

TEST(SimDriverFaults, NoticesNotSupported) {
    SimLink link;
    link.driver.setNoticesSupported(false);
    EXPECT_EQ(link.driver.setNoticeHandler([](DeviceNotice, const std::string&) { FAIL(); }),
              LinkError::NotSupported);
    link.driver.unplug(*link.unit);
    link.driver.flushNotices();
    EXPECT_EQ(link.clock.inFlight(), 0);
}

TEST(SimDriverFaults, ReadErrorThatAResetCures) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    link.unit->injectReadError(true);
    std::uint8_t buffer[64];
    EXPECT_EQ(link.driver.readPipe(link.in, buffer, 64).error, LinkError::Io);
    const std::uint8_t fifteen = 15;
    std::size_t returned = 0;
    EXPECT_EQ(link.driver.ioControl(link.device, kIoctlResetUnit, &fifteen, 1, nullptr, 0, &returned),
              LinkError::None);
    link.runFor(200);  // streams on in View
    EXPECT_FALSE(link.records.empty());
}

TEST(SimDriverFaults, BrokenPipeLastsUntilThePipeIsReset) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    link.unit->injectBrokenPipe();
    std::uint8_t buffer[64];
    EXPECT_EQ(link.driver.readPipe(link.in, buffer, 64).error, LinkError::Protocol);
    EXPECT_EQ(link.driver.readPipe(link.in, buffer, 64).error, LinkError::Protocol);
    std::size_t returned = 0;
    EXPECT_EQ(link.driver.ioControl(link.in, kIoctlResetPipe, nullptr, 0, nullptr, 0, &returned),
              LinkError::None);
    link.runFor(200);
    EXPECT_FALSE(link.records.empty());
}

TEST(SimDriverFaults, ReadErrorThatAResetDoesNotCureLastsUntilReplug) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    link.unit->injectReadError(false);
    std::uint8_t buffer[64];
    const std::uint8_t fifteen = 15;
    std::size_t returned = 0;
    EXPECT_EQ(link.driver.readPipe(link.in, buffer, 64).error, LinkError::Io);
    EXPECT_NE(link.driver.ioControl(link.device, kIoctlResetUnit, &fifteen, 1, nullptr, 0, &returned),
              LinkError::None);
    EXPECT_EQ(link.driver.readPipe(link.in, buffer, 64).error, LinkError::Io);

    link.driver.unplug(*link.unit);
    link.driver.replug(*link.unit);
    link.closeAll();
    ASSERT_TRUE(link.openAll());
    link.runFor(200);
    ASSERT_GT(link.unit->queuedRecords() + link.records.size(), 0u);
}

TEST(SimDriverFaults, CancelReadEndsABlockedReadAndLaterReads) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    ASSERT_TRUE(link.command(kSimCmdLinkOff));
    link.drain();
    std::atomic<bool> started{false};
    PipeReadResult result;
    std::thread reader([&] {
        std::uint8_t buffer[64];
        started = true;
        result = link.driver.readPipe(link.in, buffer, 64);
    });
    while (!started) std::this_thread::yield();
    link.driver.cancelRead(link.in);
    reader.join();
    EXPECT_EQ(result.error, LinkError::Cancelled);

    ASSERT_TRUE(link.controlWrite(14, 0));  // even with a record waiting
    std::uint8_t buffer[64];
    EXPECT_EQ(link.driver.readPipe(link.in, buffer, 64).error, LinkError::Cancelled);
    // Closing the last inbound handle drops the waiting record and its activity.
    link.closeAll();
    EXPECT_EQ(link.clock.inFlight(), 0);
}

TEST(SimDriverFaults, DestroyingTheDriverEndsAReadStillBlocked) {
    CVirtualClock clock;
    auto driver = std::make_unique<CSimDriver>(clock);
    CSimUnit& unit = driver->addUnit(1, test::simFastOptions());
    const DriverHandle in = driver->open(unit.devicePath() + "\\if000pipe000").value;
    CSimDriver* raw = driver.get();
    LinkError status = LinkError::None;
    std::thread reader([&] {
        std::uint8_t buffer[64];
        status = raw->readPipe(in, buffer, 64).error;  // nothing due: virtual time stands still
    });
    while (raw->activeReads() == 0) std::this_thread::yield();
    driver.reset();
    reader.join();
    EXPECT_EQ(status, LinkError::UnitGone);
    EXPECT_EQ(clock.inFlight(), 0);
}

TEST(SimDriverFaults, ClosedOrUnknownHandles) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    const DriverHandle in = link.in;
    link.closeAll();
    std::uint8_t buffer[64];
    EXPECT_EQ(link.driver.readPipe(in, buffer, 64).error, LinkError::UnitGone);
    EXPECT_EQ(link.driver.readPipe(12345, buffer, 64).error, LinkError::UnitGone);
    EXPECT_NE(link.driver.writePipe(12345, buffer, 64), LinkError::None);
    link.driver.cancelRead(12345);
    link.driver.close(12345);
}

// ---------------------------------------------------------------------------
// Virtual time with a real reader thread, as the program runs it

TEST(SimDriverVirtualTime, LoopJumpsOnlyWhenTheReaderHasTakenEverything) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    std::mutex m;
    std::vector<Record> got;
    std::thread receiver([&] {
        for (;;) {
            Record r(64, 0);
            const PipeReadResult res = link.driver.readPipe(link.in, r.data(), r.size());
            if (res.error != LinkError::None) return;
            r.resize(res.bytes);
            {
                std::lock_guard lock(m);
                got.push_back(std::move(r));
            }
            link.clock.endActivity();  // posted
        }
    });
    ASSERT_TRUE(link.command(kSimKeyStart));
    while (link.unit->resultCount() == 0 && link.clock.nowMs() < 120000) {
        ASSERT_TRUE(link.clock.waitUntilIdle(10000));
        // Control requests from this thread while the reader works.
        EXPECT_GE(link.state(), kSimView);
        ASSERT_TRUE(link.clock.advanceToNext());
    }
    ASSERT_TRUE(link.clock.waitUntilIdle(10000));
    link.driver.cancelRead(link.in);
    receiver.join();

    std::lock_guard lock(m);
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(recordType(got[got.size() - 1]), 5);
    // The recording arrived whole: consecutive ring indices from the restart mark on.
    int next = -1;
    for (const Record& r : got) {
        if (recordType(r) != 4) continue;
        const int word = (r[2] << 8) | r[3];
        if (word == 0x8000) next = 0;
        if (next < 0) continue;
        EXPECT_EQ(word & 0x7FFF, next % 4000);
        next += r[1] & 0x0F;
    }
    EXPECT_EQ(next, link.unit->lastResult()->recordedSamples);
    EXPECT_EQ(link.clock.inFlight(), 0);
}

// ---------------------------------------------------------------------------
// Real time

TEST(SimDriverRealTime, StreamsWavePacketsOnItsOwnThread) {
    CSimDriver driver;  // system clock
    SimUnitOptions o;
    o.adjustMs = 0;
    CSimUnit& unit = driver.addUnit(0, o);
    const DriverHandle in = driver.open(unit.devicePath() + "\\if000pipe000").value;
    ASSERT_NE(in, kInvalidHandle);
    std::uint8_t buffer[64];
    // A read blocks until the unit's thread has made a packet; the watchdog
    // only guards against a hang.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!done) driver.cancelRead(in);
    });
    const PipeReadResult r = driver.readPipe(in, buffer, 64);
    done = true;
    watchdog.join();
    ASSERT_EQ(r.error, LinkError::None);
    EXPECT_EQ(buffer[0] & 0x0F, 4);
    EXPECT_EQ(be16(&buffer[2]), static_cast<std::int16_t>(0x8000));  // the first sweep starts marked
    driver.close(in);
}

}  // namespace
}  // namespace hx
