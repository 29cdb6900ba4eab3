#include "core/commands/TagAndTuningCommands.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orvane {

namespace {

std::optional<std::vector<std::string>> listOf(const TagTable &table, const std::string &key) {
    const auto entry = table.find(key);
    if (entry == table.end()) return std::nullopt;
    return entry->second;
}

ScalaTuning scalaTuningOf(const Project &project) {
    return {project.scalaPresetIndex, project.scalaCents, project.scalaName};
}

/// Sets the project's Scala tuning, capturing the one it replaces the first time.
void setScalaTuning(Project &project, const ScalaTuning &tuning,
                    CapturedValue<ScalaTuning> &before) {
    if (!std::ranges::all_of(tuning.cents, [](float cents) { return std::isfinite(cents); }))
        return;
    before.capture(scalaTuningOf(project));
    project.scalaPresetIndex = tuning.presetIndex;
    project.scalaCents = tuning.cents;
    project.scalaName = tuning.name;
}

void restoreScalaTuning(Project &project, const CapturedValue<ScalaTuning> &before) {
    if (!before.captured()) return;
    project.scalaPresetIndex = before.value().presetIndex;
    project.scalaCents = before.value().cents;
    project.scalaName = before.value().name;
}

} // namespace

void TagToggle::redo(TagTable &table, const std::string &key, const std::string &tag) {
    before_.capture(listOf(table, key));
    auto &tags = table[key];
    if (std::ranges::find(tags, tag) == tags.end()) {
        tags.push_back(tag);
        return;
    }
    std::erase(tags, tag);
    if (tags.empty()) table.erase(key);
}

void TagToggle::undo(TagTable &table, const std::string &key) const {
    if (!before_.captured()) return;
    if (before_.value())
        table[key] = *before_.value();
    else
        table.erase(key);
}

TogglePluginUserTagCommand::TogglePluginUserTagCommand(std::string pluginId, std::string tag)
    : pluginId_(std::move(pluginId)), tag_(std::move(tag)) {}

void TogglePluginUserTagCommand::redo(Project &project) {
    toggle_.redo(project.pluginUserTags, pluginId_, tag_);
}

void TogglePluginUserTagCommand::undo(Project &project) {
    toggle_.undo(project.pluginUserTags, pluginId_);
}

std::string TogglePluginUserTagCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Plugin Tag");
}

ToggleAudioMediaTagCommand::ToggleAudioMediaTagCommand(std::string mediaKey, std::string tag)
    : mediaKey_(std::move(mediaKey)), tag_(std::move(tag)) {}

void ToggleAudioMediaTagCommand::redo(Project &project) {
    if (!mediaKey_.empty()) toggle_.redo(project.audioMediaTags, mediaKey_, tag_);
}

void ToggleAudioMediaTagCommand::undo(Project &project) {
    if (!mediaKey_.empty()) toggle_.undo(project.audioMediaTags, mediaKey_);
}

std::string ToggleAudioMediaTagCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Audio Tag");
}

SetScalaPresetCommand::SetScalaPresetCommand(int32_t presetIndex, std::array<float, 12> cents)
    : tuning_{presetIndex, cents, ""} {}

void SetScalaPresetCommand::redo(Project &project) { setScalaTuning(project, tuning_, before_); }

void SetScalaPresetCommand::undo(Project &project) { restoreScalaTuning(project, before_); }

std::string SetScalaPresetCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Scala Tuning");
}

SetScalaFromFileCommand::SetScalaFromFileCommand(std::string scaleName, std::array<float, 12> cents)
    : tuning_{-1, cents, std::move(scaleName)} {}

void SetScalaFromFileCommand::redo(Project &project) { setScalaTuning(project, tuning_, before_); }

void SetScalaFromFileCommand::undo(Project &project) { restoreScalaTuning(project, before_); }

std::string SetScalaFromFileCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Import Scala");
}

SetKbmMappingCommand::SetKbmMappingCommand(std::string mappingName, std::vector<int32_t> degrees)
    : mapping_{std::move(mappingName), std::move(degrees)} {}

void SetKbmMappingCommand::redo(Project &project) {
    before_.capture({project.kbmName, project.kbmDegrees});
    project.kbmName = mapping_.name;
    project.kbmDegrees = mapping_.degrees;
}

void SetKbmMappingCommand::undo(Project &project) {
    if (!before_.captured()) return;
    project.kbmName = before_.value().name;
    project.kbmDegrees = before_.value().degrees;
}

std::string SetKbmMappingCommand::name() const { return QT_TRANSLATE_NOOP("Command", "KBM Map"); }

} // namespace orvane
