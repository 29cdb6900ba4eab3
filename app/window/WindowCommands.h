#pragma once

#include "core/commands/Command.h"
#include "core/commands/NoteTransformCommands.h"

#include <string>
#include <utility>

namespace orvane {

/// Sets one project-wide setting (count-in, punch, swing, groove, smart tempo); undo puts the
/// previous value back.
template <class Value> class ProjectSettingCommand : public Command {
  public:
    ProjectSettingCommand(std::string displayName, Value Project::*field, Value value)
        : displayName_(std::move(displayName)), field_(field), value_(std::move(value)) {}
    void redo(Project &project) override {
        previous_ = project.*field_;
        project.*field_ = value_;
    }
    void undo(Project &project) override { project.*field_ = previous_; }
    std::string name() const override { return displayName_; }

  private:
    std::string displayName_;
    Value Project::*field_;
    Value value_;
    Value previous_{};
};

/// "Arm Track": arms or disarms a track for recording.
class SetTrackArmedCommand : public Command {
  public:
    SetTrackArmedCommand(uint64_t trackId, bool armed) : trackId_(trackId), armed_(armed) {}
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override { return "Arm Track"; }

  private:
    uint64_t trackId_;
    bool armed_;
    bool previous_ = false;
};

/// "Delete MIDI Note": removes the note at `index` of a MIDI clip.
class DeleteMidiNoteCommand : public MidiClipRewriteCommand {
  public:
    DeleteMidiNoteCommand(uint64_t clipId, int32_t index)
        : MidiClipRewriteCommand(clipId, Behaviour{true, false}), index_(index) {}
    std::string name() const override { return "Delete MIDI Note"; }

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int32_t index_;
};

} // namespace orvane
