#include "core/stock/HalvoraSynth.h"

#include "core/stock/SampleRate.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane::stock {

using synth::Voice;

namespace {

constexpr float voiceGain = 0.25f;
constexpr float stealFadeSeconds = 0.003f;
constexpr float smoothingSeconds = 0.01f;
constexpr float lfoSmoothingSeconds = 0.0015f;
constexpr float highestCutoffRatio = 0.45f;
constexpr float lowestCutoffHz = 10.0f;
// Damping of a Butterworth response: one two-pole stage, or the two stages of a four-pole.
constexpr float butterworth2 = 1.41421356f;
constexpr float butterworth4a = 1.84775907f;
constexpr float butterworth4b = 0.76536686f;
// Full resonance leaves this share of the damping: a ringing peak that never runs away.
constexpr float leastDamping = 0.015f;
constexpr float denormalGuard = 1.0e-20f;

double cyclesPerSample(double semitones, double sampleRate) {
    return 440.0 * std::exp2((semitones - 69.0) / 12.0) / sampleRate;
}

uint32_t phaseIncrement(double cycles) {
    return static_cast<uint32_t>(std::min(cycles, 0.5) * 4294967296.0);
}

float noiseSample(uint32_t &state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<float>(static_cast<int32_t>(state)) * (1.0f / 2147483648.0f);
}

float lfoShape(SynthLfoWave wave, double phase) {
    const auto p = static_cast<float>(phase);
    switch (wave) {
    case SynthLfoWave::Triangle: return p < 0.5f ? 4.0f * p - 1.0f : 3.0f - 4.0f * p;
    case SynthLfoWave::Saw: return 2.0f * p - 1.0f;
    case SynthLfoWave::Square: return p < 0.5f ? 1.0f : -1.0f;
    case SynthLfoWave::Sine: break;
    }
    return std::sin(2.0f * std::numbers::pi_v<float> * p);
}

} // namespace

HalvoraSynth::HalvoraSynth() {
    for (size_t i = 0; i < values_.size(); ++i)
        values_[i] = synthParameters()[i].defaultValue;
    prepare(48000.0, 512);
}

void HalvoraSynth::prepare(double sampleRate, int /*maxBlock*/) {
    sampleRate_ = usableSampleRate(sampleRate);
    tables_ = &synth::WaveTables::instance();
    for (size_t i = 0; i < voices_.size(); ++i) {
        voices_[i] = Voice{};
        voices_[i].noise = 0x9e3779b9u * static_cast<uint32_t>(i + 1);
    }
    heldCount_ = 0;
    lastNote_ = -1;
    // Everything that runs on between notes starts over too, so that a prepared synth plays
    // a given sequence of notes exactly as a new one does.
    noteCounter_ = 0;
    lfoPhase_ = 0.0;
    lfoOut_ = {};
    tremolo_ = 1.0f;
    bend_ = 0.0f;
    wheel_ = 0.0f;
    refresh();
    cutoff_.snap();
    resonance_.snap();
    for (Smoothed &level : levels_)
        level.snap();
    gain_.snap();
}

void HalvoraSynth::refresh() {
    auto value = [this](SynthParam param) { return values_[static_cast<size_t>(param)]; };
    using P = SynthParam;
    Settings &s = settings_;
    const P waves[] = {P::Osc1Wave, P::Osc2Wave};
    for (size_t osc = 0; osc < 2; ++osc) {
        const auto base = static_cast<int>(waves[osc]);
        auto at = [&](int offset) { return values_[static_cast<size_t>(base + offset)]; };
        s.waves[osc] = static_cast<SynthWave>(static_cast<int>(at(0)));
        s.offsets[osc] = 12.0 * at(1) + at(2) + at(3) / 100.0;
        s.pulseOffsets[osc] = static_cast<uint32_t>(at(4) / 100.0 * 4294967296.0);
    }
    s.ampRates =
        synth::EnvelopeRates::make(value(P::AmpAttack), value(P::AmpDecay), value(P::AmpSustain),
                                   value(P::AmpRelease), sampleRate_);
    s.filterRates =
        synth::EnvelopeRates::make(value(P::FilterAttack), value(P::FilterDecay),
                                   value(P::FilterSustain), value(P::FilterRelease), sampleRate_);
    s.filterMode = static_cast<SynthFilterMode>(static_cast<int>(value(P::FilterMode)));
    s.fourPole = value(P::FilterSlope) > 0.5f;
    s.keyTrack = value(P::FilterKeyTrack);
    s.envAmount = value(P::FilterEnvAmount);
    s.filterVelocity = value(P::FilterVelocity);
    s.ampVelocity = value(P::AmpVelocity);
    s.lfoWave = static_cast<SynthLfoWave>(static_cast<int>(value(P::LfoWave)));
    s.lfoRate = value(P::LfoRate);
    s.lfoPitch = value(P::LfoPitch);
    s.lfoCutoff = value(P::LfoCutoff);
    s.lfoAmp = value(P::LfoAmp);
    s.lfoWheel = value(P::LfoModWheel);
    s.glideTime = value(P::GlideTime);
    s.voiceMode = static_cast<SynthVoiceMode>(static_cast<int>(value(P::VoiceMode)));
    s.polyphony = static_cast<int>(value(P::Polyphony));
    s.bendRange = value(P::BendRange);

    cutoff_.target = std::log2(value(P::FilterCutoff));
    resonance_.target = value(P::FilterResonance);
    levels_[0].target = value(P::Osc1Level);
    levels_[1].target = value(P::Osc2Level);
    levels_[2].target = value(P::NoiseLevel);
    gain_.target = std::pow(10.0f, value(P::MasterGain) / 20.0f);
}

void HalvoraSynth::setParameter(int index, float plainValue) {
    if (index < 0 || index >= synthParamCount) return;
    values_[static_cast<size_t>(index)] =
        clampSynthValue(synthParameters()[static_cast<size_t>(index)], plainValue);
    refresh();
}

float HalvoraSynth::parameter(int index) const {
    if (index < 0 || index >= synthParamCount) return 0.0f;
    return values_[static_cast<size_t>(index)];
}

void HalvoraSynth::setParameterNormalized(int index, float normalized) {
    if (index < 0 || index >= synthParamCount) return;
    setParameter(
        index, synthValueFromNormalized(synthParameters()[static_cast<size_t>(index)], normalized));
}

float HalvoraSynth::parameterNormalized(int index) const {
    if (index < 0 || index >= synthParamCount) return 0.0f;
    return synthValueToNormalized(synthParameters()[static_cast<size_t>(index)], parameter(index));
}

void HalvoraSynth::applyPreset(const SynthPreset &preset) {
    for (size_t i = 0; i < values_.size(); ++i)
        values_[i] = synthParameters()[i].defaultValue;
    for (const SynthPresetValue &entry : preset.values)
        values_[static_cast<size_t>(entry.param)] =
            clampSynthValue(synthParameter(entry.param), entry.value);
    refresh();
}

bool HalvoraSynth::applyPreset(std::string_view name) {
    for (const SynthPreset &preset : factoryPresets()) {
        if (preset.name != name) continue;
        applyPreset(preset);
        return true;
    }
    return false;
}

std::string HalvoraSynth::stateText() const { return synthStateText(values_); }

bool HalvoraSynth::setStateText(std::string_view text, std::string *error) {
    SynthValues values{};
    if (!readSynthStateText(text, values, error)) return false;
    values_ = values;
    refresh();
    return true;
}

void HalvoraSynth::setParameters(const SynthValues &values) {
    for (size_t i = 0; i < values_.size(); ++i)
        values_[i] = clampSynthValue(synthParameters()[i], values[i]);
    refresh();
}

int HalvoraSynth::activeVoiceCount() const {
    return static_cast<int>(
        std::count_if(voices_.begin(), voices_.end(), [](const Voice &v) { return v.active(); }));
}

// ---- Notes -------------------------------------------------------------------------------

void HalvoraSynth::setGlideTarget(Voice &voice, int note) {
    voice.targetPitch = note;
    if (settings_.glideTime <= 0.0f || lastNote_ < 0) {
        voice.pitch = note;
        voice.glideStep = 0.0;
        return;
    }
    voice.glideStep =
        std::abs(voice.targetPitch - voice.pitch) / (settings_.glideTime * sampleRate_);
}

// A voice that was silent starts from the beginning of its cycle, gliding from the last key.
void HalvoraSynth::startVoice(Voice &voice, int note, float velocity) {
    const uint32_t noise = voice.noise;
    voice = Voice{};
    voice.noise = noise;
    voice.pitch = lastNote_ >= 0 ? lastNote_ : note;
    retrigger(voice, note, velocity);
}

void HalvoraSynth::retrigger(Voice &voice, int note, float velocity) {
    setGlideTarget(voice, note);
    voice.note = note;
    voice.velocity = std::clamp(velocity, 0.0f, 1.0f);
    voice.gate = true;
    voice.order = ++noteCounter_;
    voice.amp.gateOn();
    voice.filter.gateOn();
    lastNote_ = note;
}

Voice &HalvoraSynth::voiceToSteal() {
    const int count = settings_.polyphony;
    Voice *best = nullptr;
    // The quietest releasing voice is missed least; failing that, the oldest held one.
    for (int i = 0; i < count; ++i) {
        Voice &voice = voices_[static_cast<size_t>(i)];
        if (voice.gate || voice.fading) continue;
        if (best == nullptr || voice.amp.level < best->amp.level) best = &voice;
    }
    if (best != nullptr) return *best;
    for (int i = 0; i < count; ++i) {
        Voice &voice = voices_[static_cast<size_t>(i)];
        if (best == nullptr || voice.order < best->order) best = &voice;
    }
    return *best;
}

void HalvoraSynth::noteOn(int pitch, float velocity) {
    if (pitch < 0 || pitch > 127) return;
    // As in MIDI, a key struck at velocity zero is a key released.
    if (!(velocity > 0.0f)) return noteOff(pitch);
    if (settings_.voiceMode != SynthVoiceMode::Poly) return monoNoteOn(pitch, velocity);
    const int count = settings_.polyphony;
    for (int i = 0; i < count; ++i) {
        Voice &voice = voices_[static_cast<size_t>(i)];
        if (voice.active() && !voice.fading && voice.note == pitch)
            return retrigger(voice, pitch, velocity);
        if (voice.fading && voice.pendingNote == pitch) {
            voice.pendingVelocity = velocity;
            return;
        }
    }
    for (int i = 0; i < count; ++i) {
        Voice &voice = voices_[static_cast<size_t>(i)];
        if (!voice.active()) return startVoice(voice, pitch, velocity);
    }
    Voice &victim = voiceToSteal();
    victim.fading = true;
    victim.gate = false;
    victim.pendingNote = pitch;
    victim.pendingVelocity = velocity;
    victim.order = ++noteCounter_;
    lastNote_ = pitch;
}

void HalvoraSynth::noteOff(int pitch) {
    // Voices that a change of mode left sounding still end with their keys.
    const bool mono = settings_.voiceMode != SynthVoiceMode::Poly;
    if (mono) monoNoteOff(pitch);
    for (size_t i = mono ? 1 : 0; i < voices_.size(); ++i) {
        Voice &voice = voices_[i];
        if (voice.fading && voice.pendingNote == pitch) voice.pendingNote = -1;
        if (voice.gate && voice.note == pitch) {
            voice.gate = false;
            voice.amp.gateOff();
            voice.filter.gateOff();
        }
    }
}

void HalvoraSynth::allNotesOff() {
    heldCount_ = 0;
    for (Voice &voice : voices_) {
        voice.pendingNote = -1;
        voice.gate = false;
        voice.amp.gateOff();
        voice.filter.gateOff();
    }
}

void HalvoraSynth::pushHeld(int pitch) {
    removeHeld(pitch);
    if (heldCount_ == static_cast<int>(held_.size())) removeHeld(held_[0]);
    held_[static_cast<size_t>(heldCount_++)] = static_cast<int8_t>(pitch);
}

void HalvoraSynth::removeHeld(int pitch) {
    auto end = held_.begin() + heldCount_;
    heldCount_ = static_cast<int>(std::remove(held_.begin(), end, pitch) - held_.begin());
}

// One voice plays the newest held key. Mono restarts the envelopes (from their current
// level) for every new key; legato only while no other key is held.
void HalvoraSynth::monoNoteOn(int pitch, float velocity) {
    const bool othersHeld = heldCount_ > 0;
    pushHeld(pitch);
    Voice &voice = voices_[0];
    if (!voice.active()) return startVoice(voice, pitch, velocity);
    if (voice.fading) {
        // Still making way for a note from before the change to one voice: this key
        // replaces that note once the fade is over.
        voice.pendingNote = pitch;
        voice.pendingVelocity = velocity;
        return;
    }
    if (settings_.voiceMode == SynthVoiceMode::Legato && othersHeld && voice.gate) {
        setGlideTarget(voice, pitch);
        voice.note = pitch;
        lastNote_ = pitch;
        return;
    }
    retrigger(voice, pitch, velocity);
}

void HalvoraSynth::monoNoteOff(int pitch) {
    const bool wasNewest = heldCount_ > 0 && held_[static_cast<size_t>(heldCount_ - 1)] == pitch;
    removeHeld(pitch);
    Voice &voice = voices_[0];
    if (!wasNewest || !voice.gate) return;
    if (heldCount_ > 0) {
        // Back to the key still held, without a new attack.
        const int previous = held_[static_cast<size_t>(heldCount_ - 1)];
        setGlideTarget(voice, previous);
        voice.note = previous;
        lastNote_ = previous;
        return;
    }
    voice.gate = false;
    voice.amp.gateOff();
    voice.filter.gateOff();
}

void HalvoraSynth::pitchBend(float minusOneToOne) {
    if (std::isfinite(minusOneToOne)) bend_ = std::clamp(minusOneToOne, -1.0f, 1.0f);
}

void HalvoraSynth::modWheel(float zeroToOne) {
    if (std::isfinite(zeroToOne)) wheel_ = std::clamp(zeroToOne, 0.0f, 1.0f);
}

// ---- Audio -------------------------------------------------------------------------------

void HalvoraSynth::updateBlock(int frames) {
    const Settings &s = settings_;
    const auto seconds = static_cast<float>(frames / sampleRate_);
    const float smoothing = std::exp(-seconds / smoothingSeconds);
    cutoff_.step(smoothing);
    resonance_.step(smoothing);
    for (Smoothed &level : levels_)
        level.step(smoothing);

    lfoPhase_ += s.lfoRate * frames / sampleRate_;
    lfoPhase_ -= std::floor(lfoPhase_);
    lfoOut_.target = lfoShape(s.lfoWave, lfoPhase_);
    lfoOut_.step(std::exp(-seconds / lfoSmoothingSeconds));
    const float depth = 1.0f - s.lfoWheel + s.lfoWheel * wheel_;
    const float lfo = lfoOut_.current * depth;

    Block &b = block_;
    b.frames = frames;
    b.pitchOffset = bend_ * s.bendRange + lfo * s.lfoPitch;
    b.cutoffOctaves = cutoff_.current + lfo * s.lfoCutoff;
    const float damping = 1.0f - (1.0f - leastDamping) * resonance_.current;
    b.k1 = s.fourPole ? butterworth4a : butterworth2 * damping;
    b.k2 = butterworth4b * damping;
    for (size_t i = 0; i < 3; ++i)
        b.levels[i] = levels_[i].current;
    b.tremoloStart = tremolo_;
    tremolo_ = 1.0f - s.lfoAmp * depth * 0.5f * (1.0f - lfoOut_.current);
    b.tremoloEnd = tremolo_;
}

void HalvoraSynth::renderVoice(Voice &voice, float *out) {
    const Settings &s = settings_;
    const Block &b = block_;
    const int frames = b.frames;

    if (voice.glideStep > 0.0) {
        const double step = voice.glideStep * frames;
        const double distance = voice.targetPitch - voice.pitch;
        if (std::abs(distance) <= step) {
            voice.pitch = voice.targetPitch;
            voice.glideStep = 0.0;
        } else {
            voice.pitch += distance > 0.0 ? step : -step;
        }
    }
    const double pitch = voice.pitch + b.pitchOffset;
    std::array<synth::WaveTable, 2> tables;
    std::array<uint32_t, 2> increments{};
    for (size_t osc = 0; osc < 2; ++osc) {
        const double cycles = cyclesPerSample(pitch + s.offsets[osc], sampleRate_);
        tables[osc] = tables_->table(s.waves[osc], cycles);
        increments[osc] = phaseIncrement(cycles);
    }

    for (int i = 0; i < frames; ++i)
        voice.filter.next(s.filterRates);
    const float velocityScale = 1.0f - s.filterVelocity + s.filterVelocity * voice.velocity;
    const float octaves = b.cutoffOctaves +
                          s.keyTrack * static_cast<float>(voice.pitch - 60.0) / 12.0f +
                          s.envAmount * velocityScale * voice.filter.level;
    const float cutoffHz = std::clamp(std::exp2(octaves), lowestCutoffHz,
                                      highestCutoffRatio * static_cast<float>(sampleRate_));
    const float gEnd =
        std::tan(std::numbers::pi_v<float> * cutoffHz / static_cast<float>(sampleRate_));
    if (voice.g <= 0.0f) voice.g = gEnd;
    float g = voice.g;
    const float gStep = (gEnd - g) / static_cast<float>(frames);
    voice.g = gEnd;

    const float velocityGain = 1.0f - s.ampVelocity + s.ampVelocity * voice.velocity;
    float tremolo = b.tremoloStart;
    const float tremoloStep = (b.tremoloEnd - b.tremoloStart) / static_cast<float>(frames);
    const float fadeStep = 1.0f / (stealFadeSeconds * static_cast<float>(sampleRate_));
    const bool pulse[2] = {s.waves[0] == SynthWave::Pulse, s.waves[1] == SynthWave::Pulse};
    float levels[2] = {tables[0].valid() ? b.levels[0] : 0.0f,
                       tables[1].valid() ? b.levels[1] : 0.0f};
    const float noiseLevel = b.levels[2];

    for (int i = 0; i < frames; ++i) {
        // The tiny offset keeps the filter out of denormal numbers, which are many times
        // slower, while a held voice has all its sources turned down.
        float x = denormalGuard;
        if (noiseLevel != 0.0f) x += noiseLevel * noiseSample(voice.noise);
        for (size_t osc = 0; osc < 2; ++osc) {
            if (levels[osc] == 0.0f) continue;
            const uint32_t phase = voice.phases[osc];
            float wave = tables[osc].read(phase);
            if (pulse[osc]) wave -= tables[osc].read(phase + s.pulseOffsets[osc]);
            x += levels[osc] * wave;
        }
        voice.phases[0] += increments[0];
        voice.phases[1] += increments[1];

        g += gStep;
        float y = voice.stage1.process(x, g, b.k1, s.filterMode);
        if (s.fourPole) y = voice.stage2.process(y, g, b.k2, s.filterMode);

        float gain = voice.amp.next(s.ampRates) * velocityGain * tremolo * voiceGain;
        tremolo += tremoloStep;
        if (voice.fading) {
            voice.fade -= fadeStep;
            if (voice.fade <= 0.0f) return endFade(voice);
            gain *= voice.fade;
        }
        out[i] += y * gain;
        if (!voice.amp.active()) return endFade(voice);
    }
}

// The voice is silent now, so the note waiting for it starts cleanly from the beginning.
void HalvoraSynth::endFade(Voice &voice) {
    if (!voice.fading) return;
    voice.fading = false;
    voice.fade = 1.0f;
    if (voice.pendingNote < 0) return voice.amp.finish();
    startVoice(voice, voice.pendingNote, voice.pendingVelocity);
}

void HalvoraSynth::process(float *left, float *right, int frames) {
    if (left == nullptr || right == nullptr || frames <= 0) return;
    if (activeVoiceCount() == 0) {
        // Nothing sounds, so jumping to the targets cannot be heard.
        cutoff_.snap();
        resonance_.snap();
        for (Smoothed &level : levels_)
            level.snap();
        gain_.snap();
    }
    for (int done = 0; done < frames;) {
        const int n = std::min(controlFrames, frames - done);
        updateBlock(n);
        std::fill(mix_.begin(), mix_.end(), 0.0f);
        for (Voice &voice : voices_)
            if (voice.active()) renderVoice(voice, mix_.data());

        float gain = gain_.current;
        gain_.step(std::exp(-static_cast<float>(n / sampleRate_) / smoothingSeconds));
        const float gainStep = (gain_.current - gain) / static_cast<float>(n);
        for (int i = 0; i < n; ++i) {
            gain += gainStep;
            left[done + i] += mix_[static_cast<size_t>(i)] * gain;
            right[done + i] += mix_[static_cast<size_t>(i)] * gain;
        }
        done += n;
    }
}

} // namespace orvane::stock
