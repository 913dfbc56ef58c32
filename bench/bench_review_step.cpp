// One step of the recording review (Page Down in the window) in a long
// study's folder: 10,000 data files, a results log of 100,000 rows (every
// tenth names a data file) and a review log of 100,000 hand changes. A step
// finds the next file by last write time, opens it (read and analysed) and
// gives its verdict from the logs, as the window does. The folder is made
// once per run and removed at exit.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "review/CRecordingFolder.h"
#include "review/CRecordingReview.h"
#include "session/ResultsLog.h"
#include "study/RecordingVerdicts.h"
#include "study/ReviewLog.h"
#include "study/Sitting.h"
#include "support/DataFileFixture.h"

namespace {

constexpr int kFiles = 10000;
constexpr int kRows = 100000;
constexpr int kChanges = 100000;

std::string fileName(int i) { return "B" + std::to_string(10000000 + i) + ".001"; }

void settle(const std::string& folder) {
    const timespec past[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, folder.c_str(), past, 0);
}

// The folder, made once and removed at exit.
struct StudyFolder {
    std::string path;

    StudyFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "bench-review-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
        const hx::test::DataFileFixture data;
        const std::vector<std::uint8_t> bytes = hx::buildDataFileBytes(data.request);
        for (int i = 0; i < kFiles; ++i) {
            const std::string file = path + "/" + fileName(i);
            std::ofstream(file, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            // One a minute, so the order by time is the order of the names.
            const timespec times[2] = {{1700000000 + 60L * i, 0}, {1700000000 + 60L * i, 0}};
            ::utimensat(AT_FDCWD, file.c_str(), times, 0);
        }
        std::string log = hx::resultsLogHeader(), review = hx::reviewLogHeader();
        for (int i = 0; i < kRows; ++i) {
            hx::ResultsLogRow r;
            char when[32];
            std::snprintf(when, sizeof when, "2026-%02d-%02d %02d:%02d:%02d", 1 + i / 9000, 1 + i / 300 % 28,
                          i / 60 % 24, i % 60, i % 59);
            r.dateTime = when;
            r.deviceId = 1 + i % 4;
            r.animalNo = std::to_string(i / 25 % 40);
            r.n = std::to_string(i % 25 + 1);
            r.hr = std::to_string(360 + i % 40);
            r.sbp = std::to_string(115 + (i * 13) % 25);
            r.mbp = std::to_string(95 + (i * 11) % 15);
            r.dbp = std::to_string(80 + (i * 5) % 12);
            r.saved = true;
            r.saveRule = "Always";
            r.dataFile = i % 10 == 0 ? fileName(i / 10) : "";
            r.unitVersion = "HX-40K Ver 2.10";
            r.programVersion = "1.0.0";
            r.session = 1 + i / 25;
            log += hx::formatResultsLogRow(r);
            if (i < kChanges) {
                hx::ReviewChange c;
                c.time = c.cycle.dateTime = r.dateTime;
                c.user = "bench";
                c.cycle = hx::cycleKeyOf(r);
                c.oldAccepted = true;
                c.reason = "movement";
                review += hx::formatReviewChange(c);
            }
        }
        std::ofstream(path + "/" + hx::kResultsLogName, std::ios::binary) << log;
        std::ofstream(path + "/" + hx::kReviewLogName, std::ios::binary) << review;
        // The folder as a study's is between recordings: not changed in the last seconds (a folder
        // changed that recently is listed again at every step, as a file saved in the same clock
        // tick would not change its time).
        settle(path);
    }
    ~StudyFolder() { std::filesystem::remove_all(path); }
};

const StudyFolder& folder() {
    static const StudyFolder study;
    return study;
}

// Page Down from a file in the middle of the folder, then Page Up back, as
// the window steps: the folder's order and the logs kept from step to step.
void BM_ReviewStep(benchmark::State& state) {
    const StudyFolder& f = folder();
    const std::size_t heapBefore = ::mallinfo2().uordblks;
    hx::CRecordingFolder files;
    hx::CRecordingVerdicts verdicts(f.path + "/");
    std::string current = f.path + "/" + fileName(kFiles / 2);
    // Opening the first recording reads the logs whole and the first step lists the folder.
    std::string warm;
    verdicts.verdict(fileName(kFiles / 2), hx::StudyRules{}, warm);
    files.step(current, -1);
    // What the window keeps between steps.
    state.counters["kept_MB"] = static_cast<double>(::mallinfo2().uordblks - heapBefore) / 1e6;
    int step = +1;
    for (auto _ : state) {
        auto next = files.step(current, step);
        std::string reason;
        if (!next || !verdicts.verdict(next->fileName(), hx::StudyRules{}, reason))
            state.SkipWithError("no step");
        current = next->path();
        step = -step;
    }
}
BENCHMARK(BM_ReviewStep)->Unit(benchmark::kMicrosecond);

// Page Down and Page Up in a folder of one's own (HX40K_REVIEW_FOLDER, for
// example the data folder of a long --fast run), from its middle file.
void BM_ReviewStepInFolder(benchmark::State& state) {
    const char* given = std::getenv("HX40K_REVIEW_FOLDER");
    if (!given) {
        state.SkipWithError("HX40K_REVIEW_FOLDER is not set");
        return;
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(given))
        if (entry.path().filename().string().starts_with("B")) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    if (names.empty()) {
        state.SkipWithError("no data file in HX40K_REVIEW_FOLDER");
        return;
    }
    hx::CRecordingFolder files;
    hx::CRecordingVerdicts verdicts(std::string(given) + "/");
    std::string current = names[names.size() / 2], reason;
    verdicts.verdict(std::filesystem::path(current).filename().string(), hx::StudyRules{}, reason);
    files.step(current, -1);
    int step = +1;
    for (auto _ : state) {
        auto next = files.step(current, step);
        if (!next) {
            state.SkipWithError("no step");
            break;
        }
        benchmark::DoNotOptimize(verdicts.verdict(next->fileName(), hx::StudyRules{}, reason));
        current = next->path();
        step = -step;
    }
}
BENCHMARK(BM_ReviewStepInFolder)->Unit(benchmark::kMicrosecond);

// The same with nothing kept: the whole folder listed and both logs read at
// every step, as each step did before the window kept them.
void BM_ReviewStepFromScratch(benchmark::State& state) {
    const StudyFolder& f = folder();
    std::string current = f.path + "/" + fileName(kFiles / 2);
    int step = +1;
    for (auto _ : state) {
        auto next = hx::CRecordingFolder().step(current, step);
        std::string reason;
        if (!next || !hx::recordingVerdict(f.path + "/", next->fileName(), hx::StudyRules{}, reason))
            state.SkipWithError("no step");
        current = next->path();
        step = -step;
    }
}
BENCHMARK(BM_ReviewStepFromScratch)->Unit(benchmark::kMillisecond);

// Page Down to a recording saved since the last step: a new data file (the
// folder changed) and its row appended to the results log.
void BM_ReviewStepToANewRecording(benchmark::State& state) {
    const StudyFolder& f = folder();
    hx::CRecordingFolder files;
    hx::CRecordingVerdicts verdicts(f.path + "/");
    static int added = kFiles;  // new names in every run of the benchmark
    std::string current = f.path + "/" + fileName(added - 1);
    std::string reason;
    files.step(current, -1);
    verdicts.verdict(fileName(added - 1), hx::StudyRules{}, reason);
    const std::string bytes = [&] {
        std::ifstream in(current, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string name = fileName(added);
        const std::string file = f.path + "/" + name;
        std::ofstream(file, std::ios::binary) << bytes;
        const timespec times[2] = {{1700000000 + 60L * added, 0}, {1700000000 + 60L * added, 0}};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
        hx::ResultsLogRow r;
        r.dateTime = "2026-12-01 10:00:00";
        r.deviceId = 1;
        r.animalNo = "new";
        r.n = std::to_string(added);
        r.sbp = "120";
        r.dataFile = name;
        hx::appendResultsLog(f.path, r);
        ++added;
        state.ResumeTiming();
        auto next = files.step(current, +1);
        if (!next || next->path() != file || !verdicts.verdict(name, hx::StudyRules{}, reason))
            state.SkipWithError("the new recording was not found");
        current = file;
    }
}
BENCHMARK(BM_ReviewStepToANewRecording)->Unit(benchmark::kMicrosecond);

}  // namespace
