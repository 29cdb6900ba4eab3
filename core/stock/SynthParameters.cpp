#include "core/stock/SynthParameters.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace orvane::stock {

namespace {

using Scale = SynthParamScale;

constexpr std::array<std::string_view, 4> oscWaves{"Sine", "Triangle", "Saw", "Pulse"};
constexpr std::array<std::string_view, 4> lfoWaves{"Sine", "Triangle", "Saw", "Square"};
constexpr std::array<std::string_view, 3> filterModes{"Low-pass", "High-pass", "Band-pass"};
constexpr std::array<std::string_view, 2> filterSlopes{"12 dB/oct", "24 dB/oct"};
constexpr std::array<std::string_view, 3> voiceModes{"Poly", "Mono", "Legato"};

constexpr SynthParamInfo value(std::string_view id, std::string_view name, std::string_view unit,
                               float min, float max, float defaultValue,
                               Scale scale = Scale::Linear) {
    return {id, name, unit, min, max, defaultValue, 0, scale, {}};
}

constexpr SynthParamInfo whole(std::string_view id, std::string_view name, std::string_view unit,
                               float min, float max, float defaultValue) {
    return {id, name, unit, min, max, defaultValue, static_cast<int>(max - min) + 1, Scale::Linear,
            {}};
}

constexpr SynthParamInfo choice(std::string_view id, std::string_view name,
                                std::span<const std::string_view> choices, float defaultValue) {
    return {id,
            name,
            "",
            0.0f,
            static_cast<float>(choices.size() - 1),
            defaultValue,
            static_cast<int>(choices.size()),
            Scale::Linear,
            choices};
}

// Envelope times never reach zero: a segment of one or two milliseconds is the shortest
// that starts or stops a note without an audible click.
constexpr std::array<SynthParamInfo, synthParamCount> table{{
    choice("osc1.wave", "Osc 1 wave", oscWaves, 2),
    whole("osc1.octave", "Osc 1 octave", "oct", -3, 3, 0),
    whole("osc1.semitone", "Osc 1 semitone", "st", -12, 12, 0),
    value("osc1.fine", "Osc 1 fine", "ct", -100, 100, 0),
    value("osc1.pw", "Osc 1 pulse width", "%", 5, 95, 50),
    value("osc1.level", "Osc 1 level", "", 0, 1, 0.8f),
    choice("osc2.wave", "Osc 2 wave", oscWaves, 2),
    whole("osc2.octave", "Osc 2 octave", "oct", -3, 3, 0),
    whole("osc2.semitone", "Osc 2 semitone", "st", -12, 12, 0),
    value("osc2.fine", "Osc 2 fine", "ct", -100, 100, 0),
    value("osc2.pw", "Osc 2 pulse width", "%", 5, 95, 50),
    value("osc2.level", "Osc 2 level", "", 0, 1, 0),
    value("noise.level", "Noise level", "", 0, 1, 0),
    choice("filter.mode", "Filter mode", filterModes, 0),
    choice("filter.slope", "Filter slope", filterSlopes, 0),
    value("filter.cutoff", "Cutoff", "Hz", 20, 20000, 20000, Scale::Log),
    value("filter.resonance", "Resonance", "", 0, 1, 0),
    value("filter.keytrack", "Key tracking", "", 0, 1, 0),
    value("filter.envamount", "Filter envelope amount", "oct", -6, 6, 0),
    value("filter.velocity", "Velocity to filter", "", 0, 1, 0),
    value("filter.attack", "Filter attack", "s", 0.001f, 10, 0.005f, Scale::Log),
    value("filter.decay", "Filter decay", "s", 0.001f, 20, 0.5f, Scale::Log),
    value("filter.sustain", "Filter sustain", "", 0, 1, 1),
    value("filter.release", "Filter release", "s", 0.001f, 20, 0.3f, Scale::Log),
    value("amp.attack", "Attack", "s", 0.001f, 10, 0.005f, Scale::Log),
    value("amp.decay", "Decay", "s", 0.001f, 20, 0.5f, Scale::Log),
    value("amp.sustain", "Sustain", "", 0, 1, 1),
    value("amp.release", "Release", "s", 0.002f, 20, 0.3f, Scale::Log),
    value("amp.velocity", "Velocity sensitivity", "", 0, 1, 1),
    choice("lfo.wave", "LFO wave", lfoWaves, 0),
    value("lfo.rate", "LFO rate", "Hz", 0.05f, 20, 5, Scale::Log),
    value("lfo.pitch", "LFO to pitch", "st", 0, 12, 0.3f, Scale::Square),
    value("lfo.cutoff", "LFO to cutoff", "oct", 0, 4, 0),
    value("lfo.amp", "LFO to amplitude", "", 0, 1, 0),
    value("lfo.modwheel", "Mod wheel to LFO depth", "", 0, 1, 1),
    value("glide.time", "Glide time", "s", 0, 5, 0, Scale::Square),
    choice("voice.mode", "Voice mode", voiceModes, 0),
    whole("voice.polyphony", "Polyphony", "", 1, 64, 32),
    whole("pitch.bendrange", "Pitch bend range", "st", 0, 24, 2),
    value("master.gain", "Master gain", "dB", -60, 12, 0),
}};

constexpr bool idsAreUnique() {
    for (size_t a = 0; a < table.size(); ++a)
        for (size_t b = a + 1; b < table.size(); ++b)
            if (table[a].id == table[b].id) return false;
    return true;
}
static_assert(idsAreUnique(), "two synth parameters share an id");

using P = SynthParam;

constexpr SynthPresetValue bass[] = {
    {P::Osc1Wave, 2},           {P::Osc2Wave, 3},          {P::Osc2Octave, -1},
    {P::Osc2PulseWidth, 40},    {P::Osc2Level, 0.6f},      {P::Osc1Level, 0.7f},
    {P::FilterSlope, 1},        {P::FilterCutoff, 180},    {P::FilterResonance, 0.35f},
    {P::FilterEnvAmount, 3.5f}, {P::FilterVelocity, 0.5f}, {P::FilterAttack, 0.001f},
    {P::FilterDecay, 0.35f},    {P::FilterSustain, 0.15f}, {P::FilterRelease, 0.12f},
    {P::AmpAttack, 0.002f},     {P::AmpDecay, 0.6f},       {P::AmpSustain, 0.8f},
    {P::AmpRelease, 0.08f},     {P::VoiceMode, 2},         {P::GlideTime, 0.04f},
    {P::FilterKeyTrack, 0.5f},
};

constexpr SynthPresetValue lead[] = {
    {P::Osc1Wave, 2},           {P::Osc2Wave, 2},         {P::Osc2Fine, 8},
    {P::Osc2Level, 0.7f},       {P::FilterSlope, 1},      {P::FilterCutoff, 1400},
    {P::FilterResonance, 0.4f}, {P::FilterEnvAmount, 2},  {P::FilterKeyTrack, 0.6f},
    {P::FilterDecay, 0.6f},     {P::FilterSustain, 0.4f}, {P::AmpAttack, 0.004f},
    {P::AmpRelease, 0.15f},     {P::VoiceMode, 2},        {P::GlideTime, 0.07f},
    {P::LfoRate, 5.5f},         {P::LfoPitch, 0.5f},      {P::LfoModWheel, 1},
};

constexpr SynthPresetValue pad[] = {
    {P::Osc1Wave, 2},           {P::Osc1Fine, -9},          {P::Osc2Wave, 3},
    {P::Osc2Fine, 9},           {P::Osc2PulseWidth, 30},    {P::Osc2Level, 0.7f},
    {P::Osc1Level, 0.7f},       {P::NoiseLevel, 0.05f},     {P::FilterCutoff, 900},
    {P::FilterResonance, 0.2f}, {P::FilterEnvAmount, 1.5f}, {P::FilterAttack, 1.5f},
    {P::FilterDecay, 2.5f},     {P::FilterSustain, 0.5f},   {P::FilterRelease, 2},
    {P::AmpAttack, 0.9f},       {P::AmpDecay, 1.5f},        {P::AmpSustain, 0.85f},
    {P::AmpRelease, 2},         {P::LfoRate, 0.3f},         {P::LfoCutoff, 0.6f},
    {P::LfoPitch, 0},           {P::LfoModWheel, 0},        {P::AmpVelocity, 0.4f},
};

constexpr SynthPresetValue keys[] = {
    {P::Osc1Wave, 1},         {P::Osc2Wave, 0},          {P::Osc2Octave, 1},
    {P::Osc2Level, 0.35f},    {P::FilterCutoff, 1800},   {P::FilterKeyTrack, 0.5f},
    {P::FilterEnvAmount, 2},  {P::FilterVelocity, 0.7f}, {P::FilterDecay, 0.8f},
    {P::FilterSustain, 0.2f}, {P::AmpAttack, 0.003f},    {P::AmpDecay, 1.6f},
    {P::AmpSustain, 0.25f},   {P::AmpRelease, 0.35f},    {P::AmpVelocity, 0.8f},
};

constexpr SynthPresetValue pluck[] = {
    {P::Osc1Wave, 3},          {P::Osc1PulseWidth, 35},    {P::Osc2Wave, 2},
    {P::Osc2Octave, 1},        {P::Osc2Level, 0.4f},       {P::FilterSlope, 1},
    {P::FilterCutoff, 350},    {P::FilterResonance, 0.3f}, {P::FilterEnvAmount, 4.5f},
    {P::FilterKeyTrack, 0.7f}, {P::FilterVelocity, 0.6f},  {P::FilterDecay, 0.2f},
    {P::FilterSustain, 0},     {P::FilterRelease, 0.2f},   {P::AmpAttack, 0.001f},
    {P::AmpDecay, 0.6f},       {P::AmpSustain, 0},         {P::AmpRelease, 0.25f},
};

constexpr std::array<SynthPreset, 6> presets{{
    {"Init", {}},
    {"Bass", bass},
    {"Lead", lead},
    {"Pad", pad},
    {"Keys", keys},
    {"Pluck", pluck},
}};

float logRatio(const SynthParamInfo &info) { return std::log(info.max / info.min); }

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

std::span<const SynthParamInfo> synthParameters() { return table; }

const SynthParamInfo &synthParameter(SynthParam param) { return table[static_cast<size_t>(param)]; }

int synthParameterIndex(std::string_view id) {
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].id == id) return static_cast<int>(i);
    return -1;
}

float clampSynthValue(const SynthParamInfo &info, float plain) {
    if (std::isnan(plain)) return info.defaultValue;
    plain = std::clamp(plain, info.min, info.max);
    return info.steps > 0 ? std::round(plain) : plain;
}

float synthValueToNormalized(const SynthParamInfo &info, float plain) {
    plain = clampSynthValue(info, plain);
    switch (info.scale) {
    case Scale::Log: return std::log(plain / info.min) / logRatio(info);
    case Scale::Square: return std::sqrt((plain - info.min) / (info.max - info.min));
    case Scale::Linear: break;
    }
    return (plain - info.min) / (info.max - info.min);
}

float synthValueFromNormalized(const SynthParamInfo &info, float normalized) {
    if (std::isnan(normalized)) return info.defaultValue;
    normalized = std::clamp(normalized, 0.0f, 1.0f);
    // The far end exactly, whatever exp rounds to.
    if (normalized == 1.0f) return info.max;
    float plain = info.min + normalized * (info.max - info.min);
    if (info.scale == Scale::Log) plain = info.min * std::exp(normalized * logRatio(info));
    if (info.scale == Scale::Square)
        plain = info.min + normalized * normalized * (info.max - info.min);
    return clampSynthValue(info, plain);
}

std::span<const SynthPreset> synthFactoryPresets() { return presets; }

const SynthPreset *findSynthPreset(std::string_view name) {
    for (const SynthPreset &preset : presets)
        if (preset.name == name) return &preset;
    return nullptr;
}

SynthValues synthDefaultValues() {
    SynthValues values{};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = table[i].defaultValue;
    return values;
}

SynthValues synthPresetValues(const SynthPreset &preset) {
    SynthValues values = synthDefaultValues();
    for (const SynthPresetValue &entry : preset.values)
        values[static_cast<size_t>(entry.param)] =
            clampSynthValue(synthParameter(entry.param), entry.value);
    return values;
}

std::string synthStateText(const SynthValues &values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        char number[32];
        const auto result = std::to_chars(number, number + sizeof number, values[i]);
        text.append(table[i].id);
        text.push_back('=');
        text.append(number, result.ptr);
        text.push_back('\n');
    }
    return text;
}

bool readSynthStateText(std::string_view text, SynthValues &values, std::string *error) {
    SynthValues read = synthDefaultValues();
    int lineNumber = 0;
    auto reject = [&](std::string_view why, std::string_view line) {
        if (error != nullptr)
            *error = "line " + std::to_string(lineNumber) + ": " + std::string(why) + ": \"" +
                     std::string(line) + "\"";
        return false;
    };
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty()) continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) return reject("expected id=value", line);
        const std::string_view id = trim(line.substr(0, equals));
        const std::string_view number = trim(line.substr(equals + 1));
        if (id.empty()) return reject("missing parameter id", line);
        const int index = synthParameterIndex(id);
        if (index < 0) continue;
        float value = 0.0f;
        const auto parsed = std::from_chars(number.data(), number.data() + number.size(), value);
        if (number.empty() || parsed.ec != std::errc{} ||
            parsed.ptr != number.data() + number.size() || !std::isfinite(value))
            return reject("value is not a finite number", line);
        read[static_cast<size_t>(index)] =
            clampSynthValue(table[static_cast<size_t>(index)], value);
    }
    values = read;
    return true;
}

} // namespace orvane::stock
