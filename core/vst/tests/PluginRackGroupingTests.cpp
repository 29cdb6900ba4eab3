// A track's sandboxed inserts in one shared helper: heard as in their own helpers and in
// process, saved with the same states, one block late live for the whole group, and
// restarted with every member's state.
#include "core/project_io/ProjectFolder.h"
#include "core/vst/PluginRack.h"
#include "core/vst/PluginSandboxController.h"
#include "core/vst/SandboxedChain.h"
#include "core/vst/Vst3Plugin.h"
#include "core/vst/tests/PluginRackTestSupport.h"
#include "core/vst/tests/SandboxTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace orvane::vst {
namespace {

using namespace testing;

constexpr double rate = 48000.0;
constexpr int32_t blockSize = 256;
constexpr int32_t blocks = 24;
constexpr uint32_t zamCompThreshold = 7;
constexpr float thresholds[] = {0.2f, 0.5f, 0.8f};

struct Signal {
    std::vector<float> left = std::vector<float>(blocks * blockSize);
    std::vector<float> right = std::vector<float>(blocks * blockSize);
    float *leftAt(int32_t block) { return left.data() + block * blockSize; }
    float *rightAt(int32_t block) { return right.data() + block * blockSize; }
    bool operator==(const Signal &) const = default;
};

Signal sines() {
    Signal signal;
    fillSine(signal.left, 300.0, 0.5, rate, 0);
    fillSine(signal.right, 200.0, 0.4, rate, 0);
    return signal;
}

/// The three compressors in process, in series: what every grouping must sound like.
Signal renderInProcess(Signal signal) {
    std::vector<std::unique_ptr<Vst3Plugin>> local;
    for (float threshold : thresholds) {
        auto plugin = std::make_unique<Vst3Plugin>();
        EXPECT_TRUE(plugin->load(zamBundle("ZamComp"), ""));
        EXPECT_TRUE(plugin->prepare(rate, blockSize));
        EXPECT_TRUE(plugin->setParameterNormalized(zamCompThreshold, threshold));
        local.push_back(std::move(plugin));
    }
    for (int32_t block = 0; block < blocks; ++block)
        for (auto &plugin : local)
            plugin->process(signal.leftAt(block), signal.rightAt(block), blockSize);
    return signal;
}

/// A rack with the sandbox on, its helpers found beside the tests, and the zam-plugins among
/// the VST 3 folders so that a reopened project finds its bundles.
class GroupedRack : public ::testing::Test {
  protected:
    GroupedRack() {
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
        trackId = addTrack(harness);
        rack.prepare(rate, blockSize);
    }

    static uint64_t addTrack(RackHarness &into) {
        std::lock_guard lock(into.projectMutex);
        return into.project.addTrack(TrackType::Audio, "")->id;
    }

    PluginRackHost hostOf(RackHarness &of) {
        PluginRackHost host = of.host();
        host.renderingOffline = [this] { return renderingOffline; };
        return host;
    }

    void loadCompressors() {
        for (size_t index = 0; index < std::size(thresholds); ++index) {
            ASSERT_TRUE(rack.loadVst3(trackId, zamBundle("ZamComp"), "")) << controller.lastError;
            ASSERT_TRUE(rack.setParameterAndReadState(trackId, static_cast<int32_t>(index),
                                                      zamCompThreshold, thresholds[index]));
        }
    }

    void setGrouping(SandboxGrouping grouping) {
        std::lock_guard lock(harness.projectMutex);
        harness.project.findTrack(trackId)->sandboxGrouping = grouping;
    }

    Signal render(PluginRack &through, RackHarness &of, Signal signal) {
        for (int32_t block = 0; block < blocks; ++block) {
            of.playhead = int64_t{block} * blockSize;
            processTrackAsAudio(through, trackId, signal.leftAt(block), signal.rightAt(block),
                                blockSize);
        }
        return signal;
    }

    std::vector<std::vector<uint8_t>> savedStates(PluginRack &of, RackHarness &in) {
        of.saveStatesIntoProject();
        std::lock_guard lock(in.projectMutex);
        std::vector<std::vector<uint8_t>> states;
        for (const InsertSlot &insert : in.project.findTrack(trackId)->inserts)
            states.push_back(insert.state);
        return states;
    }

    RackEnvironment environment;
    ScopedEnvironment sandboxOn{"HALVORA_VST_SANDBOX", "1"};
    ScopedEnvironment withZam{"VST3_PATH", zamDir()};
    ThirdPartyLeaksIgnored zamLeaks;
    RackHarness harness;
    bool renderingOffline = true;
    PluginSandboxController controller;
    PluginRack rack{hostOf(harness), pluginRackSandboxFor(controller)};
    uint64_t trackId = 0;
};

TEST_F(GroupedRack, OneHelperPerTrackSoundsAsOnePerPluginAndInProcessAndIsOneBlockLateLive) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    const Signal input = sines();
    const Signal perPlugin = render(rack, harness, input);
    renderingOffline = false;
    rack.publishRtView();
    EXPECT_EQ(rack.latencySamples(trackId), 3 * blockSize) << "a block for each helper";

    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts()) << controller.lastError;
    EXPECT_FALSE(rack.regroupSandboxedInserts()) << "nothing more to change";
    const auto groups = rack.sandboxGroupsOf(trackId);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]->insertIndices, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(rack.latencySamples(trackId), blockSize) << "one block for the whole group";
    for (int32_t block = 0; block < blocks; ++block) {
        std::vector<float> left(blockSize, 0.25f), right(blockSize, -0.25f);
        orvane::testing::AllocationScope scope;
        processTrackAsAudio(rack, trackId, left.data(), right.data(), blockSize);
        EXPECT_EQ(scope.allocations() + scope.frees(), 0u) << "block " << block;
    }

    // A fresh group, whose compressors have heard nothing yet, for the offline comparison.
    setGrouping(SandboxGrouping::PerPlugin);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    EXPECT_TRUE(rack.sandboxGroupsOf(trackId).empty());
    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    renderingOffline = true;
    rack.publishRtView();
    EXPECT_EQ(rack.latencySamples(trackId), 0);
    const Signal perTrack = render(rack, harness, input);
    EXPECT_TRUE(perTrack == perPlugin);
    EXPECT_TRUE(perPlugin == renderInProcess(input));
    EXPECT_FALSE(perPlugin == input) << "the compressors must be heard";
}

TEST_F(GroupedRack, AGroupSavesTheStatesItsMembersHadAloneAndAReopenedProjectGroupsThemAgain) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    const auto alone = savedStates(rack, harness);
    ASSERT_EQ(alone.size(), 3u);
    EXPECT_NE(alone[0], alone[1]);
    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    EXPECT_EQ(savedStates(rack, harness), alone);

    TemporaryFolder folder;
    const std::string projectFolder = (folder.path() / "Grouped.halvora").string();
    {
        std::lock_guard lock(harness.projectMutex);
        ASSERT_TRUE(project_io::saveProject(harness.project, projectFolder, false).ok);
    }
    std::optional<Project> loaded = project_io::loadProject(projectFolder);
    ASSERT_TRUE(loaded);
    RackHarness reopened;
    reopened.project = std::move(*loaded);
    EXPECT_EQ(reopened.project.findTrack(trackId)->sandboxGrouping, SandboxGrouping::PerTrack);
    PluginRack freshRack(hostOf(reopened), pluginRackSandboxFor(controller));
    std::string warnings;
    ASSERT_TRUE(restoreRackForRender(freshRack, rate, blockSize, &warnings)) << warnings;
    ASSERT_EQ(freshRack.sandboxGroupsOf(trackId).size(), 1u);
    EXPECT_EQ(savedStates(freshRack, reopened), alone);
    const Signal input = sines();
    EXPECT_TRUE(render(freshRack, reopened, input) == renderInProcess(input));
}

TEST_F(GroupedRack, OnlyRunsOfTwoOrMorePlayingFixedEffectsShareAHelperAndRegroupWithTheirStates) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    const auto alone = savedStates(rack, harness);
    setGrouping(SandboxGrouping::PerTrack);
    const std::vector<AutomationPoint> automated = {{0, 0.1f}, {4800, 0.9f}};
    struct Case {
        const char *what;
        int32_t bypassed;
        int32_t automatedInsert;
        std::vector<std::vector<int32_t>> groups;
    };
    const Case cases[] = {
        {"all three play", -1, -1, {{0, 1, 2}}},
        {"the first bypassed", 0, -1, {{1, 2}}},
        {"the middle bypassed leaves two alone", 1, -1, {}},
        {"the last automated", -1, 2, {{0, 1}}},
    };
    for (const Case &test : cases) {
        {
            std::lock_guard lock(harness.projectMutex);
            auto &inserts = harness.project.findTrack(trackId)->inserts;
            for (int32_t index = 0; index < 3; ++index) {
                inserts[index].bypassed = index == test.bypassed;
                inserts[index].paramAutomation.clear();
                if (index == test.automatedInsert) inserts[index].paramAutomation = automated;
            }
        }
        rack.regroupSandboxedInserts();
        std::vector<std::vector<int32_t>> running;
        for (const auto &group : rack.sandboxGroupsOf(trackId))
            running.push_back(group->insertIndices);
        EXPECT_EQ(running, test.groups) << test.what;
        EXPECT_EQ(savedStates(rack, harness), alone) << test.what;
    }
}

TEST_F(GroupedRack, AKilledSharedHelperIsRestartedWithEveryMembersStateAndNoted) {
    ASSERT_TRUE(zamPluginsInstalled());
    loadCompressors();
    setGrouping(SandboxGrouping::PerTrack);
    ASSERT_TRUE(rack.regroupSandboxedInserts());
    const auto before = savedStates(rack, harness);
    renderingOffline = false;
    rack.publishRtView();
    SandboxedChain &chain = *rack.sandboxGroupsOf(trackId).at(0)->chain;
    const int32_t killed = chain.helperProcessId();
    ASSERT_GT(killed, 0);
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    std::vector<std::string> notes;
    Signal signal = sines();
    for (int32_t block = 0; notes.empty() && block < 100; ++block) {
        processTrackAsAudio(rack, trackId, signal.leftAt(block % blocks),
                            signal.rightAt(block % blocks), blockSize);
        EXPECT_EQ(rack.collectHelperFailures(), 0);
        notes = rack.takeHelperRestartNotes();
        if (notes.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "ZamComp, ZamComp, ZamComp: Helper restarted: process was gone");
    EXPECT_NE(chain.helperProcessId(), killed);
    EXPECT_EQ(savedStates(rack, harness), before);
    EXPECT_EQ(rack.latencySamples(trackId), blockSize);
}

} // namespace
} // namespace orvane::vst
