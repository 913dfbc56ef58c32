// hx40k-simcheck: how well the simulated unit's own estimate and the program's
// envelope analysis find the simulated animal's true pressures.
//
//   hx40k-simcheck [--count N] [--seed S] [--artefacts none|normal|many]... [--tail warm|cold]...
//
// For every animal, tail and artefact level, N measurements (default 200) in
// sittings of 10 cycles, each sitting on a fresh lifelike unit with its own
// seed (a trained animal), in virtual time. The wave packets
// are read from the pipe into two 4000-sample rings as the program keeps them,
// and the rings are frozen when the result arrives. Printed per row: the share
// of measurements that ended with an error code (and which codes), then mean
// and standard deviation of (estimate - truth) in mmHg for SBP, MBP and DBP
// (HR in per cent) of the unit's estimate, and the same for the pressures the
// program's envelope gives (MBP at its top, SBP and DBP where it crosses 0.55
// and 0.75 of the top before and after it) on the measurements the unit
// accepted; "no env" counts those where the envelope gave no such crossings.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analysis/OscillometricAnalysis.h"
#include "app/VirtualClock.h"
#include "base/RecordAreas.h"
#include "sim/SimDriver.h"

namespace {

using namespace hx;

struct Stat {
    double sum = 0, sumSq = 0;
    int n = 0;
    void add(double v) {
        sum += v;
        sumSq += v * v;
        ++n;
    }
    double mean() const { return n ? sum / n : 0.0; }
    double sd() const { return n > 1 ? std::sqrt(std::max(0.0, (sumSq - sum * sum / n) / (n - 1))) : 0.0; }
};

struct Measurement {
    SimResult result;
    Ring pressure{};
    Ring wave{};
};

int sample12(int word) { return (word & 0x800) ? (word | ~0xFFF) : (word & 0xFFF); }

struct Row {
    int animal;
    SimTail tail;
    SimArtefacts artefacts;
};

constexpr int kSittingCycles = 10;

// A sitting of kSittingCycles measurements on a fresh unit, the rings filled
// from the stream as the program fills them (each packet at its ring index;
// the restart mark is 0) and frozen at each result.
std::vector<Measurement> sitting(const Row& row, std::uint32_t seed) {
    CVirtualClock clock;
    CSimDriver driver(clock);
    SimUnitOptions o;
    o.adjustMs = 0;
    o.seed = seed;
    o.menu[9] = static_cast<std::int16_t>(row.animal == kAnimalMouse ? kAnimalRat : row.animal);
    o.smallAnimal = row.animal == kAnimalMouse ? kAnimalMouse : kAnimalRat;
    lifelikeAnimal(o, row.artefacts);
    o.trainingMmHg = 0.0;  // a trained animal
    o.tail = row.tail;
    CSimUnit& unit = driver.addUnit(0, o);
    const DriverHandle in = driver.open(unit.devicePath() + "\\if000pipe000").value;
    std::vector<Measurement> out;
    Measurement m;
    std::uint8_t buffer[64];
    for (int cycle = 0; cycle < kSittingCycles; ++cycle) {
        unit.pressKey(4);
        while (unit.resultCount() == cycle) {
            const auto next = clock.nextDeadline();
            if (!next) break;
            clock.advanceTo(*next);
            while (unit.queuedRecords() > 0) {
                const PipeReadResult r = driver.readPipe(in, buffer, sizeof buffer);
                clock.endActivity();
                if (r.error != LinkError::None || r.bytes < 8 || (buffer[0] & 0x0F) != 4) continue;
                const int mark = (buffer[2] << 8) | buffer[3];
                int index = mark == kRestartMark ? 0 : mark % static_cast<int>(kRingSize);
                const int pairs = std::min<int>(buffer[1] & 0x0F, (static_cast<int>(r.bytes) - 8) / 4);
                for (int k = 0; k < pairs; ++k, index = (index + 1) % static_cast<int>(kRingSize)) {
                    m.pressure[static_cast<std::size_t>(index)] =
                        static_cast<std::int16_t>(sample12((buffer[8 + 4 * k] << 8) | buffer[9 + 4 * k]));
                    m.wave[static_cast<std::size_t>(index)] =
                        static_cast<std::int16_t>(sample12((buffer[10 + 4 * k] << 8) | buffer[11 + 4 * k]));
                }
            }
        }
        m.result = unit.lastResult().value_or(SimResult{});
        out.push_back(m);
        unit.pressKey(4);  // back to View
    }
    driver.close(in);
    return out;
}

struct EnvelopePressures {
    bool found = false;
    double sbp = 0, mbp = 0, dbp = 0;
};

// Pressures read off the program's envelope curve with the unit's ratios.
EnvelopePressures envelopePressures(COscillometricAnalysis& analysis, const Measurement& m) {
    analysis.analyse(m.pressure, m.wave, 0);
    EnvelopePressures p;
    if (!analysis.hasCurve()) return p;
    const auto& curve = analysis.envelope();
    const int length = analysis.recordingLength();
    int top = -1;
    for (int i = 0; i < length; ++i) {
        if (curve[static_cast<std::size_t>(i)] == COscillometricAnalysis::kNoValue) continue;
        if (top < 0 || curve[static_cast<std::size_t>(i)] > curve[static_cast<std::size_t>(top)]) top = i;
    }
    if (top < 0) return p;
    auto height = [&](int i) { return curve[static_cast<std::size_t>(i)] - analysis.baseline(); };
    auto mmHg = [&](int i) { return m.pressure[static_cast<std::size_t>(i)] / 2.0; };
    const double amax = height(top);
    if (amax <= 0) return p;
    int s = top;
    while (s > 0 && curve[static_cast<std::size_t>(s - 1)] != COscillometricAnalysis::kNoValue &&
           height(s) > 0.55 * amax)
        --s;
    int d = top;
    while (d + 1 < length && curve[static_cast<std::size_t>(d + 1)] != COscillometricAnalysis::kNoValue &&
           height(d) > 0.75 * amax)
        ++d;
    if (height(s) > 0.55 * amax || height(d) > 0.75 * amax) return p;  // the curve ends first
    p = {true, mmHg(s), mmHg(top), mmHg(d)};
    return p;
}

const char* animalName(int animal) {
    return animal == kAnimalRabbitMonkey ? "rabbit"
           : animal == kAnimalDog        ? "dog"
           : animal == kAnimalRat        ? "rat"
                                         : "mouse";
}
const char* levelName(SimArtefacts a) {
    return a == SimArtefacts::None ? "none" : a == SimArtefacts::Normal ? "normal" : "many";
}

}  // namespace

int main(int argc, char** argv) {
    int count = 200;
    std::uint32_t seed = 1;
    std::vector<SimArtefacts> levels;
    std::vector<SimTail> tails;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count" && i + 1 < argc) {
            count = std::atoi(argv[++i]);
        } else if (a == "--seed" && i + 1 < argc) {
            seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--artefacts" && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v == "none")
                levels.push_back(SimArtefacts::None);
            else if (v == "normal")
                levels.push_back(SimArtefacts::Normal);
            else if (v == "many")
                levels.push_back(SimArtefacts::Many);
            else
                count = -1;
        } else if (a == "--tail" && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v == "warm")
                tails.push_back(SimTail::Warm);
            else if (v == "cold")
                tails.push_back(SimTail::Cold);
            else
                count = -1;
        } else {
            count = -1;
        }
        if (count <= 0) {
            std::fprintf(stderr,
                         "usage: hx40k-simcheck [--count N] [--seed S] [--artefacts none|normal|many]... "
                         "[--tail warm|cold]...\n");
            return 1;
        }
    }
    if (levels.empty()) levels = {SimArtefacts::None, SimArtefacts::Normal};
    if (tails.empty()) tails = {SimTail::Warm, SimTail::Cold};
    std::vector<Row> rows;
    for (int animal : {kAnimalMouse, kAnimalRat, kAnimalDog, kAnimalRabbitMonkey})
        for (SimTail tail : tails)
            for (SimArtefacts level : levels) rows.push_back({animal, tail, level});

    auto analysis = std::make_unique<COscillometricAnalysis>();
    std::printf("%-6s %-4s %-9s %4s %-20s | %-33s %-9s | %-33s %s\n", "animal", "tail", "artefacts", "n",
                "error codes", "unit SBP / MBP / DBP (mean+-sd)", "HR %", "envelope SBP / MBP / DBP",
                "no env");
    for (const Row& row : rows) {
        {
            Stat sbp, mbp, dbp, hr, esbp, embp, edbp;
            std::map<int, int> codes;
            int failed = 0, noEnvelope = 0, done = 0;
            std::vector<Measurement> batch;
            for (int k = 0; k < count; ++k) {
                if (k % kSittingCycles == 0)
                    batch = sitting(row, seed + static_cast<std::uint32_t>(10000 * row.animal + k));
                const Measurement& m = batch[static_cast<std::size_t>(k % kSittingCycles)];
                ++done;
                const SimResult& r = m.result;
                if (r.errorCode != 0) {
                    ++failed;
                    ++codes[r.errorCode];
                    continue;
                }
                sbp.add(r.sbpHalf / 2.0 - r.truth.sbp);
                mbp.add(r.mbpHalf / 2.0 - r.truth.mbp);
                dbp.add(r.dbpHalf / 2.0 - r.truth.dbp);
                hr.add(100.0 * (r.hr - r.truth.hr) / r.truth.hr);
                const EnvelopePressures e = envelopePressures(*analysis, m);
                if (!e.found) {
                    ++noEnvelope;
                    continue;
                }
                esbp.add(e.sbp - r.truth.sbp);
                embp.add(e.mbp - r.truth.mbp);
                edbp.add(e.dbp - r.truth.dbp);
            }
            std::string codeText = std::to_string(failed * 100 / std::max(1, done)) + "%";
            for (const auto& [code, n] : codes)
                codeText += " " + std::to_string(code) + "x" + std::to_string(n);
            std::printf(
                "%-6s %-4s %-9s %4d %-20s | %+5.1f±%-4.1f %+5.1f±%-4.1f %+5.1f±%-4.1f %+5.1f±%-4.1f | "
                "%+5.1f±%-4.1f %+5.1f±%-4.1f %+5.1f±%-4.1f %d\n",
                animalName(row.animal), row.tail == SimTail::Cold ? "cold" : "warm", levelName(row.artefacts),
                done, codeText.c_str(), sbp.mean(), sbp.sd(), mbp.mean(), mbp.sd(), dbp.mean(), dbp.sd(),
                hr.mean(), hr.sd(), esbp.mean(), esbp.sd(), embp.mean(), embp.sd(), edbp.mean(), edbp.sd(),
                noEnvelope);
            std::fflush(stdout);
        }
    }
    return 0;
}
