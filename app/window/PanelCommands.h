#pragma once

#include "core/commands/EqAndMasteringCommands.h"
#include "core/commands/InsertListCommands.h"

#include <cstdint>
#include <memory>
#include <string>

namespace orvane {

class OVApplication;
namespace vst {
class PluginRack;
}

/// What an insert edit adds: a stock processor by id, or a VST 3 plug-in by bundle and uid.
struct InsertChoice {
    bool isStock = true;
    std::string pluginId; // stock id or plug-in uid
    std::string bundlePath;
};

/// Loads the insert through the rack (project lock held) and returns the command that records
/// it; none, with nothing added, when the track is missing or the rack cannot load the plug-in.
std::unique_ptr<AddInsertCommand> loadInsert(vst::PluginRack &rack, Project &project,
                                             uint64_t trackId, const InsertChoice &choice);

/// Loads an insert onto a track as one undoable edit of the application; false, with the
/// reason in the status line, when nothing could be loaded.
[[nodiscard]] bool executeAddInsert(OVApplication &application, uint64_t trackId,
                                    const InsertChoice &choice);

} // namespace orvane
