#include "core/commands/CommandStack.h"
#include "core/commands/ImportAudioCommand.h"
#include "core/commands/TrackCommands.h"
#include "core/commands/tests/support/ClipFixtures.h"
#include "core/commands/tests/support/ProjectComparison.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using testing::placeClip;

TEST(AddTrack, RedoBringsTheTrackBackWithItsFirstIdAndGeneratedName) {
    Project project;
    CommandStack stack;
    stack.execute(project, std::make_unique<AddTrackCommand>(TrackType::Midi, ""));
    ASSERT_EQ(project.tracks.size(), 1u);
    EXPECT_EQ(project.tracks[0]->name, "Track 1");

    stack.undo(project);
    EXPECT_TRUE(project.tracks.empty());
    EXPECT_EQ(project.nextTrackId, 2u);

    stack.redo(project);
    ASSERT_EQ(project.tracks.size(), 1u);
    EXPECT_EQ(project.tracks[0]->id, 1u);
    EXPECT_EQ(project.tracks[0]->name, "Track 1");
    EXPECT_EQ(project.tracks[0]->type, TrackType::Midi);
    EXPECT_EQ(project.nextTrackId, 2u);
}

TEST(AddTrack, UndoLeavesTheOtherTracksInOrder) {
    Project project;
    project.addTrack(TrackType::Audio, "A");
    AddTrackCommand command(TrackType::Audio, "B");
    command.redo(project);
    project.addTrack(TrackType::Audio, "C");
    command.undo(project);
    ASSERT_EQ(project.tracks.size(), 2u);
    EXPECT_EQ(project.tracks[0]->name, "A");
    EXPECT_EQ(project.tracks[1]->name, "C");
}

class RemoveTrackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *name : {"Drums", "Bass", "Keys"})
            project.addTrack(TrackType::Audio, name);
        bassClip = placeClip(project, 2, ClipKind::Audio, 0, 100);
        bassClip->sessionRow = 0;
        keysClip = placeClip(project, 3, ClipKind::Audio, 0, 100);
        keysClip->sessionRow = 0;
        project.session.scenes.push_back(Scene{1, "Intro", {0, bassClip->id, keysClip->id}});
        project.session.scenes.push_back(Scene{2, "Verse", {0, bassClip->id, 0}});
    }

    Project project;
    std::shared_ptr<Clip> bassClip;
    std::shared_ptr<Clip> keysClip;
};

TEST_F(RemoveTrackTest, EmptiesTheTracksSceneSlotsAndUndoRestoresThemAndItsPlace) {
    const Project before = testing::deepCopyProject(project);
    CommandStack stack;
    stack.execute(project, std::make_unique<RemoveTrackCommand>(2));
    ASSERT_EQ(project.tracks.size(), 2u);
    EXPECT_EQ(project.session.scenes[0].clips, (std::vector<uint64_t>{0, 0, keysClip->id}));
    EXPECT_EQ(project.session.scenes[1].clips, (std::vector<uint64_t>{0, 0, 0}));

    stack.undo(project);
    EXPECT_TRUE(testing::projectDifferences(before, project).empty())
        << testing::describeDifferences(testing::projectDifferences(before, project));
    EXPECT_EQ(project.tracks[1]->clips[0], bassClip);

    stack.redo(project);
    EXPECT_EQ(project.findTrack(2), nullptr);
    stack.undo(project);
    EXPECT_EQ(project.tracks[1]->id, 2u);
}

TEST_F(RemoveTrackTest, MissingTrackChangesNothingEitherWay) {
    const Project before = testing::deepCopyProject(project);
    RemoveTrackCommand command(99);
    command.redo(project);
    command.undo(project);
    EXPECT_TRUE(testing::projectDifferences(before, project).empty());
}

TEST_F(RemoveTrackTest, UndoAppendsWhenTheOldIndexIsGone) {
    RemoveTrackCommand command(3);
    command.redo(project);
    project.tracks.erase(project.tracks.begin());
    command.undo(project);
    ASSERT_EQ(project.tracks.size(), 2u);
    EXPECT_EQ(project.tracks.back()->id, 3u);
}

} // namespace
} // namespace orvane

namespace orvane {
namespace {

Clip importedClip(int64_t start, int64_t frames) {
    Clip clip;
    clip.name = "take";
    clip.audio = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2, 0.25f);
    clip.arrangeStart = start;
    clip.length = frames;
    return clip;
}

TEST(ImportAudio, OnANewTrackUndoesAsOneStepAndRedoRestoresTheSameObjects) {
    Project project;
    project.addTrack(TrackType::Audio, "Drums");
    CommandStack stack;
    auto command = std::make_unique<ImportAudioCommand>(0, "vocal", importedClip(4800, 96000));
    const ImportAudioCommand &placed = *command;
    stack.execute(project, std::move(command));
    ASSERT_EQ(project.tracks.size(), 2u);
    const auto track = project.tracks[1];
    ASSERT_EQ(track->clips.size(), 1u);
    const auto clip = track->clips[0];
    EXPECT_EQ(track->name, "vocal");
    EXPECT_EQ(placed.placedTrackId(), track->id);
    EXPECT_EQ(placed.placedClipId(), clip->id);
    EXPECT_EQ(clip->trackId, track->id);
    EXPECT_EQ(clip->arrangeStart, 4800);
    EXPECT_EQ(project.lengthSamples, 4800 + 96000);
    EXPECT_EQ(stack.undoName(), "Import Audio");

    stack.undo(project);
    ASSERT_EQ(project.tracks.size(), 1u);
    EXPECT_EQ(project.tracks[0]->name, "Drums");
    EXPECT_EQ(project.lengthSamples, 0);

    stack.redo(project);
    ASSERT_EQ(project.tracks.size(), 2u);
    EXPECT_EQ(project.tracks[1], track);
    ASSERT_EQ(track->clips.size(), 1u);
    EXPECT_EQ(track->clips[0], clip);
    EXPECT_EQ(project.findClip(clip->id), clip);
}

TEST(ImportAudio, OnAnExistingAudioTrackOnlyAndNeverOnAMidiTrack) {
    Project project;
    const auto audio = project.addTrack(TrackType::Audio, "Bass");
    const auto midi = project.addTrack(TrackType::Midi, "Keys");
    ImportAudioCommand onAudio(audio->id, "ignored", importedClip(0, 480));
    onAudio.redo(project);
    EXPECT_EQ(project.tracks.size(), 2u) << "no new track for an existing one";
    ASSERT_EQ(audio->clips.size(), 1u);
    onAudio.undo(project);
    EXPECT_TRUE(audio->clips.empty());

    ImportAudioCommand onMidi(midi->id, "ignored", importedClip(0, 480));
    onMidi.redo(project);
    EXPECT_EQ(onMidi.placedTrackId(), 0u);
    EXPECT_TRUE(midi->clips.empty());
    onMidi.undo(project);
    EXPECT_EQ(project.tracks.size(), 2u);
}

} // namespace
} // namespace orvane
