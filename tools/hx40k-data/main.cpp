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

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
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

// Data files to read: paths as given, or the regular files of a folder.
struct DataFileList {
    std::vector<std::string> paths;
    int folder = -1;                  // the open folder the paths name files of, or -1
    std::size_t nameAt = 0;           // where the file's name starts in each path
    std::vector<bool> listedRegular;  // the folder's listing said a regular file (no link)
};

hx::DataFileParse readFields(const DataFileList& list, std::size_t i) {
    if (list.folder >= 0 && list.listedRegular[i])
        return hx::readDataFileFieldsAt(list.folder, list.paths[i].c_str() + list.nameAt, list.paths[i]);
    return hx::readDataFileFields(list.paths[i]);
}

// The regular files of folder (links to them too), each named as folder +
// "/" + name, in the order of their inode numbers (reading them in that
// order is faster, and the statistics sort them anyway). The listing's file
// type is trusted where it gives one; only links and entries of unknown type
// are looked at. Entries that are not regular files, or links that lead
// nowhere, are left out. Returns false with the reason when the folder
// cannot be listed.
bool listFolder(const std::string& folder, DIR* dir, DataFileList& list, std::string& error) {
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    list.folder = ::dirfd(dir);
    list.nameAt = prefix.size();
    struct Listed {
        ino_t inode;
        std::string path;
        bool regular;
    };
    std::vector<Listed> listed;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        const bool regular = entry->d_type == DT_REG;
        if (!regular && (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)) {
            struct stat info {};
            if (::fstatat(list.folder, name, &info, 0) != 0 || !S_ISREG(info.st_mode)) continue;
        } else if (!regular) {
            continue;
        }
        listed.push_back({entry->d_ino, prefix + name, regular});
    }
    if (errno != 0) {
        error = std::strerror(errno);
        return false;
    }
    std::sort(listed.begin(), listed.end(),
              [](const Listed& a, const Listed& b) { return a.inode < b.inode; });
    list.paths.reserve(listed.size());
    for (auto& entry : listed) {
        list.paths.push_back(std::move(entry.path));
        list.listedRegular.push_back(entry.regular);
    }
    return true;
}

// What reading one file gave the statistics.
struct FileRead {
    enum { NotData, OtherAnimal, Cycle } kind = NotData;
    hx::SessionCycle cycle;  // for Cycle
    std::string error;       // for NotData: why
};

FileRead readCycle(const DataFileList& list, std::size_t i, const std::optional<std::string>& animal) {
    FileRead read;
    // The statistics need the result, not the recording: the waves are left unread.
    hx::DataFileParse parse = readFields(list, i);
    if (!parse.ok) {
        read.error = std::move(parse.error);
    } else if (animal && parse.contents.animal.animalNo != *animal) {
        read.kind = FileRead::OtherAnimal;
    } else {
        const std::string& path = list.paths[i];
        const std::size_t slash = path.rfind('/');
        read.kind = FileRead::Cycle;
        read.cycle =
            hx::cycleFromDataFile(parse.contents, slash == std::string::npos ? path : path.substr(slash + 1));
    }
    return read;
}

// Reads every file of the list, on a few threads when there are many
// (opening and reading a file is mostly the kernel's work, which runs on
// as many processors as there are readers); the results in the list's order.
std::vector<FileRead> readCycles(const DataFileList& list, const std::optional<std::string>& animal) {
    constexpr std::size_t kBatch = 64;  // files a reader takes at a time
    std::vector<FileRead> reads(list.paths.size());
    std::atomic<std::size_t> next{0};
    std::mutex failedMutex;
    std::exception_ptr failed;
    auto reader = [&] {
        try {
            for (std::size_t from; (from = next.fetch_add(kBatch)) < reads.size();)
                for (std::size_t i = from; i < std::min(from + kBatch, reads.size()); ++i)
                    reads[i] = readCycle(list, i, animal);
        } catch (...) {
            const std::lock_guard lock(failedMutex);
            if (!failed) failed = std::current_exception();
            next = reads.size();
        }
    };
    const std::size_t processors = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    const std::size_t readers = std::clamp<std::size_t>(reads.size() / kBatch, 1, processors);
    std::vector<std::thread> threads;
    try {
        for (std::size_t t = 1; t < readers; ++t) threads.emplace_back(reader);
    } catch (const std::system_error&) {
        // A reader fewer: the others take its files.
    }
    reader();
    for (auto& thread : threads) thread.join();
    if (failed) std::rethrow_exception(failed);
    return reads;
}

int statsFromDataFiles(const DataFileList& list, bool skipForeign, const StatsOptions& options) {
    std::vector<FileRead> reads = readCycles(list, options.animal);
    std::vector<std::size_t> found;
    found.reserve(reads.size());
    std::size_t foreign = 0;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        if (reads[i].kind == FileRead::NotData) {
            if (!skipForeign) {
                std::fprintf(stderr, "hx40k-data: %s: not a valid data file: %s\n", list.paths[i].c_str(),
                             reads[i].error.c_str());
                return kExitFile;
            }
            ++foreign;
        } else if (reads[i].kind == FileRead::Cycle) {
            found.push_back(i);
        }
    }
    if (foreign) std::fprintf(stderr, "hx40k-data: %zu files that are not data files left out\n", foreign);
    if (found.empty()) {
        std::fprintf(stderr, "hx40k-data: no data files%s%s\n", options.animal ? " for animal " : "",
                     options.animal ? options.animal->c_str() : "");
        return kExitFile;
    }
    // In the order they were measured (the stored date and time), then by
    // path: the given order only between a path given twice. The keys sit
    // side by side, not in the reads.
    struct Key {
        std::string_view dateTime;
        std::size_t index;
    };
    std::vector<Key> order;
    order.reserve(found.size());
    for (std::size_t i : found) order.push_back({reads[i].cycle.dateTime, i});
    std::stable_sort(order.begin(), order.end(), [&](const Key& a, const Key& b) {
        return a.dateTime != b.dateTime ? a.dateTime < b.dateTime : list.paths[a.index] < list.paths[b.index];
    });
    std::vector<hx::SessionCycle> cycles;
    cycles.reserve(order.size());
    for (const Key& key : order) cycles.push_back(std::move(reads[key.index].cycle));
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
            const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(input.c_str()), ::closedir);
            std::string error = dir ? "" : std::strerror(errno);
            DataFileList files;
            if (!dir || !listFolder(input, dir.get(), files, error)) {
                std::fprintf(stderr, "hx40k-data: %s: %s\n", input.c_str(), error.c_str());
                return kExitFile;
            }
            return statsFromDataFiles(files, true, options);
        }
        if (fs::path(input).extension() == ".csv") return statsFromLog(input, options);
    }
    DataFileList files;
    files.paths = options.inputs;
    return statsFromDataFiles(files, false, options);
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
