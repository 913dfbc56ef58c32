// halnor40ku: the HX-40K terminal program.
//   halnor40ku [options]                the main window
//   halnor40ku --headless [options]     console front end
//   halnor40ku ctl list                 list running copies and their property
//   halnor40ku ctl send PID COMMAND     send an outside command to a copy
//   halnor40ku --list-units             list the attached units, connect to none

#include <pthread.h>

#include <QApplication>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BuildInfo.h"
#include "WindowFrontEnd.h"
#include "app/LogChannel.h"
#include "app/VirtualClock.h"
#include "control/ApplicationShell.h"
#include "control/ControlSocket.h"
#include "control/VirtualEventLoop.h"
#include "headless/ConsoleUi.h"
#include "headless/HeadlessSession.h"
#include "platform/QSettingsProfileStore.h"
#include "platform/QtEventLoop.h"
#include "platform/StandardPaths.h"
#include "sim/SimDriver.h"
#include "sim/SimUnit.h"
#include "usb/LibusbDriver.h"
#include "usb/LibusbTranslation.h"
#include "usb/UnitListing.h"

namespace {

using namespace hx;

struct Options {
    bool headless = false;
    bool listUnits = false;
    bool simulate = false;
    std::vector<int> simulateIds{1};  // as the user sees them, 1 to 16
    bool fast = false;
    std::uint32_t seed = 1;
    std::string versionText;
    int animalType = -1;  // TYPE word of the simulated units; -1: the unit's default (dog)
    SimArtefacts artefacts = SimArtefacts::Normal;
    int deviceId = -1;  // zero-based preset device ID
    ConsoleAnswers answers;
    SessionGoals goals;
    std::string screenshotFile;
    int screenshotAfterS = 5;
};

void usage(std::FILE* out) {
    std::fprintf(
        out,
        "usage: halnor40ku [options] [--screenshot FILE [--screenshot-after S]]\n"
        "       halnor40ku --headless [options]\n"
        "       halnor40ku --list-units [--simulate[=IDS]]   attached units: device ID, version, path\n"
        "       halnor40ku ctl list\n"
        "       halnor40ku ctl send PID COMMAND   (32771 wave layout, 32773 graph layout,\n"
        "                                          32774 live view, 32775 clock dialog)\n"
        "       halnor40ku --help | --version\n"
        "options:\n"
        "  --simulate[=IDS]       built-in simulated units with these device IDs (1-16,\n"
        "                         comma-separated, default 1); without it real units on USB\n"
        "  --fast                 run the simulated unit and the timers in virtual time\n"
        "  --seed N               seed of the simulated animals (default 1)\n"
        "  --unit-version TEXT    version text of the simulated units\n"
        "  --animal-type T        the simulated animal: rat, dog or rabbit (the units' TYPE)\n"
        "  --artefacts A          how often it moves: none, normal (default) or many\n"
        "  --data-folder DIR      folder of the data files\n"
        "  --device-id N          connect to the unit with device ID N (1-16) without asking\n"
        "  --measurements N       start N measurements (the console ends after N results)\n"
        "  --screenshot FILE      window only: save a PNG of the window after S seconds\n"
        "                         (--screenshot-after S, default 5), then end\n"
        "console only (--headless):\n"
        "  --animal-id TEXT       animal number (7-bit ASCII, as are the four below)\n"
        "  --study-no TEXT        study number\n"
        "  --weight TEXT          weight\n"
        "  --sex-age TEXT         sex and age\n"
        "  --comment TEXT         comment\n"
        "  --timer-file FILE      run a timer-mode series from FILE, exit when it completes\n"
        "  --connect-timeout S    give up when no unit is connected after S seconds (default 20)\n"
        "exit status: 0 done, 1 usage, 2 bad timer file, 3 no unit, 4 no result in time,\n"
        "  5 timer slots without a result, 6 results not saved, 7 screenshot not written,\n"
        "  141 output closed\n");
}

bool parseIds(const std::string& text, std::vector<int>& ids) {
    ids.clear();
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        char* end = nullptr;
        long id = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end || id < 1 || id > 16) return false;
        ids.push_back(static_cast<int>(id));
    }
    return !ids.empty();
}

bool isSevenBit(const char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80) return false;
    return true;
}

bool parseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

// Returns 0 to run, otherwise the exit status.
int parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "halnor40ku: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--headless") {
            o.headless = true;
        } else if (arg == "--list-units") {
            o.listUnits = true;
        } else if (arg == "--simulate") {
            o.simulate = true;
        } else if (arg.rfind("--simulate=", 0) == 0) {
            o.simulate = true;
            if (!parseIds(arg.substr(11), o.simulateIds)) {
                std::fprintf(stderr,
                             "halnor40ku: --simulate takes device IDs 1 to 16, e.g. --simulate=1,3\n");
                return 1;
            }
        } else if (arg == "--fast") {
            o.fast = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return -1;
        } else if (arg == "--version") {
            const CHalnor40KUApp app;  // makes the software version text
            std::printf("%s\n", softwareVersionText().c_str());
            return -1;
        } else {
            const char* v = nullptr;
            int number = 0;
            if (arg == "--seed" || arg == "--unit-version" || arg == "--animal-type" ||
                arg == "--artefacts" || arg == "--data-folder" || arg == "--animal-id" ||
                arg == "--study-no" || arg == "--weight" || arg == "--sex-age" || arg == "--comment" ||
                arg == "--measurements" || arg == "--timer-file" || arg == "--connect-timeout" ||
                arg == "--device-id" || arg == "--screenshot" || arg == "--screenshot-after") {
                if (!(v = value(arg.c_str()))) return 1;
            } else {
                std::fprintf(stderr, "halnor40ku: unknown option %s\n", arg.c_str());
                usage(stderr);
                return 1;
            }
            if (arg == "--seed") {
                if (!parseInt(v, 0, 1 << 30, number))
                    return std::fprintf(stderr, "halnor40ku: bad --seed\n"), 1;
                o.seed = static_cast<std::uint32_t>(number);
            } else if (arg == "--unit-version") {
                o.versionText = v;
            } else if (arg == "--animal-type") {
                const std::string t = v;
                o.animalType = t == "rat"      ? kAnimalRat
                               : t == "dog"    ? kAnimalDog
                               : t == "rabbit" ? kAnimalRabbitMonkey
                                               : -1;
                if (o.animalType < 0)
                    return std::fprintf(stderr, "halnor40ku: --animal-type is rat, dog or rabbit\n"), 1;
            } else if (arg == "--artefacts") {
                const std::string a = v;
                if (a == "none") {
                    o.artefacts = SimArtefacts::None;
                } else if (a == "normal") {
                    o.artefacts = SimArtefacts::Normal;
                } else if (a == "many") {
                    o.artefacts = SimArtefacts::Many;
                } else {
                    return std::fprintf(stderr, "halnor40ku: --artefacts is none, normal or many\n"), 1;
                }
            } else if (arg == "--data-folder") {
                std::string folder = v;
                // An empty folder would put the data files into the root folder.
                if (folder.empty())
                    return std::fprintf(stderr, "halnor40ku: --data-folder needs a folder\n"), 1;
                if (folder.back() != '/') folder += '/';
                o.answers.dataFolder = folder;
            } else if ((arg == "--animal-id" || arg == "--study-no" || arg == "--weight" ||
                        arg == "--sex-age" || arg == "--comment") &&
                       !isSevenBit(v)) {
                // The unit keeps its animal texts in 7-bit characters.
                std::fprintf(stderr, "halnor40ku: %s takes 7-bit ASCII characters only\n", arg.c_str());
                return 1;
            } else if (arg == "--animal-id") {
                o.answers.animalNo = v;
            } else if (arg == "--study-no") {
                o.answers.studyNo = v;
            } else if (arg == "--weight") {
                o.answers.weight = v;
            } else if (arg == "--sex-age") {
                o.answers.sexAge = v;
            } else if (arg == "--comment") {
                o.answers.comment = v;
            } else if (arg == "--measurements") {
                if (!parseInt(v, 1, 1000000, o.goals.measurements))
                    return std::fprintf(stderr, "halnor40ku: bad --measurements\n"), 1;
            } else if (arg == "--timer-file") {
                o.goals.timerFile = v;
            } else if (arg == "--device-id") {
                if (!parseInt(v, 1, 16, number))
                    return std::fprintf(stderr, "halnor40ku: bad --device-id\n"), 1;
                o.deviceId = number - 1;
            } else if (arg == "--screenshot") {
                o.screenshotFile = v;
            } else if (arg == "--screenshot-after") {
                if (!parseInt(v, 0, 86400, o.screenshotAfterS))
                    return std::fprintf(stderr, "halnor40ku: bad --screenshot-after\n"), 1;
            } else if (arg == "--connect-timeout") {
                if (!parseInt(v, 1, 86400, o.goals.connectTimeoutS))
                    return std::fprintf(stderr, "halnor40ku: bad --connect-timeout\n"), 1;
            }
        }
    }
    if (!o.headless && !o.listUnits) {
        if (o.fast || !o.goals.timerFile.empty()) {
            std::fprintf(stderr, "halnor40ku: --fast and --timer-file need --headless\n");
            return 1;
        }
        if (!displayAvailable()) {
            std::fprintf(
                stderr,
                "halnor40ku: no display (DISPLAY is not set); use --headless for the console front end\n");
            return 1;
        }
    } else if (!o.screenshotFile.empty()) {
        std::fprintf(stderr, "halnor40ku: --screenshot needs the window (leave out --headless)\n");
        return 1;
    }
    if (o.fast && !o.simulate) {
        std::fprintf(stderr, "halnor40ku: --fast needs --simulate (real units run in real time)\n");
        return 1;
    }
    return 0;
}

int controlCommand(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[2], "list") == 0) {
        for (const auto& instance : CControlSocket::listInstances())
            std::printf("%ld %d\n", instance.pid, instance.property);
        return 0;
    }
    if (argc == 5 && std::strcmp(argv[2], "send") == 0) {
        long pid = std::strtol(argv[3], nullptr, 10);
        int command = std::atoi(argv[4]);
        if (!CControlSocket::isOutsideCommand(command)) {
            std::fprintf(stderr, "halnor40ku: command must be 32771, 32773, 32774 or 32775\n");
            return 1;
        }
        std::string answer = CControlSocket::sendCommand(pid, command);
        std::printf("%s\n", answer.c_str());
        return answer == "ok" ? 0 : 2;
    }
    usage(stderr);
    return 1;
}

// The units' USB vendor ID: HX40K_USB_VENDOR_ID (hex) wins over the profile's
// "usbVendorId" (hex text), which wins over the one the program was built with
// (the same value its udev rule grants access to). Without one, no real unit
// is listed.
std::optional<std::uint16_t> configuredVendorId(IProfileStore& profile) {
    if (auto fromEnvironment = CLibusbDriver::vendorIdFromEnvironment()) return fromEnvironment;
    std::string text = profile.readText("HalnorEWU_1", "usbVendorId", "");
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (text.empty() || *end || value == 0 || value > 0xFFFF) return parseVendorId(HX_USB_VENDOR_ID);
    return static_cast<std::uint16_t>(value);
}

int listAttachedUnits(IUnitDriver& driver, bool simulated) {
    std::vector<UnitListing> units = listUnits(driver);
    for (const UnitListing& unit : units) std::printf("%s\n", formatUnitListing(unit).c_str());
    if (units.empty()) {
        std::printf("no unit found\n");
        if (!simulated) {
            CQSettingsProfileStore settings;
            if (!configuredVendorId(settings))
                std::printf(
                    "the units' USB vendor ID is not set: HX40K_USB_VENDOR_ID or usbVendorId in the "
                    "profile\n");
        }
    }
    return 0;
}

// SIGINT, SIGTERM and SIGHUP (a closed terminal) end the program through its
// normal destruction: a thread waits for them and asks the loop to quit.
std::thread startSignalWatcher(IEventLoop& loop, sigset_t blocked) {
    return std::thread([&loop, blocked] {
        int signal = 0;
        if (sigwait(&blocked, &signal) == 0 && signal != SIGUSR1) loop.quit(128 + signal);
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "ctl") == 0) return controlCommand(argc, argv);
    Options options;
    if (int status = parseOptions(argc, argv, options)) return status < 0 ? 0 : status;

    // Block the signals in every thread; the watcher takes them.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    // A closed output pipe shows as a failed write, which the console turns
    // into the normal shutdown.
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<QCoreApplication> application;
    if (options.headless || options.listUnits)
        application = std::make_unique<QCoreApplication>(argc, argv);
    else
        application = std::make_unique<QApplication>(argc, argv);

    std::unique_ptr<CVirtualClock> virtualClock;
    if (options.fast) virtualClock = std::make_unique<CVirtualClock>(std::time(nullptr));
    IClock& unitClock = virtualClock ? static_cast<IClock&>(*virtualClock) : CSystemClock::instance();

    std::unique_ptr<IUnitDriver> driver;
    if (options.simulate) {
        auto sim = std::make_unique<CSimDriver>(unitClock);
        for (int id : options.simulateIds) {
            SimUnitOptions unit;
            unit.seed = options.seed + static_cast<std::uint32_t>(id);
            if (!options.versionText.empty()) unit.versionText = options.versionText;
            lifelikeAnimal(unit, options.artefacts);
            if (options.animalType >= 0) unit.menu[9] = static_cast<std::int16_t>(options.animalType);
            sim->addUnit(id - 1, unit);
        }
        driver = std::move(sim);
    } else {
        CQSettingsProfileStore settings;
        driver = std::make_unique<CLibusbDriver>(configuredVendorId(settings));
    }
    if (options.listUnits) return listAttachedUnits(*driver, options.simulate);

    std::unique_ptr<IEventLoop> loop;
    CVirtualEventLoop* virtualLoop = nullptr;
    if (virtualClock) {
        auto v = std::make_unique<CVirtualEventLoop>(*virtualClock);
        virtualLoop = v.get();
        loop = std::move(v);
    } else {
        loop = std::make_unique<CQtEventLoop>();
    }

    std::thread watcher = startSignalWatcher(*loop, blocked);
    auto stopWatcher = [&] {
        pthread_kill(watcher.native_handle(), SIGUSR1);
        watcher.join();
    };
    if (!options.headless) {
        WindowOptions window;
        window.dataFolder = options.answers.dataFolder;
        window.presetDeviceId = options.deviceId;
        window.screenshotFile = options.screenshotFile;
        window.screenshotAfterS = options.screenshotAfterS;
        window.measurements = options.goals.measurements;
        const int status = runWindowFrontEnd(*driver, unitClock, *loop, window);
        stopWatcher();
        return status;
    }

    CConsoleUi ui(*loop, options.answers);
    CQSettingsProfileStore profile;
    ShellPorts ports;
    ports.ui = &ui;
    ports.loop = loop.get();
    ports.profile = &profile;
    ports.driver = driver.get();
    ports.receiverClock = &unitClock;
    ports.documentsFolder = standardPaths::documentsFolder();
    CApplicationShell shell(ports);

    int status = 0;
    auto beforeEnumeration = [&] {
        if (options.deviceId >= 0)
            shell.document().setPresetDeviceId(static_cast<std::int16_t>(options.deviceId));
    };
    if (shell.startUp(beforeEnumeration)) {
        if (options.answers.dataFolder) {
            shell.document().preference().setDataFolder(*options.answers.dataFolder);
            shell.cleanUpDataFolder();
        }
        CHeadlessSession session(shell, *loop, ui, options.goals);
        if (!session.begin()) {
            status = CHeadlessSession::kExitBadTimerFile;
        } else {
            status = virtualLoop ? virtualLoop->run() : application->exec();
            if (status < 0) {
                ui.print("error: nothing more can happen (no unit and no timer)");
                status = CHeadlessSession::kExitStalled;
            }
        }
        loop->setTarget(&shell.controller());
        shell.shutDown();
    }
    // How many diagnostic lines this run wrote, to compare with what a viewer showed.
    ui.print("diagnostic lines: " + std::to_string(logLinesWritten()));
    ui.print("exit: " + std::to_string(status));
    stopWatcher();
    return status;
}
