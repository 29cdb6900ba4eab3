#include "core/stock/ParametricEq8.h"

#include "core/stock/BiquadCascade.h"
#include "core/stock/SampleRate.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace orvane::stock {

namespace {

bool isFinite(const BiquadCoeffs &c) {
    return std::isfinite(c.b0) && std::isfinite(c.b1) && std::isfinite(c.b2) &&
           std::isfinite(c.a1) && std::isfinite(c.a2);
}

float designFrequency(float freq, double sampleRate) {
    const float lowest = 20.0f;
    const float highest = static_cast<float>(0.49 * sampleRate);
    if (freq < lowest) return lowest;
    if (freq > highest) return highest;
    return freq;
}

// Unnormalised coefficients, a0 last.
struct RawBiquad {
    float b0, b1, b2, a0, a1, a2;
};

RawBiquad designShelf(bool low, float amplitude, float c, float alpha) {
    const float beta = 2.0f * std::sqrt(amplitude) * alpha *
                       std::sqrt((amplitude + 1.0f / amplitude) / 2.0f + 0.5f);
    const float ap = amplitude + 1.0f;
    const float am = amplitude - 1.0f;
    if (low)
        return {amplitude * (ap - am * c + beta),
                2.0f * amplitude * (am - ap * c),
                amplitude * (ap - am * c - beta),
                ap + am * c + beta,
                -2.0f * (am + ap * c),
                ap + am * c - beta};
    return {amplitude * (ap + am * c + beta),
            -2.0f * amplitude * (am + ap * c),
            amplitude * (ap + am * c - beta),
            ap - am * c + beta,
            2.0f * (am - ap * c),
            ap - am * c - beta};
}

RawBiquad designBand(uint8_t type, float amplitude, float c, float alpha) {
    switch (static_cast<EqBandType>(type)) {
    case EqBandType::HighPass:
        return {(1.0f + c) / 2.0f, -(1.0f + c), (1.0f + c) / 2.0f,
                1.0f + alpha,      -2.0f * c,   1.0f - alpha};
    case EqBandType::LowPass:
        return {(1.0f - c) / 2.0f, 1.0f - c,  (1.0f - c) / 2.0f,
                1.0f + alpha,      -2.0f * c, 1.0f - alpha};
    case EqBandType::LowShelf: return designShelf(true, amplitude, c, alpha);
    case EqBandType::HighShelf: return designShelf(false, amplitude, c, alpha);
    case EqBandType::Peak: break;
    }
    // Peak, and any type value a damaged document may carry.
    return {1.0f + alpha * amplitude, -2.0f * c, 1.0f - alpha * amplitude,
            1.0f + alpha / amplitude, -2.0f * c, 1.0f - alpha / amplitude};
}

} // namespace

float dbToGain(float db) { return std::pow(10.0f, db / 20.0f); }

float gainToDb(float gain) { return 20.0f * std::log10(std::max(gain, 1e-8f)); }

BiquadCoeffs makeBiquad(const EqBandSettings &band, double sampleRate) {
    sampleRate = usableSampleRate(sampleRate);
    const float freq = designFrequency(band.freq, sampleRate);
    const float w = static_cast<float>(2.0 * std::numbers::pi * freq / sampleRate);
    const float c = std::cos(w);
    const float s = std::sin(w);
    const float amplitude = std::pow(10.0f, band.gainDb / 40.0f);
    const float q = std::max(band.q, 0.1f);
    const float alpha = s / (2.0f * q);

    const RawBiquad raw = designBand(band.type, amplitude, c, alpha);
    const BiquadCoeffs coeffs{raw.b0 / raw.a0, raw.b1 / raw.a0, raw.b2 / raw.a0, raw.a1 / raw.a0,
                              raw.a2 / raw.a0};
    return isFinite(coeffs) ? coeffs : BiquadCoeffs{};
}

float evaluateEqBandDb(const EqBandSettings &band, double freqHz, double sampleRate) {
    if (!band.enabled) return 0.0f;
    sampleRate = usableSampleRate(sampleRate);
    const BiquadCoeffs c = makeBiquad(band, sampleRate);
    const double w = 2.0 * std::numbers::pi * freqHz / sampleRate;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = std::polar(1.0, -2.0 * w);
    const std::complex<double> numerator = double(c.b0) + double(c.b1) * z1 + double(c.b2) * z2;
    const std::complex<double> denominator = 1.0 + double(c.a1) * z1 + double(c.a2) * z2;
    const double magnitude = std::abs(numerator) / std::max(std::abs(denominator), 1e-6);
    return static_cast<float>(20.0 * std::log10(std::max(magnitude, 1e-6)));
}

void ParametricEq8::prepare(double sampleRate) {
    sampleRate_ = usableSampleRate(sampleRate);
    leftStates_.fill({});
    rightStates_.fill({});
    setSettings(settings_);
}

void ParametricEq8::setSettings(const ChannelEq8 &eq) {
    settings_ = eq;
    const bool active = eq.enabled && !eq.bypass;
    for (size_t i = 0; i < coeffs_.size(); ++i)
        coeffs_[i] =
            active && eq.bands[i].enabled ? makeBiquad(eq.bands[i], sampleRate_) : BiquadCoeffs{};
}

void ParametricEq8::process(float *left, float *right, int frames) {
    if (!settings_.enabled || settings_.bypass) return;
    if (left == nullptr || right == nullptr || frames < 1) return;
    std::array<CascadeBand, maxCascadeBands> bands;
    int bandCount = 0;
    for (size_t i = 0; i < coeffs_.size(); ++i) {
        if (!settings_.bands[i].enabled) continue;
        bands[bandCount++] = CascadeBand{coeffs_[i], &leftStates_[i], &rightStates_[i]};
    }
    processStereoCascade(bands.data(), bandCount, left, right, frames, dbToGain(settings_.outDb));
}

bool ParametricEq8::atRest() const {
    for (size_t i = 0; i < coeffs_.size(); ++i)
        if (settings_.bands[i].enabled &&
            (!(leftStates_[i] == BiquadState{}) || !(rightStates_[i] == BiquadState{})))
            return false;
    return true;
}

float ParametricEq8::responseDbAt(double freqHz) const {
    float db = settings_.outDb;
    for (const EqBandSettings &band : settings_.bands)
        db += evaluateEqBandDb(band, freqHz, sampleRate_);
    return db;
}

void EQ::prepare(double rate) { sampleRate = rate; }

namespace {

// lp follows the input with a fixed 0.05 smoothing step (about 390 Hz at 48 kHz).
inline float toneSample(float x, float &lp, float lowGain, float midGain, float highGain) {
    lp = lp + 0.05f * (x - lp);
    return x + (lowGain - 1.0f) * lp + (midGain - 1.0f) * x + (highGain - 1.0f) * (x - lp);
}

} // namespace

void EQ::process(float *left, float *right, int frames) {
    if (left == nullptr || right == nullptr) return;
    const float lowGain = dbToGain(lowDb);
    const float midGain = dbToGain(midDb);
    const float highGain = dbToGain(highDb);
    for (int i = 0; i < frames; ++i) {
        left[i] = toneSample(left[i], leftState, lowGain, midGain, highGain);
        right[i] = toneSample(right[i], rightState, lowGain, midGain, highGain);
    }
}

} // namespace orvane::stock
