#pragma once

#include "core/commands/Command.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// "Add Track". A redo after an undo brings the track back with the id and name it received
/// first, so later commands that refer to it by id find it again. A MIDI track may start with
/// a built-in instrument and its state (see `Track::instrument`); without one it plays the
/// sine voice.
class AddTrackCommand : public Command {
  public:
    AddTrackCommand(TrackType type, std::string name, std::string instrument = {},
                    std::string instrumentState = {});
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    void giveInstrument(Track &track) const;

    TrackType type_;
    std::string requestedName_;
    std::string instrument_;
    std::string instrumentState_;
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

/// Sets one field of a track; undo puts the previous value back. A track that is gone leaves
/// the command without effect.
template <class Value> class TrackSettingCommand : public Command {
  public:
    TrackSettingCommand(std::string displayName, uint64_t trackId, Value Track::*field, Value value)
        : displayName_(std::move(displayName)), trackId_(trackId), field_(field),
          value_(std::move(value)) {}
    void redo(Project &project) override {
        const auto track = project.findTrack(trackId_);
        applied_ = track != nullptr;
        if (!applied_) return;
        previous_ = (*track).*field_;
        (*track).*field_ = value_;
    }
    void undo(Project &project) override {
        if (!applied_) return;
        if (const auto track = project.findTrack(trackId_)) (*track).*field_ = previous_;
    }
    std::string name() const override { return displayName_; }

  private:
    std::string displayName_;
    uint64_t trackId_;
    Value Track::*field_;
    Value value_;
    Value previous_{};
    bool applied_ = false;
};

/// "Rename Track".
class RenameTrackCommand : public TrackSettingCommand<std::string> {
  public:
    RenameTrackCommand(uint64_t trackId, std::string newName)
        : TrackSettingCommand(QT_TRANSLATE_NOOP("Command", "Rename Track"), trackId, &Track::name,
                              std::move(newName)) {}
};

/// "Track Colour": the packed display colour.
class SetTrackColorCommand : public TrackSettingCommand<uint32_t> {
  public:
    SetTrackColorCommand(uint64_t trackId, uint32_t color)
        : TrackSettingCommand(QT_TRANSLATE_NOOP("Command", "Track Colour"), trackId, &Track::color,
                              color) {}
};

/// "Track Input": the stereo input pair an audio track records from.
class SetTrackInputPairCommand : public TrackSettingCommand<int32_t> {
  public:
    SetTrackInputPairCommand(uint64_t trackId, int32_t pair)
        : TrackSettingCommand(QT_TRANSLATE_NOOP("Command", "Track Input"), trackId,
                              &Track::inputPair, std::clamp(pair, 0, highestInputPair)) {}
};

/// "Track Monitor": when an audio track plays its input through its chain.
class SetTrackMonitorCommand : public TrackSettingCommand<MonitorMode> {
  public:
    SetTrackMonitorCommand(uint64_t trackId, MonitorMode mode)
        : TrackSettingCommand(QT_TRANSLATE_NOOP("Command", "Track Monitor"), trackId,
                              &Track::monitor, mode) {}
};

/// "Arm Track": arms or disarms a track for recording.
class SetTrackArmedCommand : public TrackSettingCommand<bool> {
  public:
    SetTrackArmedCommand(uint64_t trackId, bool armed)
        : TrackSettingCommand(QT_TRANSLATE_NOOP("Command", "Arm Track"), trackId, &Track::armed,
                              armed) {}
};

/// "Move Track": puts a track at `index` of the track list (clamped to the list); undo puts
/// it back where it was.
class MoveTrackCommand : public Command {
  public:
    MoveTrackCommand(uint64_t trackId, std::size_t index);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    std::size_t index_;
    std::optional<std::size_t> previousIndex_;
};

} // namespace orvane
