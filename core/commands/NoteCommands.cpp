#include "core/commands/NoteCommands.h"

#include "core/commands/NoteEditing.h"
#include "core/model/BuiltInPresets.h"

#include <algorithm>
#include <utility>

namespace orvane {

std::shared_ptr<Clip> findMidiClip(const Project &project, uint64_t clipId) {
    auto clip = project.findClip(clipId);
    if (!clip || clip->kind != ClipKind::Midi) return nullptr;
    return clip;
}

std::optional<std::size_t> findDrumStepNote(const std::vector<MidiNote> &notes,
                                            const MidiNote &step) {
    const int64_t tolerance = std::max<int64_t>(step.length / 4, 1);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const MidiNote &note = notes[i];
        if (note.pitch != step.pitch) continue;
        const int64_t lower = saturatingSubtract(step.start, tolerance);
        const int64_t upper = saturatingAdd(step.start, tolerance);
        if (lower <= note.start && note.start <= upper) return i;
    }
    return std::nullopt;
}

AddMidiNoteCommand::AddMidiNoteCommand(uint64_t clipId, MidiNote note)
    : clipId_(clipId), note_(note) {}

void AddMidiNoteCommand::redo(Project &project) {
    const auto clip = findMidiClip(project, clipId_);
    if (!clip) return;
    lengthBefore_ = clip->length;
    auto notes = clip->notes;
    notes.push_back(note_);
    index_ = static_cast<int32_t>(notes.size() - 1);
    replaceNotes(*clip, std::move(notes));
    extendClipToNote(*clip, note_);
}

void AddMidiNoteCommand::undo(Project &project) {
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || !isNoteIndex(*clip, index_)) return;
    auto notes = clip->notes;
    notes.erase(notes.begin() + index_);
    replaceNotes(*clip, std::move(notes));
    clip->length = lengthBefore_;
    index_ = -1;
}

std::string AddMidiNoteCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Add MIDI Note");
}

MoveMidiNoteCommand::MoveMidiNoteCommand(uint64_t clipId, int32_t index, MidiNote note)
    : clipId_(clipId), index_(index), note_(note) {}

void MoveMidiNoteCommand::redo(Project &project) {
    captured_ = false;
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || !isNoteIndex(*clip, index_)) return;
    previous_ = clip->notes[static_cast<std::size_t>(index_)];
    lengthBefore_ = clip->length;
    captured_ = true;
    auto notes = clip->notes;
    notes[static_cast<std::size_t>(index_)] = note_;
    replaceNotes(*clip, std::move(notes));
    extendClipToNote(*clip, note_);
}

void MoveMidiNoteCommand::undo(Project &project) {
    // Without a capture the only note to write back would be a made-up default one.
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || !captured_ || !isNoteIndex(*clip, index_)) return;
    auto notes = clip->notes;
    notes[static_cast<std::size_t>(index_)] = previous_;
    replaceNotes(*clip, std::move(notes));
    clip->length = lengthBefore_;
}

std::string MoveMidiNoteCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Move MIDI Note");
}

ToggleDrumStepCommand::ToggleDrumStepCommand(uint64_t clipId, MidiNote step)
    : clipId_(clipId), step_(step) {}

void ToggleDrumStepCommand::redo(Project &project) {
    index_ = -1;
    const auto clip = findMidiClip(project, clipId_);
    if (!clip) return;
    auto notes = clip->notes;
    if (const auto match = findDrumStepNote(notes, step_)) {
        index_ = static_cast<int32_t>(*match);
        removed_ = notes[*match];
        notes.erase(notes.begin() + index_);
        added_ = false;
        replaceNotes(*clip, std::move(notes));
        return;
    }
    notes.push_back(step_);
    index_ = static_cast<int32_t>(notes.size() - 1);
    added_ = true;
    lengthBefore_ = clip->length;
    replaceNotes(*clip, std::move(notes));
    extendClipToNote(*clip, step_);
}

void ToggleDrumStepCommand::undo(Project &project) {
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || index_ < 0) return;
    auto notes = clip->notes;
    if (added_) {
        if (!isNoteIndex(*clip, index_)) return;
        notes.erase(notes.begin() + index_);
        clip->length = lengthBefore_;
        added_ = false;
    } else {
        const auto at = std::min(static_cast<std::size_t>(index_), notes.size());
        notes.insert(notes.begin() + static_cast<std::ptrdiff_t>(at), removed_);
    }
    replaceNotes(*clip, std::move(notes));
    index_ = -1;
}

std::string ToggleDrumStepCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Drum Step");
}

SetDrumStepVelocityCommand::SetDrumStepVelocityCommand(uint64_t clipId, MidiNote step,
                                                       float velocity)
    : clipId_(clipId), step_(step), velocity_(velocity) {}

void SetDrumStepVelocityCommand::redo(Project &project) {
    captured_ = false;
    const auto clip = findMidiClip(project, clipId_);
    if (!clip) return;
    const auto match = findDrumStepNote(clip->notes, step_);
    if (!match) return;
    previousVelocity_ = clip->notes[*match].velocity;
    index_ = static_cast<int32_t>(*match);
    captured_ = true;
    auto notes = clip->notes;
    notes[static_cast<std::size_t>(index_)].velocity = clampUnit(velocity_, 0.05f);
    replaceNotes(*clip, std::move(notes));
}

void SetDrumStepVelocityCommand::undo(Project &project) {
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || !captured_ || !isNoteIndex(*clip, index_)) return;
    auto notes = clip->notes;
    notes[static_cast<std::size_t>(index_)].velocity = previousVelocity_;
    replaceNotes(*clip, std::move(notes));
}

std::string SetDrumStepVelocityCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Drum Velocity");
}

PasteMidiNotesCommand::PasteMidiNotesCommand(uint64_t clipId, int64_t offset,
                                             std::vector<MidiNote> notes)
    : clipId_(clipId), offset_(offset), notes_(std::move(notes)) {}

void PasteMidiNotesCommand::redo(Project &project) {
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || notes_.empty() || pasted_) return;
    countBefore_ = clip->notes.size();
    lengthBefore_ = clip->length;
    auto notes = clip->notes;
    notes.reserve(notes.size() + notes_.size());
    for (MidiNote note : notes_) {
        note.start = saturatingAdd(note.start, offset_);
        notes.push_back(note);
        extendClipToNote(*clip, note);
    }
    replaceNotes(*clip, std::move(notes));
    pasted_ = true;
}

void PasteMidiNotesCommand::undo(Project &project) {
    const auto clip = findMidiClip(project, clipId_);
    if (!clip || !pasted_) return;
    if (countBefore_ <= clip->notes.size()) {
        auto notes = clip->notes;
        notes.resize(countBefore_);
        replaceNotes(*clip, std::move(notes));
    }
    clip->length = lengthBefore_;
    pasted_ = false;
}

std::string PasteMidiNotesCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Paste MIDI");
}

ToggleTrackMpeCommand::ToggleTrackMpeCommand(uint64_t trackId) : trackId_(trackId) {}

void ToggleTrackMpeCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    captured_ = false;
    if (!track || track->type != TrackType::Midi) return;
    previous_ = track->mpeEnabled;
    captured_ = true;
    track->mpeEnabled = !track->mpeEnabled;
}

void ToggleTrackMpeCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || !captured_) return;
    track->mpeEnabled = previous_;
}

std::string ToggleTrackMpeCommand::name() const { return QT_TRANSLATE_NOOP("Command", "MPE"); }

SetTrackExpressionMapCommand::SetTrackExpressionMapCommand(uint64_t trackId, int32_t mapIndex)
    : trackId_(trackId), mapIndex_(mapIndex) {}

void SetTrackExpressionMapCommand::redo(Project &project) {
    filledDefaults_ = project.expressionMaps.empty();
    if (filledDefaults_) project.expressionMaps = defaultExpressionMaps();
    captured_ = false;
    const auto track = project.findTrack(trackId_);
    if (!track) return;
    previous_ = track->expressionMapIndex;
    captured_ = true;
    track->expressionMapIndex = mapIndex_;
}

void SetTrackExpressionMapCommand::undo(Project &project) {
    // The built-in maps came with this edit; leaving them would change the saved document.
    if (filledDefaults_) project.expressionMaps.clear();
    filledDefaults_ = false;
    const auto track = project.findTrack(trackId_);
    if (!track || !captured_) return;
    track->expressionMapIndex = previous_;
}

std::string SetTrackExpressionMapCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Expression Map");
}

} // namespace orvane
