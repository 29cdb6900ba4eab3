#pragma once

#include "core/commands/Command.h"
#include "core/model/Project.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvane {

/// A take a program left behind when it died recording, read back and ready to place: the
/// track it was recorded for (0 or a track that is gone: a new audio track) and where on the
/// timeline its first frame was heard (the device's round trip already taken off, the
/// punch range applied), as interleaved stereo at the project's rate.
struct RecoveredTake {
    uint64_t trackId = 0;
    int64_t start = 0;
    SharedSamples samples;
    int64_t frames = 0;
};

/// The takes of every interrupted recording of a project, the journals they came from, and
/// what could not be read (each a line for the user; those files are kept).
struct InterruptedTakes {
    std::vector<RecoveredTake> takes;
    std::vector<std::string> journals;
    std::vector<std::string> problems;
};

/// Reads the journals that recordings of the project folder left behind and the take
/// files they name, at `sampleRate`. Touches only files: safe on any thread.
InterruptedTakes readInterruptedTakes(const std::string &projectFolder, double sampleRate);

/// Deletes the journals (and their take files) once their takes were placed or refused.
void forgetInterruptedTakes(const std::vector<std::string> &journals);

/// Places recovered takes as clips on their tracks, each at the position it was recorded
/// at (less the project's input offset) on a take lane of its own, and makes it the take
/// that plays. A take whose track is gone gets a new audio track. Undo removes them (and
/// the tracks made for them) and gives the other takes back their state.
class RecoverTakesCommand final : public Command {
  public:
    explicit RecoverTakesCommand(std::vector<RecoveredTake> takes);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;
    /// (track id, clip id) of each take placed by the last redo.
    const std::vector<std::pair<uint64_t, uint64_t>> &placed() const { return placedClips; }

  private:
    std::vector<RecoveredTake> takes;
    std::vector<std::pair<uint64_t, uint64_t>> placedClips;
    std::vector<uint64_t> madeTracks;
    std::vector<std::pair<uint64_t, bool>> previousActive;
};

} // namespace orvane
