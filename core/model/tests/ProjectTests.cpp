#include "core/model/Project.h"

#include <gtest/gtest.h>

using namespace orvane;

TEST(ProjectIds, AddTrackWithEmptyNameIsNamedAfterItsIdAndAdvancesTheCounter) {
    Project project;
    auto track = project.addTrack(TrackType::Audio, "");
    EXPECT_EQ(track->id, 1u);
    EXPECT_EQ(track->name, "Track 1");
    EXPECT_EQ(project.nextTrackId, 2u);
    EXPECT_EQ(project.addTrack(TrackType::Midi, "Keys")->name, "Keys");
}

TEST(ProjectIds, AddClipForMissingTrackReturnsNullAndKeepsTheCounter) {
    Project project;
    EXPECT_EQ(project.addClip(42, ClipKind::Audio), nullptr);
    EXPECT_EQ(project.nextClipId, 1u);
    auto track = project.addTrack(TrackType::Midi, "");
    auto clip = project.addClip(track->id, ClipKind::Midi);
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(clip->name, "MIDI 1");
    EXPECT_EQ(clip->trackId, track->id);
    EXPECT_EQ(project.addClip(track->id, ClipKind::Audio)->name, "Audio 2");
    EXPECT_EQ(project.findClip(2), track->clips[1]);
}

TEST(ProjectIds, IdsAreNeverReusedAfterRemoval) {
    Project project;
    auto first = project.addTrack(TrackType::Audio, "");
    project.removeTrack(first->id);
    EXPECT_EQ(project.addTrack(TrackType::Audio, "")->id, 2u);
}

TEST(ProjectRemoval, RemoveTrackEmptiesItsSceneSlotsButKeepsTheirPositions) {
    Project project;
    auto drums = project.addTrack(TrackType::Audio, "Drums");
    auto bass = project.addTrack(TrackType::Audio, "Bass");
    auto drumClip = project.addClip(drums->id, ClipKind::Audio);
    auto bassClip = project.addClip(bass->id, ClipKind::Audio);
    project.session.scenes.push_back(Scene{1, "A", {drumClip->id, bassClip->id}});
    project.removeTrack(drums->id);
    ASSERT_EQ(project.session.scenes[0].clips.size(), 2u);
    EXPECT_EQ(project.session.scenes[0].clips[0], 0u);
    EXPECT_EQ(project.session.scenes[0].clips[1], bassClip->id);
    EXPECT_EQ(project.findTrack(drums->id), nullptr);
    EXPECT_EQ(project.tracks.size(), 1u);
}

TEST(ProjectRemoval, RemoveClipKeepsTheOrderOfTheOthersAndLeavesScenesAlone) {
    Project project;
    auto track = project.addTrack(TrackType::Audio, "");
    for (int i = 0; i < 3; ++i)
        project.addClip(track->id, ClipKind::Audio);
    project.session.scenes.push_back(Scene{1, "A", {2}});
    project.removeClip(2);
    ASSERT_EQ(track->clips.size(), 2u);
    EXPECT_EQ(track->clips[0]->id, 1u);
    EXPECT_EQ(track->clips[1]->id, 3u);
    EXPECT_EQ(project.session.scenes[0].clips[0], 2u);
}

TEST(ProjectMoveClip, OwnTrackIsANoOpAndMismatchedTypesAreRefused) {
    Project project;
    auto audio = project.addTrack(TrackType::Audio, "");
    auto otherAudio = project.addTrack(TrackType::Audio, "");
    auto midi = project.addTrack(TrackType::Midi, "");
    auto clip = project.addClip(audio->id, ClipKind::Audio);
    EXPECT_TRUE(project.moveClipToTrack(clip, audio->id));
    EXPECT_EQ(audio->clips.size(), 1u);
    EXPECT_TRUE(project.moveClipToTrack(nullptr, audio->id));
    EXPECT_TRUE(project.moveClipToTrack(clip, 0));
    EXPECT_FALSE(project.moveClipToTrack(clip, midi->id));
    EXPECT_EQ(clip->trackId, audio->id);
    EXPECT_FALSE(project.moveClipToTrack(clip, 99));
    EXPECT_TRUE(project.moveClipToTrack(clip, otherAudio->id));
    EXPECT_TRUE(audio->clips.empty());
    ASSERT_EQ(otherAudio->clips.size(), 1u);
    EXPECT_EQ(clip->trackId, otherAudio->id);
}

TEST(ProjectCopy, CopiesShareTracksButNotTheTrackList) {
    Project project;
    auto track = project.addTrack(TrackType::Audio, "");
    Project copy = project;
    copy.addTrack(TrackType::Audio, "");
    EXPECT_EQ(project.tracks.size(), 1u);
    EXPECT_EQ(copy.tracks[0], track);
    EXPECT_EQ(copy.nextTrackId, 3u);
    EXPECT_EQ(project.nextTrackId, 2u);
}

TEST(ProjectDefaults, FreshValuesCarryTheDocumentedDefaults) {
    Project project;
    EXPECT_EQ(project.name, "Untitled");
    EXPECT_EQ(project.gridQuantize, GridQuantize::Quarter);
    EXPECT_EQ(project.session.launchQuantize, LaunchQuantize::OneBar);
    EXPECT_EQ(project.flashbackBufferSeconds, 30);
    EXPECT_EQ(project.activeGrooveIndex, -1);
    Clip clip;
    EXPECT_EQ(clip.launchQuantize, LaunchQuantize::OneBar);
    EXPECT_EQ(clip.channels, 2);
    EXPECT_TRUE(clip.takeActive);
    EXPECT_FALSE(clip.isSessionClip());
    Track track;
    EXPECT_EQ(track.macros[2], 0.5f);
    EXPECT_EQ(track.eq.bands[7].type, 4);
    EXPECT_EQ(track.eq.bands[7].freq, 20000.0f);
    EXPECT_EQ(track.eq.bands[1].q, 0.7f);
    EXPECT_EQ(TimeSignature::fromPacked((TimeSignature{7, 8}).packed()), (TimeSignature{7, 8}));
    EXPECT_EQ((TimeSignature{7, 8}).packed() & 0xffffffffu, 7u);
}

TEST(ClipFrames, MonoAndStereoBuffersCountFramesByChannels) {
    Clip clip;
    EXPECT_EQ(clip.audioFrameCount(), 0);
    clip.audio = std::make_shared<std::vector<float>>(10, 0.0f);
    EXPECT_EQ(clip.audioFrameCount(), 5);
    clip.channels = 1;
    EXPECT_EQ(clip.audioFrameCount(), 10);
    clip.channels = 0;
    EXPECT_EQ(clip.audioFrameCount(), 10);
}
