#pragma once

#include "core/commands/Command.h"

#include <cstdint>
#include <memory>
#include <string>

namespace orvane {

/// "Import Audio": places decoded audio as a new arrangement clip, on an existing audio track
/// or on a new one. Undo takes the clip (and the track it made) away again; redo brings back
/// the very same objects, so their ids stay valid for the commands that follow.
class ImportAudioCommand : public Command {
  public:
    /// `clip` carries the audio, name, position, length and fades; its id and track are
    /// given by the project. A `trackId` of 0 makes a new audio track named `newTrackName`.
    ImportAudioCommand(uint64_t trackId, std::string newTrackName, Clip clip);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override { return QT_TRANSLATE_NOOP("Command", "Import Audio"); }

    /// The track that holds the clip once executed; 0 when it could not be placed (the
    /// track is gone or holds MIDI).
    uint64_t placedTrackId() const { return placed_ ? trackId_ : 0; }
    uint64_t placedClipId() const { return placed_ ? placed_->id : 0; }

  private:
    uint64_t trackId_;
    std::string newTrackName_;
    Clip prototype_;
    std::shared_ptr<Track> createdTrack_;
    std::shared_ptr<Clip> placed_;
    int64_t lengthBefore_ = 0;
    bool applied_ = false;
};

} // namespace orvane
