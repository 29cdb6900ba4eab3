#pragma once

#include "core/model/Project.h"
#include "core/model/Translate.h"

#include <memory>
#include <string>
#include <vector>

namespace orvane {

/// One undoable edit of the project. A command stores ids, positions and indices only and looks
/// its targets up again on every call, so it stays valid however the project changed around it;
/// a missing target makes the call a silent no-op.
class Command {
  public:
    virtual ~Command() = default;
    /// Applies the edit; the first execution is a redo as well.
    virtual void redo(Project &project) = 0;
    virtual void undo(Project &project) = 0;
    /// The display name, for example "Split Clip": English, as the audit log records it, and
    /// marked for the catalogue in the "Command" context; `shownCommandName` gives the one a
    /// user reads.
    virtual std::string name() const = 0;
};

/// The name of an edit as the undo menu and the status line show it: `name` (a command's
/// `name()`) in the language in use.
std::string shownCommandName(const std::string &name);

/// Several edits made as one step, with one name in the history ("Delete Clips", "Paste"):
/// redo runs them in order, undo undoes them in reverse.
class EditGroupCommand : public Command {
  public:
    EditGroupCommand(std::string displayName, std::vector<std::unique_ptr<Command>> steps);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::string displayName_;
    std::vector<std::unique_ptr<Command>> steps_;
};

/// A member-wise copy of `clip`. It shares the clip's samples: buffers are immutable, and a
/// mapped media file is never copied into the heap for an undo record.
std::shared_ptr<Clip> cloneClipForUndo(const Clip &clip);

} // namespace orvane
