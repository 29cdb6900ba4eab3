#include "core/commands/ClipCommands.h"

#include "core/commands/ClipPlacement.h"
#include "core/model/MusicalTime.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace orvane {

namespace {

/// Notes ending at or before `offset` stay left, notes starting at or after it move right,
/// and a note across the cut becomes a head on the left and a tail at 0 on the right.
void divideNotes(Clip &left, Clip &right, int64_t offset) {
    std::vector<MidiNote> leftNotes;
    std::vector<MidiNote> rightNotes;
    for (const MidiNote &note : left.notes) {
        const int64_t end = saturatingAdd(note.start, note.length);
        if (end <= offset) {
            leftNotes.push_back(note);
        } else if (note.start >= offset) {
            MidiNote moved = note;
            moved.start = note.start - offset;
            rightNotes.push_back(moved);
        } else {
            MidiNote head = note;
            head.length = offset - note.start;
            MidiNote tail = note;
            tail.start = 0;
            tail.length = note.length - head.length;
            leftNotes.push_back(head);
            rightNotes.push_back(tail);
        }
    }
    left.notes = std::move(leftNotes);
    right.notes = std::move(rightNotes);
}

/// A stretched or warped clip reads its source through a map that both halves must go on
/// reading: each half gets the map's source position at its ends as warp markers (a marker
/// at an end outranks the implicit end point), and the inner markers on its side of the cut.
/// An unwarped clip at its own speed needs none: the source offset carries it.
void divideWarp(Clip &left, Clip &right, int64_t offset) {
    if (left.kind != ClipKind::Audio) return;
    if (left.warpMarkers.empty() && left.stretchRatio == 1.0) return;
    const ClipWarpTable map = buildClipWarpTable(left);
    const auto sourceAt = [&](int64_t t) { return saturatingToInt64(std::round(map.sourceAt(t))); };
    const int64_t cutSource = sourceAt(offset);
    std::vector<WarpMarker> leftMarkers;
    std::vector<WarpMarker> rightMarkers;
    for (const WarpMarker &marker : left.warpMarkers) {
        if (marker.dest > 0 && marker.dest < offset) leftMarkers.push_back(marker);
        if (marker.dest > offset && marker.dest < left.length)
            rightMarkers.push_back({marker.dest - offset, marker.source});
    }
    // The map holds a bounded number of markers; the end markers always find a place.
    const auto keepRoomForEnd = [](std::vector<WarpMarker> &markers) {
        if (markers.size() >= ClipWarpTable::maxWarpMarkers)
            markers.resize(ClipWarpTable::maxWarpMarkers - 1);
    };
    keepRoomForEnd(leftMarkers);
    keepRoomForEnd(rightMarkers);
    leftMarkers.push_back({offset, cutSource});
    rightMarkers.push_back({left.length - offset, sourceAt(left.length)});
    right.sourceOffset = cutSource;
    left.warpMarkers = std::move(leftMarkers);
    right.warpMarkers = std::move(rightMarkers);
}

/// The envelope's level at clip time `t`: straight lines between its points, held past its
/// ends, as the renderer reads it.
float envelopeLevelAt(const std::vector<AutomationPoint> &points, int64_t t) {
    if (t <= points.front().t) return points.front().v;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const AutomationPoint &from = points[i];
        const AutomationPoint &to = points[i + 1];
        if (t > to.t) continue;
        const double fraction = static_cast<double>(t - from.t) /
                                static_cast<double>(std::max<int64_t>(to.t - from.t, 1));
        return from.v + (to.v - from.v) * static_cast<float>(fraction);
    }
    return points.back().v;
}

/// The gain envelope's points on each side of the cut, and its level at the cut on both, so
/// that each half plays the level it played before.
void divideGainEnvelope(Clip &left, Clip &right, int64_t offset) {
    if (left.gainEnvelope.size() < 2) {
        right.gainEnvelope = left.gainEnvelope;
        return;
    }
    const float atCut = envelopeLevelAt(left.gainEnvelope, offset);
    std::vector<AutomationPoint> leftPoints;
    std::vector<AutomationPoint> rightPoints{{0, atCut}};
    for (const AutomationPoint &point : left.gainEnvelope) {
        if (point.t < offset) leftPoints.push_back(point);
        if (point.t > offset) rightPoints.push_back({point.t - offset, point.v});
    }
    leftPoints.push_back({offset, atCut});
    // A single point reads as no envelope: a second one at the end holds the level.
    if (rightPoints.size() < 2) rightPoints.push_back({right.length, atCut});
    if (leftPoints.size() < 2) leftPoints.insert(leftPoints.begin(), {0, atCut});
    left.gainEnvelope = std::move(leftPoints);
    right.gainEnvelope = std::move(rightPoints);
}

int32_t interleavedChannels(const Clip &clip) { return clip.channels < 2 ? 1 : clip.channels; }

void appendAudio(Clip &first, const Clip &second) {
    const int32_t channels = interleavedChannels(first);
    auto joined = std::make_shared<std::vector<float>>();
    joined->reserve((first.audio ? first.audio->size() : 0) +
                    (second.audio ? second.audio->size() : 0));
    for (const Clip *part : std::initializer_list<const Clip *>{&first, &second}) {
        if (!part->audio) continue;
        joined->resize(joined->size() + static_cast<std::size_t>(part->audio->size()));
        part->audio->copyTo(0, part->audio->size(),
                            joined->data() + joined->size() - part->audio->size());
    }
    if (joined->empty()) {
        first.length = saturatingAdd(first.length, second.length);
        return;
    }
    first.length = static_cast<int64_t>(joined->size()) / channels;
    first.channels = channels;
    first.audio = std::move(joined);
}

void appendNotes(Clip &first, const Clip &second) {
    for (MidiNote note : second.notes) {
        note.start = saturatingAdd(note.start, first.length);
        first.notes.push_back(note);
    }
    first.length = saturatingAdd(first.length, second.length);
}

std::size_t indexOnOwnTrack(const Project &project, const Clip &clip) {
    const auto track = project.findTrack(clip.trackId);
    if (!track) return 0;
    return clipIndex(*track, clip.id).value_or(track->clips.size());
}

} // namespace

SplitClipCommand::SplitClipCommand(uint64_t clipId, int64_t position)
    : clipId_(clipId), position_(position) {}

void SplitClipCommand::redo(Project &project) {
    rightClipId_ = 0;
    const auto clip = project.findClip(clipId_);
    if (!clip) return;
    const int64_t start = clip->arrangeStart;
    if (!(start < position_ && position_ < saturatingAdd(start, clip->length))) return;
    const int64_t offset = position_ - start;
    lengthBefore_ = clip->length;
    notesBefore_ = clip->notes;
    fadeOutBefore_ = clip->fadeOut;
    fadeInBefore_ = clip->fadeIn;
    sourceOffsetBefore_ = clip->sourceOffset;
    warpBefore_ = clip->warpMarkers;
    envelopeBefore_ = clip->gainEnvelope;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto right = project.addClip(clip->trackId, clip->kind);
    if (!right) return;
    rightClipId_ = right->id;
    right->name = clip->name + " B";
    right->arrangeStart = position_;
    right->length = clip->length - offset;
    right->sourceOffset = saturatingAdd(clip->sourceOffset, offset);
    right->audioFile = clip->audioFile;
    right->audio = clip->audio;
    right->channels = clip->channels;
    right->notes = clip->notes;
    right->gain = clip->gain;
    right->stretchRatio = clip->stretchRatio;
    right->loop = clip->loop;
    right->loopLength = clip->loopLength;
    right->takeLane = clip->takeLane;
    right->takeActive = clip->takeActive;
    if (clip->kind == ClipKind::Midi) divideNotes(*clip, *right, offset);
    divideWarp(*clip, *right, offset);
    divideGainEnvelope(*clip, *right, offset);
    // The clip's ends stay where they were: its fade-in begins the left half, its fade-out
    // ends the right one, and the cut itself gets no fade.
    right->fadeOut = std::min(clip->fadeOut, right->length);
    right->fadeIn = 0;
    clip->fadeOut = 0;
    clip->fadeIn = std::min(clip->fadeIn, offset);
    clip->length = offset;
}

void SplitClipCommand::undo(Project &project) {
    if (rightClipId_ == 0) return;
    const auto left = project.findClip(clipId_);
    if (!left) return;
    left->length = lengthBefore_;
    left->fadeIn = fadeInBefore_;
    left->fadeOut = fadeOutBefore_;
    left->sourceOffset = sourceOffsetBefore_;
    left->warpMarkers = warpBefore_;
    left->gainEnvelope = envelopeBefore_;
    // Later edits of either half were undone before this one, so the notes as they were
    // before the split are exactly what belongs back; joining the halves instead would
    // leave a cut note in two pieces.
    if (project.findClip(rightClipId_) && left->kind == ClipKind::Midi) left->notes = notesBefore_;
    project.removeClip(rightClipId_);
    rightClipId_ = 0;
}

std::string SplitClipCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Split Clip"); }

MoveClipCommand::MoveClipCommand(uint64_t clipId, int64_t newStart, uint64_t targetTrackId)
    : clipId_(clipId), newStart_(newStart), targetTrackId_(targetTrackId) {}

void MoveClipCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip) return;
    if (!captured_) {
        previousStart_ = clip->arrangeStart;
        previousTrackId_ = clip->trackId;
        captured_ = true;
    }
    previousIndex_ = indexOnOwnTrack(project, *clip);
    clip->arrangeStart = std::max<int64_t>(newStart_, 0);
    if (targetTrackId_ != 0) project.moveClipToTrack(clip, targetTrackId_);
}

void MoveClipCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !captured_) return;
    clip->arrangeStart = previousStart_;
    const bool changedTrack = clip->trackId != previousTrackId_;
    if (!project.moveClipToTrack(clip, previousTrackId_) || !changedTrack) return;
    // Returning to the old track appends the clip; put it back where it was so the track's
    // list, and with it the saved document, reads as before the move.
    if (const auto track = project.findTrack(previousTrackId_))
        moveClipWithinTrack(*track, clipId_, previousIndex_);
}

std::string MoveClipCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Move Clip"); }

TrimClipCommand::TrimClipCommand(uint64_t clipId, int64_t newStart, int64_t newLength,
                                 int64_t newSourceOffset)
    : clipId_(clipId), newStart_(newStart), newLength_(newLength),
      newSourceOffset_(newSourceOffset) {}

void TrimClipCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip) return;
    if (!captured_) {
        previousStart_ = clip->arrangeStart;
        previousLength_ = clip->length;
        previousSourceOffset_ = clip->sourceOffset;
        captured_ = true;
    }
    clip->arrangeStart = newStart_;
    clip->length = std::max<int64_t>(newLength_, 1);
    clip->sourceOffset = newSourceOffset_;
}

void TrimClipCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !captured_) return;
    clip->arrangeStart = previousStart_;
    clip->length = previousLength_;
    clip->sourceOffset = previousSourceOffset_;
}

std::string TrimClipCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Trim Clip"); }

DuplicateClipCommand::DuplicateClipCommand(uint64_t clipId, std::optional<int64_t> start)
    : clipId_(clipId), start_(start) {}

void DuplicateClipCommand::redo(Project &project) {
    copyId_ = 0;
    const auto source = project.findClip(clipId_);
    if (!source) return;
    const auto track = project.findTrack(source->trackId);
    if (!track) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto copy = project.addClip(track->id, source->kind);
    if (!copy) return;
    copyId_ = copy->id;
    copy->name = source->name + " copy";
    copy->length = source->length;
    copy->sourceOffset = source->sourceOffset;
    copy->arrangeStart =
        start_ ? std::max<int64_t>(*start_, 0)
               : saturatingAdd(source->arrangeStart, std::max<int64_t>(source->length, 1));
    copy->loop = source->loop;
    copy->loopLength = source->loopLength;
    copy->gain = source->gain;
    copy->fadeIn = source->fadeIn;
    copy->fadeOut = source->fadeOut;
    copy->audioFile = source->audioFile;
    copy->stretchRatio = source->stretchRatio;
    copy->warpMarkers = source->warpMarkers;
    copy->gainEnvelope = source->gainEnvelope;
    copy->channels = source->channels;
    copy->notes = source->notes;
    // Buffers are immutable, so the copy shares its source's samples.
    copy->audio = source->audio;
}

void DuplicateClipCommand::undo(Project &project) {
    if (copyId_ == 0) return;
    project.removeClip(copyId_);
    copyId_ = 0;
}

std::string DuplicateClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Duplicate Clip");
}

InsertMidiClipCommand::InsertMidiClipCommand(uint64_t trackId, int64_t start, int64_t length)
    : trackId_(trackId), start_(start), length_(length) {}

void InsertMidiClipCommand::redo(Project &project) {
    clipId_ = 0;
    const auto track = project.findTrack(trackId_);
    if (!track || track->type != TrackType::Midi || length_ < 1) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto clip = project.addClip(trackId_, ClipKind::Midi);
    if (!clip) return;
    clip->name = track->name;
    clip->arrangeStart = std::max<int64_t>(start_, 0);
    clip->length = length_;
    clipId_ = clip->id;
}

void InsertMidiClipCommand::undo(Project &project) {
    if (clipId_ != 0) project.removeClip(clipId_);
    clipId_ = 0;
}

std::string InsertMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "New MIDI Clip");
}

GlueClipsCommand::GlueClipsCommand(uint64_t firstClipId, uint64_t secondClipId)
    : firstClipId_(firstClipId), secondClipId_(secondClipId) {}

void GlueClipsCommand::redo(Project &project) {
    glued_ = false;
    if (firstClipId_ == secondClipId_) return;
    const auto first = project.findClip(firstClipId_);
    const auto second = project.findClip(secondClipId_);
    if (!first || !second) return;
    if (first->trackId != second->trackId || first->kind != second->kind) return;
    if (first->kind == ClipKind::Audio &&
        interleavedChannels(*first) != interleavedChannels(*second))
        return;
    if (!captured_) {
        firstLength_ = first->length;
        firstChannels_ = first->channels;
        firstNotes_ = first->notes;
        // Published sample buffers are never written again, so holding the pointer keeps the
        // samples exactly as they were without a second copy of them.
        firstAudio_ = first->audio;
        secondCopy_ = cloneClipForUndo(*second);
        captured_ = true;
    }
    secondIndex_ = indexOnOwnTrack(project, *second);
    if (first->kind == ClipKind::Audio)
        appendAudio(*first, *second);
    else
        appendNotes(*first, *second);
    project.removeClip(secondClipId_);
    glued_ = true;
}

void GlueClipsCommand::undo(Project &project) {
    // Only the glue of the latest redo is taken apart: restoring after a refused redo would
    // bring back a second clip that was never removed.
    if (!captured_ || !glued_) return;
    const auto first = project.findClip(firstClipId_);
    if (!first) return;
    first->length = firstLength_;
    first->channels = firstChannels_;
    first->notes = firstNotes_;
    first->audio = firstAudio_;
    // A copy of the kept clip goes back, never the kept clip itself: later edits of the clip
    // in the project would change what every further undo restores.
    if (const auto track = project.findTrack(secondCopy_->trackId))
        insertClipAt(*track, cloneClipForUndo(*secondCopy_), secondIndex_);
    glued_ = false;
}

std::string GlueClipsCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Glue Clips"); }

CrossfadeClipsCommand::CrossfadeClipsCommand(uint64_t firstClipId, uint64_t secondClipId,
                                             int64_t fadeLength)
    : firstClipId_(firstClipId), secondClipId_(secondClipId), fadeLength_(fadeLength) {}

void CrossfadeClipsCommand::redo(Project &project) {
    const auto first = project.findClip(firstClipId_);
    const auto second = project.findClip(secondClipId_);
    if (!first || !second || first->trackId != second->trackId) return;
    if (!captured_) {
        previousFadeOut_ = first->fadeOut;
        previousFadeIn_ = second->fadeIn;
        captured_ = true;
    }
    const int64_t fade = std::min({std::max<int64_t>(second->length, 1) / 2,
                                   std::max<int64_t>(first->length, 1) / 2, fadeLength_});
    first->fadeOut = fade;
    second->fadeIn = fade;
}

void CrossfadeClipsCommand::undo(Project &project) {
    if (!captured_) return;
    const auto first = project.findClip(firstClipId_);
    const auto second = project.findClip(secondClipId_);
    if (!first || !second) return;
    first->fadeOut = previousFadeOut_;
    second->fadeIn = previousFadeIn_;
}

std::string CrossfadeClipsCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Crossfade Clips");
}

DeleteClipCommand::DeleteClipCommand(uint64_t clipId) : clipId_(clipId) {}

void DeleteClipCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip) return;
    if (!copy_) {
        copy_ = cloneClipForUndo(*clip);
        trackId_ = clip->trackId;
    }
    index_ = indexOnOwnTrack(project, *clip);
    project.removeClip(clipId_);
    deleted_ = true;
}

void DeleteClipCommand::undo(Project &project) {
    if (!copy_ || !deleted_) return;
    const auto track = project.findTrack(trackId_);
    if (!track) return;
    // A clone each time: the clip put back is edited by the undos below this one (a move
    // back to its first track, say), and the next redo and undo must start from the clip
    // as it was deleted, not from those edits.
    insertClipAt(*track, cloneClipForUndo(*copy_), index_);
    deleted_ = false;
}

std::string DeleteClipCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Delete Clip"); }

namespace {

std::optional<std::size_t> trackPosition(const Project &project, uint64_t trackId) {
    for (std::size_t index = 0; index < project.tracks.size(); ++index)
        if (project.tracks[index] && project.tracks[index]->id == trackId) return index;
    return std::nullopt;
}

bool holdsKind(const Track &track, ClipKind kind) {
    if (track.type == TrackType::Return) return false;
    return (track.type == TrackType::Midi) == (kind == ClipKind::Midi);
}

/// The track a pasted clip lands on: as far from the target as its source was from the first
/// clip's source, else its own source track.
std::shared_ptr<Track> pasteTrackFor(const Project &project, const Clip &clip,
                                     uint64_t firstSourceTrack, uint64_t targetTrack) {
    const auto first = trackPosition(project, firstSourceTrack);
    const auto own = trackPosition(project, clip.trackId);
    const auto target = trackPosition(project, targetTrack);
    if (first && own && target) {
        const auto shifted =
            static_cast<std::ptrdiff_t>(*target) +
            (static_cast<std::ptrdiff_t>(*own) - static_cast<std::ptrdiff_t>(*first));
        if (shifted >= 0 && shifted < static_cast<std::ptrdiff_t>(project.tracks.size())) {
            const auto &track = project.tracks[static_cast<std::size_t>(shifted)];
            if (track && holdsKind(*track, clip.kind)) return track;
        }
    }
    const auto source = project.findTrack(clip.trackId);
    return source && holdsKind(*source, clip.kind) ? source : nullptr;
}

} // namespace

PasteClipsCommand::PasteClipsCommand(std::vector<std::shared_ptr<const Clip>> clips,
                                     int64_t position, uint64_t targetTrackId)
    : clips_(std::move(clips)), position_(std::max<int64_t>(position, 0)),
      targetTrackId_(targetTrackId) {
    std::erase(clips_, nullptr);
}

void PasteClipsCommand::redo(Project &project) {
    pasted_.clear();
    if (clips_.empty()) return;
    const SameIdsOnRedo sameIds(firstRun_, project);
    int64_t earliest = clips_.front()->arrangeStart;
    for (const auto &clip : clips_)
        earliest = std::min(earliest, clip->arrangeStart);
    const uint64_t firstSource = clips_.front()->trackId;
    const uint64_t target = targetTrackId_ != 0 ? targetTrackId_ : firstSource;
    for (const auto &clip : clips_) {
        const auto track = pasteTrackFor(project, *clip, firstSource, target);
        if (!track) continue;
        auto copy = cloneClipForUndo(*clip);
        copy->id = project.nextClipId++;
        copy->trackId = track->id;
        copy->sessionRow = copy->sessionCol = -1;
        copy->takeLane = 0;
        copy->takeActive = true;
        copy->arrangeStart = saturatingAdd(position_, clip->arrangeStart - earliest);
        track->clips.push_back(copy);
        pasted_.push_back(std::move(copy));
    }
}

void PasteClipsCommand::undo(Project &project) {
    for (const auto &copy : pasted_)
        project.removeClip(copy->id);
}

std::string PasteClipsCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Paste Clips"); }

std::vector<uint64_t> PasteClipsCommand::pastedIds() const {
    std::vector<uint64_t> ids;
    for (const auto &copy : pasted_)
        ids.push_back(copy->id);
    return ids;
}

} // namespace orvane
