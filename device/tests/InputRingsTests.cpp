#include "device/DspLoad.h"
#include "device/InputRings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <numeric>

using namespace orvane;

namespace {

std::vector<float> ramp(int32_t frames, float from, int32_t channels = 1) {
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    for (int32_t frame = 0; frame < frames; ++frame)
        for (int32_t channel = 0; channel < channels; ++channel)
            samples[static_cast<std::size_t>(frame * channels + channel)] =
                from + static_cast<float>(frame) + 0.5f * static_cast<float>(channel);
    return samples;
}

TEST(MonitorRing, NothingIsKeptBeforeItIsAllocated) {
    MonitorRing ring;
    const auto input = ramp(16, 1.0f);
    ring.push(input.data(), 16, 1);
    EXPECT_EQ(ring.writeCount(), 0u);
    std::vector<float> left(16, 9.0f), right(16, 9.0f), out;
    ring.pull(left.data(), right.data(), 16);
    EXPECT_EQ(left, std::vector<float>(16, 0.0f));
    EXPECT_FALSE(ring.readInterleaved(out, 16));
}

TEST(MonitorRing, MonoFeedsBothSidesAndStereoKeepsTheFirstTwoChannels) {
    MonitorRing ring;
    ring.allocate();
    const auto mono = ramp(4, 1.0f);
    ring.push(mono.data(), 4, 1);
    const auto wide = ramp(4, 10.0f, 3);
    ring.push(wide.data(), 4, 3);
    std::vector<float> out;
    ASSERT_TRUE(ring.readInterleaved(out, 8));
    EXPECT_EQ(out, (std::vector<float>{1, 1, 2, 2, 3, 3, 4, 4, 10, 10.5f, 11, 11.5f, 12, 12.5f, 13,
                                       13.5f}));
}

TEST(MonitorRing, PullGivesTheLatestFramesOrSilenceWhenTooFewWereWritten) {
    MonitorRing ring;
    ring.allocate();
    const auto input = ramp(100, 0.0f);
    ring.pushPlanar(input.data(), nullptr, 100);
    std::vector<float> left(10), right(10), out;
    ring.pull(left.data(), right.data(), 10);
    EXPECT_EQ(left, ramp(10, 90.0f));
    EXPECT_EQ(right, left);
    std::vector<float> many(512, 7.0f), alsoMany(512, 7.0f);
    ring.pull(many.data(), alsoMany.data(), 512);
    EXPECT_EQ(many, std::vector<float>(512, 0.0f));
    EXPECT_FALSE(ring.readInterleaved(out, 512));
}

TEST(MonitorRing, WrapsAroundItsSixtyFiveThousandSlots) {
    MonitorRing ring;
    ring.allocate();
    const int32_t block = 4096;
    float next = 0.0f;
    for (int i = 0; i < 20; ++i) { // 81,920 frames: past the end once
        const auto input = ramp(block, next);
        const auto right = ramp(block, -next);
        ring.pushPlanar(input.data(), right.data(), block);
        next += block;
    }
    std::vector<float> out;
    ASSERT_TRUE(ring.readInterleaved(out, 3));
    const float lastStart = next - block;
    EXPECT_EQ(out, (std::vector<float>{next - 3, -lastStart + 4093, next - 2, -lastStart + 4094,
                                       next - 1, -lastStart + 4095}));
    EXPECT_FALSE(ring.readInterleaved(out, MonitorRing::frameCount + 1));
}

TEST(CaptureQueue, HandsOverStereoOrTheLeftSideInOrder) {
    CaptureQueue queue;
    queue.allocate();
    const auto left = ramp(3, 1.0f), right = ramp(3, 100.0f);
    ASSERT_TRUE(queue.push(left.data(), right.data(), 3));
    ASSERT_TRUE(queue.push(left.data(), nullptr, 1));
    std::vector<float> stereo;
    EXPECT_EQ(queue.popInto(stereo, 2), 4);
    EXPECT_EQ(stereo, (std::vector<float>{1, 100, 2, 101, 3, 102, 1, 1}));
    ASSERT_TRUE(queue.push(left.data(), right.data(), 3));
    std::vector<float> mono{-1.0f};
    EXPECT_EQ(queue.popInto(mono, 1), 3);
    EXPECT_EQ(mono, (std::vector<float>{-1, 1, 2, 3}));
    EXPECT_EQ(queue.popInto(mono, 1), 0);
}

TEST(CaptureQueue, ABlockThatDoesNotFitIsDroppedWholeAndCounted) {
    CaptureQueue queue;
    queue.allocate();
    const int32_t block = 4096;
    const std::vector<float> silence(block, 0.25f);
    const auto blocksThatFit = CaptureQueue::frameCapacity / block;
    for (uint32_t i = 0; i < blocksThatFit; ++i)
        ASSERT_TRUE(queue.push(silence.data(), silence.data(), block));
    EXPECT_FALSE(queue.push(silence.data(), silence.data(), 1));
    EXPECT_EQ(queue.droppedFrames(), 1u);
    std::vector<float> out;
    EXPECT_EQ(queue.popInto(out, 2), static_cast<int64_t>(CaptureQueue::frameCapacity));
    EXPECT_TRUE(queue.push(silence.data(), silence.data(), block));
    EXPECT_EQ(queue.droppedFrames(), 1u);
}

TEST(CaptureQueue, SilenceTakesThePlaceOfDroppedBlocksSoLaterInputKeepsItsTime) {
    CaptureQueue queue;
    queue.allocate();
    const int32_t block = 4096;
    const std::vector<float> full(block, 0.25f);
    const std::vector<float> after(block, 0.5f);
    const auto blocksThatFit = CaptureQueue::frameCapacity / block;
    for (uint32_t i = 0; i < blocksThatFit; ++i)
        ASSERT_TRUE(queue.push(full.data(), full.data(), block));
    ASSERT_FALSE(queue.push(full.data(), full.data(), 100));
    ASSERT_FALSE(queue.push(full.data(), full.data(), 28));
    std::vector<float> out;
    ASSERT_EQ(queue.popInto(out, 1), static_cast<int64_t>(CaptureQueue::frameCapacity));
    ASSERT_TRUE(queue.push(after.data(), after.data(), block));
    out.clear();
    EXPECT_EQ(queue.popInto(out, 2), 128 + block);
    ASSERT_EQ(out.size(), static_cast<std::size_t>(128 + block) * 2);
    EXPECT_EQ(std::count(out.begin(), out.begin() + 256, 0.0f), 256);
    EXPECT_EQ(std::count(out.begin() + 256, out.end(), 0.5f), 2 * block);

    // Forgetting the queue forgets a gap still waiting for input after it.
    ASSERT_TRUE(queue.push(after.data(), after.data(), block));
    for (uint32_t i = 1; i < blocksThatFit; ++i)
        ASSERT_TRUE(queue.push(after.data(), after.data(), block));
    ASSERT_FALSE(queue.push(full.data(), full.data(), 64));
    queue.discard();
    ASSERT_TRUE(queue.push(after.data(), after.data(), 8));
    out.clear();
    EXPECT_EQ(queue.popInto(out, 2), 8);
}

TEST(DspLoadMeter, SummarisesMeanWorstAndTheNinetyNinthPercentile) {
    DspLoadMeter meter;
    EXPECT_EQ(meter.summary().blocks, 0u);
    // 980 light blocks, 19 heavier ones, and one spike: the 990th block is a heavy one.
    for (int i = 0; i < 980; ++i)
        meter.record(0.1);
    for (int i = 0; i < 19; ++i)
        meter.record(0.4);
    meter.record(3.0);
    const DspLoadSummary summary = meter.summary();
    EXPECT_EQ(summary.blocks, 1000u);
    EXPECT_NEAR(summary.mean, (980 * 0.1 + 19 * 0.4 + 3.0) / 1000.0, 1e-9);
    EXPECT_DOUBLE_EQ(summary.worst, 3.0);
    EXPECT_GE(summary.p99, 0.4);
    EXPECT_LE(summary.p99, 0.4 + DspLoadMeter::binWidth);
    meter.reset();
    EXPECT_EQ(meter.summary().blocks, 0u);
    EXPECT_EQ(meter.summary().worst, 0.0);
}

} // namespace
