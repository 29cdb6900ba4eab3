#include "core/commands/ProjectSettingCommands.h"

#include "core/commands/NoteEditing.h"
#include "core/model/MusicalTime.h"
#include "core/model/SaturatingMath.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

/// Moves positions from one tempo map to another, keeping their beats.
struct Retiming {
    const Project &project;
    double fromBpm;
    double toBpm;

    /// A position on the song's timeline.
    int64_t at(int64_t position) const {
        const double beats =
            samplesToMusicalBeats(position, project.sampleRate, project.tempoMarkers, fromBpm);
        return musicalBeatsToSamples(beats, project.sampleRate, project.tempoMarkers, toBpm);
    }
    /// A span that starts at `from` on the timeline.
    int64_t span(int64_t from, int64_t length) const {
        return std::max<int64_t>(at(saturatingAdd(from, length)) - at(from), 0);
    }
};

} // namespace

void SetProjectTempoCommand::redo(Project &project) {
    if (!std::isfinite(bpm_) || bpm_ <= 0.0) return;
    previous_ = project.tempoBpm;
    applied_ = true;
    before_.clear();
    // Session clips have no place on the timeline: they are timed from the song's start.
    const Retiming retime{project, usableBpm(previous_), usableBpm(bpm_)};
    for (const auto &track : project.tracks) {
        for (const auto &clip : track->clips) {
            if (clip->kind != ClipKind::Midi) continue;
            before_.push_back(
                {clip->id, clip->arrangeStart, clip->length, clip->loopLength, clip->notes});
            const int64_t origin = clip->isSessionClip() ? 0 : clip->arrangeStart;
            std::vector<MidiNote> notes = clip->notes;
            for (MidiNote &note : notes) {
                const int64_t start = saturatingAdd(origin, note.start);
                note.length = retime.span(start, note.length);
                note.start = retime.at(start) - retime.at(origin);
            }
            clip->length = retime.span(origin, clip->length);
            clip->loopLength = retime.span(origin, clip->loopLength);
            if (!clip->isSessionClip()) clip->arrangeStart = retime.at(clip->arrangeStart);
            replaceNotes(*clip, std::move(notes));
        }
    }
    project.tempoBpm = bpm_;
}

void SetProjectTempoCommand::undo(Project &project) {
    if (!applied_) return;
    project.tempoBpm = previous_;
    for (ClipTiming &timing : before_) {
        const auto clip = project.findClip(timing.clipId);
        if (!clip) continue;
        clip->arrangeStart = timing.arrangeStart;
        clip->length = timing.length;
        clip->loopLength = timing.loopLength;
        replaceNotes(*clip, timing.notes);
    }
}

} // namespace orvane
