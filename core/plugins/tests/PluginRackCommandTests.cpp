// Undoable edits of a plug-in insert reach a playing engine: a parameter automation point and
// a bypass toggle made through the command stack change the rendered output from the very
// next block on, because the commands make the rack publish its real-time view.
#include "core/commands/AutomationCommands.h"
#include "core/commands/CommandStack.h"
#include "core/commands/InsertEdits.h"
#include "core/commands/MixerCommands.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/tests/PluginRackTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace orvane::vst {
namespace {

using testing::rackDelayEffectPath;
using testing::RackEnvironment;
using testing::ScopedRackDelay;

constexpr double rate = 48000.0;
constexpr int32_t block = 512;
// A whole number of periods per block, so that every block of steady output is the same.
constexpr int32_t period = 64;
constexpr int32_t pluginLane = 3;

struct Block {
    std::vector<float> left = std::vector<float>(block);
    std::vector<float> right = std::vector<float>(block);
};

class PluginCommandsOnAPlayingEngine : public ::testing::Test {
  protected:
    PluginCommandsOnAPlayingEngine() {
        engine.prepareToPlay(rate, block);
        rack.prepare(rate, block);
        installPluginRackHooks(engine, rack);
        setInsertEditHook([this] { rack.publishRtView(); });
        {
            std::lock_guard lock(engine.projectMutex);
            Project &project = engine.project;
            project.masterEq.bypass = true;
            project.mastering.bypass = true;
            auto track = project.addTrack(TrackType::Audio, "");
            track->eq.bypass = true;
            trackId = track->id;
            auto clip = project.addClip(trackId, ClipKind::Audio);
            std::vector<float> tone(static_cast<std::size_t>(rate));
            for (std::size_t i = 0; i < tone.size(); ++i)
                tone[i] =
                    0.4f * static_cast<float>(std::sin(2.0 * M_PI * double(i % period) / period));
            clip->channels = 1;
            clip->length = static_cast<int64_t>(tone.size());
            clip->audio = std::make_shared<std::vector<float>>(std::move(tone));
            engine.publishGraph();
        }
        ScopedRackDelay noLatency(0);
        EXPECT_TRUE(rack.loadVst3(trackId, rackDelayEffectPath(), ""));
        EXPECT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::play()));
    }
    ~PluginCommandsOnAPlayingEngine() override { setInsertEditHook({}); }

    Block render() {
        Block out;
        float *channels[] = {out.left.data(), out.right.data()};
        engine.processBlock(channels, 2, block);
        return out;
    }

    /// Runs a user's edit the way the workspace does: under the project mutex, then publishes.
    template <typename Edit> void edit(Edit &&change) {
        std::lock_guard lock(engine.projectMutex);
        change();
        engine.publishGraph();
    }

    RackEnvironment environment;
    Engine engine;
    PluginRack rack{pluginRackHostFor(engine)};
    CommandStack stack;
    uint64_t trackId = 0;
};

/// Every sample of `actual` is `scale` times the one of `reference`.
void expectScaled(const Block &actual, const Block &reference, float scale, const char *what) {
    float loudest = 0.0f;
    for (std::size_t i = 0; i < reference.left.size(); ++i) {
        loudest = std::max(loudest, std::fabs(reference.left[i]));
        ASSERT_NEAR(actual.left[i], scale * reference.left[i], 1e-5f) << what << ", frame " << i;
        ASSERT_NEAR(actual.right[i], scale * reference.right[i], 1e-5f) << what << ", frame " << i;
    }
    EXPECT_GT(loudest, 0.1f) << what << ": the reference must carry the tone";
}

/// `actual` goes from `from` times `reference` to `to` times it over the block, in a straight
/// line.
void expectFading(const Block &actual, const Block &reference, float from, float to,
                  const char *what) {
    const auto frames = static_cast<float>(reference.left.size());
    for (std::size_t i = 0; i < reference.left.size(); ++i) {
        const float scale = from + (to - from) * static_cast<float>(i + 1) / frames;
        ASSERT_NEAR(actual.left[i], scale * reference.left[i], 1e-5f) << what << ", frame " << i;
        ASSERT_NEAR(actual.right[i], scale * reference.right[i], 1e-5f) << what << ", frame " << i;
    }
}

TEST_F(PluginCommandsOnAPlayingEngine, AutomationAndBypassEditsAreHeardFromTheNextBlock) {
    render(); // the tone starts
    const Block unity = render();

    edit([&] {
        stack.execute(engine.project,
                      std::make_unique<SetAutomationPointCommand>(trackId, pluginLane, 0, 0.25f));
        stack.execute(engine.project, std::make_unique<SetAutomationPointCommand>(
                                          trackId, pluginLane, int64_t(rate) * 10, 0.25f));
    });
    expectScaled(render(), unity, 0.25f, "after the automation edit");

    // A switch between the plug-in and the dry signal fades over the block that hears it.
    edit([&] {
        stack.execute(engine.project, std::make_unique<ToggleInsertBypassCommand>(trackId, 0));
    });
    expectFading(render(), unity, 0.25f, 1.0f, "after bypassing");
    expectScaled(render(), unity, 1.0f, "bypassed");

    edit([&] { stack.undo(engine.project); });
    expectFading(render(), unity, 1.0f, 0.25f, "after undoing the bypass");
    expectScaled(render(), unity, 0.25f, "after undoing the bypass");

    edit([&] {
        stack.execute(engine.project, std::make_unique<MoveAutomationPointCommand>(
                                          trackId, pluginLane, 0, 0, 0.5f));
        stack.execute(engine.project, std::make_unique<SetAutomationPointCommand>(
                                          trackId, pluginLane, int64_t(rate) * 10, 0.5f));
    });
    expectScaled(render(), unity, 0.5f, "after moving the automation");
}

} // namespace
} // namespace orvane::vst
