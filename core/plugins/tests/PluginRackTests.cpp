#include "core/plugins/PluginRack.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace orvane::vst {
namespace {

namespace fs = std::filesystem;
using testing::processTrackAsAudio;
using testing::rackDelayEffectPath;
using testing::RackEnvironment;
using testing::RackHarness;
using testing::ScopedEnvironment;
using testing::ScopedRackDelay;
using testing::TemporaryFolder;

constexpr int frames = 256;

struct Block {
    std::vector<float> left = std::vector<float>(frames, 0.0f);
    std::vector<float> right = std::vector<float>(frames, 0.0f);
};

Block impulseBlock() {
    Block block;
    block.left[0] = 1.0f;
    block.right[0] = -1.0f;
    return block;
}

int firstNonZero(const std::vector<float> &samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f) return static_cast<int>(i);
    return -1;
}

class RackTest : public ::testing::Test {
  protected:
    RackTest() {
        std::lock_guard lock(harness.projectMutex);
        trackA = harness.project.addTrack(TrackType::Audio, "A")->id;
        trackB = harness.project.addTrack(TrackType::Audio, "B")->id;
    }

    std::vector<InsertSlot> &insertsOf(uint64_t trackId) {
        return harness.project.findTrack(trackId)->inserts;
    }

    bool loadDelay(PluginRack &rack, uint64_t trackId, int latency,
                   const std::vector<uint8_t> *state = nullptr) {
        ScopedRackDelay delay(latency);
        return rack.loadVst3(trackId, rackDelayEffectPath(), "", state);
    }

    RackEnvironment environment;
    RackHarness harness;
    uint64_t trackA = 0;
    uint64_t trackB = 0;
};

// --- Sandbox switch -------------------------------------------------------------------------

TEST(PluginRackSandbox, OnlyAValueBeginningWithZeroTurnsTheSandboxOff) {
    struct Case {
        std::optional<std::string> value;
        bool enabled;
    };
    const std::vector<Case> cases = {{std::nullopt, true}, {"0", false}, {"", true},
                                     {"01", false},        {"1", true},  {"1-anything", true}};
    for (const Case &entry : cases) {
        ScopedEnvironment variable("HALVORA_VST_SANDBOX", entry.value);
        int starts = 0;
        RackHarness harness;
        PluginRackSandbox sandbox;
        sandbox.ensureSandboxRunning = [&starts] {
            ++starts;
            return true;
        };
        PluginRack rack(harness.host(), sandbox);
        EXPECT_EQ(rack.sandboxEnabled, entry.enabled) << entry.value.value_or("(unset)");
        EXPECT_EQ(starts, entry.enabled ? 1 : 0) << entry.value.value_or("(unset)");
    }
}

TEST_F(RackTest, WithTheSandboxOnAHelperThatWillNotStartLoadsNothing) {
    ScopedEnvironment sandbox("HALVORA_VST_SANDBOX", "1");
    PluginRackSandbox refusing;
    refusing.ensureSandboxRunning = [] { return false; };
    PluginRack rack(harness.host(), refusing);
    EXPECT_FALSE(loadDelay(rack, trackA, 0));
    EXPECT_TRUE(insertsOf(trackA).empty());
    EXPECT_EQ(rack.livePluginCount(), 0u);
}

// --- Adding inserts -----------------------------------------------------------------------

TEST_F(RackTest, LoadStockAppendsANamedInsertAndPublishes) {
    PluginRack rack(harness.host());
    EXPECT_FALSE(rack.loadStock(9999, "stock.eq"));
    EXPECT_TRUE(insertsOf(trackA).empty());
    EXPECT_TRUE(rack.slots.empty());
    EXPECT_EQ(harness.publishCount, 0);

    ASSERT_TRUE(rack.loadStock(trackA, "stock.eq"));
    ASSERT_EQ(insertsOf(trackA).size(), 1u);
    EXPECT_EQ(insertsOf(trackA)[0].displayName, "stock.eq");
    EXPECT_TRUE(insertsOf(trackA)[0].isStock);
    EXPECT_EQ(harness.publishCount, 1);
    EXPECT_EQ(rack.latencySamples(trackA), 0);
}

TEST_F(RackTest, LoadVst3OnAMissingTrackLeavesNoPluginBehind) {
    PluginRack rack(harness.host());
    EXPECT_FALSE(loadDelay(rack, 9999, 64));
    EXPECT_EQ(rack.livePluginCount(), 0u);
    EXPECT_TRUE(rack.slots.empty());
    EXPECT_EQ(rack.maxLatencySamples(), 0);
    EXPECT_FALSE(rack.loadVst3(trackA, "/nowhere/Missing.vst3", ""));
    EXPECT_TRUE(insertsOf(trackA).empty());
}

TEST_F(RackTest, LoadVst3RecordsThePluginAndAutomatesItsFirstParameter) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 0));
    const InsertSlot &insert = insertsOf(trackA).at(0);
    EXPECT_EQ(insert.displayName, "Halvora Rack Delay");
    EXPECT_EQ(insert.bundlePath, rackDelayEffectPath());
    EXPECT_EQ(insert.pluginId.size(), 32u);
    EXPECT_FALSE(insert.isStock);
    EXPECT_EQ(insert.automParamId, 0u);
    EXPECT_TRUE(rack.insertAvailable(trackA, 0));
}

// --- Latency ------------------------------------------------------------------------------

TEST_F(RackTest, LatenciesAddUpPerTrackAndTheLargestSingleOneIsTheMaximum) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 64));
    ASSERT_TRUE(loadDelay(rack, trackA, 128));
    ASSERT_TRUE(rack.loadStock(trackA, "stock.delay"));
    EXPECT_EQ(rack.latencySamples(trackA), 192);
    EXPECT_EQ(rack.latencySamples(trackB), 0);
    EXPECT_EQ(rack.maxLatencySamples(), 128);
}

// --- Processing ---------------------------------------------------------------------------

TEST_F(RackTest, ProcessTrackRunsOnlyThatTracksPlugins) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 10));
    Block onA = impulseBlock();
    Block onB = impulseBlock();
    processTrackAsAudio(rack, trackA, onA.left.data(), onA.right.data(), frames);
    processTrackAsAudio(rack, trackB, onB.left.data(), onB.right.data(), frames);
    EXPECT_EQ(firstNonZero(onA.left), 10);
    EXPECT_FLOAT_EQ(onA.right[10], -1.0f);
    EXPECT_EQ(firstNonZero(onB.left), 0);
}

TEST_F(RackTest, EachInsertsLoadCountsItsOwnBlocksAndStartsAfreshWhenTaken) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 10));
    ASSERT_TRUE(loadDelay(rack, trackB, 10));
    for (int block = 0; block < 5; ++block) {
        Block onA = impulseBlock();
        processTrackAsAudio(rack, trackA, onA.left.data(), onA.right.data(), frames);
    }
    const InsertLoad load = rack.takeInsertLoad(trackA, 0);
    EXPECT_EQ(load.blocks, 5u);
    EXPECT_GT(load.mean, 0.0);
    EXPECT_GE(load.peak, load.mean);
    EXPECT_FALSE(load.sandboxed);
    EXPECT_EQ(rack.takeInsertLoad(trackA, 0).blocks, 0u) << "a stretch is taken once";
    EXPECT_EQ(rack.takeInsertLoad(trackB, 0).blocks, 0u) << "track B's insert never ran";
    EXPECT_EQ(rack.takeInsertLoad(trackA, 3).blocks, 0u) << "no such insert";
}

TEST_F(RackTest, ABypassedInsertIsNotProcessedButKeepsItsLatencyInTheSignal) {
    PluginRack rack(harness.host());
    // Half gain, so that processing shows in the level and not only in the timing.
    std::vector<uint8_t> halfGain = {0x44, 0x52, 0x56, 0x48, 0, 0, 0, 0x3F};
    ASSERT_TRUE(loadDelay(rack, trackA, 32, &halfGain));
    Block processed = impulseBlock();
    processTrackAsAudio(rack, trackA, processed.left.data(), processed.right.data(), frames);
    ASSERT_EQ(firstNonZero(processed.left), 32);
    EXPECT_FLOAT_EQ(processed.left[32], 0.5f);

    {
        std::lock_guard lock(harness.projectMutex);
        insertsOf(trackA)[0].bypassed = true;
    }
    rack.publishRtView();
    // The first bypassed block fades from the plug-in's output to the dry signal; the next is
    // the dry signal alone, as late as the plug-in made it.
    Block fading = impulseBlock();
    processTrackAsAudio(rack, trackA, fading.left.data(), fading.right.data(), frames);
    EXPECT_EQ(firstNonZero(fading.left), 32);
    EXPECT_GT(fading.left[32], 0.5f);
    EXPECT_LT(fading.left[32], 1.0f);
    Block bypassed = impulseBlock();
    processTrackAsAudio(rack, trackA, bypassed.left.data(), bypassed.right.data(), frames);
    EXPECT_EQ(firstNonZero(bypassed.left), 32);
    EXPECT_FLOAT_EQ(bypassed.left[32], 1.0f);
    EXPECT_FLOAT_EQ(bypassed.right[32], -1.0f);
    EXPECT_EQ(rack.latencySamples(trackA), 32);
}

TEST_F(RackTest, EditsReachTheAudioThreadOnlyWhenTheViewIsPublished) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 0));
    {
        std::lock_guard lock(harness.projectMutex);
        insertsOf(trackA)[0].paramAutomation = {{0, 0.25f}, {1000, 0.25f}};
    }
    Block block;
    processTrackAsAudio(rack, trackA, block.left.data(), block.right.data(), frames);
    EXPECT_FALSE(rack.lastAutomationValue(trackA, 0));
    rack.publishRtView();
    processTrackAsAudio(rack, trackA, block.left.data(), block.right.data(), frames);
    EXPECT_EQ(rack.lastAutomationValue(trackA, 0), 0.25f);
}

TEST_F(RackTest, AutomationFollowsThePlayheadAndSkipsBypassedInserts) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 0));
    ASSERT_TRUE(loadDelay(rack, trackB, 0));
    {
        std::lock_guard lock(harness.projectMutex);
        insertsOf(trackA)[0].paramAutomation = {{0, 0.2f}, {1000, 0.8f}};
        insertsOf(trackB)[0].paramAutomation = {{0, 0.2f}, {1000, 0.8f}};
        insertsOf(trackB)[0].bypassed = true;
    }
    rack.publishRtView();
    Block block;
    for (int64_t playhead : {500, -10, 2000}) {
        harness.playhead.store(playhead);
        processTrackAsAudio(rack, trackA, block.left.data(), block.right.data(), frames);
        processTrackAsAudio(rack, trackB, block.left.data(), block.right.data(), frames);
        const float expected = playhead == 500 ? 0.5f : (playhead < 0 ? 0.2f : 0.8f);
        ASSERT_TRUE(rack.lastAutomationValue(trackA, 0));
        EXPECT_FLOAT_EQ(*rack.lastAutomationValue(trackA, 0), expected) << playhead;
        EXPECT_FALSE(rack.lastAutomationValue(trackB, 0)) << playhead;
    }
}

TEST_F(RackTest, ProcessTrackNeitherAllocatesNorFrees) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 64));
    ASSERT_TRUE(loadDelay(rack, trackA, 16));
    ASSERT_TRUE(rack.loadStock(trackA, "stock.eq"));
    {
        std::lock_guard lock(harness.projectMutex);
        insertsOf(trackA)[0].paramAutomation = {{0, 0.0f}, {48000, 1.0f}};
        insertsOf(trackA)[1].bypassed = true;
    }
    rack.publishRtView();
    Block block = impulseBlock();
    processTrackAsAudio(rack, trackA, block.left.data(), block.right.data(), frames);
    int64_t latencies = 0;
    {
        orvane::testing::AllocationScope scope;
        for (int i = 0; i < 64; ++i) {
            harness.playhead.store(i * frames);
            processTrackAsAudio(rack, trackA, block.left.data(), block.right.data(), frames);
            processTrackAsAudio(rack, trackB, block.left.data(), block.right.data(), frames);
            latencies += rack.latencySamples(trackA) + rack.maxLatencySamples();
        }
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(scope.frees(), 0u);
    }
    EXPECT_EQ(latencies, 64 * (80 + 64));
    ASSERT_TRUE(rack.lastAutomationValue(trackA, 0));
    EXPECT_FLOAT_EQ(*rack.lastAutomationValue(trackA, 0), 63.0f * frames / 48000.0f);
}

// --- Automation values ----------------------------------------------------------------------

TEST(PluginAutomation, NeedsAtLeastTwoPoints) {
    EXPECT_FALSE(pluginAutomationValueAt({}, 0));
    const std::vector<AutomationPoint> one = {{0, 0.7f}};
    EXPECT_FALSE(pluginAutomationValueAt(one, 0));
    EXPECT_FALSE(pluginAutomationValueAt(one, 5000));
}

TEST(PluginAutomation, InterpolatesBetweenPointsAndHoldsTheEndValuesOutside) {
    const std::vector<AutomationPoint> ramp = {{0, 0.2f}, {1000, 0.8f}};
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(ramp, 500), 0.5f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(ramp, 250), 0.35f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(ramp, -10), 0.2f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(ramp, 0), 0.2f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(ramp, 1000), 0.8f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(ramp, 2000), 0.8f);
    const std::vector<AutomationPoint> threeSegments = {{0, 0.0f}, {100, 1.0f}, {300, 0.0f}};
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(threeSegments, 200), 0.5f);
}

TEST(PluginAutomation, PointsAtOnePositionJumpWithoutDividingByZero) {
    const std::vector<AutomationPoint> step = {{100, 0.2f}, {100, 0.8f}};
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(step, 99), 0.2f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(step, 100), 0.8f);
    const std::vector<AutomationPoint> stepInside = {{0, 0.0f}, {100, 0.2f}, {100, 0.8f}};
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(stepInside, 50), 0.1f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(stepInside, 100), 0.8f);
}

TEST(PluginAutomation, ValuesAreClampedToTheNormalisedRange) {
    const std::vector<AutomationPoint> wild = {{0, -0.5f}, {100, 1.5f}};
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(wild, 0), 0.0f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(wild, 100), 1.0f);
    EXPECT_FLOAT_EQ(*pluginAutomationValueAt(wild, 50), 0.5f);
}

// --- Unloading and restoring ----------------------------------------------------------------

TEST_F(RackTest, UnloadAllEmptiesEveryInsertListAndTheView) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 64));
    ASSERT_TRUE(rack.loadStock(trackB, "stock.reverb"));
    rack.unloadAll();
    EXPECT_TRUE(insertsOf(trackA).empty());
    EXPECT_TRUE(insertsOf(trackB).empty());
    EXPECT_TRUE(rack.slots.empty());
    EXPECT_EQ(rack.livePluginCount(), 0u);
    EXPECT_EQ(rack.latencySamples(trackA), 0);
    EXPECT_EQ(rack.maxLatencySamples(), 0);
    Block block = impulseBlock();
    processTrackAsAudio(rack, trackA, block.left.data(), block.right.data(), frames);
    EXPECT_EQ(firstNonZero(block.left), 0);
}

InsertSlot vanishedInsert() {
    InsertSlot insert;
    insert.pluginId = "0123456789ABCDEF0123456789ABCDEF";
    insert.displayName = "Gone";
    insert.bundlePath = "/usr/lib/vst3/HalvoraNeverInstalled.vst3";
    insert.state = {1, 2, 3};
    insert.bypassed = true;
    insert.automParamId = 7;
    insert.paramAutomation = {{0, 0.1f}, {10, 0.9f}};
    return insert;
}

TEST_F(RackTest, RestoreKeepsAnUnloadableInsertAsAPlaceholderInItsPlace) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(rack.loadStock(trackA, "stock.eq"));
    {
        std::lock_guard lock(harness.projectMutex);
        insertsOf(trackA).push_back(vanishedInsert());
    }
    ASSERT_TRUE(loadDelay(rack, trackA, 0));
    std::string warnings;
    EXPECT_EQ(rack.restoreFromProject(&warnings), 1);

    ASSERT_EQ(insertsOf(trackA).size(), 3u);
    EXPECT_EQ(insertsOf(trackA)[0].pluginId, "stock.eq");
    EXPECT_EQ(insertsOf(trackA)[1], vanishedInsert());
    EXPECT_EQ(insertsOf(trackA)[2].displayName, "Halvora Rack Delay");
    EXPECT_TRUE(rack.insertAvailable(trackA, 0));
    EXPECT_FALSE(rack.insertAvailable(trackA, 1));
    EXPECT_TRUE(rack.insertAvailable(trackA, 2));
    EXPECT_NE(warnings.find("HalvoraNeverInstalled.vst3"), std::string::npos) << warnings;
    EXPECT_EQ(rack.livePluginCount(), 1u);

    // Saving must not wipe the settings of a plug-in this machine lacks.
    rack.saveStatesIntoProject();
    EXPECT_EQ(insertsOf(trackA)[1], vanishedInsert());
}

TEST_F(RackTest, RestoreGivesTheLiveInsertsIndicesZeroAndOneWhenTheVanishedOneIsLast) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(rack.loadStock(trackA, "stock.eq"));
    ASSERT_TRUE(loadDelay(rack, trackA, 0));
    {
        std::lock_guard lock(harness.projectMutex);
        insertsOf(trackA).push_back(vanishedInsert());
    }
    rack.restoreFromProject();
    std::vector<int32_t> liveIndices;
    for (const Slot &slot : rack.slots)
        if (slot.available) liveIndices.push_back(slot.insertIndex);
    EXPECT_EQ(liveIndices, (std::vector<int32_t>{0, 1}));
    ASSERT_EQ(rack.slots.size(), 3u);
    EXPECT_TRUE(rack.slots[0].isStock);
    EXPECT_TRUE(rack.slots[1].plugin);
}

TEST_F(RackTest, RestoreCarriesBypassAndAutomationOver) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 0));
    ASSERT_TRUE(rack.loadStock(trackA, "stock.compressor"));
    const std::vector<AutomationPoint> points = {{0, 0.1f}, {4800, 0.9f}};
    {
        std::lock_guard lock(harness.projectMutex);
        insertsOf(trackA)[0].bypassed = true;
        insertsOf(trackA)[0].automParamId = 5;
        insertsOf(trackA)[0].paramAutomation = points;
        insertsOf(trackA)[1].bypassed = true;
    }
    EXPECT_EQ(rack.restoreFromProject(), 0);
    ASSERT_EQ(insertsOf(trackA).size(), 2u);
    EXPECT_TRUE(insertsOf(trackA)[0].bypassed);
    EXPECT_EQ(insertsOf(trackA)[0].automParamId, 5u);
    EXPECT_EQ(insertsOf(trackA)[0].paramAutomation, points);
    EXPECT_TRUE(insertsOf(trackA)[1].bypassed);
}

TEST_F(RackTest, RestoreLoadsOnlyBundlesFoundInTheVst3Folders) {
    TemporaryFolder elsewhere;
    const fs::path copy = elsewhere.path() / "HalvoraRackDelayEffect.vst3";
    fs::copy(rackDelayEffectPath(), copy, fs::copy_options::recursive);
    PluginRack rack(harness.host());
    {
        std::lock_guard lock(harness.projectMutex);
        InsertSlot outside;
        outside.displayName = "Outside";
        outside.bundlePath = copy.string();
        insertsOf(trackA).push_back(outside);
        InsertSlot sneaking = outside;
        sneaking.bundlePath = testing::rackBundlesDir() + "/../../../../../../.." + copy.string();
        insertsOf(trackA).push_back(sneaking);
    }
    std::string warnings;
    EXPECT_EQ(rack.restoreFromProject(&warnings), 2);
    EXPECT_EQ(rack.livePluginCount(), 0u);
    EXPECT_NE(warnings.find(copy.string()), std::string::npos) << warnings;
}

TEST_F(RackTest, RestoreFindsAMovedBundleByItsPluginId) {
    PluginRack rack(harness.host());
    ASSERT_TRUE(loadDelay(rack, trackA, 0));
    {
        std::lock_guard lock(harness.projectMutex);
        insertsOf(trackA)[0].bundlePath = "/old/machine/HalvoraRackDelayEffect.vst3";
    }
    rack.scan();
    EXPECT_EQ(rack.restoreFromProject(), 0);
    ASSERT_TRUE(rack.insertAvailable(trackA, 0));
    EXPECT_EQ(insertsOf(trackA)[0].bundlePath, rackDelayEffectPath());
}

TEST_F(RackTest, SavedStateSoundsTheSameInAFreshRack) {
    Block first = impulseBlock();
    std::vector<uint8_t> saved;
    {
        PluginRack rack(harness.host());
        ASSERT_TRUE(loadDelay(rack, trackA, 8));
        ASSERT_TRUE(rack.slots[0].plugin->setParameterNormalized(0, 0.25f));
        processTrackAsAudio(rack, trackA, first.left.data(), first.right.data(), frames);
        rack.saveStatesIntoProject();
        saved = insertsOf(trackA)[0].state;
        rack.unloadAll();
        std::lock_guard lock(harness.projectMutex);
        InsertSlot reloaded;
        reloaded.bundlePath = rackDelayEffectPath();
        reloaded.state = saved;
        insertsOf(trackA).push_back(reloaded);
    }
    ASSERT_FALSE(saved.empty());
    PluginRack fresh(harness.host());
    ScopedRackDelay delay(8);
    ASSERT_EQ(fresh.restoreFromProject(), 0);
    Block second = impulseBlock();
    processTrackAsAudio(fresh, trackA, second.left.data(), second.right.data(), frames);
    EXPECT_FLOAT_EQ(first.left[8], 0.25f);
    EXPECT_EQ(first.left, second.left);
    EXPECT_EQ(first.right, second.right);
}

// --- Scanning -------------------------------------------------------------------------------

TEST_F(RackTest, AScanWhoseFactoryPassFindsNothingKeepsTheBundleWalk) {
    TemporaryFolder folder;
    fs::create_directories(folder.path() / "Hollow.vst3" / "Contents");
    ScopedEnvironment paths("VST3_PATH", folder.path().string());
    PluginRack rack(harness.host());
    rack.scan();
    ASSERT_EQ(rack.plugins.size(), 1u);
    EXPECT_EQ(rack.plugins[0].name, "Hollow");
}

TEST_F(RackTest, BlacklistingFlagsMatchingEntriesAndPersists) {
    PluginRack rack(harness.host());
    rack.scan();
    ASSERT_GE(rack.plugins.size(), 2u);
    const std::string uid = rack.plugins[0].uid;
    EXPECT_TRUE(rack.blacklistPluginUid(uid));
    EXPECT_TRUE(rack.blacklistPluginUid("")) << "nothing to block";
    EXPECT_TRUE(rack.plugins[0].blacklisted);
    EXPECT_FALSE(rack.plugins[1].blacklisted);
    std::ifstream file(defaultVstBlacklistPath());
    std::string line;
    ASSERT_TRUE(std::getline(file, line));
    EXPECT_EQ(line, uid);
    EXPECT_FALSE(std::getline(file, line));

    // A project cannot bring a blacklisted plug-in back.
    {
        std::lock_guard lock(harness.projectMutex);
        InsertSlot insert;
        insert.pluginId = uid;
        insert.bundlePath = rack.plugins[0].path;
        insertsOf(trackA).push_back(insert);
    }
    EXPECT_EQ(rack.restoreFromProject(), 1);
    EXPECT_EQ(rack.livePluginCount(), 0u);
}

} // namespace
} // namespace orvane::vst
