#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orvane {

class OVApplication;
namespace vst {
class PluginRack;
}

// Edits the mixer panel makes beyond the catalogue's own mixer commands. Values that are not
// numbers are refused, as the other mixer commands refuse them: they would reach the audio.

/// "Channel EQ": replaces the whole 8-band EQ of a track, or of the master bus when the track
/// id is 0 (ids start at 1, so 0 never names a track).
class SetChannelEqCommand : public Command {
  public:
    SetChannelEqCommand(uint64_t trackId, ChannelEq8 eq);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    ChannelEq8 *target(Project &project) const;

    uint64_t trackId_;
    ChannelEq8 eq_;
    CapturedValue<ChannelEq8> before_;
};

/// "Mastering": the master bus's mastering settings.
class SetMasteringCommand : public Command {
  public:
    explicit SetMasteringCommand(MasteringUtility settings);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    MasteringUtility settings_;
    CapturedValue<MasteringUtility> before_;
};

/// What an insert edit adds: a stock processor by id, or a VST 3 plug-in by bundle and uid.
struct InsertChoice {
    bool isStock = true;
    std::string pluginId; // stock id or plug-in uid
    std::string bundlePath;
};

/// Insert-list edits keep the rack in step: the rack numbers its plug-ins by their place in
/// the track's list, so after the list changes it rebuilds them from the project's records
/// (each plug-in's state having been saved into its record first, so nothing the user set is
/// lost on the way).
class InsertListCommand : public Command {
  public:
    InsertListCommand(vst::PluginRack &rack, uint64_t trackId);

  protected:
    /// Saves the plug-ins' states, runs `edit` on the track's list and rebuilds the rack.
    /// False when the track is missing.
    template <class Edit> bool editInserts(Project &project, Edit edit);

    vst::PluginRack &rack_;
    uint64_t trackId_;
};

/// "Add Insert": a stock or VST 3 insert appended to a track. The rack loads it first (see
/// `load`); the command then only records it, so executing it changes nothing until an undo
/// takes the insert away, and a redo puts the same record back.
class AddInsertCommand : public InsertListCommand {
  public:
    /// Loads the insert through the rack (project lock held); none, with nothing added, when
    /// the track is missing or the rack cannot load the plug-in.
    static std::unique_ptr<AddInsertCommand> load(vst::PluginRack &rack, Project &project,
                                                  uint64_t trackId, const InsertChoice &choice);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    AddInsertCommand(vst::PluginRack &rack, uint64_t trackId, InsertSlot added, std::size_t index);

    InsertSlot added_;
    std::size_t index_;
    bool applied_ = true;
};

/// Loads an insert onto a track as one undoable edit of the application; false, with the
/// reason in the status line, when nothing could be loaded.
bool executeAddInsert(OVApplication &application, uint64_t trackId, const InsertChoice &choice);

/// "Remove Insert".
class RemoveInsertCommand : public InsertListCommand {
  public:
    RemoveInsertCommand(vst::PluginRack &rack, uint64_t trackId, int32_t insertIndex);
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
    MoveInsertCommand(vst::PluginRack &rack, uint64_t trackId, int32_t insertIndex, int32_t offset);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    bool swap(Project &project);

    int32_t index_;
    int32_t offset_;
    bool applied_ = false;
};

} // namespace orvane
