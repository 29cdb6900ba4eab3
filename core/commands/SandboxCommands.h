#pragma once

#include "core/commands/InsertEdits.h"
#include "core/commands/TrackCommands.h"

namespace orvane {

/// "Sandbox Grouping": whether a track's sandboxed inserts run in one helper each or share
/// one helper for the track. Reported as an insert edit: the rack regroups only after one.
class SetTrackSandboxGroupingCommand : public TrackSettingCommand<SandboxGrouping> {
  public:
    SetTrackSandboxGroupingCommand(uint64_t trackId, SandboxGrouping grouping)
        : TrackSettingCommand(QT_TRANSLATE_NOOP("Command", "Sandbox Grouping"), trackId,
                              &Track::sandboxGrouping, grouping) {}
    void redo(Project &project) override {
        TrackSettingCommand::redo(project);
        reportInsertEdit();
    }
    void undo(Project &project) override {
        TrackSettingCommand::undo(project);
        reportInsertEdit();
    }
};

} // namespace orvane
