#pragma once

#include "app/shell/WorkspaceServices.h"
#include "core/model/MidiMappings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

class OVMainView;

/// Learned MIDI controllers on the main thread. Learning waits for the first controller that
/// moves and makes it the target's mapping as one "MIDI Learn" edit; every user-interface tick
/// turns what the audio thread moved into the project (volume, pan, sends and built-in
/// settings directly, a plug-in's parameter through the rack, whose state the project then
/// keeps), so that the window and a save follow. A controller's moves are playing, not
/// editing: they make the document unsaved but fill no undo history. Main thread only.
class MidiLearning {
  public:
    MidiLearning(const WorkspaceServices &services, OVMainView &view);

    /// Waits for a controller for `target` (its track, lane and parameter), named
    /// `controlName` on the status line; replaces a wait in progress.
    void learn(const MidiMapping &target, const std::string &controlName);
    /// Stops waiting; the status line says so. Nothing happens when nothing waits.
    void cancel();
    bool waiting() const { return pending.has_value(); }

    /// The mapping of the target that `target` names (its track, lane and parameter), if any.
    std::optional<MidiMapping> mappingOf(const MidiMapping &target) const;
    /// Removes that mapping as one "Remove MIDI Mapping" edit; false when there is none.
    bool forget(const MidiMapping &target);
    /// Removes exactly `mapping` as one undoable edit.
    void remove(const MidiMapping &mapping);

    /// Once per user-interface tick.
    void onUiTick();
    /// Counts the ticks that moved a value or learned a mapping, so that a panel refreshes
    /// only when something changed.
    uint64_t changes() const { return changeCount; }

  private:
    void finishLearning();
    bool applyMoved();

    WorkspaceServices services;
    OVMainView &view;
    std::optional<MidiMapping> pending;
    std::string pendingName;
    uint64_t changeCount = 0;
};

} // namespace orvane
