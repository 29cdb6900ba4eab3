#pragma once

#include "core/commands/Command.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

/// "Add Track". A redo after an undo brings the track back with the id and name it received
/// first, so later commands that refer to it by id find it again.
class AddTrackCommand : public Command {
  public:
    AddTrackCommand(TrackType type, std::string name);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    TrackType type_;
    std::string requestedName_;
    uint64_t trackId_ = 0;
    std::string givenName_;
};

/// "Remove Track". The track object itself is kept, so undo returns it with every clip,
/// insert and setting, at its old index and with its scene slots filled again.
class RemoveTrackCommand : public Command {
  public:
    explicit RemoveTrackCommand(uint64_t trackId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    std::shared_ptr<Track> removed_;
    std::size_t index_ = 0;
    std::vector<Scene> scenesBefore_;
    bool done_ = false;
};

} // namespace orvane
