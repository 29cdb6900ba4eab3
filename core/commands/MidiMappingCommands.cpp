#include "core/commands/MidiMappingCommands.h"

#include <algorithm>

namespace orvane {

std::string learnProblem(const Project &project, const MidiMapping &mapping) {
    std::string problem = midiMappingProblem(mapping);
    if (problem.empty() && !project.findTrack(mapping.trackId))
        problem = translate("MidiMapping", "the track of the control no longer exists");
    return problem;
}

LearnMidiMappingCommand::LearnMidiMappingCommand(MidiMapping mapping) : mapping_(mapping) {}

void LearnMidiMappingCommand::redo(Project &project) {
    if (!learnProblem(project, mapping_).empty()) return;
    before_.capture(project.midiMappings);
    std::erase_if(project.midiMappings, [this](const MidiMapping &other) {
        return other.sameSource(mapping_) || other.sameTarget(mapping_);
    });
    project.midiMappings.push_back(mapping_);
}

void LearnMidiMappingCommand::undo(Project &project) { before_.restoreInto(project.midiMappings); }

std::string LearnMidiMappingCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "MIDI Learn");
}

RemoveMidiMappingCommand::RemoveMidiMappingCommand(MidiMapping mapping) : mapping_(mapping) {}

void RemoveMidiMappingCommand::redo(Project &project) {
    if (std::find(project.midiMappings.begin(), project.midiMappings.end(), mapping_) ==
        project.midiMappings.end())
        return;
    before_.capture(project.midiMappings);
    std::erase(project.midiMappings, mapping_);
}

void RemoveMidiMappingCommand::undo(Project &project) { before_.restoreInto(project.midiMappings); }

std::string RemoveMidiMappingCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Remove MIDI Mapping");
}

} // namespace orvane
