#include "app/shell/DocumentOperations.h"

#include <gtest/gtest.h>

#include <limits>

using namespace orvane;

namespace {

std::vector<std::shared_ptr<Track>> returnsOf(const Project &project) {
    std::vector<std::shared_ptr<Track>> returns;
    for (const auto &track : project.tracks)
        if (track->type == TrackType::Return) returns.push_back(track);
    return returns;
}

} // namespace

TEST(EnsureReturnTracks, AddsBothReturnsAndRoutesEveryOrdinaryTrack) {
    Project project;
    auto audio = project.addTrack(TrackType::Audio, "a");
    auto midi = project.addTrack(TrackType::Midi, "m");
    auto unused = project.addTrack(TrackType::Unused, "u");
    HVEnsureReturnTracks(project);
    const auto returns = returnsOf(project);
    ASSERT_EQ(returns.size(), 2u);
    EXPECT_EQ(returns[0]->name, "Reverb A");
    EXPECT_EQ(returns[1]->name, "Delay B");
    for (const auto &track : {audio, midi}) {
        EXPECT_EQ(track->sends[0].returnId, returns[0]->id);
        EXPECT_EQ(track->sends[1].returnId, returns[1]->id);
        EXPECT_EQ(track->sends[0].level, 0.0f) << "routing must not make anything audible";
        EXPECT_EQ(track->sends[2].returnId, 0u);
    }
    EXPECT_EQ(unused->sends[0].returnId, 0u);
    EXPECT_EQ(returns[0]->sends[0].returnId, 0u) << "a return never sends to itself";
}

TEST(EnsureReturnTracks, KeepsExistingReturnsAndChosenSends) {
    Project project;
    auto own = project.addTrack(TrackType::Return, "Hall");
    auto audio = project.addTrack(TrackType::Audio, "a");
    audio->sends[0].returnId = 4242;
    HVEnsureReturnTracks(project);
    const auto returns = returnsOf(project);
    ASSERT_EQ(returns.size(), 2u);
    EXPECT_EQ(returns[0], own);
    EXPECT_EQ(returns[1]->name, "Delay B");
    EXPECT_EQ(audio->sends[0].returnId, 4242u);
    EXPECT_EQ(audio->sends[1].returnId, returns[1]->id);

    const std::size_t trackCount = project.tracks.size();
    HVEnsureReturnTracks(project);
    EXPECT_EQ(project.tracks.size(), trackCount) << "a second call adds nothing";
}

TEST(StartupProject, HoldsTheFourBarPhraseAndTheSessionLoop) {
    const Project project = buildStartupProject(48000.0);
    EXPECT_EQ(project.name, "Untitled");
    ASSERT_EQ(project.tracks.size(), 4u);
    EXPECT_EQ(project.tracks[0]->name, "MIDI 1");
    EXPECT_EQ(project.tracks[1]->name, "Аудио 1");
    EXPECT_EQ(project.tracks[1]->type, TrackType::Audio);
    const auto &clips = project.tracks[0]->clips;
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0]->arrangeStart, 0);
    EXPECT_EQ(clips[0]->length, 384000); // four bars of 4/4 at 120 BPM
    ASSERT_EQ(clips[0]->notes.size(), 3u);
    EXPECT_EQ(clips[0]->notes[1], (MidiNote{64, 0.85f, 24000, 24000, 1.0f, 0.0f}));
    EXPECT_EQ(clips[0]->notes[2].pitch, 67);
    EXPECT_EQ(clips[0]->notes[2].start, 48000);
    EXPECT_EQ(clips[1]->name, "Loop A");
    EXPECT_EQ(clips[1]->sessionRow, 0);
    EXPECT_EQ(clips[1]->sessionCol, 1);
    EXPECT_TRUE(clips[1]->loop);
    EXPECT_EQ(clips[1]->loopLength, 96000);
    ASSERT_EQ(clips[1]->notes.size(), 1u);
    EXPECT_EQ(clips[1]->notes[0], (MidiNote{48, 0.9f, 0, 12000, 1.0f, 0.0f}));
}

TEST(ArrangementExportLength, EmptyProjectIsFourBarsAndABeat) {
    Project project;
    EXPECT_EQ(arrangementExportLength(project), 4 * 96000 + 24000);
    project.timeSignature = {3, 4};
    project.tempoBpm = 60.0;
    EXPECT_EQ(arrangementExportLength(project), 12 * 48000 + 48000);
    project.tempoBpm = 0.0; // damaged: plays at 120
    project.timeSignature = {4, 0};
    EXPECT_EQ(arrangementExportLength(project), 4 * 96000 + 24000);
}

TEST(ArrangementExportLength, FollowsTheLastArrangementClipOnly) {
    Project project;
    auto track = project.addTrack(TrackType::Audio, "a");
    auto late = project.addClip(track->id, ClipKind::Audio);
    late->arrangeStart = 500000;
    late->length = 1000;
    auto session = project.addClip(track->id, ClipKind::Audio);
    session->sessionRow = 0;
    session->arrangeStart = 9000000;
    session->length = 1000;
    EXPECT_EQ(arrangementExportLength(project), 501000 + 24000);
    late->length = -50; // counts as one frame
    EXPECT_EQ(arrangementExportLength(project), 500001 + 24000);
    project.lengthSamples = 700000;
    EXPECT_EQ(arrangementExportLength(project), 700000 + 24000);
}

TEST(ArrangementExportLength, SaturatesInsteadOfOverflowing) {
    Project project;
    auto track = project.addTrack(TrackType::Audio, "a");
    auto clip = project.addClip(track->id, ClipKind::Audio);
    clip->arrangeStart = std::numeric_limits<int64_t>::max() - 10;
    clip->length = 1000;
    EXPECT_EQ(arrangementExportLength(project), std::numeric_limits<int64_t>::max());
}
