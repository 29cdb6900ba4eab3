#pragma once

#include "core/commands/Command.h"
#include "core/commands/SameIdsOnRedo.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// "Split Clip" at an absolute timeline position strictly inside the clip. The right-hand
/// clip draws a fresh id on every redo. Undo merges the notes back, so a note that the split
/// cut returns as two adjacent notes.
class SplitClipCommand : public Command {
  public:
    SplitClipCommand(uint64_t clipId, int64_t position);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::optional<IdCounters> firstRunIds_;
    uint64_t clipId_;
    int64_t position_;
    uint64_t rightClipId_ = 0;
    int64_t lengthBefore_ = 0;
    /// The clip's notes before the split, so that undo gives back a cut note whole.
    std::vector<MidiNote> notesBefore_;
    int64_t fadeInBefore_ = 0;
    int64_t fadeOutBefore_ = 0;
    int64_t sourceOffsetBefore_ = 0;
    std::vector<WarpMarker> warpBefore_;
    std::vector<AutomationPoint> envelopeBefore_;
};

/// "Move Clip" to a new start (never before 0) and, when `targetTrackId` is not 0, onto
/// another track of the same type.
class MoveClipCommand : public Command {
  public:
    MoveClipCommand(uint64_t clipId, int64_t newStart, uint64_t targetTrackId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int64_t newStart_;
    uint64_t targetTrackId_;
    int64_t previousStart_ = 0;
    uint64_t previousTrackId_ = 0;
    std::size_t previousIndex_ = 0;
    bool captured_ = false;
};

/// "Trim Clip": sets start, length (at least 1) and source offset together.
class TrimClipCommand : public Command {
  public:
    TrimClipCommand(uint64_t clipId, int64_t newStart, int64_t newLength, int64_t newSourceOffset);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int64_t newStart_;
    int64_t newLength_;
    int64_t newSourceOffset_;
    int64_t previousStart_ = 0;
    int64_t previousLength_ = 0;
    int64_t previousSourceOffset_ = 0;
    bool captured_ = false;
};

/// "Duplicate Clip": a copy on the same track starting where the source clip ends, or at
/// `start` when one is given (several clips duplicated together keep their distances). The
/// copy draws a fresh id on every redo.
class DuplicateClipCommand : public Command {
  public:
    explicit DuplicateClipCommand(uint64_t clipId, std::optional<int64_t> start = std::nullopt);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;
    /// The copy's id after a redo that made one, else 0.
    uint64_t copyId() const { return copyId_; }

  private:
    std::optional<IdCounters> firstRunIds_;
    uint64_t clipId_;
    std::optional<int64_t> start_;
    uint64_t copyId_ = 0;
};

/// "New MIDI Clip": an empty MIDI clip of `length` samples at `start` of a MIDI track's
/// arrangement lane, named after the track. The clip draws a fresh id on every redo.
class InsertMidiClipCommand : public Command {
  public:
    InsertMidiClipCommand(uint64_t trackId, int64_t start, int64_t length);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;
    /// The new clip's id after a redo that made one, else 0.
    uint64_t clipId() const { return clipId_; }

  private:
    std::optional<IdCounters> firstRunIds_;
    uint64_t trackId_;
    int64_t start_;
    int64_t length_;
    uint64_t clipId_ = 0;
};

/// "Glue Clips": appends the second clip's material to the first and removes the second.
/// Refused for clips on different tracks, of different kinds, for a clip glued to itself and
/// for audio clips whose channel counts differ (their samples cannot share one interleaving).
class GlueClipsCommand : public Command {
  public:
    GlueClipsCommand(uint64_t firstClipId, uint64_t secondClipId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t firstClipId_;
    uint64_t secondClipId_;
    int64_t firstLength_ = 0;
    int32_t firstChannels_ = 2;
    std::vector<MidiNote> firstNotes_;
    SharedSamples firstAudio_;
    std::shared_ptr<Clip> secondCopy_;
    std::size_t secondIndex_ = 0;
    bool captured_ = false;
    bool glued_ = false;
};

/// "Crossfade Clips": the same fade length, limited by half of each clip and the request, as
/// the first clip's fade-out and the second clip's fade-in.
class CrossfadeClipsCommand : public Command {
  public:
    CrossfadeClipsCommand(uint64_t firstClipId, uint64_t secondClipId, int64_t fadeLength);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t firstClipId_;
    uint64_t secondClipId_;
    int64_t fadeLength_;
    int64_t previousFadeOut_ = 0;
    int64_t previousFadeIn_ = 0;
    bool captured_ = false;
};

/// "Delete Clip". Undo returns the clip with its id at its old place in the track's list.
class DeleteClipCommand : public Command {
  public:
    explicit DeleteClipCommand(uint64_t clipId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    std::shared_ptr<Clip> copy_;
    uint64_t trackId_ = 0;
    std::size_t index_ = 0;
    bool deleted_ = false;
};

/// "Paste Clips": copies of `clips` (as they were when copied) placed so that the earliest
/// starts at `position`, keeping their distances. The first clip's track maps to
/// `targetTrackId` and the others keep their distance from it in the track list; a clip
/// whose mapped track is missing or of the other kind goes to its own track, and is left out
/// when that is gone too. A redo brings the copies back under the ids of the first paste.
class PasteClipsCommand : public Command {
  public:
    PasteClipsCommand(std::vector<std::shared_ptr<const Clip>> clips, int64_t position,
                      uint64_t targetTrackId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;
    /// The ids of the pasted copies, after a redo.
    std::vector<uint64_t> pastedIds() const;

  private:
    std::vector<std::shared_ptr<const Clip>> clips_;
    int64_t position_;
    uint64_t targetTrackId_;
    std::vector<std::shared_ptr<Clip>> pasted_;
    std::optional<IdCounters> firstRun_;
};

} // namespace orvane
