#include "core/music/Scales.h"
#include "core/music/Tuning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace orvane {
namespace {

double pitchOfFrequency(double hz) { return 69.0 + 12.0 * std::log2(hz / 440.0); }

TEST(ScalaPresets, NameAndTableFallBackToEqualTemperament) {
    EXPECT_EQ(scalaPresetCount(), 4);
    EXPECT_STREQ(scalaPresetName(0), "12-TET");
    EXPECT_STREQ(scalaPresetName(1), "Pythagorean");
    EXPECT_STREQ(scalaPresetName(2), "Just Major");
    EXPECT_STREQ(scalaPresetName(3), "Just Minor");
    EXPECT_STREQ(scalaPresetName(7), "12-TET");
    EXPECT_STREQ(scalaPresetName(-1), "12-TET");
    EXPECT_EQ(scalaPresetCents(7), CentTable{});
    EXPECT_EQ(scalaPresetCents(-2), CentTable{});
    EXPECT_EQ(scalaPresetCents(0), CentTable{});
}

TEST(MidiNoteFrequency, AppliesThePitchClassOffsetInEveryOctave) {
    CentTable cents{};
    EXPECT_DOUBLE_EQ(midiNoteFrequency(69, cents), 440.0);
    EXPECT_DOUBLE_EQ(midiNoteFrequency(57, cents), 220.0);
    cents[9] = 100.0f;
    EXPECT_NEAR(midiNoteFrequency(69, cents), 466.16, 0.01);
    EXPECT_NEAR(midiNoteFrequency(-3, cents), midiNoteFrequency(70, CentTable{}) / 64.0, 1e-9);
    cents[11] = -50.0f;
    EXPECT_NEAR(pitchOfFrequency(midiNoteFrequency(-1, cents)), -1.5, 1e-9);
}

TEST(MidiNoteFrequencyBent, BendsTheFractionFromTheTunedIntegerPitch) {
    CentTable cents{};
    EXPECT_NEAR(midiNoteFrequencyBent(69.5, cents), 452.89, 0.01);
    cents[9] = 30.0f;
    // The fraction bends up from the tuned A; the A# offset plays no part.
    EXPECT_NEAR(pitchOfFrequency(midiNoteFrequencyBent(69.25, cents)), 69.55, 1e-9);
    cents[11] = 20.0f;
    EXPECT_NEAR(pitchOfFrequency(midiNoteFrequencyBent(-0.75, cents)), -0.55, 1e-9);
}

TEST(MidiNoteFrequencyBent, UnusablePitchesAreSilentNotUndefined) {
    const CentTable cents{};
    EXPECT_EQ(midiNoteFrequencyBent(std::numeric_limits<double>::quiet_NaN(), cents), 0.0);
    EXPECT_EQ(midiNoteFrequencyBent(std::numeric_limits<double>::infinity(), cents), 0.0);
    EXPECT_GE(midiNoteFrequencyBent(1e300, cents), 0.0);
}

TEST(MidiNoteFrequencyTuned, WithoutAMapEqualsTheBentFrequency) {
    CentTable cents = scalaPresetCents(2);
    for (double pitch = -20.0; pitch < 140.0; pitch += 0.37)
        EXPECT_DOUBLE_EQ(midiNoteFrequencyTuned(pitch, 5, true, {}, cents),
                         midiNoteFrequencyBent(pitch, cents));
}

TEST(MidiNoteFrequencyTuned, MapsThroughTheNearestDegreeInThePlayedOctave) {
    const CentTable cents{};
    const std::vector<int32_t> map{0, 2, 4};
    // Degree 1 (D) takes entry 1: degree 2, E, in the same octave.
    EXPECT_NEAR(pitchOfFrequency(midiNoteFrequencyTuned(62.0, 0, false, map, cents)), 64.0, 1e-9);
    EXPECT_NEAR(pitchOfFrequency(midiNoteFrequencyTuned(74.0, 0, false, map, cents)), 76.0, 1e-9);
    // D# is nearest degree 1 as well (tie to the lower), and keeps its bend fraction.
    EXPECT_NEAR(pitchOfFrequency(midiNoteFrequencyTuned(63.25, 0, false, map, cents)), 64.25, 1e-9);
    // Degree 3 (F) wraps around the three-entry map to entry 0: C.
    EXPECT_NEAR(pitchOfFrequency(midiNoteFrequencyTuned(65.0, 0, false, map, cents)), 60.0, 1e-9);
}

TEST(MidiNoteFrequencyTuned, NegativeMapEntriesReachDownAnOctave) {
    const CentTable cents{};
    const std::vector<int32_t> map{-1};
    // Entry −1 is step 6 one octave down (B 47, below the map's base octave C 48), then
    // moved into the played octave 72 to 83: B 83, rather than a step read at index −1.
    const double pitch = pitchOfFrequency(midiNoteFrequencyTuned(72.0, 0, false, map, cents));
    EXPECT_NEAR(pitch, 83.0, 1e-9);
}

TEST(MidiNoteFrequencyTuned, StaysAudibleForAnyMapAndRoot) {
    const CentTable cents = scalaPresetCents(1);
    const std::vector<int32_t> map{std::numeric_limits<int32_t>::min(), -8, 0, 13,
                                   std::numeric_limits<int32_t>::max()};
    for (int32_t root : {-25, 0, 7, 40}) {
        for (double pitch = -30.0; pitch < 160.0; pitch += 0.5) {
            const double hz = midiNoteFrequencyTuned(pitch, root, root > 0, map, cents);
            // Any mapped pitch is clamped to MIDI 0 to 127, plus a fraction and a few cents.
            EXPECT_GE(pitchOfFrequency(hz), -0.1) << pitch << " root " << root;
            EXPECT_LE(pitchOfFrequency(hz), 128.1) << pitch << " root " << root;
        }
    }
}

TEST(MidiPitchFromKbmDegree, WalksScaleStepsAndOctaves) {
    const std::vector<int32_t> map{0, 1, 2, 3, 4, 5, 6, 7, 9};
    EXPECT_EQ(midiPitchFromKbmDegree(0, {}, 0, false), 60);
    EXPECT_EQ(midiPitchFromKbmDegree(0, map, 0, false), 48);
    EXPECT_EQ(midiPitchFromKbmDegree(2, map, 0, false), 52);
    EXPECT_EQ(midiPitchFromKbmDegree(2, map, 0, true), 51);
    EXPECT_EQ(midiPitchFromKbmDegree(7, map, 2, false), 62);  // entry 7: next octave's root
    EXPECT_EQ(midiPitchFromKbmDegree(8, map, 0, false), 64);  // entry 9: E an octave up
    EXPECT_EQ(midiPitchFromKbmDegree(9, map, 0, false), 48);  // wraps to entry 0
    EXPECT_EQ(midiPitchFromKbmDegree(-1, map, 0, false), 64); // wraps to the last entry
}

TEST(MidiPitchFromKbmDegree, NegativeEntriesFloorIntoLowerOctaves) {
    EXPECT_EQ(midiPitchFromKbmDegree(0, std::vector<int32_t>{-1}, 0, false), 47);
    EXPECT_EQ(midiPitchFromKbmDegree(0, std::vector<int32_t>{-7}, 0, false), 36);
    EXPECT_EQ(midiPitchFromKbmDegree(0, std::vector<int32_t>{-8}, 0, true), 34);
    EXPECT_EQ(midiPitchFromKbmDegree(0, std::vector<int32_t>{-100}, 0, false), 0);
    EXPECT_EQ(midiPitchFromKbmDegree(0, std::vector<int32_t>{100}, 0, false), 127);
}

TEST(MidiPitchFromKbmDegree, ExtremeDegreesAndEntriesStayInMidiRange) {
    const std::vector<int32_t> map{std::numeric_limits<int32_t>::min(), 3,
                                   std::numeric_limits<int32_t>::max()};
    for (int32_t degree : {std::numeric_limits<int32_t>::min(), -4, -1, 0, 1, 2, 5,
                           std::numeric_limits<int32_t>::max()}) {
        const int32_t pitch = midiPitchFromKbmDegree(degree, map, 11, true);
        EXPECT_GE(pitch, 0);
        EXPECT_LE(pitch, 127);
    }
    // −2^31 wraps to entry 1 (floor modulo), not to a negative index.
    EXPECT_EQ(midiPitchFromKbmDegree(std::numeric_limits<int32_t>::min(), map, 0, false), 53);
}

} // namespace
} // namespace orvane
