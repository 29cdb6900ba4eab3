#include "core/commands/PluginPresetCommands.h"

#include "core/commands/InsertEdits.h"
#include "core/commands/InsertListCommands.h"
#include "core/model/Translate.h"

#include <utility>

namespace orvane {

LoadPluginPresetCommand::LoadPluginPresetCommand(uint64_t trackId, int32_t insertIndex,
                                                 std::string pluginId,
                                                 std::vector<uint8_t> presetState)
    : trackId_(trackId), insertIndex_(insertIndex), pluginId_(std::move(pluginId)),
      presetState_(std::move(presetState)) {}

InsertSlot *LoadPluginPresetCommand::findInsert(const Project &project) const {
    const auto track = project.findTrack(trackId_);
    if (!track || insertIndex_ < 0 ||
        static_cast<std::size_t>(insertIndex_) >= track->inserts.size())
        return nullptr;
    InsertSlot &insert = track->inserts[static_cast<std::size_t>(insertIndex_)];
    return !insert.isStock && insert.pluginId == pluginId_ ? &insert : nullptr;
}

void LoadPluginPresetCommand::redo(Project &project) {
    applied_ = false;
    if (presetState_.empty() || !findInsert(project)) return;
    // What the plug-in was set to by hand since the insert last kept its state is part of
    // what an undo must give back.
    if (!before_.captured()) saveInsertStates();
    InsertSlot *insert = findInsert(project);
    if (!insert) return;
    std::vector<uint8_t> after = presetState_;
    if (pluginStateHookSet()) {
        auto taken = applyPluginState(trackId_, insertIndex_, presetState_);
        if (!taken) return;
        after = std::move(*taken);
    }
    before_.capture(insert->state);
    insert->state = std::move(after);
    applied_ = true;
}

void LoadPluginPresetCommand::undo(Project &project) {
    InsertSlot *insert = findInsert(project);
    if (!insert || !applied_ || !before_.captured()) return;
    if (pluginStateHookSet()) (void)applyPluginState(trackId_, insertIndex_, before_.value());
    before_.restoreInto(insert->state);
    applied_ = false;
}

std::string LoadPluginPresetCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Load Preset");
}

} // namespace orvane
