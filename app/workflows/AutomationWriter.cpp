#include "app/workflows/AutomationWriter.h"

#include "app/shell/ApplicationUi.h"
#include "app/shell/OVMainView.h"
#include "core/commands/AutomationCommands.h"
#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"
#include "core/model/Translate.h"

#include <algorithm>
#include <mutex>

namespace orvane {

namespace {

std::string laneText(uint8_t lane) {
    switch (lane) {
    case 1:
        return translate("AutomationWriter", "Automation: Volume · Shift point · Alt+Shift clip");
    case 2: return translate("AutomationWriter", "Automation: Pan · Shift point · Alt+Shift clip");
    case 3: return translate("AutomationWriter", "Automation: Mute · Shift point · Alt+Shift clip");
    case 4:
        return translate("AutomationWriter",
                         "Automation: Plugin param · Shift point · Alt+Shift clip");
    default: return translate("AutomationWriter", "Automation off");
    }
}

} // namespace

bool automationPointDue(AutomationWriteMode mode, bool playing, uint64_t trackId,
                        uint64_t &latchTrackId) {
    switch (mode) {
    case AutomationWriteMode::Read: return false;
    case AutomationWriteMode::Touch: return playing;
    case AutomationWriteMode::Latch:
        if (latchTrackId != 0 && latchTrackId != trackId) return false;
        if (!playing) return false;
        latchTrackId = trackId;
        return true;
    case AutomationWriteMode::Write: return true;
    }
    return false;
}

bool HVWriteMixerAutomationIfNeeded(Project &project, Engine *engine, CommandStack *commandStack,
                                    uint64_t trackId, int32_t lane, float value,
                                    AutomationWriteMode mode, uint64_t &latchTrackId) {
    if (!engine || !commandStack || trackId == 0) return false;
    if (!automationPointDue(mode, engine->transport.playing.load(), trackId, latchTrackId))
        return false;
    std::lock_guard lock(engine->projectMutex);
    commandStack->execute(project, std::make_unique<SetAutomationPointCommand>(
                                       trackId, lane, engine->heardPlayhead(), value));
    engine->publishGraph();
    return true;
}

AutomationTools::AutomationTools(const WorkspaceServices &services, OVMainView &view)
    : services(services), view(view) {}

AutomationTools::~AutomationTools() = default;

void AutomationTools::cycleAutomationWriteMode() {
    AutomationWriteMode current;
    {
        std::lock_guard lock(services.engine.projectMutex);
        current = services.engine.project.automationWriteMode;
    }
    setAutomationWriteMode(static_cast<AutomationWriteMode>((static_cast<int>(current) + 1) % 4));
}

void AutomationTools::setAutomationWriteMode(AutomationWriteMode mode) {
    mode = static_cast<AutomationWriteMode>(std::clamp(static_cast<int>(mode), 0, 3));
    {
        std::lock_guard lock(services.engine.projectMutex);
        services.engine.project.automationWriteMode = mode;
        if (mode != AutomationWriteMode::Latch) automationLatchTrackId = 0;
        services.engine.publishGraph();
    }
    view.markDocumentDirty();
    services.status.setText(withArguments(translate("AutomationWriter", "Automation: %1"),
                                          {automationWriteModeLabel(mode)}));
}

void AutomationTools::cycleAutomationLane() {
    // The cycle runs through the mixer's lanes; from an insert's lane it starts again.
    setAutomationLane(automationLaneMode >= 4 ? 0 : static_cast<uint8_t>(automationLaneMode + 1));
}

void AutomationTools::showInsertLane(std::size_t insertIndex, std::string_view laneName) {
    const std::size_t lastInsert = static_cast<std::size_t>(insertLaneCount) - 1;
    automationLaneMode =
        static_cast<uint8_t>(insertAutomationLane(std::min(insertIndex, lastInsert)) + 1);
    services.status.setText(withArguments(
        translate("AutomationWriter", "Automation: %1 · Shift point · Alt+Shift clip"),
        {laneName}));
}

void AutomationTools::setAutomationLane(uint8_t lane) {
    automationLaneMode = static_cast<uint8_t>(lane % 5);
    services.status.setText(laneText(automationLaneMode));
}

void AutomationTools::beginMixerDrag(uint64_t trackId) {
    std::lock_guard lock(services.engine.projectMutex);
    const auto track = services.engine.project.findTrack(trackId);
    dragTrackId = track ? trackId : 0;
    dragStartGain = track ? track->gain : 1.0f;
    dragStartPan = track ? track->pan : 0.0f;
    pass = std::make_unique<WriteAutomationPassCommand>();
}

bool AutomationTools::writeIntoPass(uint64_t trackId, int32_t lane, float value) {
    Engine &engine = services.engine;
    std::lock_guard lock(engine.projectMutex);
    const AutomationWriteMode mode = engine.project.automationWriteMode;
    if (trackId == 0 || !engine.project.findTrack(trackId)) return false;
    if (!automationPointDue(mode, engine.transport.playing.load(), trackId, automationLatchTrackId))
        return false;
    if (!pass) pass = std::make_unique<WriteAutomationPassCommand>();
    pass->add(engine.project, std::make_unique<SetAutomationPointCommand>(
                                  trackId, lane, engine.heardPlayhead(), value));
    engine.publishGraph();
    return true;
}

void AutomationTools::mixerValueChanged(uint64_t trackId, int32_t lane, float value) {
    if (trackId != dragTrackId) beginMixerDrag(trackId);
    writeIntoPass(trackId, lane, value);
}

bool AutomationTools::endMixerDrag(uint64_t trackId, float gain, float pan) {
    if (trackId != dragTrackId) beginMixerDrag(trackId);
    if (gain != dragStartGain) writeIntoPass(trackId, gainAutomationLane, gain);
    if (pan != dragStartPan) writeIntoPass(trackId, panAutomationLane, pan);
    dragTrackId = 0;
    auto finished = std::move(pass);
    if (!finished || finished->empty()) return false;
    {
        std::lock_guard lock(services.engine.projectMutex);
        services.commands.execute(services.engine.project, std::move(finished));
        services.engine.publishGraph();
    }
    view.markDocumentDirty();
    return true;
}

} // namespace orvane
