#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace orvane::stock {

/// The parameters of HalvoraSynth, in the order of the table that `synthParameters` returns.
/// Stored documents refer to parameters by id, never by this position.
enum class SynthParam : int {
    Osc1Wave,
    Osc1Octave,
    Osc1Semitone,
    Osc1Fine,
    Osc1PulseWidth,
    Osc1Level,
    Osc2Wave,
    Osc2Octave,
    Osc2Semitone,
    Osc2Fine,
    Osc2PulseWidth,
    Osc2Level,
    NoiseLevel,
    FilterMode,
    FilterSlope,
    FilterCutoff,
    FilterResonance,
    FilterKeyTrack,
    FilterEnvAmount,
    FilterVelocity,
    FilterAttack,
    FilterDecay,
    FilterSustain,
    FilterRelease,
    AmpAttack,
    AmpDecay,
    AmpSustain,
    AmpRelease,
    AmpVelocity,
    LfoWave,
    LfoRate,
    LfoPitch,
    LfoCutoff,
    LfoAmp,
    LfoModWheel,
    GlideTime,
    VoiceMode,
    Polyphony,
    BendRange,
    MasterGain,
    Count
};

constexpr int synthParamCount = static_cast<int>(SynthParam::Count);

enum class SynthWave { Sine, Triangle, Saw, Pulse };
enum class SynthLfoWave { Sine, Triangle, Saw, Square };
enum class SynthFilterMode { LowPass, HighPass, BandPass };
enum class SynthFilterSlope { Pole2, Pole4 };
enum class SynthVoiceMode { Poly, Mono, Legato };

/// How the normalised 0..1 position of a control maps onto the plain value.
enum class SynthParamScale {
    Linear,
    /// Equal ratios per equal travel, for frequencies and times that span decades.
    Log,
    /// Quadratic, for times that start at zero but want fine control near it.
    Square,
};

struct SynthParamInfo {
    std::string_view id;
    std::string_view name;
    std::string_view unit;
    float min = 0.0f;
    float max = 1.0f;
    float defaultValue = 0.0f;
    /// 0 for a continuous value; otherwise the count of whole values min, min + 1, ..., max
    /// (an enumeration, a toggle or a whole number of semitones).
    int steps = 0;
    SynthParamScale scale = SynthParamScale::Linear;
    /// Display names of the values of an enumeration, in order; empty otherwise.
    std::span<const std::string_view> choices;
};

std::span<const SynthParamInfo> synthParameters();
const SynthParamInfo &synthParameter(SynthParam param);
/// The position of the parameter with `id`, or -1 when there is none.
int synthParameterIndex(std::string_view id);

/// `plain` kept within the range and, for stepped parameters, rounded to a whole step. A
/// value that is not a number gives the default, so a damaged automation point cannot
/// poison the voices.
float clampSynthValue(const SynthParamInfo &info, float plain);
float synthValueToNormalized(const SynthParamInfo &info, float plain);
float synthValueFromNormalized(const SynthParamInfo &info, float normalized);

struct SynthPresetValue {
    SynthParam param;
    float value;
};

/// A named sound: the listed parameters take the listed values, all others their defaults.
struct SynthPreset {
    std::string_view name;
    std::span<const SynthPresetValue> values;
};

std::span<const SynthPreset> synthFactoryPresets();
/// The factory preset called `name`, or null.
const SynthPreset *findSynthPreset(std::string_view name);

/// Plain values of every parameter, in table order.
using SynthValues = std::array<float, synthParamCount>;

SynthValues synthDefaultValues();
SynthValues synthPresetValues(const SynthPreset &preset);

/// One "id=value" line per parameter, each value the shortest text that reads back the same.
std::string synthStateText(const SynthValues &values);
/// Reads `synthStateText` output into `values`. Parameters it does not name take their
/// defaults and ids it does not know are skipped, so older and newer documents load; a line
/// without "=", without an id or with a value that is not a finite number rejects the whole
/// text, leaves `values` as they were and says which line in `error`.
bool readSynthStateText(std::string_view text, SynthValues &values, std::string *error);

} // namespace orvane::stock
