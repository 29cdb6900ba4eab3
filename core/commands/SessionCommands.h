#pragma once

#include "core/commands/Command.h"
#include "core/commands/SameIdsOnRedo.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvane {

// Edits of the clip launcher. A session clip's row is the index of its scene in
// `session.scenes`, its column `sessionCol`; scenes are found by id. A missing scene, clip or
// track, a target outside the grid or an occupied cell makes a step do nothing.

/// A clip's id and the row it had, to put rows back on undo.
using ClipRow = std::pair<uint64_t, int32_t>;

/// "Insert Scene": a new empty scene after the given one (at the end when it is not found);
/// clips from that row on move down one row.
class InsertSceneCommand : public Command {
  public:
    explicit InsertSceneCommand(uint64_t afterSceneId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int32_t rowsBefore_ = 0;
    std::optional<IdCounters> firstRunIds_;
    uint64_t afterSceneId_;
    uint64_t newSceneId_ = 0;
    std::size_t index_ = 0;
    std::vector<Scene> previousScenes_;
    std::vector<ClipRow> previousRows_;
    bool captured_ = false;
};

/// "Delete Scene": the scene and the clips on its row go, the rows below move up. The last
/// scene is never deleted.
class DeleteSceneCommand : public Command {
  public:
    explicit DeleteSceneCommand(uint64_t sceneId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    /// A removed clip and where it sat among its track's clips.
    struct RemovedClip {
        std::shared_ptr<Clip> copy;
        std::size_t position = 0;
    };
    uint64_t sceneId_;
    std::size_t index_ = 0;
    std::vector<Scene> previousScenes_;
    std::vector<RemovedClip> removedClips_;
    bool done_ = false;
};

/// "Duplicate Scene": a copy of the scene and of every clip on its row, appended as the last
/// scene.
class DuplicateSceneCommand : public Command {
  public:
    explicit DuplicateSceneCommand(uint64_t sceneId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    int32_t rowsBefore_ = 0;
    std::optional<IdCounters> firstRunIds_;
    uint64_t sceneId_;
    uint64_t newSceneId_ = 0;
    std::vector<uint64_t> newClipIds_;
    std::size_t sceneCountBefore_ = 0;
    bool captured_ = false;
};

/// "Move Scene": the scene changes places with the one `offset` rows away (+1 = one row
/// down), and so do the clips of the two rows.
class MoveSceneCommand : public Command {
  public:
    MoveSceneCommand(uint64_t sceneId, int32_t offset);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t sceneId_;
    int32_t offset_;
    std::vector<Scene> previousScenes_;
    std::vector<ClipRow> previousRows_;
    bool applied_ = false;
    bool captured_ = false;
};

/// "Rename Scene".
class RenameSceneCommand : public Command {
  public:
    RenameSceneCommand(uint64_t sceneId, std::string newName);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t sceneId_;
    std::string newName_;
    std::string previousName_;
    bool captured_ = false;
};

/// "Scene Follow": what happens when the scene's row has finished playing.
class SetSceneFollowActionCommand : public Command {
  public:
    SetSceneFollowActionCommand(uint64_t sceneId, FollowAction action);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t sceneId_;
    FollowAction action_;
    FollowAction previousAction_ = FollowAction::None;
    bool captured_ = false;
};

/// "Scene Tempo/Meter". A tempo that is not a finite number leaves the scene's tempo as it is.
class SetSceneTempoMeterCommand : public Command {
  public:
    SetSceneTempoMeterCommand(uint64_t sceneId, bool useTempo, double bpm, bool useMeter,
                              TimeSignature meter);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    struct TempoMeter {
        bool useTempo = false;
        double bpm = 120.0;
        bool useMeter = false;
        TimeSignature meter;
    };
    static TempoMeter of(const Scene &scene);
    static void apply(Scene &scene, const TempoMeter &values);

    uint64_t sceneId_;
    TempoMeter values_;
    TempoMeter previous_;
    bool captured_ = false;
};

/// "Scene Launch Quantisation": the grid the scene's launch waits for; none hands it back to
/// the session's.
class SetSceneLaunchQuantizeCommand : public Command {
  public:
    SetSceneLaunchQuantizeCommand(uint64_t sceneId, std::optional<LaunchQuantize> quantize);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t sceneId_;
    std::optional<LaunchQuantize> quantize_;
    bool previousUse_ = false;
    LaunchQuantize previousQuantize_ = LaunchQuantize::OneBar;
    bool captured_ = false;
};

/// "Follow Action": what a session clip does when it ends.
class SetClipFollowActionCommand : public Command {
  public:
    SetClipFollowActionCommand(uint64_t clipId, FollowAction action);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    FollowAction action_;
    FollowAction previousAction_ = FollowAction::None;
    bool captured_ = false;
};

/// "Launch Mode": trigger, gate, toggle or play once, and legato; with `quantize`, also the
/// clip's own launch quantisation (`Immediate` leaves it to the session's).
class SetClipLaunchModeCommand : public Command {
  public:
    SetClipLaunchModeCommand(uint64_t clipId, SessionLaunchMode mode, bool legato,
                             std::optional<LaunchQuantize> quantize = std::nullopt);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    SessionLaunchMode mode_;
    bool legato_;
    std::optional<LaunchQuantize> quantize_;
    SessionLaunchMode previousMode_ = SessionLaunchMode::Trigger;
    bool previousLegato_ = false;
    LaunchQuantize previousQuantize_ = LaunchQuantize::OneBar;
    bool captured_ = false;
};

/// "One Clip At A Time": whether launching a clip of the track ends its others.
class SetTrackOneClipAtATimeCommand : public Command {
  public:
    SetTrackOneClipAtATimeCommand(uint64_t trackId, bool oneAtATime);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t trackId_;
    bool oneAtATime_;
    bool previous_ = false;
    bool captured_ = false;
};

/// "Duplicate Session Clip": a copy in the next column of the same row and track.
class DuplicateSessionClipCommand : public Command {
  public:
    explicit DuplicateSessionClipCommand(uint64_t clipId);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::optional<IdCounters> firstRunIds_;
    uint64_t clipId_;
    uint64_t copyId_ = 0;
};

/// "New MIDI Clip": an empty, looping MIDI clip of `length` samples in a free cell of a MIDI
/// track, to be drawn in.
class InsertSessionMidiClipCommand : public Command {
  public:
    InsertSessionMidiClipCommand(uint64_t trackId, int32_t row, int32_t column, int64_t length);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;
    /// The clip the last redo made, 0 before.
    uint64_t clipId() const { return clipId_; }

  private:
    uint64_t trackId_;
    int32_t row_;
    int32_t column_;
    int64_t length_;
    std::optional<IdCounters> firstRunIds_;
    uint64_t clipId_ = 0;
};

/// "Import to Slot": a clip made from a file (audio or MIDI, the kind of the track) in a free
/// cell of `trackId`, looping over its length as a session clip does.
class ImportToSessionCellCommand : public Command {
  public:
    ImportToSessionCellCommand(uint64_t trackId, int32_t row, int32_t column, Clip prototype);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;
    /// The clip the last redo made, 0 before or when the cell could not take it.
    uint64_t clipId() const { return clipId_; }
    /// Whether the cell is free and inside the grid, on a track of the clip's kind.
    static bool cellTakes(const Project &project, uint64_t trackId, int32_t row, int32_t column,
                          const Clip &clip);

  private:
    uint64_t trackId_;
    int32_t row_;
    int32_t column_;
    Clip prototype_;
    std::optional<IdCounters> firstRunIds_;
    uint64_t clipId_ = 0;
};

/// "Copy to Session": a copy of an arrangement clip in a free cell of its track, looping over
/// the clip's length, to be launched as the arrangement plays it.
class CopyClipToSessionCommand : public Command {
  public:
    CopyClipToSessionCommand(uint64_t clipId, int32_t row, int32_t column);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;
    /// The copy the last redo made, 0 before or when nothing was copied.
    uint64_t copyId() const { return copyId_; }

  private:
    std::optional<IdCounters> firstRunIds_;
    uint64_t clipId_;
    int32_t row_;
    int32_t column_;
    uint64_t copyId_ = 0;
};

/// "Move Session Clip": to another cell of the grid, unless a clip of the same track is there.
class MoveSessionClipCommand : public Command {
  public:
    MoveSessionClipCommand(uint64_t clipId, int32_t row, int32_t column);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    uint64_t clipId_;
    int32_t row_;
    int32_t column_;
    int32_t previousRow_ = -1;
    int32_t previousColumn_ = -1;
    bool captured_ = false;
};

/// What `InsertSessionPlayerClipCommand` generates.
struct SessionPlayerSettings {
    SessionPlayerKind kind = SessionPlayerKind::DrumsFourFour;
    int64_t barLength = 0;
    int32_t root = 0;
    bool minor = false;
    uint32_t seed = 0;
};

/// "Session Player": a one-bar generated MIDI pattern in a cell of a MIDI track, replacing
/// the notes of a clip already there.
class InsertSessionPlayerClipCommand : public Command {
  public:
    InsertSessionPlayerClipCommand(uint64_t trackId, int32_t row, int32_t column,
                                   SessionPlayerSettings settings);
    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::optional<IdCounters> firstRunIds_;
    std::shared_ptr<Clip> targetClip(Project &project, const Track &track);

    uint64_t trackId_;
    int32_t row_;
    int32_t column_;
    SessionPlayerSettings settings_;
    uint64_t clipId_ = 0;
    std::shared_ptr<Clip> replacedCopy_;
    bool created_ = false;
    bool replaced_ = false;
};

/// "Capture Session": arrangement clips made from what the session played.
class CaptureSessionToArrangeCommand : public Command {
  public:
    /// For clips the engine has already added to the project: records a copy of each one found,
    /// and counts as applied, so executing it changes nothing until an undo.
    static std::unique_ptr<CaptureSessionToArrangeCommand>
    fromCaptured(const Project &project, const std::vector<uint64_t> &clipIds);
    /// For clips not yet in the project: the first redo adds them.
    static std::unique_ptr<CaptureSessionToArrangeCommand>
    fromCopies(std::vector<std::shared_ptr<Clip>> copies);

    void redo(Project &project) override;
    void undo(Project &project) override;
    std::string name() const override;

  private:
    std::vector<std::shared_ptr<Clip>> copies_;
    std::vector<uint64_t> clipIds_;
    /// The ids of the first application, one per copy (0 where it could not be placed).
    std::vector<uint64_t> firstIds_;
    bool applied_ = false;
};

} // namespace orvane
