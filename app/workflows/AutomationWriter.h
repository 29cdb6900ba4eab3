#pragma once

#include "app/shell/WorkspaceServices.h"
#include "core/commands/AutomationCommands.h"
#include "core/model/Project.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

class OVMainView;

/// Lanes the mixer writes: the track's gain and its pan.
constexpr int32_t gainAutomationLane = 0;
constexpr int32_t panAutomationLane = 1;

/// Whether moving a control of `trackId` writes a point in `mode`: never in Read; in Touch
/// and Latch only while playing, and in Latch only on the track holding the latch (the first
/// one written takes it); always in Write, stopped or not.
bool automationPointDue(AutomationWriteMode mode, bool playing, uint64_t trackId,
                        uint64_t &latchTrackId);

/// Writes the value as a point of `lane` at the playhead through the command stack when the
/// mode asks for one, and publishes the graph; true when a point was written. Nothing without
/// an engine, a command stack or a track.
bool HVWriteMixerAutomationIfNeeded(Project &project, Engine *engine, CommandStack *commandStack,
                                    uint64_t trackId, int32_t lane, float value,
                                    AutomationWriteMode mode, uint64_t &latchTrackId);

/// The view's automation state and actions: write mode, latch, the lane the timeline edits,
/// and the writing that follows a drag of a track's gain or pan control. Main thread only.
class AutomationTools {
  public:
    AutomationTools(const WorkspaceServices &services, OVMainView &view);
    ~AutomationTools();

    uint64_t automationLatchTrackId = 0;
    /// 0 none, 1 volume, 2 pan, 3 mute, 4 plug-in parameter; above, one more than the lane
    /// number of an insert's parameter lane.
    uint8_t automationLaneMode = 0;

    void cycleAutomationWriteMode();
    void cycleAutomationLane();
    /// The same as cycling until `mode` (or `lane`) is reached, in one step.
    void setAutomationWriteMode(AutomationWriteMode mode);
    void setAutomationLane(uint8_t lane);
    /// Shows the parameter lane of insert `insertIndex`, named `laneName` on the status line
    /// ("Compressor: Threshold").
    void showInsertLane(std::size_t insertIndex, std::string_view laneName);

    /// A drag of a gain or pan control of `trackId` starts; remembers both values.
    void beginMixerDrag(uint64_t trackId);
    /// After each change of the dragged value (lane 0 gain, 1 pan).
    void mixerValueChanged(uint64_t trackId, int32_t lane, float value);
    /// On release with the final values: each that differs from the drag's start is written,
    /// and every point of the drag becomes one undo step. True when any point was written.
    bool endMixerDrag(uint64_t trackId, float gain, float pan);

  private:
    bool writeIntoPass(uint64_t trackId, int32_t lane, float value);

    WorkspaceServices services;
    OVMainView &view;
    std::unique_ptr<WriteAutomationPassCommand> pass;
    uint64_t dragTrackId = 0;
    float dragStartGain = 1.0f;
    float dragStartPan = 0.0f;
};

} // namespace orvane
