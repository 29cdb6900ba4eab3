#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"
#include "core/model/AutomationLanes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Automation lanes by number: 0 volume, 1 pan, 2 mute, 3 the parameter automation of the
// track's first VST 3 insert, `firstInsertLane` + i the parameter automation of insert i
// (built-in or plug-in); any other number is lane 0. A lane of an insert the track lacks
// edits a scratch list, so the command changes nothing. An edit of a plug-in's lane is
// reported through `reportInsertEdit`, because the plug-in rack hears it only once it
// republishes. Values that are not numbers are refused: they would reach the audio as NaN.

/// The most inserts a lane number reaches.
constexpr int32_t insertLaneCount = 64;

/// The insert whose parameter automation `lane` selects, or none for the mixer's lanes.
std::optional<std::size_t> insertIndexOfLane(int32_t lane);

/// The point list a lane number selects, or null for lane 3 on a track without a VST 3 insert
/// and for the lane of an insert the track lacks.
const std::vector<AutomationPoint> *automationLaneOf(const Track &track, int32_t lane);

/// "Automation Parameter": which parameter of insert `insertIndex` its lane drives (the
/// plug-in's parameter id, or a built-in effect's parameter index). The points stay.
class SetInsertAutomationParameterCommand : public Command {
  public:
    SetInsertAutomationParameterCommand(uint64_t trackId, std::size_t insertIndex,
                                        uint32_t parameterId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    std::size_t insertIndex_;
    uint32_t parameterId_;
    CapturedValue<uint32_t> before_;
};

/// "Automation": sets or adds one point, inside an automation clip of the lane when one
/// covers the position (at the position relative to the clip's start), else in the lane.
class SetAutomationPointCommand : public Command {
  public:
    SetAutomationPointCommand(uint64_t trackId, int32_t lane, int64_t position, float value);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    int32_t lane_;
    int64_t position_;
    float value_;
    CapturedValue<std::vector<AutomationPoint>> pointsBefore_;
    CapturedValue<std::vector<AutomationClip>> clipsBefore_;
};

/// "Move Automation": moves a point of the lane itself (never one inside an automation clip)
/// and gives it the value.
class MoveAutomationPointCommand : public Command {
  public:
    MoveAutomationPointCommand(uint64_t trackId, int32_t lane, int64_t from, int64_t to,
                               float value);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    int32_t lane_;
    int64_t from_;
    int64_t to_;
    float value_;
    CapturedValue<std::vector<AutomationPoint>> pointsBefore_;
};

/// "Delete Automation": removes the lane's own point at `position` (never one inside an
/// automation clip).
class RemoveAutomationPointCommand : public Command {
  public:
    RemoveAutomationPointCommand(uint64_t trackId, int32_t lane, int64_t position);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    int32_t lane_;
    int64_t position_;
    CapturedValue<std::vector<AutomationPoint>> pointsBefore_;
};

/// The points one drag of a mixer control wrote, undone and redone as one step ("Automation").
class WriteAutomationPassCommand : public Command {
  public:
    WriteAutomationPassCommand() = default;
    /// Points not yet applied: the first redo applies them in order.
    explicit WriteAutomationPassCommand(
        std::vector<std::unique_ptr<SetAutomationPointCommand>> points);

    /// Applies `point` at once and keeps it; the pass's first redo applies nothing new.
    void add(Project &project, std::unique_ptr<SetAutomationPointCommand> point);
    bool empty() const { return points_.empty(); }
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::vector<std::unique_ptr<SetAutomationPointCommand>> points_;
};

/// "Automation Clip": a two-point clip, flat at 0 for pan, flat at 1 for mute and a ramp
/// from 1 to 0.5 otherwise. Its id comes from the clip counter; a redo after an undo draws a
/// fresh one.
class AddAutomationClipCommand : public Command {
  public:
    AddAutomationClipCommand(uint64_t trackId, int32_t lane, int64_t start, int64_t length);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    int32_t lane_;
    int64_t start_;
    int64_t length_;
    uint64_t createdId_ = 0;
    bool created_ = false;
};

} // namespace orvane
