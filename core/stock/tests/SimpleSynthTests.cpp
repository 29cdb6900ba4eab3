#include "core/stock/SimpleSynth.h"

#include "core/stock/tests/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvane::stock {
namespace {

constexpr double rate = 48000.0;

void run(SimpleSynth &synth, int frames) {
    std::vector<float> left(static_cast<size_t>(frames), 0.0f);
    std::vector<float> right = left;
    synth.process(left.data(), right.data(), frames);
}

int zeroCrossingsUpward(const std::vector<float> &samples) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) ++crossings;
    return crossings;
}

TEST(SimpleSynth, SeventeenthNoteTakesOverVoiceZero) {
    SimpleSynth synth;
    synth.prepare(rate);
    for (int i = 0; i < 16; ++i)
        synth.noteOn(40 + i, 0.5f);
    run(synth, 10);
    synth.noteOn(90, 0.9f);
    const auto &voices = synth.voices();
    EXPECT_EQ(voices[0].pitch, 90);
    EXPECT_EQ(voices[0].velocity, 0.9f);
    EXPECT_EQ(voices[0].env, 0.0f);
    EXPECT_EQ(voices[0].phase, 0.0f);
    for (int i = 1; i < 16; ++i) {
        EXPECT_EQ(voices[i].pitch, 40 + i);
        EXPECT_GT(voices[i].env, 0.0f);
    }
}

TEST(SimpleSynth, FreedVoiceIsReusedBeforeVoiceZero) {
    SimpleSynth synth;
    synth.prepare(rate);
    for (int i = 0; i < 16; ++i)
        synth.noteOn(40 + i, 0.5f);
    run(synth, 200);
    synth.noteOff(45);
    run(synth, 3000);
    ASSERT_FALSE(synth.voices()[5].active);
    synth.noteOn(80, 0.5f);
    EXPECT_EQ(synth.voices()[5].pitch, 80);
    EXPECT_EQ(synth.voices()[0].pitch, 40);
}

TEST(SimpleSynth, AttackReachesFullLevelAfterOneHundredSamples) {
    SimpleSynth synth;
    synth.prepare(rate);
    synth.noteOn(60, 1.0f);
    run(synth, 99);
    EXPECT_LT(synth.voices()[0].env, 1.0f);
    run(synth, 1);
    EXPECT_EQ(synth.voices()[0].env, 1.0f);
    run(synth, 50);
    EXPECT_EQ(synth.voices()[0].env, 1.0f);
}

TEST(SimpleSynth, ReleasedVoiceStopsAfterAbout1380Samples) {
    SimpleSynth synth;
    synth.prepare(rate);
    synth.noteOn(60, 1.0f);
    synth.noteOn(64, 1.0f);
    run(synth, 500);
    synth.noteOff(60);
    int samples = 0;
    while (synth.voices()[0].active && samples < 5000) {
        run(synth, 1);
        ++samples;
    }
    EXPECT_NEAR(samples, 1380, 3);
    EXPECT_TRUE(synth.voices()[1].active);
    EXPECT_FALSE(synth.voices()[1].releasing);
}

TEST(SimpleSynth, PlaysTheNotePitchAtVelocityScaledLevel) {
    for (int pitch : {57, 69, 81}) {
        SimpleSynth synth;
        synth.prepare(rate);
        synth.noteOn(pitch, 0.5f);
        std::vector<float> left(48000, 0.0f);
        std::vector<float> right(48000, 0.0f);
        synth.process(left.data(), right.data(), 48000);
        const double freq = 440.0 * std::pow(2.0, (pitch - 69) / 12.0);
        EXPECT_NEAR(zeroCrossingsUpward(left), freq, 1.0) << pitch;
        EXPECT_EQ(left, right);
        const float peak =
            std::fabs(*std::max_element(left.begin() + 1000, left.end(), [](float a, float b) {
                return std::fabs(a) < std::fabs(b);
            }));
        EXPECT_NEAR(peak, 0.2f * 0.5f, 1e-3f);
    }
}

TEST(SimpleSynth, AddsIntoTheBuffers) {
    SimpleSynth dry;
    SimpleSynth onTop;
    for (SimpleSynth *synth : {&dry, &onTop}) {
        synth->prepare(rate);
        synth->noteOn(72, 0.8f);
    }
    std::vector<float> silentLeft(256, 0.0f);
    std::vector<float> silentRight(256, 0.0f);
    dry.process(silentLeft.data(), silentRight.data(), 256);
    std::vector<float> left = testing::noise(256, 0.3f, 4);
    std::vector<float> right = testing::noise(256, 0.3f, 5);
    const std::vector<float> inputLeft = left;
    const std::vector<float> inputRight = right;
    onTop.process(left.data(), right.data(), 256);
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_FLOAT_EQ(left[i], inputLeft[i] + silentLeft[i]);
        EXPECT_FLOAT_EQ(right[i], inputRight[i] + silentRight[i]);
    }
}

} // namespace
} // namespace orvane::stock
