#pragma once

#include "core/stock/SynthDsp.h"
#include "core/stock/SynthParameters.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvane::stock {

namespace synth {

/// One voice of the pool. A voice being taken over for another note fades out first and
/// starts the waiting note when it reaches silence.
struct Voice {
    int note = -1;
    float velocity = 0.0f;
    bool gate = false; // the key is held
    uint64_t order = 0;
    double pitch = 60.0; // semitones, moving towards `targetPitch` while gliding
    double targetPitch = 60.0;
    double glideStep = 0.0; // semitones per sample
    std::array<uint32_t, 2> phases{};
    Envelope amp;
    Envelope filter;
    SvfStage stage1;
    SvfStage stage2;
    float g = 0.0f; // filter coefficient at the end of the last control block
    uint32_t noise = 1;
    bool fading = false;
    float fade = 1.0f;
    int pendingNote = -1;
    float pendingVelocity = 0.0f;

    bool active() const { return amp.active(); }
};

} // namespace synth

/// A polyphonic subtractive synthesiser: two band-limited oscillators and noise through a
/// resonant filter with its own envelope, an amplitude envelope, one LFO, glide, pitch bend
/// and mod wheel. Every voice is allocated up front; `process`, the note calls and the
/// parameter setters neither allocate, lock nor call the system, so the audio thread may
/// call all of them.
class HalvoraSynth {
  public:
    static constexpr int maxVoices = 64;
    /// Modulation (envelopes driving the cutoff, LFO, glide, smoothing) is evaluated once
    /// per this many samples; audio-rate paths interpolate within.
    static constexpr int controlFrames = 16;

    HalvoraSynth();

    /// Resets the voices, the LFO, bend and mod wheel; the parameters stay. `maxBlock` is
    /// accepted for symmetry with the hosts; any block length works. The output depends on how
    /// the calls to `process` cut the stream (modulation restarts its control block on each
    /// call): a host that must render the same whatever its block sizes cuts on a fixed grid.
    void prepare(double sampleRate, int maxBlock);

    /// `velocity` in 0..1; zero releases the key instead. A held or releasing voice of the same
    /// pitch is retriggered from its current level; otherwise a free voice is taken, or the
    /// quietest releasing (else the oldest) voice fades out within a few milliseconds and then
    /// plays the note.
    void noteOn(int pitch, float velocity);
    void noteOff(int pitch);
    /// Releases every note (through its release, not a cut).
    void allNotesOff();
    void pitchBend(float minusOneToOne);
    void modWheel(float zeroToOne);
    /// Adds the voices into both buffers.
    void process(float *left, float *right, int frames);

    static std::span<const SynthParamInfo> parameterInfo() { return synthParameters(); }
    static int parameterCount() { return synthParamCount; }
    /// Clamped to the range (stepped values rounded); out-of-range indices are ignored.
    void setParameter(int index, float plainValue);
    void setParameter(SynthParam param, float plainValue) {
        setParameter(static_cast<int>(param), plainValue);
    }
    /// Every parameter at once (each clamped), for a host that holds the values elsewhere.
    void setParameters(const SynthValues &values);
    const SynthValues &parameters() const { return values_; }
    /// The plain value; 0 for an out-of-range index.
    float parameter(int index) const;
    float parameter(SynthParam param) const { return parameter(static_cast<int>(param)); }
    void setParameterNormalized(int index, float normalized);
    float parameterNormalized(int index) const;

    static std::span<const SynthPreset> factoryPresets() { return synthFactoryPresets(); }
    void applyPreset(const SynthPreset &preset);
    /// False (and no change) when no factory preset has `name`.
    bool applyPreset(std::string_view name);

    /// One "id=value" line per parameter.
    std::string stateText() const;
    /// Reads `stateText` output. Parameters it does not name take their defaults and ids it
    /// does not know are skipped, so older and newer documents load; a line without "=",
    /// without an id or with a value that is not a finite number rejects the whole text,
    /// leaves every parameter as it was and says which line in `error`.
    bool setStateText(std::string_view text, std::string *error);

    int activeVoiceCount() const;
    double sampleRate() const { return sampleRate_; }

  private:
    struct Smoothed {
        float current = 0.0f;
        float target = 0.0f;
        void snap() { current = target; }
        void step(float coef) { current = target + (current - target) * coef; }
    };

    // Everything the voices need from the parameters, worked out when a parameter changes.
    struct Settings {
        std::array<SynthWave, 2> waves{};
        std::array<double, 2> offsets{}; // semitones
        std::array<uint32_t, 2> pulseOffsets{};
        synth::EnvelopeRates ampRates;
        synth::EnvelopeRates filterRates;
        SynthFilterMode filterMode = SynthFilterMode::LowPass;
        bool fourPole = false;
        float keyTrack = 0.0f;
        float envAmount = 0.0f;
        float filterVelocity = 0.0f;
        float ampVelocity = 1.0f;
        SynthLfoWave lfoWave = SynthLfoWave::Sine;
        float lfoRate = 5.0f;
        float lfoPitch = 0.0f;
        float lfoCutoff = 0.0f;
        float lfoAmp = 0.0f;
        float lfoWheel = 1.0f;
        float glideTime = 0.0f;
        SynthVoiceMode voiceMode = SynthVoiceMode::Poly;
        int polyphony = 32;
        float bendRange = 2.0f;
    };

    // Values of one control block shared by all voices.
    struct Block {
        int frames = 0;
        double pitchOffset = 0.0; // bend and vibrato, semitones
        float cutoffOctaves = 0.0f;
        float k1 = 1.0f;
        float k2 = 1.0f;
        float levels[3] = {};
        float tremoloStart = 1.0f;
        float tremoloEnd = 1.0f;
    };

    void refresh();
    void updateBlock(int frames);
    void renderVoice(synth::Voice &voice, float *out);
    void endFade(synth::Voice &voice);
    void startVoice(synth::Voice &voice, int note, float velocity);
    void retrigger(synth::Voice &voice, int note, float velocity);
    void setGlideTarget(synth::Voice &voice, int note);
    synth::Voice &voiceToSteal();
    void monoNoteOn(int pitch, float velocity);
    void monoNoteOff(int pitch);
    void pushHeld(int pitch);
    void removeHeld(int pitch);

    double sampleRate_ = 48000.0;
    const synth::WaveTables *tables_ = nullptr;
    SynthValues values_{};
    Settings settings_;
    Block block_;
    std::array<synth::Voice, maxVoices> voices_{};
    std::array<float, controlFrames> mix_{};

    Smoothed cutoff_; // log2 of Hz
    Smoothed resonance_;
    std::array<Smoothed, 3> levels_{};
    Smoothed gain_;
    Smoothed lfoOut_;
    double lfoPhase_ = 0.0;
    float tremolo_ = 1.0f;
    float bend_ = 0.0f;
    float wheel_ = 0.0f;

    uint64_t noteCounter_ = 0;
    int lastNote_ = -1;
    std::array<int8_t, 16> held_{};
    int heldCount_ = 0;
};

} // namespace orvane::stock
