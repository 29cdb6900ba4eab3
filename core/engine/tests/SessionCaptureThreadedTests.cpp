#include "core/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

namespace orvane::testing {
namespace {

/// Two scenes that hand over to each other for ever: a long clip and a short one share the
/// table's first entry in turn, so a capture that mixed the two would show a short clip with
/// the long one's played length.
void buildAlternatingScenes(Engine &engine, std::map<std::string, int64_t> &lengths) {
    std::lock_guard lock(engine.projectMutex);
    Project &project = engine.project;
    project.session.launchQuantize = LaunchQuantize::Immediate;
    const auto track = project.addTrack(TrackType::Midi, "");
    for (int row = 0; row < 2; ++row) {
        const auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->name = row == 0 ? "Long" : "Short";
        clip->length = row == 0 ? 20000 : 4000;
        clip->sessionRow = row;
        clip->sessionCol = 0;
        clip->notes = {MidiNote{60, 0.5f, 0, clip->length}};
        lengths["Capture " + clip->name] = clip->length;
        Scene scene;
        scene.id = project.nextSceneId++;
        scene.clips = {clip->id};
        scene.followAction = row == 0 ? FollowAction::NextScene : FollowAction::PreviousScene;
        project.session.scenes.push_back(scene);
    }
    engine.publishGraph();
}

TEST(SessionCaptureThreaded, CapturesWhileTheAudioThreadPlaysNeverExceedWhatWasPlayed) {
    Engine engine;
    engine.prepareToPlay(48000, 256);
    std::map<std::string, int64_t> lengths;
    buildAlternatingScenes(engine, lengths);
    send(engine, RequestType::play);
    send(engine, RequestType::launchScene, 1);

    std::atomic<bool> audioDone{false};
    std::atomic<int64_t> rendered{0};
    std::atomic<int> captures{0};
    std::thread audio([&] {
        StereoOutput out(256);
        for (int block = 0; block < 600; ++block) {
            out.render(engine);
            rendered.fetch_add(256);
            // Every eighth block, wait for a capture that began after this block, so that
            // every stretch of both clips is captured, whatever the speed of either thread.
            if (block % 8 == 7) {
                const int target = captures.load() + 2;
                while (captures.load() < target)
                    std::this_thread::yield();
            }
        }
        audioDone = true;
    });

    std::map<std::string, int> seen;
    while (!audioDone) {
        const std::vector<uint64_t> ids = engine.captureSessionToArrangement();
        const int64_t playedSoFar = rendered.load();
        std::lock_guard lock(engine.projectMutex);
        for (const uint64_t id : ids) {
            const auto clip = engine.project.findClip(id);
            ASSERT_NE(clip, nullptr);
            ASSERT_TRUE(lengths.count(clip->name)) << clip->name;
            EXPECT_GE(clip->length, 1);
            EXPECT_LE(clip->length, lengths[clip->name]) << clip->name;
            // A clip launched but not yet played is captured one sample long.
            EXPECT_LE(clip->length, std::max<int64_t>(playedSoFar, 1)) << clip->name;
            ++seen[clip->name];
            engine.project.removeClip(id);
        }
        engine.publishGraph();
        captures.fetch_add(1);
    }
    audio.join();
    EXPECT_GT(seen["Capture Long"], 0);
    EXPECT_GT(seen["Capture Short"], 0);
}

} // namespace
} // namespace orvane::testing
