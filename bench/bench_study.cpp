// hx40k-data study's work on a results log of 100,000 rows (40 animals in 4
// groups, 100 days, 25 cycles a day): reading the log, the figures, the
// outputs. The goal is well under 2 s for the whole; the tool's memory is
// measured on a run (see the study folder's README).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "session/ResultsLog.h"
#include "study/Study.h"

namespace {

const std::string& logPath() {
    static const std::string path = [] {
        const auto dir = std::filesystem::temp_directory_path() / "hx40k-bench-study";
        std::filesystem::create_directories(dir);
        const std::string file = (dir / hx::kResultsLogName).string();
        std::string text = hx::resultsLogHeader();
        int session = 0;
        for (int day = 0; day < 100; ++day) {
            for (int animal = 1; animal <= 40; ++animal) {
                ++session;
                for (int n = 1; n <= 25; ++n) {
                    hx::ResultsLogRow r;
                    char when[32];
                    std::snprintf(when, sizeof when, "2026-%02d-%02d 09:%02d:%02d", 1 + day / 28,
                                  1 + day % 28, animal, n);
                    r.dateTime = when;
                    r.deviceId = 1 + animal % 4;
                    r.animalNo = std::to_string(animal);
                    r.n = std::to_string(n);
                    r.hr = std::to_string(360 + (n * 7 + animal) % 40);
                    r.sbp = std::to_string(115 + (n * 13 + day) % 25 + (animal % 4) * 3);
                    r.mbp = std::to_string(95 + (n * 11) % 15);
                    r.dbp = std::to_string(80 + (n * 5) % 12);
                    r.errorCode = n % 11 == 0 ? 16 : 0;
                    r.saved = true;
                    r.saveRule = "Always";
                    r.session = session;
                    text += hx::formatResultsLogRow(r);
                }
            }
        }
        std::FILE* f = std::fopen(file.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        return file;
    }();
    return path;
}

hx::AnimalsTable animals() {
    std::string text = "Animal No,Group\r\n";
    for (int a = 1; a <= 40; ++a) text += std::to_string(a) + ",G" + std::to_string(a % 4) + "\r\n";
    return hx::parseAnimals(text);
}

void StudyOf100000Rows(benchmark::State& state) {
    const std::string path = logPath();
    const hx::AnimalsTable table = animals();
    for (auto _ : state) {
        std::string reason;
        const auto log = hx::readResultsLog(path, reason);
        const hx::StudyFigures study = hx::computeStudy(log->rows, table, {}, hx::StudyRules{});
        const std::string out = hx::formatStudyLong(study) + hx::formatStudyWide(study);
        benchmark::DoNotOptimize(out.data());
        state.counters["rows"] = static_cast<double>(log->rows.size());
    }
}
BENCHMARK(StudyOf100000Rows)->Unit(benchmark::kMillisecond);

}  // namespace
