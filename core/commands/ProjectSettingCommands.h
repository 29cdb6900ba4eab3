#pragma once

#include "core/commands/Command.h"
#include "core/model/Project.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

/// "Tempo": the project's base tempo, as the tempo field sets it. MIDI is written in beats:
/// every MIDI clip, its notes and its loop keep their bars and beats at the new tempo, while
/// audio keeps its time. Undo puts the tempo and those clips back as they were.
class SetProjectTempoCommand : public Command {
  public:
    explicit SetProjectTempoCommand(double bpm) : bpm_(bpm) {}
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override { return QT_TRANSLATE_NOOP("Command", "Tempo"); }

  private:
    /// A MIDI clip's timing as it was before the change.
    struct ClipTiming {
        uint64_t clipId = 0;
        int64_t arrangeStart = 0;
        int64_t length = 0;
        int64_t loopLength = 0;
        std::vector<MidiNote> notes;
    };
    double bpm_;
    double previous_ = 0.0;
    bool applied_ = false;
    std::vector<ClipTiming> before_;
};

} // namespace orvane
