#include "core/commands/SessionCommands.h"

#include "core/music/SessionPlayer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace orvane {

namespace {

/// Launcher columns are the project's tracks in order, returns included: every track has its
/// column, however many columns the grid was saved with.
bool isSessionCell(const Project &project, int32_t row, int32_t column) {
    const auto columns =
        std::max<int64_t>(project.session.cols, static_cast<int64_t>(project.tracks.size()));
    return row >= 0 && row < project.session.rows && column >= 0 && column < columns;
}

/// A value outside the enumeration could not be saved and would come back as another one.
bool knownFollowAction(FollowAction action) {
    return static_cast<uint8_t>(action) <= static_cast<uint8_t>(FollowAction::NextClipInColumn);
}

bool storableMeterPart(int32_t part) { return part >= 1 && part <= 64; }


/// A scene's clip list has a slot per column. A damaged document may claim billions of
/// columns; the list is held to a size a grid can show.
constexpr int32_t maxSceneSlots = 4096;

std::vector<uint64_t> emptySceneSlots(int32_t columns) {
    return std::vector<uint64_t>(static_cast<std::size_t>(std::clamp(columns, 0, maxSceneSlots)),
                                 0);
}

std::optional<std::size_t> sceneIndex(const Project &project, uint64_t sceneId) {
    const auto &scenes = project.session.scenes;
    for (std::size_t index = 0; index < scenes.size(); ++index)
        if (scenes[index].id == sceneId) return index;
    return std::nullopt;
}

template <typename Visit> void forEachClip(const Project &project, Visit visit) {
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            visit(clip);
}

std::vector<uint64_t> clipIdsOnRow(const Project &project, int32_t row) {
    std::vector<uint64_t> ids;
    forEachClip(project, [&](const auto &clip) {
        if (clip->sessionRow == row) ids.push_back(clip->id);
    });
    return ids;
}

/// Rows of every session clip whose row is at least `fromRow`.
std::vector<ClipRow> sessionRowsFrom(const Project &project, int32_t fromRow) {
    std::vector<ClipRow> rows;
    forEachClip(project, [&](const auto &clip) {
        if (clip->isSessionClip() && clip->sessionRow >= fromRow)
            rows.emplace_back(clip->id, clip->sessionRow);
    });
    return rows;
}

void restoreRows(Project &project, const std::vector<ClipRow> &rows) {
    for (const auto &[clipId, row] : rows)
        if (const auto clip = project.findClip(clipId)) clip->sessionRow = row;
}

/// Moves the rows from `fromRow` on by one up (-1) or down (+1); a row a damaged document put
/// at the very end of the range stays there.
void shiftRows(Project &project, int32_t fromRow, int32_t by) {
    forEachClip(project, [&](const auto &clip) {
        if (!clip->isSessionClip() || clip->sessionRow < fromRow) return;
        if (by > 0 && clip->sessionRow == std::numeric_limits<int32_t>::max()) return;
        clip->sessionRow += by;
    });
}

/// A new clip on the source's track that plays like the source: every setting and a copy of
/// its samples, under a fresh id, in the given cell.
std::shared_ptr<Clip> addSessionClipCopy(Project &project, const Clip &source, int32_t row,
                                         int32_t column) {
    const auto copy = project.addClip(source.trackId, source.kind);
    if (!copy) return nullptr;
    const uint64_t id = copy->id;
    *copy = *cloneClipForUndo(source);
    copy->id = id;
    copy->name = source.name + " copy";
    copy->sessionRow = row;
    copy->sessionCol = column;
    return copy;
}

bool cellTakenOnTrack(const Project &project, uint64_t trackId, uint64_t exceptClipId, int32_t row,
                      int32_t column) {
    const auto track = project.findTrack(trackId);
    if (!track) return false;
    return std::any_of(track->clips.begin(), track->clips.end(), [&](const auto &clip) {
        return clip->id != exceptClipId && clip->sessionRow == row && clip->sessionCol == column;
    });
}

/// A captured clip under a fresh id; 0 when its track is gone.
uint64_t addCaptured(Project &project, const Clip &copy) {
    const auto clip = project.addClip(copy.trackId, copy.kind);
    if (!clip) return 0;
    const uint64_t id = clip->id;
    *clip = copy;
    clip->id = id;
    return id;
}

/// A captured clip back under the id it had before the undo, which later edits refer to.
uint64_t reAddCaptured(Project &project, const Clip &copy, uint64_t id) {
    const auto track = project.findTrack(copy.trackId);
    if (!track || id == 0) return 0;
    auto clip = std::make_shared<Clip>(copy);
    clip->id = id;
    track->clips.push_back(std::move(clip));
    return id;
}

/// A scene's row is a place for clips like any other: the grid grows to every scene. Returns
/// the row count before.
/// A scene for a row that holds clips but was never given one (a grid filled before it had
/// scenes): it lists the row's clips in their slots, as launching the row plays them.
Scene sceneForRow(Project &project, int32_t row) {
    Scene scene;
    scene.id = project.nextSceneId++;
    scene.name = withArguments(translate("Command", "Scene %1"), {std::to_string(row + 1)});
    scene.clips = emptySceneSlots(std::max(project.session.cols, 1));
    forEachClip(project, [&](const std::shared_ptr<Clip> &clip) {
        if (clip->sessionRow == row && clip->sessionCol >= 0 &&
            clip->sessionCol < static_cast<int32_t>(scene.clips.size()))
            scene.clips[static_cast<std::size_t>(clip->sessionCol)] = clip->id;
    });
    return scene;
}

/// One past the lowest row that holds a session clip.
std::size_t rowsHoldingClips(const Project &project) {
    int32_t rows = 0;
    forEachClip(project, [&](const std::shared_ptr<Clip> &clip) {
        rows = std::max(rows, clip->sessionRow + 1);
    });
    return static_cast<std::size_t>(std::min(rows, maxSceneSlots));
}

int32_t growRowsToScenes(Project &project) {
    const int32_t before = project.session.rows;
    const auto scenes =
        static_cast<int32_t>(std::min<std::size_t>(project.session.scenes.size(), maxSceneSlots));
    project.session.rows = std::max(before, scenes);
    return before;
}

} // namespace

// --- Scenes ------------------------------------------------------------------------------

InsertSceneCommand::InsertSceneCommand(uint64_t afterSceneId) : afterSceneId_(afterSceneId) {}

void InsertSceneCommand::redo(Project &project) {
    if (newSceneId_ != 0) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    auto &scenes = project.session.scenes;
    const auto after = sceneIndex(project, afterSceneId_);
    // Appended below every row in use: rows that hold clips without a scene of their own get
    // one first, rather than being pushed down under the new scene.
    index_ = after ? *after + 1 : std::max(scenes.size(), rowsHoldingClips(project));
    const auto row = static_cast<int32_t>(index_);
    if (!captured_) {
        previousScenes_ = scenes;
        previousRows_ = sessionRowsFrom(project, row);
        captured_ = true;
    }
    while (scenes.size() < index_)
        scenes.push_back(sceneForRow(project, static_cast<int32_t>(scenes.size())));
    shiftRows(project, row, 1);
    Scene scene;
    scene.id = project.nextSceneId++;
    scene.name = withArguments(translate("Command", "Scene %1"), {std::to_string(index_ + 1)});
    scene.clips = emptySceneSlots(std::max(project.session.cols, 1));
    scenes.insert(scenes.begin() + static_cast<std::ptrdiff_t>(index_), std::move(scene));
    newSceneId_ = scenes[index_].id;
    rowsBefore_ = growRowsToScenes(project);
}

void InsertSceneCommand::undo(Project &project) {
    if (!captured_ || newSceneId_ == 0) return;
    for (const uint64_t clipId : clipIdsOnRow(project, static_cast<int32_t>(index_)))
        project.removeClip(clipId);
    restoreRows(project, previousRows_);
    project.session.scenes = previousScenes_;
    project.session.rows = rowsBefore_;
    newSceneId_ = 0;
    index_ = 0;
}

std::string InsertSceneCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Insert Scene");
}

DeleteSceneCommand::DeleteSceneCommand(uint64_t sceneId) : sceneId_(sceneId) {}

void DeleteSceneCommand::redo(Project &project) {
    const auto found = sceneIndex(project, sceneId_);
    if (!found || project.session.scenes.size() < 2) return;
    index_ = *found;
    const auto row = static_cast<int32_t>(index_);
    if (!done_) {
        previousScenes_ = project.session.scenes;
        removedClips_.clear();
        for (const auto &track : project.tracks)
            for (std::size_t position = 0; position < track->clips.size(); ++position)
                if (track->clips[position]->sessionRow == row)
                    removedClips_.push_back({cloneClipForUndo(*track->clips[position]), position});
        done_ = true;
    }
    for (const uint64_t clipId : clipIdsOnRow(project, row))
        project.removeClip(clipId);
    shiftRows(project, row + 1, -1);
    project.session.scenes.erase(project.session.scenes.begin() +
                                 static_cast<std::ptrdiff_t>(index_));
}

void DeleteSceneCommand::undo(Project &project) {
    if (!done_) return;
    shiftRows(project, static_cast<int32_t>(index_), 1);
    project.session.scenes = previousScenes_;
    // Back where each clip was among its track's clips, so the track reads as before.
    for (const auto &removed : removedClips_) {
        const auto track = project.findTrack(removed.copy->trackId);
        if (!track) continue;
        const std::size_t position = std::min(removed.position, track->clips.size());
        track->clips.insert(track->clips.begin() + static_cast<std::ptrdiff_t>(position),
                            cloneClipForUndo(*removed.copy));
    }
}

std::string DeleteSceneCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Delete Scene");
}

DuplicateSceneCommand::DuplicateSceneCommand(uint64_t sceneId) : sceneId_(sceneId) {}

void DuplicateSceneCommand::redo(Project &project) {
    if (newSceneId_ != 0) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto found = sceneIndex(project, sceneId_);
    if (!found) return;
    auto &scenes = project.session.scenes;
    if (!captured_) {
        sceneCountBefore_ = scenes.size();
        captured_ = true;
    }
    const Scene &source = scenes[*found];
    Scene scene;
    scene.id = project.nextSceneId++;
    scene.name = source.name + " copy";
    scene.followAction = source.followAction;
    scene.useSceneTempo = source.useSceneTempo;
    scene.sceneTempoBpm = source.sceneTempoBpm;
    scene.useSceneMeter = source.useSceneMeter;
    scene.sceneMeterNum = source.sceneMeterNum;
    scene.sceneMeterDen = source.sceneMeterDen;
    scene.useSceneLaunchQuantize = source.useSceneLaunchQuantize;
    scene.sceneLaunchQuantize = source.sceneLaunchQuantize;
    scene.clips = emptySceneSlots(project.session.cols);
    const auto newRow = static_cast<int32_t>(scenes.size());
    newClipIds_.clear();
    std::vector<std::shared_ptr<Clip>> sources;
    forEachClip(project, [&](const auto &clip) {
        if (clip->sessionRow == static_cast<int32_t>(*found)) sources.push_back(clip);
    });
    for (const auto &clip : sources) {
        const auto copy = addSessionClipCopy(project, *clip, newRow, clip->sessionCol);
        if (!copy) continue;
        newClipIds_.push_back(copy->id);
        if (copy->sessionCol >= 0 &&
            static_cast<std::size_t>(copy->sessionCol) < scene.clips.size())
            scene.clips[static_cast<std::size_t>(copy->sessionCol)] = copy->id;
    }
    newSceneId_ = scene.id;
    scenes.push_back(std::move(scene));
    rowsBefore_ = growRowsToScenes(project);
}

void DuplicateSceneCommand::undo(Project &project) {
    if (newSceneId_ == 0) return;
    for (const uint64_t clipId : newClipIds_)
        project.removeClip(clipId);
    if (const auto index = sceneIndex(project, newSceneId_))
        project.session.scenes.erase(project.session.scenes.begin() +
                                     static_cast<std::ptrdiff_t>(*index));
    project.session.rows = rowsBefore_;
    newClipIds_.clear();
    newSceneId_ = 0;
}

std::string DuplicateSceneCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Duplicate Scene");
}

MoveSceneCommand::MoveSceneCommand(uint64_t sceneId, int32_t offset)
    : sceneId_(sceneId), offset_(offset) {}

void MoveSceneCommand::redo(Project &project) {
    if (applied_) return;
    const auto found = sceneIndex(project, sceneId_);
    if (!found) return;
    auto &scenes = project.session.scenes;
    const auto from = static_cast<int64_t>(*found);
    const int64_t to = from + offset_;
    if (to < 0 || to >= static_cast<int64_t>(scenes.size())) return;
    if (!captured_) {
        previousScenes_ = scenes;
        previousRows_ = sessionRowsFrom(project, 0);
        captured_ = true;
    }
    std::swap(scenes[static_cast<std::size_t>(from)], scenes[static_cast<std::size_t>(to)]);
    forEachClip(project, [&](const auto &clip) {
        if (clip->sessionRow == from)
            clip->sessionRow = static_cast<int32_t>(to);
        else if (clip->sessionRow == to)
            clip->sessionRow = static_cast<int32_t>(from);
    });
    applied_ = true;
}

void MoveSceneCommand::undo(Project &project) {
    if (!applied_ || !captured_) return;
    project.session.scenes = previousScenes_;
    restoreRows(project, previousRows_);
    applied_ = false;
}

std::string MoveSceneCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Move Scene"); }

RenameSceneCommand::RenameSceneCommand(uint64_t sceneId, std::string newName)
    : sceneId_(sceneId), newName_(std::move(newName)) {}

void RenameSceneCommand::redo(Project &project) {
    const auto index = sceneIndex(project, sceneId_);
    if (!index) return;
    Scene &scene = project.session.scenes[*index];
    if (!captured_) {
        previousName_ = scene.name;
        captured_ = true;
    }
    scene.name = newName_;
}

void RenameSceneCommand::undo(Project &project) {
    const auto index = sceneIndex(project, sceneId_);
    if (index && captured_) project.session.scenes[*index].name = previousName_;
}

std::string RenameSceneCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Rename Scene");
}

SetSceneFollowActionCommand::SetSceneFollowActionCommand(uint64_t sceneId, FollowAction action)
    : sceneId_(sceneId), action_(action) {}

void SetSceneFollowActionCommand::redo(Project &project) {
    const auto index = sceneIndex(project, sceneId_);
    if (!index || !knownFollowAction(action_)) return;
    Scene &scene = project.session.scenes[*index];
    if (!captured_) {
        previousAction_ = scene.followAction;
        captured_ = true;
    }
    scene.followAction = action_;
}

void SetSceneFollowActionCommand::undo(Project &project) {
    const auto index = sceneIndex(project, sceneId_);
    if (index && captured_) project.session.scenes[*index].followAction = previousAction_;
}

std::string SetSceneFollowActionCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Scene Follow");
}

SetSceneTempoMeterCommand::SetSceneTempoMeterCommand(uint64_t sceneId, bool useTempo, double bpm,
                                                     bool useMeter, TimeSignature meter)
    : sceneId_(sceneId), values_{useTempo, bpm, useMeter, meter} {}

SetSceneTempoMeterCommand::TempoMeter SetSceneTempoMeterCommand::of(const Scene &scene) {
    return {scene.useSceneTempo, scene.sceneTempoBpm, scene.useSceneMeter,
            TimeSignature{scene.sceneMeterNum, scene.sceneMeterDen}};
}

void SetSceneTempoMeterCommand::apply(Scene &scene, const TempoMeter &values) {
    scene.useSceneTempo = values.useTempo;
    // A tempo a document cannot keep (not a number, below 1 or above 999 BPM) would come back
    // as another one; such a tempo is left as it was.
    if (std::isfinite(values.bpm) && values.bpm >= 1.0 && values.bpm <= 999.0)
        scene.sceneTempoBpm = values.bpm;
    scene.useSceneMeter = values.useMeter;
    // Neither could a meter part below 1 or above what a document keeps.
    if (!storableMeterPart(values.meter.numerator) || !storableMeterPart(values.meter.denominator))
        return;
    scene.sceneMeterNum = values.meter.numerator;
    scene.sceneMeterDen = values.meter.denominator;
}

void SetSceneTempoMeterCommand::redo(Project &project) {
    const auto index = sceneIndex(project, sceneId_);
    if (!index) return;
    Scene &scene = project.session.scenes[*index];
    if (!captured_) {
        previous_ = of(scene);
        captured_ = true;
    }
    apply(scene, values_);
}

void SetSceneTempoMeterCommand::undo(Project &project) {
    const auto index = sceneIndex(project, sceneId_);
    if (index && captured_) apply(project.session.scenes[*index], previous_);
}

std::string SetSceneTempoMeterCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Scene Tempo/Meter");
}

SetSceneLaunchQuantizeCommand::SetSceneLaunchQuantizeCommand(uint64_t sceneId,
                                                             std::optional<LaunchQuantize> quantize)
    : sceneId_(sceneId), quantize_(quantize) {}

void SetSceneLaunchQuantizeCommand::redo(Project &project) {
    const auto index = sceneIndex(project, sceneId_);
    // A value from outside the enumeration would be stored and read back as another one.
    if (!index || (quantize_ && *quantize_ > LaunchQuantize::EightBars)) return;
    Scene &scene = project.session.scenes[*index];
    if (!captured_) {
        previousUse_ = scene.useSceneLaunchQuantize;
        previousQuantize_ = scene.sceneLaunchQuantize;
        captured_ = true;
    }
    scene.useSceneLaunchQuantize = quantize_.has_value();
    if (quantize_) scene.sceneLaunchQuantize = *quantize_;
}

void SetSceneLaunchQuantizeCommand::undo(Project &project) {
    const auto index = sceneIndex(project, sceneId_);
    if (!index || !captured_) return;
    Scene &scene = project.session.scenes[*index];
    scene.useSceneLaunchQuantize = previousUse_;
    scene.sceneLaunchQuantize = previousQuantize_;
}

std::string SetSceneLaunchQuantizeCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Scene Launch Quantisation");
}

// --- Session clips -----------------------------------------------------------------------

SetClipFollowActionCommand::SetClipFollowActionCommand(uint64_t clipId, FollowAction action)
    : clipId_(clipId), action_(action) {}

void SetClipFollowActionCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !knownFollowAction(action_)) return;
    if (!captured_) {
        previousAction_ = clip->followAction;
        captured_ = true;
    }
    clip->followAction = action_;
}

void SetClipFollowActionCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (clip && captured_) clip->followAction = previousAction_;
}

std::string SetClipFollowActionCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Follow Action");
}

SetClipLaunchModeCommand::SetClipLaunchModeCommand(uint64_t clipId, SessionLaunchMode mode,
                                                   bool legato,
                                                   std::optional<LaunchQuantize> quantize)
    : clipId_(clipId), mode_(mode), legato_(legato), quantize_(quantize) {}

void SetClipLaunchModeCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || static_cast<uint8_t>(mode_) > static_cast<uint8_t>(SessionLaunchMode::PlayOnce))
        return;
    if (quantize_ &&
        static_cast<uint8_t>(*quantize_) > static_cast<uint8_t>(LaunchQuantize::EightBars))
        return;
    if (!captured_) {
        previousMode_ = clip->launchMode;
        previousLegato_ = clip->legatoLaunch;
        previousQuantize_ = clip->launchQuantize;
        captured_ = true;
    }
    clip->launchMode = mode_;
    clip->legatoLaunch = legato_;
    if (quantize_) clip->launchQuantize = *quantize_;
}

void SetClipLaunchModeCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !captured_) return;
    clip->launchMode = previousMode_;
    clip->legatoLaunch = previousLegato_;
    clip->launchQuantize = previousQuantize_;
}

std::string SetClipLaunchModeCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Launch Mode");
}

SetTrackOneClipAtATimeCommand::SetTrackOneClipAtATimeCommand(uint64_t trackId, bool oneAtATime)
    : trackId_(trackId), oneAtATime_(oneAtATime) {}

void SetTrackOneClipAtATimeCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track) return;
    if (!captured_) {
        previous_ = track->oneClipAtATime;
        captured_ = true;
    }
    track->oneClipAtATime = oneAtATime_;
}

void SetTrackOneClipAtATimeCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (track && captured_) track->oneClipAtATime = previous_;
}

std::string SetTrackOneClipAtATimeCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "One Clip At A Time");
}

DuplicateSessionClipCommand::DuplicateSessionClipCommand(uint64_t clipId) : clipId_(clipId) {}

void DuplicateSessionClipCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !clip->isSessionClip()) return;
    const int64_t next = int64_t{clip->sessionCol} + 1;
    if (next > std::numeric_limits<int32_t>::max() ||
        !isSessionCell(project, clip->sessionRow, static_cast<int32_t>(next)))
        return;
    const auto column = static_cast<int32_t>(next);
    if (cellTakenOnTrack(project, clip->trackId, 0, clip->sessionRow, column)) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    if (const auto copy = addSessionClipCopy(project, *clip, clip->sessionRow, column))
        copyId_ = copy->id;
}

void DuplicateSessionClipCommand::undo(Project &project) {
    if (copyId_ == 0) return;
    project.removeClip(copyId_);
    copyId_ = 0;
}

std::string DuplicateSessionClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Duplicate Session Clip");
}

MoveSessionClipCommand::MoveSessionClipCommand(uint64_t clipId, int32_t row, int32_t column)
    : clipId_(clipId), row_(row), column_(column) {}

CopyClipToSessionCommand::CopyClipToSessionCommand(uint64_t clipId, int32_t row, int32_t column)
    : clipId_(clipId), row_(row), column_(column) {}

void CopyClipToSessionCommand::redo(Project &project) {
    copyId_ = 0;
    const auto clip = project.findClip(clipId_);
    if (!clip || clip->isSessionClip()) return;
    if (!isSessionCell(project, row_, column_)) return;
    if (cellTakenOnTrack(project, clip->trackId, 0, row_, column_)) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto copy = addSessionClipCopy(project, *clip, row_, column_);
    if (!copy) return;
    copy->name = clip->name;
    copy->arrangeStart = 0;
    // A part of the song becomes a loop of itself; a loop set on the clip already stays, and a
    // clip without a length plays once, as the session plays such clips.
    if (copy->loopLength < 1 && copy->length >= 1) copy->loopLength = copy->length;
    copy->loop = copy->loopLength >= 1;
    copyId_ = copy->id;
}

void CopyClipToSessionCommand::undo(Project &project) {
    if (copyId_ != 0) project.removeClip(copyId_);
    copyId_ = 0;
}

std::string CopyClipToSessionCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Copy to Session");
}

ImportToSessionCellCommand::ImportToSessionCellCommand(uint64_t trackId, int32_t row,
                                                       int32_t column, Clip prototype)
    : trackId_(trackId), row_(row), column_(column), prototype_(std::move(prototype)) {}

bool ImportToSessionCellCommand::cellTakes(const Project &project, uint64_t trackId, int32_t row,
                                           int32_t column, const Clip &clip) {
    const auto track = project.findTrack(trackId);
    if (!track || clip.length < 1) return false;
    const TrackType kind = clip.kind == ClipKind::Midi ? TrackType::Midi : TrackType::Audio;
    if (track->type != kind) return false;
    if (!isSessionCell(project, row, column)) return false;
    return !cellTakenOnTrack(project, trackId, 0, row, column);
}

void ImportToSessionCellCommand::redo(Project &project) {
    clipId_ = 0;
    if (!cellTakes(project, trackId_, row_, column_, prototype_)) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto clip = project.addClip(trackId_, prototype_.kind);
    if (!clip) return;
    const uint64_t id = clip->id;
    *clip = prototype_;
    clip->id = id;
    clip->trackId = trackId_;
    clip->arrangeStart = 0;
    clip->sessionRow = row_;
    clip->sessionCol = column_;
    clip->loopLength = clip->length;
    clip->loop = true;
    clipId_ = id;
}

void ImportToSessionCellCommand::undo(Project &project) {
    if (clipId_ != 0) project.removeClip(clipId_);
    clipId_ = 0;
}

std::string ImportToSessionCellCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Import to Slot");
}

InsertSessionMidiClipCommand::InsertSessionMidiClipCommand(uint64_t trackId, int32_t row,
                                                           int32_t column, int64_t length)
    : trackId_(trackId), row_(row), column_(column), length_(length) {}

void InsertSessionMidiClipCommand::redo(Project &project) {
    clipId_ = 0;
    const auto track = project.findTrack(trackId_);
    if (!track || track->type != TrackType::Midi || length_ < 1) return;
    if (!isSessionCell(project, row_, column_)) return;
    if (cellTakenOnTrack(project, trackId_, 0, row_, column_)) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto clip = project.addClip(trackId_, ClipKind::Midi);
    if (!clip) return;
    clip->name = "MIDI " + std::to_string(clip->id);
    clip->sessionRow = row_;
    clip->sessionCol = column_;
    clip->loop = true;
    clip->length = clip->loopLength = length_;
    clipId_ = clip->id;
}

void InsertSessionMidiClipCommand::undo(Project &project) {
    if (clipId_ != 0) project.removeClip(clipId_);
    clipId_ = 0;
}

std::string InsertSessionMidiClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "New MIDI Clip");
}

void MoveSessionClipCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !clip->isSessionClip()) return;
    if (!isSessionCell(project, row_, column_)) return;
    if (cellTakenOnTrack(project, clip->trackId, clip->id, row_, column_)) return;
    if (!captured_) {
        previousRow_ = clip->sessionRow;
        previousColumn_ = clip->sessionCol;
        captured_ = true;
    }
    clip->sessionRow = row_;
    clip->sessionCol = column_;
}

void MoveSessionClipCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !captured_ || previousRow_ < 0) return;
    clip->sessionRow = previousRow_;
    clip->sessionCol = previousColumn_;
}

std::string MoveSessionClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Move Session Clip");
}

InsertSessionPlayerClipCommand::InsertSessionPlayerClipCommand(uint64_t trackId, int32_t row,
                                                               int32_t column,
                                                               SessionPlayerSettings settings)
    : trackId_(trackId), row_(row), column_(column), settings_(settings) {}

std::shared_ptr<Clip> InsertSessionPlayerClipCommand::targetClip(Project &project,
                                                                 const Track &track) {
    const auto inCell = std::find_if(track.clips.begin(), track.clips.end(), [&](const auto &c) {
        return c->sessionRow == row_ && c->sessionCol == column_;
    });
    if (inCell != track.clips.end() && !created_) {
        if (!replaced_) {
            replacedCopy_ = cloneClipForUndo(**inCell);
            clipId_ = (*inCell)->id;
            replaced_ = true;
        }
        return *inCell;
    }
    std::shared_ptr<Clip> clip;
    if (created_) {
        clip = project.findClip(clipId_);
        if (!clip) return nullptr;
    } else {
        clip = project.addClip(track.id, ClipKind::Midi);
        if (!clip) return nullptr;
        clipId_ = clip->id;
        created_ = true;
    }
    clip->sessionRow = row_;
    clip->sessionCol = column_;
    clip->loop = true;
    clip->length = clip->loopLength = settings_.barLength;
    clip->launchMode = SessionLaunchMode::Trigger;
    return clip;
}

void InsertSessionPlayerClipCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || track->type != TrackType::Midi) return;
    if (!isSessionCell(project, row_, column_)) return;
    const SameIdsOnRedo sameIds(firstRunIds_, project);
    const auto clip = targetClip(project, *track);
    if (!clip) return;
    clip->kind = ClipKind::Midi;
    // A new clip's name follows the language it is made in; a stored one stays as written.
    clip->name = translate("SessionPlayer", sessionPlayerKindName(settings_.kind));
    clip->notes = generateSessionPlayerNotes(settings_.kind, settings_.barLength, 1, settings_.root,
                                             settings_.minor, settings_.seed);
    if (clip->length < 1) clip->length = clip->loopLength = settings_.barLength;
}

void InsertSessionPlayerClipCommand::undo(Project &project) {
    if (created_) {
        project.removeClip(clipId_);
        created_ = false;
        clipId_ = 0;
        return;
    }
    if (!replaced_) return;
    if (const auto clip = project.findClip(clipId_)) {
        // The kind too: the pattern may have been written over an audio clip.
        clip->kind = replacedCopy_->kind;
        clip->name = replacedCopy_->name;
        clip->notes = replacedCopy_->notes;
        clip->length = replacedCopy_->length;
        clip->loopLength = replacedCopy_->loopLength;
    }
    replaced_ = false;
    replacedCopy_.reset();
}

std::string InsertSessionPlayerClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Session Player");
}

// --- Capture -----------------------------------------------------------------------------

std::unique_ptr<CaptureSessionToArrangeCommand>
CaptureSessionToArrangeCommand::fromCaptured(const Project &project,
                                             const std::vector<uint64_t> &clipIds) {
    auto command =
        std::unique_ptr<CaptureSessionToArrangeCommand>(new CaptureSessionToArrangeCommand());
    for (const uint64_t clipId : clipIds) {
        const auto clip = project.findClip(clipId);
        if (!clip) continue;
        command->copies_.push_back(std::make_shared<Clip>(*clip));
        command->clipIds_.push_back(clipId);
    }
    command->firstIds_ = command->clipIds_;
    command->applied_ = !command->clipIds_.empty();
    return command;
}

std::unique_ptr<CaptureSessionToArrangeCommand>
CaptureSessionToArrangeCommand::fromCopies(std::vector<std::shared_ptr<Clip>> copies) {
    auto command =
        std::unique_ptr<CaptureSessionToArrangeCommand>(new CaptureSessionToArrangeCommand());
    command->copies_ = std::move(copies);
    return command;
}

void CaptureSessionToArrangeCommand::redo(Project &project) {
    if (applied_) return;
    clipIds_.clear();
    const bool firstRun = firstIds_.empty();
    for (std::size_t index = 0; index < copies_.size(); ++index) {
        const Clip &copy = *copies_[index];
        const uint64_t id =
            firstRun ? addCaptured(project, copy) : reAddCaptured(project, copy, firstIds_[index]);
        if (firstRun) firstIds_.push_back(id);
        if (id != 0) clipIds_.push_back(id);
    }
    applied_ = !clipIds_.empty();
}

void CaptureSessionToArrangeCommand::undo(Project &project) {
    if (!applied_) return;
    for (const uint64_t clipId : clipIds_)
        project.removeClip(clipId);
    clipIds_.clear();
    applied_ = false;
}

std::string CaptureSessionToArrangeCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Capture Session");
}

} // namespace orvane
