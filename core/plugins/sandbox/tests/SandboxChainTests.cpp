// Sandboxed inserts of one track in one helper: the chain renders as the same plug-ins do in
// process, runs one block behind live as a whole, and comes back with every member's state.
#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/vst3/Vst3Plugin.h"

#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace orvane::vst {
namespace {

using namespace testing;

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 256;
constexpr int blocks = 24;
constexpr uint32_t zamCompThreshold = 7;
constexpr float thresholds[] = {0.2f, 0.5f, 0.8f};
// The misbehaving effect's state with the latency of 256 samples.
const std::vector<uint8_t> latencyState = {0x4D, 0x42, 0x56, 0x48, 3, 0, 0, 0};

struct Signal {
    std::vector<float> left = std::vector<float>(blocks * blockSize);
    std::vector<float> right = std::vector<float>(blocks * blockSize);
    Signal() {
        fillSine(left, 300.0, 0.5, sampleRate, 0);
        fillSine(right, 200.0, 0.4, sampleRate, 0);
    }
    float *leftAt(int block) { return left.data() + block * blockSize; }
    float *rightAt(int block) { return right.data() + block * blockSize; }
};

class SandboxChain : public ::testing::Test {
  protected:
    void SetUp() override {
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
    }

    /// Three compressors with thresholds of their own, so that each member is heard.
    void loadCompressors(SandboxedChain &chain) {
        std::vector<SandboxedChain::Member> members(3, {zamBundle("ZamComp"), ""});
        ASSERT_TRUE(chain.load(members)) << controller.lastError;
        ASSERT_TRUE(chain.prepare(sampleRate, blockSize));
        for (size_t member = 0; member < members.size(); ++member)
            ASSERT_TRUE(chain.setParameter(member, zamCompThreshold, thresholds[member]));
    }

    /// The same three compressors in process, in series.
    Signal renderInProcess(const Signal &input) {
        std::vector<std::unique_ptr<Vst3Plugin>> local;
        for (float threshold : thresholds) {
            auto plugin = std::make_unique<Vst3Plugin>();
            EXPECT_TRUE(plugin->load(zamBundle("ZamComp"), ""));
            EXPECT_TRUE(plugin->prepare(sampleRate, blockSize));
            EXPECT_TRUE(plugin->setParameterNormalized(zamCompThreshold, threshold));
            local.push_back(std::move(plugin));
        }
        Signal out = input;
        for (int block = 0; block < blocks; ++block)
            for (auto &plugin : local)
                plugin->process(out.leftAt(block), out.rightAt(block), blockSize);
        return out;
    }

    ThirdPartyLeaksIgnored zamLeaks;
    PluginSandboxController controller;
};

TEST_F(SandboxChain, RendersTheSameToTheBitAsTheMembersInProcessAndLiveOneBlockLater) {
    ASSERT_TRUE(zamPluginsInstalled());
    const Signal input;
    const Signal expected = renderInProcess(input);
    SandboxedChain offline(controller), live(controller);
    loadCompressors(offline);
    loadCompressors(live);
    EXPECT_EQ(live.liveLatency(), blockSize) << "one block for the whole chain";
    Signal rendered = input, played = input;
    std::vector<uint8_t> state;
    for (int block = 0; block < blocks; ++block) {
        ASSERT_TRUE(offline.process(rendered.leftAt(block), rendered.rightAt(block), blockSize));
        orvane::testing::AllocationScope scope;
        // The first block precedes anything the helper gave back: left for the caller.
        ASSERT_EQ(live.processLive(played.leftAt(block), played.rightAt(block), blockSize,
                                   Deadline::after({})),
                  block > 0);
        EXPECT_EQ(scope.allocations() + scope.frees(), 0u) << "block " << block;
        // A request is answered after the block in flight: the helper kept up.
        ASSERT_TRUE(live.getState(2, state));
    }
    EXPECT_EQ(rendered.left, expected.left);
    EXPECT_EQ(rendered.right, expected.right);
    EXPECT_TRUE(std::equal(expected.left.begin(), expected.left.end() - blockSize,
                           played.left.begin() + blockSize));
    EXPECT_TRUE(std::equal(expected.right.begin(), expected.right.end() - blockSize,
                           played.right.begin() + blockSize));
    EXPECT_EQ(live.lateBlocks(), 0u);
    Vst3Plugin one;
    ASSERT_TRUE(one.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(one.prepare(sampleRate, blockSize));
    Signal once = input;
    for (int block = 0; block < blocks; ++block)
        one.process(once.leftAt(block), once.rightAt(block), blockSize);
    EXPECT_NE(once.left, expected.left) << "the members' thresholds must be heard";
}

// Each member is timed in the helper, so that the program can show its own cost apart from
// the hand-over: for every block played, offline and live, and afresh after each look.
TEST_F(SandboxChain, EachMembersOwnTimeInTheHelperComesBackWithItsBlocks) {
    ASSERT_TRUE(zamPluginsInstalled());
    Signal signal;
    SandboxedChain offline(controller), live(controller);
    loadCompressors(offline);
    loadCompressors(live);
    for (int block = 0; block < blocks; ++block) {
        ASSERT_TRUE(offline.process(signal.leftAt(block), signal.rightAt(block), blockSize));
        (void)live.processLive(signal.leftAt(block), signal.rightAt(block), blockSize,
                               Deadline::after(std::chrono::milliseconds(200)));
    }
    for (size_t member = 0; member < 3; ++member) {
        SCOPED_TRACE(member);
        const LoadStretch rendered = offline.takeHelperLoad(member);
        EXPECT_EQ(rendered.blocks, static_cast<uint64_t>(blocks));
        EXPECT_GT(rendered.mean, 0.0) << "a compressor takes some time";
        EXPECT_LT(rendered.mean, 1.0) << "and far less than the block";
        EXPECT_GE(rendered.peak, rendered.mean);
        const LoadStretch played = live.takeHelperLoad(member);
        EXPECT_GE(played.blocks, static_cast<uint64_t>(blocks - 2)) << "one block behind";
        EXPECT_GT(played.mean, 0.0);
        EXPECT_EQ(offline.takeHelperLoad(member).blocks, 0u) << "a stretch is taken once";
    }
    EXPECT_EQ(offline.takeHelperLoad(3).blocks, 0u) << "no fourth member";
    EXPECT_EQ(offline.takeHelperLoad(maximumChainLength).blocks, 0u);
}

TEST_F(SandboxChain, AKilledHelperComesBackWithEveryMembersStateAndTheChainsLatency) {
    SandboxedChain chain(controller);
    const SandboxedChain::Member effect{misbehavingEffectPath(), ""};
    ASSERT_TRUE(chain.load({effect, effect})) << controller.lastError;
    ASSERT_TRUE(chain.setState(1, latencyState));
    ASSERT_TRUE(chain.prepare(sampleRate, blockSize));
    EXPECT_EQ(chain.latency(), 256) << "the second member's latency is the chain's";
    std::vector<uint8_t> first, second;
    ASSERT_TRUE(chain.getState(0, first));
    ASSERT_NE(first, latencyState);
    std::vector<float> left(blockSize, 0.1f), right(blockSize, 0.1f);
    EXPECT_FALSE(chain.processLive(left.data(), right.data(), blockSize, Deadline::after({})))
        << "nothing came back before the first block";
    ASSERT_TRUE(chain.getState(1, second)) << "settles the block";
    EXPECT_EQ(chain.restartLostHelper(), SandboxedChain::Recovery::notNeeded)
        << "a healthy helper stays";
    const int32_t killed = chain.helperProcessId();
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    bool restarted = false;
    for (int attempt = 0; attempt < 100 && !restarted; ++attempt) {
        restarted = chain.restartLostHelper() == SandboxedChain::Recovery::restarted;
        if (!restarted) std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(restarted);
    EXPECT_NE(chain.helperProcessId(), killed);
    EXPECT_EQ(chain.latency(), 256);
    ASSERT_TRUE(chain.getState(0, second));
    EXPECT_EQ(second, first);
    ASSERT_TRUE(chain.getState(1, second));
    EXPECT_EQ(second, latencyState);
}

TEST_F(SandboxChain, RefusesAMemberItCannotLoadOrAddress) {
    SandboxedChain chain(controller);
    EXPECT_FALSE(chain.load({{misbehavingEffectPath(), ""}, {"/nonexistent.vst3", ""}}));
    EXPECT_LT(chain.helperProcessId(), 1) << "no helper is left running";
    EXPECT_FALSE(chain.load({{"bad\npath", ""}}));
    EXPECT_FALSE(chain.load(std::vector<SandboxedChain::Member>(maximumChainLength + 1,
                                                                {misbehavingEffectPath(), ""})));
    ASSERT_TRUE(chain.load({{misbehavingEffectPath(), ""}}));
    std::vector<uint8_t> state;
    EXPECT_FALSE(chain.getState(1, state));
    EXPECT_FALSE(chain.setParameter(3, 0, 0.5f));
    EXPECT_TRUE(chain.getState(0, state));
}

TEST_F(SandboxChain, EachMembersBypassAndValuesTravelWithTheBlockThroughSharedMemory) {
    SandboxedChain chain(controller);
    const SandboxedChain::Member effect{misbehavingEffectPath(), ""};
    ASSERT_TRUE(chain.load({effect, effect})) << controller.lastError;
    // The second member reports a latency but passes its input on at once, so its bypass,
    // which keeps the latency, is heard as a delay.
    ASSERT_TRUE(chain.setState(1, latencyState));
    ASSERT_TRUE(chain.prepare(sampleRate, blockSize));
    ASSERT_EQ(chain.latency(), 256);
    // Bypassed, the member plays its input as late as its latency makes it, the latency being
    // a block here; every switch fades over a block from what was heard to what is heard now.
    struct Step {
        bool bypassed;
        int fadesFrom, fadesTo; // input blocks, -1 for silence
    };
    const Step steps[] = {{true, -1, -1}, {true, 0, 0}, {false, 1, 2}, {true, 3, 2}, {false, 3, 4}};
    const auto inputBlock = [](int block) {
        std::vector<float> samples(blockSize, 0.0f);
        if (block >= 0) fillSine(samples, 300.0, 0.5, sampleRate, block * blockSize);
        return samples;
    };
    for (int block = 0; block < static_cast<int>(std::size(steps)); ++block) {
        std::vector<float> left(blockSize), right(blockSize);
        fillSine(left, 300.0, 0.5, sampleRate, block * blockSize);
        fillSine(right, 200.0, 0.4, sampleRate, block * blockSize);
        chain.setMemberBypassRt(1, steps[block].bypassed);
        orvane::testing::AllocationScope scope;
        ASSERT_TRUE(chain.process(left.data(), right.data(), blockSize, Deadline::after(5s)));
        EXPECT_EQ(scope.allocations() + scope.frees(), 0u) << "block " << block;
        const std::vector<float> from = inputBlock(steps[block].fadesFrom);
        const std::vector<float> to = inputBlock(steps[block].fadesTo);
        for (int frame = 0; frame < blockSize; ++frame) {
            const float share = static_cast<float>(frame + 1) / blockSize;
            const float expected = steps[block].fadesFrom == steps[block].fadesTo
                                       ? to[frame]
                                       : from[frame] + (to[frame] - from[frame]) * share;
            ASSERT_NEAR(left[frame], expected, 1e-6f) << "block " << block << ", frame " << frame;
        }
    }
    // "Behaviour" 0.6 makes the first member report a latency too from its next prepare.
    EXPECT_FALSE(chain.setMemberParameterRt(2, 0, 0.6f)) << "no third member";
    ASSERT_TRUE(chain.setMemberParameterRt(0, 0, 0.6f));
    std::vector<float> left(blockSize), right(blockSize);
    ASSERT_TRUE(chain.process(left.data(), right.data(), blockSize, Deadline::after(5s)));
    ASSERT_TRUE(chain.prepare(sampleRate, blockSize));
    EXPECT_EQ(chain.latency(), 512);
    EXPECT_EQ(chain.lateBlocks(), 0u);
}

// Automation of many parameters at once: what one block has no room for is heard a block later,
// never dropped.
TEST_F(SandboxChain, ValuesBeyondWhatABlockCarriesGoWithTheBlockAfterIt) {
    SandboxedChain chain(controller);
    const SandboxedChain::Member effect{misbehavingEffectPath(), ""};
    ASSERT_TRUE(chain.load({effect, effect})) << controller.lastError;
    ASSERT_TRUE(chain.prepare(sampleRate, blockSize));
    ASSERT_EQ(chain.latency(), 0);
    // A block's worth of values for parameters the effect does not have, then "Behaviour" 0.6,
    // which makes it report a latency from its next prepare.
    for (uint32_t id = 1; id <= maximumParamsPerLine; ++id)
        ASSERT_TRUE(chain.setMemberParameterRt(1, id, 0.1f));
    ASSERT_TRUE(chain.setMemberParameterRt(1, 0, 0.6f)) << "the first value past a block's room";
    EXPECT_TRUE(chain.setMemberParameterRt(1, 5, 0.2f)) << "a later value replaces one";
    const int32_t latencyAfter[] = {0, 256};
    for (int block = 0; block < static_cast<int>(std::size(latencyAfter)); ++block) {
        std::vector<float> left(blockSize, 0.1f), right(blockSize, 0.1f);
        {
            orvane::testing::AllocationScope scope;
            ASSERT_TRUE(chain.process(left.data(), right.data(), blockSize, Deadline::after(5s)));
            EXPECT_EQ(scope.allocations() + scope.frees(), 0u) << "block " << block;
        }
        ASSERT_TRUE(chain.prepare(sampleRate, blockSize));
        EXPECT_EQ(chain.latency(), latencyAfter[block]) << "after block " << block;
    }
    // Every value went: the whole staging room is free again, and no more than that is taken.
    constexpr auto room = static_cast<uint32_t>(SandboxedChain::stagedValuesPerMember);
    for (uint32_t id = 1; id <= room; ++id)
        ASSERT_TRUE(chain.setMemberParameterRt(1, id, 0.1f)) << id;
    EXPECT_FALSE(chain.setMemberParameterRt(1, room + 1, 0.2f)) << "no room left";
    EXPECT_TRUE(chain.setMemberParameterRt(0, room + 1, 0.2f)) << "its own room";
}

} // namespace
} // namespace orvane::vst
