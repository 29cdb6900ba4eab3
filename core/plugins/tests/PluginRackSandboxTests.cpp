// The rack with its plug-ins in the sandbox: scanning out of process, whose helper death
// blacklists what, and the time budget of a real-time block.
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/plugins/vst3/Vst3Plugin.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace orvane::vst {
namespace {

using namespace testing;

constexpr double rate = 48000.0;
// The shortest period a live device runs: 1.33 ms.
constexpr int32_t shortBlock = 64;
const std::string misbehavingUid = "48564C544D4953424548415645464658";
// The misbehaving effect's state with the latency of 256 samples.
const std::vector<uint8_t> latencyState = {0x4D, 0x42, 0x56, 0x48, 3, 0, 0, 0};

std::vector<std::string> fileLines(const std::string &path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

bool contains(const std::vector<std::string> &lines, const std::string &wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

std::vector<float> ramp(int32_t frames, int32_t first) {
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (int32_t i = 0; i < frames; ++i)
        samples[static_cast<std::size_t>(i)] = float((first + i) % 997) / 997.0f - 0.5f;
    return samples;
}

class SandboxedRack : public ::testing::Test {
  protected:
    SandboxedRack() {
        // These tests follow single periods through the helper; gathered ones have their own.
        rack.gathersLiveBlocks = false;
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
        {
            std::lock_guard lock(harness.projectMutex);
            trackId = harness.project.addTrack(TrackType::Audio, "")->id;
        }
        rack.prepare(rate, shortBlock);
    }

    /// Real time unless a test renders offline, where inserts get all the time they need.
    PluginRackHost realTimeHost() {
        PluginRackHost host = harness.host();
        host.renderingOffline = [this] { return renderingOffline; };
        return host;
    }

    /// Runs one block of a ramp through the track; what came out.
    std::vector<float> runBlock(int32_t first) {
        std::vector<float> left = ramp(shortBlock, first), right = ramp(shortBlock, first + 7);
        processTrackAsAudio(rack, trackId, left.data(), right.data(), shortBlock);
        left.insert(left.end(), right.begin(), right.end());
        return left;
    }

    RackEnvironment environment;
    ScopedEnvironment sandboxOn{"HALVORA_VST_SANDBOX", "1"};
    ScopedEnvironment immediateCrash{"ASAN_OPTIONS",
                                     withSanitizerOption("ASAN_OPTIONS", "handle_segv=0")};
    RackHarness harness;
    bool renderingOffline = false;
    PluginSandboxController controller;
    PluginRack rack{realTimeHost(), pluginRackSandboxFor(controller)};
    uint64_t trackId = 0;
};

// --- Scanning -------------------------------------------------------------------------------

TEST_F(SandboxedRack, ScansInHelpersRecordsABundleThatCrashesAndKeepsTheCacheForTheNextStart) {
    ScopedEnvironment folders("VST3_PATH", crashBundlesDir() + ":" + testBundlesDir());
    // Loading the crashing bundle here would end this test program.
    rack.scan();
    std::vector<std::string> uids;
    for (const PluginDescription &description : rack.plugins)
        uids.push_back(description.uid);
    EXPECT_TRUE(contains(uids, misbehavingUid));
    EXPECT_EQ(uids.size(), 2u) << "the misbehaving effect and the instrument";
    EXPECT_TRUE(contains(fileLines(defaultVstBlacklistPath()), crashOnLoadPath()));
    EXPECT_TRUE(std::filesystem::exists(defaultVstScanCachePath()));

    // A second start takes the classes from the cache: without any helper to ask, it still
    // knows them.
    TemporaryFolder noHelper;
    controller.helperSearchFolder = noHelper.path().string();
    rack.scan();
    std::vector<std::string> again;
    for (const PluginDescription &description : rack.plugins)
        again.push_back(description.uid);
    EXPECT_EQ(again, uids);
}

// --- Where each plug-in runs ----------------------------------------------------------------

bool runsInHelper(PluginRack &rack, uint64_t trackId) {
    std::lock_guard lock(rack.slotsMutex);
    for (const Slot &slot : rack.slots)
        if (slot.trackId == trackId && slot.plugin) return slot.sandboxed != nullptr;
    ADD_FAILURE() << "no plug-in on track " << trackId;
    return false;
}

// Helpers are the rule; the song, a track or one insert keeps plug-ins in this process, and
// each rebuild of the rack puts every plug-in where its choice says, with the state it had.
TEST(PluginPlacement, TheSongATrackOrAnInsertKeepsPluginsHereAndTheRestRunInHelpers) {
    RackEnvironment environment;
    ScopedEnvironment asInstalled{"HALVORA_VST_SANDBOX", std::nullopt};
    RackHarness harness;
    PluginSandboxController controller;
    controller.enabled = true;
    controller.helperSearchFolder = helperProgramFolder();
    PluginRack rack{harness.host(), pluginRackSandboxFor(controller)};
    rack.prepare(rate, shortBlock);
    ASSERT_TRUE(rack.sandboxEnabled);
    uint64_t first = 0, second = 0;
    {
        std::lock_guard lock(harness.projectMutex);
        first = harness.project.addTrack(TrackType::Audio, "First")->id;
        second = harness.project.addTrack(TrackType::Audio, "Second")->id;
    }
    for (const uint64_t track : {first, second})
        ASSERT_TRUE(rack.loadVst3(track, misbehavingEffectPath(), "", &latencyState))
            << controller.lastError;
    EXPECT_TRUE(runsInHelper(rack, first) && runsInHelper(rack, second));

    struct Case {
        const char *chosen;
        bool song, track, insert;
        bool firstInHelper, secondInHelper;
    };
    for (const Case &choice : {Case{"the first insert", false, false, true, false, true},
                               Case{"the first track", false, true, false, false, true},
                               Case{"the song", true, false, false, false, false},
                               Case{"nothing", false, false, false, true, true}}) {
        {
            std::lock_guard lock(harness.projectMutex);
            harness.project.pluginsInProcess = choice.song;
            const auto track = harness.project.findTrack(first);
            track->pluginsInProcess = choice.track;
            track->inserts.at(0).inProcess = choice.insert;
        }
        rack.saveStatesIntoProject();
        EXPECT_EQ(rack.restoreFromProject(), 0) << choice.chosen;
        rack.prepare(rate, shortBlock); // the latency a restored state sets is read here
        EXPECT_EQ(runsInHelper(rack, first), choice.firstInHelper) << choice.chosen;
        EXPECT_EQ(runsInHelper(rack, second), choice.secondInHelper) << choice.chosen;
        EXPECT_EQ(rack.latencySamples(first), 256) << choice.chosen << ": the state came along";
        EXPECT_EQ(rack.latencySamples(second), 256) << choice.chosen;
        std::lock_guard lock(harness.projectMutex);
        EXPECT_EQ(harness.project.findTrack(first)->inserts.at(0).inProcess, choice.insert)
            << choice.chosen << ": the choice itself survives the rebuild";
    }
    // A plug-in added to a track that keeps its plug-ins here starts here.
    {
        std::lock_guard lock(harness.projectMutex);
        harness.project.findTrack(second)->pluginsInProcess = true;
        harness.project.findTrack(second)->inserts.clear();
    }
    rack.saveStatesIntoProject();
    rack.restoreFromProject();
    ASSERT_TRUE(rack.loadVst3(second, misbehavingEffectPath(), ""));
    EXPECT_FALSE(runsInHelper(rack, second));
    EXPECT_TRUE(runsInHelper(rack, first));
}

// --- Whose failure blacklists what ----------------------------------------------------------

TEST_F(SandboxedRack, APluginThatCrashesWhileLoadingIsBlacklisted) {
    EXPECT_FALSE(rack.loadVst3(trackId, crashOnLoadPath(), ""));
    EXPECT_TRUE(contains(fileLines(defaultVstBlacklistPath()), crashOnLoadPath()));
    EXPECT_TRUE(controller.running);
}

TEST_F(SandboxedRack, OneInsertsCrashNeverBlacklistsAHealthyOne) {
    {
        ScopedRackDelay latency(0);
        ASSERT_TRUE(rack.loadVst3(trackId, rackDelayEffectPath(), "")) << controller.lastError;
    }
    {
        ScopedEnvironment crash("HALVORA_TEST_MISBEHAVIOUR", "crash");
        ASSERT_TRUE(rack.loadVst3(trackId, misbehavingEffectPath(), "")) << controller.lastError;
    }
    const std::string healthyUid = rack.slots[0].plugin->description.uid;
    // Offline, so that a slow machine cannot make the healthy insert miss its budget.
    renderingOffline = true;
    runBlock(0);
    EXPECT_EQ(rack.collectHelperFailures(), 1);
    EXPECT_TRUE(controller.running);
    // The healthy insert has no editor: an ordinary failure, which blacklists nothing.
    EXPECT_FALSE(rack.openEditor(trackId, 0));
    EXPECT_FALSE(contains(fileLines(defaultVstBlacklistPath()), healthyUid));
    EXPECT_TRUE(rack.slots[0].plugin->isLoaded());
    EXPECT_FALSE(rack.slots[1].plugin->isLoaded());
}

// --- Live blocks run one behind -------------------------------------------------------------

std::vector<float> rampBlock(int32_t first) {
    std::vector<float> left = ramp(shortBlock, first), right = ramp(shortBlock, first + 7);
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

TEST_F(SandboxedRack, TwoHungInsertsNeverHoldALiveBlockAndAreDroppedAfterASecondOfMisses) {
    {
        ScopedEnvironment hang("HALVORA_TEST_MISBEHAVIOUR", "hang");
        ASSERT_TRUE(rack.loadVst3(trackId, misbehavingEffectPath(), "")) << controller.lastError;
        ASSERT_TRUE(rack.loadVst3(trackId, misbehavingEffectPath(), "")) << controller.lastError;
    }
    // Each insert runs one block behind.
    EXPECT_EQ(rack.latencySamples(trackId), 2 * shortBlock);
    const int32_t blocksInASecond = static_cast<int32_t>(rate) / shortBlock;
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int32_t block = 0; block < blocksInASecond - 2; ++block) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<float> out = runBlock(block * shortBlock);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
        // The first block fades in from the silence before it.
        if (block == 2) continue;
        const std::vector<float> expected =
            block < 2 ? std::vector<float>(out.size(), 0.0f) : rampBlock((block - 2) * shortBlock);
        ASSERT_EQ(out, expected) << "a missed block stands in dry, as late as the insert, block "
                                 << block;
    }
    // The block is 1.33 ms; a live block never waits for a helper.
    EXPECT_LT(slowest, std::chrono::milliseconds(20));
    EXPECT_EQ(rack.collectHelperFailures(), 0) << "late is not dead";
    EXPECT_GE(rack.slots[0].sandboxed->lateBlocks(), static_cast<uint64_t>(blocksInASecond - 3));
    for (int32_t block = 0; block < 4; ++block)
        runBlock(block * shortBlock);
    // They never finished a block: a restart would only hang again.
    EXPECT_EQ(rack.collectHelperFailures(), 2);
    EXPECT_TRUE(rack.takeHelperRestartNotes().empty());
}

TEST_F(SandboxedRack, AMissedBlockPassesOnDryWithTheInsertsLatencyKept) {
    {
        ScopedEnvironment slow("HALVORA_TEST_MISBEHAVIOUR", "slow");
        ASSERT_TRUE(rack.loadVst3(trackId, misbehavingEffectPath(), "", &latencyState))
            << controller.lastError;
    }
    rack.prepare(rate, shortBlock);
    renderingOffline = true;
    ASSERT_EQ(rack.latencySamples(trackId), 256) << "offline the helper is waited for";
    renderingOffline = false;
    ASSERT_EQ(rack.latencySamples(trackId), 256 + shortBlock);
    // The helper takes 50 ms a block: every block of this quick run misses.
    const int32_t latencyBlocks = (256 + shortBlock) / shortBlock;
    for (int32_t block = 0; block < latencyBlocks + 2; ++block) {
        std::vector<float> out = runBlock(block * shortBlock);
        std::vector<float> expected(out.size(), 0.0f);
        if (block >= latencyBlocks) expected = rampBlock((block - latencyBlocks) * shortBlock);
        EXPECT_EQ(out, expected) << "block " << block;
    }
}

TEST_F(SandboxedRack, AKilledHelperIsRestartedWithItsStateAndNotedForTheStatusLine) {
    ASSERT_TRUE(rack.loadVst3(trackId, misbehavingEffectPath(), "", &latencyState))
        << controller.lastError;
    rack.prepare(rate, shortBlock);
    SandboxedPlugin &plugin = *rack.slots[0].sandboxed;
    const int32_t liveLatency = rack.latencySamples(trackId);
    ASSERT_EQ(liveLatency, 256 + shortBlock);
    int32_t block = 0;
    for (; block < 4; ++block) {
        runBlock(block * shortBlock);
        plugin.hasEditor();
    }
    const int32_t first = plugin.helperProcessId();
    ASSERT_EQ(kill(first, SIGKILL), 0);
    const auto killedAt = std::chrono::steady_clock::now();
    std::vector<std::string> notes;
    while (notes.empty() && std::chrono::steady_clock::now() - killedAt < std::chrono::seconds(1)) {
        runBlock(block++ * shortBlock);
        EXPECT_EQ(rack.collectHelperFailures(), 0);
        notes = rack.takeHelperRestartNotes();
    }
    ASSERT_EQ(notes.size(), 1u) << "restarted within a second";
    EXPECT_NE(notes[0].find("restarted"), std::string::npos) << notes[0];
    EXPECT_NE(plugin.helperProcessId(), first);
    EXPECT_TRUE(plugin.isLoaded());
    rack.publishRtView();
    EXPECT_EQ(rack.latencySamples(trackId), liveLatency) << "its state came back with it";
}

} // namespace
} // namespace orvane::vst
