#pragma once

#include "core/commands/Command.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

// Single-note edits of MIDI clips and the two MIDI settings of a track. A note command acts
// only on a clip of kind MIDI. Every edit gives the clip a new notes list. Each redo records
// what it replaces and undo puts back what the last redo replaced, the clip's length included
// when the edit lengthened the clip to hold a note.

/// "Add MIDI Note": appends the note and lengthens the clip to hold it.
class AddMidiNoteCommand : public Command {
  public:
    AddMidiNoteCommand(uint64_t clipId, MidiNote note);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    MidiNote note_;
    int32_t index_ = -1;
    int64_t lengthBefore_ = 0;
};

/// "Move MIDI Note": replaces the note at `index` (position, length, pitch, everything).
class MoveMidiNoteCommand : public Command {
  public:
    MoveMidiNoteCommand(uint64_t clipId, int32_t index, MidiNote note);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int32_t index_;
    MidiNote note_;
    MidiNote previous_;
    int64_t lengthBefore_ = 0;
    bool captured_ = false;
};

/// "Drum Step": removes the note that sits on the step, or adds the step when none does.
class ToggleDrumStepCommand : public Command {
  public:
    ToggleDrumStepCommand(uint64_t clipId, MidiNote step);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    MidiNote step_;
    bool added_ = false;
    int32_t index_ = -1;
    MidiNote removed_;
    int64_t lengthBefore_ = 0;
};

/// "Drum Velocity": the velocity (0.05 to 1) of the note that sits on the step.
class SetDrumStepVelocityCommand : public Command {
  public:
    SetDrumStepVelocityCommand(uint64_t clipId, MidiNote step, float velocity);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    MidiNote step_;
    float velocity_;
    float previousVelocity_ = 0.8f;
    int32_t index_ = -1;
    bool captured_ = false;
};

/// "Paste MIDI": appends the notes moved by `offset` samples, lengthening the clip as needed.
class PasteMidiNotesCommand : public Command {
  public:
    PasteMidiNotesCommand(uint64_t clipId, int64_t offset, std::vector<MidiNote> notes);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int64_t offset_;
    std::vector<MidiNote> notes_;
    std::size_t countBefore_ = 0;
    int64_t lengthBefore_ = 0;
    bool pasted_ = false;
};

/// "MPE": switches per-note expression of a MIDI track on or off.
class ToggleTrackMpeCommand : public Command {
  public:
    explicit ToggleTrackMpeCommand(uint64_t trackId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    bool previous_ = false;
    bool captured_ = false;
};

/// "Expression Map": chooses the track's map (any index; out of range means none). A project
/// without maps gets the built-in ones first, and loses them again on undo.
class SetTrackExpressionMapCommand : public Command {
  public:
    SetTrackExpressionMapCommand(uint64_t trackId, int32_t mapIndex);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    int32_t mapIndex_;
    int32_t previous_ = -1;
    bool captured_ = false;
    bool filledDefaults_ = false;
};

/// The clip when it exists and holds MIDI; empty otherwise.
std::shared_ptr<Clip> findMidiClip(const Project &project, uint64_t clipId);

/// Index of the first note of `notes` on the drum step: the same pitch, and a start within a
/// quarter of the step's length (at least one sample) of the step's start.
std::optional<std::size_t> findDrumStepNote(const std::vector<MidiNote> &notes,
                                            const MidiNote &step);

} // namespace orvane
