#include "app/shell/tests/WorkspaceRig.h"
#include "app/workflows/TempoTools.h"
#include "core/commands/CommandStack.h"
#include "core/music/tests/AudioSignals.h"
#include "device/AudioDeviceEngine.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr double rate = 48000.0;

class TempoToolsTest : public ::testing::Test {
  protected:
    WorkspaceRig rig{"tempo"};
    TempoTools &tools = rig.view().tempoTools();

    Project &project() { return rig.engine().project; }
    /// An audio clip of clicks at `bpm` on a new track, from frame `start`.
    std::shared_ptr<Clip> addClickClip(double bpm, double seconds, int64_t start = 0) {
        const uint64_t trackId = rig.addTrack(TrackType::Audio, "Clicks");
        std::lock_guard lock(rig.engine().projectMutex);
        auto clip = project().addClip(trackId, ClipKind::Audio);
        clip->audio = std::make_shared<const std::vector<float>>(clickTrack(bpm, seconds, rate, 2));
        clip->channels = 2;
        clip->arrangeStart = start;
        clip->length = clip->audioFrameCount();
        rig.engine().publishGraph();
        return clip;
    }
    double projectTempo() {
        std::lock_guard lock(rig.engine().projectMutex);
        return project().tempoBpm;
    }
    void selectNothing() { rig.view().selectedTrackId = rig.view().selectedClipId = 0; }
};

TEST_F(TempoToolsTest, TapsOnAClickTrackGiveItsTempoAndIgnorePauses) {
    tools.tapTempoAt(10.0);
    EXPECT_EQ(rig.ui.lastStatus(), "Tap tempo…");
    for (const double t : {10.5, 11.0, 15.0, 15.5})
        tools.tapTempoAt(t);
    EXPECT_EQ(rig.ui.lastStatus(), "Tap tempo 120.0 BPM");
    EXPECT_DOUBLE_EQ(projectTempo(), 120.0);
    EXPECT_DOUBLE_EQ(rig.engine().tempo.load(), 120.0);
    EXPECT_TRUE(rig.view().projectDirty);

    // Nine taps on the clicks of a 128 BPM track: only the last eight are kept.
    for (int64_t n = 0; n < 9; ++n)
        tools.tapTempoAt(100.0 + static_cast<double>(clickFrame(128.0, n, rate)) / rate);
    ASSERT_EQ(tools.tapTimes().size(), TempoTools::maxTaps);
    EXPECT_DOUBLE_EQ(tools.tapTimes().front(), 100.0 + clickFrame(128.0, 1, rate) / rate);
    EXPECT_NEAR(projectTempo(), 128.0, 0.05);
    EXPECT_EQ(rig.ui.lastStatus(), "Tap tempo 128.0 BPM");
    // The tempo reaches the audio thread as a request.
    rig.engine().tempo.store(90.0);
    rig.render();
    EXPECT_NEAR(rig.engine().tempo.load(), 128.0, 0.05);
}

TEST_F(TempoToolsTest, AnalysisFollowsTheSmartTempoMode) {
    selectNothing();
    tools.analyzeTempo();
    EXPECT_EQ(rig.ui.lastStatus(), "Нет аудиоклипа для анализа");
    const auto clip = addClickClip(140.0, 8.0, 96000);

    tools.setSmartTempoMode(1);
    EXPECT_EQ(rig.ui.lastStatus(), "Smart Tempo: Adapt");
    tools.analyzeTempo();
    EXPECT_NEAR(clip->stretchRatio, 140.0 / 120.0, 0.01);
    EXPECT_DOUBLE_EQ(projectTempo(), 120.0);
    EXPECT_EQ(rig.ui.lastStatus().rfind("Adapt: stretch 1.1", 0), 0u) << rig.ui.lastStatus();
    EXPECT_FALSE(project().beatMarkers.empty());
    EXPECT_EQ(project().beatMarkers.front().position, 96000);

    tools.setSmartTempoMode(2);
    tools.analyzeTempo();
    ASSERT_FALSE(project().tempoMarkers.empty());
    EXPECT_EQ(project().tempoMarkers.back().position, 96000);
    EXPECT_NEAR(project().tempoMarkers.back().bpm, 140.0, 1.0);
    EXPECT_NEAR(projectTempo(), 140.0, 1.0);
    EXPECT_EQ(rig.ui.lastStatus().rfind("Automatic: tempo marker 14", 0), 0u);

    tools.setSmartTempoMode(0);
    EXPECT_EQ(rig.ui.lastStatus(), "Smart Tempo: Keep");
    tools.setSmartTempoMode(7);
    EXPECT_EQ(project().smartTempoMode, 0) << "an unknown mode changes nothing";
    {
        std::lock_guard lock(rig.engine().projectMutex);
        project().tempoBpm = 100.0;
    }
    tools.analyzeTempo();
    EXPECT_NEAR(projectTempo(), 140.0, 1.0);
    EXPECT_NEAR(rig.engine().tempo.load(), projectTempo(), 1e-9);
    EXPECT_EQ(rig.ui.lastStatus().rfind("Keep: 14", 0), 0u);
}

TEST_F(TempoToolsTest, AnalysisReadsNoFurtherThanTheSamplesAndReportsSilence) {
    const auto clip = addClickClip(120.0, 1.0);
    {
        std::lock_guard lock(rig.engine().projectMutex);
        clip->audio = std::make_shared<const std::vector<float>>(2 * 48000, 0.0f);
        clip->length = 10 * 48000; // longer than its samples
    }
    rig.view().selectedTrackId = clip->trackId;
    tools.analyzeTempo();
    EXPECT_EQ(rig.ui.lastStatus(), "Темп не определён");
    EXPECT_TRUE(project().beatMarkers.empty());
}

TEST_F(TempoToolsTest, TheFollowerTracksTheMasterOrTheInputOncePerSecondOfTicks) {
    addClickClip(128.0, 5.0);
    rig.play();
    rig.render(400); // four seconds of master output in the flashback buffer
    tools.tickTempoFollower();
    EXPECT_DOUBLE_EQ(projectTempo(), 120.0) << "the follower is off";

    tools.toggleTempoFollower();
    EXPECT_EQ(rig.ui.lastStatus(), "Tempo Follow ON (120 BPM)");
    tools.toggleTempoFollowerInput();
    EXPECT_EQ(rig.ui.lastStatus(), "Tempo Follow: мастер (flashback)");
    for (int tick = 1; tick < TempoTools::followerTickInterval; ++tick)
        tools.onUiTick();
    EXPECT_DOUBLE_EQ(projectTempo(), 120.0);
    tools.onUiTick();
    EXPECT_NEAR(projectTempo(), 128.0, 1.0);
    EXPECT_NEAR(rig.engine().followedBpm, projectTempo(), 1e-9);

    tools.toggleTempoFollowerInput();
    EXPECT_EQ(rig.ui.lastStatus(), "Tempo Follow: вход (монитор)");
    AudioDeviceEngine &audio = rig.application().audio();
    audio.monitor.allocate(monitorRingFrames); // what a running input does
    const auto input = clickTrack(150.0, 2.0, rate, 2);
    audio.pushMonitorSamples(input.data(), static_cast<int32_t>(input.size() / 2), 2);
    for (int second = 0; second < 12; ++second)
        tools.tickTempoFollower();
    EXPECT_NEAR(projectTempo(), 150.0, 1.5) << "smoothed towards the input's tempo";
    tools.toggleTempoFollower();
    EXPECT_EQ(rig.ui.lastStatus(), "Tempo Follow OFF");
}

TEST_F(TempoToolsTest, FlashbackCaptureKeepsWhatTheBufferHoldsAsAnUndoableClip) {
    selectNothing();
    tools.captureFlashback();
    EXPECT_EQ(rig.ui.lastStatus(), "Flashback буфер пуст — включите воспроизведение");

    addClickClip(120.0, 2.0);
    rig.play();
    rig.render(93); // 48128 frames with the first block: less than four bars of 8 s
    const std::size_t tracksBefore = rig.trackCount();
    selectNothing();
    tools.captureFlashback();
    EXPECT_EQ(rig.ui.lastStatus(), "Flashback: 48128 сэмплов (1.0 с)");
    ASSERT_EQ(rig.trackCount(), tracksBefore + 1);
    const auto track = project().tracks.back();
    ASSERT_EQ(track->clips.size(), 1u);
    EXPECT_EQ(track->clips[0]->id, rig.view().selectedClipId);
    EXPECT_EQ(track->clips[0]->length, 48128);
    EXPECT_EQ(track->clips[0]->arrangeStart, 0);
    EXPECT_EQ(rig.commands().undoName(), "Flashback Capture");
    rig.view().undoEdit();
    EXPECT_EQ(rig.trackCount(), tracksBefore);

    const std::vector<std::string> lengths = {"Flashback буфер: 60 с", "Flashback буфер: 10 с",
                                              "Flashback буфер: 30 с", "Flashback буфер: 60 с"};
    for (const auto &text : lengths) {
        tools.cycleFlashbackDuration();
        EXPECT_EQ(rig.ui.lastStatus(), text);
    }
}

TEST_F(TempoToolsTest, ATempoMarkerAtThePlayheadKeepsTheTempoThere) {
    rig.locate(96000);
    tools.addTempoMarkerAtPlayhead();
    EXPECT_EQ(rig.ui.lastStatus(), "Tempo marker: 120 BPM");
    ASSERT_EQ(project().tempoMarkers.size(), 1u);
    EXPECT_EQ(project().tempoMarkers[0].position, 96000);
    rig.view().undoEdit();
    EXPECT_TRUE(project().tempoMarkers.empty());
}

// While the song plays, what the user marks is what was heard: the render runs ahead of it by
// the device's output latency, and the marker goes back by as much.
TEST_F(TempoToolsTest, APlayingMarkerGoesWhereThePlayheadIsHeard) {
    constexpr int64_t outputLatency = 1024;
    rig.engine().playbackLatencyFrames.store(outputLatency);
    rig.locate(96000);
    rig.play();
    rig.render(3);
    const int64_t rendered = rig.engine().transport.playhead.load();
    ASSERT_GT(rendered, 96000);
    tools.addTempoMarkerAtPlayhead();
    ASSERT_EQ(project().tempoMarkers.size(), 1u);
    EXPECT_EQ(project().tempoMarkers[0].position, rendered - outputLatency);
}

} // namespace
