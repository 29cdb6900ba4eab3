// Live blocks through the shared block: one period behind, a late helper stands in with the dry
// signal instead of being dropped, and a lost helper comes back with its state.
#include "core/plugins/sandbox/SandboxSharedBlock.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"

#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace orvane::vst {
namespace {

using namespace testing;

constexpr double sampleRate = 48000.0;
constexpr int blockSize = 256;
constexpr uint32_t zamCompThreshold = 7;
// The misbehaving effect's state with the latency of 256 samples.
const std::vector<uint8_t> latencyState = {0x4D, 0x42, 0x56, 0x48, 3, 0, 0, 0};
const auto period = std::chrono::microseconds(blockSize * 1000000LL / 48000);

/// A stereo sine, long enough for `blocks` blocks, as one channel after the other per block.
struct Signal {
    std::vector<float> left, right;
    explicit Signal(int blocks)
        : left(static_cast<size_t>(blocks * blockSize)),
          right(static_cast<size_t>(blocks * blockSize)) {
        fillSine(left, 300.0, 0.5, sampleRate, 0);
        fillSine(right, 200.0, 0.4, sampleRate, 0);
    }
};

class SandboxPipeline : public ::testing::Test {
  protected:
    void SetUp() override {
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
    }

    void loadSandboxed(SandboxedPlugin &plugin, const std::string &path) {
        ASSERT_TRUE(plugin.load(path, "")) << controller.lastError;
        ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    }

    /// Plays block `index` of `signal` live into `out`; with `settle`, waits until the helper
    /// has finished it, as a helper that keeps up with its period would have. False for a
    /// block left as it came: the first after the pipeline started has nothing of its own.
    static bool playLive(SandboxedPlugin &plugin, const Signal &signal, int index, Signal &out,
                         bool settle, Deadline patience = Deadline::after({})) {
        const auto offset = static_cast<size_t>(index * blockSize);
        std::copy_n(signal.left.begin() + offset, blockSize, out.left.begin() + offset);
        std::copy_n(signal.right.begin() + offset, blockSize, out.right.begin() + offset);
        const bool played = plugin.processLive(out.left.data() + offset, out.right.data() + offset,
                                               blockSize, patience, {}, {});
        // A request is served only after the block in flight.
        if (settle) plugin.hasEditor();
        return played;
    }

    ThirdPartyLeaksIgnored zamLeaks;
    PluginSandboxController controller;
};

// Settled by a request after each block, the helper kept up with its period; back to back, as
// after a late wake of the audio thread, it is waited for within the block's deadline.
class SandboxPipelinePacing : public SandboxPipeline, public ::testing::WithParamInterface<bool> {};

TEST_P(SandboxPipelinePacing, LiveOutputIsTheInProcessRenderOneBlockLaterWithoutAllocating) {
    const bool backToBack = GetParam();
    ASSERT_TRUE(zamPluginsInstalled());
    constexpr int blocks = 40;
    Vst3Plugin local;
    SandboxedPlugin remote(controller);
    ASSERT_TRUE(local.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(local.prepare(sampleRate, blockSize));
    loadSandboxed(remote, zamBundle("ZamComp"));
    EXPECT_EQ(remote.liveLatency(), blockSize);
    EXPECT_EQ(local.liveLatency(), 0);
    for (Plugin *plugin : std::initializer_list<Plugin *>{&local, &remote})
        ASSERT_TRUE(plugin->setParameterNormalized(zamCompThreshold, 0.3f));
    const Signal input(blocks);
    Signal rendered = input, live(blocks);
    for (int block = 0; block < blocks; ++block) {
        const auto offset = static_cast<size_t>(block * blockSize);
        local.process(rendered.left.data() + offset, rendered.right.data() + offset, blockSize);
        orvane::testing::AllocationScope scope;
        const bool played = playLive(
            remote, input, block, live, false,
            Deadline::after(backToBack ? std::chrono::seconds(1) : std::chrono::seconds(0)));
        EXPECT_EQ(played, block > 0) << "block " << block;
        EXPECT_EQ(scope.allocations() + scope.frees(), 0u) << "block " << block;
        if (!backToBack) remote.hasEditor();
    }
    // The first block preceded anything the helper gave back: it was left for the caller to
    // stand in for, as it came.
    EXPECT_TRUE(std::equal(input.left.begin(), input.left.begin() + blockSize, live.left.begin()));
    EXPECT_TRUE(std::equal(rendered.left.begin(), rendered.left.end() - blockSize,
                           live.left.begin() + blockSize));
    EXPECT_TRUE(std::equal(rendered.right.begin(), rendered.right.end() - blockSize,
                           live.right.begin() + blockSize));
    EXPECT_LT(rms(rendered.left.data() + 20 * blockSize, 20 * blockSize),
              rms(input.left.data() + 20 * blockSize, 20 * blockSize))
        << "the threshold must be heard for the comparison to mean anything";
    EXPECT_EQ(remote.lateBlocks(), 0u);
}

INSTANTIATE_TEST_SUITE_P(SettledOrBackToBack, SandboxPipelinePacing, ::testing::Bool());

TEST_F(SandboxPipeline, AHelperStoppedFor80MillisecondsFadesToDryWithoutAClickAndResumes) {
    constexpr int before = 8, after = 8;
    constexpr int stopped = 80000 / (blockSize * 1000000 / 48000) + 1;
    constexpr int blocks = before + stopped + after;
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    const int32_t helper = plugin.helperProcessId();
    const Signal input(blocks);
    Signal out(blocks);
    int block = 0;
    for (; block < before; ++block)
        playLive(plugin, input, block, out, true);
    ASSERT_EQ(kill(helper, SIGSTOP), 0);
    for (auto next = std::chrono::steady_clock::now(); block < before + stopped; ++block) {
        playLive(plugin, input, block, out, false);
        next += period;
        std::this_thread::sleep_until(next);
    }
    ASSERT_EQ(kill(helper, SIGCONT), 0);
    plugin.hasEditor();
    for (; block < blocks; ++block)
        playLive(plugin, input, block, out, true);

    EXPECT_GE(plugin.lateBlocks(), static_cast<uint64_t>(stopped - 1));
    EXPECT_FALSE(plugin.restartLostHelper());
    EXPECT_FALSE(plugin.collectTransportFailure());
    EXPECT_TRUE(plugin.isLoaded());
    EXPECT_EQ(plugin.helperProcessId(), helper);
    // The effect passes its input: the output is the input one block later, except where the
    // last good block fades out over the dry signal, within one block.
    for (const auto &[played, sent] :
         {std::pair{&out.left, &input.left}, {&out.right, &input.right}}) {
        size_t firstDifferent = played->size(), lastDifferent = 0;
        float largestStep = 0.0f;
        for (size_t i = blockSize; i < played->size(); ++i) {
            if (std::abs((*played)[i] - (*sent)[i - blockSize]) > 1e-6f) {
                firstDifferent = std::min(firstDifferent, i);
                lastDifferent = i;
            }
            // The first block was left for a caller to stand in for: no step from it counts.
            if (i > static_cast<size_t>(blockSize))
                largestStep = std::max(largestStep, std::abs((*played)[i] - (*played)[i - 1]));
        }
        ASSERT_LT(firstDifferent, played->size()) << "the faded block must be there";
        EXPECT_LT(lastDifferent - firstDifferent, static_cast<size_t>(blockSize));
        // A sine of 300 Hz at 0.5 moves 0.02 a sample; a click would jump by far more.
        EXPECT_LT(largestStep, 0.05f);
    }
}

// The test plays the helper's part by hand, so that "late by one block" is exact: the helper
// doubles each block it is given and notes which it saw.
class LateByOneBlock : public ::testing::Test {
  protected:
    void SetUp() override {
        auto mapping = std::make_unique<SharedBlockMapping>();
        std::string name;
        ASSERT_TRUE(mapping->create(name));
        unlinkSharedBlock(name);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, control), 0);
        block = mapping->block();
        client.emplace(std::move(mapping), control[0]);
        client->prepare(blockSize, sampleRate, 0);
    }
    void TearDown() override {
        close(control[0]);
        close(control[1]);
    }

    void serveAsTheHelper() {
        (void)serveWaitingBlocks(*block, block->completed.load(), [&](SharedBlockSlot &slot) {
            for (int channel = 0; channel < 2; ++channel)
                for (int frame = 0; frame < slot.frames; ++frame)
                    slot.output[channel][frame] = 2.0f * slot.input[channel][frame];
            heard.push_back(slot.input[0][0]);
        });
    }

    /// Plays block `index` (all of whose samples are `index + 1`) and returns its first sample.
    float play(int index, Deadline patience) {
        std::vector<float> left(blockSize, float(index + 1)), right(left);
        bool sent = false;
        // The first block precedes anything the helper gave back.
        EXPECT_EQ(client->processBehind(left.data(), right.data(), blockSize, {}, patience, sent),
                  index > 0);
        EXPECT_EQ(left, right);
        return left.back();
    }

    int control[2] = {-1, -1};
    SharedBlockLayout *block = nullptr;
    std::optional<SharedBlockClient> client;
    std::vector<float> heard;
};

TEST_F(LateByOneBlock, CostsOneDryBlockAndThePlugInStillHearsEveryBlock) {
    const Deadline given = Deadline::after(std::chrono::seconds(10));
    (void)play(0, given);
    // The helper has not finished block 0 when block 1 comes: block 0 plays dry, and block 1
    // waits in the other slot rather than being left out.
    (void)play(1, Deadline::after({}));
    serveAsTheHelper();
    const float backFromTheMiss = play(2, given);
    serveAsTheHelper();
    const float onTime = play(3, given);
    EXPECT_EQ(client->lateBlocks(), 1u);
    EXPECT_EQ(heard, (std::vector<float>{1.0f, 2.0f, 3.0f}));
    // Block 1 fades in from its dry signal; block 2 is processed whole.
    EXPECT_GT(backFromTheMiss, 2.0f);
    EXPECT_LE(backFromTheMiss, 4.0f);
    EXPECT_EQ(onTime, 6.0f);
}

TEST_F(SandboxPipeline, AKilledHelperIsRestartedWithItsStateWithinASecond) {
    // Room for a second of blocks while the restart is awaited.
    constexpr int blocks = 8 + 200 + 4;
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    ASSERT_TRUE(plugin.setState(latencyState));
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    ASSERT_EQ(plugin.latency, 256);
    const int32_t first = plugin.helperProcessId();
    const Signal input(blocks);
    Signal out(blocks);
    int block = 0;
    for (; block < 8; ++block)
        playLive(plugin, input, block, out, true);
    EXPECT_FALSE(plugin.restartLostHelper()) << "a healthy helper stays";
    ASSERT_EQ(kill(first, SIGKILL), 0);
    const auto killedAt = std::chrono::steady_clock::now();
    bool restarted = false;
    while (!restarted && block < blocks - 4 &&
           std::chrono::steady_clock::now() - killedAt < std::chrono::seconds(1)) {
        playLive(plugin, input, block++, out, false);
        restarted = plugin.restartLostHelper();
        if (!restarted) std::this_thread::sleep_for(period);
    }
    ASSERT_TRUE(restarted) << "restarted within a second";
    EXPECT_NE(plugin.helperProcessId(), first);
    EXPECT_FALSE(controller.lastError.empty());
    EXPECT_EQ(plugin.latency, 256);
    std::vector<uint8_t> state;
    ASSERT_TRUE(plugin.getState(state));
    EXPECT_EQ(state, latencyState);
    const uint64_t lateBefore = plugin.lateBlocks();
    for (int played = 0; played < 4; ++played)
        playLive(plugin, input, block++, out, true);
    EXPECT_EQ(plugin.lateBlocks(), lateBefore) << "the new helper keeps up";
    const auto last = static_cast<size_t>((block - 1) * blockSize);
    EXPECT_TRUE(std::equal(out.left.begin() + last, out.left.begin() + last + blockSize,
                           input.left.begin() + last - blockSize));
}

// A plug-in that takes 200 ms over its state, while a paced thread plays live blocks: each
// request held for its round trip would cost ~37 blocks at this size (refused by a taken
// processing lock, or late behind the helper's), and two of them ~75.
TEST_F(SandboxPipeline, LiveBlocksKeepFlowingWhileASlowStateRequestIsInFlight) {
    ScopedEnvironment slowState("HALVORA_TEST_MISBEHAVIOUR", "slow-state");
    SandboxedPlugin plugin(controller);
    loadSandboxed(plugin, misbehavingEffectPath());
    std::atomic<bool> stop{false};
    std::atomic<int> played{0}, refused{0};
    std::thread audio([&] {
        std::vector<float> left(blockSize, 0.25f), right(blockSize, -0.25f);
        auto next = std::chrono::steady_clock::now();
        // The first block has nothing of the helper's to play yet: not a refusal.
        (void)plugin.processLive(left.data(), right.data(), blockSize, Deadline::after({}), {}, {});
        next += period;
        std::this_thread::sleep_until(next);
        while (!stop.load()) {
            ++(plugin.processLive(left.data(), right.data(), blockSize, Deadline::after({}), {}, {})
                   ? played
                   : refused);
            next += period;
            std::this_thread::sleep_until(next);
        }
    });
    std::this_thread::sleep_for(20 * period);
    const uint64_t lateBefore = plugin.lateBlocks();
    const int playedBefore = played.load();
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> state;
    const bool got = plugin.getState(state);
    const bool set = got && plugin.setState(state);
    const auto took = std::chrono::steady_clock::now() - start;
    const int playedMeanwhile = played.load() - playedBefore;
    const uint64_t lateMeanwhile = plugin.lateBlocks() - lateBefore;
    stop = true;
    audio.join();
    ASSERT_TRUE(got);
    ASSERT_TRUE(set);
    EXPECT_GE(took, std::chrono::milliseconds(400)) << "both requests took their time";
    EXPECT_GE(playedMeanwhile, 40) << "the audio thread was not held up";
    EXPECT_EQ(refused.load(), 0) << "the processing lock was never taken from the audio thread";
    EXPECT_LT(lateMeanwhile, 15u) << "the helper processed while it served the state";
}

} // namespace
} // namespace orvane::vst
