#include "core/commands/CommandStack.h"
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
