#include "app/window/PeakCache.h"

#include <gtest/gtest.h>

#include <memory>

using namespace orvane;

namespace {

/// Stereo silence with two spikes: +0.9 on the right at frame 1000, -0.7 on the left at 5000.
std::vector<float> spikes(int64_t frames) {
    std::vector<float> samples(static_cast<std::size_t>(frames * 2), 0.0f);
    samples[1000 * 2 + 1] = 0.9f;
    samples[5000 * 2] = -0.7f;
    return samples;
}

} // namespace

TEST(WaveformPeaks, EveryLevelHoldsTheSpikesOfItsBucketsAndTheCoarsestHoldsBoth) {
    const auto peaks = buildWaveformPeaks(spikes(10000), 2);
    ASSERT_GE(peaks.levels.size(), 4u);
    EXPECT_EQ(peaks.frames, 10000);
    for (std::size_t i = 0; i < peaks.levels.size(); ++i) {
        const PeakLevel &level = peaks.levels[i];
        EXPECT_EQ(level.framesPerBucket, i == 0 ? 32 : peaks.levels[i - 1].framesPerBucket * 4);
        const auto high = static_cast<std::size_t>(1000 / level.framesPerBucket);
        const auto low = static_cast<std::size_t>(5000 / level.framesPerBucket);
        EXPECT_FLOAT_EQ(level.maximum[high], 0.9f) << "level " << i;
        EXPECT_FLOAT_EQ(level.minimum[low], -0.7f) << "level " << i;
        if (high != 0) {
            EXPECT_FLOAT_EQ(level.maximum[0], 0.0f) << "level " << i;
        }
    }
    EXPECT_EQ(peaks.levels.back().minimum.size(), 1u);
    EXPECT_EQ(peaks.levels[0].minimum.size(), (10000u + 31u) / 32u);
}

TEST(WaveformPeaks, DrawingPicksTheCoarsestLevelNoWiderThanAPixel) {
    const auto peaks = buildWaveformPeaks(spikes(100000), 2);
    const struct {
        double framesPerPixel;
        int64_t expected;
    } cases[] = {{1.0, 32},    {32.0, 32},   {127.0, 32},
                 {128.0, 128}, {600.0, 512}, {1e9, peaks.levels.back().framesPerBucket}};
    for (const auto &c : cases) {
        const PeakLevel *level = peaks.levelFor(c.framesPerPixel);
        ASSERT_NE(level, nullptr);
        EXPECT_EQ(level->framesPerBucket, c.expected) << c.framesPerPixel;
    }
    EXPECT_EQ(buildWaveformPeaks({}, 2).levelFor(10.0), nullptr);
}

TEST(PeakCache, BuildsOnItsWorkerAndAnswersFromTheCacheAfterwards) {
    PeakCache cache;
    auto samples = std::make_shared<const std::vector<float>>(spikes(20000));
    EXPECT_EQ(cache.peaksFor(samples, 2), nullptr) << "the first ask only queues the build";
    cache.waitUntilIdle();
    EXPECT_EQ(cache.finishedBuilds(), 1u);
    const auto peaks = cache.peaksFor(samples, 2);
    ASSERT_NE(peaks, nullptr);
    const auto direct = buildWaveformPeaks(*samples, 2);
    ASSERT_EQ(peaks->levels.size(), direct.levels.size());
    for (std::size_t i = 0; i < direct.levels.size(); ++i) {
        EXPECT_EQ(peaks->levels[i].minimum, direct.levels[i].minimum);
        EXPECT_EQ(peaks->levels[i].maximum, direct.levels[i].maximum);
    }
    EXPECT_EQ(cache.peaksFor(samples, 2), peaks) << "asked again, nothing is rebuilt";
    EXPECT_EQ(cache.finishedBuilds(), 1u);
    EXPECT_EQ(cache.peaksFor(nullptr, 2), nullptr);
}

TEST(PeakCache, ABufferReleasedWhileQueuedIsStillBuiltSafelyAndForgotten) {
    PeakCache cache;
    for (int i = 0; i < 8; ++i) {
        auto samples = std::make_shared<const std::vector<float>>(spikes(6000));
        EXPECT_EQ(cache.peaksFor(samples, 2), nullptr);
    }
    cache.waitUntilIdle();
    cache.pruneReleased();
    EXPECT_EQ(cache.finishedBuilds(), 8u);
    auto fresh = std::make_shared<const std::vector<float>>(spikes(6000));
    EXPECT_EQ(cache.peaksFor(fresh, 2), nullptr)
        << "a new buffer is never answered from an old entry";
}
