#include "core/stock/ParametricEq8.h"

#include "core/stock/tests/Signals.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace orvane::stock {
namespace {

using testing::noise;

constexpr double rate = 44100.0;

// The straightforward per-sample loop the channel EQ must reproduce bit for bit.
struct ReferenceEq {
    ChannelEq8 settings;
    std::array<BiquadState, 8> left{};
    std::array<BiquadState, 8> right{};

    void process(float *l, float *r, int frames) {
        if (!settings.enabled || settings.bypass) return;
        const float out = dbToGain(settings.outDb);
        std::array<BiquadCoeffs, 8> coeffs;
        for (size_t b = 0; b < 8; ++b)
            coeffs[b] = makeBiquad(settings.bands[b], rate);
        for (int i = 0; i < frames; ++i) {
            for (size_t b = 0; b < 8; ++b) {
                if (!settings.bands[b].enabled) continue;
                l[i] = processBiquad(coeffs[b], left[b], l[i]);
                r[i] = processBiquad(coeffs[b], right[b], r[i]);
            }
            l[i] *= out;
            r[i] *= out;
        }
    }
};

ChannelEq8 variedSettings(unsigned enabledMask, unsigned seed) {
    ChannelEq8 settings;
    const std::vector<float> values = noise(32, 1.0f, seed);
    for (size_t b = 0; b < 8; ++b) {
        EqBandSettings &band = settings.bands[b];
        band.type = static_cast<uint8_t>((b + seed) % 5);
        band.freq = 60.0f * std::pow(2.0f, 4.0f * (values[4 * b] + 1.0f));
        band.gainDb = 12.0f * values[4 * b + 1];
        band.q = 0.4f + 2.0f * (values[4 * b + 2] + 1.0f);
        band.enabled = (enabledMask >> b) & 1u;
    }
    settings.outDb = 3.0f * values[31];
    return settings;
}

bool sameBits(const std::vector<float> &a, const std::vector<float> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(ChannelEqPipeline, MatchesPerSampleLoopForEveryBandSubsetAndBlockSize) {
    const int blockSizes[] = {1, 2, 3, 5, 7, 8, 64, 333, 512};
    for (unsigned mask = 0; mask < 256; ++mask) {
        const ChannelEq8 settings = variedSettings(mask, mask * 7 + 1);
        ParametricEq8 eq;
        eq.prepare(rate);
        ReferenceEq reference{settings};
        std::vector<float> left = noise(1200, 0.7f, mask);
        std::vector<float> right = noise(1200, 0.7f, mask + 1000);
        std::vector<float> expectedLeft = left;
        std::vector<float> expectedRight = right;

        size_t start = 0;
        for (size_t block = 0; start < left.size(); ++block) {
            const int frames = static_cast<int>(std::min<size_t>(
                blockSizes[(block + mask) % std::size(blockSizes)], left.size() - start));
            eq.setSettings(settings);
            eq.process(left.data() + start, right.data() + start, frames);
            reference.process(expectedLeft.data() + start, expectedRight.data() + start, frames);
            start += static_cast<size_t>(frames);
        }
        ASSERT_TRUE(sameBits(left, expectedLeft)) << "band mask " << mask;
        ASSERT_TRUE(sameBits(right, expectedRight)) << "band mask " << mask;
    }
}

TEST(ChannelEqPipeline, KeepsStatesOfBandsSwitchedOffBetweenBlocks) {
    ChannelEq8 settings = variedSettings(0xFF, 42);
    ParametricEq8 eq;
    eq.prepare(rate);
    ReferenceEq reference{settings};
    std::vector<float> left = noise(4096, 0.5f, 9);
    std::vector<float> right = noise(4096, 0.5f, 10);
    std::vector<float> expectedLeft = left;
    std::vector<float> expectedRight = right;
    for (int start = 0, block = 0; start < 4096; start += 256, ++block) {
        // Alternate bands between blocks, so disabled bands keep a ringing state.
        settings.bands[block % 8].enabled = !settings.bands[block % 8].enabled;
        reference.settings = settings;
        eq.setSettings(settings);
        eq.process(left.data() + start, right.data() + start, 256);
        reference.process(expectedLeft.data() + start, expectedRight.data() + start, 256);
    }
    EXPECT_TRUE(sameBits(left, expectedLeft));
    EXPECT_TRUE(sameBits(right, expectedRight));
}

} // namespace
} // namespace orvane::stock
