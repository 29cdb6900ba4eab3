#include "core/commands/ImportAudioCommand.h"

#include "core/model/SaturatingMath.h"

#include <algorithm>
#include <utility>

namespace orvane {

ImportAudioCommand::ImportAudioCommand(uint64_t trackId, std::string newTrackName, Clip clip)
    : trackId_(trackId), newTrackName_(std::move(newTrackName)), prototype_(std::move(clip)) {}

void ImportAudioCommand::redo(Project &project) {
    if (applied_) return;
    if (placed_) {
        // A redo after an undo: the same track and clip objects come back.
        if (createdTrack_) project.tracks.push_back(createdTrack_);
        const auto track = project.findTrack(trackId_);
        if (!track) return;
        track->clips.push_back(placed_);
    } else {
        std::shared_ptr<Track> track;
        if (trackId_ == 0) {
            track = project.addTrack(TrackType::Audio, newTrackName_);
            createdTrack_ = track;
        } else {
            track = project.findTrack(trackId_);
        }
        if (!track || track->type == TrackType::Midi) return;
        trackId_ = track->id;
        auto clip = project.addClip(trackId_, ClipKind::Audio);
        if (!clip) return;
        const uint64_t id = clip->id;
        *clip = prototype_;
        clip->id = id;
        clip->trackId = trackId_;
        clip->kind = ClipKind::Audio;
        placed_ = clip;
    }
    lengthBefore_ = project.lengthSamples;
    project.lengthSamples =
        std::max(project.lengthSamples, saturatingAdd(placed_->arrangeStart, placed_->length));
    applied_ = true;
}

void ImportAudioCommand::undo(Project &project) {
    if (!applied_) return;
    if (const auto track = project.findTrack(trackId_)) std::erase(track->clips, placed_);
    if (createdTrack_) std::erase(project.tracks, createdTrack_);
    project.lengthSamples = lengthBefore_;
    applied_ = false;
}

} // namespace orvane
