#include "core/commands/NoteTransformCommands.h"
#include "core/commands/tests/support/MidiClipFixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvane::testing {
namespace {

using NoteTransformTest = MidiClipTest;

TEST_F(NoteTransformTest, QuantiseStrengthBlendsEachNoteTowardsTheGrid) {
    struct Case {
        float strength;
        int64_t start;
    };
    // A note at 1.25 beats (one beat is 24000 samples); the quarter grid puts it on beat 1.
    const Case cases[] = {{0.0f, 30000}, {0.5f, 27000}, {0.25f, 28500},
                          {1.0f, 24000}, {1.5f, 24000}, {-1.0f, 30000}};
    for (const Case &c : cases) {
        clip->notes = {midiNote(60, 30000, 100)};
        IterativeQuantizeClipCommand quantise(clip->id, GridQuantize::Quarter, 0.0f, c.strength, 0,
                                              false, false);
        quantise.redo(project);
        EXPECT_EQ(clip->notes[0].start, c.start) << c.strength;
        quantise.undo(project);
        EXPECT_EQ(clip->notes[0].start, 30000);
    }
}

TEST_F(NoteTransformTest, SwingMovesTheSecondHalfOfEachCellTowardsTheNextLine) {
    struct Case {
        int64_t start;
        float swing;
        int64_t snapped;
    };
    // Positions 0.3, 0.2 and 1.3 beats in; 0.375 beats is 9000 samples.
    const Case cases[] = {{7200, 0.5f, 9000},
                          {4800, 0.5f, 0},
                          {7200, 1.0f, 12000},
                          {7200, 0.0f, 12000},
                          {31200, 0.5f, 33000}};
    for (const Case &c : cases) {
        clip->notes = {midiNote(60, c.start, 100)};
        IterativeQuantizeClipCommand quantise(clip->id, GridQuantize::Eighth, c.swing, 1.0f, 0,
                                              false, false);
        quantise.redo(project);
        EXPECT_EQ(clip->notes[0].start, c.snapped) << c.start << " swing " << c.swing;
    }
}

TEST_F(NoteTransformTest, QuantisingASelectionFollowsTheTempoMapAndMovesTheClipsToo) {
    project.tempoMarkers = {{0, 60.0}}; // one beat is now 48000 samples
    clip->arrangeStart = 30000;
    clip->notes = {midiNote(60, 30000, 100)};
    const auto session = placeClip(project, track->id, ClipKind::Midi, 30000, 100);
    session->sessionRow = 0;
    QuantizeSelectionCommand quantise(track->id, GridQuantize::Quarter, 0.0f, 1.0f, 0, false,
                                      false);
    quantise.redo(project);
    EXPECT_EQ(clip->arrangeStart, 48000);
    EXPECT_EQ(clip->notes[0].start, 48000);
    EXPECT_EQ(session->arrangeStart, 30000);
    quantise.undo(project);
    quantise.redo(project);
    EXPECT_EQ(clip->arrangeStart, 48000);
    quantise.undo(project);
    EXPECT_EQ(clip->arrangeStart, 30000);
    EXPECT_EQ(clip->notes[0].start, 30000);
}

TEST_F(NoteTransformTest, HumanisingStaysWithinItsRangesAndRepeatsForTheSameSeed) {
    struct Case {
        int64_t span;
        float timing;
        float velocity;
    };
    const Case cases[] = {{1000, 0.1f, 0.2f}, {24000, 0.05f, 0.0f}, {100, 0.0f, 0.5f}};
    for (const Case &c : cases) {
        clip->notes.clear();
        for (int i = 0; i < 64; ++i)
            clip->notes.push_back(midiNote(60, 5000 + 100 * i, 50, 0.5f));
        const auto before = clip->notes;
        HumanizeMidiClipCommand humanise(clip->id, c.span, c.timing, c.velocity, 7);
        humanise.redo(project);
        const auto first = clip->notes;
        const int64_t reach = std::max<int64_t>(static_cast<int64_t>(c.span * c.timing), 1);
        bool anyMoved = false;
        for (std::size_t i = 0; i < before.size(); ++i) {
            EXPECT_LE(std::abs(first[i].start - before[i].start), reach) << c.span;
            EXPECT_LE(std::fabs(first[i].velocity - before[i].velocity), c.velocity + 1e-6f);
            anyMoved = anyMoved || first[i] != before[i];
        }
        EXPECT_TRUE(anyMoved) << c.span;
        humanise.undo(project);
        EXPECT_EQ(clip->notes, before);
        humanise.redo(project);
        EXPECT_EQ(clip->notes, first);
    }
}

TEST_F(NoteTransformTest, TranspositionStopsAtTheMidiLimits) {
    struct Case {
        int32_t pitch;
        int32_t semitones;
        int32_t result;
    };
    const Case cases[] = {{120, 12, 127}, {3, -12, 0}, {60, 7, 67}, {0, -1, 0}, {127, 1, 127}};
    for (const Case &c : cases) {
        clip->notes = {midiNote(c.pitch, 0, 10)};
        TransposeMidiClipCommand transpose(clip->id, c.semitones);
        transpose.redo(project);
        EXPECT_EQ(clip->notes[0].pitch, c.result) << c.pitch << " by " << c.semitones;
        transpose.undo(project);
        EXPECT_EQ(clip->notes[0].pitch, c.pitch);
    }
}

TEST_F(NoteTransformTest, LegatoExtendsEachNoteToTheNextOfItsPitch) {
    clip->notes = {midiNote(60, 400, 10), midiNote(60, 0, 10), midiNote(64, 100, 10)};
    LegatoMidiClipCommand legato(clip->id);
    legato.redo(project);
    EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{0, 100, 400}));
    EXPECT_EQ(clip->notes[0].length, 400);
    EXPECT_EQ(clip->notes[1].length, 900);
    EXPECT_EQ(clip->notes[2].length, 600);
}

TEST_F(NoteTransformTest, ArpeggioPlaysTheOpeningChordOnePitchPerStep) {
    struct Case {
        bool descending;
        std::vector<int32_t> pitches;
    };
    for (const Case &c : {Case{false, {60, 64, 67}}, Case{true, {67, 64, 60}}}) {
        clip->notes = {midiNote(64, 0, 100, 0.9f), midiNote(60, 50, 100), midiNote(67, 350, 100),
                       midiNote(72, 400, 100)}; // 72 starts after four steps of 100
        clip->length = 300;
        ArpeggiateMidiClipCommand arpeggiate(clip->id, 100, c.descending);
        arpeggiate.redo(project);
        EXPECT_EQ(pitchesOf(clip->notes), c.pitches);
        EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{0, 100, 200}));
        for (const MidiNote &note : clip->notes) {
            EXPECT_EQ(note.length, 50);
            EXPECT_EQ(note.velocity, 0.9f);
        }
        EXPECT_EQ(clip->length, 400);
        arpeggiate.undo(project);
        EXPECT_EQ(clip->notes.size(), 4u);
        EXPECT_EQ(clip->length, 300);
    }
}

TEST_F(NoteTransformTest, ReversingMirrorsNotesWithinTheClip) {
    clip->notes = {midiNote(60, 100, 200), midiNote(62, 900, 300)};
    ReverseMidiClipCommand reverse(clip->id);
    reverse.redo(project);
    EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{700, 0}));
}

TEST_F(NoteTransformTest, EuclideanPitchIndexIsKeptWithinTheTable) {
    struct Case {
        int32_t index;
        int32_t pitch;
    };
    for (const Case &c : {Case{12, 60}, Case{-3, 48}, Case{2, 52}}) {
        clip->notes.clear();
        ApplyEuclideanStepSeqCommand fill(clip->id, c.index, 8, 3, 100);
        fill.redo(project);
        ASSERT_EQ(clip->notes.size(), 3u) << c.index;
        for (const MidiNote &note : clip->notes)
            EXPECT_EQ(note.pitch, c.pitch) << c.index;
    }
}

TEST_F(NoteTransformTest, PitchBendsAccumulateUpToTwoHundredCents) {
    clip->notes = {midiNote(60, 0, 10)};
    AdjustMidiPitchBendCommand up(clip->id, 150.0f);
    up.redo(project);
    up.redo(project);
    EXPECT_EQ(clip->notes[0].bendCents, 200.0f);
    AdjustMidiPitchBendCommand down(clip->id, -500.0f);
    down.redo(project);
    EXPECT_EQ(clip->notes[0].bendCents, -200.0f);
}

TEST_F(NoteTransformTest, PitchQuantiseStrengthPullsTowardsTheScale) {
    struct Case {
        float strength;
        int32_t pitch;
    };
    // C# in C major snaps to C (the lower neighbour on a tie); half way rounds away from zero.
    for (const Case &c : {Case{1.0f, 60}, Case{0.0f, 61}, Case{0.5f, 61}, Case{0.4f, 61}}) {
        clip->notes = {midiNote(61, 0, 10)};
        QuantizeMidiPitchCommand quantise(clip->id, 0, false, c.strength);
        quantise.redo(project);
        EXPECT_EQ(clip->notes[0].pitch, c.pitch) << c.strength;
    }
}

TEST_F(NoteTransformTest, WholeClipEditsSkipClipsWithoutNotesOrOfTheWrongKind) {
    ScaleMidiDurationCommand stretch(clip->id, 2.0f);
    stretch.redo(project);
    EXPECT_EQ(clip->length, 1000);
    const auto audio = placeClip(project, track->id, ClipKind::Audio, 0, 1000);
    audio->notes = {midiNote(60, 10, 10)};
    TransposeMidiClipCommand transpose(audio->id, 5);
    transpose.redo(project);
    EXPECT_EQ(audio->notes[0].pitch, 60);
}

} // namespace
} // namespace orvane::testing
