#pragma once

#include "core/commands/Command.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace orvane {

/// The undo history of the open project: executed commands on one pile, undone ones on the
/// other. Not synchronised: callers hold the engine's project mutex and publish the graph
/// themselves after each step.
class CommandStack {
  public:
    /// Called before each step with the verb ("execute", "undo" or "redo") and the command name.
    using AuditHook = std::function<void(const char *verb, const char *name)>;

    static constexpr std::size_t maxUndoSteps = 256;

    /// Shared by every stack of the process; an empty callable switches auditing off.
    static void setAuditHook(AuditHook hook);

    /// Runs `command` and makes it the newest undo step; any redo history is discarded.
    void execute(Project &project, std::unique_ptr<Command> command);
    void undo(Project &project);
    void redo(Project &project);
    /// Destroys both piles, for example after a new project was opened.
    void clear();

    /// Name of the step `undo` would revert; empty when there is none.
    std::string undoName() const;
    /// Name of the step `redo` would re-apply; empty when there is none.
    std::string redoName() const;

  private:
    static void report(const char *verb, const Command &command);

    std::deque<std::unique_ptr<Command>> undoPile_;
    std::deque<std::unique_ptr<Command>> redoPile_;
    static AuditHook s_auditHook_;
};

} // namespace orvane
