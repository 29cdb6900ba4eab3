#include "core/model/StockEffectSettings.h"

#include "core/model/Translate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace orvane {

namespace {

// An automated built-in insert names its parameter in `automParamId` by its index in these
// lists, and projects store that number: new parameters go at the end, none moves.
constexpr StockParameter compressorParameters[] = {
    {"threshold", QT_TRANSLATE_NOOP("StockEffect", "Threshold"), "dB", -60.0f, 0.0f, -6.0f},
    {"ratio", QT_TRANSLATE_NOOP("StockEffect", "Ratio"), ":1", 1.0f, 20.0f, 4.0f},
    {"attack", QT_TRANSLATE_NOOP("StockEffect", "Attack"), "ms", 0.1f, 100.0f, 5.0f},
    {"release", QT_TRANSLATE_NOOP("StockEffect", "Release"), "ms", 5.0f, 1000.0f, 80.0f},
    {"makeup", QT_TRANSLATE_NOOP("StockEffect", "Make-up"), "dB", 0.0f, 24.0f, 0.0f},
};
constexpr StockParameter delayParameters[] = {
    {"time", QT_TRANSLATE_NOOP("StockEffect", "Time"), "ms", 1.0f, 2000.0f, 250.0f},
    {"feedback", QT_TRANSLATE_NOOP("StockEffect", "Feedback"), "%", 0.0f, 95.0f, 30.0f},
    {"mix", QT_TRANSLATE_NOOP("StockEffect", "Mix"), "%", 0.0f, 100.0f, 50.0f},
};
constexpr StockParameter reverbParameters[] = {
    {"size", QT_TRANSLATE_NOOP("StockEffect", "Size"), "%", 0.0f, 100.0f, 50.0f},
    {"mix", QT_TRANSLATE_NOOP("StockEffect", "Mix"), "%", 0.0f, 100.0f, 30.0f},
};
constexpr StockParameter eqParameters[] = {
    {"low", QT_TRANSLATE_NOOP("StockEffect", "Low (120 Hz)"), "dB", -18.0f, 18.0f, 0.0f},
    {"mid", QT_TRANSLATE_NOOP("StockEffect", "Mid (1 kHz)"), "dB", -18.0f, 18.0f, 0.0f},
    {"high", QT_TRANSLATE_NOOP("StockEffect", "High (8 kHz)"), "dB", -18.0f, 18.0f, 0.0f},
    {"output", QT_TRANSLATE_NOOP("StockEffect", "Output"), "dB", -24.0f, 24.0f, 0.0f},
};

/// The value of `key` in `text`, when a line "key=number" holds a finite one.
std::optional<float> valueOf(std::string_view text, std::string_view key) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || line.substr(0, equals) != key) continue;
        const std::string_view number = line.substr(equals + 1);
        float value = 0.0f;
        const auto [rest, error] =
            std::from_chars(number.data(), number.data() + number.size(), value);
        if (error == std::errc() && rest == number.data() + number.size() && std::isfinite(value))
            return value;
    }
    return std::nullopt;
}

} // namespace

std::span<const StockParameter> stockParametersOf(std::string_view pluginId) {
    if (pluginId == "stock.compressor") return compressorParameters;
    if (pluginId == "stock.delay") return delayParameters;
    if (pluginId == "stock.reverb") return reverbParameters;
    if (pluginId == "stock.eq") return eqParameters;
    return {};
}

std::string_view stockEffectName(std::string_view pluginId) {
    if (pluginId == "stock.eq") return "Stock EQ";
    if (pluginId == "stock.compressor") return "Stock Compressor";
    if (pluginId == "stock.delay") return "Stock Delay";
    if (pluginId == "stock.reverb") return "Stock Reverb";
    return pluginId;
}

std::string_view stockEffectShortName(std::string_view pluginId) {
    if (pluginId == "stock.eq") return QT_TRANSLATE_NOOP("StockEffect", "EQ");
    if (pluginId == "stock.compressor") return QT_TRANSLATE_NOOP("StockEffect", "Compressor");
    if (pluginId == "stock.delay") return QT_TRANSLATE_NOOP("StockEffect", "Delay");
    if (pluginId == "stock.reverb") return QT_TRANSLATE_NOOP("StockEffect", "Reverb");
    return pluginId;
}

std::optional<std::vector<float>> stockSettingsOf(const InsertSlot &insert) {
    const auto parameters = stockParametersOf(insert.pluginId);
    if (!insert.isStock || parameters.empty() || insert.state.empty()) return std::nullopt;
    const std::string_view text(reinterpret_cast<const char *>(insert.state.data()),
                                insert.state.size());
    std::vector<float> values;
    values.reserve(parameters.size());
    for (const StockParameter &parameter : parameters)
        values.push_back(std::clamp(valueOf(text, parameter.key).value_or(parameter.defaultValue),
                                    parameter.minimum, parameter.maximum));
    return values;
}

std::vector<float> stockValuesOrDefaultsOf(const InsertSlot &insert) {
    if (auto stored = stockSettingsOf(insert)) return std::move(*stored);
    std::vector<float> values;
    if (!insert.isStock) return values;
    for (const StockParameter &parameter : stockParametersOf(insert.pluginId))
        values.push_back(parameter.defaultValue);
    return values;
}

float stockValueFromNormalized(const StockParameter &parameter, float normalized) {
    // NaN fails both comparisons and reads as the minimum.
    const float fraction = normalized > 0.0f ? std::min(normalized, 1.0f) : 0.0f;
    return parameter.minimum + (parameter.maximum - parameter.minimum) * fraction;
}

float stockValueToNormalized(const StockParameter &parameter, float value) {
    const float fraction = (value - parameter.minimum) / (parameter.maximum - parameter.minimum);
    return std::clamp(fraction, 0.0f, 1.0f);
}

std::vector<uint8_t> encodeStockSettings(std::string_view pluginId, std::span<const float> values) {
    std::string text;
    const auto parameters = stockParametersOf(pluginId);
    for (std::size_t i = 0; i < parameters.size() && i < values.size(); ++i) {
        // The shortest text that reads back as the same float, whatever the user's locale.
        char number[32];
        const auto written = std::to_chars(number, number + sizeof number, values[i]);
        text += parameters[i].key;
        text += '=';
        text.append(number, written.ptr);
        text += '\n';
    }
    return {text.begin(), text.end()};
}

} // namespace orvane
