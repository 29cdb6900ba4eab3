// The audio thread keeps processing while the main thread replaces every plug-in again and
// again; run under ThreadSanitizer and AddressSanitizer, this catches a plug-in or a view freed
// while a block still uses it.
#include "core/vst/PluginRack.h"
#include "core/vst/tests/PluginRackTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
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

} // namespace
} // namespace orvane::vst
