// The unit's own cycle in virtual time: states, the wave stream, the result
// records, its keys and screens, and the failed measurements.

#include <gtest/gtest.h>

#include <cmath>

#include "SimLink.h"

namespace hx {
namespace {

using test::be16;
using test::recordType;
using test::sample12;
using test::SimLink;

struct Packet {
    int index;  // low 15 bits
    bool restart;
    int count;
    int firstPressure;
};

Packet packetOf(const Record& r) {
    const int word = (r[2] << 8) | r[3];
    return {word & 0x7FFF, word == 0x8000, r[1] & 0x0F, sample12((r[8] << 8) | r[9])};
}

// States seen while running, each change once.
std::vector<int> runAndWatchStates(SimLink& link, std::int64_t ms) {
    std::vector<int> seen{link.unit->state()};
    const std::int64_t end = link.clock.nowMs() + ms;
    link.runUntil(
        [&] {
            const int s = link.unit->state();
            if (s != seen.back()) seen.push_back(s);
            return false;
        },
        end);
    return seen;
}

TEST(SimCycle, AdjustsAfterPowerOnThenStreamsTheLiveView) {
    SimUnitOptions o = SimLink::fastOptions();
    o.adjustMs = 3000;
    SimLink link(o);
    ASSERT_TRUE(link.openAll());
    EXPECT_EQ(link.state(), kSimAdjust);
    EXPECT_TRUE(link.command(kSimCmdView));  // accepted, but the unit is busy
    link.runFor(2900);
    EXPECT_EQ(link.state(), kSimAdjust);
    EXPECT_TRUE(link.records.empty());
    link.runFor(1100);
    EXPECT_EQ(link.state(), kSimView);
    // About a second of live view: 100 samples/s in packets of 10, consecutive indices.
    ASSERT_GE(link.records.size(), 9u);
    int expected = -1;
    for (const Record& r : link.records) {
        ASSERT_EQ(recordType(r), 4);
        ASSERT_EQ(r.size(), 64u);
        const Packet p = packetOf(r);
        EXPECT_EQ(p.count, 10);
        if (expected >= 0) {
            EXPECT_EQ(p.index, expected);
        }
        expected = (p.index + p.count) % 4000;
    }
    EXPECT_TRUE(packetOf(link.records.front()).restart);
    EXPECT_EQ(link.records.front()[7] & 0x0F, 2);  // sensor level = SENSE
}

TEST(SimCycle, MeasurementRunsPressRecordResultWithTheRecordingFromRingIndexZero) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    link.runFor(500);
    link.records.clear();
    ASSERT_TRUE(link.command(kSimKeyStart));
    const std::vector<int> states = runAndWatchStates(link, 60000);
    EXPECT_EQ(states, (std::vector<int>{3, 4, 5}));

    // Find the recording: from the packet with the restart mark up to the result pieces.
    std::size_t restart = link.records.size();
    for (std::size_t i = 0; i < link.records.size(); ++i) {
        if (recordType(link.records[i]) == 4 && packetOf(link.records[i]).restart) {
            restart = i;
            break;
        }
    }
    ASSERT_LT(restart, link.records.size());
    EXPECT_GT(restart, 10u);  // inflation was streamed before it
    int next = 0;
    std::size_t i = restart;
    int topPressure = 0;
    for (; i < link.records.size() && recordType(link.records[i]) == 4; ++i) {
        const Packet p = packetOf(link.records[i]);
        EXPECT_EQ(p.index, next);
        if (i == restart) topPressure = p.firstPressure;
        next += p.count;
    }
    // Inflated to PRESS 180 mmHg, in half units.
    EXPECT_NEAR(topPressure, 360, 8);
    ASSERT_EQ(link.records.size(), i + 3);  // nothing streams while the result is shown
    EXPECT_EQ(recordType(link.records[i]), 2);
    EXPECT_EQ(recordType(link.records[i + 1]), 3);
    EXPECT_EQ(recordType(link.records[i + 2]), 5);

    const auto result = link.unit->lastResult();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->recordedSamples, next);
    EXPECT_LT(next, 4000);
    // The pieces carry the 186-byte record; check the fields where the program reads them.
    std::vector<std::uint8_t> rec;
    for (int k = 0; k < 3; ++k)
        rec.insert(rec.end(), link.records[i + k].begin() + 2, link.records[i + k].end());
    ASSERT_EQ(rec.size(), 186u);
    EXPECT_EQ(rec[25], 0);
    EXPECT_EQ(be16(&rec[0]), result->sbpHalf);
    EXPECT_EQ(be16(&rec[4]), result->dbpHalf);
    EXPECT_EQ(be16(&rec[6]), result->hr);
    EXPECT_NE(rec[15], 0);
    EXPECT_NEAR(result->sbpHalf / 2.0, result->truth.sbp, 6.0);
    EXPECT_NEAR(result->dbpHalf / 2.0, result->truth.dbp, 6.0);
    EXPECT_GT(result->firstMarker, 0);
    EXPECT_GT(result->secondMarker, result->firstMarker);
    EXPECT_LT(result->secondMarker, next);
    ASSERT_FALSE(result->pulseMarks.empty());
    EXPECT_LE(result->pulseMarks.size(), 50u);
    EXPECT_EQ(be16(&rec[62]), result->pulseMarks[0]);
    EXPECT_TRUE(std::is_sorted(result->pulseMarks.begin(), result->pulseMarks.end()));
    EXPECT_EQ(std::string(rec.begin() + 26, rec.begin() + 38).size(), 12u);
    EXPECT_EQ(std::string(rec.begin() + 26, rec.begin() + 38), result->dateTime);
    EXPECT_EQ(link.clock.inFlight(), 0);

    // It stays in Result until told otherwise; the start key brings it back to View.
    link.runFor(20000);
    EXPECT_EQ(link.state(), kSimResult);
    ASSERT_TRUE(link.command(kSimKeyStart));
    EXPECT_EQ(link.state(), kSimView);
}

TEST(SimCycle, MeasurementNumberCountsAndDateComesFromTheUnitsClock) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    ASSERT_TRUE(link.controlWrite(6, 0, {12, 3, 15, 5, 9, 30, 5, 0}));
    ASSERT_TRUE(link.measure());
    const auto first = link.unit->lastResult();
    EXPECT_EQ(first->measurementNumber, 0);
    EXPECT_EQ(first->dateTime.substr(0, 8), "12031509");
    ASSERT_TRUE(link.command(kSimKeyStart));
    ASSERT_TRUE(link.measure());
    EXPECT_EQ(link.unit->lastResult()->measurementNumber, 1);
}

TEST(SimCycle, StartKeyCancelsDuringPressAndRecord) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    ASSERT_TRUE(link.command(kSimKeyStart));
    link.runFor(1000);
    EXPECT_EQ(link.state(), kSimPress);
    ASSERT_TRUE(link.command(kSimKeyStart));
    EXPECT_EQ(link.state(), kSimCancel);
    link.runFor(2500);
    EXPECT_EQ(link.state(), kSimView);

    ASSERT_TRUE(link.command(kSimKeyStart));
    ASSERT_TRUE(link.runUntil([&] { return link.unit->state() == kSimRecord; }, link.clock.nowMs() + 20000));
    link.runFor(3000);
    ASSERT_TRUE(link.command(kSimKeyStart));
    EXPECT_EQ(link.state(), kSimCancel);
    link.runFor(2500);
    EXPECT_EQ(link.state(), kSimView);
    EXPECT_EQ(link.unit->resultCount(), 0);
}

TEST(SimCycle, ModeCommandsStartStopAndRestartTheStream) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    link.runFor(1000);
    ASSERT_TRUE(link.command(kSimCmdLinkOff));
    link.records.clear();
    link.runFor(1000);
    EXPECT_TRUE(link.records.empty());

    ASSERT_TRUE(link.command(kSimCmdView));
    link.runFor(1000);
    ASSERT_FALSE(link.records.empty());
    EXPECT_FALSE(packetOf(link.records.front()).restart);

    link.records.clear();
    ASSERT_TRUE(link.command(kSimCmdRestartView));
    link.runFor(300);
    ASSERT_FALSE(link.records.empty());
    EXPECT_TRUE(packetOf(link.records.front()).restart);
    EXPECT_EQ(packetOf(link.records[1]).index, 10);

    // A view request does not interrupt a running measurement.
    ASSERT_TRUE(link.command(kSimKeyStart));
    ASSERT_TRUE(link.runUntil([&] { return link.unit->state() == kSimRecord; }, link.clock.nowMs() + 20000));
    ASSERT_TRUE(link.command(kSimCmdView));
    ASSERT_TRUE(link.command(kSimCmdRestartView));
    EXPECT_EQ(link.state(), kSimRecord);
    ASSERT_TRUE(link.runUntil([&] { return link.unit->state() == kSimResult; }, link.clock.nowMs() + 60000));
    EXPECT_EQ(link.unit->lastResult()->errorCode, 0);
    // From Result, a view request returns to View.
    ASSERT_TRUE(link.command(kSimCmdView));
    EXPECT_EQ(link.state(), kSimView);
    // Codes the unit names but this program never sends are accepted.
    for (int code : {kSimCmdMenuUsb, kSimCmdTimeUsb, kSimCmdIdle}) EXPECT_TRUE(link.command(code));
    ASSERT_TRUE(link.command(kSimCmdWaitUsb));
    EXPECT_EQ(link.state(), kSimWait);
    ASSERT_TRUE(link.command(kSimKeyStart));
    EXPECT_EQ(link.state(), kSimView);
}

TEST(SimCycle, AutoStartRepeatsTheMeasurement) {
    SimUnitOptions o = SimLink::fastOptions();
    o.menu[2] = 3;  // AUTO-S: three measurements from one start
    o.menu[8] = 2;  // SPEED "3"
    SimLink link(o);
    ASSERT_TRUE(link.openAll());
    ASSERT_TRUE(link.command(kSimKeyStart));
    EXPECT_TRUE(link.runUntil([&] { return link.unit->resultCount() == 3; }, 200000));
    // The series ends there: the last result stays on the unit's screen.
    link.runFor(30000);
    EXPECT_EQ(link.unit->resultCount(), 3);
    EXPECT_EQ(link.state(), kSimResult);
}

TEST(SimCycle, SpeedThreeDeflatesFasterThanSpeedOne) {
    int samples[2] = {0, 0};
    for (int speed : {0, 2}) {
        SimUnitOptions o = SimLink::fastOptions();
        o.menu[8] = static_cast<std::int16_t>(speed);
        SimLink link(o);
        ASSERT_TRUE(link.openAll());
        ASSERT_TRUE(link.measure());
        samples[speed / 2] = link.unit->lastResult()->recordedSamples;
    }
    EXPECT_LT(samples[1] * 3, samples[0] * 2);
}

TEST(SimCycle, UnitsOwnKeysAndScreens) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    link.unit->pressMenuKey();
    EXPECT_EQ(link.state(), kSimMenu);
    link.unit->pressKey(1);
    link.unit->pressKey(1);
    link.unit->pressKey(4);
    EXPECT_EQ(link.state(), kSimView);
    EXPECT_EQ(link.controlRead(4, 8)[0], 10);  // PRESS index 8 + 2

    link.unit->pressAnimalKey();
    EXPECT_EQ(link.state(), kSimAnimal);
    link.unit->enterAnimalNumber("A17");
    EXPECT_EQ(link.state(), kSimView);
    ASSERT_TRUE(link.command(kSimCmdLinkOff));
    link.drain();
    ASSERT_TRUE(link.controlWrite(12, 0, {0, 0, 7, 7, 7, 7, 7, 0}));
    const auto got = link.drain();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(decodeAnimalBlock(got[0].data(), got[0].size(), true).animalNumber, "A17");

    link.unit->pressBrowseKey();
    EXPECT_EQ(link.state(), kSimBrowse);
    link.unit->pressKey(4);
    EXPECT_EQ(link.state(), kSimView);

    // The unit's own start key runs the same measurement.
    link.unit->pressKey(4);
    EXPECT_EQ(link.state(), kSimPress);
}

TEST(SimCycle, FailedMeasurementsCarryTheirErrorCodes) {
    {
        SimLink link;
        ASSERT_TRUE(link.openAll());
        link.unit->setCuffLeak(true);
        ASSERT_TRUE(link.measure());
        EXPECT_EQ(link.unit->lastResult()->errorCode, 5);  // "Air"
        // Byte 25 of the result record travels in the first piece, at record byte 27.
        ASSERT_GE(link.records.size(), 3u);
        const Record& first = link.records[link.records.size() - 3];
        EXPECT_EQ(first[0], 2);
        EXPECT_EQ(first[27], 5);
    }
    {
        SimLink link;
        ASSERT_TRUE(link.openAll());
        link.unit->setPulseScale(0.0);  // no tail in the cuff
        ASSERT_TRUE(link.measure());
        EXPECT_EQ(link.unit->lastResult()->errorCode, 16);  // "Lo"
    }
    {
        SimUnitOptions o = SimLink::fastOptions();
        o.menu[0] = 2;  // PRESS 120 mmHg, below the dog's SBP
        SimLink link(o);
        link.unit->setTruthOverride(SimTruth{140, 105, 85, 100});
        ASSERT_TRUE(link.openAll());
        ASSERT_TRUE(link.measure());
        const auto r = link.unit->lastResult();
        EXPECT_NE(r->errorCode, 0);
        EXPECT_EQ(r->sbpHalf, 0);
        EXPECT_EQ(r->record[25], r->errorCode);
    }
}

TEST(SimCycle, MeasurementGoesOnWithoutAReader) {
    // Nobody has the inbound pipe open: nothing is queued, nothing is in flight.
    SimLink link;
    link.unit->pressKey(4);
    ASSERT_TRUE(link.runUntil([&] { return link.unit->resultCount() == 1; }, 120000));
    EXPECT_EQ(link.unit->queuedRecords(), 0u);
    EXPECT_EQ(link.clock.inFlight(), 0);
    EXPECT_EQ(link.unit->lastResult()->errorCode, 0);
}

}  // namespace
}  // namespace hx
