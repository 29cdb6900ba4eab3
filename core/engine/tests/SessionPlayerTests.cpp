// Session playback on its own: a player, a published snapshot and a notification ring, no
// engine. Each case is a short script of requests and blocks, read back through the table
// the main thread sees and the samples that came out.
#include "core/engine/SessionPlayer.h"
#include "core/engine/SnapshotBuilder.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

using namespace orvane;

namespace {

constexpr int32_t blockFrames = 512;
constexpr int64_t barFrames = 96000; // 4/4 at 120 bpm, 48 kHz

/// One audio track with two constant session clips (0.25 and 0.5) in rows 0 and 1, each the
/// only clip of its row's scene; scene 1 brings its own tempo of 90 bpm.
class PlayerRig {
  public:
    explicit PlayerRig(LaunchQuantize quantize) {
        project.masterEq.enabled = false;
        project.mastering.enabled = false;
        project.controlRoom.cueGain = 0.0f;
        project.session.launchQuantize = quantize;
        const auto track = project.addTrack(TrackType::Audio, "session");
        for (int row = 0; row < 2; ++row) {
            const auto clip = project.addClip(track->id, ClipKind::Audio);
            const float level = row == 0 ? 0.25f : 0.5f;
            clip->audio = std::make_shared<std::vector<float>>(2 * 48000, level);
            clip->channels = 2;
            clip->length = 48000;
            clip->sessionRow = row;
            clip->sessionCol = 0;
            clip->launchQuantize = LaunchQuantize::Immediate;
            clipIds[static_cast<std::size_t>(row)] = clip->id;
            Scene scene;
            scene.id = project.nextSceneId++;
            scene.clips = {clip->id};
            project.session.scenes.push_back(scene);
        }
        project.session.scenes[1].useSceneTempo = true;
        project.session.scenes[1].sceneTempoBpm = 90.0;
        snapshot = builder.build(project, RenderFormat{48000.0, blockFrames}, nullptr);
    }

    /// Renders one block at `position`; returns the left channel.
    std::vector<float> render(int64_t position) {
        std::vector<float> left(blockFrames), right(blockFrames);
        std::array<float *, 2> outputs{left.data(), right.data()};
        RenderContext context{.snapshot = *snapshot,
                              .scratch = *snapshot->scratch,
                              .dsp = snapshot->live,
                              .position = position,
                              .frames = blockFrames,
                              .outputs = outputs.data(),
                              .outputChannelCount = 2,
                              .notifications = &notifications};
        if (player.playsRt()) player.renderRt(context);
        player.publishTableRt();
        return left;
    }

    Project project;
    SnapshotBuilder builder;
    std::shared_ptr<GraphSnapshot> snapshot;
    std::array<uint64_t, 2> clipIds{};
    NotificationRing notifications;
    std::atomic<double> tempo{120.0};
    std::atomic<uint64_t> meter{TimeSignature{}.packed()};
    SessionPlayer player{notifications, tempo, meter};
};

enum class Do { launchClip, launchScene, release, stop, render };

/// A request at the playhead `at`, or a block rendered from `at`; `row` names the clip or
/// scene.
struct Step {
    Do what;
    int row;
    int64_t at;
};

/// What the main thread then sees: the published table's first entry, and where the last
/// block first sounded (-1 for silence, `ringsOn` where the track's chain may still ring).
struct Seen {
    int32_t count;
    bool playing;
    bool queued;
    int64_t launchAt;
    bool sessionMode;
    int firstSounding;
    double tempo;
};

struct Script {
    const char *name;
    LaunchQuantize quantize;
    std::vector<Step> steps;
    Seen seen;
};

constexpr int ringsOn = -2;

int firstSounding(const std::vector<float> &samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f) return static_cast<int>(i);
    return -1;
}

const std::vector<Script> scripts = {
    {"an immediate launch plays from the block's first frame",
     LaunchQuantize::Immediate,
     {{Do::launchClip, 0, 1000}, {Do::render, 0, 1000}},
     {1, true, false, 0, true, 0, 120.0}},
    {"a quantised launch waits for the next bar",
     LaunchQuantize::OneBar,
     {{Do::launchClip, 0, 100000}, {Do::render, 0, 100000}},
     {1, false, true, 2 * barFrames, true, -1, 120.0}},
    {"a quantised launch starts on its frame inside the block",
     LaunchQuantize::OneBar,
     {{Do::launchClip, 0, 100000}, {Do::render, 0, 2 * barFrames - 200}},
     {1, true, false, 2 * barFrames, true, 200, 120.0}},
    {"a released clip stays in the table, silent",
     LaunchQuantize::Immediate,
     {{Do::launchClip, 0, 0}, {Do::render, 0, 0}, {Do::release, 0, 512}, {Do::render, 0, 512}},
     {1, false, false, 0, true, ringsOn, 120.0}},
    {"stop empties the table and leaves session mode",
     LaunchQuantize::Immediate,
     {{Do::launchClip, 0, 0}, {Do::render, 0, 0}, {Do::stop, 0, 512}, {Do::render, 0, 512}},
     {0, false, false, 0, false, -1, 120.0}},
    {"a scene shows its own tempo while it plays",
     LaunchQuantize::Immediate,
     {{Do::launchScene, 1, 0}, {Do::render, 0, 0}},
     {1, true, false, 0, true, 0, 90.0}},
    {"a reset hands the tempo back to the map",
     LaunchQuantize::Immediate,
     {{Do::launchScene, 1, 0}, {Do::render, 0, 0}, {Do::stop, 0, 512}},
     {0, false, false, 0, false, 0, 120.0}},
};

} // namespace

TEST(SessionPlayer, ScriptsOfRequestsAndBlocksLeaveWhatTheMainThreadSees) {
    for (const Script &script : scripts) {
        SCOPED_TRACE(script.name);
        PlayerRig rig(script.quantize);
        std::vector<float> last;
        for (const Step &step : script.steps) {
            const uint64_t clip = rig.clipIds[static_cast<std::size_t>(step.row)];
            const auto &scenes = rig.snapshot->scenes;
            switch (step.what) {
            case Do::launchClip: rig.player.launchClipRt(*rig.snapshot, clip, step.at); break;
            case Do::launchScene:
                rig.player.launchSceneRt(*rig.snapshot,
                                         scenes[static_cast<std::size_t>(step.row)].id, step.at);
                break;
            case Do::release: rig.player.releaseClipRt(clip); break;
            case Do::stop: rig.player.stopRt(*rig.snapshot, step.at); break;
            case Do::render: last = rig.render(step.at); break;
            }
        }
        rig.player.publishTableRt();
        const SessionTableCopy table = rig.player.readTable();
        const Seen &seen = script.seen;
        ASSERT_EQ(table.count, seen.count);
        if (seen.count > 0) {
            EXPECT_EQ(table.entries[0].playing, seen.playing);
            EXPECT_EQ(table.entries[0].queued, seen.queued);
            if (seen.queued) {
                EXPECT_EQ(table.entries[0].launchAt, seen.launchAt);
            }
        }
        EXPECT_EQ(rig.player.sessionMode(), seen.sessionMode);
        if (seen.firstSounding != ringsOn) {
            EXPECT_EQ(firstSounding(last), seen.firstSounding);
        }
        EXPECT_DOUBLE_EQ(rig.tempo.load(), seen.tempo);
        EXPECT_EQ(rig.player.sceneTempoInForce(), seen.tempo != 120.0);
    }
}

// A quantised scene launch leaves the playing clip sounding up to the bar line and starts its
// own there, to the frame.
TEST(SessionPlayer, AQuantisedSceneHandsOverOnTheBarLine) {
    PlayerRig rig(LaunchQuantize::Immediate);
    const auto &scenes = rig.snapshot->scenes;
    rig.player.launchSceneRt(*rig.snapshot, scenes[0].id, 0);
    rig.render(0);
    rig.snapshot->launchQuantize = LaunchQuantize::OneBar;
    rig.player.launchSceneRt(*rig.snapshot, scenes[1].id, 1000);
    const std::vector<float> block = rig.render(barFrames - 100);
    EXPECT_NE(block[99], 0.0f);
    // The louder clip takes over on the bar line's frame.
    EXPECT_GT(block[100], block[99]);
    const SessionTableCopy table = rig.player.readTable();
    std::vector<uint64_t> playing;
    for (int32_t i = 0; i < table.count; ++i)
        if (table.entries[static_cast<std::size_t>(i)].playing)
            playing.push_back(table.entries[static_cast<std::size_t>(i)].clipId);
    EXPECT_EQ(playing, std::vector<uint64_t>{rig.clipIds[1]});
}
