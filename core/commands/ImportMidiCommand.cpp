#include "core/commands/ImportMidiCommand.h"

#include "core/model/SaturatingMath.h"

#include <algorithm>
#include <utility>

namespace orvane {

ImportMidiCommand::ImportMidiCommand(midifile::MidiImport plan, int64_t position)
    : plan_(std::move(plan)), position_(std::max<int64_t>(position, 0)) {}

ImportMidiCommand::TimeMaps ImportMidiCommand::mapsOf(const Project &project) {
    return {project.tempoBpm, project.tempoMarkers, project.timeSignature, project.meterMarkers};
}

void ImportMidiCommand::applyMaps(Project &project, const TimeMaps &maps) {
    project.tempoBpm = maps.tempoBpm;
    project.tempoMarkers = maps.tempoMarkers;
    project.timeSignature = maps.timeSignature;
    project.meterMarkers = maps.meterMarkers;
}

void ImportMidiCommand::redo(Project &project) {
    if (applied_) return;
    if (created_.empty()) {
        for (const midifile::ImportedMidiTrack &imported : plan_.tracks) {
            auto track = project.addTrack(TrackType::Midi, imported.name);
            if (!track) continue;
            track->instrument = imported.instrument;
            track->instrumentState = imported.instrumentState;
            auto clip = project.addClip(track->id, ClipKind::Midi);
            if (!clip) continue;
            const uint64_t id = clip->id;
            *clip = imported.clip;
            clip->id = id;
            clip->trackId = track->id;
            clip->kind = ClipKind::Midi;
            clip->arrangeStart = position_;
            created_.push_back(track);
        }
    } else {
        // A redo after an undo: the same tracks and clips come back.
        for (const auto &track : created_)
            project.tracks.push_back(track);
    }
    if (plan_.maps) {
        mapsBefore_ = mapsOf(project);
        applyMaps(project, {plan_.maps->tempoBpm, plan_.maps->tempoMarkers,
                            plan_.maps->timeSignature, plan_.maps->meterMarkers});
    }
    lengthBefore_ = project.lengthSamples;
    for (const auto &track : created_)
        for (const auto &clip : track->clips)
            project.lengthSamples =
                std::max(project.lengthSamples, saturatingAdd(clip->arrangeStart, clip->length));
    applied_ = true;
}

void ImportMidiCommand::undo(Project &project) {
    if (!applied_) return;
    for (const auto &track : created_)
        std::erase(project.tracks, track);
    if (mapsBefore_) applyMaps(project, *mapsBefore_);
    project.lengthSamples = lengthBefore_;
    applied_ = false;
}

std::vector<uint64_t> ImportMidiCommand::createdTrackIds() const {
    std::vector<uint64_t> ids;
    for (const auto &track : created_)
        ids.push_back(track->id);
    return ids;
}

} // namespace orvane
