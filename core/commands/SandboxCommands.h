#pragma once

#include "core/commands/TrackCommands.h"

namespace orvane {

/// "Sandbox Grouping": whether a track's sandboxed inserts run in one helper each or share
/// one helper for the track.
class SetTrackSandboxGroupingCommand : public TrackSettingCommand<SandboxGrouping> {
  public:
    SetTrackSandboxGroupingCommand(uint64_t trackId, SandboxGrouping grouping)
        : TrackSettingCommand(QT_TRANSLATE_NOOP("Command", "Sandbox Grouping"), trackId,
                              &Track::sandboxGrouping, grouping) {}
};

} // namespace orvane
