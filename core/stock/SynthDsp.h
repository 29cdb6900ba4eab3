#pragma once

// The building blocks of HalvoraSynth's voices. Everything here is inline because each voice
// runs it per sample.

#include "core/stock/SynthParameters.h"

#include <array>
#include <cstdint>
#include <vector>

namespace orvane::stock::synth {

/// One single-cycle table, read with a 32-bit phase (a whole cycle is 2^32).
struct WaveTable {
    const float *samples = nullptr; // size + 1 samples: the last repeats the first
    uint32_t shift = 32;            // phase >> shift is the sample index
    float fractionScale = 0.0f;     // 2^-shift

    bool valid() const { return samples != nullptr; }

    float read(uint32_t phase) const {
        const uint32_t index = phase >> shift;
        const float fraction =
            static_cast<float>(phase & ((uint32_t{1} << shift) - 1u)) * fractionScale;
        const float a = samples[index];
        return a + (samples[index + 1] - a) * fraction;
    }
};

/// Band-limited single cycles of a rising saw (-1..1) and a triangle, each at a ladder of
/// harmonic counts a quarter of an octave apart, plus a sine. A note reads the table with the
/// most harmonics that all stay below half the sample rate, so that nothing folds back:
/// aliasing is left only to the interpolation between table samples, which the table sizes
/// (at least 32 samples per highest harmonic) keep more than 80 dB down.
class WaveTables {
  public:
    static constexpr int maxHarmonics = 2047;

    /// Built on the first call, which allocates: call it before the audio thread runs.
    static const WaveTables &instance();

    /// The table of `wave` (Sine, Triangle or Saw; a pulse is two saws) for a tone of
    /// `cyclesPerSample` (frequency / sample rate); an invalid table at or above half the
    /// sample rate.
    WaveTable table(SynthWave wave, double cyclesPerSample) const;

  private:
    WaveTables();

    struct Level {
        int harmonics = 0;
        size_t offset = 0;
        int bits = 0;
    };

    WaveTable tableAt(const std::vector<float> &storage, const Level &level) const;

    std::vector<Level> levels_;
    std::array<int16_t, maxHarmonics + 1> levelForHarmonics_{};
    std::vector<float> saw_;
    std::vector<float> triangle_;
    std::vector<float> sine_;
};

/// A two-pole state-variable filter integrated with the trapezoidal rule, solved for the
/// current sample without a unit delay in its feedback, so that it keeps its tuning and stays
/// stable up to near half the sample rate and under fast cutoff modulation.
struct SvfStage {
    float s1 = 0.0f;
    float s2 = 0.0f;

    /// `g` = tan(pi × cutoff / rate), `k` = 1 / Q. Band-pass is scaled by k so that its
    /// centre passes at unity whatever the resonance.
    float process(float input, float g, float k, SynthFilterMode mode) {
        const float a1 = 1.0f / (1.0f + g * (g + k));
        const float a2 = g * a1;
        const float a3 = g * a2;
        const float v3 = input - s2;
        const float v1 = a1 * s1 + a2 * v3;
        const float v2 = s2 + a2 * s1 + a3 * v3;
        s1 = 2.0f * v1 - s1;
        s2 = 2.0f * v2 - s2;
        switch (mode) {
        case SynthFilterMode::HighPass: return input - k * v1 - v2;
        case SynthFilterMode::BandPass: return k * v1;
        case SynthFilterMode::LowPass: break;
        }
        return v2;
    }

    void reset() { s1 = s2 = 0.0f; }
};

/// Per-sample steps of one ADSR envelope at one sample rate.
struct EnvelopeRates {
    float attackStep = 1.0f;  // level added per sample while rising
    float decayCoef = 0.0f;   // distance to the sustain level kept per sample
    float releaseCoef = 0.0f; // level kept per sample after release
    float sustain = 1.0f;

    /// Attack is a straight rise over `attack` seconds from silence (a retriggered note
    /// rises from where it is at the same rate). Decay and release are exponential and take
    /// their time to fall by 60 dB: to 1/1000 of the distance to their target.
    static EnvelopeRates make(float attack, float decay, float sustain, float release,
                              double sampleRate);
};

/// Below this a releasing envelope is over (−80 dB, far under any click).
constexpr float envelopeFloor = 1.0e-4f;

struct Envelope {
    enum class Stage : uint8_t { Idle, Attack, Decay, Release };
    Stage stage = Stage::Idle;
    float level = 0.0f;

    /// Starts (or restarts) the attack from the current level, never from zero.
    void gateOn() { stage = Stage::Attack; }
    void gateOff() {
        if (stage != Stage::Idle) stage = Stage::Release;
    }
    bool active() const { return stage != Stage::Idle; }

    float next(const EnvelopeRates &rates) {
        switch (stage) {
        case Stage::Attack:
            level += rates.attackStep;
            if (level >= 1.0f) {
                level = 1.0f;
                stage = Stage::Decay;
            }
            break;
        case Stage::Decay:
            // Following the sustain level exponentially also smooths sustain changes.
            level = rates.sustain + (level - rates.sustain) * rates.decayCoef;
            if (rates.sustain < envelopeFloor && level < envelopeFloor) finish();
            break;
        case Stage::Release:
            level *= rates.releaseCoef;
            if (level < envelopeFloor) finish();
            break;
        case Stage::Idle: break;
        }
        return level;
    }

    void finish() {
        stage = Stage::Idle;
        level = 0.0f;
    }
};

} // namespace orvane::stock::synth
