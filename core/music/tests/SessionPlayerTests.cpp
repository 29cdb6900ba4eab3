#include "core/music/Scales.h"
#include "core/music/SessionPlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>

namespace orvane {
namespace {

std::vector<MidiNote> notesOfPitch(const std::vector<MidiNote> &notes, int32_t pitch) {
    std::vector<MidiNote> result;
    std::copy_if(notes.begin(), notes.end(), std::back_inserter(result),
                 [pitch](const MidiNote &note) { return note.pitch == pitch; });
    return result;
}

std::vector<int64_t> startsOf(const std::vector<MidiNote> &notes) {
    std::vector<int64_t> starts;
    for (const MidiNote &note : notes)
        starts.push_back(note.start);
    return starts;
}

TEST(SessionPlayerKind, NamesCountAndCycle) {
    EXPECT_EQ(sessionPlayerKindCount(), 4);
    EXPECT_STREQ(sessionPlayerKindName(SessionPlayerKind::DrumsFourFour), "Drums 4/4");
    EXPECT_STREQ(sessionPlayerKindName(SessionPlayerKind::DrumsBreak), "Drums Break");
    EXPECT_STREQ(sessionPlayerKindName(SessionPlayerKind::BassRoot), "Bass Root");
    EXPECT_STREQ(sessionPlayerKindName(SessionPlayerKind::ChordsPad), "Chords Pad");
    EXPECT_STREQ(sessionPlayerKindName(static_cast<SessionPlayerKind>(9)), "Player");
    EXPECT_EQ(nextSessionPlayerKind(SessionPlayerKind::BassRoot), SessionPlayerKind::ChordsPad);
    EXPECT_EQ(nextSessionPlayerKind(SessionPlayerKind::ChordsPad),
              SessionPlayerKind::DrumsFourFour);
}

TEST(AddDrumHit, AppendsANoteWithDefaultExpressionAndBend) {
    std::vector<MidiNote> notes{{70, 0.1f, 5, 5, 0.3f, 40.0f}};
    addDrumHit(notes, 36, 100, 20, 0.9f);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1], (MidiNote{36, 0.9f, 100, 20, 1.0f, 0.0f}));
}

TEST(GenerateSessionPlayerNotes, DrumsFourFourPlacesKickSnareAndHats) {
    const auto notes =
        generateSessionPlayerNotes(SessionPlayerKind::DrumsFourFour, 1600, 2, 0, false, 5);
    EXPECT_EQ(startsOf(notesOfPitch(notes, 36)),
              (std::vector<int64_t>{0, 400, 800, 1200, 1600, 2000, 2400, 2800}));
    EXPECT_EQ(startsOf(notesOfPitch(notes, 38)), (std::vector<int64_t>{400, 1200, 2000, 2800}));
    const auto hats = notesOfPitch(notes, 42);
    ASSERT_EQ(hats.size(), 16u);
    for (const MidiNote &hat : hats) {
        EXPECT_EQ(hat.length, 33);
        EXPECT_GE(hat.velocity, 0.55f);
        EXPECT_LE(hat.velocity, 0.70f + 1e-6f);
    }
    EXPECT_EQ(notes.front().length, 50);
    EXPECT_FLOAT_EQ(notes.front().velocity, 0.95f);
}

TEST(GenerateSessionPlayerNotes, DrumsBreakAppendsKicksSnaresThenHatsPerBar) {
    const auto notes =
        generateSessionPlayerNotes(SessionPlayerKind::DrumsBreak, 1600, 1, 0, false, 5);
    ASSERT_EQ(notes.size(), 4u + 2u + 8u);
    EXPECT_EQ(startsOf(std::vector<MidiNote>(notes.begin(), notes.begin() + 6)),
              (std::vector<int64_t>{0, 600, 1000, 1400, 400, 1200}));
    EXPECT_EQ(notes[6].pitch, 42);
    EXPECT_EQ(notes[6].length, 25);
}

TEST(GenerateSessionPlayerNotes, BassRootWalksTheScaleOneDegreePerBar) {
    const auto notes =
        generateSessionPlayerNotes(SessionPlayerKind::BassRoot, 1600, 8, 0, false, 0);
    ASSERT_EQ(notes.size(), 16u);
    std::vector<int32_t> pitches;
    for (std::size_t index = 0; index < notes.size(); index += 2) {
        pitches.push_back(notes[index].pitch);
        EXPECT_EQ(notes[index + 1].pitch, notes[index].pitch);
        EXPECT_EQ(notes[index + 1].start - notes[index].start, 800);
        EXPECT_EQ(notes[index].length, 200);
    }
    EXPECT_EQ(pitches, (std::vector<int32_t>{36, 38, 40, 41, 43, 45, 47, 36}));
}

TEST(GenerateSessionPlayerNotes, ChordsPadHoldsATriadForAlmostTheWholeBar) {
    const auto minor =
        generateSessionPlayerNotes(SessionPlayerKind::ChordsPad, 1600, 1, 9, true, 0);
    ASSERT_EQ(minor.size(), 3u);
    EXPECT_EQ(minor[0].pitch, 57);
    EXPECT_EQ(minor[1].pitch, 60);
    EXPECT_EQ(minor[2].pitch, 64);
    EXPECT_EQ(minor[0].length, 1550);
    const auto high = generateSessionPlayerNotes(SessionPlayerKind::ChordsPad, 8, 1, 80, false, 0);
    for (const MidiNote &note : high) {
        EXPECT_EQ(note.pitch, 127);
        EXPECT_EQ(note.length, 8); // the bar minus half a sixteenth, but at least a sixteenth
    }
}

TEST(GenerateSessionPlayerNotes, EmptyForNoBarsOrUnknownKinds) {
    EXPECT_TRUE(generateSessionPlayerNotes(SessionPlayerKind::BassRoot, 0, 4, 0, false, 1).empty());
    EXPECT_TRUE(
        generateSessionPlayerNotes(SessionPlayerKind::BassRoot, 100, 0, 0, false, 1).empty());
    EXPECT_TRUE(
        generateSessionPlayerNotes(static_cast<SessionPlayerKind>(7), 100, 2, 0, false, 1).empty());
}

TEST(GenerateSessionPlayerNotes, StopsAtBarsThatWouldNotFitTheTimeline) {
    constexpr int64_t huge = std::numeric_limits<int64_t>::max() / 2;
    const auto notes =
        generateSessionPlayerNotes(SessionPlayerKind::BassRoot, huge, 10, 0, false, 1);
    EXPECT_EQ(notes.size(), 4u); // bars 0 and 1 end below the limit, bar 2 does not
    for (const MidiNote &note : notes)
        EXPECT_GE(note.start, 0);
}

TEST(GenerateSessionPlayerNotes, EveryKindIsRepeatableAndStaysInItsBars) {
    for (int32_t kind = 0; kind < sessionPlayerKindCount(); ++kind) {
        for (uint32_t seed : {0u, 1u, 77u, 4000000000u}) {
            for (int64_t barLength : {1, 15, 16, 17, 96000}) {
                const auto player = static_cast<SessionPlayerKind>(kind);
                const auto first = generateSessionPlayerNotes(player, barLength, 3, 4, true, seed);
                EXPECT_EQ(first, generateSessionPlayerNotes(player, barLength, 3, 4, true, seed));
                EXPECT_FALSE(first.empty());
                for (const MidiNote &note : first) {
                    EXPECT_GE(note.pitch, 0);
                    EXPECT_LE(note.pitch, 127);
                    EXPECT_GE(note.velocity, 0.0f);
                    EXPECT_LE(note.velocity, 1.0f);
                    EXPECT_GE(note.start, 0);
                    EXPECT_GE(note.length, 0);
                    // Every hit is placed on one of the bar's sixteenths (at most 14 of
                    // them when short bars have fewer than 16 steps).
                    const int64_t sixteenth = std::max<int64_t>(barLength / 16, 1);
                    EXPECT_LT(note.start, 3 * barLength + 15 * sixteenth);
                }
            }
        }
    }
}

TEST(GenerateSessionPlayerNotes, HatVelocitiesDependOnTheSeed) {
    const auto first =
        generateSessionPlayerNotes(SessionPlayerKind::DrumsBreak, 1600, 2, 0, false, 1);
    const auto second =
        generateSessionPlayerNotes(SessionPlayerKind::DrumsBreak, 1600, 2, 0, false, 2);
    EXPECT_NE(first, second);
}

TEST(GenerateMidiClipNotes, StaysOnTheScaleWithinItsRanges) {
    for (uint32_t seed = 0; seed < 40; ++seed) {
        for (bool minor : {false, true}) {
            const int32_t root = static_cast<int32_t>(seed % 12);
            const auto notes = generateMidiClipNotes(48000, 1000, root, minor, seed, 0.7f);
            EXPECT_EQ(notes, generateMidiClipNotes(48000, 1000, root, minor, seed, 0.7f));
            for (const MidiNote &note : notes) {
                EXPECT_TRUE(isPitchInScale(note.pitch, root, minor)) << note.pitch;
                EXPECT_GE(note.pitch, root + 36);
                EXPECT_LE(note.pitch, root + 48 + 11 + 24);
                EXPECT_GE(note.velocity, 0.55f);
                EXPECT_LE(note.velocity, 0.9f + 1e-6f);
                EXPECT_EQ(note.start % 1000, 0);
                EXPECT_LE(note.start + 1000, 48000);
                EXPECT_EQ(note.length, 750);
            }
        }
    }
}

TEST(GenerateMidiClipNotes, DensityDecidesHowManyStepsSound) {
    const auto full = generateMidiClipNotes(100000, 100, 0, false, 3, 1.0f);
    EXPECT_EQ(full.size(), 1000u);
    const auto sparse = generateMidiClipNotes(100000, 100, 0, false, 3, 0.0f); // counts as 0.05
    EXPECT_GT(sparse.size(), 20u);
    EXPECT_LT(sparse.size(), 100u);
    EXPECT_NE(generateMidiClipNotes(100000, 100, 0, false, 4, 1.0f), full);
}

TEST(GenerateMidiClipNotes, EmptyOrMinimalForDegenerateLengths) {
    EXPECT_TRUE(generateMidiClipNotes(0, 1, 0, false, 1, 1.0f).empty());
    EXPECT_TRUE(generateMidiClipNotes(100, 0, 0, false, 1, 1.0f).empty());
    EXPECT_TRUE(generateMidiClipNotes(100, 101, 0, false, 1, 1.0f).empty());
    const auto single = generateMidiClipNotes(1, 1, 0, false, 1, 1.0f);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0].length, 1);
    const auto last =
        generateMidiClipNotes(std::numeric_limits<int64_t>::max(),
                              std::numeric_limits<int64_t>::max() / 2, 0, false, 1, 1.0f);
    EXPECT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].length, 3458764513820540927); // ⌊3/4 × (2^62 − 1)⌋, no overflow
}

} // namespace
} // namespace orvane
