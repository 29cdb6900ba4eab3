#include "core/commands/AutomationCommands.h"
#include "core/commands/CommandStack.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/SnapshotCommands.h"
#include "core/commands/TagAndTuningCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/project_io/ProjectDocument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace orvane {
namespace {

struct MixerFixture {
    MixerFixture() {
        bus = project.addTrack(TrackType::Return, "Bus");
        track = project.addTrack(TrackType::Audio, "");
    }
    Project project;
    std::shared_ptr<Track> bus;
    std::shared_ptr<Track> track;
    CommandStack stack;
};

TEST(TrackMixer, FaderValuesAreSetUnclampedAndUndone) {
    MixerFixture f;
    f.stack.execute(f.project,
                    std::make_unique<SetTrackMixerCommand>(f.track->id, 3.0f, -2.0f, true, true));
    EXPECT_EQ(f.track->gain, 3.0f);
    EXPECT_EQ(f.track->pan, -2.0f);
    EXPECT_TRUE(f.track->mute && f.track->solo);
    f.stack.execute(f.project,
                    std::make_unique<SetTrackMixerCommand>(f.track->id, NAN, 0.0f, false, false));
    EXPECT_EQ(f.track->gain, 3.0f);
    f.stack.undo(f.project);
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->gain, 1.0f);
    EXPECT_FALSE(f.track->mute || f.track->solo);
}

TEST(TrackMixer, SendsOutsideTheFourSlotsAndMacrosAboveOneAreHandled) {
    MixerFixture f;
    const SendSlot send{f.bus->id, 0.5f, true};
    f.stack.execute(f.project, std::make_unique<SetTrackSendCommand>(f.track->id, 4, send));
    f.stack.execute(f.project, std::make_unique<SetTrackSendCommand>(f.track->id, -1, send));
    EXPECT_EQ(f.track->sends, (std::array<SendSlot, 4>{}));
    f.stack.execute(f.project, std::make_unique<SetTrackSendCommand>(f.track->id, 3, send));
    EXPECT_EQ(f.track->sends[3], send);
    f.stack.execute(f.project, std::make_unique<SetTrackMacroCommand>(f.track->id, 2, 1.7f));
    f.stack.execute(f.project, std::make_unique<SetTrackMacroCommand>(f.track->id, 0, -3.0f));
    EXPECT_EQ(f.track->macros, (std::array<float, 4>{0.0f, 0.5f, 1.0f, 0.5f}));
    for (int i = 0; i < 5; ++i)
        f.stack.undo(f.project);
    EXPECT_EQ(f.track->sends[3], SendSlot{});
    EXPECT_EQ(f.track->macros, (std::array<float, 4>{0.5f, 0.5f, 0.5f, 0.5f}));
}

TEST(TrackMixer, ControlRoomAndLowLatencyModeAreUndone) {
    MixerFixture f;
    f.stack.execute(f.project, std::make_unique<SetControlRoomCommand>(
                                   ControlRoomSettings{0.5f, 0.7f, true, true, false}));
    f.stack.execute(f.project, std::make_unique<SetLowLatencyModeCommand>(true));
    EXPECT_TRUE(f.project.lowLatencyMode);
    EXPECT_TRUE(f.project.controlRoom.dim);
    f.stack.undo(f.project);
    f.stack.undo(f.project);
    EXPECT_FALSE(f.project.lowLatencyMode);
    EXPECT_EQ(f.project.controlRoom, ControlRoomSettings{});
}

TEST(MixerSnapshots, CapturingTwiceUnderOneNameKeepsOneSnapshotWithTheNewerValues) {
    MixerFixture f;
    f.project.addTrack(TrackType::Unused, "");
    f.stack.execute(f.project, std::make_unique<CaptureMixerSnapshotCommand>("A"));
    f.track->gain = 0.25f;
    f.stack.execute(f.project, std::make_unique<CaptureMixerSnapshotCommand>("A"));
    ASSERT_EQ(f.project.mixerSnapshots.size(), 1u);
    const auto &snapshot = f.project.mixerSnapshots[0];
    ASSERT_EQ(snapshot.tracks.size(), 2u) << "tracks of type 2 are left out";
    EXPECT_EQ(snapshot.tracks[1].trackId, f.track->id);
    EXPECT_EQ(snapshot.tracks[1].gain, 0.25f);
    EXPECT_EQ(f.project.mixerSnapshotHistory.back().label, "Capture A");
}

TEST(MixerSnapshots, EachRecallAddsOneHistoryEntryAndTheNewest32Remain) {
    MixerFixture f;
    f.stack.execute(f.project, std::make_unique<CaptureMixerSnapshotCommand>("A"));
    for (int i = 0; i < 40; ++i)
        f.stack.execute(f.project, std::make_unique<RecallMixerSnapshotCommand>(0));
    ASSERT_EQ(f.project.mixerSnapshotHistory.size(), 32u);
    EXPECT_EQ(f.project.mixerSnapshotHistory.front().label, "Recall A");
    for (int i = 0; i < 41; ++i)
        f.stack.undo(f.project);
    EXPECT_TRUE(f.project.mixerSnapshotHistory.empty());
}

TEST(MixerSnapshots, RecallSkipsARemovedTrackAndAppliesTheRest) {
    MixerFixture f;
    f.track->gain = 0.3f;
    f.bus->gain = 0.6f;
    f.project.controlRoom.mono = true;
    f.stack.execute(f.project, std::make_unique<CaptureMixerSnapshotCommand>("A"));
    f.stack.execute(f.project, std::make_unique<RemoveTrackCommand>(f.track->id));
    f.bus->gain = 1.0f;
    f.project.controlRoom.mono = false;
    f.stack.execute(f.project, std::make_unique<RecallMixerSnapshotCommand>(0));
    EXPECT_EQ(f.bus->gain, 0.6f);
    EXPECT_TRUE(f.project.controlRoom.mono);
    f.stack.execute(f.project, std::make_unique<RecallMixerSnapshotCommand>(5));
    EXPECT_EQ(f.project.mixerSnapshotHistory.size(), 2u);
    f.stack.undo(f.project);
    f.stack.undo(f.project);
    EXPECT_EQ(f.bus->gain, 1.0f);
    EXPECT_FALSE(f.project.controlRoom.mono);
}

TEST(UserTags, TogglingTheLastTagRemovesTheEntryAndUndoBringsItBack) {
    Project project;
    project.pluginUserTags["vst3:A1"] = {"Drums"};
    CommandStack stack;
    stack.execute(project, std::make_unique<TogglePluginUserTagCommand>("vst3:A1", "Drums"));
    EXPECT_FALSE(project.pluginUserTags.contains("vst3:A1"));
    stack.undo(project);
    EXPECT_EQ(project.pluginUserTags["vst3:A1"], std::vector<std::string>{"Drums"});
}

TEST(UserTags, UndoKeepsTheOrderOfTheOtherTags) {
    Project project;
    project.audioMediaTags["loop.wav"] = {"A", "B", "C"};
    CommandStack stack;
    stack.execute(project, std::make_unique<ToggleAudioMediaTagCommand>("loop.wav", "A"));
    stack.execute(project, std::make_unique<ToggleAudioMediaTagCommand>("loop.wav", "D"));
    EXPECT_EQ(project.audioMediaTags["loop.wav"], (std::vector<std::string>{"B", "C", "D"}));
    stack.undo(project);
    stack.undo(project);
    EXPECT_EQ(project.audioMediaTags["loop.wav"], (std::vector<std::string>{"A", "B", "C"}));
}

TEST(Tuning, APresetClearsTheScalaNameAndAFileSelectsNoPreset) {
    Project project;
    CommandStack stack;
    std::array<float, 12> cents{};
    cents[4] = -13.7f;
    stack.execute(project, std::make_unique<SetScalaFromFileCommand>("Just", cents));
    EXPECT_EQ(project.scalaPresetIndex, -1);
    EXPECT_EQ(project.scalaName, "Just");
    stack.execute(project, std::make_unique<SetScalaPresetCommand>(2, std::array<float, 12>{}));
    EXPECT_EQ(project.scalaPresetIndex, 2);
    EXPECT_EQ(project.scalaName, "");
    stack.execute(project,
                  std::make_unique<SetKbmMappingCommand>("white", std::vector<int32_t>{0, 2, 4}));
    EXPECT_EQ(project.kbmDegrees, (std::vector<int32_t>{0, 2, 4}));
    stack.undo(project);
    stack.undo(project);
    EXPECT_EQ(project.scalaName, "Just");
    EXPECT_EQ(project.scalaCents[4], -13.7f);
    stack.undo(project);
    EXPECT_EQ(project.scalaPresetIndex, 0);
    EXPECT_EQ(project.scalaCents, (std::array<float, 12>{}));
    EXPECT_TRUE(project.kbmDegrees.empty());
}

// Values that would reach the audio as NaN, or break every conversion between samples and
// beats, are refused: the command changes nothing.
TEST(BadValues, AreRefusedAndChangeNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::array<float, 12> nanCents{};
    nanCents[3] = nan;
    using Make = std::function<std::unique_ptr<Command>(uint64_t track)>;
    const std::vector<std::pair<const char *, Make>> cases = {
        {"marker id 0", [](uint64_t) { return std::make_unique<AddMarkerCommand>(0, "x", 0); }},
        {"largest marker id",
         [](uint64_t) {
             return std::make_unique<AddMarkerCommand>(std::numeric_limits<uint64_t>::max(), "x",
                                                       0);
         }},
        {"tempo 0", [](uint64_t) { return std::make_unique<AddTempoMarkerCommand>(0, 0.0); }},
        {"negative tempo",
         [](uint64_t) { return std::make_unique<AddTempoMarkerCommand>(0, -60.0); }},
        {"infinite tempo",
         [&](uint64_t) { return std::make_unique<AddTempoMarkerCommand>(0, inf); }},
        {"meter 0/4",
         [](uint64_t) {
             return std::make_unique<AddMeterMarkerCommand>(0, TimeSignature{0, 4});
         }},
        {"meter 4/-2",
         [](uint64_t) {
             return std::make_unique<MoveMeterMarkerCommand>(0, 9, TimeSignature{4, -2});
         }},
        {"NaN automation",
         [&](uint64_t track) {
             return std::make_unique<SetAutomationPointCommand>(track, 0, 5, nan);
         }},
        {"NaN automation move",
         [&](uint64_t track) {
             return std::make_unique<MoveAutomationPointCommand>(track, 0, 0, 5, nan);
         }},
        {"NaN gain",
         [&](uint64_t track) {
             return std::make_unique<SetTrackMixerCommand>(track, nan, 0.0f, true, false);
         }},
        {"NaN pan",
         [&](uint64_t track) {
             return std::make_unique<SetTrackMixerCommand>(track, 1.0f, nan, true, false);
         }},
        {"NaN send",
         [&](uint64_t track) {
             return std::make_unique<SetTrackSendCommand>(track, 0, SendSlot{0, nan, false});
         }},
        {"NaN macro",
         [&](uint64_t track) { return std::make_unique<SetTrackMacroCommand>(track, 0, nan); }},
        {"NaN control room",
         [&](uint64_t) {
             return std::make_unique<SetControlRoomCommand>(ControlRoomSettings{nan, 1.0f});
         }},
        {"NaN cents",
         [&](uint64_t) { return std::make_unique<SetScalaPresetCommand>(2, nanCents); }},
        {"empty media key",
         [](uint64_t) { return std::make_unique<ToggleAudioMediaTagCommand>("", "A"); }},
    };
    for (const auto &[what, make] : cases) {
        MixerFixture f;
        f.project.meterMarkers = {{0, 3, 4}};
        f.track->volumeAutomation = {{0, 0.5f}};
        const auto before = project_io::toJson(f.project);
        make(f.track->id)->redo(f.project);
        EXPECT_EQ(project_io::toJson(f.project), before) << what;
        EXPECT_EQ(f.project.nextMarkerId, 1u) << what;
    }
}

} // namespace
} // namespace orvane
