// The simulated unit in virtual time: what one whole measurement costs (the
// --fast mode and every end-to-end test pay it), the unit's own estimate
// alone, and one second of live view through the driver.

#include <benchmark/benchmark.h>

#include <vector>

#include "app/VirtualClock.h"
#include "sim/Oscillometry.h"
#include "sim/SimDriver.h"

namespace {

using namespace hx;

SimUnitOptions quickUnit(int type) {
    SimUnitOptions o;
    o.adjustMs = 0;
    o.seed = 11;
    o.menu[9] = static_cast<std::int16_t>(type);
    return o;
}

// Runs the clock until the unit has sent its next result, reading every record.
void runMeasurement(CVirtualClock& clock, CSimDriver& driver, CSimUnit& unit, DriverHandle in) {
    const int before = unit.resultCount();
    std::uint8_t buffer[64];
    unit.pressKey(4);
    while (unit.resultCount() == before) {
        const auto next = clock.nextDeadline();
        if (!next) break;
        clock.advanceTo(*next);
        while (unit.queuedRecords() > 0) {
            if (driver.readPipe(in, buffer, sizeof buffer).error != LinkError::None) break;
            clock.endActivity();
        }
    }
    unit.pressKey(4);  // back to View for the next round
}

void BM_MeasurementInVirtualTime(benchmark::State& state) {
    CVirtualClock clock;
    CSimDriver driver(clock);
    CSimUnit& unit = driver.addUnit(0, quickUnit(static_cast<int>(state.range(0))));
    const DriverHandle in = driver.open(unit.devicePath() + "\\if000pipe000").value;
    for (auto _ : state) runMeasurement(clock, driver, unit, in);
    state.counters["samples"] =
        benchmark::Counter(unit.lastResult() ? unit.lastResult()->recordedSamples : 0);
    driver.close(in);
}
BENCHMARK(BM_MeasurementInVirtualTime)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_UnitsOwnEstimate(benchmark::State& state) {
    CVirtualClock clock;
    CSimDriver driver(clock);
    CSimUnit& unit = driver.addUnit(0, quickUnit(static_cast<int>(state.range(0))));
    const DriverHandle in = driver.open(unit.devicePath() + "\\if000pipe000").value;
    // Rebuild one recording from the stream, then estimate it over and over.
    std::vector<std::int16_t> pressure, wave;
    std::uint8_t buffer[64];
    unit.pressKey(4);
    bool recording = false;
    while (unit.resultCount() == 0) {
        clock.advanceTo(*clock.nextDeadline());
        while (unit.queuedRecords() > 0) {
            const PipeReadResult r = driver.readPipe(in, buffer, sizeof buffer);
            clock.endActivity();
            if (r.error != LinkError::None || (buffer[0] & 0x0F) != 4) continue;
            recording = recording || ((buffer[2] << 8) | buffer[3]) == 0x8000;
            if (!recording || unit.state() != kSimRecord) continue;
            for (int k = 0; k < (buffer[1] & 0x0F); ++k) {
                auto s12 = [](int w) {
                    return static_cast<std::int16_t>((w & 0x800) ? (w | ~0xFFF) : (w & 0xFFF));
                };
                pressure.push_back(s12((buffer[8 + 4 * k] << 8) | buffer[9 + 4 * k]));
                wave.push_back(s12((buffer[10 + 4 * k] << 8) | buffer[11 + 4 * k]));
            }
        }
    }
    for (auto _ : state) benchmark::DoNotOptimize(estimateOscillometric(pressure, wave, kSampleRateHz));
    state.counters["samples"] = benchmark::Counter(static_cast<double>(wave.size()));
    driver.close(in);
}
BENCHMARK(BM_UnitsOwnEstimate)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_OneSecondOfLiveView(benchmark::State& state) {
    CVirtualClock clock;
    CSimDriver driver(clock);
    CSimUnit& unit = driver.addUnit(0, quickUnit(1));
    const DriverHandle in = driver.open(unit.devicePath() + "\\if000pipe000").value;
    std::uint8_t buffer[64];
    for (auto _ : state) {
        const std::int64_t end = clock.nowMs() + 1000;
        while (clock.nowMs() < end) {
            clock.advanceTo(*clock.nextDeadline());
            while (unit.queuedRecords() > 0) {
                driver.readPipe(in, buffer, sizeof buffer);
                clock.endActivity();
            }
        }
    }
    driver.close(in);
}
BENCHMARK(BM_OneSecondOfLiveView)->Unit(benchmark::kMicrosecond);

}  // namespace
