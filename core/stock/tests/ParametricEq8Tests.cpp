#include "core/stock/ParametricEq8.h"

#include "core/stock/tests/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace orvane::stock {
namespace {

using testing::amplitudeToDb;
using testing::noise;
using testing::sineSamples;
using testing::toneAmplitude;

constexpr double rate = 48000.0;

ChannelEq8 eqWithOnlyBand(EqBandSettings band) {
    ChannelEq8 eq;
    for (EqBandSettings &other : eq.bands)
        other.enabled = false;
    eq.bands[3] = band;
    return eq;
}

// Runs a steady sine through the EQ in engine-sized blocks and returns the settled gain.
double measuredGainDb(const ChannelEq8 &settings, double freqHz) {
    ParametricEq8 eq;
    eq.prepare(rate);
    const size_t settle = 24000;
    const size_t window = 48000; // one second: whole periods for integer frequencies
    const float amplitude = 0.5f;
    std::vector<float> left = sineSamples(freqHz, amplitude, rate, settle + window);
    std::vector<float> right = left;
    for (size_t start = 0; start < left.size(); start += 512) {
        const int frames = static_cast<int>(std::min<size_t>(512, left.size() - start));
        eq.setSettings(settings);
        eq.process(left.data() + start, right.data() + start, frames);
    }
    EXPECT_EQ(0, std::memcmp(left.data(), right.data(), left.size() * sizeof(float)));
    return amplitudeToDb(toneAmplitude(left, settle, settle + window, freqHz, rate) / amplitude);
}

TEST(ParametricEq8, SteadySineThroughEachBandTypeMatchesPredictedResponse) {
    const EqBandSettings bands[] = {
        {0, 200.0f, 0.0f, 0.707f, true}, {1, 300.0f, 6.0f, 0.8f, true},
        {2, 1000.0f, -9.0f, 1.5f, true}, {2, 2500.0f, 12.0f, 4.0f, true},
        {3, 4000.0f, -6.0f, 0.7f, true}, {4, 5000.0f, 0.0f, 1.2f, true},
    };
    const double frequencies[] = {60.0, 250.0, 1000.0, 2500.0, 6000.0, 14000.0};
    for (const EqBandSettings &band : bands) {
        for (double freq : frequencies) {
            SCOPED_TRACE(::testing::Message() << "type " << int(band.type) << " at " << band.freq
                                              << " Hz, probe " << freq << " Hz");
            const float predicted = evaluateEqBandDb(band, freq, rate);
            EXPECT_NEAR(measuredGainDb(eqWithOnlyBand(band), freq), predicted, 0.1);
        }
    }
}

TEST(ParametricEq8, SteadySineThroughAllEightBandsMatchesResponseCurve) {
    ChannelEq8 settings;
    settings.outDb = -2.5f;
    const float gains[] = {0.0f, 4.0f, -3.0f, 6.0f, -8.0f, 2.0f, 5.0f, 0.0f};
    for (size_t i = 0; i < settings.bands.size(); ++i)
        settings.bands[i].gainDb = gains[i];
    ParametricEq8 eq;
    eq.prepare(rate);
    eq.setSettings(settings);
    for (double freq : {45.0, 180.0, 900.0, 3300.0, 9000.0}) {
        SCOPED_TRACE(freq);
        EXPECT_NEAR(measuredGainDb(settings, freq), eq.responseDbAt(freq), 0.1);
    }
}

TEST(ParametricEq8, DisabledOrBypassedEqLeavesSamplesBitIdentical) {
    ChannelEq8 loud;
    for (EqBandSettings &band : loud.bands)
        band.gainDb = 9.0f;
    loud.outDb = 6.0f;
    ChannelEq8 disabled = loud;
    disabled.enabled = false;
    ChannelEq8 bypassed = loud;
    bypassed.bypass = true;

    for (const ChannelEq8 &settings : {disabled, bypassed}) {
        ParametricEq8 eq;
        eq.prepare(rate);
        eq.setSettings(settings);
        for (const BiquadCoeffs &coeffs : eq.coefficients())
            EXPECT_EQ(coeffs, BiquadCoeffs{});
        const std::vector<float> input = noise(1024, 0.8f, 7);
        std::vector<float> left = input;
        std::vector<float> right = input;
        eq.process(left.data(), right.data(), static_cast<int>(left.size()));
        EXPECT_EQ(0, std::memcmp(left.data(), input.data(), input.size() * sizeof(float)));
        EXPECT_EQ(0, std::memcmp(right.data(), input.data(), input.size() * sizeof(float)));
    }
}

TEST(ParametricEq8, DesignClampsFrequencyAndQ) {
    EqBandSettings band{2, 5.0f, 6.0f, 1.0f, true};
    EqBandSettings at20 = band;
    at20.freq = 20.0f;
    EqBandSettings at21 = band;
    at21.freq = 21.0f;
    EXPECT_EQ(makeBiquad(band, rate), makeBiquad(at20, rate));
    EXPECT_NE(makeBiquad(at21, rate), makeBiquad(at20, rate));

    EqBandSettings high = band;
    high.freq = 30000.0f;
    EqBandSettings atLimit = band;
    atLimit.freq = 23520.0f;
    EqBandSettings belowLimit = band;
    belowLimit.freq = 23000.0f;
    EXPECT_EQ(makeBiquad(high, rate), makeBiquad(atLimit, rate));
    EXPECT_NE(makeBiquad(belowLimit, rate), makeBiquad(atLimit, rate));

    EqBandSettings zeroQ = at21;
    zeroQ.q = 0.0f;
    EqBandSettings floorQ = at21;
    floorQ.q = 0.1f;
    EqBandSettings negativeQ = at21;
    negativeQ.q = -3.0f;
    EqBandSettings aboveFloor = at21;
    aboveFloor.q = 0.2f;
    EXPECT_EQ(makeBiquad(zeroQ, rate), makeBiquad(floorQ, rate));
    EXPECT_EQ(makeBiquad(negativeQ, rate), makeBiquad(floorQ, rate));
    EXPECT_NE(makeBiquad(aboveFloor, rate), makeBiquad(floorQ, rate));
}

TEST(ParametricEq8, FlatAndDisabledBandsHaveNoResponse) {
    const EqBandSettings flatPeak{2, 1000.0f, 0.0f, 2.0f, true};
    const EqBandSettings disabledBoost{1, 200.0f, 12.0f, 1.0f, false};
    for (double freq = 10.0; freq < 24000.0; freq *= 1.7) {
        EXPECT_NEAR(evaluateEqBandDb(flatPeak, freq, rate), 0.0, 1e-4) << freq;
        EXPECT_EQ(evaluateEqBandDb(disabledBoost, freq, rate), 0.0f) << freq;
    }
}

TEST(ParametricEq8, ResponseCurveIgnoresEqSwitchesAndAddsOutputLevel) {
    ChannelEq8 settings;
    settings.bands[2].gainDb = 7.0f;
    settings.outDb = 3.0f;
    ParametricEq8 active;
    active.setSettings(settings);
    settings.bypass = true;
    settings.enabled = false;
    ParametricEq8 switchedOff;
    switchedOff.setSettings(settings);

    const double freq = settings.bands[2].freq;
    EXPECT_FLOAT_EQ(switchedOff.responseDbAt(freq), active.responseDbAt(freq));
    EXPECT_NEAR(active.responseDbAt(freq), 10.0, 0.05);
}

TEST(ParametricEq8, DecibelConversions) {
    EXPECT_FLOAT_EQ(gainToDb(0.0f), -160.0f);
    EXPECT_FLOAT_EQ(gainToDb(-1.0f), -160.0f);
    EXPECT_FLOAT_EQ(dbToGain(-6.0f), 0.5011872f);
    for (float db : {-40.0f, -6.0f, 0.0f, 3.0f, 18.0f})
        EXPECT_NEAR(gainToDb(dbToGain(db)), db, 1e-4);
}

TEST(ParametricEq8, ChangingSettingsEveryBlockKeepsFilterState) {
    ChannelEq8 settings;
    settings.bands[1].gainDb = 8.0f;
    settings.bands[6].gainDb = -5.0f;
    const std::vector<float> input = noise(2048, 0.5f, 3);

    ParametricEq8 whole;
    whole.prepare(rate);
    whole.setSettings(settings);
    std::vector<float> wholeLeft = input;
    std::vector<float> wholeRight = input;
    whole.process(wholeLeft.data(), wholeRight.data(), 2048);

    ParametricEq8 blocks;
    blocks.prepare(rate);
    std::vector<float> left = input;
    std::vector<float> right = input;
    for (int start = 0; start < 2048; start += 100) {
        blocks.setSettings(settings);
        blocks.process(left.data() + start, right.data() + start, std::min(100, 2048 - start));
    }
    EXPECT_EQ(0, std::memcmp(left.data(), wholeLeft.data(), input.size() * sizeof(float)));
    EXPECT_EQ(0, std::memcmp(right.data(), wholeRight.data(), input.size() * sizeof(float)));
}

TEST(ParametricEq8, PrepareRedesignsForTheNewRate) {
    ChannelEq8 settings;
    settings.bands[4].gainDb = 6.0f;
    ParametricEq8 eq;
    eq.setSettings(settings);
    eq.prepare(96000.0);
    EXPECT_EQ(eq.coefficients()[4], makeBiquad(settings.bands[4], 96000.0));
    EXPECT_NE(eq.coefficients()[4], makeBiquad(settings.bands[4], rate));
}

TEST(ParametricEq8, DamagedBandSettingsLeaveTheAudioFinite) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    ChannelEq8 settings;
    settings.bands[0].freq = nan;
    settings.bands[1].gainDb = inf;
    settings.bands[2].q = nan;
    settings.bands[3].type = 200;
    EXPECT_EQ(makeBiquad(settings.bands[0], rate), BiquadCoeffs{});
    EXPECT_EQ(makeBiquad(settings.bands[1], rate), BiquadCoeffs{});

    ParametricEq8 eq;
    eq.prepare(0.0); // an unprepared device rate
    eq.setSettings(settings);
    std::vector<float> left = noise(512, 0.5f, 11);
    std::vector<float> right = left;
    eq.process(left.data(), right.data(), 512);
    for (float sample : left)
        ASSERT_TRUE(std::isfinite(sample));
    EXPECT_TRUE(std::isfinite(eq.responseDbAt(1000.0)));
}

TEST(ToneControl, FlatSettingsPassTheSignalBitForBit) {
    EQ tone;
    tone.prepare(rate);
    const std::vector<float> input = noise(4096, 0.9f, 5);
    std::vector<float> left = input;
    std::vector<float> right = input;
    tone.process(left.data(), right.data(), 4096);
    EXPECT_EQ(0, std::memcmp(left.data(), input.data(), input.size() * sizeof(float)));
    EXPECT_EQ(0, std::memcmp(right.data(), input.data(), input.size() * sizeof(float)));
}

double toneGainDb(EQ tone, double freqHz) {
    std::vector<float> left = sineSamples(freqHz, 0.25f, rate, 96000);
    std::vector<float> right = left;
    tone.process(left.data(), right.data(), static_cast<int>(left.size()));
    return amplitudeToDb(toneAmplitude(left, 48000, 96000, freqHz, rate) / 0.25);
}

TEST(ToneControl, LowAndHighGainsActOnTheirOwnEndOfTheSpectrum) {
    EQ lowBoost;
    lowBoost.lowDb = 6.0f;
    EXPECT_GT(toneGainDb(lowBoost, 30.0), 5.0);
    EXPECT_LT(toneGainDb(lowBoost, 12000.0), 0.5);

    EQ highCut;
    highCut.highDb = -12.0f;
    EXPECT_LT(toneGainDb(highCut, 12000.0), -10.0);
    EXPECT_GT(toneGainDb(highCut, 30.0), -1.0);

    EQ midBoost;
    midBoost.midDb = 6.0f;
    EXPECT_GT(toneGainDb(midBoost, 1000.0), 2.0);
}

} // namespace
} // namespace orvane::stock
