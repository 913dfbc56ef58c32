// The pulse search and list cleaning on hand-built recordings whose expected
// lists are worked out in the comments.

#include <gtest/gtest.h>

#include <algorithm>

#include "HandBuiltWave.h"
#include "analysis/OscillometricAnalysis.h"

namespace hx::test {
namespace {

using Analysis = COscillometricAnalysis;

// --- Recording length and baseline ------------------------------------------

TEST(RecordingLengthAndBaseline, FirstRunOfFiveZerosEndsTheRecording) {
    Ring pressure;
    pressure.fill(100);
    std::fill(pressure.begin() + 500, pressure.begin() + 504, 0);    // four zeros: still recording
    std::fill(pressure.begin() + 1200, pressure.begin() + 1205, 0);  // five: the end
    Ring wave;
    wave.fill(-700);
    std::fill(wave.begin(), wave.begin() + 1199, 10);
    wave[1199] = 2000;  // last recorded sample: left out of the mean

    auto a = std::make_unique<Analysis>();
    a->analyse(pressure, wave, 0);
    EXPECT_EQ(a->recordingLength(), 1200);
    EXPECT_EQ(a->baseline(), 10);
    // The baseline is taken out of the whole ring, not only the recording.
    EXPECT_EQ(a->centredWave()[1199], 1990);
    EXPECT_EQ(a->centredWave()[3999], -710);
}

TEST(RecordingLengthAndBaseline, WithoutZeroRunTheWholeRingIsRecorded) {
    Ring pressure;
    pressure.fill(-3);
    Ring wave;
    wave.fill(7);
    wave[3999] = 2000;
    auto a = std::make_unique<Analysis>();
    a->analyse(pressure, wave, 0);
    EXPECT_EQ(a->recordingLength(), 4000);
    EXPECT_EQ(a->baseline(), 7);

    // Samples past the ring's end count as zeros: three zeros at the very end
    // already end the recording.
    std::fill(pressure.end() - 3, pressure.end(), 0);
    a->analyse(pressure, wave, 0);
    EXPECT_EQ(a->recordingLength(), 3997);
}

TEST(RecordingLengthAndBaseline, MeanTruncatesTowardZeroAndSubtractionWraps) {
    Ring pressure;
    pressure.fill(1);
    Ring wave;
    for (std::size_t i = 0; i < wave.size(); ++i) {
        wave[i] = (i % 2 == 0) ? -2 : -3;  // over 0..3998: -9997 / 3999
    }
    auto a = std::make_unique<Analysis>();
    a->analyse(pressure, wave, 0);
    EXPECT_EQ(a->baseline(), -2);  // not -3

    wave.fill(-10000);
    wave[3000] = 30000;
    wave[3999] = 0;
    a->analyse(pressure, wave, 0);
    EXPECT_EQ(a->baseline(), -9989);  // (30000 + 3998 * -10000) / 3999
    EXPECT_EQ(a->centredWave()[3000], 30000 + 9989 - 65536);
}

TEST(RecordingLengthAndBaseline, LengthBelowTwoIsNotAnalysed) {
    HandBuiltRecording r;
    r.train(200, 40, repeated(12, 300));
    auto a = analyseBalanced(r);
    ASSERT_FALSE(a->peaks().empty());

    for (int length : {0, 1}) {
        Ring pressure{};
        if (length == 1) {
            pressure[0] = 5;  // one sample, and none left for the mean
        }
        a->analyse(pressure, r.wave, 0);
        EXPECT_EQ(a->recordingLength(), length);
        EXPECT_EQ(a->baseline(), 0);
        EXPECT_TRUE(a->detectedPeaks().empty());
        EXPECT_TRUE(a->peaks().empty());
        EXPECT_FALSE(a->hasCurve());
        EXPECT_TRUE(std::all_of(a->envelope().begin(), a->envelope().end(),
                                [](std::int16_t v) { return v == Analysis::kNoValue; }));
    }
}

// --- Peak detection ------------------------------------------------------------

TEST(PeakDetection, RegularTrainGivesEveryTopButTheClosingOne) {
    HandBuiltRecording r;
    r.train(200, 40, repeated(11, 300));
    auto a = analyseBalanced(r);
    EXPECT_EQ(a->baseline(), 0);
    EXPECT_EQ(toInts(a->detectedPeaks()), r.topsBetween(0, 10));
}

TEST(PeakDetection, SmallSwingsPassOnlyAfterTheThresholdHasDecayed) {
    // Swing 40 against a threshold of 50: the first two swings let it decay to
    // 44 and 39, the third passes and puts it back to 50. So every third pulse.
    HandBuiltRecording r;
    r.train(200, 40, repeated(10, 40));
    auto a = analyseBalanced(r);
    EXPECT_EQ(toInts(a->detectedPeaks()), (std::vector<int>{r.tops[2], r.tops[5], r.tops[8]}));
}

TEST(PeakDetection, NoiseSwingsOfTwentyOrLessLeaveTheThresholdAlone) {
    // The same 40-high pulses, each followed by a ripple of height 20. The
    // ripples are never listed and do not count as decays, so the pattern of
    // every third pulse stays.
    HandBuiltRecording r;
    std::vector<int> pulseTops;
    for (int k = 0; k < 10; ++k) {
        const int top = 200 + k * 50;
        r.pulse(top, 40);
        r.pulse(top + 25, 20);
        pulseTops.push_back(top);
    }
    auto a = analyseBalanced(r);
    EXPECT_EQ(toInts(a->detectedPeaks()), (std::vector<int>{pulseTops[2], pulseTops[5], pulseTops[8]}));
}

TEST(PeakDetection, TwentyDecaysInARowResetTheThreshold) {
    // A swing of 1800 sets the threshold to 900. Twenty swings of 40 then decay
    // it (900, 788, ... 84, 74) without reaching it, and the twentieth decay
    // puts it back to 50, from where the 40-swings pass at the third one:
    // pulse 23. Without the reset the threshold would reach 39 only at pulse 25.
    HandBuiltRecording r;
    r.pulse(200, 1800);
    r.train(240, 40, repeated(26, 40));
    auto a = analyseBalanced(r);
    EXPECT_EQ(toInts(a->detectedPeaks()), (std::vector<int>{r.tops[0], r.tops[23]}));
}

TEST(PeakDetection, ListHoldsEveryPulseOfAFullRecording) {
    HandBuiltRecording r;
    r.train(150, 30, repeated(125, 300));
    auto a = analyseBalanced(r);
    EXPECT_EQ(toInts(a->detectedPeaks()), r.topsBetween(0, 124));
}

// --- Cleaning and the cut at a gap -------------------------------------------

struct ClosePairCase {
    int extraHeight;
    bool extraSurvives;
};

class ClosePeaks : public ::testing::TestWithParam<ClosePairCase> {};

TEST_P(ClosePeaks, OnlyOneOfTwoClosePeaksStays) {
    // Twenty pulses every 60 samples and an extra one 25 samples after pulse
    // 10: the mean interval is 1140 / 20 = 57, 5 * 57 / 9 = 31 > 25. The extra
    // one is 35 before pulse 11, which is not close.
    HandBuiltRecording r;
    r.train(200, 60, repeated(21, 300));
    const int extraTop = r.tops[10] + 25;
    r.pulse(extraTop, GetParam().extraHeight);
    auto a = analyseBalanced(r);
    ASSERT_EQ(a->detectedPeaks().size(), 21u);

    std::vector<int> expected = r.topsBetween(0, 20);
    if (GetParam().extraSurvives) {
        expected[10] = extraTop;
    }
    EXPECT_EQ(toInts(a->cleanedPeaks()), expected);
}

INSTANTIATE_TEST_SUITE_P(HigherOneStays, ClosePeaks,
                         ::testing::Values(ClosePairCase{200, false},   // first higher: it stays
                                           ClosePairCase{400, true},    // second higher
                                           ClosePairCase{300, true}));  // equal: the second

TEST(Cleaning, CloseMeansBelowTheTruncatedFiveNinthsOfTheMeanInterval) {
    // Twenty pulses every 60 and a lower one after the last: the mean interval
    // is (1140 + gap) / 20 = 58 and 5 * 58 / 9 = 32 (32.2 before truncating).
    for (int gap : {31, 32}) {
        HandBuiltRecording r;
        r.train(200, 60, repeated(20, 300));
        r.pulse(r.tops.back() + gap, 200);
        r.pulse(r.tops.back() + 60, 200);  // closing
        auto a = analyseBalanced(r);
        ASSERT_EQ(a->detectedPeaks().size(), 21u);
        EXPECT_EQ(a->cleanedPeaks().size(), gap == 31 ? 20u : 21u) << "gap " << gap;
    }
}

TEST(Cleaning, SecondPassUsesTheIntervalOfTheCleanedList) {
    // Twenty pulses every 60, five low ones 20 after pulses 2, 4, 6, 8, 10 and
    // one 30 after pulse 15. First pass: 26 peaks, mean 1140 / 25 = 45, close
    // below 25: only the five go. Second pass: mean 1140 / 20 = 57, close
    // below 31: the one at 30 goes too.
    HandBuiltRecording r;
    r.train(200, 60, repeated(21, 300));
    for (int k : {2, 4, 6, 8, 10}) {
        r.pulse(r.tops[static_cast<std::size_t>(k)] + 20, 200);
    }
    r.pulse(r.tops[15] + 30, 200);
    auto a = analyseBalanced(r);
    ASSERT_EQ(a->detectedPeaks().size(), 26u);
    EXPECT_EQ(toInts(a->cleanedPeaks()), r.topsBetween(0, 20));
}

TEST(Cleaning, GapBeforeTwelvePeaksRestartsTheList) {
    // Five pulses, a gap of 500 (mean interval 1190 / 24 = 49, three of them
    // 147), then twenty more: the first five are noise before the recording.
    HandBuiltRecording r;
    r.train(200, 30, repeated(5, 300));
    r.train(820, 30, repeated(21, 300));
    auto a = analyseBalanced(r);
    ASSERT_EQ(a->detectedPeaks().size(), 25u);
    EXPECT_EQ(toInts(a->cleanedPeaks()), r.topsBetween(5, 25));
    EXPECT_EQ(toInts(a->cutPeaks()), r.topsBetween(5, 25));
}

TEST(Cleaning, GapAfterALongRunCutsTheListThere) {
    // Fourteen pulses, a gap of 500, six more: the cleaning keeps all (thirteen
    // were kept before the gap), the cut ends the list at the gap.
    HandBuiltRecording r;
    r.train(200, 30, repeated(14, 300));
    r.train(1090, 30, repeated(7, 300));
    auto a = analyseBalanced(r);
    EXPECT_EQ(toInts(a->cleanedPeaks()), r.topsBetween(0, 20));
    EXPECT_EQ(toInts(a->cutPeaks()), r.topsBetween(0, 14));
    EXPECT_EQ(toInts(a->peaks()), r.topsBetween(0, 14));
}

// --- Largest pulse, smoothing and the window ---------------------------------

TEST(Window, RunsFromTheRiseAboveHalfToTheFallBelowHalf) {
    // Amplitudes and their smoothed values (worked out by hand):
    //   index     0   1   2   3    4    5    6    7    8   9  10  11  12  13
    //   a        60  60  60  60  110  200  300  200  110  60  60  60  60  60
    //   S        60  60  60  60   85  203  233  203   85  60  60  60  60  60
    // Largest 6, half level 116. Start: a run of low ones, then 5 rises above:
    // start 5 - 1 = 4. End: 8 and 9 are below: e = 9. Count max(12 - 4, 9).
    HandBuiltRecording r;
    r.train(200, 40, {60, 60, 60, 60, 110, 200, 300, 200, 110, 60, 60, 60, 60, 60, 60});
    auto a = analyseBalanced(r);
    ASSERT_EQ(toInts(a->cutPeaks()), r.topsBetween(0, 14));
    EXPECT_EQ(a->largestPulse(), 6);
    EXPECT_EQ(toInts(a->peaks()), r.topsBetween(4, 13));
    // Smoothed again over the new list, whose ends have one neighbour only.
    EXPECT_EQ(toInts(a->smoothedAmplitudes()), (std::vector<int>{110, 203, 233, 203, 85, 60, 60, 60, 60}));
}

TEST(Window, SpikeIsNeitherTheLargestPulseNorKeptInTheSmoothedAmplitudes) {
    // 600 is at least twice its neighbour 300, so the largest pulse is the 320
    // after it; the spike's smoothed value is the mean of 300 and 320, and the
    // 320's own is the mean of itself and 300 (its previous neighbour is more
    // than 3/2 of it).
    HandBuiltRecording r;
    r.train(200, 40, {200, 220, 240, 260, 300, 600, 320, 300, 280, 260, 240, 220, 220});
    auto a = analyseBalanced(r);
    EXPECT_EQ(a->largestPulse(), 6);
    ASSERT_EQ(toInts(a->peaks()), r.topsBetween(0, 12));
    EXPECT_EQ(a->smoothedAmplitudes()[5], 310);
    EXPECT_EQ(a->smoothedAmplitudes()[6], 310);
    // Before the spike: the pulse is averaged with its previous neighbour
    // only; further away all three are averaged.
    EXPECT_EQ(a->smoothedAmplitudes()[4], (260 + 300) / 2);
    EXPECT_EQ(a->smoothedAmplitudes()[3], (240 + 260 + 300) / 3);
}

TEST(Window, PulseWellAboveOneNeighbourIsReplacedByTheMeanOfBoth) {
    // 400 between 260 and 380: more than 3/2 of 260 (though not of 380).
    HandBuiltRecording r;
    r.train(200, 40, {200, 220, 240, 260, 400, 380, 360, 340, 320, 300, 300, 180, 180, 180});
    auto a = analyseBalanced(r);
    ASSERT_EQ(toInts(a->peaks()), r.topsBetween(0, 13));
    EXPECT_EQ(a->largestPulse(), 4);
    EXPECT_EQ(a->smoothedAmplitudes()[4], (260 + 380) / 2);
    // Two equal largest values: the previous neighbour counts as the largest,
    // so the 300 before 180 is averaged with both instead of being a spike.
    EXPECT_EQ(a->smoothedAmplitudes()[10], (300 + 300 + 180) / 3);
}

TEST(Window, EndsOfTheListAreJudgedByTheirOneNeighbour) {
    // Rising amplitudes: the last pulse is the largest (it has no next pulse to
    // be compared with). Half its smoothed value (min(400, 380) = 380) is 190;
    // pulses 0..4 (100..180) are below, so the window starts at 5 - 1 = 4 and
    // runs to the end.
    HandBuiltRecording r;
    std::vector<int> heights;
    for (int k = 0; k < 17; ++k) {
        heights.push_back(100 + 20 * std::min(k, 15));
    }
    r.train(200, 40, heights);
    auto a = analyseBalanced(r);
    ASSERT_EQ(a->cutPeaks().size(), 16u);
    EXPECT_EQ(a->largestPulse(), 15);
    EXPECT_EQ(toInts(a->peaks()), r.topsBetween(4, 16));
}

TEST(Window, NeverHoldsMoreThanSixtyFourPulses) {
    // One hundred equal pulses: the last is the largest (equal amplitudes go to
    // the later one), nothing is below half, so the count would be 198.
    HandBuiltRecording r;
    r.train(200, 30, repeated(101, 300));
    auto a = analyseBalanced(r);
    ASSERT_EQ(a->cutPeaks().size(), 100u);
    EXPECT_EQ(a->largestPulse(), 99);
    EXPECT_EQ(toInts(a->peaks()), r.topsBetween(0, 64));
    EXPECT_TRUE(a->hasCurve());
}

// --- No curve ----------------------------------------------------------------

TEST(NoCurve, FlatWaveGivesAnEmptyListAndNoCurve) {
    HandBuiltRecording r;
    auto a = analyseBalanced(r);
    EXPECT_TRUE(a->detectedPeaks().empty());
    EXPECT_TRUE(a->peaks().empty());
    EXPECT_FALSE(a->hasCurve());
    EXPECT_TRUE(std::all_of(a->envelope().begin(), a->envelope().end(),
                            [](std::int16_t v) { return v == Analysis::kNoValue; }));
}

TEST(NoCurve, FewerThanFourPulsesDropTheEarlierCurveButKeepItsCoefficients) {
    HandBuiltRecording good;
    good.train(200, 40, {100, 150, 200, 250, 300, 250, 200, 150, 100, 100});
    auto a = analyseBalanced(good);
    ASSERT_TRUE(a->hasCurve());
    const auto coefficients = a->coefficients();

    HandBuiltRecording few;
    few.train(1000, 40, repeated(4, 300));  // three listed pulses
    few.balance();
    a->analyse(few.pressure, few.wave, 0);
    EXPECT_EQ(a->peaks().size(), 3u);
    EXPECT_FALSE(a->hasCurve());
    EXPECT_TRUE(std::all_of(a->envelope().begin(), a->envelope().end(),
                            [](std::int16_t v) { return v == Analysis::kNoValue; }));
    EXPECT_EQ(a->coefficients(), coefficients);
}

TEST(NoCurve, FailedResultKeepsTheEarlierAnalysis) {
    HandBuiltRecording good;
    good.train(200, 40, {100, 150, 200, 250, 300, 250, 200, 150, 100, 100});
    auto a = analyseBalanced(good);
    ASSERT_TRUE(a->hasCurve());
    const auto curve = a->envelope();
    const auto peaks = toInts(a->peaks());
    const auto baseline = a->baseline();
    const auto centred = a->centredWave();

    Ring flat{};
    a->analyse(flat, flat, 16);
    EXPECT_TRUE(a->hasCurve());
    EXPECT_EQ(a->envelope(), curve);
    EXPECT_EQ(toInts(a->peaks()), peaks);
    EXPECT_EQ(a->baseline(), baseline);
    EXPECT_EQ(a->centredWave(), centred);
    EXPECT_EQ(a->recordingLength(), 4000);
}

}  // namespace
}  // namespace hx::test
