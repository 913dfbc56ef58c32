// The simulated animal as studies see it: a mouse's fast heart and whether the
// program's analysis finds its pulses at ten samples a beat, cold tails, and
// training over days.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/OscillometricAnalysis.h"
#include "app/VirtualClock.h"
#include "sim/SimDriver.h"

namespace hx {
namespace {

SimUnitOptions lifelike(int animal, std::uint32_t seed, SimTail tail = SimTail::Warm) {
    SimUnitOptions o;
    o.adjustMs = 0;
    o.seed = seed;
    lifelikeAnimal(o, SimArtefacts::None);
    o.menu[MenuSettings::kType] = static_cast<std::int16_t>(animal == kAnimalMouse ? kAnimalRat : animal);
    o.smallAnimal = animal == kAnimalMouse ? kAnimalMouse : kAnimalRat;
    o.tail = tail;
    return o;
}

// A unit nobody listens to: it measures all the same, and between sittings
// nothing runs, so days pass at no cost.
struct Bench {
    explicit Bench(SimUnitOptions options) : driver(clock) { unit = &driver.addUnit(0, std::move(options)); }

    // One sitting of an animal; the results in order.
    std::vector<SimResult> sitting(const std::string& animalNumber, int cycles) {
        SimAnimalInfo info = unit->animalInfo();
        info.animalNumber = animalNumber;
        unit->setAnimalInfo(info);
        std::vector<SimResult> results;
        for (int i = 0; i < cycles; ++i) {
            const int before = unit->resultCount();
            unit->pressKey(kSimKeyStart);
            while (unit->resultCount() == before && clock.advanceToNext()) {
            }
            results.push_back(*unit->lastResult());
            unit->pressKey(kSimKeyStart);  // back to View
        }
        return results;
    }

    CVirtualClock clock;
    CSimDriver driver;
    CSimUnit* unit = nullptr;
};

TEST(Mouse, HeartBeatsAt500To700AndTheUnitCountsIt) {
    SimUnitOptions o = lifelike(kAnimalMouse, 11);
    o.trainingMmHg = 0.0;  // a trained animal
    Bench bench(o);
    double sum = 0;
    int valid = 0;
    for (const char* animal : {"1", "2", "3"}) {
        for (const SimResult& r : bench.sitting(animal, 6)) {
            if (r.errorCode != 0) continue;
            ++valid;
            sum += r.hr;
            EXPECT_GE(r.hr, 480);
            EXPECT_LE(r.hr, 720);
            EXPECT_NEAR(r.hr, r.truth.hr, 0.03 * r.truth.hr);
        }
    }
    ASSERT_GE(valid, 15);
    EXPECT_GT(sum / valid, 540);
    EXPECT_LT(sum / valid, 660);
}

// A deflation from 180 to 40 mmHg at 4 mmHg/s over a mouse's tail, as the
// program's rings hold it after the result.
//
// Disabled: it fails today. The program's peak search takes a peak when a
// rise has lasted three samples, measured from the highest value since its
// last look; a mouse's pulse rises in about three samples (ten samples a
// beat), so by then the wave is already above the previous top, the height is
// taken as 0 and the pulse is missed: 7 of about 300 pulses at 500 bpm, 40 at
// 600, 88 at 700, and the envelope rests on few or none of them. Kept to show
// the fault until the analysis handles fast hearts.
// At ten samples a beat (a mouse) or fifteen (a restrained rat) each pulse
// rises in three or four samples; the program's own analysis must still take
// every beat between SBP and DBP and draw its envelope across the top.
TEST(FastHeart, TheProgramsAnalysisFindsEveryBeatAndDrawsTheEnvelopeOverTheTop) {
    for (double hr : {500.0, 600.0, 700.0, 400.0}) {
        CPulseGenerator animal(5);
        animal.setAnimal(hr < 450 ? kAnimalRat : kAnimalMouse);
        const SimTruth truth{115, 96, 82, hr};
        animal.setTruth(truth);
        Ring pressure{}, wave{};
        std::size_t n = 0;
        for (double cuff = 180.0; cuff > 40.0 && n < kRingSize; cuff -= 4.0 / kSampleRateHz, ++n) {
            wave[n] =
                static_cast<std::int16_t>(std::lround(std::clamp(animal.nextWave(cuff), -2048.0, 2047.0)));
            pressure[n] = static_cast<std::int16_t>(std::lround(2.0 * cuff));
        }
        auto analysis = std::make_unique<COscillometricAnalysis>();
        analysis->analyse(pressure, wave, 0);
        const auto inRange = [&](int index) {
            return pressure[index] <= 2 * truth.sbp && pressure[index] >= 2 * truth.dbp;
        };
        const auto detected = analysis->detectedPeaks();
        const double beats = (truth.sbp - truth.dbp) / 4.0 * hr / 60.0;
        EXPECT_NEAR(std::count_if(detected.begin(), detected.end(), inRange), beats, 0.1 * beats) << hr;
        ASSERT_TRUE(analysis->hasCurve()) << hr;
        const auto fitted = analysis->peaks();
        EXPECT_GE(pressure[fitted.front()], 2 * (truth.mbp + 10)) << hr;
        EXPECT_LE(pressure[fitted.back()], 2 * (truth.mbp - 10)) << hr;
        const auto& curve = analysis->envelope();
        const auto top = std::max_element(curve.begin(), curve.end()) - curve.begin();
        EXPECT_NEAR(pressure[top] / 2.0, truth.mbp, 10.0) << hr;
    }
}

TEST(ColdTail, FailsMoreOftenWithLo) {
    for (int animal : {kAnimalMouse, kAnimalRat}) {
        int failedWarm = 0, failedCold = 0;
        for (std::uint32_t seed = 1; seed <= 3; ++seed) {
            for (SimTail tail : {SimTail::Warm, SimTail::Cold}) {
                SimUnitOptions o = lifelike(animal, seed, tail);
                o.trainingMmHg = 0.0;
                Bench bench(o);
                for (const SimResult& r : bench.sitting("7", 10)) {
                    if (r.errorCode == 0) continue;
                    (tail == SimTail::Cold ? failedCold : failedWarm) += 1;
                    if (tail == SimTail::Cold) {
                        EXPECT_EQ(r.errorCode, kSimErrLo);
                    }
                }
            }
        }
        EXPECT_LE(failedWarm, 2) << animal;
        EXPECT_GE(failedCold, 6) << animal;  // of 30
    }
}

TEST(Training, TheFirstDayReadsHigherThanTheFifth) {
    Bench bench(lifelike(kAnimalMouse, 3));
    std::vector<double> dayMean;
    for (int day = 1; day <= 5; ++day) {
        double sum = 0;
        int n = 0;
        for (const char* animal : {"1", "2", "3", "4"}) {
            for (const SimResult& r : bench.sitting(animal, 5)) {
                if (r.errorCode != 0) continue;
                sum += r.sbpHalf / 2.0;
                ++n;
            }
        }
        ASSERT_GT(n, 10);
        dayMean.push_back(sum / n);
        bench.clock.advanceBy(24LL * 3600 * 1000);
    }
    EXPECT_GT(dayMean[0] - dayMean[4], 8.0);
    EXPECT_GT(dayMean[0], dayMean[1]);
}

}  // namespace
}  // namespace hx
