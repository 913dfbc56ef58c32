// The measurement document: its starting state, display values, freezing of
// the rings, the save decision, the device-ID list and the pass-throughs to the
// preferences and the timer schedule.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/DocumentFixture.h"

namespace hx {
namespace {

using test::DocumentFixture;

using DocumentStart = DocumentFixture;

TEST_F(DocumentStart, DisplayStateAndBindingHaveTheirStartValues) {
    EXPECT_EQ(doc->drawMode(), 0);
    EXPECT_EQ(doc->measurementPhase(), CHalnor55KUDoc::kPhaseNothingStarted);
    EXPECT_EQ(doc->writePosition(), 0);
    EXPECT_EQ(doc->sensorLevel(), 0);
    EXPECT_EQ(doc->errorFlag(), 0);
    EXPECT_EQ(doc->heartRateCounter(), 0);
    EXPECT_TRUE(doc->liveUpdate());
    EXPECT_FALSE(doc->showMbpDbp());
    EXPECT_FALSE(doc->waitForStart());
    EXPECT_EQ(doc->versionMark(), 0);
    EXPECT_EQ(doc->deviceId(), 0);
    EXPECT_EQ(doc->presetDeviceId(), -1);
    EXPECT_EQ(doc->deviceIdCount(), 0);
    EXPECT_EQ(doc->result().resultByte15, 20);
    EXPECT_TRUE(doc->result().dateTime.empty());
    EXPECT_EQ(doc->formattedDateTime(), "");
}

TEST_F(DocumentStart, MenuSettingsComeFromTheDeviceGroupOfTheProfile) {
    EXPECT_EQ(doc->menuSettings(), MenuSettings{});
    store.writeInt("HalnorEWU_1", "SETTING_PRESS", 12);
    store.writeInt("HalnorEWU_1", "SETTING_TYPE", 2);
    makeDocument();
    EXPECT_EQ(doc->menuSettings()[MenuSettings::kPress], 12);
    EXPECT_EQ(doc->menuSettings()[MenuSettings::kType], 2);
    // The document keeps its own copy: the unit's settings replace it, the
    // preferences keep the profile's values.
    MenuSettings fromUnit;
    fromUnit[MenuSettings::kPress] = 3;
    doc->setMenuSettings(fromUnit);
    EXPECT_EQ(doc->menuSettings()[MenuSettings::kPress], 3);
    EXPECT_EQ(doc->preference().deviceMenu()[MenuSettings::kPress], 12);
}

TEST_F(DocumentStart, MonitorAndAnimalValuesComeFromTheProfile) {
    store.writeInt("HalnorEWU_1", "waveColor", 0x00FF00);
    store.writeText("HalnorEWU_1", "ID_NO", "R-17");
    makeDocument();
    EXPECT_EQ(doc->waveColor(), 0x00FF00);
    EXPECT_EQ(doc->pressColor(), 0x808080);
    EXPECT_EQ(doc->backColor(), 0xFFFFFF);
    EXPECT_EQ(doc->animalTexts().animalNo, "R-17");
    EXPECT_EQ(doc->dataFolder(), dir.folder());
}

using DocumentDisplay = DocumentFixture;

TEST_F(DocumentDisplay, PressuresAreHalvedAwayFromZero) {
    struct Case {
        std::int16_t stored;
        std::int16_t shown;
    };
    const Case cases[] = {{3, 2},   {2, 1},   {1, 1},     {0, 0},        {-1, -1},
                          {-2, -1}, {-3, -2}, {241, 121}, {32767, 16384}};
    for (const Case& c : cases) {
        MeasurementResult r;
        r.sbp = c.stored;
        r.mbp = c.stored;
        r.dbp = c.stored;
        doc->replaceResult(r);
        EXPECT_EQ(doc->sbpForDisplay(), c.shown) << c.stored;
        EXPECT_EQ(doc->mbpForDisplay(), c.shown) << c.stored;
        EXPECT_EQ(doc->dbpForDisplay(), c.shown) << c.stored;
        doc->setCuffPressure(c.stored);
        EXPECT_EQ(doc->cuffPressureForDisplay(), c.shown) << c.stored;
    }
}

TEST_F(DocumentDisplay, DrawModeTakesOnlyItsLegalValues) {
    for (int mode : {1, 2, 97, 98, 99, 0}) {
        EXPECT_TRUE(doc->setDrawMode(mode));
        EXPECT_EQ(doc->drawMode(), mode);
    }
    EXPECT_TRUE(port.shown.empty());

    ASSERT_TRUE(doc->setDrawMode(97));
    for (int mode : {3, -1, 96, 100}) {
        EXPECT_FALSE(doc->setDrawMode(mode));
        EXPECT_EQ(doc->drawMode(), 97);
    }
    ASSERT_EQ(port.shown.size(), 4u);
    EXPECT_EQ(port.shown[0].text, "set Drawmode invalid value");
    EXPECT_EQ(port.shown[0].icon, MsgIcon::Stop);
    EXPECT_EQ(port.shown[0].buttons, MsgButtons::Ok);
}

TEST_F(DocumentDisplay, DateTimeIsFormattedOnlyFromTwelveCharacters) {
    MeasurementResult r;
    r.dateTime = "120315093005";
    doc->replaceResult(r);
    EXPECT_EQ(doc->formattedDateTime(), "12/03/15 09:30:05");
    r.dateTime = "12031509300";
    doc->replaceResult(r);
    EXPECT_EQ(doc->formattedDateTime(), "");
    r.dateTime = "1203150930051";
    doc->replaceResult(r);
    EXPECT_EQ(doc->formattedDateTime(), "");
}

TEST_F(DocumentDisplay, LastSampleIndexIsOneBeforeTheWritePosition) {
    EXPECT_EQ(doc->lastSampleIndex(), 0);
    doc->setWritePosition(1);
    EXPECT_EQ(doc->lastSampleIndex(), 0);
    doc->setWritePosition(3600);
    EXPECT_EQ(doc->lastSampleIndex(), 3599);
    doc->setWritePosition(0);  // wrapped after a sample at 3999
    EXPECT_EQ(doc->lastSampleIndex(), 0);
}

TEST_F(DocumentDisplay, VersionMarkIsLogged) {
    doc->setVersionMark(1);
    EXPECT_EQ(doc->versionMark(), 1);
    EXPECT_EQ(lastLogLine(), "Mark readHXVer :1");
    doc->setVersionMark(0);
    EXPECT_EQ(lastLogLine(), "Mark readHXVer :0");
}

class DocumentRings : public DocumentFixture {
  protected:
    void fillLive(std::int16_t pressure, std::int16_t wave) {
        doc->pressureRing().fill(pressure);
        doc->waveRing().fill(wave);
    }
};

TEST_F(DocumentRings, FreezingAtAnEarlyWritePositionKeepsTheWholeRings) {
    for (int p : {0, 20}) {
        fillLive(5, -5);
        doc->setWritePosition(p);
        doc->freezeRings();
        EXPECT_EQ(doc->resultPressureRing(), doc->pressureRing()) << p;
        EXPECT_EQ(doc->resultPressureRing()[3999], 5) << p;
        EXPECT_EQ(doc->resultWaveRing()[3999], -5) << p;
    }
}

TEST_F(DocumentRings, FreezingCutsTheStaleTailFromTheWritePosition) {
    fillLive(5, -5);
    doc->setWritePosition(1000);
    doc->freezeRings();
    const CHalnor55KUDoc& frozen = *doc;
    for (const Ring* ring : {&frozen.pressureRing(), &frozen.waveRing(), &frozen.resultPressureRing(),
                             &frozen.resultWaveRing()}) {
        EXPECT_NE((*ring)[999], 0);
        EXPECT_EQ((*ring)[1000], 0);
        EXPECT_EQ((*ring)[3999], 0);
    }
    EXPECT_EQ(doc->resultPressureRing()[999], 5);
    EXPECT_EQ(doc->resultWaveRing()[999], -5);

    fillLive(7, 7);
    doc->setWritePosition(21);
    doc->freezeRings();
    EXPECT_EQ(doc->resultPressureRing()[20], 7);
    EXPECT_EQ(doc->resultPressureRing()[21], 0);
}

TEST_F(DocumentRings, ClearingLiveDataKeepsPositionsAndResultRings) {
    fillLive(5, 5);
    doc->setWritePosition(1234);
    doc->setHeartRateCounter(17);
    doc->freezeRings();
    std::fill(doc->waveArea(), doc->waveArea() + kWaveAreaSize, std::uint8_t{0xAB});
    doc->clearLiveData();
    EXPECT_EQ(std::count(doc->pressureRing().begin(), doc->pressureRing().end(), 0), 4000);
    EXPECT_EQ(std::count(doc->waveRing().begin(), doc->waveRing().end(), 0), 4000);
    EXPECT_EQ(std::count(doc->waveArea(), doc->waveArea() + kWaveAreaSize, 0), 100);
    EXPECT_EQ(doc->writePosition(), 1234);
    EXPECT_EQ(doc->heartRateCounter(), 17);
    EXPECT_EQ(doc->resultPressureRing()[0], 5);
}

using DocumentHistory = DocumentFixture;

TEST_F(DocumentHistory, RowCarriesHalvedPressuresAndTheNextNumber) {
    MeasurementResult r;
    r.sbp = 241;
    r.mbp = 190;
    r.dbp = -3;
    r.hr = 388;
    r.measurementNumber = 41;
    r.dateTime = "120315093045";
    doc->replaceResult(r);
    doc->sendHistoryRow(16);
    ASSERT_EQ(listener.historyRows.size(), 1u);
    const auto& call = listener.historyRows[0];
    EXPECT_EQ(call.errorCode, 16);
    EXPECT_EQ(call.row.number, 42);
    EXPECT_EQ(call.row.hr, 388);
    EXPECT_EQ(call.row.sbp, 121);
    EXPECT_EQ(call.row.mbp, 95);
    EXPECT_EQ(call.row.dbp, -2);
    EXPECT_EQ(call.row.dateTime, "120315093045");

    doc->setListener(nullptr);
    doc->sendHistoryRow(0);  // nobody listens: nothing happens
    EXPECT_EQ(listener.historyRows.size(), 1u);
}

class DocumentSaving : public DocumentFixture {
  protected:
    void resultWithError(std::int8_t code) {
        MeasurementResult r;
        r.errorCode = code;
        doc->replaceResult(r);
    }
};

TEST_F(DocumentSaving, DecisionFollowsOutputFileWithoutAsking) {
    auto& monitor = doc->preference().monitor();
    monitor.outputFile = 0;
    resultWithError(16);
    EXPECT_TRUE(doc->saveDecision());

    monitor.outputFile = 1;
    EXPECT_FALSE(doc->saveDecision());
    resultWithError(-128);
    EXPECT_FALSE(doc->saveDecision());
    resultWithError(0);
    EXPECT_TRUE(doc->saveDecision());

    monitor.outputFile = 2;
    EXPECT_FALSE(doc->saveDecision());
    EXPECT_TRUE(port.shown.empty());
}

TEST_F(DocumentSaving, InquireAsksAndSavesOnYes) {
    doc->preference().monitor().outputFile = 3;
    resultWithError(16);  // the question is asked whatever the error code
    port.answers = {MsgAnswer::Yes, MsgAnswer::No};
    EXPECT_TRUE(doc->saveDecision());
    EXPECT_FALSE(doc->saveDecision());
    ASSERT_EQ(port.shown.size(), 2u);
    EXPECT_EQ(port.shown[0].text, "Save to File?");
    EXPECT_EQ(port.shown[0].caption, "File");
    EXPECT_EQ(port.shown[0].buttons, MsgButtons::YesNo);

    doc->preference().monitor().outputFile = 7;  // any other value asks as well
    port.answers = {MsgAnswer::No};
    EXPECT_FALSE(doc->saveDecision());
    EXPECT_EQ(port.shown.size(), 3u);
}

TEST_F(DocumentSaving, DataFileIsWrittenFromResultRingsAndAnimalTexts) {
    AnimalTexts animal;
    animal.animalNo = "RAT-0042";
    doc->setAnimalTexts(animal);
    MeasurementResult r;
    r.sbp = 241;
    r.dateTime = "120315093045";
    doc->replaceResult(r);
    doc->pressureRing().fill(100);

    ASSERT_EQ(doc->writeDataFile(), 0);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.is_regular_file()) files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    std::ifstream in(files[0], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1056u);
    EXPECT_EQ(bytes.substr(16, 8), "RAT-0042");
    EXPECT_EQ(static_cast<unsigned char>(bytes[128]), 241u);  // SBP, half units, little-endian

    r.resultByte15 = 0;  // such a result is never written
    doc->replaceResult(r);
    EXPECT_EQ(doc->writeDataFile(), -1);
}

using DocumentDevices = DocumentFixture;

TEST_F(DocumentDevices, ListKeepsOrderAndDuplicatesAndRemovesEveryEntryOfAnId) {
    for (std::int16_t id : {1, 3, 1, 7}) doc->addDeviceId(id);
    EXPECT_EQ(doc->deviceIdCount(), 4);

    std::array<std::int16_t, 3> small{-1, -1, -1};
    EXPECT_EQ(doc->copyDeviceIds(small), 3u);
    EXPECT_EQ(small, (std::array<std::int16_t, 3>{1, 3, 1}));

    doc->removeDeviceId(1);
    EXPECT_EQ(doc->deviceIdCount(), 2);
    std::array<std::int16_t, 32> all;
    all.fill(-1);
    ASSERT_EQ(doc->copyDeviceIds(all), 2u);
    EXPECT_EQ(all[0], 3);
    EXPECT_EQ(all[1], 7);
    EXPECT_EQ(all[2], -1);

    doc->removeDeviceId(5);  // not listed
    EXPECT_EQ(doc->deviceIdCount(), 2);
    doc->clearDeviceIds();
    EXPECT_EQ(doc->deviceIdCount(), 0);
    EXPECT_TRUE(doc->deviceIds().empty());
}

using DocumentSettings = DocumentFixture;

TEST_F(DocumentSettings, MonitorDialogCancelChangesNothing) {
    const std::size_t writesBefore = store.writeLog().size();
    const int answer = doc->editMonitorSettings([](MonitorValues& values) {
        values.outputFile = 2;
        return false;
    });
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(doc->preference().monitor().outputFile, 1);
    EXPECT_EQ(store.writeLog().size(), writesBefore);
    EXPECT_EQ(doc->editMonitorSettings(nullptr), 0);
}

TEST_F(DocumentSettings, MonitorDialogOkStoresAndWritesTheGroup) {
    const int answer = doc->editMonitorSettings([](MonitorValues& values) {
        values.outputFile = 3;
        values.waveColor = 0x0000FF;
        return true;
    });
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(doc->preference().monitor().outputFile, 3);
    EXPECT_EQ(doc->waveColor(), 0x0000FF);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "outputFile", -1), 3);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "waveColor", -1), 0x0000FF);
}

TEST_F(DocumentSettings, FrameRectangleIsWritten) {
    doc->saveFrameRect(10, 20, 810, 620);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "frameLeft", -1), 10);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "frameTop", -1), 20);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "frameRight", -1), 810);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "frameBottom", -1), 620);
}

TEST_F(DocumentSettings, TimerAndTraceNeedsBothModes) {
    auto& monitor = doc->preference().monitor();
    EXPECT_FALSE(doc->timerAndTraceMode());
    monitor.timerMode = 1;
    EXPECT_FALSE(doc->timerAndTraceMode());
    monitor.traceMode = 1;
    EXPECT_TRUE(doc->timerAndTraceMode());
    monitor.timerMode = 0;
    EXPECT_FALSE(doc->timerAndTraceMode());
}

using DocumentSchedule = DocumentFixture;

TEST_F(DocumentSchedule, NextRecordingIsScheduledOnlyInTimerMode) {
    const std::int32_t entries[] = {60, 120, 0};
    doc->setScheduleEntries(entries);
    doc->stampScheduleTime();
    EXPECT_EQ(doc->scheduleNextRecording(), -1);  // timer mode off: nothing asked
    EXPECT_FALSE(doc->timerSchedule().started()) << "a Start outside timer mode begins no series";

    doc->preference().monitor().timerMode = 1;
    clock.now += 3600;
    doc->stampScheduleTime();
    EXPECT_EQ(doc->scheduleNextRecording(), 60);
    EXPECT_FALSE(doc->recordingDue());
    clock.now += 60;
    EXPECT_TRUE(doc->recordingDue());
    EXPECT_EQ(doc->scheduleNextRecording(), 120);
    clock.now += 120;
    EXPECT_EQ(doc->scheduleNextRecording(), 0);  // the list is used up
    EXPECT_FALSE(doc->timerSchedule().started());
    EXPECT_EQ(doc->timerSchedule().startTime(), CTimerSchedule::noStartTime());
}

TEST_F(DocumentSchedule, StampKeepsTheStartOfARunningSeries) {
    doc->preference().monitor().timerMode = 1;
    doc->stampScheduleTime();
    const std::time_t start = clock.now;
    clock.now += 500;
    doc->stampScheduleTime();
    EXPECT_EQ(doc->timerSchedule().startTime(), start);
}

TEST_F(DocumentSchedule, DialogEntriesTravelThroughATimerFile) {
    const std::string path = dir.folder() + "plan.tm";
    const std::int32_t entries[] = {60, 120, -300};
    EXPECT_EQ(doc->setScheduleEntriesAndWrite(entries, path), 0);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "60\n120\n-300\n");

    const std::int32_t other[] = {5, 0};
    doc->setScheduleEntries(other);
    std::array<std::int32_t, 100> out{};
    std::size_t count = 0;
    EXPECT_EQ(doc->readScheduleEntries(path, out, count), 0);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(out[0], 60);
    EXPECT_EQ(out[1], 120);
    EXPECT_EQ(out[2], -300);
    EXPECT_EQ(doc->scheduleEntries(out), 3u);

    EXPECT_EQ(doc->readScheduleEntries(dir.folder() + "missing.tm", out, count), 1);
    EXPECT_EQ(count, 3u);  // the old schedule stays
}

}  // namespace
}  // namespace hx
