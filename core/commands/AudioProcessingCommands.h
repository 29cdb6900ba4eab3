#pragma once

#include "core/commands/Command.h"
#include "core/commands/SameIdsOnRedo.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// Base of the edits that change one audio clip's samples or placement. The first redo that
/// finds the clip keeps its buffer pointer and placement; undo puts them back. Published
/// buffers are never written, so an edit always gives the clip a new buffer: clips that share
/// the old one (the halves of a split, the slices of a clip) keep their sound, and keeping the
/// pointer is an exact copy of the samples for undo.
class AudioClipEditCommand : public Command {
  public:
    void redo(Project &project) final;
    void undo(Project &project) final;

  protected:
    /// `needsSamples`: the edit applies only to a clip that holds a non-empty buffer.
    AudioClipEditCommand(uint64_t clipId, bool needsSamples);
    /// Changes the clip, which is an audio clip (with samples when they are needed).
    virtual void apply(Clip &clip) = 0;

  private:
    uint64_t clipId_;
    bool needsSamples_;
    SharedSamples previousAudio_;
    int64_t previousLength_ = 0;
    int64_t previousSourceOffset_ = 0;
    int64_t previousArrangeStart_ = 0;
    double previousStretchRatio_ = 1.0;
    bool captured_ = false;
};

/// "Normalize Audio": scales the samples so that the largest magnitude becomes the target
/// peak. Silence (peak at most 1e-6) and a target that is not a finite number change nothing.
class NormalizeAudioClipCommand : public AudioClipEditCommand {
  public:
    NormalizeAudioClipCommand(uint64_t clipId, float targetPeak);
    std::string name() const override;

  private:
    void apply(Clip &clip) override;
    float targetPeak_;
};

/// "Reverse Audio": the frames in reverse order, each keeping its channel order.
class ReverseAudioClipCommand : public AudioClipEditCommand {
  public:
    explicit ReverseAudioClipCommand(uint64_t clipId);
    std::string name() const override;

  private:
    void apply(Clip &clip) override;
};

/// "Invert Phase": every sample negated.
class InvertAudioPhaseCommand : public AudioClipEditCommand {
  public:
    explicit InvertAudioPhaseCommand(uint64_t clipId);
    std::string name() const override;

  private:
    void apply(Clip &clip) override;
};

/// "Trim Silence": keeps the frames from the first to the last one louder than the threshold
/// on some channel. The new buffer begins at the first loud frame, so the source offset moves
/// back by that many frames (never below 0).
class TrimAudioSilenceCommand : public AudioClipEditCommand {
  public:
    TrimAudioSilenceCommand(uint64_t clipId, float threshold);
    std::string name() const override;

  private:
    void apply(Clip &clip) override;
    float threshold_;
};

/// "Pitch Shift": resamples the whole buffer 2^(semitones / 12) times faster. The clip's
/// window on the source (offset and length) shrinks or grows with it, so the same passage
/// plays; the stretch ratio stays, the resampled buffer already carries the change.
class PitchShiftAudioClipCommand : public AudioClipEditCommand {
  public:
    PitchShiftAudioClipCommand(uint64_t clipId, float semitones);
    std::string name() const override;

  private:
    void apply(Clip &clip) override;
    float semitones_;
};

/// "Pitch Correct": shifts the clip onto the nearest pitch of the scale, measured on the
/// audio the clip plays. A fundamental under 20 Hz or a correction under 0.05 semitone
/// changes nothing.
class PitchCorrectAudioClipCommand : public AudioClipEditCommand {
  public:
    PitchCorrectAudioClipCommand(uint64_t clipId, double sampleRate, int32_t scaleRoot, bool minor);
    std::string name() const override;

  private:
    void apply(Clip &clip) override;
    double sampleRate_;
    int32_t scaleRoot_;
    bool minor_;
};

/// "Align Onset": cuts the part before the onset off while the sound keeps its timeline place.
class AlignAudioOnsetCommand : public AudioClipEditCommand {
  public:
    AlignAudioOnsetCommand(uint64_t clipId, int64_t onsetOffset);
    std::string name() const override;

  private:
    void apply(Clip &clip) override;
    int64_t onsetOffset_;
};

/// "Snap Onset": moves the clip so that its onset lands on the playhead (never before 0).
class SnapAudioOnsetToPlayheadCommand : public AudioClipEditCommand {
  public:
    SnapAudioOnsetToPlayheadCommand(uint64_t clipId, int64_t playhead, int64_t onsetOffset);
    std::string name() const override;

  private:
    void apply(Clip &clip) override;
    int64_t playhead_;
    int64_t onsetOffset_;
};

/// "Split Stems": three new audio tracks, each with one clip holding the bass, mid or high
/// band of the audio the source clip plays, placed where the clip starts. The source clip
/// stays. A redo after undo splits again, with fresh track and clip ids.
class SplitAudioStemsCommand : public Command {
  public:
    static constexpr std::array<const char *, 3> kNames{"Bass", "Mid", "High"};

    explicit SplitAudioStemsCommand(uint64_t clipId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::optional<IdCounters> firstRunIds_;
    struct Stem {
        SharedSamples samples;
        int32_t channels = 2;
        uint64_t trackId = 0;
        uint64_t clipId = 0;
    };

    uint64_t clipId_;
    int64_t arrangeStart_ = 0;
    std::array<Stem, 3> stems_;
    bool done_ = false;
};

/// "Slice At Transients": cuts the clip at its transients (up to 32, the first one is not a
/// cut) into clips that share its buffer. Positions are found in the audio the clip plays.
class SliceAudioAtTransientsCommand : public Command {
  public:
    explicit SliceAudioAtTransientsCommand(uint64_t clipId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::optional<IdCounters> firstRunIds_;
    uint64_t clipId_;
    int64_t previousLength_ = 0;
    std::vector<uint64_t> sliceIds_;
    bool captured_ = false;
};

/// "Bounce In Place": a clip named "Bounce" with the rendered buffer over [start, start +
/// length) on an audio track; the track's arrangement clips overlapping that span fall silent.
/// MIDI and return tracks are left alone: the renderer plays no audio clip on them.
class BounceTrackInPlaceCommand : public Command {
  public:
    BounceTrackInPlaceCommand(uint64_t trackId, int64_t start, int64_t length,
                              SharedSamples rendered);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  protected:
    std::optional<IdCounters> firstRunIds_;
    struct Silenced {
        uint64_t clipId = 0;
        bool takeActive = true;
    };
    /// The audio track to place the rendered buffer on, or null when it or the buffer does
    /// not qualify.
    std::shared_ptr<Track> targetTrack(const Project &project) const;
    /// Adds the clip named `clipName` and silences the track's other arrangement clips: all of
    /// them with `everyClip`, else those overlapping the rendered span.
    void placeRendered(Project &project, Track &track, const char *clipName, bool everyClip);
    void removeRendered(Project &project);

    uint64_t trackId_;
    int64_t start_;
    int64_t length_;
    SharedSamples rendered_;
    uint64_t renderedClipId_ = 0;
    std::vector<Silenced> silenced_;
};

/// "Freeze Track": as the bounce, with a clip named "Freeze", the track marked frozen and
/// every other arrangement clip of the track silenced.
class FreezeTrackInPlaceCommand : public BounceTrackInPlaceCommand {
  public:
    FreezeTrackInPlaceCommand(uint64_t trackId, int64_t start, int64_t length,
                              SharedSamples rendered);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    bool previousFrozen_ = false;
};

/// "Toggle Freeze": flips the track's frozen mark.
class ToggleTrackFrozenCommand : public Command {
  public:
    explicit ToggleTrackFrozenCommand(uint64_t trackId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    bool previousFrozen_ = false;
    bool newFrozen_ = true;
    bool captured_ = false;
};

/// "Flashback Capture": a clip named "Flashback" with the captured buffer. Without an audio
/// track to hold it the command adds one, named "Flashback " and the lowest number no track
/// of the project carries yet. Undo takes that track away with the clip, so nothing of the
/// capture stays behind; a redo adds the track anew, with a fresh id and the same name.
class CaptureFlashbackCommand : public Command {
  public:
    CaptureFlashbackCommand(uint64_t trackId, int64_t start, int64_t length,
                            SharedSamples captured);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::optional<IdCounters> firstRunIds_;
    std::shared_ptr<Track> targetTrack(Project &project);

    uint64_t trackId_;
    int64_t start_;
    int64_t length_;
    SharedSamples captured_;
    uint64_t clipId_ = 0;
    /// The track the latest redo added, if any.
    uint64_t addedTrackId_ = 0;
};

} // namespace orvane
