#include "core/commands/TrackCommands.h"

#include "core/commands/InsertEdits.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace orvane {

namespace {

std::optional<std::size_t> trackIndex(const Project &project, uint64_t trackId) {
    for (std::size_t index = 0; index < project.tracks.size(); ++index)
        if (project.tracks[index] && project.tracks[index]->id == trackId) return index;
    return std::nullopt;
}

// A track's inserts leave and come back with it: the rack's view and the helpers the track
// shares follow only a reported edit.
void reportInsertsOf(const Track &track) {
    if (!track.inserts.empty()) reportInsertEdit();
}

} // namespace

AddTrackCommand::AddTrackCommand(TrackType type, std::string name, std::string instrument,
                                 std::string instrumentState)
    : type_(type), requestedName_(std::move(name)), instrument_(std::move(instrument)),
      instrumentState_(std::move(instrumentState)) {}

void AddTrackCommand::giveInstrument(Track &track) const {
    if (type_ != TrackType::Midi || instrument_.empty()) return;
    track.instrument = instrument_;
    track.instrumentState = instrumentState_;
}

void AddTrackCommand::redo(Project &project) {
    if (trackId_ == 0) {
        const auto track = project.addTrack(type_, requestedName_);
        giveInstrument(*track);
        trackId_ = track->id;
        // An empty request was turned into "Track <id>"; the re-added track must carry that
        // name too, not an empty one.
        givenName_ = track->name;
        return;
    }
    auto track = std::make_shared<Track>();
    track->id = trackId_;
    track->type = type_;
    track->name = givenName_;
    giveInstrument(*track);
    project.tracks.push_back(std::move(track));
}

void AddTrackCommand::undo(Project &project) {
    if (trackId_ == 0) return;
    std::erase_if(project.tracks,
                  [this](const auto &track) { return track && track->id == trackId_; });
}

std::string AddTrackCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Add Track"); }

RemoveTrackCommand::RemoveTrackCommand(uint64_t trackId) : trackId_(trackId) {}

void RemoveTrackCommand::redo(Project &project) {
    if (done_) return;
    const auto index = trackIndex(project, trackId_);
    if (!index) return;
    removed_ = project.tracks[*index];
    index_ = *index;
    scenesBefore_ = project.session.scenes;
    project.removeTrack(trackId_);
    done_ = true;
    reportInsertsOf(*removed_);
}

void RemoveTrackCommand::undo(Project &project) {
    if (!done_ || !removed_) return;
    const std::size_t index = std::min(index_, project.tracks.size());
    project.tracks.insert(project.tracks.begin() + static_cast<std::ptrdiff_t>(index), removed_);
    project.session.scenes = scenesBefore_;
    done_ = false;
    reportInsertsOf(*removed_);
}

std::string RemoveTrackCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Remove Track");
}

namespace {

void moveTrackTo(Project &project, std::size_t from, std::size_t to) {
    auto track = std::move(project.tracks[from]);
    project.tracks.erase(project.tracks.begin() + static_cast<std::ptrdiff_t>(from));
    to = std::min(to, project.tracks.size());
    project.tracks.insert(project.tracks.begin() + static_cast<std::ptrdiff_t>(to),
                          std::move(track));
}

} // namespace

MoveTrackCommand::MoveTrackCommand(uint64_t trackId, std::size_t index)
    : trackId_(trackId), index_(index) {}

void MoveTrackCommand::redo(Project &project) {
    previousIndex_ = trackIndex(project, trackId_);
    if (previousIndex_) moveTrackTo(project, *previousIndex_, index_);
}

void MoveTrackCommand::undo(Project &project) {
    if (!previousIndex_) return;
    if (const auto now = trackIndex(project, trackId_)) moveTrackTo(project, *now, *previousIndex_);
}

std::string MoveTrackCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Move Track"); }

} // namespace orvane
