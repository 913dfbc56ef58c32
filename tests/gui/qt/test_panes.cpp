// The four panes drawn into pictures: the geometry, colours and texts the
// window has always shown.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QStyle>

#include "GuiTestSupport.h"
#include "analysis/OscillometricAnalysis.h"
#include "gui/views/CHistoryView.h"
#include "gui/views/CInformationView.h"
#include "gui/views/CResultView.h"
#include "gui/views/CWaveView.h"

namespace hx::test {
namespace {

const QColor kWhite(255, 255, 255);
const QColor kGrey(0x80, 0x80, 0x80);  // default pressure colour
const QColor kBlue(0, 0, 255);         // default wave colour
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

class WavePane : public ::testing::Test {
  protected:
    void SetUp() override {
        view.attach(&d.doc);
        view.resize(1000, 400);  // pressure baseline 200, wave baseline 333
        view.show();
    }
    // A batch of pressure samples as the decoding stores it.
    void batch(int start, int count, std::int16_t pressure) {
        for (int i = 0; i < count; ++i)
            d.doc.pressureRing()[static_cast<std::size_t>((start + i) % 4000)] = pressure;
        d.doc.setBatchStartIndex(start);
        d.doc.setBatchCount(count);
        view.drawBatch();
    }
    QColor at(int x, int y) const { return view.picture().pixelColor(x, y); }

    PaneDocument d;
    CWaveView view;
};

TEST_F(WavePane, FullScalePressureTouchesTopAndBottomEdges) {
    ASSERT_EQ(view.pressureBaseline(), 200);
    batch(0, 10, 800);
    batch(10, 10, -800);
    EXPECT_EQ(at(2, 0), kGrey);    // 800 on the top edge
    EXPECT_EQ(at(8, 399), kGrey);  // -800 on the bottom edge
    EXPECT_EQ(at(2, 1), kWhite);
}

TEST_F(WavePane, BatchAcrossTheRightEdgeIsSplitAndClearsOnlyTheLeftStrip) {
    for (int start = 0; start < 1995; start += 15) batch(start, 15, 400);  // first sweep at y = 100
    ASSERT_EQ(at(20, 100), kGrey);
    batch(1995, 15,
          -400);  // y = 200 + 99 (truncation toward zero); 5 samples to the edge, the rest from the left
    EXPECT_EQ(at(998, 299), kGrey) << "the part up to the right edge is drawn";
    EXPECT_EQ(at(15, 100), kWhite) << "the old sweep is erased from 0 to 16 pixels";
    EXPECT_EQ(at(20, 100), kGrey) << "and kept beyond the strip";
    EXPECT_EQ(at(2, 299), kGrey);
    EXPECT_EQ(view.sweepCursor(), 10);  // slot x holds sample x - 1: the join sits on the batch start
}

TEST_F(WavePane, RepaintAfterResetIsPlainBackgroundAndDrawModeStopsDrawing) {
    for (int start = 0; start < 600; start += 15) batch(start, 15, 300);
    view.resetSweep();
    view.repaintFromSlots();
    EXPECT_EQ(countColour(view.picture(), view.rect(), kWhite), 1000 * 400);

    d.doc.setDrawMode(1);
    batch(0, 15, 300);
    view.repaintFromSlots();
    EXPECT_EQ(countColour(view.picture(), view.rect(), kWhite), 1000 * 400);
}

TEST_F(WavePane, RepaintRedrawsTheSweepFromTheSlots) {
    for (int start = 0; start < 600; start += 15) batch(start, 15, 400);
    const QImage live = view.picture().copy(0, 0, 290, 400);
    view.repaintFromSlots();
    EXPECT_EQ(view.picture().copy(0, 0, 290, 400), live);
    EXPECT_EQ(countColour(view.picture(), QRect(320, 0, 680, 400), kGrey), 0);
}

class ResultPane : public ::testing::Test {
  protected:
    void SetUp() override {
        view.attach(&d.doc);
        view.resize(600, 400);
        view.show();
        MeasurementResult r;
        r.pulseMarks[0] = 1000;
        r.pulseMarks[1] = 1500;
        r.firstMarker = 1200;
        r.secondMarker = 2400;
        d.doc.replaceResult(r);
        d.doc.pressureRing().fill(70);  // a flat pressure trace at y = 180, off the ticks
        d.doc.freezeRings();
    }
    PaneDocument d;
    CResultView view;
    COscillometricAnalysis analysis;
};

TEST_F(ResultPane, PressureTicksEveryFiftyPixelsOnAPaneOf400) {
    view.analysed(analysis);
    ASSERT_EQ(view.pressureBaseline(), 200);
    ASSERT_EQ(view.waveBaseline(), 350);
    const QColor black(0, 0, 0);
    for (int y : {200, 150, 100, 50, 0}) EXPECT_EQ(view.picture().pixelColor(5, y), black) << y;
    EXPECT_EQ(view.picture().pixelColor(5, 175), kWhite);
    EXPECT_EQ(view.picture().pixelColor(11, 150), kWhite);
    EXPECT_EQ(view.picture().pixelColor(300, 180), kGrey);

    // Before: black ticks on a black background could not be seen.
    d.doc.preference().monitor().backColor = 0;
    view.newPens();
    for (int y : {200, 150, 100, 50, 0}) EXPECT_EQ(view.picture().pixelColor(5, y), kWhite) << y;
}

TEST_F(ResultPane, MarksAndMarkersOnlyForAValidResult) {
    view.analysed(analysis);
    const int xMark = 600 * 1000 / 4200;
    EXPECT_EQ(view.picture().pixelColor(xMark, 5), kGreen);
    EXPECT_EQ(view.picture().pixelColor(600 * 1200 / 4200, 350), kRed);
    EXPECT_EQ(view.picture().pixelColor(600 * 2400 / 4200, 390), kGreen);

    MeasurementResult failed = d.doc.result();
    failed.errorCode = 5;
    d.doc.replaceResult(failed);
    view.redraw();
    EXPECT_EQ(countColour(view.picture(), view.rect(), kGreen), 0);
    EXPECT_EQ(countColour(view.picture(), view.rect(), kRed), 0);
    EXPECT_GT(countColour(view.picture(), view.rect(), kGrey), 500);
}

class InformationPane : public ::testing::Test {
  protected:
    void SetUp() override {
        view.attach(&d.doc);
        view.resize(CInformationView::kWidth, CInformationView::kHeight);
        MeasurementResult r;
        r.hr = 380;
        r.sbp = 250;
        r.mbp = 200;
        r.dbp = 170;
        r.dateTime = "120315093045";
        d.doc.replaceResult(r);
    }
    QImage row(int i) const {
        const int L = view.rowStep();
        return view.picture().copy(0, 8 + i * L, CInformationView::kWidth, L);
    }
    int redIn(int i) const { return countColour(row(i), row(i).rect(), kRed); }
    void repaint(int unitState) {
        view.setUnitState(unitState);
        view.repaintLayout();
    }

    PaneDocument d;
    CInformationView view;
};

TEST_F(InformationPane, FontIsCourierNewOrItsMetricTwin) {
    const QString family = QFontInfo(view.largeFont()).family();
    EXPECT_TRUE(family == "Courier New" || family == "Liberation Mono") << family.toStdString();
    const int h = QFontMetrics(view.largeFont()).height() + QFontMetrics(view.largeFont()).leading();
    EXPECT_EQ(view.rowStep(), h + h / 4);
}

TEST_F(InformationPane, LayoutsFollowTheUnitState) {
    repaint(-1);  // idle: HR 0 in red, three placeholders
    const QImage idleRows[4] = {row(0), row(1), row(2), row(3)};
    EXPECT_GT(redIn(0), 0);

    repaint(5);  // valid result, MBP/DBP hidden: SBP shown, the others stay placeholders
    EXPECT_GT(redIn(0), 0);
    EXPECT_NE(row(1), idleRows[1]);
    EXPECT_EQ(row(2), idleRows[2]);
    EXPECT_EQ(row(3), idleRows[3]);

    d.doc.setShowMbpDbp(true);
    repaint(5);
    EXPECT_NE(row(2), idleRows[2]);

    MeasurementResult failed = d.doc.result();
    failed.errorCode = 16;  // "Lo" in black instead of the heart rate; pressures hidden although stored
    d.doc.replaceResult(failed);
    repaint(5);
    EXPECT_EQ(redIn(0), 0);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(row(i), idleRows[i]) << i;

    repaint(4);  // record: rows 2 and 3 stay empty
    const QColor grey(240, 240, 240);
    for (int i = 2; i <= 3; ++i)
        EXPECT_EQ(countColour(row(i), row(i).rect(), grey), row(i).width() * row(i).height());
}

TEST_F(InformationPane, LiveHeartRateShowsErrWhileRecordingWithTheErrorFlag) {
    repaint(2);
    d.doc.setErrorFlag(1);
    view.liveHeartRate(120, kStateRecord);
    EXPECT_EQ(redIn(0), 0);
    view.liveHeartRate(120, kStateView);
    EXPECT_GT(redIn(0), 0);
}

TEST_F(InformationPane, ASavedRecordingKeepsThePaneFromTheLiveCalls) {
    repaint(2);
    const QImage live = view.picture();
    MeasurementResult stored = d.doc.result();
    stored.sbp = 300;
    const RecordingView saved{d.doc.resultPressureRing(),
                              d.doc.resultWaveRing(),
                              stored,
                              nullptr,
                              0,
                              {"12/03/15 09:30:45", "No 7  S1"},
                              true};
    view.showSaved(&saved);  // no heart rate kept: "---" in black, the file's SBP, no sense row
    const QImage shown = view.picture();
    EXPECT_EQ(redIn(0), 0);
    EXPECT_NE(row(1), live.copy(0, 8 + view.rowStep(), CInformationView::kWidth, view.rowStep()));
    view.liveHeartRate(120, kStateView);
    view.sensorLevel(3);
    view.pressure(90);
    EXPECT_EQ(view.picture(), shown);
    repaint(4);  // nor does the unit's state change its layout
    EXPECT_EQ(view.picture(), shown);
    view.showSaved(nullptr);
    EXPECT_GT(redIn(0), 0);
}

TEST(HistoryPane, RowsBlankWhatTheResultDoesNotShow) {
    ensureApplication();
    CHistoryView view;
    view.addRow({5, 380, 125, 100, 85, "120315093045"}, 16, true);
    view.addRow({6, -1, 125, 100, 85, "120315093145"}, 0, false);
    view.addRow({7, 380, 125, 100, 85, "120315093245"}, 0, true);
    const CHistoryModel& rows = view.rows();
    auto cell = [&](int r, int c) {
        return rows.data(rows.index(r, c), Qt::DisplayRole).toString().toStdString();
    };
    EXPECT_EQ(cell(0, 0), "5");
    EXPECT_EQ(cell(0, 1), "380");
    EXPECT_EQ(cell(0, 2), "---");
    EXPECT_EQ(cell(0, 4), "---");
    EXPECT_EQ(cell(1, 1), "4294967295");
    EXPECT_EQ(cell(1, 2), "125");
    EXPECT_EQ(cell(1, 3), "---");
    EXPECT_EQ(cell(2, 4), "85");
    EXPECT_EQ(cell(0, 5), "09:30:45");
    EXPECT_EQ(rows.headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), "Time  ");
    EXPECT_EQ(rows.data(rows.index(0, 3), Qt::ToolTipRole).toString(), "2012/03/15 09:30:45");

    // Before: the columns took 242 px of the 192-px pane and hid the time.
    view.resize(CHistoryView::kWidth, 300);
    view.show();
    int right = 0;
    for (int c = 0; c < CHistoryModel::kColumns; ++c) right += view.columnWidth(c);
    EXPECT_LE(right, view.viewport()->width());
    // Numbers and the time whole, clear of the cell's margins (never "..." or "13:03:...").
    const int margins = 2 * (view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1);
    for (int c : {1, 2, 5})
        EXPECT_GT(view.columnWidth(c),
                  view.fontMetrics().horizontalAdvance(c == 5 ? "09:30:45" : "999") + margins)
            << c;
}

}  // namespace
}  // namespace hx::test
