#pragma once

#include "core/commands/Command.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orvane {

/// The takes of `clip`'s group on `track`: the clip itself and every other arrangement clip of
/// the same kind with the same start, in the track's order.
std::vector<std::shared_ptr<Clip>> takeGroup(const Track &track, const Clip &clip);

/// "Select Take": the chosen take sounds, every other take of its group is silenced.
class SetTakeActiveCommand : public Command {
  public:
    explicit SetTakeActiveCommand(uint64_t clipId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    std::vector<std::pair<uint64_t, bool>> previousActive_;
    bool captured_ = false;
};

/// "Flatten Comp": keeps the chosen take on lane 0 and removes the other takes of its group.
class FlattenCompCommand : public Command {
  public:
    explicit FlattenCompCommand(uint64_t clipId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    struct RemovedTake {
        std::size_t index = 0;
        uint64_t clipId = 0;
    };

    uint64_t clipId_;
    std::vector<std::shared_ptr<Clip>> takeCopies_;
    std::vector<RemovedTake> removedTakes_;
    int32_t previousTakeLane_ = 0;
    bool previousTakeActive_ = true;
    bool captured_ = false;
    bool flattened_ = false;
};

} // namespace orvane
