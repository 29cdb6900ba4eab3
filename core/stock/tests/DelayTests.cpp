#include "core/stock/Delay.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane::stock {
namespace {

constexpr double rate = 48000.0;

// An impulse of 1 at frame 0 through the delay, processed in blocks of `block` frames.
std::vector<float> impulseResponse(Delay &delay, size_t frames, int block = 256) {
    std::vector<float> left(frames, 0.0f);
    left[0] = 1.0f;
    std::vector<float> right = left;
    for (size_t start = 0; start < frames; start += static_cast<size_t>(block)) {
        const int count = static_cast<int>(std::min<size_t>(block, frames - start));
        delay.process(left.data() + start, right.data() + start, count);
    }
    EXPECT_EQ(left, right);
    return left;
}

std::vector<size_t> nonZeroFrames(const std::vector<float> &samples) {
    std::vector<size_t> frames;
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f) frames.push_back(i);
    return frames;
}

Delay wetDelay(float timeMs, float feedback = 0.0f) {
    Delay delay;
    delay.mix = 1.0f;
    delay.feedback = feedback;
    delay.timeMs = timeMs;
    delay.prepare(rate);
    return delay;
}

TEST(Delay, ImpulseAppearsExactlyAtTheConfiguredDelay) {
    Delay delay = wetDelay(10.0f);
    const std::vector<float> out = impulseResponse(delay, 2000, 77);
    EXPECT_EQ(nonZeroFrames(out), std::vector<size_t>{480});
    EXPECT_EQ(out[480], 1.0f);
}

TEST(Delay, ZeroMillisecondsReadsOneSampleBehind) {
    Delay delay = wetDelay(0.0f);
    EXPECT_EQ(nonZeroFrames(impulseResponse(delay, 100)), std::vector<size_t>{1});
    Delay negative = wetDelay(-40.0f);
    EXPECT_EQ(nonZeroFrames(impulseResponse(negative, 100)), std::vector<size_t>{1});
}

TEST(Delay, TimesBeyondTwoSecondsStopAtTheRingLengthLessOne) {
    Delay delay = wetDelay(5000.0f);
    ASSERT_EQ(delay.ringLength(), 96000u);
    EXPECT_EQ(nonZeroFrames(impulseResponse(delay, 100000, 512)), std::vector<size_t>{95999});
}

TEST(Delay, FeedbackRepeatsTheEchoAcrossTheRingWrap) {
    Delay delay = wetDelay(900.0f, 0.5f); // 43200 samples: the third echo wraps the ring
    const std::vector<float> out = impulseResponse(delay, 140000, 480);
    EXPECT_EQ(nonZeroFrames(out), (std::vector<size_t>{43200, 86400, 129600}));
    EXPECT_EQ(out[43200], 1.0f);
    EXPECT_EQ(out[86400], 0.5f);
    EXPECT_EQ(out[129600], 0.25f);
}

TEST(Delay, MixBlendsDryAndDelayedSignal) {
    Delay delay = wetDelay(1.0f);
    delay.mix = 0.25f;
    const std::vector<float> out = impulseResponse(delay, 100);
    EXPECT_EQ(out[0], 0.75f);
    EXPECT_EQ(out[48], 0.25f);
    EXPECT_EQ(nonZeroFrames(out), (std::vector<size_t>{0, 48}));
}

TEST(Delay, UnpreparedDelayLeavesTheAudioAlone) {
    Delay delay;
    delay.mix = 1.0f;
    std::vector<float> left{0.5f, -0.5f, 0.25f};
    std::vector<float> right = left;
    delay.process(left.data(), right.data(), 3);
    EXPECT_EQ(left, (std::vector<float>{0.5f, -0.5f, 0.25f}));
    EXPECT_EQ(delay.ringLength(), 0u);
}

} // namespace
} // namespace orvane::stock
