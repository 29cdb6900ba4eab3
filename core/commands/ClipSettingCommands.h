#pragma once

#include "core/commands/Command.h"

#include <cstdint>
#include <string>

namespace orvane {

/// "Clip Gain": linear gain clamped to 0..4. A gain that is not a number leaves the clip as
/// it is.
class SetClipGainCommand : public Command {
  public:
    SetClipGainCommand(uint64_t clipId, float gain);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    float gain_;
    float previousGain_ = 1.0f;
    bool captured_ = false;
};

/// "Clip Fades": each fade limited to half the clip, and never below one sample of limit.
class SetClipFadesCommand : public Command {
  public:
    SetClipFadesCommand(uint64_t clipId, int64_t fadeIn, int64_t fadeOut);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int64_t fadeIn_;
    int64_t fadeOut_;
    int64_t previousFadeIn_ = 0;
    int64_t previousFadeOut_ = 0;
    bool captured_ = false;
};

/// "Toggle Clip Loop". Switching looping on gives a clip without a loop period its length as
/// the period.
class ToggleClipLoopCommand : public Command {
  public:
    explicit ToggleClipLoopCommand(uint64_t clipId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    bool previousLoop_ = false;
    int64_t previousLoopLength_ = 0;
    bool captured_ = false;
};

} // namespace orvane
