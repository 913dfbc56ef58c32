// A measurement from the start command to the saved data file and history row.

#include <gtest/gtest.h>

#include <filesystem>

#include "ControlRig.h"
#include "control/AutoStarter.h"
#include "data/DataFileReader.h"
#include "session/ResultsLog.h"

namespace hx::test {
namespace {

namespace fs = std::filesystem;

int dataFileCount(const ControlRig& rig) {
    fs::path folder = rig.dir.path() / "data";
    if (!fs::exists(folder)) return 0;
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind("B", 0) == 0) ++n;
    return n;
}

bool measure(ControlRig& rig) {
    std::size_t before = rig.ui.results.size();
    rig.command(kCmdStart);
    return rig.runUntil([&] { return rig.ui.results.size() > before; }, 180000);
}

TEST(Measurement, StartToSavedFileAndHistoryRow) {
    ControlRig rig;
    SimUnitOptions options;
    options.animal.animalNumber = "12";
    CSimUnit& unit = rig.addUnit(0, options);
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    ASSERT_TRUE(measure(rig));

    const ResultSeen& seen = rig.ui.results.back();
    std::optional<SimResult> sent = unit.lastResult();
    ASSERT_TRUE(sent);
    EXPECT_EQ(seen.errorCode, 0);
    EXPECT_EQ(seen.row.sbp, halve(static_cast<std::int16_t>(sent->sbpHalf)));
    EXPECT_EQ(seen.row.hr, sent->hr);
    EXPECT_EQ(seen.row.number, sent->measurementNumber + 1);

    // Listed and saved under the animal's number, with the unit's values.
    ASSERT_EQ(rig.ui.history.size(), 1u);
    EXPECT_EQ(rig.ui.history[0].text[2], std::to_string(seen.row.sbp));
    ASSERT_FALSE(seen.path.empty());
    EXPECT_EQ(fs::path(seen.path).extension(), ".012");
    DataFileParse file = readDataFile(seen.path);
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.contents.sbp, sent->sbpHalf);
    EXPECT_EQ(file.contents.dbp, sent->dbpHalf);
    EXPECT_EQ(file.contents.mbp, sent->mbpHalf);

    // The result pane shows the analysed recording; the next live packet
    // brings the wave layout back.
    EXPECT_EQ(rig.controller().layoutMode(), kLayoutGraph);
    EXPECT_TRUE(rig.controller().analysis().hasCurve());
    rig.command(kCmdStart);  // the unit leaves its result
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller().layoutMode() == kLayoutWave; }, 10000));
}

// What a run of three measurements showed, with the virtual time of each result.
std::vector<std::string> threeMeasurements(CVirtualEventLoop::ReceiverReads reads) {
    ControlRig rig(reads);
    rig.addUnit(0);
    rig.start();
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        if (!rig.waitReady()) return {"not ready"};
        if (!measure(rig)) return {"no result"};
        const ResultSeen& r = rig.ui.results.back();
        seen.push_back(std::to_string(rig.clock.nowMs()) + " " + std::to_string(r.row.sbp) + "/" +
                       std::to_string(r.row.dbp) + " HR " + std::to_string(r.row.hr) + " code " +
                       std::to_string(r.errorCode));
        rig.command(kCmdStart);  // the unit leaves its result
    }
    seen.push_back("draw batches " + std::to_string(rig.ui.drawBatches));
    return seen;
}

TEST(Measurement, TheLoopReadingTheUnitSeesWhatTheReceiverThreadSees) {
    // Every wave packet drawn, every result at the same virtual time: the
    // loop's own reads lose, add or reorder no record.
    const std::vector<std::string> onLoop = threeMeasurements(CVirtualEventLoop::ReceiverReads::OnLoop);
    ASSERT_EQ(onLoop.size(), 4u) << onLoop.front();
    EXPECT_EQ(onLoop, threeMeasurements(CVirtualEventLoop::ReceiverReads::OnThread));
}

struct SavePolicy {
    int outputFile;
    bool failedMeasurement;
    MsgAnswer answer;
    bool saved;
};

class SaveDecision : public ::testing::TestWithParam<SavePolicy> {};

TEST_P(SaveDecision, FollowsOutputFileSetting) {
    const SavePolicy& p = GetParam();
    ControlRig rig;
    CSimUnit& unit = rig.addUnit(0);
    if (p.failedMeasurement) unit.setPulseScale(0.0);  // no pulse reaches the cuff: "Lo"
    rig.profile.writeInt("HalnorEWU_1", "outputFile", p.outputFile);
    rig.ui.saveAnswer = p.answer;
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    ASSERT_TRUE(measure(rig));
    const ResultSeen& seen = rig.ui.results.back();
    EXPECT_EQ(seen.errorCode != 0, p.failedMeasurement);
    EXPECT_EQ(rig.ui.history.size(), p.saved ? 1u : 0u);
    EXPECT_EQ(dataFileCount(rig), p.saved ? 1 : 0);
    EXPECT_EQ(seen.path.empty(), !p.saved);
    // Shown in the graph layout whether saved or not.
    EXPECT_EQ(rig.controller().layoutMode(), kLayoutGraph);

    // The results log holds every result, saved or not, with the rule that decided.
    std::string reason;
    auto log = readResultsLog(resultsLogPath((rig.dir.path() / "data").string()), reason);
    ASSERT_TRUE(log) << reason;
    ASSERT_EQ(log->rows.size(), 1u);
    const ResultsLogRow& row = log->rows[0];
    EXPECT_EQ(row.saved, p.saved);
    EXPECT_EQ(row.saveRule, saveRuleText(p.outputFile, p.answer == MsgAnswer::Yes));
    EXPECT_EQ(row.dataFile, fs::path(seen.path).filename().string());
    EXPECT_EQ(row.errorCode, seen.errorCode);
    if (p.saved) {
        EXPECT_EQ(row.sbp, rig.ui.history[0].text[2]);  // the history row and the log row agree
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutputFileValue, SaveDecision,
    ::testing::Values(SavePolicy{0, false, MsgAnswer::Yes, true}, SavePolicy{0, true, MsgAnswer::Yes, true},
                      SavePolicy{1, false, MsgAnswer::Yes, true}, SavePolicy{1, true, MsgAnswer::Yes, false},
                      SavePolicy{2, false, MsgAnswer::Yes, false}, SavePolicy{3, false, MsgAnswer::Yes, true},
                      SavePolicy{3, false, MsgAnswer::No, false}));

std::vector<bool> unitCommandsEnabled(ControlRig& rig) {
    std::vector<bool> states;
    for (int id : {kCmdStart, kCmdUp, kCmdDown, kCmdMenu, kCmdAnimal, kCmdSweepSpeed})
        states.push_back(rig.controller().commandEnabled(id));
    return states;
}

TEST(Measurement, TheWindowIsToldOfEveryChangeOfTheCommandsEnabling) {
    // Declared before the rig: its shut-down tells the notice too.
    std::vector<bool> told(6, false);
    int behind = 0;
    ControlRig rig;
    CSimUnit& unit = rig.addUnit(0);
    rig.ui.onCommandsChanged = [&] { told = unitCommandsEnabled(rig); };
    auto watch = [&](std::function<bool()> done) {
        return [&, done] {
            if (told != unitCommandsEnabled(rig)) ++behind;
            return done();
        };
    };
    rig.start();
    ASSERT_TRUE(rig.runUntil(watch([&] { return rig.controller().readyForMeasurement(); })));
    const std::size_t before = rig.ui.results.size();
    rig.command(kCmdStart);
    ASSERT_TRUE(rig.runUntil(watch([&] { return rig.ui.results.size() > before; }), 180000));
    rig.sim.unplug(unit);
    ASSERT_TRUE(rig.runUntil(watch([&] { return !rig.controller().connected(); }), 10000));
    EXPECT_EQ(behind, 0);
    EXPECT_EQ(told, unitCommandsEnabled(rig));
}

TEST(Measurement, AnUnattendedStartThatTookNoMeasurementIsSentAgain) {
    // Before: the window's --measurements sent Start once and then waited for
    // its result for ever when the unit never took it (it stayed in View).
    ControlRig rig;
    rig.addUnit(0);
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    CAutoStarter starter;
    const auto results = [&] { return static_cast<int>(rig.ui.results.size()); };
    starter.look(rig.controller(), results(), 1);
    ASSERT_EQ(starter.started(), 1);
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller().unitState() == kStatePress; }));
    rig.command(kCmdStart);  // cancelled: no result will come of that start
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller().readyForMeasurement(); }));
    for (int look = 0; look < 300 && results() == 0; ++look) {
        starter.look(rig.controller(), results(), 1);
        rig.runFor(1000);
    }
    EXPECT_EQ(results(), 1);
    EXPECT_EQ(starter.started(), 1) << "counted once it gave its result";
}

TEST(Measurement, FailedMeasurementIsListedWithoutPressures) {
    ControlRig rig;
    CSimUnit& unit = rig.addUnit(0);
    unit.setPulseScale(0.0);
    rig.profile.writeInt("HalnorEWU_1", "outputFile", 0);
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    ASSERT_TRUE(measure(rig));
    ASSERT_EQ(rig.ui.history.size(), 1u);
    EXPECT_EQ(rig.ui.history[0].text[2], "---");
    EXPECT_EQ(rig.ui.history[0].text[3], "---");
    EXPECT_EQ(rig.ui.history[0].text[4], "---");
}

TEST(Measurement, AnUnwritableResultsLogIsToldOnceAndMeasuringGoesOn) {
    ControlRig rig;
    rig.addUnit(0);
    fs::create_directories(rig.dir.path() / "data" / "results.csv");  // cannot be opened as a file
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    ASSERT_TRUE(measure(rig));
    rig.command(kCmdStart);
    ASSERT_TRUE(rig.runUntil([&] { return rig.controller().layoutMode() == kLayoutWave; }, 10000));
    ASSERT_TRUE(measure(rig));
    EXPECT_EQ(dataFileCount(rig), 2);
    EXPECT_EQ(std::count_if(rig.ui.messages.begin(), rig.ui.messages.end(),
                            [](const std::string& m) { return m.rfind("Results log|", 0) == 0; }),
              1);
    EXPECT_EQ(rig.controller().session().rows().size(), 2u);  // the session still counts them
}

TEST(Measurement, TheResultsLogMessageClaimsSavedDataFilesOnlyWhenThereAreSome) {
    ControlRig rig;
    rig.addUnit(0);
    rig.profile.writeInt("HalnorEWU_1", "outputFile", 2);  // "Never"
    fs::create_directories(rig.dir.path() / "data" / "results.csv");
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    ASSERT_TRUE(measure(rig));
    ASSERT_EQ(dataFileCount(rig), 0);
    ASSERT_EQ(rig.ui.messages.size(), 1u);
    EXPECT_EQ(rig.ui.messages[0].find("still saved"), std::string::npos) << rig.ui.messages[0];
}

TEST(Measurement, TimerAndTraceBringsTheUnitBackFromItsResult) {
    ControlRig rig;
    CSimUnit& unit = rig.addUnit(0);
    rig.profile.writeInt("HalnorEWU_1", "timerMode", 1);
    rig.profile.writeInt("HalnorEWU_1", "traceMode", 1);
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    ASSERT_TRUE(measure(rig));
    EXPECT_EQ(rig.controller().resultCountdown(), 10);
    unit.clearRequestLog();
    rig.runFor(11500);
    EXPECT_GE(unit.countRequests(kRequestCommand, CR_VIEW), 1);
    EXPECT_EQ(rig.controller().resultCountdown(), 0);
    ASSERT_TRUE(rig.runUntil([&] { return unit.state() == kSimView; }, 5000));
}

TEST(Measurement, DataFileNameInTimerModeUsesDayAndSeconds) {
    ControlRig rig;
    rig.addUnit(0);
    rig.profile.writeInt("HalnorEWU_1", "filenameType", 0);
    rig.start();
    ASSERT_TRUE(rig.waitReady());
    rig.doc().preference().monitor().timerMode = 1;
    ASSERT_TRUE(measure(rig));
    const ResultSeen& seen = rig.ui.results.back();
    ASSERT_FALSE(seen.path.empty());
    // B + DDhhmmss from the result's own date-time text.
    EXPECT_EQ(fs::path(seen.path).stem().string(), "B" + seen.row.dateTime.substr(4, 8));
}

}  // namespace
}  // namespace hx::test
