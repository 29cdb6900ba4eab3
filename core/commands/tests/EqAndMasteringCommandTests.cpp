#include "core/commands/EqAndMasteringCommands.h"

#include <gtest/gtest.h>

#include <limits>

namespace orvane {
namespace {

TEST(EqAndMasteringCommandsTest, ChannelEqOfATrackOrTheMasterIsSetAndUndone) {
    Project project;
    const auto track = project.addTrack(TrackType::Audio, "A");
    ChannelEq8 eq;
    eq.bands[3].gainDb = 7.5f;
    for (uint64_t target : {track->id, uint64_t{0}}) {
        SetChannelEqCommand command(target, eq);
        command.redo(project);
        ChannelEq8 &edited = target == 0 ? project.masterEq : track->eq;
        EXPECT_EQ(edited, eq);
        command.undo(project);
        EXPECT_EQ(edited, ChannelEq8{});
    }
    ChannelEq8 broken = eq;
    broken.bands[0].freq = std::numeric_limits<float>::quiet_NaN();
    SetChannelEqCommand refused(track->id, broken);
    refused.redo(project);
    EXPECT_EQ(track->eq, ChannelEq8{}) << "a value that is no number never reaches the audio";
    SetChannelEqCommand(999, eq).redo(project); // a missing track: nothing happens
}

TEST(EqAndMasteringCommandsTest, MasteringIsSetAndUndoneAndNonNumbersRefused) {
    Project project;
    MasteringUtility settings;
    settings.character = 2;
    settings.width = 1.5f;
    SetMasteringCommand mastering(settings);
    mastering.redo(project);
    EXPECT_EQ(project.mastering, settings);
    mastering.undo(project);
    EXPECT_EQ(project.mastering, MasteringUtility{});
    settings.loudness = std::numeric_limits<float>::infinity();
    SetMasteringCommand(settings).redo(project);
    EXPECT_EQ(project.mastering, MasteringUtility{});
}

} // namespace
} // namespace orvane
