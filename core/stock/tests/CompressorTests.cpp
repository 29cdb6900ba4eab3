#include "core/stock/Compressor.h"
#include "core/stock/ParametricEq8.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane::stock {
namespace {

constexpr double rate = 48000.0;

// Feeds a steady level long enough for the envelope to settle; returns the last output.
float settledOutput(Compressor &compressor, float level, int frames = 48000) {
    std::vector<float> left(static_cast<size_t>(frames), level);
    std::vector<float> right(static_cast<size_t>(frames), -level);
    compressor.process(left.data(), right.data(), frames);
    EXPECT_FLOAT_EQ(left.back(), -right.back());
    return left.back();
}

TEST(Compressor, RatioOneAppliesOnlyMakeupGain) {
    Compressor compressor;
    compressor.prepare(rate);
    compressor.thresholdDb = -30.0f;
    compressor.ratio = 1.0f;
    compressor.makeupDb = 4.5f;
    for (float level : {0.01f, 0.2f, 0.9f})
        EXPECT_FLOAT_EQ(settledOutput(compressor, level, 4800), level * dbToGain(4.5f));
}

TEST(Compressor, FourToOneTwelveDbOverThresholdCutsNineDb) {
    Compressor compressor;
    compressor.prepare(rate);
    compressor.thresholdDb = -20.0f;
    compressor.ratio = 4.0f;
    compressor.attackMs = 2.0f;
    const float level = dbToGain(-8.0f);
    const float out = settledOutput(compressor, level);
    EXPECT_NEAR(compressor.envelope(), level, 1e-5);
    EXPECT_NEAR(gainToDb(out / level), -9.0f, 0.01f);

    compressor.makeupDb = 5.0f;
    EXPECT_NEAR(gainToDb(settledOutput(compressor, level) / level), -4.0f, 0.01f);
}

TEST(Compressor, LevelsBelowThresholdPassUntouched) {
    Compressor compressor;
    compressor.prepare(rate);
    compressor.thresholdDb = -6.0f;
    EXPECT_FLOAT_EQ(settledOutput(compressor, 0.25f), 0.25f);
}

TEST(Compressor, SidechainDrivesTheGainInsteadOfTheProgramme) {
    Compressor compressor;
    compressor.prepare(rate);
    compressor.thresholdDb = -20.0f;
    compressor.ratio = 2.0f;
    const int frames = 9600;
    std::vector<float> left(frames, 0.05f);
    std::vector<float> right(frames, 0.05f);
    const std::vector<float> sidechain(frames, dbToGain(-10.0f));
    compressor.process(left.data(), right.data(), frames, sidechain.data());
    // 10 dB over the threshold at 2:1 takes 5 dB off the quiet programme.
    EXPECT_NEAR(gainToDb(left.back() / 0.05f), -5.0f, 0.01f);
    EXPECT_FLOAT_EQ(left.back(), right.back());
}

// Samples until the envelope covers 63 % of a step, i.e. one time constant.
int timeConstantSamples(Compressor &compressor, float from, float to) {
    const float target = from + (to - from) * 0.632f;
    for (int i = 1; i < 100000; ++i) {
        float left = to;
        float right = 0.0f;
        compressor.process(&left, &right, 1);
        if ((to > from) == (compressor.envelope() >= target)) return i;
    }
    return -1;
}

TEST(Compressor, EnvelopeFollowsAttackAndReleaseTimes) {
    Compressor compressor;
    compressor.prepare(rate);
    compressor.attackMs = 2.0f;
    compressor.releaseMs = 50.0f;
    EXPECT_NEAR(timeConstantSamples(compressor, 0.0f, 0.8f), 96, 2);
    settledOutput(compressor, 0.8f);
    EXPECT_NEAR(timeConstantSamples(compressor, 0.8f, 0.0f), 2400, 2);
}

TEST(Compressor, RatiosBelowOneActAsOne) {
    Compressor expander;
    expander.prepare(rate);
    expander.thresholdDb = -20.0f;
    for (float ratio : {0.0f, 0.5f, -2.0f}) {
        expander.ratio = ratio;
        EXPECT_FLOAT_EQ(settledOutput(expander, 0.5f), 0.5f);
    }
}

} // namespace
} // namespace orvane::stock
