#include "core/commands/NoteCommands.h"
#include "core/commands/tests/support/MidiClipFixture.h"
#include "core/model/BuiltInPresets.h"

#include <gtest/gtest.h>

namespace orvane::testing {
namespace {

using NoteCommandTest = MidiClipTest;

TEST_F(NoteCommandTest, AddingANotePastTheEndLengthensTheClipAndUndoShortensItAgain) {
    AddMidiNoteCommand add(clip->id, midiNote(60, 900, 300));
    add.redo(project);
    ASSERT_EQ(clip->notes.size(), 1u);
    EXPECT_EQ(clip->length, 1200);
    add.undo(project);
    EXPECT_TRUE(clip->notes.empty());
    EXPECT_EQ(clip->length, 1000);
}

TEST_F(NoteCommandTest, NoteEditsLeaveAudioClipsAlone) {
    const auto audio = placeClip(project, track->id, ClipKind::Audio, 0, 1000);
    AddMidiNoteCommand add(audio->id, midiNote(60, 0, 10));
    add.redo(project);
    PasteMidiNotesCommand paste(audio->id, 0, {midiNote(60, 0, 10)});
    paste.redo(project);
    EXPECT_TRUE(audio->notes.empty());
}

TEST_F(NoteCommandTest, MovingANoteReplacesItAndUndoPutsTheOldNoteBack) {
    clip->notes = {midiNote(60, 0, 100), midiNote(64, 200, 100)};
    MoveMidiNoteCommand move(clip->id, 1, midiNote(67, 950, 100));
    move.redo(project);
    EXPECT_EQ(clip->notes[1], midiNote(67, 950, 100));
    EXPECT_EQ(clip->length, 1050);
    move.undo(project);
    EXPECT_EQ(clip->notes[1], midiNote(64, 200, 100));
    EXPECT_EQ(clip->length, 1000);
}

TEST_F(NoteCommandTest, UndoOfAMoveThatFoundNoNoteWritesNothing) {
    clip->notes = {midiNote(64, 200, 100)};
    MoveMidiNoteCommand move(clip->id, 3, midiNote(67, 0, 10));
    move.redo(project);
    clip->notes.push_back(midiNote(70, 0, 10));
    clip->notes.push_back(midiNote(71, 0, 10));
    clip->notes.push_back(midiNote(72, 0, 10));
    move.undo(project);
    EXPECT_EQ(clip->notes[3], midiNote(72, 0, 10));
}

TEST_F(NoteCommandTest, TogglingADrumStepNextToANoteRemovesItAndUndoRestoresItsPlace) {
    clip->notes = {midiNote(36, 0, 100), midiNote(38, 480, 100), midiNote(38, 960, 100)};
    const MidiNote step = midiNote(38, 500, 100); // within 100 / 4 of the note at 480
    ToggleDrumStepCommand toggle(clip->id, step);
    toggle.redo(project);
    EXPECT_EQ(pitchesOf(clip->notes), (std::vector<int32_t>{36, 38}));
    EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{0, 960}));
    toggle.undo(project);
    toggle.redo(project);
    toggle.undo(project);
    EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{0, 480, 960}));
}

TEST_F(NoteCommandTest, TogglingAnEmptyDrumStepAddsItAndUndoRemovesIt) {
    clip->notes = {midiNote(38, 470, 100)}; // 30 samples off: beyond a quarter of the step
    ToggleDrumStepCommand toggle(clip->id, midiNote(38, 500, 100));
    toggle.redo(project);
    EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{470, 500}));
    toggle.undo(project);
    EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{470}));
}

TEST_F(NoteCommandTest, DrumVelocityIsKeptWithinAFloorAndOne) {
    struct Case {
        float requested;
        float stored;
    };
    for (const Case &c : {Case{0.01f, 0.05f}, Case{3.0f, 1.0f}, Case{0.5f, 0.5f}}) {
        clip->notes = {midiNote(36, 0, 100, 0.7f)};
        SetDrumStepVelocityCommand velocity(clip->id, midiNote(36, 10, 100), c.requested);
        velocity.redo(project);
        EXPECT_EQ(clip->notes[0].velocity, c.stored) << c.requested;
        velocity.undo(project);
        EXPECT_EQ(clip->notes[0].velocity, 0.7f);
    }
}

TEST_F(NoteCommandTest, PastedNotesAreShiftedAndUndoCutsThemOffAgain) {
    clip->notes = {midiNote(60, 0, 100)};
    PasteMidiNotesCommand paste(clip->id, 800, {midiNote(62, 0, 100), midiNote(64, 150, 100)});
    paste.redo(project);
    EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{0, 800, 950}));
    EXPECT_EQ(clip->length, 1050);
    paste.undo(project);
    EXPECT_EQ(startsOf(clip->notes), (std::vector<int64_t>{0}));
    EXPECT_EQ(clip->length, 1000);
}

TEST_F(NoteCommandTest, MpeTogglesOnlyOnMidiTracks) {
    const auto audio = project.addTrack(TrackType::Audio, "");
    ToggleTrackMpeCommand onAudio(audio->id);
    onAudio.redo(project);
    EXPECT_FALSE(audio->mpeEnabled);
    ToggleTrackMpeCommand onMidi(track->id);
    onMidi.redo(project);
    EXPECT_TRUE(track->mpeEnabled);
    onMidi.undo(project);
    EXPECT_FALSE(track->mpeEnabled);
}

TEST_F(NoteCommandTest, ChoosingAnExpressionMapBringsTheBuiltInMapsOnlyWhileItLasts) {
    SetTrackExpressionMapCommand choose(track->id, 1);
    choose.redo(project);
    EXPECT_EQ(track->expressionMapIndex, 1);
    EXPECT_EQ(project.expressionMaps, defaultExpressionMaps());
    choose.undo(project);
    EXPECT_EQ(track->expressionMapIndex, -1);
    EXPECT_TRUE(project.expressionMaps.empty());

    project.expressionMaps = {ExpressionMap{"Own", {}}};
    SetTrackExpressionMapCommand again(track->id, 0);
    again.redo(project);
    again.undo(project);
    EXPECT_EQ(project.expressionMaps.size(), 1u);
}

} // namespace
} // namespace orvane::testing
