#pragma once

#include "core/model/Project.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace orvane {

// The settings of a built-in insert live in its `InsertSlot::state`, as "key=value" lines, so
// that a project stores them like a plug-in's state. An insert whose state is empty has never
// been set by the user and keeps its original fixed sound (the EQ's small lift, the
// compressor's soft saturation, the delay's and reverb's presets), which older projects and
// renders rely on.

/// One setting of a built-in effect, in the unit the user reads it in.
struct StockParameter {
    const char *key;
    const char *label;
    const char *unit;
    float minimum;
    float maximum;
    float defaultValue;
};

/// The settings of the built-in effect `pluginId` ("stock.compressor" and so on), empty for
/// any other id. An insert's `automParamId` is an index into this list.
std::span<const StockParameter> stockParametersOf(std::string_view pluginId);

/// "Stock EQ", "Stock Compressor", "Stock Delay" or "Stock Reverb" for the built-in ids, as
/// the user reads them; `pluginId` itself for any other.
std::string_view stockEffectName(std::string_view pluginId);

/// "EQ", "Compressor", "Delay" or "Reverb" for the built-in ids, as a lane's name begins
/// ("Compressor: Threshold"); source texts of the catalogue's "StockEffect" context, as the
/// parameters' labels are. `pluginId` itself for any other.
std::string_view stockEffectShortName(std::string_view pluginId);

/// The values stored in `insert`, one per parameter and in their order, each within its
/// range (a missing or unreadable value is the default); none when the state is empty or the
/// insert is no built-in effect with settings.
std::optional<std::vector<float>> stockSettingsOf(const InsertSlot &insert);

/// The values `insert` plays with: its stored settings, or every default when it stores
/// none; empty for an insert that is no built-in effect with settings.
std::vector<float> stockValuesOrDefaultsOf(const InsertSlot &insert);

/// `normalized` (held to 0..1, as an automation lane stores it) in the parameter's unit.
float stockValueFromNormalized(const StockParameter &parameter, float normalized);
/// The parameter's `value` as a lane stores it, 0..1.
float stockValueToNormalized(const StockParameter &parameter, float value);

/// The state that stores `values` for `pluginId` (values beyond the parameters are ignored).
std::vector<uint8_t> encodeStockSettings(std::string_view pluginId, std::span<const float> values);

} // namespace orvane
