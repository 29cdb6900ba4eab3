#include "core/music/Scales.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace orvane {
namespace {

TEST(PitchClass, WrapsNegativePitchesIntoTheOctave) {
    EXPECT_EQ(pitchClassOf(-1), 11);
    EXPECT_EQ(pitchClassOf(-12), 0);
    EXPECT_EQ(pitchClassOf(-13), 11);
    EXPECT_EQ(pitchClassOf(61), 1);
}

TEST(SnapPitchToScale, KeepsMembersAndMovesOthersToTheLowerNeighbour) {
    EXPECT_EQ(snapPitchToScale(63, 0, true), 63);  // D# is the minor third of C minor
    EXPECT_EQ(snapPitchToScale(63, 0, false), 62); // but not in C major
    EXPECT_EQ(snapPitchToScale(61, 0, false), 60); // C# → C on a tie
    EXPECT_EQ(snapPitchToScale(66, 0, false), 65); // F# → F on a tie
    EXPECT_EQ(snapPitchToScale(68, 9, true), 67);  // G# in A minor
    EXPECT_EQ(snapPitchToScale(-1, 0, false), -1); // B below C is a member
    EXPECT_EQ(snapPitchToScale(-2, 0, false), -3); // A# below it is not
}

TEST(SnapPitchToScale, EverySnappedPitchIsAMemberAtMostOneSemitoneAway) {
    for (int32_t root = -14; root <= 14; ++root) {
        for (bool minor : {false, true}) {
            for (int32_t pitch = -30; pitch <= 160; ++pitch) {
                const int32_t snapped = snapPitchToScale(pitch, root, minor);
                EXPECT_TRUE(isPitchInScale(snapped, root, minor))
                    << pitch << " root " << root << " minor " << minor;
                EXPECT_LE(std::abs(snapped - pitch), 1) << pitch << " root " << root;
                EXPECT_LE(snapped, pitch) << "non-members snap downward";
            }
        }
    }
}

TEST(SnapPitchToScale, StaysWithinTheIntegerRangeAtItsEnds) {
    constexpr int32_t lowest = std::numeric_limits<int32_t>::min();
    constexpr int32_t highest = std::numeric_limits<int32_t>::max();
    for (int32_t root = 0; root < 12; ++root) {
        for (bool minor : {false, true}) {
            EXPECT_TRUE(isPitchInScale(snapPitchToScale(lowest, root, minor), root, minor));
            EXPECT_TRUE(isPitchInScale(snapPitchToScale(highest, root, minor), root, minor));
        }
    }
}

TEST(SnapMidiNotesToScale, ChangesOnlyPitches) {
    std::vector<MidiNote> notes{{61, 0.3f, 100, 50, 0.7f, 12.0f}, {64, 0.9f, -5, 0, 1.0f, 0.0f}};
    snapMidiNotesToScale(notes, 0, false);
    EXPECT_EQ(notes[0], (MidiNote{60, 0.3f, 100, 50, 0.7f, 12.0f}));
    EXPECT_EQ(notes[1], (MidiNote{64, 0.9f, -5, 0, 1.0f, 0.0f}));
}

TEST(SnapMidiNotesToScale, KeepsNotesWithinTheMidiRange) {
    struct Case {
        int32_t pitch, root;
        bool minor;
        int32_t snapped;
    };
    // C is not in E major: B below 0 would win the tie, so C# above it is taken.
    const Case cases[] = {{0, 4, false, 1},
                          {60, 4, false, 59},
                          {0, 1, true, 1},
                          {127, 0, false, 127},
                          {127, 1, false, 126}};
    for (const Case &c : cases) {
        std::vector<MidiNote> notes{{c.pitch, 0.5f, 0, 10, 1.0f, 0.0f}};
        snapMidiNotesToScale(notes, c.root, c.minor);
        EXPECT_EQ(notes[0].pitch, c.snapped) << c.pitch << " on " << c.root;
    }
}

TEST(ScaleDegreeIndex, PicksTheCircularlyNearestDegreeLowerOnTies) {
    EXPECT_EQ(scaleDegreeIndex(0, 0, false), 0);
    EXPECT_EQ(scaleDegreeIndex(1, 0, false), 0); // C# lies between degrees 0 and 1
    EXPECT_EQ(scaleDegreeIndex(2, 0, false), 1);
    EXPECT_EQ(scaleDegreeIndex(3, 0, false), 1); // D# between D and E
    EXPECT_EQ(scaleDegreeIndex(3, 0, true), 2);  // the minor third itself
    EXPECT_EQ(scaleDegreeIndex(11, 0, false), 6);
    EXPECT_EQ(scaleDegreeIndex(11, 0, true), 0); // B is one from B♭ and from C: C's index is lower
    EXPECT_EQ(scaleDegreeIndex(4, 2, false), 1); // E is the second degree of D major
    EXPECT_EQ(scaleDegreeIndex(-1, 0, false), 6);
}

TEST(ScaleDegreeIndex, MembersMapToTheirOwnDegree) {
    for (int32_t root = 0; root < 12; ++root)
        for (bool minor : {false, true})
            for (int32_t degree = 0; degree < 7; ++degree)
                EXPECT_EQ(scaleDegreeIndex(root + scaleStepOffsets(minor)[degree], root, minor),
                          degree);
}

TEST(HzToMidiPitch, ConvertsAroundConcertA) {
    EXPECT_FLOAT_EQ(hzToMidiPitch(440.0f), 69.0f);
    EXPECT_FLOAT_EQ(hzToMidiPitch(880.0f), 81.0f);
    EXPECT_NEAR(hzToMidiPitch(261.6256f), 60.0f, 1e-4f);
    EXPECT_EQ(hzToMidiPitch(0.0f), 0.0f);
    EXPECT_EQ(hzToMidiPitch(-5.0f), 0.0f);
    EXPECT_EQ(hzToMidiPitch(std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

TEST(PitchCorrectSemitones, MovesToTheNearestScalePitch) {
    EXPECT_NEAR(pitchCorrectSemitones(440.0f, 0, false), 0.0f, 1e-5f);
    EXPECT_NEAR(pitchCorrectSemitones(450.0f, 0, false), -0.389f, 1e-3f);
    // 466.16 Hz is A#4 (70), outside C major: the correction lands on A (69).
    EXPECT_NEAR(pitchCorrectSemitones(466.1638f, 0, false), -1.0f, 1e-3f);
    // The same A# is in C minor and needs nothing.
    EXPECT_NEAR(pitchCorrectSemitones(466.1638f, 0, true), 0.0f, 1e-3f);
}

TEST(PitchCorrectSemitones, GivesZeroForUnusableFrequencies) {
    EXPECT_EQ(pitchCorrectSemitones(0.0f, 0, false), 0.0f);
    EXPECT_EQ(pitchCorrectSemitones(-100.0f, 0, false), 0.0f);
    EXPECT_EQ(pitchCorrectSemitones(7.0f, 0, false), 0.0f); // below MIDI pitch 0
    EXPECT_EQ(pitchCorrectSemitones(std::numeric_limits<float>::infinity(), 0, false), 0.0f);
    EXPECT_EQ(pitchCorrectSemitones(std::numeric_limits<float>::quiet_NaN(), 0, false), 0.0f);
}

TEST(PitchCorrectSemitones, CorrectedFrequencyIsAlwaysInTheScale) {
    for (float hz = 30.0f; hz < 5000.0f; hz *= 1.0137f) {
        const float pitch = hzToMidiPitch(hz) + pitchCorrectSemitones(hz, 4, true);
        const auto rounded = static_cast<int32_t>(std::lround(pitch));
        EXPECT_NEAR(pitch, static_cast<float>(rounded), 1e-3f) << hz;
        EXPECT_TRUE(isPitchInScale(rounded, 4, true)) << hz;
    }
}

} // namespace
} // namespace orvane
