#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace orvane {

using TagTable = std::unordered_map<std::string, std::vector<std::string>>;

/// Adds a tag to a key's list when it is missing, else removes it (erasing a key whose list
/// becomes empty). Undo gives the key's list back as it was, in its order.
class TagToggle {
  public:
    void redo(TagTable &table, const std::string &key, const std::string &tag);
    void undo(TagTable &table, const std::string &key) const;

  private:
    CapturedValue<std::optional<std::vector<std::string>>> before_;
};

/// "Plugin Tag": toggles a user tag of a plug-in id.
class TogglePluginUserTagCommand : public Command {
  public:
    TogglePluginUserTagCommand(std::string pluginId, std::string tag);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::string pluginId_;
    std::string tag_;
    TagToggle toggle_;
};

/// "Audio Tag": toggles a user tag of an audio file; an empty media key does nothing.
class ToggleAudioMediaTagCommand : public Command {
  public:
    ToggleAudioMediaTagCommand(std::string mediaKey, std::string tag);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::string mediaKey_;
    std::string tag_;
    TagToggle toggle_;
};

/// The project's Scala tuning, as the two Scala commands keep it for undo.
struct ScalaTuning {
    int32_t presetIndex = 0;
    std::array<float, 12> cents{};
    std::string name;
};

// Cents that are not numbers are refused: they would detune every note to NaN.

/// "Scala Tuning": a built-in preset; the name of a loaded Scala file is cleared.
class SetScalaPresetCommand : public Command {
  public:
    SetScalaPresetCommand(int32_t presetIndex, std::array<float, 12> cents);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    ScalaTuning tuning_;
    CapturedValue<ScalaTuning> before_;
};

/// "Import Scala": a scale read from a file, which selects no preset (index -1).
class SetScalaFromFileCommand : public Command {
  public:
    SetScalaFromFileCommand(std::string scaleName, std::array<float, 12> cents);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    ScalaTuning tuning_;
    CapturedValue<ScalaTuning> before_;
};

/// The project's keyboard mapping, as `SetKbmMappingCommand` keeps it for undo.
struct KeyboardMapping {
    std::string name;
    std::vector<int32_t> degrees;
};

/// "KBM Map".
class SetKbmMappingCommand : public Command {
  public:
    SetKbmMappingCommand(std::string mappingName, std::vector<int32_t> degrees);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    KeyboardMapping mapping_;
    CapturedValue<KeyboardMapping> before_;
};

} // namespace orvane
