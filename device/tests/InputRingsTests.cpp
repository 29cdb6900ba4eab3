#include "device/DspLoad.h"
#include "device/InputRings.h"
#include "tests/support/RampFrames.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <numeric>

using namespace orvane;

namespace {

using orvane::testing::ramp;

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
