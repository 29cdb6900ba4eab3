#pragma once

#include "core/model/Project.h"

#include <array>

namespace orvane::stock {

/// 10^(dB / 20).
float dbToGain(float db);
/// 20 × log10(gain), with gains below 1e-8 read as 1e-8 (so silence is −160 dB).
float gainToDb(float gain);

/// Normalised biquad coefficients (a0 divided out); the default is the identity filter.
struct BiquadCoeffs {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
    bool operator==(const BiquadCoeffs &) const = default;
};

/// Transposed direct form II state.
struct BiquadState {
    float s1 = 0.0f;
    float s2 = 0.0f;
    bool operator==(const BiquadState &) const = default;
};

/// Designs one EQ band. The frequency is kept within 20 Hz .. 0.49 × sampleRate and q is at
/// least 0.1. Settings that would give non-finite coefficients (NaN or infinite frequency,
/// gain or q) give the identity filter instead, so one damaged band cannot silence a track.
BiquadCoeffs makeBiquad(const EqBandSettings &band, double sampleRate);

/// One sample through one biquad. Inline because the channel EQ and its reference checks
/// run it per sample per band.
inline float processBiquad(const BiquadCoeffs &coeffs, BiquadState &state, float input) {
    const float output = coeffs.b0 * input + state.s1;
    state.s1 = state.s2 + coeffs.b1 * input - coeffs.a1 * output;
    state.s2 = coeffs.b2 * input - coeffs.a2 * output;
    return output;
}

/// Gain in dB of the designed band at `freqHz` (not clamped); 0 when the band is disabled.
/// Evaluated in double from the float coefficients so that deep cuts draw smoothly.
float evaluateEqBandDb(const EqBandSettings &band, double freqHz, double sampleRate);

/// The 8-band channel EQ that the engine keeps per track and on the master bus. The engine
/// calls `setSettings` and then `process` on the audio thread every block; neither allocates.
class ParametricEq8 {
  public:
    void prepare(double sampleRate);
    /// Redesigns the coefficients but keeps the filter states, so that changes from one
    /// block to the next do not click.
    void setSettings(const ChannelEq8 &eq);
    /// In place. Passes the audio untouched when the EQ is disabled or bypassed.
    void process(float *left, float *right, int frames);
    /// True while every filter holds nothing: silence in then gives silence out.
    bool atRest() const;
    /// `outDb` plus the response of every enabled band, ignoring `enabled` and `bypass` of
    /// the EQ itself, for drawing the curve.
    float responseDbAt(double freqHz) const;

    const ChannelEq8 &settings() const { return settings_; }
    double sampleRate() const { return sampleRate_; }
    const std::array<BiquadCoeffs, 8> &coefficients() const { return coeffs_; }

  private:
    ChannelEq8 settings_;
    double sampleRate_ = 48000.0;
    std::array<BiquadCoeffs, 8> coeffs_{};
    std::array<BiquadState, 8> leftStates_{};
    std::array<BiquadState, 8> rightStates_{};
};

/// Three-band tone control: a one-pole split into low (the smoothed signal) and high (the
/// rest), plus a broadband mid. Each gain adds its difference from unity, so at 0 dB on all
/// three the signal passes bit for bit.
struct EQ {
    float lowDb = 0.0f;
    float midDb = 0.0f;
    float highDb = 0.0f;
    double sampleRate = 48000.0;
    float leftState = 0.0f;
    float rightState = 0.0f;

    void prepare(double rate);
    void process(float *left, float *right, int frames);
};

} // namespace orvane::stock
