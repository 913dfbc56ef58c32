// halnor40ku: the HX-40K terminal program.
//   halnor40ku [options]                the main window
//   halnor40ku --headless [options]     console front end
//   halnor40ku ctl list                 list running copies and their property
//   halnor40ku ctl send PID COMMAND [--device-id N]   send an outside command to a copy
//   halnor40ku --list-units             list the attached units, connect to none

#include <pthread.h>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BuildInfo.h"
#include "ConsoleFrontEnd.h"
#include "WindowFrontEnd.h"
#include "app/VirtualClock.h"
#include "control/ControlSocket.h"
#include "control/VirtualEventLoop.h"
#include "platform/QSettingsProfileStore.h"
#include "platform/QtEventLoop.h"
#include "settings/Preference.h"
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
    bool help = false;
    bool version = false;
    std::optional<std::uint16_t> udevRuleVendor;  // --udev-rule VID
    bool simulate = false;
    std::vector<int> simulateIds{1};  // as the user sees them, 1 to 16
    bool fast = false;
    std::uint32_t seed = 1;
    std::string versionText;
    int animalType = -1;  // TYPE word of the simulated units; -1: the unit's default (dog)
    SimArtefacts artefacts = SimArtefacts::Normal;
    SimTail tail = SimTail::Warm;
    int deviceId = -1;  // zero-based preset device ID
    bool allUnits = false;
    ConsoleAnswers answers;
    SessionGoals goals;
    std::string screenshotFile;
    int screenshotAfterS = 5;
};

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

// An animal text of the Animal ID dialog: the unit keeps them in 7-bit characters.
std::string animalText(std::optional<std::string>& field, const char* value, const char* name) {
    if (!isSevenBit(value)) return std::string(name) + " takes 7-bit ASCII characters only";
    field = value;
    return {};
}

// The front ends an option has effect in (bits).
enum FrontEnd : unsigned {
    kWindow = 1,   // the main window
    kConsole = 2,  // --headless
    kListing = 4,  // --list-units
    kRunning = kWindow | kConsole,
    kAnyFrontEnd = kWindow | kConsole | kListing,
};

enum class Argument {
    None,
    Required,  // --name VALUE or --name=VALUE
    Optional,  // --name or --name=VALUE
};

// One command-line option: parsing, --help and the README's option list all
// come from this table. To add an option, add a row (and its line to the README).
struct OptionSpec {
    const char* name;  // "--seed"
    Argument argument;
    const char* valueName;  // "N" in "--seed N"; null without an argument
    unsigned frontEnds;     // FrontEnd bits
    const char* help;       // one or more lines ('\n' between them)
    // Stores the option (value: null without one); returns "" or why it is refused.
    std::string (*apply)(Options& o, const char* value);
};

const OptionSpec kOptions[] = {
    {"--headless", Argument::None, nullptr, kConsole, "the console front end instead of the window",
     [](Options& o, const char*) { return o.headless = true, std::string(); }},
    {"--list-units", Argument::None, nullptr, kListing,
     "list the attached units (device ID, version, path), connect to none",
     [](Options& o, const char*) { return o.listUnits = true, std::string(); }},
    {"--simulate", Argument::Optional, "IDS", kAnyFrontEnd,
     "built-in simulated units with these device IDs (1-16,\ncomma-separated, default 1); without it "
     "real units on USB",
     [](Options& o, const char* v) {
         o.simulate = true;
         if (v && !parseIds(v, o.simulateIds))
             return std::string("--simulate takes device IDs 1 to 16, e.g. --simulate=1,3");
         return std::string();
     }},
    {"--fast", Argument::None, nullptr, kConsole | kListing,
     "run the simulated unit and the timers in virtual time",
     [](Options& o, const char*) { return o.fast = true, std::string(); }},
    {"--seed", Argument::Required, "N", kAnyFrontEnd, "seed of the simulated animals (default 1)",
     [](Options& o, const char* v) {
         int number = 0;
         if (!parseInt(v, 0, 1 << 30, number)) return std::string("bad --seed");
         o.seed = static_cast<std::uint32_t>(number);
         return std::string();
     }},
    {"--unit-version", Argument::Required, "TEXT", kAnyFrontEnd, "version text of the simulated units",
     [](Options& o, const char* v) { return o.versionText = v, std::string(); }},
    {"--animal-type", Argument::Required, "T", kAnyFrontEnd,
     "the simulated animal: mouse, rat, dog or rabbit (the units' TYPE; a mouse is OTHER)",
     [](Options& o, const char* v) {
         const std::string t = v;
         o.animalType = t == "mouse"    ? kAnimalMouse
                        : t == "rat"    ? kAnimalRat
                        : t == "dog"    ? kAnimalDog
                        : t == "rabbit" ? kAnimalRabbitMonkey
                                        : -1;
         return o.animalType < 0 ? std::string("--animal-type is mouse, rat, dog or rabbit") : std::string();
     }},
    {"--tail", Argument::Required, "T", kAnyFrontEnd,
     "the simulated animal's tail: warm (default) or cold (small, fading pulses)",
     [](Options& o, const char* v) {
         const std::string t = v;
         if (t != "warm" && t != "cold") return std::string("--tail is warm or cold");
         o.tail = t == "cold" ? SimTail::Cold : SimTail::Warm;
         return std::string();
     }},
    {"--artefacts", Argument::Required, "A", kAnyFrontEnd,
     "how often it moves: none, normal (default) or many",
     [](Options& o, const char* v) {
         const std::string a = v;
         if (a == "none")
             o.artefacts = SimArtefacts::None;
         else if (a == "normal")
             o.artefacts = SimArtefacts::Normal;
         else if (a == "many")
             o.artefacts = SimArtefacts::Many;
         else
             return std::string("--artefacts is none, normal or many");
         return std::string();
     }},
    {"--data-folder", Argument::Required, "DIR", kRunning, "folder of the data files",
     [](Options& o, const char* v) {
         std::string folder = v;
         // An empty folder would put the data files into the root folder.
         if (folder.empty()) return std::string("--data-folder needs a folder");
         // A relative name is taken from the working folder, as a shell user means it.
         if (folder.front() != '/') {
             std::error_code ec;
             folder = std::filesystem::current_path(ec).string() + "/" + folder;
             if (ec) return "--data-folder " + std::string(v) + ": " + ec.message();
         }
         if (folder.back() != '/') folder += '/';
         // What is not a folder and cannot become one is refused here, rather
         // than the data going quietly to another folder.
         if (!ensureFolderExists(folder))
             return "--data-folder " + std::string(v) + " is not a folder and cannot be made one";
         o.answers.dataFolder = folder;
         return std::string();
     }},
    {"--device-id", Argument::Required, "N", kRunning,
     "connect to the unit with device ID N (1-16) without asking",
     [](Options& o, const char* v) {
         int number = 0;
         if (!parseInt(v, 1, 16, number)) return std::string("bad --device-id");
         o.deviceId = number - 1;
         return std::string();
     }},
    {"--all-units", Argument::None, nullptr, kRunning,
     "serve every attached unit at once, a channel per unit\n(result lines name it: dev=ID)",
     [](Options& o, const char*) { return o.allUnits = true, std::string(); }},
    {"--measurements", Argument::Required, "N", kRunning,
     "start N measurements (the console ends after N results)",
     [](Options& o, const char* v) {
         return parseInt(v, 1, 1000000, o.goals.measurements) ? std::string() : "bad --measurements";
     }},
    {"--screenshot", Argument::Required, "FILE", kWindow,
     "save a PNG of the window (and of a dialog open over it)\nafter S seconds, then end",
     [](Options& o, const char* v) { return o.screenshotFile = v, std::string(); }},
    {"--screenshot-after", Argument::Required, "S", kWindow, "seconds before the screenshot (default 5)",
     [](Options& o, const char* v) {
         return parseInt(v, 0, 86400, o.screenshotAfterS) ? std::string() : "bad --screenshot-after";
     }},
    {"--animal-id", Argument::Required, "TEXT", kConsole,
     "animal number (7-bit ASCII, as are the four below)",
     [](Options& o, const char* v) { return animalText(o.answers.animalNo, v, "--animal-id"); }},
    {"--study-no", Argument::Required, "TEXT", kConsole, "study number",
     [](Options& o, const char* v) { return animalText(o.answers.studyNo, v, "--study-no"); }},
    {"--weight", Argument::Required, "TEXT", kConsole, "weight",
     [](Options& o, const char* v) { return animalText(o.answers.weight, v, "--weight"); }},
    {"--sex-age", Argument::Required, "TEXT", kConsole, "sex and age",
     [](Options& o, const char* v) { return animalText(o.answers.sexAge, v, "--sex-age"); }},
    {"--comment", Argument::Required, "TEXT", kConsole, "comment",
     [](Options& o, const char* v) { return animalText(o.answers.comment, v, "--comment"); }},
    {"--timer-file", Argument::Required, "FILE", kConsole,
     "run a timer-mode series from FILE, exit when it completes",
     [](Options& o, const char* v) { return o.goals.timerFile = v, std::string(); }},
    {"--connect-timeout", Argument::Required, "S", kConsole,
     "give up when no unit is connected after S seconds (default 20)",
     [](Options& o, const char* v) {
         return parseInt(v, 1, 86400, o.goals.connectTimeoutS) ? std::string() : "bad --connect-timeout";
     }},
    {"--help", Argument::None, nullptr, kAnyFrontEnd, "print these options and exit",
     [](Options& o, const char*) { return o.help = true, std::string(); }},
    {"--udev-rule", Argument::Required, "VID", kAnyFrontEnd,
     "print the udev rule that lets the user at the seat and the\ngroup plugdev open the units of this USB "
     "vendor ID (hex), and exit",
     [](Options& o, const char* v) {
         o.udevRuleVendor = parseVendorId(v ? v : "");
         return o.udevRuleVendor ? std::string()
                                 : std::string("--udev-rule takes a USB vendor ID, e.g. 1a2b");
     }},
    {"--version", Argument::None, nullptr, kAnyFrontEnd, "print the software version text and exit",
     [](Options& o, const char*) { return o.version = true, std::string(); }},
};

// "--seed N", "--simulate[=IDS]", "--fast".
std::string optionSynopsis(const OptionSpec& option) {
    std::string text = option.name;
    if (option.argument == Argument::Required) text += std::string(" ") + option.valueName;
    if (option.argument == Argument::Optional) text += std::string("[=") + option.valueName + "]";
    return text;
}

void printOptionGroup(std::FILE* out, const char* heading, unsigned frontEnds) {
    std::fprintf(out, "%s\n", heading);
    for (const OptionSpec& option : kOptions) {
        if ((option.frontEnds & kRunning) != frontEnds) continue;
        std::string synopsis = optionSynopsis(option);
        std::stringstream help(option.help);
        std::string line;
        bool first = true;
        while (std::getline(help, line)) {
            std::fprintf(out, "  %-22s %s\n", first ? synopsis.c_str() : "", line.c_str());
            first = false;
        }
    }
}

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: halnor40ku [options]               the main window\n"
                 "       halnor40ku --headless [options]    the console front end\n"
                 "       halnor40ku --list-units [--simulate[=IDS]]   attached units: device ID, version, "
                 "path\n"
                 "       halnor40ku ctl list                (PID PROPERTY [dev=ID], a line per channel)\n"
                 "       halnor40ku ctl send PID COMMAND [--device-id N]   (32771 wave layout,\n"
                 "                 32773 graph layout, 32774 live view, 32775 clock dialog)\n"
                 "       halnor40ku --help | --version\n");
    printOptionGroup(out, "options:", kRunning);
    printOptionGroup(out, "window only:", kWindow);
    printOptionGroup(out, "console only (--headless):", kConsole);
    printOptionGroup(out, "listing:", 0);
    std::fprintf(out,
                 "exit status: 0 done, 1 usage, 2 bad timer file, 3 no unit, 4 no result in time,\n"
                 "  5 timer slots without a result, 6 results not saved, 7 screenshot not written,\n"
                 "  8 animal texts not sent to the unit,\n"
                 "  141 output closed\n");
}

const OptionSpec* findOption(const std::string& name) {
    for (const OptionSpec& option : kOptions)
        if (name == option.name) return &option;
    return name == "-h" ? findOption("--help") : nullptr;
}

// Why an option given does not go with the chosen front end.
std::string frontEndMismatch(const OptionSpec& option, unsigned frontEnd) {
    if (option.frontEnds & frontEnd) return {};
    const std::string name = option.name;
    if (frontEnd == kListing) return name + " does not go with --list-units";
    if (frontEnd == kConsole) return name + " needs the window (leave out --headless)";
    return name + " needs --headless";
}

// Returns 0 to run, -1 to end with status 0 (--help, --version), otherwise the exit status.
int parseOptions(int argc, char** argv, Options& o) {
    std::vector<const OptionSpec*> given;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const char* value = nullptr;
        std::string attached;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            attached = name.substr(equals + 1);
            name.resize(equals);
        }
        const OptionSpec* option = findOption(name);
        if (!option || (option->argument == Argument::None && name.size() < std::strlen(argv[i]))) {
            std::fprintf(stderr, "halnor40ku: unknown option %s\n", argv[i]);
            usage(stderr);
            return 1;
        }
        if (name.size() < std::strlen(argv[i])) {
            value = attached.c_str();
        } else if (option->argument == Argument::Required) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "halnor40ku: %s needs a value\n", option->name);
                return 1;
            }
            value = argv[++i];
        }
        if (const std::string refused = option->apply(o, value); !refused.empty()) {
            std::fprintf(stderr, "halnor40ku: %s\n", refused.c_str());
            return 1;
        }
        if (o.help) {
            usage(stdout);
            return -1;
        }
        if (o.udevRuleVendor) {
            std::printf("%s", udevRuleText(*o.udevRuleVendor).c_str());
            return -1;
        }
        if (o.version) {
            const CHalnor40KUApp app;  // makes the software version text
            std::printf("%s\n", softwareVersionText().c_str());
            return -1;
        }
        given.push_back(option);
    }
    const unsigned frontEnd = o.listUnits ? kListing : o.headless ? kConsole : kWindow;
    for (const OptionSpec* option : given) {
        if (const std::string mismatch = frontEndMismatch(*option, frontEnd); !mismatch.empty()) {
            std::fprintf(stderr, "halnor40ku: %s\n", mismatch.c_str());
            return 1;
        }
    }
    if (frontEnd == kWindow && !displayAvailable()) {
        std::fprintf(
            stderr,
            "halnor40ku: no display (DISPLAY is not set); use --headless for the console front end\n");
        return 1;
    }
    if (o.allUnits && o.deviceId >= 0) {
        std::fprintf(stderr, "halnor40ku: --all-units serves every unit; leave out --device-id\n");
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
        // One line per copy; a copy serving several units has one per channel.
        for (const auto& instance : CControlSocket::listInstances()) {
            if (instance.deviceId > 0)
                std::printf("%ld %d dev=%d\n", instance.pid, instance.property, instance.deviceId);
            else
                std::printf("%ld %d\n", instance.pid, instance.property);
        }
        return 0;
    }
    int deviceId = 0;
    if (argc == 7 && std::strcmp(argv[5], "--device-id") == 0 && !parseInt(argv[6], 1, 16, deviceId)) {
        std::fprintf(stderr, "halnor40ku: bad --device-id\n");
        return 1;
    }
    if ((argc == 5 || (argc == 7 && deviceId > 0)) && std::strcmp(argv[2], "send") == 0) {
        long pid = std::strtol(argv[3], nullptr, 10);
        int command = std::atoi(argv[4]);
        if (!CControlSocket::isOutsideCommand(command)) {
            std::fprintf(stderr, "halnor40ku: command must be 32771, 32773, 32774 or 32775\n");
            return 1;
        }
        std::string answer = CControlSocket::sendCommand(pid, command, {}, deviceId);
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
            if (!configuredVendorId(settings)) {
                std::printf(
                    "the units' USB vendor ID is not set: HX40K_USB_VENDOR_ID or usbVendorId in the "
                    "profile\n");
                // Devices that look like units all the same, with the vendor to set.
                const CLibusbDriver any(std::nullopt);
                for (const UsbLocation& possible : any.possibleUnits())
                    std::printf(
                        "possible unit, vendor %04x: product %04x on bus %u, address %u "
                        "(HX40K_USB_VENDOR_ID=%04x; halnor40ku --udev-rule %04x gives its udev rule)\n",
                        possible.vendorId, possible.productId, possible.bus, possible.address,
                        possible.vendorId, possible.vendorId);
            }
        }
    }
    return 0;
}

// The simulated units the options ask for, or the libusb driver for real units.
std::unique_ptr<IUnitDriver> makeDriver(const Options& options, IClock& unitClock) {
    if (!options.simulate) {
        CQSettingsProfileStore settings;
        return std::make_unique<CLibusbDriver>(configuredVendorId(settings));
    }
    auto sim = std::make_unique<CSimDriver>(unitClock);
    for (int id : options.simulateIds) {
        SimUnitOptions unit;
        unit.seed = options.seed + static_cast<std::uint32_t>(id);
        if (!options.versionText.empty()) unit.versionText = options.versionText;
        lifelikeAnimal(unit, options.artefacts);
        unit.tail = options.tail;
        if (options.animalType == kAnimalMouse) {
            // The unit knows no mouse: OTHER is its setting for small animals.
            unit.menu[MenuSettings::kType] = kAnimalRat;
            unit.smallAnimal = kAnimalMouse;
        } else if (options.animalType >= 0) {
            unit.menu[MenuSettings::kType] = static_cast<std::int16_t>(options.animalType);
        }
        sim->addUnit(id - 1, unit);
    }
    return sim;
}

WindowOptions windowOptions(const Options& options) {
    WindowOptions window;
    window.dataFolder = options.answers.dataFolder;
    window.presetDeviceId = options.deviceId;
    window.screenshotFile = options.screenshotFile;
    window.screenshotAfterS = options.screenshotAfterS;
    window.measurements = options.goals.measurements;
    window.allUnits = options.allUnits;
    return window;
}

ConsoleOptions consoleOptions(const Options& options) {
    ConsoleOptions console;
    console.answers = options.answers;
    console.goals = options.goals;
    console.presetDeviceId = options.deviceId;
    console.allUnits = options.allUnits;
    return console;
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

// The manual page (troff), from the same option table as --help; the build
// installs it. Not an option of its own: "halnor40ku --man" only.
void printManualPage() {
    auto escaped = [](const std::string& text) {
        std::string out;
        for (char c : text) {
            if (c == '\\')
                out += "\\e";
            else if (c == '-')
                out += "\\-";
            else if (c == '\n')
                out += ' ';
            else
                out += c;
        }
        return out;
    };
    std::printf(
        ".TH HALNOR40KU 1 \"\" \"halnor40ku\" \"User Commands\"\n"
        ".SH NAME\nhalnor40ku \\- terminal program for HX\\-40K tail\\-cuff blood\\-pressure units\n"
        ".SH SYNOPSIS\n.nf\n");
    std::FILE* text = std::tmpfile();
    if (text) {
        usage(text);
        std::rewind(text);
        char line[512];
        while (std::fgets(line, sizeof line, text)) {
            std::string l = line;
            if (l.rfind("options:", 0) == 0) break;
            std::printf("%s", escaped(l.substr(0, l.size() - 1)).c_str());
            std::printf("\n");
        }
        std::fclose(text);
    }
    std::printf(
        ".fi\n.SH DESCRIPTION\nThe program finds HX\\-40K units on USB, connects to one, draws the live "
        "cuff\\-pressure and pulse waves, shows SBP, MBP, DBP and heart rate of each measurement, saves "
        "every measurement as a data file and runs timed recordings. Without a unit a built\\-in "
        "simulated unit stands in (\\fB\\-\\-simulate\\fR).\n.SH OPTIONS\n");
    for (const OptionSpec& option : kOptions)
        std::printf(".TP\n\\fB%s\\fR\n%s\n", escaped(optionSynopsis(option)).c_str(),
                    escaped(option.help).c_str());
    std::printf(
        ".SH EXIT STATUS\n0 done, 1 usage, 2 bad timer file, 3 no unit, 4 no result in time, 5 timer slots "
        "without a result, 6 results not saved, 7 screenshot not written, 8 animal texts not sent to the "
        "unit, 141 output closed.\n.SH SEE ALSO\n\\fBhx40k\\-data\\fR(1), \\fBhx40k\\-logview\\fR(1)\n");
}

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "ctl") == 0) return controlCommand(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--man") == 0) {
        printManualPage();
        return 0;
    }
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
    // A file-size limit (ulimit -f) shows as a failed write too: the data
    // file and the results log then cut back what they could not finish.
    std::signal(SIGXFSZ, SIG_IGN);

    std::unique_ptr<QCoreApplication> application;
    if (options.headless || options.listUnits)
        application = std::make_unique<QCoreApplication>(argc, argv);
    else
        application = std::make_unique<QApplication>(argc, argv);
    // The installed desktop entry (org.quarvel.halnor40ku.desktop), so a Wayland
    // task bar shows the program's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quarvel.halnor40ku"));

    std::unique_ptr<CVirtualClock> virtualClock;
    if (options.fast) virtualClock = std::make_unique<CVirtualClock>(std::time(nullptr));
    IClock& unitClock = virtualClock ? static_cast<IClock&>(*virtualClock) : CSystemClock::instance();

    std::unique_ptr<IUnitDriver> driver = makeDriver(options, unitClock);
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
    const int status =
        options.headless ? runConsoleFrontEnd(*driver, unitClock, *loop, virtualLoop, consoleOptions(options))
        : options.allUnits ? runAllUnitsWindow(*driver, unitClock, *loop, windowOptions(options))
                           : runWindowFrontEnd(*driver, unitClock, *loop, windowOptions(options));
    pthread_kill(watcher.native_handle(), SIGUSR1);
    watcher.join();
    return status;
}
