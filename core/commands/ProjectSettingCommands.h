#pragma once

#include "core/commands/Command.h"

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

/// "Tempo": the project's base tempo, as the tempo field sets it.
class SetProjectTempoCommand : public ProjectSettingCommand<double> {
  public:
    explicit SetProjectTempoCommand(double bpm)
        : ProjectSettingCommand(QT_TRANSLATE_NOOP("Command", "Tempo"), &Project::tempoBpm, bpm) {}
};

} // namespace orvane
