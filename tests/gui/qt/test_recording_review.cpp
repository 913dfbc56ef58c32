// Reviewing saved recordings in the main window: files the simulated unit
// wrote, stepped through by time, while the unit stays connected and the live
// document keeps its own result.

#include <gtest/gtest.h>

#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "WindowTestRig.h"
#include "data/DataFileReader.h"
#include "gui/views/CHistoryView.h"
#include "gui/views/CResultView.h"
#include "gui/views/CWaveView.h"
#include "review/CRecordingReview.h"
#include "session/ResultsLog.h"
#include "study/ReviewLog.h"

namespace hx::test {
namespace {

class RecordingReview : public WindowTest {
  protected:
    void press(QWidget& pane, Qt::Key key) {
        QTest::keyClick(&pane, key);
        QCoreApplication::processEvents();
        rig.runFor(100);
    }
    // One measurement to its result; returns the data file it wrote.
    std::string measure() {
        press(frame->wavePane(), Qt::Key_Return);
        EXPECT_TRUE(rig.runUntil([&] { return frame->historyPane().rows().rowCount() == 1; }, 180000));
        return rig.controller().lastDataFile();
    }
    std::string reviewed() const { return frame->review() ? frame->review()->path() : std::string(); }
};

TEST_F(RecordingReview, StepsThroughTheFolderByTimeLeavesTheLiveResultAndEnds) {
    rig.addUnit(0);
    startWindow(1280, 800);
    ASSERT_TRUE(rig.waitReady());
    namespace fs = std::filesystem;
    // The unit's file and a copy written a minute later (named to sort before
    // it: the order is by time, not by name).
    std::vector<std::string> files{measure()};
    ASSERT_FALSE(files[0].empty());
    const fs::path folder = fs::path(files[0]).parent_path();
    files.push_back((folder / "A_later.001").string());
    fs::copy_file(files[0], files[1]);
    fs::last_write_time(files[1], fs::last_write_time(files[0]) + std::chrono::minutes(1));
    // A damaged copy (cut short) and a foreign file in the same folder.
    const std::string damaged = (folder / "B99999999.000").string();
    std::filesystem::copy_file(files[0], damaged);
    std::filesystem::resize_file(damaged, std::filesystem::file_size(damaged) - 7);
    std::ofstream(folder / "notes.txt") << "not a recording\n";

    const MeasurementResult live = rig.doc().result();
    const Ring liveWave = rig.doc().resultWaveRing();
    frame->setGeneralPane("live text");

    // A damaged file is refused with the reader's reason and changes nothing.
    EXPECT_FALSE(frame->openRecording(damaged).empty());
    EXPECT_EQ(frame->review(), nullptr);
    EXPECT_EQ(frame->statusPane(0).text(), "live text");

    ASSERT_EQ(frame->openRecording(files[0]), "");
    const std::string name = std::filesystem::path(files[0]).filename().string();
    EXPECT_EQ(frame->statusPane(0).text().toStdString(), "Review: " + name + " (accepted)");
    // Rejected by hand, as in the session window: one row in review-log.csv.
    ASSERT_EQ(frame->changeReviewVerdict("cuff slipped"), "");
    EXPECT_EQ(frame->statusPane(0).text().toStdString(),
              "Review: " + name + " (rejected by hand: cuff slipped)");
    std::string reason;
    const auto changes = readReviewLog(folder.string() + "/", reason);
    ASSERT_TRUE(changes) << reason;
    ASSERT_EQ(changes->changes.size(), 1u);
    EXPECT_EQ(changes->changes[0].cycle.dataFile, name);
    EXPECT_FALSE(changes->changes[0].newAccepted);
    const DataFileParse first = readDataFile(files[0]);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(frame->review()->result().sbp, first.contents.sbp);
    EXPECT_EQ(frame->review()->waveRing(), first.contents.wave);
    EXPECT_TRUE(frame->resultPane().isVisible());
    EXPECT_TRUE(frame->review()->analysis().hasCurve());
    // The documentation's picture of a review, when asked for.
    if (const char* picture = std::getenv("HX40K_REVIEW_PICTURE"))
        frame->grab().save(QString::fromLocal8Bit(picture));

    // Page Down passes over the damaged and the foreign file; at the end it stays.
    press(frame->resultPane(), Qt::Key_PageDown);
    EXPECT_EQ(reviewed(), files[1]);
    EXPECT_NE(frame->changeReviewVerdict("movement"), "");  // a copy the results log does not name
    press(frame->resultPane(), Qt::Key_PageDown);
    EXPECT_EQ(reviewed(), files[1]);
    press(frame->resultPane(), Qt::Key_PageUp);
    EXPECT_EQ(reviewed(), files[0]);
    EXPECT_FALSE(frame->openRecording(damaged).empty());
    EXPECT_EQ(reviewed(), files[0]);

    // While the review is open, a verdict changed in the session window and a
    // recording saved (its data file and its row in the results log) show at
    // the next steps.
    ReviewChange undo = changes->changes[0];
    undo.oldAccepted = false;
    undo.newAccepted = true;
    undo.reason = "reading is sound";
    undo.time.clear();
    ASSERT_EQ(appendReviewChange(folder.string() + "/", undo), "");
    auto log = readResultsLog(resultsLogPath(folder.string()), reason);
    ASSERT_TRUE(log && !log->rows.empty()) << reason;
    ResultsLogRow row = log->rows.back();
    row.dataFile = "C_saved.001";
    row.n = "2";
    const std::string saved = (folder / row.dataFile).string();
    fs::copy_file(files[0], saved);
    fs::last_write_time(saved, fs::last_write_time(files[0]) + std::chrono::minutes(2));
    ASSERT_EQ(appendResultsLog(folder.string(), row), "");
    press(frame->resultPane(), Qt::Key_PageDown);
    press(frame->resultPane(), Qt::Key_PageDown);
    EXPECT_EQ(reviewed(), saved);
    EXPECT_EQ(frame->statusPane(0).text().toStdString(), "Review: C_saved.001 (accepted)");
    press(frame->resultPane(), Qt::Key_PageUp);
    press(frame->resultPane(), Qt::Key_PageUp);
    EXPECT_EQ(reviewed(), files[0]);
    EXPECT_EQ(frame->statusPane(0).text().toStdString(), "Review: " + name + " (accepted by hand)");

    // The live document kept its result and the unit its connection.
    EXPECT_EQ(rig.doc().result().sbp, live.sbp);
    EXPECT_EQ(rig.doc().result().dateTime, live.dateTime);
    EXPECT_EQ(rig.doc().resultWaveRing(), liveWave);
    EXPECT_TRUE(rig.controller().connected());

    frame->setGeneralPane("live while reviewing");
    press(frame->resultPane(), Qt::Key_Escape);
    EXPECT_EQ(frame->review(), nullptr);
    EXPECT_EQ(frame->statusPane(0).text(), "live while reviewing");

    // The next live result takes the panes back from a review.
    ASSERT_EQ(frame->openRecording(files[1]), "");
    frame->uiPort().resultHandled(HistoryRow{}, 0, true, files[0]);
    EXPECT_EQ(frame->review(), nullptr);
    EXPECT_EQ(frame->layoutMode(), kLayoutGraph);
    EXPECT_TRUE(frame->resultPane().isVisible());
}

}  // namespace
}  // namespace hx::test
