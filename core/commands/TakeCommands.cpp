#include "core/commands/TakeCommands.h"

#include "core/commands/ClipPlacement.h"

namespace orvane {

namespace {

bool sameTakeGroup(const Clip &chosen, const Clip &other) {
    return !chosen.isSessionClip() && !other.isSessionClip() &&
           chosen.arrangeStart == other.arrangeStart && chosen.kind == other.kind;
}

std::shared_ptr<Clip> findCopy(const std::vector<std::shared_ptr<Clip>> &copies, uint64_t id) {
    for (const auto &copy : copies)
        if (copy->id == id) return copy;
    return nullptr;
}

} // namespace

std::vector<std::shared_ptr<Clip>> takeGroup(const Track &track, const Clip &clip) {
    std::vector<std::shared_ptr<Clip>> group;
    for (const auto &candidate : track.clips)
        if (candidate && (candidate.get() == &clip || sameTakeGroup(clip, *candidate)))
            group.push_back(candidate);
    return group;
}

SetTakeActiveCommand::SetTakeActiveCommand(uint64_t clipId) : clipId_(clipId) {}

void SetTakeActiveCommand::redo(Project &project) {
    const auto chosen = project.findClip(clipId_);
    if (!chosen) return;
    const auto track = project.findTrack(chosen->trackId);
    if (!track) return;
    const auto group = takeGroup(*track, *chosen);
    if (!captured_) {
        for (const auto &take : group)
            previousActive_.emplace_back(take->id, take->takeActive);
        captured_ = true;
    }
    for (const auto &take : group)
        take->takeActive = take == chosen;
}

void SetTakeActiveCommand::undo(Project &project) {
    for (const auto &[id, active] : previousActive_)
        if (const auto take = project.findClip(id)) take->takeActive = active;
}

std::string SetTakeActiveCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Select Take");
}

FlattenCompCommand::FlattenCompCommand(uint64_t clipId) : clipId_(clipId) {}

void FlattenCompCommand::redo(Project &project) {
    flattened_ = false;
    const auto chosen = project.findClip(clipId_);
    if (!chosen) return;
    const auto track = project.findTrack(chosen->trackId);
    if (!track) return;
    auto others = takeGroup(*track, *chosen);
    std::erase(others, chosen);
    if (!captured_) {
        previousTakeLane_ = chosen->takeLane;
        previousTakeActive_ = chosen->takeActive;
        for (const auto &take : others)
            takeCopies_.push_back(cloneClipForUndo(*take));
        captured_ = true;
    }
    removedTakes_.clear();
    for (const auto &take : others)
        removedTakes_.push_back({clipIndex(*track, take->id).value_or(0), take->id});
    for (const auto &take : others)
        project.removeClip(take->id);
    chosen->takeLane = 0;
    chosen->takeActive = true;
    flattened_ = true;
}

void FlattenCompCommand::undo(Project &project) {
    if (!flattened_) return;
    const auto chosen = project.findClip(clipId_);
    if (!chosen) return;
    const auto track = project.findTrack(chosen->trackId);
    if (!track) return;
    // Ascending indices, each taken before anything was removed, rebuild the old order.
    for (const RemovedTake &removed : removedTakes_)
        if (auto copy = findCopy(takeCopies_, removed.clipId))
            insertClipAt(*track, std::move(copy), removed.index);
    chosen->takeLane = previousTakeLane_;
    // Restoring the flag as well keeps one sounding take per group when another take was the
    // active one before the flatten.
    chosen->takeActive = previousTakeActive_;
    flattened_ = false;
}

std::string FlattenCompCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Flatten Comp");
}

} // namespace orvane
