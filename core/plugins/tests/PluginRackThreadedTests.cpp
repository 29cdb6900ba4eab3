// The audio thread keeps processing while the main thread replaces every plug-in again and
// again; run under ThreadSanitizer and AddressSanitizer, this catches a plug-in or a view freed
// while a block still uses it.
#include "core/engine/Engine.h"
#include "core/engine/TrackWorkers.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/rt/RtThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
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

/// Four tracks of noise, each through its own plug-in, played live in 64-frame periods; the
/// output and how many periods the engine's helpers shared.
std::pair<std::vector<float>, uint64_t> playInsertsLive(bool onHelpers) {
    Engine engine;
    engine.options.liveOnWorkerThreads = onHelpers;
    engine.prepareToPlay(48000, 64);
    std::vector<uint64_t> trackIds;
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.mastering.enabled = false;
        uint32_t seed = 11;
        for (int index = 0; index < 4; ++index) {
            auto track = engine.project.addTrack(TrackType::Audio, "");
            track->pan = -0.6f + 0.4f * static_cast<float>(index);
            auto clip = engine.project.addClip(track->id, ClipKind::Audio);
            auto samples = std::make_shared<std::vector<float>>(48000);
            for (float &sample : *samples) {
                seed = seed * 1664525u + 1013904223u;
                sample = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
            }
            clip->audio = samples;
            clip->channels = 1;
            trackIds.push_back(track->id);
        }
    }
    engine.publishGraph();
    PluginRack rack(pluginRackHostFor(engine));
    installPluginRackHooks(engine, rack);
    rack.prepare(48000, 64);
    for (const uint64_t trackId : trackIds)
        if (!rack.loadVst3(trackId, rackDelayEffectPath(), "")) return {};
    EXPECT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::play()));
    std::vector<float> out;
    std::vector<float> left(64), right(64);
    std::array<float *, 2> outputs{left.data(), right.data()};
    for (int block = 0; block < 600; ++block) {
        engine.processBlock(outputs.data(), 2, 64);
        out.insert(out.end(), left.begin(), left.end());
        out.insert(out.end(), right.begin(), right.end());
    }
    const auto graph = engine.currentGraph();
    return {out, graph->liveWorkers ? graph->liveWorkers->blocksShared() : 0};
}

// The rack takes tracks on the engine's helper threads at once, and what comes out is the same
// to the bit as on one thread.
TEST(PluginRackThreads, TracksWithPlugInsShareLivePeriodsWithTheSameResult) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core: no helpers";
    RackEnvironment environment;
    ScopedRackDelay delay(32);
    const auto [alone, aloneShared] = playInsertsLive(false);
    const auto [shared, sharedBlocks] = playInsertsLive(true);
    ASSERT_FALSE(alone.empty()) << "the test plug-in did not load";
    EXPECT_EQ(aloneShared, 0u);
    EXPECT_GE(sharedBlocks, 590u) << "the tracks with plug-ins stayed on one thread";
    ASSERT_EQ(alone.size(), shared.size());
    float loudest = 0.0f;
    for (std::size_t i = 0; i < alone.size(); ++i) {
        ASSERT_EQ(alone[i], shared[i]) << "sample " << i;
        loudest = std::max(loudest, std::abs(alone[i]));
    }
    EXPECT_GT(loudest, 0.1f);
}

} // namespace
} // namespace orvane::vst
