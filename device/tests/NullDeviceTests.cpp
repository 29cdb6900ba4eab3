#include "device/AudioDeviceEngine.h"
#include "device/tests/DeviceTestSupport.h"

#include <gtest/gtest.h>

#include <set>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;

namespace {

class NullDevice : public ::testing::Test {
  protected:
    void SetUp() override { engine.replaceProject(toneProject(48000.0, 10.0)); }

    void start(int32_t frames) {
        device.setRenderObserver(&observer);
        const uint32_t null = device.deviceIdByName(nullDeviceName);
        ASSERT_NE(null, 0u);
        ASSERT_TRUE(device.applySettings(null, null, frames)) << device.lastError;
        ASSERT_TRUE(playFromStart(engine));
        ASSERT_TRUE(device.start()) << device.lastError;
    }

    Engine engine;
    CountingObserver observer; // outlives the device, whose audio thread calls it
    AudioDeviceEngine device{engine};
};

TEST_F(NullDevice, RendersTheEngineInRealTimeWithoutAllocating) {
    start(128);
    EXPECT_EQ(device.bufferFrames, 128);
    EXPECT_EQ(device.outputDeviceName, "Null");
    ASSERT_TRUE(observer.waitForBlocks(20, 10s));
    device.stop();
    const uint64_t blocks = observer.blocks.load();
    EXPECT_GE(blocks, 20u);
    EXPECT_EQ(engine.transport.playhead.load(), static_cast<int64_t>(blocks) * 128);
    EXPECT_EQ(device.dspLoad().blocks, blocks);
    EXPECT_EQ(observer.allocations.load(), 0u);
    EXPECT_EQ(observer.frees.load(), 0u);
    // Stopping hands the engine's resources back.
    EXPECT_EQ(engine.rtBlockSize.load(), 0);
}

// The hand-off of every input pair, with the main thread draining while the device captures.
TEST_F(NullDevice, EveryInputPairRecordsAWholeTakeWhileTheMainThreadDrains) {
    device.inputPairs = 3;
    start(128);
    EXPECT_EQ(device.capturedInputPairs(), 3);
    ASSERT_TRUE(device.beginRecording()) << device.lastError;
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(observer.waitForBlocks(3, 10s));
        device.drainCapture();
    }
    const std::vector<InputRecordingTarget> targets{{0, {}}, {1, {}}, {2, {}}};
    const auto outcomes = device.finishRecordingInputsIntoProject(engine, targets);
    device.stop();
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_GE(outcomes[0].frames, 60 * 128);
    std::set<uint64_t> tracks;
    for (const RecordingOutcome &outcome : outcomes) {
        EXPECT_NE(outcome.clipId, 0u);
        EXPECT_EQ(outcome.frames, outcomes[0].frames); // every pair, every frame
        tracks.insert(outcome.trackId);
    }
    EXPECT_EQ(tracks.size(), 3u);
    EXPECT_EQ(device.lastRecordingOverflowFrames, 0u);
    EXPECT_EQ(observer.allocations.load(), 0u);
}

TEST_F(NullDevice, BufferRequestsAreClampedToTheSupportedRange) {
    struct Case {
        int32_t asked;
        int32_t expected;
    };
    for (const Case test : {Case{16, 64}, Case{10000, 4096}, Case{300, 300}}) {
        const uint32_t null = device.deviceIdByName(nullDeviceName);
        ASSERT_TRUE(device.applySettings(null, 0, test.asked));
        EXPECT_EQ(device.requestedBufferFrames, test.expected);
        EXPECT_EQ(device.bufferFrames, test.expected);
        EXPECT_GE(device.renderLeft.size(),
                  static_cast<std::size_t>(std::max(test.expected, 4096)));
    }
}

TEST_F(NullDevice, AnUnknownDeviceKeepsTheCurrentOneButReopens) {
    start(256);
    std::vector<std::string> logged;
    device.stop();
    device.log = [&logged](const std::string &line) { logged.push_back(line); };
    const uint32_t null = device.deviceIdByName(nullDeviceName);
    ASSERT_TRUE(device.applySettings(9999, 0, 256));
    EXPECT_EQ(device.outputDeviceId, null);
    EXPECT_NE(
        std::find(logged.begin(), logged.end(), "audio: invalid output device id, keeping current"),
        logged.end());
    EXPECT_NE(device.backend, nullptr);
}

TEST_F(NullDevice, ALatePeriodCountsAsAnUnderrun) {
    start(512);
    ASSERT_TRUE(observer.waitForBlocks(2, 10s));
    // A busy machine may already have made one late; the stall must add one.
    const uint64_t xrunsBefore = device.xrunCount();
    observer.stallNextBlock(100ms); // some nine periods of 512 frames
    // The stalled block and the one after it, whose start comes after the count.
    ASSERT_TRUE(observer.waitForBlocks(3, 10s));
    EXPECT_GE(device.xrunCount(), xrunsBefore + 1);
}

TEST_F(NullDevice, InputIsMixedInOnlyWhileRecording) {
    const uint32_t null = device.deviceIdByName(nullDeviceName);
    ASSERT_TRUE(device.applySettings(null, null, 256));
    // The monitor ring holds a steady 0.5; the engine is stopped, so its output is silence.
    std::vector<float> steady(2 * 512, 0.5f);
    device.pushMonitorSamples(steady.data(), 512, 2);
    std::array<float, 256> left{}, right{};
    std::array<float *, 2> outputs{left.data(), right.data()};
    engine.prepareToPlay(48000.0, 256);
    device.renderDevice(nullptr, 0, outputs.data(), 2, 256);
    EXPECT_EQ(left[10], 0.0f);
    device.recording.store(true);
    device.renderDevice(nullptr, 0, outputs.data(), 2, 256);
    EXPECT_FLOAT_EQ(left[10], 0.55f * 0.5f);
    EXPECT_FLOAT_EQ(right[200], 0.55f * 0.5f);
    // One output channel takes the left side alone, never a down-mix.
    std::vector<float> wide(2 * 512);
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = i % 2 == 0 ? 0.5f : -0.5f;
    device.pushMonitorSamples(wide.data(), 512, 2);
    std::array<float, 256> mono{};
    std::array<float *, 1> single{mono.data()};
    device.renderDevice(nullptr, 0, single.data(), 1, 256);
    EXPECT_FLOAT_EQ(mono[10], 0.55f * 0.5f);
    // More frames than the render buffers hold: silence, not stale samples.
    std::vector<float> huge(8192, 1.0f);
    std::array<float *, 2> big{huge.data(), nullptr};
    device.renderDevice(nullptr, 0, big.data(), 1, 8192);
    EXPECT_EQ(huge[0], 0.0f);
}

} // namespace
