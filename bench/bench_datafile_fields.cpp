// Reading the fields of a data file, as hx40k-data stats does for every file
// of a folder: by path (a look at the size, then two reads) and by name in an
// open folder (one read of the whole file). The files sit in the page cache,
// so this is the warm cost: mostly the kernel's open, read and close.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/DataFileReader.h"
#include "data/DataFileSample.h"
#include "data/DataFileWriter.h"

namespace {

constexpr int kFiles = 256;

// A folder of kFiles copies of a sample file, removed at exit.
struct SampleFolder {
    std::string path;
    std::vector<std::string> names;
    int fd = -1;

    SampleFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "bench-fields-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
        const hx::DataFileSample sample = hx::makeSampleMeasurement(1);
        hx::DataFileRequest request;
        request.result = &sample.result;
        request.pressureRing = &sample.pressure;
        request.waveRing = &sample.wave;
        request.animal = sample.animal;
        const std::vector<std::uint8_t> bytes = hx::buildDataFileBytes(request);
        for (int i = 0; i < kFiles; ++i) {
            names.push_back("B" + std::to_string(10000000 + i) + ".001");
            std::ofstream(path + "/" + names.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        }
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~SampleFolder() {
        ::close(fd);
        std::filesystem::remove_all(path);
    }
};

const SampleFolder& folder() {
    static const SampleFolder sample;
    return sample;
}

void BM_FieldsByPath(benchmark::State& state) {
    const SampleFolder& f = folder();
    std::vector<std::string> paths;
    for (const auto& name : f.names) paths.push_back(f.path + "/" + name);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hx::readDataFileFields(paths[i]).ok);
        i = (i + 1) % paths.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FieldsByPath);

void BM_FieldsByNameInFolder(benchmark::State& state) {
    const SampleFolder& f = folder();
    std::vector<std::string> paths;
    for (const auto& name : f.names) paths.push_back(f.path + "/" + name);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hx::readDataFileFieldsAt(f.fd, f.names[i].c_str(), paths[i]).ok);
        i = (i + 1) % paths.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FieldsByNameInFolder);

}  // namespace
