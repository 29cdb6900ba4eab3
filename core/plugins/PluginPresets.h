#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::vst {

class Plugin;

enum class PresetOrigin { factory, user };

/// One preset of a plug-in, as the preset lists show it.
struct PluginPreset {
    std::string name;
    PresetOrigin origin = PresetOrigin::factory;
    /// Where it comes from: an LV2 preset's URI, or the path of a user preset's bundle or file.
    std::string location;
    bool operator==(const PluginPreset &) const = default;
};

/// A plug-in's presets, the factory ones first (a VST 3 plug-in's programs in its own order, an
/// LV2 plug-in's presets by name), then the user's by name; and one line for each user preset
/// that could not be read.
struct PresetListing {
    std::vector<PluginPreset> presets;
    std::vector<std::string> problems;
};

/// Where user presets are kept: "$XDG_DATA_HOME/halvora/presets", else
/// "$HOME/.local/share/halvora/presets".
std::string userPresetRoot();

/// The folder of one plug-in's user presets: "lv2/" and a folder named after the URI for an
/// LV2 plug-in, "vst3/" and the class id for a VST 3 one. Empty for any other id.
std::string userPresetFolder(const std::string &pluginId);

/// Lists the presets of the plug-in with `pluginId` ("lv2:" + URI, or a VST 3 class id as a
/// project stores it). False, with `error` saying why, for an id of neither kind, an LV2
/// plug-in that is not installed or a VST 3 bundle that cannot be loaded. A VST 3 plug-in's
/// programs are listed when `vst3Bundle` says where it is: the bundle's code then runs in this
/// process.
///
/// Threads: main thread or a worker.
[[nodiscard]] bool listPluginPresets(const std::string &pluginId, PresetListing &listing,
                                     std::string &error, const std::string &vst3Bundle = {});

/// The bundle of the installed VST 3 class `classId`, from a scan of the VST 3 folders (through
/// the scan cache, running the code of bundles it does not know yet); empty when none has it.
std::string findVst3Bundle(const std::string &classId);

/// The first preset of `listing` with this name (factory presets come first).
std::optional<PluginPreset> findPresetByName(const PresetListing &listing, const std::string &name);

/// The plug-in state a preset stands for, in the form the plug-in's `setState` takes, so that
/// it reaches a plug-in in this process or in a helper alike. False, with `error` saying why,
/// for a preset that is damaged, gone or made for another plug-in.
/// A VST 3 program's state is what a fresh instance from `vst3Bundle` reports once the program
/// is chosen.
[[nodiscard]] bool readPresetState(const std::string &pluginId, const PluginPreset &preset,
                                   std::vector<uint8_t> &state, std::string &error,
                                   const std::string &vst3Bundle = {});

/// As `listPluginPresets` for a plug-in that is loaded: a VST 3's programs come from `live`
/// itself wherever it runs (one in a helper is asked there), so no code of it runs here.
[[nodiscard]] bool listPresetsOf(Plugin &live, PresetListing &listing, std::string &error);
/// As `readPresetState` for a plug-in that is loaded: a VST 3 program's state is taken by
/// `live` from an instance beside it, in its helper when it runs in one.
[[nodiscard]] bool readPresetStateOf(Plugin &live, const PluginPreset &preset,
                                     std::vector<uint8_t> &state, std::string &error);

/// Saves `state` (as the plug-in's `getState` gave it) as the user preset `name`: an LV2 preset
/// bundle or a ".vstpreset" file in `userPresetFolder`. A preset of the same name is replaced,
/// and kept when the new one cannot be written. False, with `error` saying why.
[[nodiscard]] bool saveUserPreset(const std::string &pluginId, const std::string &name,
                                  const std::vector<uint8_t> &state, std::string &error,
                                  std::string *savedPath = nullptr);

} // namespace orvane::vst
