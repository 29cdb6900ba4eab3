#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

// Automation lanes by number: 0 volume, 1 pan, 2 mute, 3 the parameter automation of the
// track's first VST 3 insert; any other number is lane 0. Lane 3 on a track without such an
// insert edits a scratch list, so the command changes nothing. An edit of lane 3 is reported
// through `reportInsertEdit`, because the plug-in rack hears it only once it republishes.
// Values that are not numbers are refused: they would reach the audio as NaN.

/// The point list a lane number selects, or null for lane 3 on a track without a VST 3 insert.
const std::vector<AutomationPoint> *automationLaneOf(const Track &track, int32_t lane);

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
