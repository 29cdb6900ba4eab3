#include "core/commands/Command.h"

#include <utility>
#include <vector>

namespace orvane {

std::shared_ptr<Clip> cloneClipForUndo(const Clip &clip) {
    auto copy = std::make_shared<Clip>(clip);
    return copy;
}

EditGroupCommand::EditGroupCommand(std::string displayName,
                                   std::vector<std::unique_ptr<Command>> steps)
    : displayName_(std::move(displayName)), steps_(std::move(steps)) {
    std::erase(steps_, nullptr);
}

void EditGroupCommand::redo(Project &project) {
    for (const auto &step : steps_)
        step->redo(project);
}

void EditGroupCommand::undo(Project &project) {
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step)
        (*step)->undo(project);
}

std::string EditGroupCommand::name() const { return displayName_; }

std::string shownCommandName(const std::string &name) { return translate("Command", name.c_str()); }

} // namespace orvane
