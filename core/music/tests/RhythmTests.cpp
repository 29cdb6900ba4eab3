#include "core/music/Rhythm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace orvane {
namespace {

std::vector<bool> pattern(std::initializer_list<int> bits) {
    std::vector<bool> result;
    for (int bit : bits)
        result.push_back(bit != 0);
    return result;
}

TEST(EuclideanRhythm, SpreadsPulsesEvenly) {
    EXPECT_EQ(euclideanRhythm(8, 3), pattern({0, 0, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(euclideanRhythm(4, 4), pattern({1, 1, 1, 1}));
    EXPECT_EQ(euclideanRhythm(3, 9), pattern({1, 1, 1}));
    EXPECT_EQ(euclideanRhythm(5, 1), pattern({0, 0, 0, 0, 1}));
    EXPECT_TRUE(euclideanRhythm(0, 3).empty());
    EXPECT_TRUE(euclideanRhythm(8, 0).empty());
    EXPECT_TRUE(euclideanRhythm(-8, -1).empty());
}

TEST(EuclideanRhythm, HasExactlyMinOfStepsAndPulsesOnsets) {
    for (int32_t steps = 1; steps <= 32; ++steps) {
        for (int32_t pulses = 1; pulses <= 40; ++pulses) {
            const auto rhythm = euclideanRhythm(steps, pulses);
            ASSERT_EQ(rhythm.size(), static_cast<std::size_t>(steps));
            EXPECT_EQ(std::count(rhythm.begin(), rhythm.end(), true), std::min(steps, pulses));
            // Gaps between onsets differ by at most one step.
            std::vector<int> onsets;
            for (int index = 0; index < steps; ++index)
                if (rhythm[static_cast<std::size_t>(index)]) onsets.push_back(index);
            int shortest = steps;
            int longest = 0;
            for (std::size_t index = 0; index < onsets.size(); ++index) {
                const int next =
                    index + 1 < onsets.size() ? onsets[index + 1] : onsets.front() + steps;
                shortest = std::min(shortest, next - onsets[index]);
                longest = std::max(longest, next - onsets[index]);
            }
            EXPECT_LE(longest - shortest, 1) << steps << " steps, " << pulses << " pulses";
        }
    }
}

TEST(ApplyEuclideanStepSeq, ReplacesNotesOnTheGridOfThePitchOnly) {
    std::vector<MidiNote> notes{
        {36, 0.5f, 0, 10},   // on step 0: replaced
        {38, 0.5f, 100, 10}, // other pitch: kept
        {36, 0.5f, 124, 10}, // within a quarter step of step 1: replaced
        {36, 0.5f, 125, 10}, // a quarter step away: kept
        {36, 0.5f, 800, 10}, // beyond the steps: kept
        {36, 0.5f, -10, 10}, // before the clip: kept
    };
    applyEuclideanStepSeq(notes, 36, 8, 3, 100, 0.85f);
    ASSERT_EQ(notes.size(), 4u + 3u);
    EXPECT_EQ(notes[0].pitch, 38);
    EXPECT_EQ(notes[1].start, 125);
    EXPECT_EQ(notes[2].start, 800);
    EXPECT_EQ(notes[3].start, -10);
    for (std::size_t index = 4; index < notes.size(); ++index) {
        EXPECT_EQ(notes[index].pitch, 36);
        EXPECT_EQ(notes[index].length, 50);
        EXPECT_FLOAT_EQ(notes[index].velocity, 0.85f);
        EXPECT_FLOAT_EQ(notes[index].expression, 1.0f);
    }
    EXPECT_EQ(notes[4].start, 200);
    EXPECT_EQ(notes[5].start, 500);
    EXPECT_EQ(notes[6].start, 700);
}

TEST(ApplyEuclideanStepSeq, RefillingReplacesThePreviousFill) {
    std::vector<MidiNote> notes;
    applyEuclideanStepSeq(notes, 42, 16, 5, 3, 0.7f); // step length 3: tolerance is 1 sample
    applyEuclideanStepSeq(notes, 42, 16, 7, 3, 0.7f);
    EXPECT_EQ(notes.size(), 7u);
    for (const MidiNote &note : notes)
        EXPECT_EQ(note.length, 1);
}

TEST(ApplyEuclideanStepSeq, ZeroPulsesClearsAndDegenerateGridsDoNothing) {
    std::vector<MidiNote> notes{{36, 0.5f, 0, 10}, {36, 0.5f, 300, 10}};
    auto untouched = notes;
    applyEuclideanStepSeq(untouched, 36, 0, 3, 100, 0.8f);
    applyEuclideanStepSeq(untouched, 36, 4, 3, 0, 0.8f);
    EXPECT_EQ(untouched, notes);
    applyEuclideanStepSeq(notes, 36, 4, 0, 100, 0.8f);
    EXPECT_TRUE(notes.empty());
}

TEST(ApplyEuclideanStepSeq, HugeGridsDoNotOverflow) {
    constexpr int64_t stepLength = std::numeric_limits<int64_t>::max() / 2;
    std::vector<MidiNote> notes{{36, 0.5f, stepLength, 1}, {36, 0.5f, stepLength + 5, 1}};
    applyEuclideanStepSeq(notes, 36, 1000, 1000, stepLength, 0.8f);
    // Both old notes sit on step 1 and go; the starts of later steps saturate at the end of
    // the timeline instead of wrapping negative.
    EXPECT_EQ(notes.size(), 1000u);
    EXPECT_EQ(notes[0].start, 0);
    EXPECT_EQ(notes[1].start, stepLength);
    EXPECT_EQ(notes.back().start, std::numeric_limits<int64_t>::max());
}

TEST(BuildBeatMarkers, StepsByWholeBeatsAndMarksDownbeats) {
    const auto markers = buildBeatMarkers(1000, 22050 * 14, 44100.0, 120.0, 7);
    ASSERT_EQ(markers.size(), 14u);
    for (std::size_t index = 0; index < markers.size(); ++index) {
        EXPECT_EQ(markers[index].position, 1000 + 22050 * static_cast<int64_t>(index));
        EXPECT_EQ(markers[index].downbeat, index % 7 == 0);
    }
}

TEST(BuildBeatMarkers, DropsTheFractionOfEveryBeat) {
    // 48000 × 60 / 7 = 411428.57…: each step is 411428, so over seven beats the markers
    // drift early enough for an eighth one to fit 4 samples before the end.
    const auto markers = buildBeatMarkers(0, 48000 * 60, 48000.0, 7.0, 0);
    ASSERT_EQ(markers.size(), 8u);
    EXPECT_EQ(markers[7].position, 7 * 411428);
    for (const BeatMarker &marker : markers)
        EXPECT_TRUE(marker.downbeat); // beats per bar below 1 counts as 1
}

TEST(BuildBeatMarkers, EmptyForUnusableInput) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(buildBeatMarkers(0, 0, 48000.0, 120.0, 4).empty());
    EXPECT_TRUE(buildBeatMarkers(0, 1000, 0.0, 120.0, 4).empty());
    EXPECT_TRUE(buildBeatMarkers(0, 1000, 48000.0, -1.0, 4).empty());
    EXPECT_TRUE(buildBeatMarkers(0, 1000, nan, 120.0, 4).empty());
    EXPECT_TRUE(buildBeatMarkers(0, 1000, 48000.0, nan, 4).empty());
    EXPECT_TRUE(buildBeatMarkers(0, 1000, 10.0, 1200.0, 4).empty()); // beat under a sample
}

TEST(BuildBeatMarkers, EndsAtTheEndOfTheTimeline) {
    constexpr int64_t highest = std::numeric_limits<int64_t>::max();
    const auto markers = buildBeatMarkers(highest - 100, highest, 48000.0, 1e-12, 4);
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0].position, highest - 100);
}

} // namespace
} // namespace orvane
