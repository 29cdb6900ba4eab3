#include "app/workflows/SessionCapture.h"
#include "core/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

namespace orvane::testing {
namespace {

TEST(SessionCaptureStep, APlayingSessionIsCapturedAsOneStepThatUndoesAndRedoes) {
    Engine engine;
    engine.prepareToPlay(48000, 512);
    uint64_t sceneId = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        Project &project = engine.project;
        project.session.launchQuantize = LaunchQuantize::Immediate;
        Scene scene;
        scene.id = sceneId = project.nextSceneId++;
        for (const TrackType type : {TrackType::Audio, TrackType::Midi}) {
            const auto track = project.addTrack(type, "");
            const auto clip = project.addClip(track->id, type == TrackType::Midi ? ClipKind::Midi
                                                                                 : ClipKind::Audio);
            clip->name = type == TrackType::Midi ? "Keys" : "Drums";
            clip->length = 96000;
            clip->sessionRow = 0;
            if (type == TrackType::Audio)
                clip->audio = std::make_shared<const std::vector<float>>(2 * 96000, 0.1f);
            scene.clips.push_back(clip->id);
        }
        project.session.scenes.push_back(scene);
        engine.publishGraph();
    }
    CommandStack stack;
    EXPECT_TRUE(captureSessionAsUndoableStep(engine, stack).empty());
    EXPECT_EQ(stack.undoName(), "");

    send(engine, RequestType::play);
    send(engine, RequestType::launchScene, static_cast<int64_t>(sceneId));
    StereoOutput out(512);
    for (int block = 0; block < 10; ++block)
        out.render(engine);
    const auto captured = captureSessionAsUndoableStep(engine, stack);
    ASSERT_EQ(captured.size(), 2u);
    std::lock_guard lock(engine.projectMutex);
    EXPECT_EQ(stack.undoName(), "Capture Session");
    EXPECT_EQ(engine.project.findClip(captured[0])->name, "Capture Drums");
    // The whole clip, from where it was launched, though only 5120 samples have played.
    EXPECT_EQ(engine.project.findClip(captured[1])->length, 96000);
    EXPECT_EQ(engine.project.findClip(captured[1])->arrangeStart, 0);
    stack.undo(engine.project);
    EXPECT_EQ(engine.project.findClip(captured[0]), nullptr);
    EXPECT_EQ(engine.project.findClip(captured[1]), nullptr);
    stack.redo(engine.project);
    EXPECT_EQ(engine.project.tracks[0]->clips.back()->name, "Capture Drums");
    EXPECT_EQ(engine.project.tracks[1]->clips.back()->length, 96000);
}

} // namespace
} // namespace orvane::testing
