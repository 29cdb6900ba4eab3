#pragma once

#include "core/commands/CapturedValue.h"
#include "core/commands/Command.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// Appends (label, snapshot) to the project's mixer history and erases the oldest entries
/// until at most 32 remain. Returns the erased entries, oldest first, so that an undo can
/// give them back.
std::vector<MixerSnapshotEvent> pushMixerHistory(Project &project, std::string label,
                                                 const MixerSnapshot &snapshot);

/// The history entry one capture or recall added. The history is part of the document, so
/// undoing the step takes its entry back out and returns what the cap had erased.
class MixerHistoryStep {
  public:
    void push(Project &project, std::string label, const MixerSnapshot &snapshot);
    void takeBack(Project &project);

  private:
    bool pushed_ = false;
    std::vector<MixerSnapshotEvent> erased_;
};

/// What a recall changes and gives back: every track's gain, pan, mute, solo, sends and
/// macros, and the control room. All tracks are kept, since a snapshot read from a file may
/// name any of them.
class MixerRecall {
  public:
    void apply(Project &project, const MixerSnapshot &snapshot);
    void restore(Project &project) const;

  private:
    CapturedValue<MixerSnapshot> before_;
};

/// "Capture Snapshot": the mixer of every track except those of type 2, and the control
/// room, under a name. A snapshot of the same name is overwritten in place; undo then gives
/// it back as it was, otherwise undo removes the new one.
class CaptureMixerSnapshotCommand : public Command {
  public:
    explicit CaptureMixerSnapshotCommand(std::string snapshotName);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::string snapshotName_;
    std::size_t index_ = 0;
    std::optional<MixerSnapshot> replaced_;
    bool captured_ = false;
    MixerHistoryStep history_;
};

/// "Recall Snapshot". A snapshot read from a file sets only gain, pan, mute and solo, as the
/// file keeps nothing else: recalling it must not disconnect every send.
class RecallMixerSnapshotCommand : public Command {
  public:
    explicit RecallMixerSnapshotCommand(std::size_t index);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::size_t index_;
    bool applied_ = false;
    MixerRecall recall_;
    MixerHistoryStep history_;
};

/// "Recall Mixer History": as a snapshot recall, from a history entry, adding no entry.
class RecallMixerHistoryCommand : public Command {
  public:
    explicit RecallMixerHistoryCommand(std::size_t index);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::size_t index_;
    bool applied_ = false;
    MixerRecall recall_;
};

} // namespace orvane
