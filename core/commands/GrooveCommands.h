#pragma once

#include "core/commands/Command.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane {

// Grooves live in the project's pool; `activeGrooveIndex` picks one and the project's groove
// amounts follow the chosen template. Undo gives back the index and the amounts the user had.

/// "Apply Groove": plays the notes of every MIDI arrangement clip of the track (of every
/// track for id 0) against a pool entry on a sixteenth-note grid.
class ApplyGrooveCommand : public Command {
  public:
    struct ClipNotes {
        uint64_t clipId = 0;
        std::vector<MidiNote> notes;
    };

    ApplyGrooveCommand(uint64_t trackId, int32_t grooveIndex, float amount);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    int32_t grooveIndex_;
    float amount_;
    std::vector<ClipNotes> clips_;
};

/// "Extract Groove": the groove a MIDI clip plays becomes a new, active pool entry.
class ExtractGrooveToPoolCommand : public Command {
  public:
    ExtractGrooveToPoolCommand(uint64_t clipId, std::string grooveName);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    std::string grooveName_;
    GrooveTemplate groove_;
    std::size_t index_ = 0;
    bool inPool_ = false;
    int32_t previousActive_ = -1;
    float previousTiming_ = 0.0f;
    float previousVelocity_ = 0.0f;
};

/// "Active Groove": chooses the pool entry (any index; out of range means none). An empty
/// pool gets the built-in grooves first, and loses them again on undo.
class SetActiveGrooveCommand : public Command {
  public:
    explicit SetActiveGrooveCommand(int32_t grooveIndex);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int32_t grooveIndex_;
    int32_t previousActive_ = -1;
    float previousTiming_ = 0.0f;
    float previousVelocity_ = 0.0f;
    bool captured_ = false;
    bool filledDefaults_ = false;
};

/// One sixteenth note in samples (at least 1), counted from the song start under the
/// project's tempo map.
int64_t sixteenthNoteSamples(const Project &project);

} // namespace orvane
