#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"

#include <string>
#include <vector>

namespace orvane {

// Learned MIDI controllers. A target answers to one controller and a controller moves one
// target: learning takes both over from any mapping that had either.

/// Why the window cannot learn `mapping` in `project` (a mapping that makes no sense, or a
/// track that no longer exists), or empty when it can.
std::string learnProblem(const Project &project, const MidiMapping &mapping);

/// "MIDI Learn": adds the mapping in place of those of the same controller or target. A
/// mapping `learnProblem` refuses changes nothing.
class LearnMidiMappingCommand : public Command {
  public:
    explicit LearnMidiMappingCommand(MidiMapping mapping);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    MidiMapping mapping_;
    CapturedValue<std::vector<MidiMapping>> before_;
};

/// "Remove MIDI Mapping": removes the mappings equal to `mapping`; none there changes nothing.
class RemoveMidiMappingCommand : public Command {
  public:
    explicit RemoveMidiMappingCommand(MidiMapping mapping);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    MidiMapping mapping_;
    CapturedValue<std::vector<MidiMapping>> before_;
};

} // namespace orvane
