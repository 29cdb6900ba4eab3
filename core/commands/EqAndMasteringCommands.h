#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"

#include <cstdint>
#include <string>

namespace orvane {

// The channel EQ and the master bus's mastering, as the mixer panel edits them whole. Values
// that are not numbers are refused, as the other mixer commands refuse them: they would reach
// the audio.

/// "Channel EQ": replaces the whole 8-band EQ of a track, or of the master bus when the track
/// id is 0 (ids start at 1, so 0 never names a track).
class SetChannelEqCommand : public Command {
  public:
    SetChannelEqCommand(uint64_t trackId, ChannelEq8 eq);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    ChannelEq8 *target(Project &project) const;

    uint64_t trackId_;
    ChannelEq8 eq_;
    CapturedValue<ChannelEq8> before_;
};

/// "Mastering": the master bus's mastering settings.
class SetMasteringCommand : public Command {
  public:
    explicit SetMasteringCommand(MasteringUtility settings);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    MasteringUtility settings_;
    CapturedValue<MasteringUtility> before_;
};

} // namespace orvane
