#pragma once

#include "core/commands/Command.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orvane {

/// Edits of a track's insert list. Each one keeps the plug-in rack in step through the
/// `InsertListHooks`: states saved before the list changes, the rack rebuilt after.
class InsertListCommand : public Command {
  protected:
    explicit InsertListCommand(uint64_t trackId);

    /// Saves the plug-ins' states, runs `edit` on the track's list and, when it changed
    /// anything, rebuilds the rack. False when the track is missing or nothing changed.
    template <class Edit> bool editInserts(Project &project, Edit edit);

    uint64_t trackId_;
};

/// "Add Insert": an insert put into a track's list at `index` (the end when past it).
class AddInsertCommand : public InsertListCommand {
  public:
    AddInsertCommand(uint64_t trackId, InsertSlot added, std::size_t index);

    /// For an insert the rack has already loaded and put at `index`: executing the command
    /// changes nothing until an undo takes the insert away, and a redo puts the same record
    /// back.
    static std::unique_ptr<AddInsertCommand> recordLoaded(uint64_t trackId, InsertSlot added,
                                                          std::size_t index);

    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    InsertSlot added_;
    std::size_t index_;
    bool applied_ = false;
};

/// "Remove Insert".
class RemoveInsertCommand : public InsertListCommand {
  public:
    RemoveInsertCommand(uint64_t trackId, int32_t insertIndex);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int32_t index_;
    std::optional<InsertSlot> removed_;
};

/// "Move Insert": the insert changes places with the one `offset` places away (-1 = earlier).
class MoveInsertCommand : public InsertListCommand {
  public:
    MoveInsertCommand(uint64_t trackId, int32_t insertIndex, int32_t offset);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    [[nodiscard]] bool swap(Project &project);

    int32_t index_;
    int32_t offset_;
    bool applied_ = false;
};

/// "Run in Process": whether plug-ins run in the application instead of in helpers, for one
/// insert (`insertIndex` 0 or more), all of a track's (`insertIndex` below 0) or the whole
/// song's (`trackId` 0). The rack loads the plug-ins it touches again, in their new place and
/// with the states they had.
class SetPluginsInProcessCommand : public Command {
  public:
    SetPluginsInProcessCommand(uint64_t trackId, int32_t insertIndex, bool inProcess);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    bool *choiceIn(Project &project) const;
    void choose(Project &project, bool inProcess);

    uint64_t trackId_;
    int32_t insertIndex_;
    bool inProcess_;
    std::optional<bool> before_;
};

} // namespace orvane
