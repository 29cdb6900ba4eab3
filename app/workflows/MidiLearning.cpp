#include "app/workflows/MidiLearning.h"

#include "app/shell/ApplicationUi.h"
#include "app/shell/OVMainView.h"
#include "core/commands/MidiMappingCommands.h"
#include "core/engine/Engine.h"
#include "core/model/AutomationLanes.h"
#include "core/model/Translate.h"
#include "core/plugins/PluginRack.h"

#include <algorithm>
#include <mutex>

namespace orvane {

MidiLearning::MidiLearning(const WorkspaceServices &services, OVMainView &view)
    : services(services), view(view) {}

void MidiLearning::learn(const MidiMapping &target, const std::string &controlName) {
    pending = target;
    pendingName = controlName;
    services.engine.controllers.beginLearning();
    services.status.setText(withArguments(
        translate("MidiLearning", "MIDI Learn: move a control on the MIDI device for %1 (Esc "
                                  "cancels)"),
        {controlName}));
}

void MidiLearning::cancel() {
    if (!pending) return;
    pending.reset();
    services.engine.controllers.cancelLearning();
    services.status.setText(translate("MidiLearning", "MIDI Learn cancelled"));
}

std::optional<MidiMapping> MidiLearning::mappingOf(const MidiMapping &target) const {
    std::lock_guard lock(services.engine.projectMutex);
    for (const MidiMapping &mapping : services.engine.project.midiMappings)
        if (mapping.sameTarget(target)) return mapping;
    return std::nullopt;
}

bool MidiLearning::forget(const MidiMapping &target) {
    const std::optional<MidiMapping> mapping = mappingOf(target);
    if (!mapping) return false;
    remove(*mapping);
    return true;
}

void MidiLearning::remove(const MidiMapping &mapping) {
    view.executeEdit(std::make_unique<RemoveMidiMappingCommand>(mapping));
    ++changeCount;
}

void MidiLearning::onUiTick() {
    if (pending) finishLearning();
    if (applyMoved()) ++changeCount;
}

void MidiLearning::finishLearning() {
    const std::optional<LearnedController> learned = services.engine.controllers.takeLearned();
    if (!learned) return;
    MidiMapping mapping = *pending;
    pending.reset();
    mapping.channel = learned->channel;
    mapping.kind = learned->kind;
    mapping.number = learned->number;
    std::string problem;
    {
        std::lock_guard lock(services.engine.projectMutex);
        setLearnedRange(services.engine.project, mapping);
        problem = learnProblem(services.engine.project, mapping);
    }
    if (!problem.empty()) {
        services.status.setText(
            withArguments(translate("MidiLearning", "MIDI Learn failed: %1"), {problem}));
        return;
    }
    view.executeEdit(std::make_unique<LearnMidiMappingCommand>(mapping));
    ++changeCount;
    services.status.setText(withArguments(translate("MidiLearning", "MIDI Learn: %1 moves %2"),
                                          {midiSourceText(mapping), pendingName}));
}

bool MidiLearning::applyMoved() {
    const std::vector<MovedControl> moved = services.engine.controllers.takeMoved();
    if (moved.empty()) return false;
    {
        std::lock_guard lock(services.engine.projectMutex);
        Project &project = services.engine.project;
        for (const MovedControl &control : moved) {
            if (applyControlToProject(project, control.mapping, control.value)) continue;
            // What is left is a plug-in's parameter: the plug-in takes it, the project keeps
            // the state it has afterwards.
            const auto track = project.findTrack(control.mapping.trackId);
            const int32_t insertIndex = control.mapping.lane - firstInsertLane;
            if (!track || insertIndex < 0 ||
                insertIndex >= static_cast<int32_t>(track->inserts.size()))
                continue;
            const std::optional<std::vector<uint8_t>> state =
                services.rack.setParameterAndReadState(control.mapping.trackId, insertIndex,
                                                       control.mapping.paramId,
                                                       std::clamp(control.value, 0.0f, 1.0f));
            if (state) track->inserts[static_cast<std::size_t>(insertIndex)].state = *state;
        }
        services.engine.publishGraph();
    }
    view.markDocumentDirty();
    return true;
}

} // namespace orvane
