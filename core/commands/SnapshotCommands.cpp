#include "core/commands/SnapshotCommands.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace orvane {

namespace {

constexpr std::size_t historyLimit = 32;

TrackMixerSnapshot mixerStateOf(const Track &track) {
    return {track.id, track.gain, track.pan, track.mute, track.solo, track.sends, track.macros};
}

void applyMixerState(Track &track, const TrackMixerSnapshot &state, bool withSendsAndMacros) {
    track.gain = state.gain;
    track.pan = state.pan;
    track.mute = state.mute;
    track.solo = state.solo;
    if (!withSendsAndMacros) return;
    track.sends = state.sends;
    track.macros = state.macros;
}

MixerSnapshot currentMixer(const Project &project, std::string name, bool withUnusedTracks) {
    MixerSnapshot snapshot;
    snapshot.name = std::move(name);
    for (const auto &track : project.tracks)
        if (withUnusedTracks || track->type != TrackType::Unused)
            snapshot.tracks.push_back(mixerStateOf(*track));
    snapshot.controlRoom = project.controlRoom;
    return snapshot;
}

} // namespace

std::vector<MixerSnapshotEvent> pushMixerHistory(Project &project, std::string label,
                                                 const MixerSnapshot &snapshot) {
    auto &history = project.mixerSnapshotHistory;
    history.push_back({std::move(label), snapshot});
    std::vector<MixerSnapshotEvent> erased;
    if (history.size() <= historyLimit) return erased;
    const auto excess = static_cast<std::ptrdiff_t>(history.size() - historyLimit);
    erased.assign(std::make_move_iterator(history.begin()),
                  std::make_move_iterator(history.begin() + excess));
    history.erase(history.begin(), history.begin() + excess);
    return erased;
}

void MixerHistoryStep::push(Project &project, std::string label, const MixerSnapshot &snapshot) {
    erased_ = pushMixerHistory(project, std::move(label), snapshot);
    pushed_ = true;
}

void MixerHistoryStep::takeBack(Project &project) {
    auto &history = project.mixerSnapshotHistory;
    if (!pushed_ || history.empty()) return;
    history.pop_back();
    history.insert(history.begin(), erased_.begin(), erased_.end());
    erased_.clear();
    pushed_ = false;
}

void MixerRecall::apply(Project &project, const MixerSnapshot &snapshot) {
    before_.capture(currentMixer(project, "", true));
    for (const auto &state : snapshot.tracks)
        if (const auto track = project.findTrack(state.trackId))
            applyMixerState(*track, state, snapshot.hasSendsAndMacros);
    project.controlRoom = snapshot.controlRoom;
}

void MixerRecall::restore(Project &project) const {
    if (!before_.captured()) return;
    for (const auto &state : before_.value().tracks)
        if (const auto track = project.findTrack(state.trackId))
            applyMixerState(*track, state, true);
    project.controlRoom = before_.value().controlRoom;
}

CaptureMixerSnapshotCommand::CaptureMixerSnapshotCommand(std::string snapshotName)
    : snapshotName_(std::move(snapshotName)) {}

void CaptureMixerSnapshotCommand::redo(Project &project) {
    const MixerSnapshot snapshot = currentMixer(project, snapshotName_, false);
    auto &snapshots = project.mixerSnapshots;
    const auto existing = std::ranges::find(snapshots, snapshotName_, &MixerSnapshot::name);
    if (existing != snapshots.end()) {
        replaced_ = *existing;
        existing->tracks = snapshot.tracks;
        existing->controlRoom = snapshot.controlRoom;
        existing->hasSendsAndMacros = true;
        index_ = static_cast<std::size_t>(existing - snapshots.begin());
    } else {
        replaced_.reset();
        snapshots.push_back(snapshot);
        index_ = snapshots.size() - 1;
    }
    captured_ = true;
    history_.push(project, "Capture " + snapshotName_, snapshot);
}

void CaptureMixerSnapshotCommand::undo(Project &project) {
    if (!captured_) return;
    history_.takeBack(project);
    auto &snapshots = project.mixerSnapshots;
    if (index_ >= snapshots.size()) return;
    if (replaced_)
        snapshots[index_] = *replaced_;
    else
        snapshots.erase(snapshots.begin() + static_cast<std::ptrdiff_t>(index_));
    captured_ = false;
}

std::string CaptureMixerSnapshotCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Capture Snapshot");
}

RecallMixerSnapshotCommand::RecallMixerSnapshotCommand(std::size_t index) : index_(index) {}

void RecallMixerSnapshotCommand::redo(Project &project) {
    applied_ = index_ < project.mixerSnapshots.size();
    if (!applied_) return;
    const MixerSnapshot snapshot = project.mixerSnapshots[index_];
    recall_.apply(project, snapshot);
    history_.push(project, "Recall " + snapshot.name, snapshot);
}

void RecallMixerSnapshotCommand::undo(Project &project) {
    if (!applied_) return;
    history_.takeBack(project);
    recall_.restore(project);
    applied_ = false;
}

std::string RecallMixerSnapshotCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Recall Snapshot");
}

RecallMixerHistoryCommand::RecallMixerHistoryCommand(std::size_t index) : index_(index) {}

void RecallMixerHistoryCommand::redo(Project &project) {
    applied_ = index_ < project.mixerSnapshotHistory.size();
    if (!applied_) return;
    const MixerSnapshot snapshot = project.mixerSnapshotHistory[index_].snapshot;
    recall_.apply(project, snapshot);
}

void RecallMixerHistoryCommand::undo(Project &project) {
    if (!applied_) return;
    recall_.restore(project);
    applied_ = false;
}

std::string RecallMixerHistoryCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Recall Mixer History");
}

} // namespace orvane
