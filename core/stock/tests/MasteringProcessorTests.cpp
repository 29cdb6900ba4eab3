#include "core/stock/MasteringProcessor.h"
#include "core/stock/ParametricEq8.h"

#include "core/stock/tests/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace orvane::stock {
namespace {

using testing::noise;
using testing::sineSamples;
using testing::toneAmplitude;

constexpr double rate = 48000.0;

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
    bool operator==(const Stereo &) const = default;
};

Stereo master(const MasteringUtility &settings, Stereo audio) {
    MasteringProcessor processor;
    processor.prepare(rate);
    for (size_t start = 0; start < audio.left.size(); start += 512) {
        const int frames = static_cast<int>(std::min<size_t>(512, audio.left.size() - start));
        processor.setSettings(settings);
        processor.process(audio.left.data() + start, audio.right.data() + start, frames);
    }
    return audio;
}

Stereo loudNoise() { return {noise(8192, 0.9f, 1), noise(8192, 0.9f, 2)}; }

// Quiet enough to stay under the −18 dB threshold of loudness 0 even at double width, so
// the compressor only applies its make-up gain.
Stereo quietStereo() {
    return {sineSamples(440.0, 0.06f, rate, 4800), sineSamples(660.0, 0.03f, rate, 4800)};
}

MasteringUtility quietSettings() {
    MasteringUtility settings;
    settings.loudness = 0.0f;
    return settings;
}

TEST(MasteringProcessor, LoudnessAndCharacterSetTheCompressor) {
    MasteringProcessor processor;
    processor.prepare(rate);
    MasteringUtility settings;
    settings.loudness = 0.35f;
    processor.setSettings(settings);
    EXPECT_NEAR(processor.compressor().thresholdDb, -13.8f, 1e-5f);
    EXPECT_EQ(processor.compressor().ratio, 3.5f);
    EXPECT_NEAR(processor.compressor().makeupDb, 1.4f, 1e-5f);
    EXPECT_EQ(processor.compressor().attackMs, 5.0f);
    EXPECT_EQ(processor.compressor().releaseMs, 80.0f);

    settings.character = 2;
    settings.loudness = 1.0f;
    processor.setSettings(settings);
    EXPECT_EQ(processor.compressor().thresholdDb, -6.0f);
    EXPECT_EQ(processor.compressor().ratio, 6.0f);
    EXPECT_EQ(processor.compressor().makeupDb, 6.0f);

    settings.character = 9; // unknown values sound like "Transparent"
    processor.setSettings(settings);
    EXPECT_EQ(processor.compressor().ratio, 3.5f);
    EXPECT_STREQ(masteringCharacterLabel(9), "Transparent");
    EXPECT_STREQ(masteringCharacterLabel(1), "Warm");
    EXPECT_STREQ(masteringCharacterLabel(2), "Punchy");
}

TEST(MasteringProcessor, LoudnessOutsideUnitRangeActsAsItsLimit) {
    for (int character : {0, 1, 2}) {
        MasteringUtility settings;
        settings.character = character;
        settings.loudness = 1.0f;
        MasteringUtility over = settings;
        over.loudness = 1.5f;
        EXPECT_EQ(master(over, loudNoise()), master(settings, loudNoise()));
        settings.loudness = 0.0f;
        MasteringUtility under = settings;
        under.loudness = -0.2f;
        EXPECT_EQ(master(under, loudNoise()), master(settings, loudNoise()));
    }
}

TEST(MasteringProcessor, LoudnessRaisesQuietMaterialByTheMakeupGain) {
    MasteringUtility settings;
    settings.loudness = 1.0f; // threshold −6 dB, make-up +4 dB
    const Stereo input = quietStereo();
    const Stereo out = master(settings, input);
    for (size_t i = 0; i < input.left.size(); ++i)
        ASSERT_FLOAT_EQ(out.left[i], input.left[i] * dbToGain(4.0f));
}

TEST(MasteringProcessor, CompressorHoldsBackLoudMaterial) {
    MasteringUtility settings;
    settings.character = 2;
    settings.loudness = 0.0f; // threshold −18 dB, 6:1, no make-up
    Stereo input{sineSamples(200.0, 0.9f, rate, 48000), sineSamples(200.0, 0.9f, rate, 48000)};
    const Stereo out = master(settings, input);
    const double gainDb =
        testing::amplitudeToDb(toneAmplitude(out.left, 24000, 48000, 200.0, rate) / 0.9);
    // A 0.9 peak is 17 dB over the threshold; 6:1 leaves about 2.8 dB of it.
    EXPECT_NEAR(gainDb, -14.2, 1.0);
}

TEST(MasteringProcessor, WidthZeroGivesTheMonoSumOnBothChannels) {
    MasteringUtility settings = quietSettings();
    settings.width = 0.0f;
    const Stereo input = quietStereo();
    const Stereo out = master(settings, input);
    for (size_t i = 0; i < input.left.size(); ++i) {
        ASSERT_EQ(out.left[i], out.right[i]);
        ASSERT_FLOAT_EQ(out.left[i], (input.left[i] + input.right[i]) * 0.5f);
    }
}

TEST(MasteringProcessor, WidthTwoDoublesTheSideAndWiderIsHeldAtTwo) {
    MasteringUtility settings = quietSettings();
    settings.width = 2.0f;
    const Stereo input = quietStereo();
    const Stereo out = master(settings, input);
    for (size_t i = 0; i < input.left.size(); ++i) {
        EXPECT_NEAR(out.left[i] - out.right[i], 2.0f * (input.left[i] - input.right[i]), 1e-6f);
        EXPECT_NEAR(out.left[i] + out.right[i], input.left[i] + input.right[i], 1e-6f);
    }
    MasteringUtility wider = settings;
    wider.width = 3.0f;
    EXPECT_EQ(master(wider, input), out);
}

TEST(MasteringProcessor, WidthOneKeepsTheImage) {
    const Stereo input = quietStereo();
    EXPECT_EQ(master(quietSettings(), input), input);
}

TEST(MasteringProcessor, ExciterBelowItsThresholdIsSkipped) {
    MasteringUtility off;
    MasteringUtility tiny;
    tiny.excite = true;
    tiny.exciteAmt = 0.0005f;
    EXPECT_EQ(master(tiny, loudNoise()), master(off, loudNoise()));
    MasteringUtility audible = tiny;
    audible.exciteAmt = 0.5f;
    EXPECT_NE(master(audible, loudNoise()), master(off, loudNoise()));
}

double levelChangeDb(const MasteringUtility &settings, double freqHz) {
    const Stereo input{sineSamples(freqHz, 0.05f, rate, 9600),
                       sineSamples(freqHz, 0.05f, rate, 9600)};
    const Stereo out = master(settings, input);
    return testing::amplitudeToDb(toneAmplitude(out.left, 4800, 9600, freqHz, rate) / 0.05);
}

TEST(MasteringProcessor, ExciterLiftsHighsMoreThanLows) {
    MasteringUtility settings = quietSettings();
    settings.excite = true;
    settings.exciteAmt = 1.0f;
    const double highs = levelChangeDb(settings, 8000.0);
    const double lows = levelChangeDb(settings, 50.0);
    EXPECT_GT(highs, 3.0);
    EXPECT_LT(lows, 0.5);
    settings.exciteAmt = 4.0f; // held at 1
    EXPECT_DOUBLE_EQ(levelChangeDb(settings, 8000.0), highs);
}

TEST(MasteringProcessor, WarmAddsOddHarmonicsThatTransparentDoesNot) {
    const double freq = 500.0;
    const Stereo input{sineSamples(freq, 0.12f, rate, 9600), sineSamples(freq, 0.12f, rate, 9600)};
    MasteringUtility transparent = quietSettings();
    MasteringUtility warm = transparent;
    warm.character = 1;
    const Stereo clean = master(transparent, input);
    const Stereo coloured = master(warm, input);
    const double cleanThird = toneAmplitude(clean.left, 0, 9600, 3 * freq, rate);
    const double warmThird = toneAmplitude(coloured.left, 0, 9600, 3 * freq, rate);
    EXPECT_LT(cleanThird, 1e-6);
    EXPECT_GT(warmThird, 1e-5);
}

TEST(MasteringProcessor, BypassOrDisabledPassesAudioAndFreezesTheEnvelope) {
    MasteringUtility bypassed;
    bypassed.loudness = 1.0f;
    bypassed.bypass = true;
    MasteringUtility disabled = bypassed;
    disabled.bypass = false;
    disabled.enabled = false;
    for (const MasteringUtility &settings : {bypassed, disabled}) {
        MasteringProcessor processor;
        processor.prepare(rate);
        processor.setSettings(settings);
        Stereo audio = loudNoise();
        const Stereo input = audio;
        processor.process(audio.left.data(), audio.right.data(), 8192);
        EXPECT_EQ(audio, input);
        EXPECT_EQ(processor.compressor().envelope(), 0.0f);
    }
}

} // namespace
} // namespace orvane::stock
