// hx40k-simstudy: a whole tail-cuff study in virtual time, produced by the
// program itself against its simulated unit.
//
//   hx40k-simstudy DIR [--animals N] [--groups G] [--days D] [--cycles C]
//                      [--start YYYY-MM-DD] [--change G:MMHG[:DAY]]... [--seed S]
//                      [--animal-type mouse|rat|dog|rabbit] [--tail warm|cold]
//                      [--artefacts none|normal|many] [--verbose]
//
// N animals (numbered 1 to N) in G groups of consecutive numbers are measured
// on D consecutive days from the start date, each animal in one sitting of C
// cycles a day (sittings from 09:00, one every 20 minutes or more). Every
// sitting is one run of the program's console front end in virtual time:
// start-up, connection, the Animal ID dialog answered with the animal's
// number, C measurements started from the program, shut-down. So DIR receives
// what the program writes (data files, results.csv), dated by the simulated
// unit's clock on those days, plus animals.csv (Animal No, Group, Sex, Date of
// birth, Notes). One simulated unit serves the whole study: each animal
// keeps its own values and its training from day to day.
//
// --change G:MMHG[:DAY] raises SBP of group G by MMHG each day from day DAY
// (default 1) on: by MMHG on that day, 2 MMHG the next. Without any --change:
// 2:2:4 (the second group's SBP rises 2 mmHg a day from day 4).
//
// Exit status: 0 done, 1 usage, 2 a sitting did not complete (the program's
// exit status and the sitting are printed), 3 DIR cannot be written.

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/VirtualClock.h"
#include "control/ApplicationShell.h"
#include "control/VirtualEventLoop.h"
#include "headless/ConsoleUi.h"
#include "headless/HeadlessSession.h"
#include "settings/ProfileStore.h"
#include "sim/SimDriver.h"
#include "sim/SimUnit.h"

namespace {

using namespace hx;
namespace fs = std::filesystem;

struct Change {
    double mmHgPerDay = 0.0;
    int fromDay = 1;
};

struct StudyOptions {
    std::string folder;
    int animals = 12;
    int groups = 2;
    int days = 10;
    int cycles = 15;
    std::tm start{};  // local date of day 1
    std::map<int, Change> changes;
    std::uint32_t seed = 1;
    int animal = kAnimalMouse;
    SimTail tail = SimTail::Warm;
    SimArtefacts artefacts = SimArtefacts::Normal;
    bool verbose = false;
};

void usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: hx40k-simstudy DIR [--animals N] [--groups G] [--days D] [--cycles C]\n"
                 "                      [--start YYYY-MM-DD] [--change G:MMHG[:DAY]]... [--seed S]\n"
                 "                      [--animal-type mouse|rat|dog|rabbit] [--tail warm|cold]\n"
                 "                      [--artefacts none|normal|many] [--verbose]\n"
                 "defaults: 12 animals in 2 groups, 10 days from 2025-01-06, 15 cycles a sitting,\n"
                 "  --change 2:2:4 (group 2's SBP rises 2 mmHg a day from day 4), a mouse, warm tails\n");
}

bool parseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || v < low || v > high) return false;
    out = static_cast<int>(v);
    return true;
}

bool parseDate(const std::string& text, std::tm& out) {
    std::tm tm{};
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return false;
    if (y < 1990 || y > 2089 || m < 1 || m > 12 || d < 1 || d > 31) return false;
    tm.tm_year = y - 1900;
    tm.tm_mon = m - 1;
    tm.tm_mday = d;
    tm.tm_isdst = -1;
    std::tm check = tm;
    if (std::mktime(&check) == -1 || check.tm_mday != d) return false;  // 31 February
    out = tm;
    return true;
}

bool parseChange(const std::string& text, int groups, std::map<int, Change>& changes) {
    int group = 0, day = 1, used = 0;
    double rate = 0.0;
    const int n = std::sscanf(text.c_str(), "%d:%lf%n:%d%n", &group, &rate, &used, &day, &used);
    if (n < 2 || used != static_cast<int>(text.size()) || group < 1 || group > groups || day < 1)
        return false;
    changes[group] = {rate, day};
    return true;
}

// 0 to go on, otherwise the exit status (-1: exit 0).
int parseOptions(int argc, char** argv, StudyOptions& o) {
    parseDate("2025-01-06", o.start);
    std::vector<std::string> changeTexts;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto bad = [&] {
            std::fprintf(stderr, "hx40k-simstudy: bad or missing value of %s\n", a.c_str());
            return 1;
        };
        if (a == "--help") {
            usage(stdout);
            return -1;
        } else if (a == "--verbose") {
            o.verbose = true;
            continue;
        } else if (a.rfind("--", 0) != 0) {
            if (!o.folder.empty()) return usage(stderr), 1;
            o.folder = a;
            continue;
        }
        if (!value) return bad();
        ++i;
        if (a == "--animals") {
            if (!parseInt(value, 1, 999, o.animals)) return bad();
        } else if (a == "--groups") {
            if (!parseInt(value, 1, 26, o.groups)) return bad();
        } else if (a == "--days") {
            if (!parseInt(value, 1, 365, o.days)) return bad();
        } else if (a == "--cycles") {
            if (!parseInt(value, 1, 60, o.cycles)) return bad();
        } else if (a == "--start") {
            if (!parseDate(value, o.start)) return bad();
        } else if (a == "--change") {
            changeTexts.push_back(value);
        } else if (a == "--seed") {
            int seed = 0;
            if (!parseInt(value, 0, 2000000000, seed)) return bad();
            o.seed = static_cast<std::uint32_t>(seed);
        } else if (a == "--animal-type") {
            const std::string t = value;
            o.animal = t == "mouse"    ? kAnimalMouse
                       : t == "rat"    ? kAnimalRat
                       : t == "dog"    ? kAnimalDog
                       : t == "rabbit" ? kAnimalRabbitMonkey
                                       : -1;
            if (o.animal < 0) return bad();
        } else if (a == "--tail") {
            const std::string t = value;
            if (t != "warm" && t != "cold") return bad();
            o.tail = t == "cold" ? SimTail::Cold : SimTail::Warm;
        } else if (a == "--artefacts") {
            const std::string t = value;
            if (t == "none")
                o.artefacts = SimArtefacts::None;
            else if (t == "normal")
                o.artefacts = SimArtefacts::Normal;
            else if (t == "many")
                o.artefacts = SimArtefacts::Many;
            else
                return bad();
        } else {
            std::fprintf(stderr, "hx40k-simstudy: unknown option %s\n", a.c_str());
            return 1;
        }
    }
    if (o.folder.empty()) return usage(stderr), 1;
    if (o.groups > o.animals) {
        std::fprintf(stderr, "hx40k-simstudy: more groups than animals\n");
        return 1;
    }
    if (changeTexts.empty() && o.groups >= 2) changeTexts.push_back("2:2:4");
    for (const std::string& text : changeTexts) {
        if (!parseChange(text, o.groups, o.changes)) {
            std::fprintf(stderr, "hx40k-simstudy: bad --change %s (G:MMHG[:DAY], G from 1 to %d)\n",
                         text.c_str(), o.groups);
            return 1;
        }
    }
    return 0;
}

// Groups of consecutive animal numbers, the first groups one larger when N
// does not divide evenly. 1-based.
int groupOf(int animal, const StudyOptions& o) {
    const int base = o.animals / o.groups, extra = o.animals % o.groups;
    int first = 1;
    for (int g = 1; g <= o.groups; ++g) {
        const int size = base + (g <= extra ? 1 : 0);
        if (animal < first + size) return g;
        first += size;
    }
    return o.groups;
}

double shiftOn(int group, int day, const StudyOptions& o) {
    const auto it = o.changes.find(group);
    if (it == o.changes.end() || day < it->second.fromDay) return 0.0;
    return it->second.mmHgPerDay * (day - it->second.fromDay + 1);
}

std::string dateText(std::tm tm, int plusDays) {
    tm.tm_mday += plusDays;
    tm.tm_isdst = -1;
    std::mktime(&tm);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
    return text;
}

// A CSV field as RFC 4180 wants it.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

bool writeAnimals(const StudyOptions& o) {
    const fs::path path = fs::path(o.folder) / "animals.csv";
    const fs::path temporary = fs::path(o.folder) / "animals.csv.tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "Animal No,Group,Sex,Date of birth,Notes,Species\r\n";
        const char* species = o.animal == kAnimalMouse ? "mouse"
                              : o.animal == kAnimalRat ? "rat"
                              : o.animal == kAnimalDog ? "dog"
                                                       : "rabbit";
        for (int a = 1; a <= o.animals; ++a) {
            const int g = groupOf(a, o);
            std::string notes = "simulated";
            const double rate = o.changes.count(g) ? o.changes.at(g).mmHgPerDay : 0.0;
            if (rate != 0.0) {
                char text[96];
                std::snprintf(text, sizeof text, "simulated; SBP %+g mmHg a day from day %d", rate,
                              o.changes.at(g).fromDay);
                notes = text;
            }
            // Ten weeks old on day 1; males and females in turn.
            out << a << ",G" << g << "," << (a % 2 ? "M" : "F") << "," << dateText(o.start, -70) << ","
                << csvField(notes) << "," << species << "\r\n";
        }
        out.flush();
        if (!out) return false;
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    return !ec;
}

// Seconds since 1970 of a local date and time of day.
std::time_t localTime(std::tm date, int plusDays, int secondsOfDay) {
    date.tm_mday += plusDays;
    date.tm_hour = 0;
    date.tm_min = 0;
    date.tm_sec = secondsOfDay;
    date.tm_isdst = -1;
    return std::mktime(&date);
}

class Study {
  public:
    explicit Study(const StudyOptions& o)
        : m_options(o),
          m_clock(localTime(o.start, 0, 0)),
          m_driver(m_clock),
          m_nullOut(std::fopen("/dev/null", "w")) {
        SimUnitOptions unit;
        unit.seed = o.seed;
        lifelikeAnimal(unit, o.artefacts);
        unit.tail = o.tail;
        unit.menu[9] = static_cast<std::int16_t>(o.animal == kAnimalMouse ? kAnimalRat : o.animal);
        unit.smallAnimal = o.animal == kAnimalMouse ? kAnimalMouse : kAnimalRat;
        unit.adjustMs = 0;
        m_unit = &m_driver.addUnit(0, unit);
        char pattern[] = "/tmp/hx40k-simstudy-XXXXXX";
        if (mkdtemp(pattern)) m_controlFolder = pattern;
    }
    ~Study() {
        if (m_nullOut) std::fclose(m_nullOut);
        std::error_code ec;
        if (!m_controlFolder.empty()) fs::remove_all(m_controlFolder, ec);
    }

    // One animal's sitting, starting at wall time at; the program's exit status.
    int sitting(int animal, int day, std::time_t at) {
        const auto atMs = static_cast<std::int64_t>(at - localTime(m_options.start, 0, 0)) * 1000;
        m_clock.advanceTo(std::max(atMs, m_clock.nowMs()));
        m_unit->setPressureShift(shiftOn(groupOf(animal, m_options), day, m_options));
        // The operator clears the last animal's result from the unit's screen.
        if (m_unit->state() == kSimResult) m_unit->pressKey(kSimKeyStart);

        CVirtualEventLoop loop(m_clock);
        ConsoleAnswers answers;
        answers.animalNo = std::to_string(animal);
        answers.studyNo = "SIM";
        answers.sexAge = animal % 2 ? "M" : "F";
        answers.dataFolder = m_options.folder + "/";  // the program joins file names to it as it is
        CConsoleUi ui(loop, answers, m_options.verbose ? stdout : m_nullOut);
        ShellPorts ports;
        ports.ui = &ui;
        ports.loop = &loop;
        ports.profile = &m_profile;
        ports.driver = &m_driver;
        ports.receiverClock = &m_clock;
        ports.documentsFolder = m_controlFolder + "/";  // its own folders stay out of the study
        ports.controlFolder = m_controlFolder;
        ports.startCompanion = false;
        CApplicationShell shell(ports);
        int status = CHeadlessSession::kExitNoUnit;
        if (shell.startUp([&] { shell.document().setPresetDeviceId(0); })) {
            shell.document().preference().setDataFolder(*answers.dataFolder);
            shell.cleanUpDataFolder();
            SessionGoals goals;
            goals.measurements = m_options.cycles;
            CHeadlessSession session(shell, loop, ui, goals);
            status = session.begin() ? loop.run() : CHeadlessSession::kExitBadTimerFile;
            loop.setTarget(&shell.controller());
            shell.shutDown();
        }
        return status;
    }

  private:
    const StudyOptions& m_options;
    CVirtualClock m_clock;
    CSimDriver m_driver;
    CSimUnit* m_unit = nullptr;
    CMemoryProfileStore m_profile;
    std::FILE* m_nullOut;
    std::string m_controlFolder;
};

}  // namespace

int main(int argc, char** argv) {
    StudyOptions o;
    if (int status = parseOptions(argc, argv, o)) return status < 0 ? 0 : status;
    std::error_code ec;
    fs::create_directories(o.folder, ec);
    o.folder = fs::absolute(o.folder).lexically_normal().string();
    if (!o.folder.empty() && o.folder.back() == '/') o.folder.pop_back();
    if (ec || !writeAnimals(o)) {
        std::fprintf(stderr, "hx40k-simstudy: cannot write into %s\n", o.folder.c_str());
        return 3;
    }

    const auto began = std::chrono::steady_clock::now();
    Study study(o);
    // A slot per animal long enough for its sitting and the next animal.
    const int slotSeconds = std::max(20 * 60, o.cycles * 50 + 5 * 60);
    for (int day = 1; day <= o.days; ++day) {
        for (int animal = 1; animal <= o.animals; ++animal) {
            const std::time_t at = localTime(o.start, day - 1, 9 * 3600 + (animal - 1) * slotSeconds);
            const int status = study.sitting(animal, day, at);
            if (status != 0) {
                std::fprintf(stderr, "hx40k-simstudy: day %d, animal %d: the program ended with status %d\n",
                             day, animal, status);
                return 2;
            }
        }
        std::printf("day %d (%s): %d animals, %d cycles each\n", day, dateText(o.start, day - 1).c_str(),
                    o.animals, o.cycles);
        std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("study in %s: %d animals, %d groups, %d days, %d cycles a sitting; %.1f s\n",
                o.folder.c_str(), o.animals, o.groups, o.days, o.cycles, seconds);
    return 0;
}
