#include "core/commands/InsertListCommands.h"

#include "core/commands/InsertEdits.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace orvane {

InsertListCommand::InsertListCommand(uint64_t trackId) : trackId_(trackId) {}

template <class Edit> bool InsertListCommand::editInserts(Project &project, Edit edit) {
    const auto track = project.findTrack(trackId_);
    if (!track) return false;
    saveInsertStates();
    const bool changed = edit(track->inserts);
    if (changed) rebuildInserts();
    return changed;
}

AddInsertCommand::AddInsertCommand(uint64_t trackId, InsertSlot added, std::size_t index)
    : InsertListCommand(trackId), added_(std::move(added)), index_(index) {}

std::unique_ptr<AddInsertCommand> AddInsertCommand::recordLoaded(uint64_t trackId, InsertSlot added,
                                                                 std::size_t index) {
    auto command = std::make_unique<AddInsertCommand>(trackId, std::move(added), index);
    command->applied_ = true;
    return command;
}

void AddInsertCommand::redo(Project &project) {
    if (applied_) return;
    applied_ = editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        // The place it really went, so that the undo takes away this insert and no other.
        index_ = std::min(index_, inserts.size());
        inserts.insert(inserts.begin() + static_cast<std::ptrdiff_t>(index_), added_);
        return true;
    });
}

void AddInsertCommand::undo(Project &project) {
    if (!applied_) return;
    editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        if (index_ >= inserts.size()) return false;
        inserts.erase(inserts.begin() + static_cast<std::ptrdiff_t>(index_));
        return true;
    });
    applied_ = false;
}

std::string AddInsertCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Add Insert"); }

RemoveInsertCommand::RemoveInsertCommand(uint64_t trackId, int32_t insertIndex)
    : InsertListCommand(trackId), index_(insertIndex) {}

void RemoveInsertCommand::redo(Project &project) {
    if (removed_) return;
    editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        if (index_ < 0 || index_ >= static_cast<int32_t>(inserts.size())) return false;
        const auto at = inserts.begin() + index_;
        removed_ = std::move(*at);
        inserts.erase(at);
        return true;
    });
}

void RemoveInsertCommand::undo(Project &project) {
    if (!removed_) return;
    editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        const auto at = std::min(static_cast<std::size_t>(index_), inserts.size());
        inserts.insert(inserts.begin() + static_cast<std::ptrdiff_t>(at), std::move(*removed_));
        return true;
    });
    removed_.reset();
}

std::string RemoveInsertCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Remove Insert");
}

MoveInsertCommand::MoveInsertCommand(uint64_t trackId, int32_t insertIndex, int32_t offset)
    : InsertListCommand(trackId), index_(insertIndex), offset_(offset) {}

bool MoveInsertCommand::swap(Project &project) {
    return editInserts(project, [&](std::vector<InsertSlot> &inserts) {
        const int32_t count = static_cast<int32_t>(inserts.size());
        const int32_t other = index_ + offset_;
        if (offset_ == 0 || index_ < 0 || index_ >= count || other < 0 || other >= count)
            return false;
        std::swap(inserts[static_cast<std::size_t>(index_)],
                  inserts[static_cast<std::size_t>(other)]);
        return true;
    });
}

void MoveInsertCommand::redo(Project &project) {
    if (!applied_) applied_ = swap(project);
}

void MoveInsertCommand::undo(Project &project) {
    if (applied_) applied_ = !swap(project);
}

std::string MoveInsertCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Move Insert"); }

SetPluginsInProcessCommand::SetPluginsInProcessCommand(uint64_t trackId, int32_t insertIndex,
                                                       bool inProcess)
    : trackId_(trackId), insertIndex_(insertIndex), inProcess_(inProcess) {}

bool *SetPluginsInProcessCommand::choiceIn(Project &project) const {
    if (trackId_ == 0) return &project.pluginsInProcess;
    const auto track = project.findTrack(trackId_);
    if (!track) return nullptr;
    if (insertIndex_ < 0) return &track->pluginsInProcess;
    if (insertIndex_ >= static_cast<int32_t>(track->inserts.size())) return nullptr;
    InsertSlot &insert = track->inserts[static_cast<std::size_t>(insertIndex_)];
    return insert.isStock ? nullptr : &insert.inProcess; // built-in effects run here anyway
}

void SetPluginsInProcessCommand::choose(Project &project, bool inProcess) {
    bool *choice = choiceIn(project);
    if (!choice || *choice == inProcess) return;
    saveInsertStates();
    *choice = inProcess;
    rebuildInserts();
}

void SetPluginsInProcessCommand::redo(Project &project) {
    if (const bool *choice = choiceIn(project)) before_ = *choice;
    if (before_) choose(project, inProcess_);
}

void SetPluginsInProcessCommand::undo(Project &project) {
    if (before_) choose(project, *before_);
}

std::string SetPluginsInProcessCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Run in Process");
}

} // namespace orvane
