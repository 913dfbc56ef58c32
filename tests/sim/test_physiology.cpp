// The simulated animal and the unit's own estimate: over many seeded
// measurements the reported values sit close to the hidden truth, as a real
// unit's would; a cuff that is not pumped above SBP gives no valid result.

#include <gtest/gtest.h>

#include <cmath>

#include "SimLink.h"
#include "sim/Oscillometry.h"
#include "sim/Physiology.h"

namespace hx {
namespace {

using test::simFastOptions;
using test::SimLink;

SimResult measureOnce(SimUnitOptions options) {
    SimLink link(std::move(options));
    link.unit->pressKey(4);  // nobody reads the pipe: the unit measures all the same
    EXPECT_TRUE(link.runUntil([&] { return link.unit->resultCount() == 1; }, 200000));
    return *link.unit->lastResult();
}

struct Errors {
    double sbp = 0, mbp = 0, dbp = 0, hrRel = 0;
    double worst = 0;
    int failed = 0, n = 0;
};

Errors measureMany(int type, int speed, int count) {
    Errors e;
    for (int seed = 1; seed <= count; ++seed) {
        SimUnitOptions o = simFastOptions(static_cast<std::uint32_t>(100 * type + seed));
        o.menu[9] = static_cast<std::int16_t>(type);
        o.menu[8] = static_cast<std::int16_t>(speed);
        const SimResult r = measureOnce(o);
        if (r.errorCode != 0) {
            ++e.failed;
            continue;
        }
        const double ds = std::fabs(r.sbpHalf / 2.0 - r.truth.sbp);
        const double dm = std::fabs(r.mbpHalf / 2.0 - r.truth.mbp);
        const double dd = std::fabs(r.dbpHalf / 2.0 - r.truth.dbp);
        e.sbp += ds;
        e.mbp += dm;
        e.dbp += dd;
        e.hrRel += std::fabs(r.hr - r.truth.hr) / r.truth.hr;
        e.worst = std::max({e.worst, ds, dm, dd});
        ++e.n;
    }
    if (e.n > 0) {
        e.sbp /= e.n;
        e.mbp /= e.n;
        e.dbp /= e.n;
        e.hrRel /= e.n;
    }
    return e;
}

class PerAnimal : public ::testing::TestWithParam<int> {};

TEST_P(PerAnimal, ResultsSitWithinAFewMmHgOfTheHiddenTruth) {
    const int type = GetParam();
    for (int speed : {0, 2}) {
        const Errors e = measureMany(type, speed, 8);
        EXPECT_EQ(e.failed, 0) << "type " << type << " speed " << speed;
        EXPECT_LT(e.sbp, 2.0);
        EXPECT_LT(e.mbp, 2.0);
        EXPECT_LT(e.dbp, 2.0);
        EXPECT_LT(e.worst, 5.0);
        EXPECT_LT(e.hrRel, 0.03);
    }
}

TEST_P(PerAnimal, TruthIsDrawnAroundTheAnimalsValuesAndKeepsItsOrder) {
    const int type = GetParam();
    const AnimalProfile profile = animalProfile(type);
    std::mt19937 rng(5);
    double sumSbp = 0, sumHr = 0;
    bool varied = false;
    for (int i = 0; i < 400; ++i) {
        const SimTruth t = drawTruth(type, 1.0, rng);
        ASSERT_LT(t.dbp, t.mbp);
        ASSERT_LT(t.mbp, t.sbp);
        sumSbp += t.sbp;
        sumHr += t.hr;
        varied = varied || std::fabs(t.sbp - profile.mean.sbp) > 1.0;
    }
    EXPECT_TRUE(varied);
    EXPECT_NEAR(sumSbp / 400, profile.mean.sbp, 1.5);
    EXPECT_NEAR(sumHr / 400, profile.mean.hr, profile.mean.hr * 0.02);
    const SimTruth exact = drawTruth(type, 0.0, rng);
    EXPECT_EQ(exact.sbp, profile.mean.sbp);
}

INSTANTIATE_TEST_SUITE_P(Types, PerAnimal, ::testing::Values(0, 1, 2));

TEST(Physiology, UnknownAnimalsAreDogs) {
    EXPECT_EQ(animalProfile(7).mean.hr, animalProfile(kAnimalDog).mean.hr);
}

TEST(Physiology, EnvelopePeaksAtMbpWithTheOscillometricRatios) {
    const SimTruth t{140, 105, 85, 100};
    EXPECT_DOUBLE_EQ(oscillationEnvelope(t, 105), 1.0);
    EXPECT_NEAR(oscillationEnvelope(t, 140), kSbpRatio, 1e-9);
    EXPECT_NEAR(oscillationEnvelope(t, 85), kDbpRatio, 1e-9);
    EXPECT_LT(oscillationEnvelope(t, 180), 0.1);
    EXPECT_LT(oscillationEnvelope(t, 45), 0.1);
    EXPECT_GT(oscillationEnvelope(t, 0), 0.3);  // the resting pulse of an empty cuff
    EXPECT_NEAR(pulseShape(0.0), 0.0, 0.02);
    double top = 0;
    for (int i = 0; i < 100; ++i) top = std::max(top, pulseShape(i / 100.0));
    EXPECT_NEAR(top, 1.0, 1e-3);
}

TEST(Physiology, MeasurementResultsVaryFromOneToTheNext) {
    SimLink link;
    ASSERT_TRUE(link.openAll());
    ASSERT_TRUE(link.measure());
    const SimResult a = *link.unit->lastResult();
    ASSERT_TRUE(link.command(kSimKeyStart));
    ASSERT_TRUE(link.measure());
    const SimResult b = *link.unit->lastResult();
    EXPECT_NE(a.truth.sbp, b.truth.sbp);
    EXPECT_NE(a.sbpHalf, b.sbpHalf);
}

TEST(Physiology, SameSeedSameMeasurement) {
    const SimResult a = measureOnce(simFastOptions(42));
    const SimResult b = measureOnce(simFastOptions(42));
    EXPECT_EQ(a.record, b.record);
}

TEST(Physiology, PressBelowSbpFailsLikeARealUnit) {
    for (int type : {0, 1, 2}) {
        SimUnitOptions o = simFastOptions(3);
        o.menu[9] = static_cast<std::int16_t>(type);
        o.menu[0] = 1;  // 110 mmHg, below every animal's SBP
        const SimResult r = measureOnce(o);
        EXPECT_NE(r.errorCode, 0) << type;
        EXPECT_EQ(r.sbpHalf, 0);
    }
    // Just above SBP still works.
    SimUnitOptions o = simFastOptions(3);
    o.menu[0] = 6;  // 160 mmHg
    SimLink link(o);
    link.unit->setTruthOverride(SimTruth{140, 105, 85, 100});
    link.unit->pressKey(4);
    ASSERT_TRUE(link.runUntil([&] { return link.unit->resultCount() == 1; }, 200000));
    EXPECT_EQ(link.unit->lastResult()->errorCode, 0);
    EXPECT_NEAR(link.unit->lastResult()->sbpHalf / 2.0, 140, 4);
}

TEST(Physiology, MovementsDisturbButDoNotBreakTheEstimate) {
    int valid = 0;
    double sum = 0;
    for (int seed = 1; seed <= 6; ++seed) {
        SimUnitOptions o = simFastOptions(static_cast<std::uint32_t>(seed));
        o.motionArtefacts = true;
        const SimResult r = measureOnce(o);
        if (r.errorCode != 0) continue;
        ++valid;
        sum += std::fabs(r.sbpHalf / 2.0 - r.truth.sbp);
    }
    ASSERT_GE(valid, 4);
    EXPECT_LT(sum / valid, 5.0);
}

// The lifelike animal the program uses: over seeded measurements of every type,
// without movements none fails and the values stay close to the truth; with
// many movements some fail and the rest are still usable.
TEST(LifelikeAnimal, MovementsMakeSomeMeasurementsFailAndNoneWithout) {
    for (int type : {0, 1, 2}) {
        int failedClean = 0, failedMoving = 0, validMoving = 0;
        double cleanError = 0;
        for (int seed = 1; seed <= 12; ++seed) {
            SimUnitOptions o = simFastOptions(static_cast<std::uint32_t>(1000 * type + seed));
            o.menu[9] = static_cast<std::int16_t>(type);
            lifelikeAnimal(o, SimArtefacts::None);
            o.trainingMmHg = 0.0;  // a trained animal
            const SimResult clean = measureOnce(o);
            if (clean.errorCode != 0) ++failedClean;
            cleanError += std::fabs(clean.sbpHalf / 2.0 - clean.truth.sbp) / 12;
            lifelikeAnimal(o, SimArtefacts::Many);
            o.trainingMmHg = 0.0;
            const SimResult moving = measureOnce(o);
            if (moving.errorCode == 0) {
                ++validMoving;
            } else {
                // A movement near the top looks like pulses that were large from the start.
                EXPECT_TRUE(moving.errorCode == kSimErrLo || moving.errorCode == kSimErrHi)
                    << moving.errorCode;
                ++failedMoving;
            }
        }
        EXPECT_EQ(failedClean, 0) << type;
        EXPECT_LT(cleanError, 4.0) << type;
        EXPECT_GT(failedMoving, 0) << type;
        EXPECT_GE(validMoving, 4) << type;
    }
}

TEST(LifelikeAnimal, SameSeedSameMeasurement) {
    SimUnitOptions o = simFastOptions(9);
    lifelikeAnimal(o, SimArtefacts::Many);
    o.movementChance = 1.0;
    EXPECT_EQ(measureOnce(o).record, measureOnce(o).record);
}

// The first measurements of an animal are raised and fade; another animal
// number, another TYPE or a long rest starts the count again.
TEST(LifelikeAnimal, AcclimationIsPerAnimalInTheRestrainer) {
    SimUnitOptions o = simFastOptions(4);
    lifelikeAnimal(o, SimArtefacts::None);
    o.truthSpread = 0.0;
    o.individuality = 0.0;
    o.trainingMmHg = 0.0;
    SimLink link(o);
    const double rested = animalProfile(o.menu[9]).mean.sbp;
    auto nextSbp = [&] {
        const int before = link.unit->resultCount();
        link.unit->pressKey(4);
        EXPECT_TRUE(
            link.runUntil([&] { return link.unit->resultCount() > before; }, link.clock.nowMs() + 200000));
        link.unit->pressKey(4);  // back to View
        return link.unit->lastResult()->truth.sbp;
    };
    std::vector<double> raise;
    for (int i = 0; i < 8; ++i) raise.push_back(nextSbp() - rested);
    EXPECT_NEAR(raise[0], 12.0, 0.01);
    for (int i = 1; i < 8; ++i) EXPECT_LT(raise[i], raise[i - 1]);
    EXPECT_LT(raise[7], 1.0);

    SimAnimalInfo other = link.unit->animalInfo();
    other.animalNumber = "2";
    link.unit->setAnimalInfo(other);
    EXPECT_NEAR(nextSbp() - rested, 12.0, 0.01);
    EXPECT_LT(nextSbp() - rested, 12.0);

    link.runFor(31 * 60 * 1000);
    EXPECT_NEAR(nextSbp() - rested, 12.0, 0.01);
}

// A deflation from 180 to 40 mmHg of a dog, with a movement of the given size
// (times the largest pulse) starting when the cuff passes startMmHg.
OscillometricEstimate estimateWithMovement(double size, double startMmHg) {
    CPulseGenerator animal(21);
    animal.setTruth(SimTruth{140, 105, 85, 100});
    const double pulse = animalProfile(kAnimalDog).pulseAmplitude;
    std::vector<std::int16_t> pressure, wave;
    bool scheduled = false;
    for (double cuff = 180.0; cuff > 40.0; cuff -= 4.0 / kSampleRateHz) {
        if (!scheduled && size > 0 && cuff <= startMmHg) {
            animal.scheduleMovement(0, 2 * kSampleRateHz, size * pulse, 0.5 * size * pulse);
            scheduled = true;
        }
        wave.push_back(
            static_cast<std::int16_t>(std::lround(std::clamp(animal.nextWave(cuff), -2048.0, 2047.0))));
        pressure.push_back(
            static_cast<std::int16_t>(std::lround(2.0 * (cuff + animal.pressureDisturbance()))));
    }
    return estimateOscillometric(pressure, wave, kSampleRateHz);
}

TEST(Oscillometry, AStruggleBetweenSbpAndDbpIsNoMeasurement) {
    EXPECT_EQ(estimateWithMovement(0.0, 0.0).errorCode, 0);
    // At the top its swings would pass for the largest pulses; lower down it
    // hides the beats around DBP.
    EXPECT_EQ(estimateWithMovement(2.5, 105.0).errorCode, kSimErrLo);
    EXPECT_EQ(estimateWithMovement(2.5, 92.0).errorCode, kSimErrLo);
    // Well below DBP it does no harm.
    const OscillometricEstimate below = estimateWithMovement(2.5, 60.0);
    EXPECT_EQ(below.errorCode, 0);
    EXPECT_NEAR(below.mbp, 105.0, 3.0);
    EXPECT_NEAR(below.dbp, 85.0, 3.0);
}

TEST(Oscillometry, RefusesRecordingsWithoutPulses) {
    std::vector<std::int16_t> pressure(3000), wave(3000, 0);
    for (std::size_t i = 0; i < pressure.size(); ++i) pressure[i] = static_cast<std::int16_t>(360 - i / 12);
    EXPECT_EQ(estimateOscillometric(pressure, wave, 100).errorCode, 16);
    EXPECT_EQ(estimateOscillometric({}, {}, 100).errorCode, 16);
    EXPECT_EQ(estimateOscillometric(pressure, wave, 0).errorCode, 16);
}

}  // namespace
}  // namespace hx
