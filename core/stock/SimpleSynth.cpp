#include "core/stock/SimpleSynth.h"

#include "core/stock/SampleRate.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane::stock {

namespace {

constexpr float attackStep = 0.01f;
constexpr float releaseFactor = 0.995f;
constexpr float silentLevel = 0.001f;
constexpr float voiceLevel = 0.2f;
constexpr float twoPi = 2.0f * std::numbers::pi_v<float>;

// A hundred float steps of 0.01 add up to 0.9999993, one rounding short of 1; snapping the
// last step keeps the attack at exactly 100 samples.
float attackLevel(float env) {
    const float next = env + attackStep;
    return next >= 1.0f - attackStep * 0.01f ? 1.0f : next;
}

// Returns false when the voice fell silent on this sample.
bool advanceEnvelope(SynthVoice &voice) {
    if (!voice.releasing) {
        voice.env = attackLevel(voice.env);
        return true;
    }
    voice.env *= releaseFactor;
    if (voice.env < silentLevel) {
        voice.active = false;
        return false;
    }
    return true;
}

float phaseIncrement(int32_t pitch, double sampleRate) {
    const float freq = 440.0f * std::pow(2.0f, static_cast<float>(pitch - 69) / 12.0f);
    return static_cast<float>(freq / sampleRate);
}

float advancePhase(float phase, float increment) {
    phase += increment;
    // Subtracting the whole part (rather than 1) keeps absurd pitches inside 0..1 too.
    if (phase >= 1.0f) phase -= std::floor(phase);
    return phase;
}

} // namespace

void SimpleSynth::prepare(double sampleRate) { sampleRate_ = usableSampleRate(sampleRate); }

void SimpleSynth::noteOn(int32_t pitch, float velocity) {
    auto free = std::find_if(voices_.begin(), voices_.end(),
                             [](const SynthVoice &voice) { return !voice.active; });
    SynthVoice &voice = free != voices_.end() ? *free : voices_[0];
    voice = SynthVoice{true, pitch, velocity, 0.0f, 0.0f, false};
}

void SimpleSynth::noteOff(int32_t pitch) {
    for (SynthVoice &voice : voices_)
        if (voice.active && voice.pitch == pitch) voice.releasing = true;
}

void SimpleSynth::process(float *left, float *right, int frames) {
    if (left == nullptr || right == nullptr) return;
    for (int i = 0; i < frames; ++i) {
        float sum = 0.0f;
        for (SynthVoice &voice : voices_) {
            if (!voice.active || !advanceEnvelope(voice)) continue;
            voice.phase = advancePhase(voice.phase, phaseIncrement(voice.pitch, sampleRate_));
            sum += voiceLevel * voice.env * voice.velocity * std::sin(twoPi * voice.phase);
        }
        left[i] += sum;
        right[i] += sum;
    }
}

} // namespace orvane::stock
