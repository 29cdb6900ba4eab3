#include "core/music/Chords.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane {
namespace {

std::string chordOf(std::vector<int32_t> pitches) { return detectChordFromPitches(pitches); }

TEST(DetectChordFromPitches, NamesTheWorkedExamples) {
    EXPECT_EQ(chordOf({60, 64, 67}), "C");
    EXPECT_EQ(chordOf({60, 64, 67, 70}), "C7");
    EXPECT_EQ(chordOf({57, 60, 64, 67}), "Am7");
    EXPECT_EQ(chordOf({60, 67}), "C?");
    EXPECT_EQ(chordOf({64, 67, 72}), "C");
    EXPECT_EQ(chordOf({62, 65, 69}), "Dm");
    EXPECT_EQ(chordOf({71, 74, 77}), "Bdim");
}

TEST(DetectChordFromPitches, HandlesDegenerateInput) {
    EXPECT_EQ(chordOf({}), "?");
    EXPECT_EQ(chordOf({61}), "C#");
    EXPECT_EQ(chordOf({48, 60, 72}), "C"); // one pitch class in several octaves
    EXPECT_EQ(chordOf({-1, 11}), "B");
    EXPECT_EQ(chordOf({62, 61}), "C#?"); // no template: lowest class from C, not first in list
}

TEST(DetectChordFromPitches, TiesKeepTheFirstRootAndTemplate) {
    // C E G# is augmented on C, E and G#; the scan from C finds C first.
    EXPECT_EQ(chordOf({64, 68, 72}), "Caug");
    // C D G is both Csus2 and Gsus4; root C comes first.
    EXPECT_EQ(chordOf({67, 62, 60}), "Csus2");
}

TEST(DetectChordFromPitches, AChordInRootPositionNamesItself) {
    struct Template {
        const char *suffix;
        std::vector<int32_t> intervals;
    };
    // Augmented and suspended chords are left out: their pitch classes also form the same
    // kind of chord on another root (C aug = E aug, G sus2 = D sus4), and the scan from C
    // names them by the first root it meets (see the test above).
    const std::vector<Template> templates{
        {"", {0, 4, 7}},      {"m", {0, 3, 7}},        {"dim", {0, 3, 6}},
        {"7", {0, 4, 7, 10}}, {"maj7", {0, 4, 7, 11}}, {"m7", {0, 3, 7, 10}},
    };
    for (int32_t root = 0; root < 12; ++root) {
        for (const Template &chord : templates) {
            std::vector<int32_t> pitches;
            for (int32_t interval : chord.intervals)
                pitches.push_back(48 + root + interval);
            const std::string expected = std::string(pitchClassName(root)) + chord.suffix;
            EXPECT_EQ(detectChordFromPitches(pitches), expected);
        }
    }
}

TEST(DetectChordFromPitches, SymmetricChordsTakeTheFirstRootFromC) {
    EXPECT_EQ(chordOf({67, 69, 74}), "Dsus4"); // G sus2 spelled from G
    EXPECT_EQ(chordOf({62, 64, 69}), "Dsus2");
    EXPECT_EQ(chordOf({68, 72, 76}), "Caug"); // G# aug
}

TEST(DetectChordFromMidiClip, NamesTheNotesSoundingAtThePosition) {
    Clip clip;
    clip.kind = ClipKind::Midi;
    clip.notes = {{60, 0.8f, 0, 100},
                  {64, 0.8f, 0, 100},
                  {67, 0.8f, 50, 50},
                  {70, 0.8f, 100, 10},
                  {57, 0.8f, 200, 0}};
    EXPECT_EQ(detectChordFromMidiClip(clip, 49), "C?");
    EXPECT_EQ(detectChordFromMidiClip(clip, 99), "C");
    EXPECT_EQ(detectChordFromMidiClip(clip, 100), "A#"); // the note end is exclusive
    EXPECT_EQ(detectChordFromMidiClip(clip, 200), "A");  // zero length still sounds 1 sample
    EXPECT_EQ(detectChordFromMidiClip(clip, 201), "?");
    EXPECT_EQ(detectChordFromMidiClip(clip, -1), "?");
}

TEST(DetectChordFromMidiClip, AudioClipsHaveNoChord) {
    Clip clip;
    clip.kind = ClipKind::Audio;
    clip.notes = {{60, 0.8f, 0, 100}, {64, 0.8f, 0, 100}, {67, 0.8f, 0, 100}};
    EXPECT_EQ(detectChordFromMidiClip(clip, 10), "?");
}

TEST(DetectChordFromMidiClip, ExtremeNoteSpansDoNotOverflow) {
    Clip clip;
    clip.kind = ClipKind::Midi;
    constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
    constexpr int64_t highest = std::numeric_limits<int64_t>::max();
    clip.notes = {{60, 0.8f, lowest, highest}, {64, 0.8f, highest, highest}};
    EXPECT_EQ(detectChordFromMidiClip(clip, -2), "C");
    EXPECT_EQ(detectChordFromMidiClip(clip, -1), "?"); // the first note ends here
    EXPECT_EQ(detectChordFromMidiClip(clip, highest), "E");
}

} // namespace
} // namespace orvane
