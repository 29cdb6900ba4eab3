#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::lv2 {

/// One preset installed with an LV2 plug-in: its label and the URI of its resource.
struct Lv2FactoryPreset {
    std::string name;
    std::string uri;
};

/// The presets the installed bundles give the plug-in with `pluginUri` (resources of type
/// lv2:Preset that apply to it), by label: lilv hands them over in an order that changes from
/// one call to the next. Presets without a label are left out. False,
/// with `error` saying why, when no such plug-in is installed.
///
/// Threads: main thread or a worker; takes the world lock.
[[nodiscard]] bool listLv2FactoryPresets(const std::string &pluginUri,
                                         std::vector<Lv2FactoryPreset> &presets,
                                         std::string &error);

/// The state a factory preset stands for, as text in the form `Lv2Plugin::getState` gives, so
/// that `Lv2Plugin::setState` (in this process or in a helper) applies it. False, with `error`
/// saying why, for a preset that does not exist or does not apply to the plug-in.
[[nodiscard]] bool lv2FactoryPresetState(const std::string &pluginUri, const std::string &presetUri,
                                         std::vector<uint8_t> &state, std::string &error);

/// True when `text` is Turtle from start to end and describes a preset (a state), so that lilv
/// may be given it: lilv keeps what comes before a fault, and crashes on text without a preset.
bool lv2StateTextReadable(const std::string &text);

/// Name of the state file inside a preset bundle this host writes.
inline constexpr const char *lv2PresetFileName = "preset.ttl";

/// Writes `state` (as `Lv2Plugin::getState` gives it) as a preset bundle in the folder
/// `bundlePath` (created, or replaced when it holds a preset already), labelled `name`. False,
/// with `error` saying why, when the state cannot be read or the bundle cannot be written.
[[nodiscard]] bool writeLv2PresetBundle(const std::string &pluginUri, const std::string &name,
                                        const std::vector<uint8_t> &state,
                                        const std::string &bundlePath, std::string &error);

/// Reads the preset bundle at `bundlePath`: its label and its state as text. A bundle that is
/// damaged, unlabelled or made for another plug-in gives false with `error` saying why, and
/// nothing else.
[[nodiscard]] bool readLv2PresetBundle(const std::string &pluginUri, const std::string &bundlePath,
                                       std::string &name, std::vector<uint8_t> &state,
                                       std::string &error);

/// The text of a preset bundle's state file, as `readLv2PresetBundle` reads it; `origin` names
/// the file in `error`.
[[nodiscard]] bool readLv2PresetText(const std::string &pluginUri, const std::string &text,
                                     const std::string &origin, std::string &name,
                                     std::vector<uint8_t> &state, std::string &error);

} // namespace orvane::lv2
