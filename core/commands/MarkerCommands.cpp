#include "core/commands/MarkerCommands.h"

#include "core/music/Rhythm.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvane {

namespace {

bool validSignature(TimeSignature signature) {
    return signature.numerator > 0 && signature.denominator > 0;
}

/// The audio clip with that id; MIDI clips carry no warp map.
std::shared_ptr<Clip> findAudioClip(const Project &project, uint64_t clipId) {
    auto clip = project.findClip(clipId);
    return clip && clip->kind == ClipKind::Audio ? clip : nullptr;
}

void sortWarpMarkers(Clip &clip) {
    std::ranges::stable_sort(clip.warpMarkers, {}, &WarpMarker::dest);
}

} // namespace

AddMarkerCommand::AddMarkerCommand(uint64_t markerId, std::string markerName, int64_t position)
    : markerId_(markerId), markerName_(std::move(markerName)), position_(position) {}

void AddMarkerCommand::redo(Project &project) {
    if (markerId_ == 0 || markerId_ == std::numeric_limits<uint64_t>::max()) return;
    project.markers.push_back({markerId_, markerName_, position_});
    appended_ = true;
    if (project.nextMarkerId <= markerId_) project.nextMarkerId = markerId_ + 1;
}

void AddMarkerCommand::undo(Project &project) {
    if (!appended_) return;
    // Only the marker appended here: one that already carried the id (a damaged document)
    // stays where it was.
    auto &markers = project.markers;
    const auto last = std::ranges::find(markers.rbegin(), markers.rend(), markerId_, &Marker::id);
    if (last != markers.rend()) markers.erase(std::next(last).base());
    appended_ = false;
}

std::string AddMarkerCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Add Marker"); }

RemoveMarkerCommand::RemoveMarkerCommand(uint64_t markerId) : markerId_(markerId) {}

void RemoveMarkerCommand::redo(Project &project) {
    removed_.clear();
    auto &markers = project.markers;
    for (std::size_t index = 0; index < markers.size(); ++index)
        if (markers[index].id == markerId_) removed_.emplace_back(index, markers[index]);
    std::erase_if(markers, [this](const Marker &marker) { return marker.id == markerId_; });
}

void RemoveMarkerCommand::undo(Project &project) {
    auto &markers = project.markers;
    for (const auto &[index, marker] : removed_)
        markers.insert(
            markers.begin() + static_cast<std::ptrdiff_t>(std::min(index, markers.size())), marker);
    removed_.clear();
}

std::string RemoveMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Remove Marker");
}

AddTempoMarkerCommand::AddTempoMarkerCommand(int64_t position, double bpm)
    : position_(position), bpm_(bpm) {}

void AddTempoMarkerCommand::redo(Project &project) {
    if (!std::isfinite(bpm_) || bpm_ <= 0.0) return;
    auto &markers = project.tempoMarkers;
    markersBefore_.capture(markers);
    baseTempoBefore_.capture(project.tempoBpm);
    const auto existing = std::ranges::find(markers, position_, &TempoMarker::position);
    if (existing != markers.end())
        existing->bpm = bpm_;
    else
        markers.push_back({position_, bpm_});
    std::ranges::stable_sort(markers, {}, &TempoMarker::position);
    project.tempoBpm = bpm_;
}

void AddTempoMarkerCommand::undo(Project &project) {
    markersBefore_.restoreInto(project.tempoMarkers);
    baseTempoBefore_.restoreInto(project.tempoBpm);
}

std::string AddTempoMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Tempo Marker");
}

MoveTempoMarkerCommand::MoveTempoMarkerCommand(int64_t from, int64_t to, double bpm)
    : from_(from), to_(to), bpm_(bpm) {}

void MoveTempoMarkerCommand::redo(Project &project) {
    auto &markers = project.tempoMarkers;
    markersBefore_.capture(markers);
    const auto moved = std::ranges::find(markers, from_, &TempoMarker::position);
    if (moved != markers.end()) moved->position = to_;
    std::ranges::stable_sort(markers, {}, &TempoMarker::position);
}

void MoveTempoMarkerCommand::undo(Project &project) {
    markersBefore_.restoreInto(project.tempoMarkers);
}

std::string MoveTempoMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Move Tempo");
}

AddMeterMarkerCommand::AddMeterMarkerCommand(int64_t position, TimeSignature signature)
    : position_(position), signature_(signature) {}

void AddMeterMarkerCommand::redo(Project &project) {
    if (!validSignature(signature_)) return;
    auto &markers = project.meterMarkers;
    markersBefore_.capture(markers);
    const auto existing = std::ranges::find(markers, position_, &MeterMarker::position);
    if (existing != markers.end()) {
        existing->num = signature_.numerator;
        existing->den = signature_.denominator;
        return;
    }
    markers.push_back({position_, signature_.numerator, signature_.denominator});
    std::ranges::stable_sort(markers, {}, &MeterMarker::position);
}

void AddMeterMarkerCommand::undo(Project &project) {
    markersBefore_.restoreInto(project.meterMarkers);
}

std::string AddMeterMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Meter Marker");
}

MoveMeterMarkerCommand::MoveMeterMarkerCommand(int64_t from, int64_t to, TimeSignature signature)
    : from_(from), to_(to), signature_(signature) {}

void MoveMeterMarkerCommand::redo(Project &project) {
    if (!validSignature(signature_)) return;
    auto &markers = project.meterMarkers;
    markersBefore_.capture(markers);
    const auto moved = std::ranges::find(markers, from_, &MeterMarker::position);
    if (moved != markers.end()) *moved = {to_, signature_.numerator, signature_.denominator};
    std::ranges::stable_sort(markers, {}, &MeterMarker::position);
}

void MoveMeterMarkerCommand::undo(Project &project) {
    markersBefore_.restoreInto(project.meterMarkers);
}

std::string MoveMeterMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Move Meter");
}

AddChordMarkerCommand::AddChordMarkerCommand(int64_t position, std::string chord)
    : position_(position), chord_(std::move(chord)) {
    // A chord marker without text reads back from a document as C; it is one from the start.
    if (chord_.empty()) chord_.push_back('C');
}

void AddChordMarkerCommand::redo(Project &project) {
    auto &markers = project.chordMarkers;
    markersBefore_.capture(markers);
    const auto existing = std::ranges::find(markers, position_, &ChordMarker::position);
    if (existing != markers.end()) {
        existing->chord = chord_;
        return;
    }
    markers.push_back({position_, chord_});
    std::ranges::stable_sort(markers, {}, &ChordMarker::position);
}

void AddChordMarkerCommand::undo(Project &project) {
    markersBefore_.restoreInto(project.chordMarkers);
}

std::string AddChordMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Chord Marker");
}

MoveChordMarkerCommand::MoveChordMarkerCommand(int64_t from, int64_t to, std::string chord)
    : from_(from), to_(to), chord_(std::move(chord)) {}

void MoveChordMarkerCommand::redo(Project &project) {
    auto &markers = project.chordMarkers;
    markersBefore_.capture(markers);
    const auto moved = std::ranges::find(markers, from_, &ChordMarker::position);
    if (moved != markers.end()) moved->position = to_;
    std::ranges::stable_sort(markers, {}, &ChordMarker::position);
}

void MoveChordMarkerCommand::undo(Project &project) {
    markersBefore_.restoreInto(project.chordMarkers);
}

std::string MoveChordMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Move Chord");
}

AddBeatMarkersCommand::AddBeatMarkersCommand(int64_t start, int64_t length, double bpm,
                                             int32_t beatsPerBar, double sampleRate)
    : start_(start), length_(length), bpm_(bpm), beatsPerBar_(beatsPerBar),
      sampleRate_(sampleRate) {}

void AddBeatMarkersCommand::redo(Project &project) {
    if (!markersBefore_.captured())
        generated_ = buildBeatMarkers(start_, length_, sampleRate_, bpm_, beatsPerBar_);
    markersBefore_.capture(project.beatMarkers);
    project.beatMarkers = markersBefore_.value();
    project.beatMarkers.insert(project.beatMarkers.end(), generated_.begin(), generated_.end());
    std::ranges::stable_sort(project.beatMarkers, {}, &BeatMarker::position);
}

void AddBeatMarkersCommand::undo(Project &project) {
    markersBefore_.restoreInto(project.beatMarkers);
}

std::string AddBeatMarkersCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Beat Markers");
}

MoveBeatMarkerCommand::MoveBeatMarkerCommand(int64_t from, int64_t to) : from_(from), to_(to) {}

void MoveBeatMarkerCommand::redo(Project &project) {
    auto &markers = project.beatMarkers;
    const auto moved = std::ranges::find(markers, from_, &BeatMarker::position);
    if (moved == markers.end()) return;
    markersBefore_.capture(markers);
    moved->position = to_;
    std::ranges::stable_sort(markers, {}, &BeatMarker::position);
}

void MoveBeatMarkerCommand::undo(Project &project) {
    markersBefore_.restoreInto(project.beatMarkers);
}

std::string MoveBeatMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Move Beat Marker");
}

AddWarpMarkerCommand::AddWarpMarkerCommand(uint64_t clipId, int64_t dest, int64_t source)
    : clipId_(clipId), dest_(dest), source_(source) {}

void AddWarpMarkerCommand::redo(Project &project) {
    const auto clip = findAudioClip(project, clipId_);
    if (!clip) return;
    markersBefore_.capture(clip->warpMarkers);
    const auto existing = std::ranges::find(clip->warpMarkers, dest_, &WarpMarker::dest);
    if (existing != clip->warpMarkers.end()) {
        existing->source = source_;
        return;
    }
    clip->warpMarkers.push_back({dest_, source_});
    sortWarpMarkers(*clip);
}

void AddWarpMarkerCommand::undo(Project &project) {
    if (const auto clip = findAudioClip(project, clipId_))
        markersBefore_.restoreInto(clip->warpMarkers);
}

std::string AddWarpMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Warp Marker");
}

MoveWarpMarkerCommand::MoveWarpMarkerCommand(uint64_t clipId, int64_t fromDest, int64_t toDest,
                                             int64_t source)
    : clipId_(clipId), fromDest_(fromDest), toDest_(toDest), source_(source) {}

void MoveWarpMarkerCommand::redo(Project &project) {
    const auto clip = findAudioClip(project, clipId_);
    if (!clip) return;
    markersBefore_.capture(clip->warpMarkers);
    const auto moved = std::ranges::find(clip->warpMarkers, fromDest_, &WarpMarker::dest);
    if (moved != clip->warpMarkers.end()) *moved = {toDest_, source_};
    sortWarpMarkers(*clip);
}

void MoveWarpMarkerCommand::undo(Project &project) {
    if (const auto clip = findAudioClip(project, clipId_))
        markersBefore_.restoreInto(clip->warpMarkers);
}

std::string MoveWarpMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Move Warp");
}

RemoveWarpMarkerCommand::RemoveWarpMarkerCommand(uint64_t clipId, int64_t dest)
    : clipId_(clipId), dest_(dest) {}

void RemoveWarpMarkerCommand::redo(Project &project) {
    const auto clip = findAudioClip(project, clipId_);
    if (!clip) return;
    const auto removed = std::ranges::find(clip->warpMarkers, dest_, &WarpMarker::dest);
    if (removed == clip->warpMarkers.end()) return;
    markersBefore_.capture(clip->warpMarkers);
    clip->warpMarkers.erase(removed);
}

void RemoveWarpMarkerCommand::undo(Project &project) {
    if (const auto clip = findAudioClip(project, clipId_))
        markersBefore_.restoreInto(clip->warpMarkers);
}

std::string RemoveWarpMarkerCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Remove Warp");
}

} // namespace orvane
