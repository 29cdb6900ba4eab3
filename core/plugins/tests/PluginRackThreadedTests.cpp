// The audio thread keeps processing while the main thread replaces every plug-in again and
// again; run under ThreadSanitizer and AddressSanitizer, this catches a plug-in or a view freed
// while a block still uses it.
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/rt/RtThread.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace orvane::vst {
namespace {

using testing::rackDelayEffectPath;
using testing::RackEnvironment;
using testing::RackHarness;
using testing::ScopedRackDelay;

TEST(PluginRackThreads, PluginsOutliveEveryBlockThatReachesThem) {
    RackEnvironment environment;
    ScopedRackDelay delay(32);
    RackHarness harness;
    uint64_t trackId = 0;
    {
        std::lock_guard lock(harness.projectMutex);
        trackId = harness.project.addTrack(TrackType::Audio, "")->id;
    }
    PluginRack rack(harness.host());
    ASSERT_TRUE(rack.loadVst3(trackId, rackDelayEffectPath(), ""));

    std::atomic<bool> stop{false};
    std::atomic<int64_t> blocks{0};
    std::atomic<int64_t> latencyErrors{0};
    std::thread audio([&] {
        RtScope audioRole;
        std::vector<float> left(128, 0.25f), right(128, 0.25f);
        while (!stop.load()) {
            rack.processTrack(trackId, left.data(), right.data(), 128);
            const int32_t latency = rack.latencySamples(trackId);
            // Between an unload and the next load the track has no plug-in; never anything else.
            if (latency != 0 && latency != 32) latencyErrors.fetch_add(1);
            harness.playhead.fetch_add(128);
            blocks.fetch_add(1);
        }
    });

    constexpr int rounds = 40;
    for (int round = 0; round < rounds; ++round) {
        // Wait for the audio thread to run a block against the current view before replacing it.
        const int64_t seen = blocks.load();
        while (blocks.load() == seen)
            std::this_thread::yield();
        {
            std::lock_guard lock(harness.projectMutex);
            harness.project.findTrack(trackId)->inserts.back().paramAutomation = {{0, 0.0f},
                                                                                  {4800, 1.0f}};
        }
        rack.publishRtView();
        if (round % 2 == 0) {
            rack.restoreFromProject();
        } else {
            rack.unloadAll();
            ASSERT_TRUE(rack.loadVst3(trackId, rackDelayEffectPath(), ""));
        }
        rack.collectRetiredViews();
    }
    stop.store(true);
    audio.join();

    EXPECT_EQ(latencyErrors.load(), 0);
    EXPECT_GT(blocks.load(), rounds);
    rack.collectRetiredViews();
    EXPECT_EQ(rack.livePluginCount(), 1u);
}

void waitForBlocks(const std::atomic<int64_t> &blocks, int64_t count) {
    const int64_t until = blocks.load() + count;
    while (blocks.load() < until)
        std::this_thread::yield();
}

// A rack may go away while a device keeps rendering: it takes its hooks out of the engine and
// waits for the blocks that still use them, so no block reaches a destroyed rack.
TEST(PluginRackThreads, ARackDestroyedWhileADeviceRendersTakesItsHooksAlong) {
    RackEnvironment environment;
    ScopedRackDelay delay(32);
    Engine engine;
    engine.prepareToPlay(48000, 128);
    uint64_t trackId = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        auto track = engine.project.addTrack(TrackType::Audio, "");
        trackId = track->id;
        auto clip = engine.project.addClip(trackId, ClipKind::Audio);
        clip->audio = std::make_shared<std::vector<float>>(96000, 0.25f);
        clip->channels = 1;
    }
    engine.publishGraph();
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::play()));
    engine.deviceStarted();
    std::atomic<bool> stop{false};
    std::atomic<int64_t> blocks{0};
    std::thread device([&] {
        std::vector<float> left(128), right(128);
        std::array<float *, 2> outputs{left.data(), right.data()};
        while (!stop.load()) {
            engine.processBlock(outputs.data(), 2, 128);
            blocks.fetch_add(1);
        }
    });
    for (int round = 0; round < 10; ++round) {
        auto rack = std::make_unique<PluginRack>(pluginRackHostFor(engine));
        installPluginRackHooks(engine, *rack);
        ASSERT_TRUE(rack->loadVst3(trackId, rackDelayEffectPath(), ""));
        waitForBlocks(blocks, 2);
        rack.reset();
        waitForBlocks(blocks, 2);
    }
    stop.store(true);
    device.join();
    engine.deviceStopped();
    EXPECT_FALSE(engine.currentGraph()->insertHook);
    EXPECT_FALSE(engine.currentGraph()->latencyHook);
}

} // namespace
} // namespace orvane::vst
