// hx40k-data: reads the program's data files for researchers, and writes a
// synthetic sample file to try it on.
//
//   hx40k-data dump FILE...            all fields and both waves as JSON
//   hx40k-data csv FILE...             index,pressure,wave: one line per sample
//   hx40k-data analyse FILE...         the program's envelope analysis as JSON
//                                      (many files in one run: FileCommands.h)
//   hx40k-data sample FILE [--seed N]  writes a synthetic measurement
//   hx40k-data stats [OPTIONS] FOLDER|results.csv|FILE...
//                                      a session's cycles and summary, from the
//                                      results log or from data files alone
//
// Exit status: 0 done; 1 usage error (usage on stderr); 2 the file could not
// be read, is damaged or is not a data file, or could not be written.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FileCommands.h"
#include "StudyCommand.h"
#include "app/MessagePort.h"
#include "data/DataFileReader.h"
#include "data/DataFileSample.h"
#include "data/DataFileWriter.h"
#include "session/ResultsLog.h"
#include "session/SessionStats.h"

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitFile = 2;

constexpr const char* kUsage =
    "       hx40k-data sample FILE [--seed N]  write a synthetic sample data file\n"
    "       hx40k-data stats [--acclimation N] [--outlier-k K] [--animal ID] [--json] "
    "FOLDER|results.csv|FILE...\n"
    "                                          the session's cycles and summary: from the results log\n"
    "                                          (FOLDER's, or the .csv given; the last session, or the\n"
    "                                          animal's last), or from data files alone (a FOLDER\n"
    "                                          without a log, or FILEs; the heart rate is not stored)\n";

int usage(const char* problem) {
    std::fprintf(stderr, "hx40k-data: %s\n%s%s%s", problem, hxdata::kFileUsage, kUsage, hxdata::kStudyUsage);
    return kExitUsage;
}

int writeOut(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "hx40k-data: cannot write the output: %s\n", std::strerror(errno));
        return kExitFile;
    }
    return 0;
}

// Message boxes go to stderr; the save dialog answers with the file named on
// the command line, so the sample goes exactly where it was asked to.
class CConsolePort final : public hx::IMessagePort {
  public:
    explicit CConsolePort(std::string path) : m_path(std::move(path)) {}
    hx::MsgAnswer messageBox(const std::string& text, const std::string& caption, hx::MsgIcon,
                             hx::MsgButtons) override {
        std::fprintf(stderr, "hx40k-data: %s: %s\n", caption.c_str(), text.c_str());
        return hx::MsgAnswer::Ok;
    }
    std::optional<std::string> saveFileDialog(const std::string&, const std::string&) override {
        return m_path;
    }

  private:
    std::string m_path;
};

std::optional<std::uint32_t> parseSeed(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

int sample(const std::string& path, std::uint32_t seed) {
    const hx::DataFileSample measurement = hx::makeSampleMeasurement(seed);
    hx::DataFileRequest request;
    request.result = &measurement.result;
    request.pressureRing = &measurement.pressure;
    request.waveRing = &measurement.wave;
    request.animal = measurement.animal;
    request.filenameType = 2;  // "Free": the port answers with path
    request.timerMode = 0;
    CConsolePort port(path);
    return hx::writeDataFile(request, port) == 0 ? 0 : kExitFile;
}

struct StatsOptions {
    hx::SessionSettings settings;
    std::optional<std::string> animal;
    bool json = false;
    std::vector<std::string> inputs;
};

int printStats(const hx::SessionStats& stats, bool hrStored, const std::string& heading, bool json) {
    if (json) return writeOut(hx::formatSessionJson(stats, hrStored));
    return writeOut(heading + "\n" + hx::formatSessionText(stats, hrStored));
}

int statsFromLog(const std::string& path, const StatsOptions& options) {
    std::string reason;
    // Read from the end: the newest session (of the animal asked for) is
    // there, however long the log has grown.
    auto log = hx::readNewestSession(path, reason, [&](const hx::ResultsLogRow& r) {
        return !options.animal || r.animalNo == *options.animal;
    });
    if (!log) {
        std::fprintf(stderr, "hx40k-data: %s: %s\n", path.c_str(), reason.c_str());
        return kExitFile;
    }
    if (log->damagedLines)
        std::fprintf(stderr, "hx40k-data: %s: %zu damaged rows left out\n", path.c_str(), log->damagedLines);
    if (log->rows.empty()) {
        std::fprintf(stderr, "hx40k-data: %s: no results%s%s\n", path.c_str(),
                     options.animal ? " for animal " : "", options.animal ? options.animal->c_str() : "");
        return kExitFile;
    }
    std::vector<hx::SessionCycle> cycles;
    for (const auto& r : log->rows) cycles.push_back(hx::cycleFromLogRow(r));
    const hx::ResultsLogRow& first = log->rows.front();
    const std::string heading = path + ": session " + std::to_string(first.session) + ", device ID " +
                                std::to_string(first.deviceId) + ", animal " + first.animalNo;
    return printStats(hx::computeSessionStats(std::move(cycles), options.settings), true, heading,
                      options.json);
}

int statsFromDataFiles(const std::vector<std::string>& paths, bool skipForeign, const StatsOptions& options) {
    struct Found {
        hx::SessionCycle cycle;
        std::string path;
    };
    std::vector<Found> found;
    std::size_t foreign = 0;
    for (const auto& path : paths) {
        // The statistics need the result, not the recording: the waves are left unread.
        hx::DataFileParse parse = hx::readDataFileFields(path);
        if (!parse.ok) {
            if (!skipForeign) {
                std::fprintf(stderr, "hx40k-data: %s: not a valid data file: %s\n", path.c_str(),
                             parse.error.c_str());
                return kExitFile;
            }
            ++foreign;
            continue;
        }
        if (options.animal && parse.contents.animal.animalNo != *options.animal) continue;
        const std::string name = std::filesystem::path(path).filename().string();
        found.push_back({hx::cycleFromDataFile(parse.contents, name), path});
    }
    if (foreign) std::fprintf(stderr, "hx40k-data: %zu files that are not data files left out\n", foreign);
    if (found.empty()) {
        std::fprintf(stderr, "hx40k-data: no data files%s%s\n", options.animal ? " for animal " : "",
                     options.animal ? options.animal->c_str() : "");
        return kExitFile;
    }
    // In the order they were measured (the stored date and time), then by name.
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.cycle.dateTime != b.cycle.dateTime ? a.cycle.dateTime < b.cycle.dateTime : a.path < b.path;
    });
    std::vector<hx::SessionCycle> cycles;
    for (auto& f : found) cycles.push_back(std::move(f.cycle));
    const std::string heading = std::to_string(cycles.size()) + " data files";
    return printStats(hx::computeSessionStats(std::move(cycles), options.settings), false, heading,
                      options.json);
}

int stats(const std::vector<std::string>& args) {
    StatsOptions options;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--json") {
            options.json = true;
        } else if (a == "--acclimation" && hasValue) {
            const auto n = hx::parseAcclimation(args[++i]);
            if (!n) return usage("--acclimation takes a whole number from 0 to 99");
            options.settings.acclimation = *n;
        } else if (a == "--outlier-k" && hasValue) {
            const auto k = hx::parseOutlierK(args[++i]);
            if (!k) return usage("--outlier-k takes a number from 0 (off) to 100");
            options.settings.outlierK = *k;
        } else if (a == "--animal" && hasValue) {
            options.animal = args[++i];
        } else if (a.rfind("--", 0) == 0) {
            return usage(("stats: unknown or incomplete option \"" + a + "\"").c_str());
        } else {
            options.inputs.push_back(a);
        }
    }
    if (options.inputs.empty()) return usage("stats takes a FOLDER, a results.csv or data FILEs");
    namespace fs = std::filesystem;
    std::error_code ec;
    if (options.inputs.size() == 1) {
        const std::string& input = options.inputs[0];
        if (fs::is_directory(input, ec)) {
            const std::string log = hx::resultsLogPath(input);
            if (fs::exists(log, ec)) return statsFromLog(log, options);
            std::vector<std::string> files;
            for (const auto& entry : fs::directory_iterator(input, ec))
                if (entry.is_regular_file(ec)) files.push_back(entry.path().string());
            if (ec) {
                std::fprintf(stderr, "hx40k-data: %s: %s\n", input.c_str(), ec.message().c_str());
                return kExitFile;
            }
            return statsFromDataFiles(files, true, options);
        }
        if (fs::path(input).extension() == ".csv") return statsFromLog(input, options);
    }
    return statsFromDataFiles(options.inputs, false, options);
}

int run(const std::vector<std::string>& args) {
    if (args.empty()) return usage("no command given");
    const std::string& command = args[0];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(hxdata::kFileUsage, stdout);
        std::fputs(kUsage, stdout);
        std::fputs(hxdata::kStudyUsage, stdout);
        return 0;
    }
    if (command == "sample") {
        if (args.size() == 2) return sample(args[1], 1);
        if (args.size() == 4 && args[2] == "--seed") {
            const auto seed = parseSeed(args[3]);
            if (!seed) return usage("the seed must be a whole number from 0 to 4294967295");
            return sample(args[1], *seed);
        }
        return usage("sample takes FILE and optionally --seed N");
    }
    if (command == "stats") return stats(args);
    if (command == "study") return hxdata::studyCommand(args);
    if (command == "report") return hxdata::reportCommand(args);
    if (command == "dump" || command == "csv" || command == "analyse") return hxdata::fileCommand(args);
    return usage(("unknown command \"" + command + "\"").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "hx40k-data: %s\n", error.what());
        return kExitFile;
    }
}
