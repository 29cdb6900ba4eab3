#include "core/commands/GrooveCommands.h"

#include "core/commands/NoteCommands.h"
#include "core/commands/NoteEditing.h"
#include "core/model/BuiltInPresets.h"
#include "core/music/Groove.h"

#include <algorithm>
#include <utility>

namespace orvane {

namespace {

bool isPoolIndex(const Project &project, int64_t index) {
    return index >= 0 && static_cast<uint64_t>(index) < project.groovePool.size();
}

/// Makes the pool entry at `index` active and takes over its amounts.
void activateGroove(Project &project, int32_t index) {
    project.activeGrooveIndex = index;
    if (!isPoolIndex(project, index)) return;
    const GrooveTemplate &groove = project.groovePool[static_cast<std::size_t>(index)];
    project.grooveTimingAmount = groove.timing;
    project.grooveVelocityAmount = groove.velocity;
}

} // namespace

int64_t sixteenthNoteSamples(const Project &project) {
    return std::max<int64_t>(
        musicalBeatsToSamples(0.25, project.sampleRate, project.tempoMarkers, project.tempoBpm), 1);
}

ApplyGrooveCommand::ApplyGrooveCommand(uint64_t trackId, int32_t grooveIndex, float amount)
    : trackId_(trackId), grooveIndex_(grooveIndex), amount_(clampUnit(amount)) {}

void ApplyGrooveCommand::redo(Project &project) {
    clips_.clear();
    if (!isPoolIndex(project, grooveIndex_)) return;
    for (const auto &track : project.tracks)
        if (trackId_ == 0 || track->id == trackId_)
            for (const auto &clip : track->clips)
                if (clip->kind == ClipKind::Midi && !clip->isSessionClip())
                    clips_.push_back({clip->id, clip->notes});
    const GrooveTemplate &groove = project.groovePool[static_cast<std::size_t>(grooveIndex_)];
    const int64_t step = sixteenthNoteSamples(project);
    for (const ClipNotes &recorded : clips_) {
        const auto clip = project.findClip(recorded.clipId);
        if (!clip) continue;
        auto notes = clip->notes;
        applyGrooveToNotes(notes, groove, step, amount_);
        replaceNotes(*clip, std::move(notes));
    }
}

void ApplyGrooveCommand::undo(Project &project) {
    for (const ClipNotes &recorded : clips_)
        if (const auto clip = project.findClip(recorded.clipId))
            replaceNotes(*clip, recorded.notes);
}

std::string ApplyGrooveCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Apply Groove");
}

ExtractGrooveToPoolCommand::ExtractGrooveToPoolCommand(uint64_t clipId, std::string grooveName)
    : clipId_(clipId), grooveName_(std::move(grooveName)) {}

void ExtractGrooveToPoolCommand::redo(Project &project) {
    inPool_ = false;
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || clip->notes.empty()) return;
    // The same notes give the same template, so a redo puts back what the first run made.
    groove_ = extractGrooveTemplate(clip->notes, sixteenthNoteSamples(project), grooveName_);
    index_ = project.groovePool.size();
    previousActive_ = project.activeGrooveIndex;
    previousTiming_ = project.grooveTimingAmount;
    previousVelocity_ = project.grooveVelocityAmount;
    project.groovePool.push_back(groove_);
    inPool_ = true;
    activateGroove(project, static_cast<int32_t>(index_));
}

void ExtractGrooveToPoolCommand::undo(Project &project) {
    if (!inPool_) return;
    inPool_ = false;
    if (isPoolIndex(project, static_cast<int64_t>(index_)))
        project.groovePool.erase(project.groovePool.begin() + static_cast<std::ptrdiff_t>(index_));
    // The choice and amounts the user had before, rather than whichever entry is left first.
    project.activeGrooveIndex = previousActive_;
    project.grooveTimingAmount = previousTiming_;
    project.grooveVelocityAmount = previousVelocity_;
}

std::string ExtractGrooveToPoolCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Extract Groove");
}

SetActiveGrooveCommand::SetActiveGrooveCommand(int32_t grooveIndex) : grooveIndex_(grooveIndex) {}

void SetActiveGrooveCommand::redo(Project &project) {
    filledDefaults_ = project.groovePool.empty();
    if (filledDefaults_) project.groovePool = defaultGroovePool();
    previousActive_ = project.activeGrooveIndex;
    previousTiming_ = project.grooveTimingAmount;
    previousVelocity_ = project.grooveVelocityAmount;
    captured_ = true;
    activateGroove(project, grooveIndex_);
}

void SetActiveGrooveCommand::undo(Project &project) {
    if (!captured_) return;
    // The built-in grooves came with this edit; leaving them would change the saved document.
    if (filledDefaults_) project.groovePool.clear();
    filledDefaults_ = false;
    project.activeGrooveIndex = previousActive_;
    project.grooveTimingAmount = previousTiming_;
    project.grooveVelocityAmount = previousVelocity_;
}

std::string SetActiveGrooveCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Active Groove");
}

} // namespace orvane
