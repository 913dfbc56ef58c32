// Several units at once. In real time (the Qt loop): what a fault in one
// channel costs the others. Four simulated units stream and measure; one of
// them is pulled and plugged back, then made to fail its reads, while the
// longest gap between the wave batches the other three channels draw is
// taken (ms; a unit sends a wave packet every few tens of ms). In virtual
// time: 16 units measuring at once, results per second of real time.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include "app/VirtualClock.h"
#include "control/ChannelSet.h"
#include "control/VirtualEventLoop.h"
#include "platform/QtEventLoop.h"
#include "settings/ProfileStore.h"
#include "sim/SimDriver.h"
#include "support/SimulatedPorts.h"

namespace {

using namespace hx;

// Answers every dialog at once and keeps the times of the wave batches.
class TimingUi final : public IUiPort, public IWavePane, public IDialogs {
  public:
    TimingUi(IEventLoop& loop, std::int64_t& maxGapMs) : m_loop(loop), m_maxGapMs(maxGapMs) {}
    IWavePane& wavePane() override { return *this; }
    IDialogs& dialogs() override { return *this; }
    void drawBatch() override {
        const std::int64_t now = m_loop.clock().nowMs();  // real or virtual, as the loop runs
        // Only gaps within one stretch of streaming count (a result holds the sweep).
        if (!streaming || !streaming()) {
            m_last = -1;
            return;
        }
        if (m_last >= 0 && measuring) m_maxGapMs = std::max(m_maxGapMs, now - m_last);
        m_last = now;
    }
    std::function<bool()> streaming;
    void resultHandled(const HistoryRow&, int, bool, const std::string&) override { ++results; }
    MsgAnswer messageBox(const std::string&, const std::string&, MsgIcon, MsgButtons) override {
        return MsgAnswer::Yes;
    }
    std::optional<std::string> saveFileDialog(const std::string& path, const std::string&) override {
        return path;
    }
    std::optional<int> chooseDeviceId(const std::vector<std::int16_t>&) override { return std::nullopt; }
    bool runAnimalDialog(AnimalDialogModel&) override { return true; }
    void endAnimalDialog() override {}
    bool runMenuDialog(MenuSettings&) override { return false; }
    void runClockDialog(ClockDialogModel&) override {}
    void endClockDialog() override {}
    bool runMonitorDialog(MonitorValues&) override { return false; }
    bool runTimerDialog(CTimerSchedule&, std::vector<std::int32_t>&) override { return false; }

    int results = 0;
    bool measuring = false;  // gaps count only while set (not across the rig's own pauses)
    void forgetLast() { m_last = -1; }

  private:
    IEventLoop& m_loop;
    std::int64_t& m_maxGapMs;
    std::int64_t m_last = -1;
};

struct Rig {
    // realTime: the Qt loop and the system clock; else virtual time.
    Rig(int units, bool realTime)
        : unitClock(realTime ? static_cast<IClock&>(CSystemClock::instance()) : clock),
          sim(unitClock),
          loop(realTime ? std::unique_ptr<IEventLoop>(std::make_unique<CQtEventLoop>())
                        : std::make_unique<CVirtualEventLoop>(clock)) {
        folder = "/tmp/hx40k-bench-channels-" + std::to_string(::getpid()) + "/";
        profile.writeText("HalnorEWU_1", "dataFolder", folder);
        ports = test::simulatedPorts(*loop, profile, sim, unitClock, folder);
        for (int id = 0; id < units; ++id) {
            SimUnitOptions o;
            o.adjustMs = 1000;
            o.seed = 7 + static_cast<std::uint32_t>(id);
            sim.addUnit(id, o);
        }
        hooks.makeUi = [this](CChannel& c) {
            auto ui = std::make_unique<TimingUi>(c.loop(), maxGap[c.deviceId()]);
            uis[c.deviceId()] = ui.get();
            return ui;
        };
        hooks.started = [this](CChannel& c) {
            uis[c.deviceId()]->streaming = [&c] {
                const UnitState s = c.controller().unitState();
                return c.controller().setUpComplete() &&
                       (s == kStateView || s == kStatePress || s == kStateRecord);
            };
        };
        set = std::make_unique<CChannelSet>(ports, hooks);
        set->startUp();
    }
    ~Rig() {
        set->shutDown();
        std::string command = "rm -rf '" + folder + "'";
        [[maybe_unused]] int ignored = std::system(command.c_str());
    }
    // Keeps every connected channel measuring for ms of virtual time.
    void measureFor(std::int64_t ms) {
        for (std::int64_t t = 0; t < ms; t += 250) {
            for (std::size_t i = 0; i < set->size(); ++i) {
                CMainController& c = set->at(i).controller();
                const int id = set->at(i).deviceId();
                if (c.readyForMeasurement() && uis[id]->results >= awaited[id]) {
                    c.command(kCmdStart);
                    awaited[id] = uis[id]->results + 1;
                } else if (!c.connected()) {
                    awaited[id] = uis[id]->results;
                } else if (c.setUpComplete() && c.unitState() == kStateResult &&
                           c.commandEnabled(kCmdStart)) {
                    c.command(kCmdStart);
                }
            }
            runFor(250);
        }
    }
    void runFor(std::int64_t ms) {
        if (auto* virtualLoop = dynamic_cast<CVirtualEventLoop*>(loop.get())) {
            virtualLoop->runFor(ms);
            return;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    void setMeasuring(bool on) {
        for (auto& [id, ui] : uis) {
            ui->measuring = on;
            ui->forgetLast();
        }
    }

    std::string folder;
    CVirtualClock clock;
    IClock& unitClock;
    CSimDriver sim;
    std::unique_ptr<IEventLoop> loop;
    CMemoryProfileStore profile;
    ChannelSetPorts ports;
    ChannelHooks hooks;
    std::map<int, TimingUi*> uis;
    std::map<int, std::int64_t> maxGap;
    std::map<int, int> awaited;
    std::unique_ptr<CChannelSet> set;
};

// Longest gap between wave batches of the three healthy channels, without
// a fault and while channel 3 is pulled, plugged back and fails its reads.
void BM_FaultStaysInItsChannel(benchmark::State& state) {
    for (auto _ : state) {
        int argc = 1;
        char name[] = "bench_channels";
        char* argv[] = {name, nullptr};
        QCoreApplication application(argc, argv);
        Rig rig(4, true);
        rig.measureFor(8000);  // connected and measuring
        rig.setMeasuring(true);
        rig.measureFor(40000);
        std::int64_t calm = 0;
        for (int id : {0, 1, 3}) calm = std::max(calm, rig.maxGap[id]);
        for (auto& [id, gap] : rig.maxGap) gap = 0;

        CSimUnit& faulty = *rig.sim.unitById(2);
        auto phase = [&](const char* what) {
            std::int64_t gap = 0;
            for (int id : {0, 1, 3}) gap = std::max(gap, rig.maxGap[id]);
            std::fprintf(stderr, "  healthy channels' longest gap so far, after %s: %lld ms\n", what,
                         static_cast<long long>(gap));
        };
        rig.sim.unplug(faulty);
        rig.measureFor(5000);
        phase("unplug");
        rig.sim.replug(faulty);
        rig.measureFor(15000);
        phase("replug");
        faulty.injectReadError(false);
        rig.measureFor(15000);
        phase("readerror");
        faulty.clearFaults();
        rig.measureFor(5000);
        phase("clear");
        std::int64_t faulted = 0;
        for (int id : {0, 1, 3}) faulted = std::max(faulted, rig.maxGap[id]);
        state.counters["calm_max_gap_ms"] = static_cast<double>(calm);
        state.counters["fault_max_gap_ms"] = static_cast<double>(faulted);
        state.counters["results_healthy"] = rig.uis[0]->results + rig.uis[1]->results + rig.uis[3]->results;
        state.counters["results_faulty"] = rig.uis[2]->results;
    }
}
BENCHMARK(BM_FaultStaysInItsChannel)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Whole measurements of 16 channels at once, per second of real time.
void BM_SixteenChannelsMeasure(benchmark::State& state) {
    for (auto _ : state) {
        Rig rig(16, false);
        rig.measureFor(120000);
        int results = 0;
        for (auto& [id, ui] : rig.uis) results += ui->results;
        state.counters["results"] = results;
        state.counters["results_per_s"] = benchmark::Counter(results, benchmark::Counter::kIsRate);
    }
}
BENCHMARK(BM_SixteenChannelsMeasure)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
