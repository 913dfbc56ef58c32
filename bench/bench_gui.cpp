// The window's drawing on the UI thread, for a window of 1280 x 800 (main
// pane 1088 x 716): per wave packet (decoding, drawing into the kept picture,
// showing the touched strip) and a full repaint of each pane. Runs offscreen.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <memory>

#include "../tests/support/SyntheticPulseWave.h"
#include "analysis/OscillometricAnalysis.h"
#include "app/Application.h"
#include "data/Halnor55KUDoc.h"
#include "gui/views/CHistoryView.h"
#include "gui/views/CInformationView.h"
#include "gui/views/CResultView.h"
#include "gui/views/CWaveView.h"
#include "protocol/RecordDecoding.h"
#include "settings/ProfileStore.h"
#include "support/SilentMessagePort.h"

namespace {

using namespace hx;

constexpr int kMainWidth = 1088;
constexpr int kMainHeight = 716;
constexpr int kPairsPerPacket = 14;

using SilentPort = hx::test::SilentMessagePort;

struct Document {
    CHalnor40KUApp app;
    CMemoryProfileStore store;
    SilentPort port;
    CHalnor55KUDoc doc{app, store, port, std::filesystem::temp_directory_path().string() + "/"};
};

// A wave packet of the running sweep starting at ring index `index`.
void handOver(CHalnor55KUDoc& doc, int index) {
    std::array<std::uint8_t, kMaxRecordSize> packet{};
    packet[0] = kRecordWavePacket;
    packet[1] = kPairsPerPacket;
    packet[2] = static_cast<std::uint8_t>(index >> 8);
    packet[3] = static_cast<std::uint8_t>(index);
    packet[5] = 120;
    packet[7] = 3;
    for (int k = 0; k < kPairsPerPacket; ++k) {
        const double t = (index + k) * 0.06;
        const auto pressure = static_cast<std::uint16_t>(300 - (index + k) / 20);
        const auto wave = static_cast<std::uint16_t>(static_cast<int>(300 * std::sin(t)) & 0x0FFF);
        packet[static_cast<std::size_t>(8 + 4 * k)] = static_cast<std::uint8_t>(pressure >> 8);
        packet[static_cast<std::size_t>(9 + 4 * k)] = static_cast<std::uint8_t>(pressure);
        packet[static_cast<std::size_t>(10 + 4 * k)] = static_cast<std::uint8_t>(wave >> 8);
        packet[static_cast<std::size_t>(11 + 4 * k)] = static_cast<std::uint8_t>(wave);
    }
    std::copy(packet.begin(), packet.end(), doc.waveArea());
}

// The UI thread's work for one packet: decoding, drawing into the kept picture and asking for the
// touched strip to be shown; with `paint`, also the strip painted on the screen for every packet, the
// most a packet can cost (the pane paints at most 50 strips a second).
void runWavePackets(benchmark::State& state, bool paint) {
    Document d;
    CWaveView view;
    view.attach(&d.doc);
    view.resize(kMainWidth, kMainHeight);
    view.show();
    QApplication::processEvents();
    int index = 0;
    for (auto _ : state) {
        handOver(d.doc, index);
        decodeWavePacket(d.doc);
        view.drawBatch();
        view.flushPending();
        if (paint) QApplication::processEvents();
        index = (index + kPairsPerPacket) % static_cast<int>(kRingSize);
    }
    state.counters["packets"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_WavePacket(benchmark::State& state) { runWavePackets(state, false); }
BENCHMARK(BM_WavePacket)->Unit(benchmark::kMicrosecond);

void BM_WavePacketPainted(benchmark::State& state) { runWavePackets(state, true); }
BENCHMARK(BM_WavePacketPainted)->Unit(benchmark::kMicrosecond);

void BM_WaveFullRepaint(benchmark::State& state) {
    Document d;
    CWaveView view;
    view.attach(&d.doc);
    view.resize(kMainWidth, kMainHeight);
    view.show();
    for (int index = 0; index < 2 * static_cast<int>(kRingSize); index += kPairsPerPacket) {
        handOver(d.doc, index % static_cast<int>(kRingSize));
        decodeWavePacket(d.doc);
        view.drawBatch();
    }
    for (auto _ : state) {
        view.repaintFromSlots();
        view.QWidget::repaint();
    }
}
BENCHMARK(BM_WaveFullRepaint)->Unit(benchmark::kMicrosecond);

void BM_ResultFullRepaint(benchmark::State& state) {
    Document d;
    const auto recording = hx::test::makeSyntheticRecording({});
    d.doc.pressureRing() = recording.pressure;
    d.doc.waveRing() = recording.wave;
    d.doc.freezeRings();
    MeasurementResult result;
    for (std::size_t i = 0; i < 40; ++i) result.pulseMarks[i] = static_cast<std::int16_t>(400 + 80 * i);
    result.firstMarker = 1200;
    result.secondMarker = 2800;
    d.doc.replaceResult(result);
    auto analysis = std::make_unique<COscillometricAnalysis>();
    analysis->analyse(d.doc.resultPressureRing(), d.doc.resultWaveRing(), 0);
    CResultView view;
    view.attach(&d.doc);
    view.resize(kMainWidth, kMainHeight);
    view.show();
    view.analysed(*analysis);
    for (auto _ : state) {
        view.redraw();
        view.QWidget::repaint();
    }
    state.counters["curve"] = analysis->hasCurve() ? 1 : 0;
}
BENCHMARK(BM_ResultFullRepaint)->Unit(benchmark::kMicrosecond);

void BM_InformationFullRepaint(benchmark::State& state) {
    Document d;
    CInformationView view;
    view.attach(&d.doc);
    view.setUnitState(kStateResult);
    view.resize(CInformationView::kWidth, CInformationView::kHeight);
    view.show();
    for (auto _ : state) {
        view.repaintLayout();
        view.QWidget::repaint();
    }
}
BENCHMARK(BM_InformationFullRepaint)->Unit(benchmark::kMicrosecond);

// A long session: 5000 rows, the view at the newest.
void BM_HistoryFullRepaint(benchmark::State& state) {
    CHistoryView view;
    view.resize(CHistoryView::kWidth, kMainHeight - CInformationView::kHeight);
    view.show();
    for (int n = 1; n <= 5000; ++n) view.addRow({n, 100, 140, 105, 85, "120315093045"}, 0, true);
    QPixmap target(view.viewport()->size());
    for (auto _ : state) view.viewport()->render(&target);
}
BENCHMARK(BM_HistoryFullRepaint)->Unit(benchmark::kMicrosecond);

void BM_HistoryAddRow(benchmark::State& state) {
    CHistoryView view;
    view.resize(CHistoryView::kWidth, kMainHeight - CInformationView::kHeight);
    view.show();
    int n = 0;
    for (; n < state.range(0); ++n) view.addRow({n + 1, 100, 140, 105, 85, "120315093045"}, 0, true);
    for (auto _ : state) view.addRow({++n, 100, 140, 105, 85, "120315093045"}, 0, true);
}
// Appending and scrolling to the newest row, with few and with many rows before.
BENCHMARK(BM_HistoryAddRow)->Arg(10)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

// The application lives in main's frame, so it ends before the exit handlers
// run; one in a function's static would be torn down after Qt's own statics.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
