// Undo gives back the user's own earlier values, also those that a redo replaced, and
// snapshots survive a trip through the project file without cutting any send.
#include "core/commands/CommandStack.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/SnapshotCommands.h"
#include "core/project_io/ProjectDocument.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(UndoRestores, AReplacedTempoKeepsItsBpmAndTheBaseTempoComesBack) {
    Project project;
    project.tempoBpm = 110.0;
    project.tempoMarkers = {{0, 100.0}, {96000, 97.0}};
    CommandStack stack;
    stack.execute(project, std::make_unique<AddTempoMarkerCommand>(96000, 140.0));
    EXPECT_EQ(project.tempoMarkers[1].bpm, 140.0);
    EXPECT_EQ(project.tempoBpm, 140.0);
    stack.undo(project);
    EXPECT_EQ(project.tempoMarkers, (std::vector<TempoMarker>{{0, 100.0}, {96000, 97.0}}));
    EXPECT_EQ(project.tempoBpm, 110.0);
    stack.redo(project);
    EXPECT_EQ(project.tempoMarkers[1].bpm, 140.0);
}

TEST(UndoRestores, AReplacedMeterKeepsItsSignature) {
    Project project;
    project.meterMarkers = {{48000, 7, 8}};
    CommandStack stack;
    stack.execute(project, std::make_unique<AddMeterMarkerCommand>(48000, TimeSignature{3, 4}));
    EXPECT_EQ(project.meterMarkers, (std::vector<MeterMarker>{{48000, 3, 4}}));
    stack.undo(project);
    EXPECT_EQ(project.meterMarkers, (std::vector<MeterMarker>{{48000, 7, 8}}));
}

TEST(UndoRestores, AReplacedChordKeepsItsText) {
    Project project;
    project.chordMarkers = {{0, "Am7"}, {24000, "Dm"}};
    CommandStack stack;
    stack.execute(project, std::make_unique<AddChordMarkerCommand>(24000, "G7"));
    EXPECT_EQ(project.chordMarkers[1].chord, "G7");
    stack.undo(project);
    EXPECT_EQ(project.chordMarkers[1].chord, "Dm");
}

struct MixerFixture {
    MixerFixture() {
        returnTrack = project.addTrack(TrackType::Return, "Reverb");
        track = project.addTrack(TrackType::Audio, "Vox");
        track->gain = 0.5f;
        track->sends[0] = {returnTrack->id, 0.7f, true};
        track->macros = {0.1f, 0.2f, 0.3f, 0.4f};
    }
    Project project;
    std::shared_ptr<Track> returnTrack;
    std::shared_ptr<Track> track;
    CommandStack stack;
};

TEST(UndoRestores, ASnapshotOverwrittenByACaptureComesBackAsItWas) {
    MixerFixture mixer;
    auto &project = mixer.project;
    mixer.stack.execute(project, std::make_unique<CaptureMixerSnapshotCommand>("Verse"));
    const MixerSnapshot first = project.mixerSnapshots[0];
    mixer.track->gain = 0.9f;
    mixer.stack.execute(project, std::make_unique<CaptureMixerSnapshotCommand>("Verse"));
    ASSERT_EQ(project.mixerSnapshots.size(), 1u);
    EXPECT_EQ(project.mixerSnapshots[0].tracks[1].gain, 0.9f);
    EXPECT_EQ(project.mixerSnapshotHistory.size(), 2u);

    mixer.stack.undo(project);
    ASSERT_EQ(project.mixerSnapshots.size(), 1u);
    EXPECT_EQ(project.mixerSnapshots[0], first);
    EXPECT_EQ(project.mixerSnapshotHistory.size(), 1u);
    mixer.stack.undo(project);
    EXPECT_TRUE(project.mixerSnapshots.empty());
    EXPECT_TRUE(project.mixerSnapshotHistory.empty());
}

Project throughTheFile(const Project &project) {
    std::string error;
    auto loaded = project_io::fromJson(project_io::toJson(project), &error);
    EXPECT_TRUE(loaded) << error;
    return loaded ? std::move(*loaded) : Project{};
}

TEST(UndoRestores, CaptureSaveLoadAndRecallKeepsSendsAndMacros) {
    MixerFixture mixer;
    mixer.stack.execute(mixer.project, std::make_unique<CaptureMixerSnapshotCommand>("Mix"));
    Project reopened = throughTheFile(mixer.project);
    ASSERT_EQ(reopened.mixerSnapshots.size(), 1u);
    EXPECT_FALSE(reopened.mixerSnapshots[0].hasSendsAndMacros);
    EXPECT_FALSE(reopened.mixerSnapshotHistory[0].snapshot.hasSendsAndMacros);

    auto vox = reopened.findTrack(mixer.track->id);
    vox->gain = 0.1f;
    vox->pan = 0.6f;
    vox->mute = true;
    vox->sends[1] = {mixer.returnTrack->id, 0.3f, false};
    vox->macros[2] = 0.9f;
    const auto sends = vox->sends;
    const auto macros = vox->macros;
    CommandStack stack;
    stack.execute(reopened, std::make_unique<RecallMixerSnapshotCommand>(0));
    EXPECT_EQ(vox->gain, 0.5f);
    EXPECT_EQ(vox->pan, 0.0f);
    EXPECT_FALSE(vox->mute);
    EXPECT_EQ(vox->sends, sends);
    EXPECT_EQ(vox->macros, macros);

    stack.execute(reopened, std::make_unique<RecallMixerHistoryCommand>(0));
    EXPECT_EQ(vox->sends, sends);
    EXPECT_EQ(vox->macros, macros);
    stack.undo(reopened);
    stack.undo(reopened);
    EXPECT_EQ(vox->gain, 0.1f);
    EXPECT_TRUE(vox->mute);
}

TEST(UndoRestores, ASnapshotCapturedAnewOverALoadedOneRecallsSendsAgain) {
    MixerFixture mixer;
    mixer.stack.execute(mixer.project, std::make_unique<CaptureMixerSnapshotCommand>("Mix"));
    Project reopened = throughTheFile(mixer.project);
    CommandStack stack;
    stack.execute(reopened, std::make_unique<CaptureMixerSnapshotCommand>("Mix"));
    EXPECT_TRUE(reopened.mixerSnapshots[0].hasSendsAndMacros);
    auto vox = reopened.findTrack(mixer.track->id);
    vox->sends[0] = {};
    stack.execute(reopened, std::make_unique<RecallMixerSnapshotCommand>(0));
    EXPECT_EQ(vox->sends[0], (SendSlot{mixer.returnTrack->id, 0.7f, true}));
    stack.undo(reopened);
    stack.undo(reopened);
    EXPECT_FALSE(reopened.mixerSnapshots[0].hasSendsAndMacros);
}

} // namespace
} // namespace orvane
