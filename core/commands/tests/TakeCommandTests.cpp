#include "core/commands/TakeCommands.h"
#include "core/commands/tests/support/ClipFixtures.h"
#include "core/commands/tests/support/ProjectComparison.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using testing::clipIds;
using testing::placeClip;

/// Three audio takes at 1000 on lanes 0..2 with the last one sounding, and neighbours that
/// are not takes of that group: another start, another kind, a session clip, another track.
class TakeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        track = project.addTrack(TrackType::Audio, "Vox");
        const auto otherTrack = project.addTrack(TrackType::Audio, "Vox 2");
        for (int32_t lane = 0; lane < 3; ++lane) {
            if (lane == 1) laterClip = placeClip(project, track->id, ClipKind::Audio, 2000, 100);
            auto take = placeClip(project, track->id, ClipKind::Audio, 1000, 100);
            take->takeLane = lane;
            take->takeActive = lane == 2;
            takes.push_back(take);
        }
        midiClip = placeClip(project, track->id, ClipKind::Midi, 1000, 100);
        sessionClip = placeClip(project, track->id, ClipKind::Audio, 1000, 100);
        sessionClip->sessionRow = 0;
        otherTrackClip = placeClip(project, otherTrack->id, ClipKind::Audio, 1000, 100);
    }

    Project project;
    std::shared_ptr<Track> track;
    std::vector<std::shared_ptr<Clip>> takes;
    std::shared_ptr<Clip> laterClip, midiClip, sessionClip, otherTrackClip;
};

TEST_F(TakeTest, SelectingATakeSilencesOnlyTheOtherTakesOfItsGroup) {
    const Project before = testing::deepCopyProject(project);
    SetTakeActiveCommand select(takes[0]->id);
    select.redo(project);
    EXPECT_TRUE(takes[0]->takeActive);
    EXPECT_FALSE(takes[1]->takeActive);
    EXPECT_FALSE(takes[2]->takeActive);
    for (const auto &bystander : {laterClip, midiClip, sessionClip, otherTrackClip})
        EXPECT_TRUE(bystander->takeActive) << bystander->id;

    select.undo(project);
    EXPECT_TRUE(testing::projectDifferences(before, project).empty());
}

TEST_F(TakeTest, FlattenKeepsTheChosenTakeAloneOnLaneZero) {
    FlattenCompCommand flatten(takes[1]->id);
    flatten.redo(project);
    EXPECT_EQ(project.findClip(takes[0]->id), nullptr);
    EXPECT_EQ(project.findClip(takes[2]->id), nullptr);
    EXPECT_EQ(takes[1]->takeLane, 0);
    EXPECT_TRUE(takes[1]->takeActive);
    EXPECT_EQ(clipIds(*track),
              (std::vector<uint64_t>{laterClip->id, takes[1]->id, midiClip->id, sessionClip->id}));
}

TEST_F(TakeTest, FlattenUndoBringsEveryTakeBackInOrderWithOneSounding) {
    const Project before = testing::deepCopyProject(project);
    FlattenCompCommand flatten(takes[1]->id);
    for (int round = 0; round < 2; ++round) {
        flatten.redo(project);
        flatten.undo(project);
        const auto differences = testing::projectDifferences(before, project);
        EXPECT_TRUE(differences.empty()) << testing::describeDifferences(differences);
    }
}

} // namespace
} // namespace orvane
