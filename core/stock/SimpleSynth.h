#pragma once

#include <array>
#include <cstdint>

namespace orvane::stock {

struct SynthVoice {
    bool active = false;
    int32_t pitch = 60; // MIDI note number
    float velocity = 0.0f;
    float phase = 0.0f; // 0..1
    float env = 0.0f;
    bool releasing = false;
};

/// A 16-voice sine synthesiser for testing MIDI tracks without plug-ins. Linear 100-sample
/// attack, exponential release (×0.995 per sample).
class SimpleSynth {
  public:
    static constexpr int voiceCount = 16;

    void prepare(double sampleRate);
    /// Takes the first free voice, or voice 0 when all are sounding.
    void noteOn(int32_t pitch, float velocity);
    /// Every sounding voice with `pitch` starts its release.
    void noteOff(int32_t pitch);
    /// Adds the voices into both buffers.
    void process(float *left, float *right, int frames);

    const std::array<SynthVoice, voiceCount> &voices() const { return voices_; }
    double sampleRate() const { return sampleRate_; }

  private:
    std::array<SynthVoice, voiceCount> voices_{};
    double sampleRate_ = 48000.0;
};

} // namespace orvane::stock
