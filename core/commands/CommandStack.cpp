#include "core/commands/CommandStack.h"

#include <utility>

namespace orvane {

CommandStack::AuditHook CommandStack::s_auditHook_;

void CommandStack::setAuditHook(AuditHook hook) { s_auditHook_ = std::move(hook); }

void CommandStack::report(const char *verb, const Command &command) {
    if (!s_auditHook_) return;
    // A copy keeps the callable alive even if the hook replaces itself while it runs.
    const AuditHook hook = s_auditHook_;
    const std::string name = command.name();
    hook(verb, name.c_str());
}

void CommandStack::execute(Project &project, std::unique_ptr<Command> command) {
    if (!command) return;
    report("execute", *command);
    command->redo(project);
    undoPile_.push_back(std::move(command));
    redoPile_.clear();
    while (undoPile_.size() > maxUndoSteps)
        undoPile_.pop_front();
}

void CommandStack::undo(Project &project) {
    if (undoPile_.empty()) return;
    std::unique_ptr<Command> command = std::move(undoPile_.back());
    undoPile_.pop_back();
    report("undo", *command);
    command->undo(project);
    redoPile_.push_back(std::move(command));
}

void CommandStack::redo(Project &project) {
    if (redoPile_.empty()) return;
    std::unique_ptr<Command> command = std::move(redoPile_.back());
    redoPile_.pop_back();
    report("redo", *command);
    command->redo(project);
    undoPile_.push_back(std::move(command));
}

void CommandStack::clear() {
    undoPile_.clear();
    redoPile_.clear();
}

std::string CommandStack::undoName() const {
    return undoPile_.empty() ? std::string() : undoPile_.back()->name();
}

std::string CommandStack::redoName() const {
    return redoPile_.empty() ? std::string() : redoPile_.back()->name();
}

} // namespace orvane
