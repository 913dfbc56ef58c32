// The window of several units, measured and pictured (a harness with its own
// main; it prints figures and asserts nothing).
//
//   bench_channels_window figures UNITS SECONDS
//     UNITS simulated units streaming in real time in one window (the Qt
//     loop); after 10 s of settling, over SECONDS: CPU of the whole program
//     (all threads) in % of one core, resident memory now and at its peak,
//     paint events per wave pane per second (the busiest pane, the selected
//     channel's and the tiles'), and a full repaint of the window (median of
//     20). Dialogs the program opens are cancelled at once.
//   bench_channels_window picture UNITS FILE
//     In virtual time: the last unit pulled (Not Connected), the others in
//     turn to a result, mid-recording and pressing (the rest left streaming);
//     the window (1280 x 800) saved as PNG.
//
// Run it under Xvfb for figures of a real display; without DISPLAY it uses the
// offscreen platform.

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/VirtualClock.h"
#include "control/ChannelSet.h"
#include "control/MainController.h"
#include "control/VirtualEventLoop.h"
#include "gui/CMainFrame.h"
#include "gui/channels/CChannelTile.h"
#include "gui/channels/CChannelsWindow.h"
#include "gui/views/CWaveView.h"
#include "platform/QtEventLoop.h"
#include "settings/ProfileStore.h"
#include "sim/SimDriver.h"
#include "support/SimulatedPorts.h"

namespace {

using namespace hx;

// Closes every dialog the program opens (the set-up's Animal ID question and others).
class DialogCloser {
  public:
    explicit DialogCloser(bool tell) {
        QObject::connect(&m_timer, &QTimer::timeout, [tell] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            if (tell) std::fprintf(stderr, "closed the dialog \"%s\"\n", qPrintable(modal->windowTitle()));
            modal->close();
        });
        m_timer.start(50);
    }

  private:
    QTimer m_timer;
};

// Counts the paint events of each watched pane.
class PaintCounter final : public QObject {
  public:
    void watch(QWidget* pane) {
        pane->installEventFilter(this);
        counts[pane] = 0;
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++counts[watched];
        return false;
    }
    std::map<QObject*, long> counts;
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// "VmRSS" or "VmHWM" of this process in MB.
double memoryMb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0) return std::atof(line.c_str() + key.size() + 1) / 1024.0;
    return 0;
}

struct Setup {
    explicit Setup(IClock& unitClock, IEventLoop& loop, IClock& receiverClock, int units, int adjustMs)
        : sim(unitClock), window(loop) {
        folder = "/tmp/hx40k-bench-window-" + std::to_string(::getpid()) + "/";
        std::system(("mkdir -p " + folder).c_str());
        profile.writeText("HalnorEWU_1", "dataFolder", folder);
        for (int id = 0; id < units; ++id) {
            SimUnitOptions options;
            options.seed = 11u + static_cast<unsigned>(id);
            options.adjustMs = adjustMs;
            options.animal.animalNumber = std::to_string(201 + id);  // each unit with its own animal
            sim.addUnit(id, options);
        }
        ports = test::simulatedPorts(loop, profile, sim, receiverClock, folder);
        set = std::make_unique<CChannelSet>(ports, window.hooks());
    }
    ~Setup() {
        set->shutDown();
        std::system(("rm -rf " + folder).c_str());
    }
    CSimDriver sim;
    CMemoryProfileStore profile;
    ChannelSetPorts ports;
    CChannelsWindow window;
    std::unique_ptr<CChannelSet> set;
    std::string folder;
};

int figures(int units, int seconds) {
    CQtEventLoop loop;
    Setup setup(CSystemClock::instance(), loop, CSystemClock::instance(), units, 3000);
    setup.set->startUp();
    setup.window.show();
    DialogCloser closer(false);

    PaintCounter paints;
    double cpuStart = 0;
    QTimer::singleShot(10000, [&] {
        for (std::size_t i = 0; i < setup.set->size(); ++i) {
            const int id = setup.set->at(i).deviceId();
            paints.watch(&setup.window.frame(id)->wavePane());
            paints.watch(&setup.window.tile(id)->wave());
        }
        cpuStart = cpuSeconds();
    });
    QTimer::singleShot((10 + seconds) * 1000, [&] { loop.quit(0); });
    QApplication::exec();
    const double cpu = cpuSeconds() - cpuStart;

    long busiest = 0, selected = 0;
    const QObject* selectedPane = &setup.window.frame(setup.window.selected())->wavePane();
    for (auto& [pane, count] : paints.counts) {
        busiest = std::max(busiest, count);
        if (pane == selectedPane) selected = count;
    }
    std::vector<double> repaintMs;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer timer;
        timer.start();
        setup.window.repaint();
        repaintMs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(repaintMs.begin(), repaintMs.end());
    std::size_t streaming = 0;
    for (std::size_t i = 0; i < setup.set->size(); ++i)
        streaming += setup.set->at(i).controller().unitState() == kStateView ? 1 : 0;
    std::printf(
        "units %d (streaming %zu), %d s: CPU %.1f %% of one core, RSS %.1f MB (peak %.1f MB), "
        "paints per wave pane per second: busiest %.1f, selected channel's %.1f; full repaint of the "
        "window %.2f ms (median of 20, %s)\n",
        units, streaming, seconds, 100.0 * cpu / seconds, memoryMb("VmRSS"), memoryMb("VmHWM"),
        static_cast<double>(busiest) / seconds, static_cast<double>(selected) / seconds, repaintMs[10],
        qPrintable(QGuiApplication::platformName()));
    return 0;
}

int picture(int units, const std::string& file) {
    CVirtualClock clock;
    CVirtualEventLoop loop(clock);
    Setup setup(clock, loop, clock, units, 20000);  // adjusting while connected: no Animal ID question
    DialogCloser closer(true);
    setup.set->startUp();
    setup.window.resize(1280, 800);
    setup.window.show();
    auto run = [&](const std::function<bool()>& done, std::int64_t limitMs) {
        for (std::int64_t t = 0; t < limitMs && !done(); t += 100) {
            loop.runFor(100);
            QApplication::processEvents();
        }
        return done();
    };
    auto controller = [&](int id) -> CMainController& { return setup.set->find(id)->controller(); };
    auto ready = [&](int id) { return setup.set->find(id) && controller(id).readyForMeasurement(); };
    if (!run(
            [&] {
                for (int id = 0; id < units; ++id)
                    if (!ready(id)) return false;
                return true;
            },
            90000)) {
        std::fprintf(stderr, "the units did not all become ready\n");
        return 1;
    }
    // Every fourth unit from the last: pulled; the one before it: to a result;
    // before that: recording; before that: pressing.
    const int last = units - 1;
    setup.sim.unplug(*setup.sim.unitById(last));
    std::vector<int> results, recording, pressing;
    for (int id = last - 1; id >= 0; --id) {
        const int role = (last - id) % 4;
        (role == 1 ? results : role == 2 ? recording : role == 3 ? pressing : results).push_back(id);
    }
    auto all = [&](const std::vector<int>& ids, UnitState state) {
        return [&, ids, state] {
            for (int id : ids)
                if (controller(id).unitState() != state) return false;
            return true;
        };
    };
    for (int id : results) controller(id).command(kCmdStart);
    run(all(results, kStateResult), 120000);
    for (int id : recording) controller(id).command(kCmdStart);
    run(all(recording, kStateRecord), 60000);
    run([] { return false; }, 9000);  // well into the recording
    for (int id : pressing) controller(id).command(kCmdStart);
    run(all(pressing, kStatePress), 60000);
    run([] { return false; }, 2500);
    setup.window.select(recording.empty() ? 0 : recording.front());
    QApplication::processEvents();
    for (int id = 0; id < units; ++id) {
        setup.window.frame(id)->wavePane().flushPending();
        setup.window.tile(id)->wave().flushPending();
    }
    QApplication::processEvents();
    if (!setup.window.grab().save(QString::fromStdString(file), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    std::printf("%s: %d units\n", file.c_str(), units);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    const int units = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 16) : 8;
    if (mode == "figures") return figures(units, argc > 3 ? std::max(1, std::atoi(argv[3])) : 60);
    if (mode == "picture" && argc > 3) return picture(units, argv[3]);
    std::fprintf(stderr, "usage: bench_channels_window figures UNITS SECONDS | picture UNITS FILE.png\n");
    return 2;
}
