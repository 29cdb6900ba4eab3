#pragma once

#include "core/commands/Command.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

/// A command that rewrites the whole note list of one MIDI clip. Each redo that finds the
/// clip (with notes, where the edit needs them) keeps a copy of the notes and length it
/// replaces; undo puts the notes back, and the length too for edits that change it. Seeded
/// edits therefore give the same result on every redo.
class MidiClipRewriteCommand : public Command {
  public:
    void redo(Project &project) final;
    void undo(Project &project) final;

  protected:
    struct Behaviour {
        bool needsNotes = false;
        bool changesLength = false;
    };

    MidiClipRewriteCommand(uint64_t clipId, Behaviour behaviour);
    /// Rewrites `notes` (the clip's list to start from) and may change the clip's length;
    /// false leaves the clip as it was.
    [[nodiscard]] virtual bool rewrite(const Project &project, Clip &clip,
                                       std::vector<MidiNote> &notes) = 0;

    const std::vector<MidiNote> &notesBefore() const { return notesBefore_; }
    int64_t lengthBefore() const { return lengthBefore_; }

  private:
    uint64_t clipId_;
    Behaviour behaviour_;
    std::vector<MidiNote> notesBefore_;
    int64_t lengthBefore_ = 0;
    bool captured_ = false;
};

/// "Quantize": moves every arrangement clip of the track (of every track for id 0) towards
/// the grid by `strength`, and the notes of MIDI clips within them, optionally snapping their
/// pitches to the scale. Positions follow the project's tempo and meter maps.
class QuantizeSelectionCommand : public Command {
  public:
    QuantizeSelectionCommand(uint64_t trackId, GridQuantize grid, float swing, float strength,
                             int32_t scaleRoot, bool minor, bool snapToScale);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

    struct ClipState {
        uint64_t clipId = 0;
        int64_t arrangeStart = 0;
        std::vector<MidiNote> notes;
    };

  private:
    uint64_t trackId_;
    GridQuantize grid_;
    float swing_;
    float strength_;
    int32_t scaleRoot_;
    bool minor_;
    bool snapToScale_;
    std::vector<ClipState> clips_;
};

/// "Iterative Quantize": the notes of one clip towards the grid; the clip stays where it is.
class IterativeQuantizeClipCommand : public MidiClipRewriteCommand {
  public:
    IterativeQuantizeClipCommand(uint64_t clipId, GridQuantize grid, float swing, float strength,
                                 int32_t scaleRoot, bool minor, bool snapToScale);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    GridQuantize grid_;
    float swing_;
    float strength_;
    int32_t scaleRoot_;
    bool minor_;
    bool snapToScale_;
};

/// "Quantize Notes": the starts of the notes at `noteIndices` (every note when empty) of one
/// clip towards a grid of `gridBeats` beats by `strength`, with `swing`, on the song's
/// timeline (the clip's start counts), optionally snapping their pitches to the scale. The
/// piano roll's own grid and its selection drive it.
class QuantizeMidiNotesCommand : public MidiClipRewriteCommand {
  public:
    QuantizeMidiNotesCommand(uint64_t clipId, double gridBeats, std::vector<int32_t> noteIndices,
                             float swing, float strength, int32_t scaleRoot, bool minor,
                             bool snapToScale);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    double gridBeats_;
    std::vector<int32_t> noteIndices_;
    float swing_;
    float strength_;
    int32_t scaleRoot_;
    bool minor_;
    bool snapToScale_;
};

/// "Humanize MIDI": seeded random timing and velocity, the same on every redo.
class HumanizeMidiClipCommand : public MidiClipRewriteCommand {
  public:
    HumanizeMidiClipCommand(uint64_t clipId, int64_t span, float timingAmount, float velocityAmount,
                            uint32_t seed);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int64_t span_;
    float timingAmount_;
    float velocityAmount_;
    uint32_t seed_;
};

/// "Transpose": every pitch moved by `semitones`, kept within 0 to 127.
class TransposeMidiClipCommand : public MidiClipRewriteCommand {
  public:
    TransposeMidiClipCommand(uint64_t clipId, int32_t semitones);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int32_t semitones_;
};

/// "Velocity": every velocity becomes velocity × scale + offset, kept within 0 to 1.
class ScaleMidiVelocityCommand : public MidiClipRewriteCommand {
  public:
    ScaleMidiVelocityCommand(uint64_t clipId, float scale, float offset);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    float scale_;
    float offset_;
};

/// "Scale MIDI Duration": starts, lengths and the clip's length times `factor`.
class ScaleMidiDurationCommand : public MidiClipRewriteCommand {
  public:
    ScaleMidiDurationCommand(uint64_t clipId, float factor);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    float factor_;
};

/// "Reverse MIDI": mirrors every note within the clip; a note past the end lands at 0.
class ReverseMidiClipCommand : public MidiClipRewriteCommand {
  public:
    explicit ReverseMidiClipCommand(uint64_t clipId);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
};

/// "MIDI Legato": every note lasts until the next note of its pitch, or the clip's end.
class LegatoMidiClipCommand : public MidiClipRewriteCommand {
  public:
    explicit LegatoMidiClipCommand(uint64_t clipId);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
};

/// "Arpeggiate MIDI": the chord at the clip's start played one pitch per step.
class ArpeggiateMidiClipCommand : public MidiClipRewriteCommand {
  public:
    ArpeggiateMidiClipCommand(uint64_t clipId, int64_t stepLength, bool descending);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int64_t stepLength_;
    bool descending_;
};

/// "Generate MIDI": replaces the notes by a seeded walk over the project's scale.
class GenerateMidiClipCommand : public MidiClipRewriteCommand {
  public:
    GenerateMidiClipCommand(uint64_t clipId, int64_t step, uint32_t seed, float density);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int64_t step_;
    uint32_t seed_;
    float density_;
};

/// "Euclidean Fill": a Euclidean pattern on one of eight drum pitches (`kPitches`).
class ApplyEuclideanStepSeqCommand : public MidiClipRewriteCommand {
  public:
    static constexpr int32_t kPitches[8] = {48, 50, 52, 53, 55, 57, 59, 60};

    ApplyEuclideanStepSeqCommand(uint64_t clipId, int32_t pitchIndex, int32_t steps, int32_t pulses,
                                 int64_t stepLength);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int32_t pitchIndex_;
    int32_t steps_;
    int32_t pulses_;
    int64_t stepLength_;
};

/// "Pitch Quantize": pitches pulled by `strength` towards the scale, or towards the keyboard
/// map when the project has one.
class QuantizeMidiPitchCommand : public MidiClipRewriteCommand {
  public:
    QuantizeMidiPitchCommand(uint64_t clipId, int32_t scaleRoot, bool minor, float strength);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int32_t scaleRoot_;
    bool minor_;
    float strength_;
};

/// "Apply Tuning": pitches onto the scale or keyboard map, pitch bends cleared.
class ApplyTuningToMidiClipCommand : public MidiClipRewriteCommand {
  public:
    ApplyTuningToMidiClipCommand(uint64_t clipId, int32_t scaleRoot, bool minor);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int32_t scaleRoot_;
    bool minor_;
};

/// "Pitch Bend": every note's bend moved by `deltaCents`, kept within ±200 cents.
class AdjustMidiPitchBendCommand : public MidiClipRewriteCommand {
  public:
    AdjustMidiPitchBendCommand(uint64_t clipId, float deltaCents);
    std::string name() const override;

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    float deltaCents_;
};

/// The pitch that `pitch` is tuned to: through the keyboard map when `kbmDegrees` is not
/// empty (moved into the pitch's octave), else the nearest scale pitch; within 0 to 127.
int32_t tunedPitch(int32_t pitch, int32_t root, bool minor, const std::vector<int32_t> &kbmDegrees);

/// "Delete MIDI Note": removes the note at `index` of a MIDI clip.
class DeleteMidiNoteCommand : public MidiClipRewriteCommand {
  public:
    DeleteMidiNoteCommand(uint64_t clipId, int32_t index)
        : MidiClipRewriteCommand(clipId, Behaviour{true, false}), index_(index) {}
    std::string name() const override { return QT_TRANSLATE_NOOP("Command", "Delete MIDI Note"); }

  private:
    bool rewrite(const Project &project, Clip &clip, std::vector<MidiNote> &notes) override;
    int32_t index_;
};

} // namespace orvane
