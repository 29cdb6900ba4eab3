#include "core/commands/ClipSettingCommands.h"
#include "core/commands/tests/support/ClipFixtures.h"

#include <gtest/gtest.h>

#include <limits>

namespace orvane {
namespace {

using testing::placeClip;

class ClipSettingTest : public ::testing::Test {
  protected:
    void SetUp() override { track = project.addTrack(TrackType::Audio, ""); }

    Project project;
    std::shared_ptr<Track> track;
};

TEST_F(ClipSettingTest, GainIsClampedToZeroToFourAndUndoRestoresIt) {
    const auto clip = placeClip(project, track->id, ClipKind::Audio, 0, 10);
    clip->gain = 0.5f;
    SetClipGainCommand loud(clip->id, 7.0f);
    loud.redo(project);
    EXPECT_EQ(clip->gain, 4.0f);
    SetClipGainCommand negative(clip->id, -1.0f);
    negative.redo(project);
    EXPECT_EQ(clip->gain, 0.0f);
    negative.undo(project);
    loud.undo(project);
    EXPECT_EQ(clip->gain, 0.5f);
}

TEST_F(ClipSettingTest, GainThatIsNotANumberLeavesTheClipAlone) {
    const auto clip = placeClip(project, track->id, ClipKind::Audio, 0, 10);
    SetClipGainCommand command(clip->id, std::numeric_limits<float>::quiet_NaN());
    command.redo(project);
    EXPECT_EQ(clip->gain, 1.0f);
}

TEST_F(ClipSettingTest, FadesAreLimitedToHalfTheClipButNeverBelowOne) {
    const auto clip = placeClip(project, track->id, ClipKind::Audio, 0, 100);
    SetClipFadesCommand fades(clip->id, 80, 30);
    fades.redo(project);
    EXPECT_EQ(clip->fadeIn, 50);
    EXPECT_EQ(clip->fadeOut, 30);
    fades.undo(project);
    EXPECT_EQ(clip->fadeIn, 0);
    EXPECT_EQ(clip->fadeOut, 0);

    for (int64_t length : {0, 1}) {
        clip->length = length;
        SetClipFadesCommand tiny(clip->id, 500, 500);
        tiny.redo(project);
        EXPECT_EQ(clip->fadeIn, 1) << length;
        EXPECT_EQ(clip->fadeOut, 1) << length;
    }
}

TEST_F(ClipSettingTest, LoopingOnGivesAnEmptyLoopTheClipLengthAndOffKeepsIt) {
    const auto clip = placeClip(project, track->id, ClipKind::Audio, 0, 960);
    ToggleClipLoopCommand on(clip->id);
    on.redo(project);
    EXPECT_TRUE(clip->loop);
    EXPECT_EQ(clip->loopLength, 960);
    ToggleClipLoopCommand off(clip->id);
    off.redo(project);
    EXPECT_FALSE(clip->loop);
    EXPECT_EQ(clip->loopLength, 960);
    off.undo(project);
    on.undo(project);
    EXPECT_FALSE(clip->loop);
    EXPECT_EQ(clip->loopLength, 0);
}

TEST_F(ClipSettingTest, UndoWithoutAFoundClipRestoresNothing) {
    const auto clip = placeClip(project, track->id, ClipKind::Audio, 0, 960);
    clip->gain = 3.0f;
    SetClipGainCommand gain(clip->id + 1, 0.0f);
    gain.redo(project);
    gain.undo(project);
    EXPECT_EQ(clip->gain, 3.0f);
}

} // namespace
} // namespace orvane
