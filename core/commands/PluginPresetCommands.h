#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

/// "Load Preset": gives the plug-in of an insert the state of a preset of plug-in `pluginId`.
/// The live plug-in takes it through the plug-in state hook, in this process or in its helper,
/// and the insert keeps the state the plug-in has afterwards, so that saving keeps the result;
/// without a hook the insert keeps the preset's state, which its plug-in takes when the rack
/// next restores it. A plug-in that refuses the state, a built-in insert, an insert of another
/// plug-in and an empty state change nothing. Undo gives the plug-in and the insert the state
/// they had before.
class LoadPluginPresetCommand : public Command {
  public:
    LoadPluginPresetCommand(uint64_t trackId, int32_t insertIndex, std::string pluginId,
                            std::vector<uint8_t> presetState);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    InsertSlot *findInsert(const Project &project) const;

    uint64_t trackId_;
    int32_t insertIndex_;
    std::string pluginId_;
    std::vector<uint8_t> presetState_;
    CapturedValue<std::vector<uint8_t>> before_;
    bool applied_ = false;
};

} // namespace orvane
