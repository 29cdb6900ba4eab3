#include "core/commands/MixerCommands.h"

#include "core/commands/InsertEdits.h"
#include "core/model/StockEffectSettings.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

constexpr int32_t sendCount = 4;
constexpr int32_t macroCount = 4;

bool inRange(int32_t index, int32_t count) { return index >= 0 && index < count; }

TrackFaderState faderStateOf(const Track &track) {
    return {track.gain, track.pan, track.mute, track.solo};
}

void applyFaderState(Track &track, const TrackFaderState &state) {
    track.gain = state.gain;
    track.pan = state.pan;
    track.mute = state.mute;
    track.solo = state.solo;
}

/// The insert at `index` of the track, null when there is none.
InsertSlot *insertOf(const Project &project, uint64_t trackId, int32_t index) {
    const auto track = project.findTrack(trackId);
    if (!track || !inRange(index, static_cast<int32_t>(track->inserts.size()))) return nullptr;
    return &track->inserts[static_cast<std::size_t>(index)];
}

} // namespace

SetTrackMixerCommand::SetTrackMixerCommand(uint64_t trackId, float gain, float pan, bool mute,
                                           bool solo)
    : trackId_(trackId), state_{gain, pan, mute, solo} {}

void SetTrackMixerCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || !std::isfinite(state_.gain) || !std::isfinite(state_.pan)) return;
    before_.capture(faderStateOf(*track));
    applyFaderState(*track, state_);
}

void SetTrackMixerCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (track && before_.captured()) applyFaderState(*track, before_.value());
}

std::string SetTrackMixerCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Mixer"); }

SetTrackSendCommand::SetTrackSendCommand(uint64_t trackId, int32_t slot, SendSlot send)
    : trackId_(trackId), slot_(slot), send_(send) {}

void SetTrackSendCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || !inRange(slot_, sendCount) || !std::isfinite(send_.level)) return;
    auto &send = track->sends[static_cast<std::size_t>(slot_)];
    before_.capture(send);
    send = send_;
}

void SetTrackSendCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (track && inRange(slot_, sendCount))
        before_.restoreInto(track->sends[static_cast<std::size_t>(slot_)]);
}

std::string SetTrackSendCommand::name() const {
    // The undo menu says which of the four sends it turns back.
    static constexpr const char *names[sendCount] = {
        QT_TRANSLATE_NOOP("Command", "Send A Level"), QT_TRANSLATE_NOOP("Command", "Send B Level"),
        QT_TRANSLATE_NOOP("Command", "Send C Level"), QT_TRANSLATE_NOOP("Command", "Send D Level")};
    return inRange(slot_, sendCount) ? names[slot_] : QT_TRANSLATE_NOOP("Command", "Send Level");
}

SetTrackMacroCommand::SetTrackMacroCommand(uint64_t trackId, int32_t macroIndex, float value)
    : trackId_(trackId), macroIndex_(macroIndex), value_(value) {}

void SetTrackMacroCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || !inRange(macroIndex_, macroCount) || std::isnan(value_)) return;
    auto &macro = track->macros[static_cast<std::size_t>(macroIndex_)];
    before_.capture(macro);
    macro = std::clamp(value_, 0.0f, 1.0f);
}

void SetTrackMacroCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (track && inRange(macroIndex_, macroCount))
        before_.restoreInto(track->macros[static_cast<std::size_t>(macroIndex_)]);
}

std::string SetTrackMacroCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Macro"); }

ToggleInsertBypassCommand::ToggleInsertBypassCommand(uint64_t trackId, int32_t insertIndex)
    : trackId_(trackId), insertIndex_(insertIndex) {}

InsertSlot *ToggleInsertBypassCommand::findInsert(const Project &project) const {
    return insertOf(project, trackId_, insertIndex_);
}

void ToggleInsertBypassCommand::redo(Project &project) {
    InsertSlot *insert = findInsert(project);
    if (!insert) return;
    before_.capture(insert->bypassed);
    insert->bypassed = !insert->bypassed;
    reportInsertEdit();
}

void ToggleInsertBypassCommand::undo(Project &project) {
    InsertSlot *insert = findInsert(project);
    if (insert && before_.restoreInto(insert->bypassed)) reportInsertEdit();
}

std::string ToggleInsertBypassCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Bypass FX");
}

SetStockEffectSettingsCommand::SetStockEffectSettingsCommand(uint64_t trackId, int32_t insertIndex,
                                                             std::vector<float> values)
    : trackId_(trackId), insertIndex_(insertIndex), values_(std::move(values)) {}

InsertSlot *SetStockEffectSettingsCommand::findInsert(const Project &project) const {
    InsertSlot *insert = insertOf(project, trackId_, insertIndex_);
    return insert && insert->isStock && !stockParametersOf(insert->pluginId).empty() ? insert
                                                                                     : nullptr;
}

void SetStockEffectSettingsCommand::redo(Project &project) {
    InsertSlot *insert = findInsert(project);
    if (!insert) return;
    const auto parameters = stockParametersOf(insert->pluginId);
    // Missing values keep what is stored; every value is kept within its range, and one that
    // is no number falls back to the stored or default value rather than reach the audio.
    std::vector<float> values = stockSettingsOf(*insert).value_or(std::vector<float>{});
    if (values.empty())
        for (const StockParameter &parameter : parameters)
            values.push_back(parameter.defaultValue);
    for (std::size_t i = 0; i < parameters.size() && i < values_.size(); ++i)
        if (std::isfinite(values_[i]))
            values[i] = std::clamp(values_[i], parameters[i].minimum, parameters[i].maximum);
    before_.capture(insert->state);
    insert->state = encodeStockSettings(insert->pluginId, values);
}

void SetStockEffectSettingsCommand::undo(Project &project) {
    if (InsertSlot *insert = findInsert(project)) before_.restoreInto(insert->state);
}

std::string SetStockEffectSettingsCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Effect Settings");
}

SetPluginParameterCommand::SetPluginParameterCommand(uint64_t trackId, int32_t insertIndex,
                                                     uint32_t parameterId, float oldValue,
                                                     float newValue)
    : trackId_(trackId), insertIndex_(insertIndex), parameterId_(parameterId), oldValue_(oldValue),
      newValue_(newValue) {}

InsertSlot *SetPluginParameterCommand::findInsert(const Project &project) const {
    InsertSlot *insert = insertOf(project, trackId_, insertIndex_);
    return insert && !insert->isStock ? insert : nullptr;
}

PluginParameterAddress SetPluginParameterCommand::address() const {
    return {trackId_, insertIndex_, parameterId_};
}

void SetPluginParameterCommand::redo(Project &project) {
    InsertSlot *insert = findInsert(project);
    if (!insert || !std::isfinite(newValue_) || !std::isfinite(oldValue_)) return;
    std::optional<std::vector<uint8_t>> state =
        applyPluginParameter(address(), std::clamp(newValue_, 0.0f, 1.0f));
    if (!state) return;
    before_.capture(insert->state);
    insert->state = std::move(*state);
}

void SetPluginParameterCommand::undo(Project &project) {
    InsertSlot *insert = findInsert(project);
    if (!insert || !before_.captured()) return;
    applyPluginParameter(address(), std::clamp(oldValue_, 0.0f, 1.0f));
    before_.restoreInto(insert->state);
}

std::string SetPluginParameterCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Plug-in Parameter");
}

SetControlRoomCommand::SetControlRoomCommand(ControlRoomSettings settings) : settings_(settings) {}

void SetControlRoomCommand::redo(Project &project) {
    if (!std::isfinite(settings_.masterGain) || !std::isfinite(settings_.cueGain)) return;
    before_.capture(project.controlRoom);
    project.controlRoom = settings_;
}

void SetControlRoomCommand::undo(Project &project) { before_.restoreInto(project.controlRoom); }

std::string SetControlRoomCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Control Room");
}

SetLowLatencyModeCommand::SetLowLatencyModeCommand(bool on) : on_(on) {}

void SetLowLatencyModeCommand::redo(Project &project) {
    before_.capture(project.lowLatencyMode);
    project.lowLatencyMode = on_;
}

void SetLowLatencyModeCommand::undo(Project &project) {
    before_.restoreInto(project.lowLatencyMode);
}

std::string SetLowLatencyModeCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Low Latency Mode");
}

} // namespace orvane
