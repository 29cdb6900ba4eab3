#include "core/vst/Vst3Plugin.h"

#include "core/vst/tests/SandboxTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

namespace orvane::vst {
namespace {

using namespace testing;

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 256;
constexpr uint32_t zamCompThreshold = 7;
constexpr int missesBeforeDrop = 8;

std::vector<float> sineBlock(int frames, long firstFrame) {
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    fillSine(left, 1000.0, 0.5, sampleRate, firstFrame);
    fillSine(right, 300.0, 0.4, sampleRate, firstFrame);
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

/// Runs one block (left half, then right half of `block`) with a deadline; the result of
/// `process`.
bool runWithin(Vst3Plugin &plugin, std::vector<float> &block, Deadline deadline) {
    int frames = static_cast<int>(block.size() / 2);
    return plugin.process(block.data(), block.data() + frames, frames, deadline);
}

Deadline alreadyPassed() { return Deadline{std::chrono::steady_clock::now(), false}; }

class SandboxFault : public ::testing::Test {
  protected:
    void SetUp() override {
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
    }

    void loadSandboxed(Vst3Plugin &plugin, const std::string &path) {
        plugin.setUseOutOfProcess(true, &controller);
        ASSERT_TRUE(plugin.load(path, "")) << controller.lastError;
        ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    }

    ThirdPartyLeaksIgnored zamLeaks;
    PluginSandboxController controller;
};

// --- One time budget per block ---------------------------------------------------------------

TEST_F(SandboxFault, AnInstanceIsDroppedOnlyAfterSeveralMissedBudgetsInARow) {
    Vst3Plugin plugin;
    loadSandboxed(plugin, misbehavingEffectPath());
    auto missAll = [&plugin](int count) {
        for (int block = 0; block < count; ++block) {
            std::vector<float> samples = sineBlock(64, 0);
            orvane::testing::AllocationScope scope;
            EXPECT_FALSE(runWithin(plugin, samples, alreadyPassed()));
            EXPECT_EQ(scope.allocations(), 0u);
            EXPECT_EQ(samples, sineBlock(64, 0)) << "a missed block passes on untouched";
        }
    };
    missAll(missesBeforeDrop - 1);
    std::vector<float> answered = sineBlock(64, 0);
    EXPECT_TRUE(runWithin(plugin, answered, Deadline::after(std::chrono::seconds(5))));
    // An answer starts the count again.
    missAll(missesBeforeDrop - 1);
    EXPECT_TRUE(plugin.isLoaded());
    missAll(1);
    EXPECT_FALSE(plugin.isLoaded());
    EXPECT_TRUE(plugin.collectTransportFailure());
    EXPECT_EQ(controller.lastError, "Helper not responding");
}

TEST_F(SandboxFault, AReplyThatMissedItsBlockIsDroppedAndTheNextBlockGetsItsOwn) {
    ScopedEnvironment slow("HALVORA_TEST_MISBEHAVIOUR", "slow");
    Vst3Plugin plugin;
    loadSandboxed(plugin, misbehavingEffectPath());
    std::vector<float> first = sineBlock(blockSize, 0);
    std::vector<float> silence(first.size(), 0.0f);
    EXPECT_FALSE(runWithin(plugin, silence, Deadline::after(std::chrono::milliseconds(5))));
    std::vector<float> second = sineBlock(blockSize, blockSize);
    EXPECT_TRUE(runWithin(plugin, second, Deadline::after(std::chrono::seconds(5))));
    EXPECT_EQ(second, sineBlock(blockSize, blockSize));
    EXPECT_TRUE(plugin.isLoaded());
}

// --- Automation on the block's own exchange --------------------------------------------------

TEST_F(SandboxFault, AValueSetBeforeAMissedBlockGoesWithTheNextOneThatLeaves) {
    Vst3Plugin plugin;
    loadSandboxed(plugin, misbehavingEffectPath());
    // "Behaviour" 0.6: the plug-in reports a latency of 256 samples from its next prepare.
    ASSERT_TRUE(plugin.setParameterNormalized(0, 0.6f));
    std::vector<float> samples = sineBlock(64, 0);
    EXPECT_FALSE(runWithin(plugin, samples, alreadyPassed()));
    EXPECT_TRUE(runWithin(plugin, samples, Deadline::after(std::chrono::seconds(5))));
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    EXPECT_EQ(plugin.latency, 256);
}

TEST_F(SandboxFault, AutomationReachesASandboxedPluginExactlyAsItReachesALocalOne) {
    ASSERT_TRUE(zamPluginsInstalled());
    Vst3Plugin local, remote, unautomated;
    for (Vst3Plugin *plugin : {&local, &unautomated}) {
        ASSERT_TRUE(plugin->load(zamBundle("ZamComp"), ""));
        ASSERT_TRUE(plugin->prepare(sampleRate, blockSize));
    }
    loadSandboxed(remote, zamBundle("ZamComp"));
    for (Vst3Plugin *plugin : {&local, &remote}) {
        plugin->prepareParameterForAutomation(zamCompThreshold);
        EXPECT_FALSE(plugin->setParameterNormalizedRt(zamCompThreshold + 1, 0.5f))
            << "only prepared ids are automated";
    }
    std::vector<float> outputs[3];
    Vst3Plugin *plugins[3] = {&local, &remote, &unautomated};
    for (int block = 0; block < 48; ++block) {
        float value = 0.05f + 0.9f * float(block % 16) / 15.0f;
        for (int which = 0; which < 3; ++which) {
            std::vector<float> samples = sineBlock(blockSize, long(block) * blockSize);
            if (which < 2) {
                orvane::testing::AllocationScope scope;
                EXPECT_TRUE(plugins[which]->setParameterNormalizedRt(zamCompThreshold, value));
                EXPECT_TRUE(
                    runWithin(*plugins[which], samples, Deadline::after(std::chrono::seconds(5))));
                EXPECT_EQ(scope.allocations(), 0u);
            } else {
                runWithin(*plugins[which], samples, Deadline::after(std::chrono::seconds(5)));
            }
            outputs[which].insert(outputs[which].end(), samples.begin(), samples.end());
        }
    }
    EXPECT_EQ(outputs[1], outputs[0]) << "bit for bit";
    EXPECT_NE(outputs[0], outputs[2]) << "the automation changes what is heard";
}

// --- Whose helper died --------------------------------------------------------------------------

TEST_F(SandboxFault, APluginThatCrashesWhileLoadingTakesOnlyItsOwnHelperDown) {
    ScopedEnvironment immediateCrash("ASAN_OPTIONS",
                                     withSanitizerOption("ASAN_OPTIONS", "handle_segv=0"));
    Vst3Plugin crashing, healthy;
    loadSandboxed(healthy, misbehavingEffectPath());
    crashing.setUseOutOfProcess(true, &controller);
    EXPECT_FALSE(crashing.load(crashOnLoadPath(), ""));
    EXPECT_TRUE(crashing.ownHelperCrashed());
    EXPECT_EQ(controller.lastError, "Helper crashed in LOAD");
    EXPECT_TRUE(controller.running);
    // A load that merely fails is no crash.
    Vst3Plugin missing;
    missing.setUseOutOfProcess(true, &controller);
    EXPECT_FALSE(missing.load("/nonexistent/Nothing.vst3", ""));
    EXPECT_FALSE(missing.ownHelperCrashed());
    EXPECT_FALSE(healthy.ownHelperCrashed());
    std::vector<float> samples = sineBlock(blockSize, 0);
    EXPECT_TRUE(runWithin(healthy, samples, Deadline::after(std::chrono::seconds(5))));
}

} // namespace
} // namespace orvane::vst
