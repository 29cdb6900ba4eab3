#include "core/commands/AutomationCommands.h"

#include "core/commands/InsertEdits.h"
#include "core/model/SaturatingMath.h"

#include <algorithm>
#include <cmath>
#include <ranges>
#include <utility>

namespace orvane {

namespace {

constexpr int32_t pluginLane = 3;

std::vector<AutomationPoint> *laneOf(Track &track, int32_t lane) {
    // The track is the caller's to change, so the list it owns is too.
    return const_cast<std::vector<AutomationPoint> *>(automationLaneOf(track, lane));
}

/// The lane's list, or a scratch list that belongs to no project.
std::vector<AutomationPoint> &laneOrScratch(Track &track, int32_t lane,
                                            std::vector<AutomationPoint> &scratch) {
    auto *points = laneOf(track, lane);
    return points ? *points : scratch;
}

InsertSlot *insertAt(Track &track, std::size_t index) {
    return index < track.inserts.size() ? &track.inserts[index] : nullptr;
}

void reportIfPluginLane(Track &track, int32_t lane) {
    if (lane == pluginLane && laneOf(track, lane)) reportInsertEdit();
    // A built-in insert's lane reaches the engine with the next graph, as volume does.
    const auto index = insertIndexOfLane(lane);
    const InsertSlot *insert = index ? insertAt(track, *index) : nullptr;
    if (insert && !insert->isStock) reportInsertEdit();
}

void sortPoints(std::vector<AutomationPoint> &points) {
    std::ranges::stable_sort(points, {}, &AutomationPoint::t);
}

bool covers(const AutomationClip &clip, int64_t position) {
    return clip.start <= position &&
           position < saturatingAdd(clip.start, std::max<int64_t>(clip.length, 1));
}

} // namespace

std::optional<std::size_t> insertIndexOfLane(int32_t lane) {
    if (lane < firstInsertLane || lane >= firstInsertLane + insertLaneCount) return std::nullopt;
    return static_cast<std::size_t>(lane - firstInsertLane);
}

const std::vector<AutomationPoint> *automationLaneOf(const Track &track, int32_t lane) {
    if (const auto index = insertIndexOfLane(lane))
        return *index < track.inserts.size() ? &track.inserts[*index].paramAutomation : nullptr;
    switch (lane) {
    case 1: return &track.panAutomation;
    case 2: return &track.muteAutomation;
    case pluginLane: {
        const auto insert = std::ranges::find(track.inserts, false, &InsertSlot::isStock);
        return insert != track.inserts.end() ? &insert->paramAutomation : nullptr;
    }
    default: return &track.volumeAutomation;
    }
}

SetAutomationPointCommand::SetAutomationPointCommand(uint64_t trackId, int32_t lane,
                                                     int64_t position, float value)
    : trackId_(trackId), lane_(lane), position_(position), value_(value) {}

void SetAutomationPointCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || !std::isfinite(value_)) return;
    std::vector<AutomationPoint> scratch;
    auto &lanePoints = laneOrScratch(*track, lane_, scratch);
    pointsBefore_.capture(lanePoints);
    clipsBefore_.capture(track->automationClips);

    auto &clips = track->automationClips;
    const auto clip = std::ranges::find_if(clips, [this](const AutomationClip &candidate) {
        return candidate.lane == lane_ && covers(candidate, position_);
    });
    auto &points = clip != clips.end() ? clip->points : lanePoints;
    const int64_t t = clip != clips.end() ? position_ - clip->start : position_;
    const auto existing = std::ranges::find(points, t, &AutomationPoint::t);
    if (existing != points.end())
        existing->v = value_;
    else
        points.push_back({t, value_});
    sortPoints(points);
    reportIfPluginLane(*track, lane_);
}

void SetAutomationPointCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track) return;
    std::vector<AutomationPoint> scratch;
    if (!pointsBefore_.restoreInto(laneOrScratch(*track, lane_, scratch))) return;
    clipsBefore_.restoreInto(track->automationClips);
    reportIfPluginLane(*track, lane_);
}

std::string SetAutomationPointCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Automation");
}

MoveAutomationPointCommand::MoveAutomationPointCommand(uint64_t trackId, int32_t lane, int64_t from,
                                                       int64_t to, float value)
    : trackId_(trackId), lane_(lane), from_(from), to_(to), value_(value) {}

void MoveAutomationPointCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || !std::isfinite(value_)) return;
    std::vector<AutomationPoint> scratch;
    auto &points = laneOrScratch(*track, lane_, scratch);
    const auto moved = std::ranges::find(points, from_, &AutomationPoint::t);
    if (moved == points.end()) return;
    pointsBefore_.capture(points);
    *moved = {to_, value_};
    sortPoints(points);
    reportIfPluginLane(*track, lane_);
}

void MoveAutomationPointCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track) return;
    std::vector<AutomationPoint> scratch;
    if (pointsBefore_.restoreInto(laneOrScratch(*track, lane_, scratch)))
        reportIfPluginLane(*track, lane_);
}

std::string MoveAutomationPointCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Move Automation");
}

RemoveAutomationPointCommand::RemoveAutomationPointCommand(uint64_t trackId, int32_t lane,
                                                           int64_t position)
    : trackId_(trackId), lane_(lane), position_(position) {}

void RemoveAutomationPointCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track) return;
    std::vector<AutomationPoint> scratch;
    auto &points = laneOrScratch(*track, lane_, scratch);
    const auto removed = std::ranges::find(points, position_, &AutomationPoint::t);
    if (removed == points.end()) return;
    pointsBefore_.capture(points);
    points.erase(removed);
    reportIfPluginLane(*track, lane_);
}

void RemoveAutomationPointCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track) return;
    std::vector<AutomationPoint> scratch;
    if (pointsBefore_.restoreInto(laneOrScratch(*track, lane_, scratch)))
        reportIfPluginLane(*track, lane_);
}

std::string RemoveAutomationPointCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Delete Automation");
}

AddAutomationClipCommand::AddAutomationClipCommand(uint64_t trackId, int32_t lane, int64_t start,
                                                   int64_t length)
    : trackId_(trackId), lane_(lane), start_(start), length_(length) {}

void AddAutomationClipCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || created_) return;
    const int64_t length = std::max<int64_t>(length_, 1);
    float first = 1.0f;
    float last = 0.5f;
    if (lane_ == 1) first = last = 0.0f;
    if (lane_ == 2) first = last = 1.0f;
    // A redo brings the clip back under its first id, which later edits refer to.
    if (createdId_ == 0) createdId_ = project.nextClipId++;
    track->automationClips.push_back(
        {createdId_, start_, length, lane_, {{0, first}, {length, last}}});
    created_ = true;
}

void AddAutomationClipCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    if (!track || !created_) return;
    // Only the clip added here, which is the last with its id: an automation clip of a
    // damaged document may share the id.
    auto &clips = track->automationClips;
    const auto last =
        std::ranges::find(clips.rbegin(), clips.rend(), createdId_, &AutomationClip::id);
    if (last != clips.rend()) clips.erase(std::next(last).base());
    created_ = false;
}

std::string AddAutomationClipCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Automation Clip");
}

SetInsertAutomationParameterCommand::SetInsertAutomationParameterCommand(uint64_t trackId,
                                                                         std::size_t insertIndex,
                                                                         uint32_t parameterId)
    : trackId_(trackId), insertIndex_(insertIndex), parameterId_(parameterId) {}

void SetInsertAutomationParameterCommand::redo(Project &project) {
    const auto track = project.findTrack(trackId_);
    InsertSlot *insert = track ? insertAt(*track, insertIndex_) : nullptr;
    if (!insert) return;
    before_.capture(insert->automParamId);
    insert->automParamId = parameterId_;
    if (!insert->isStock) reportInsertEdit();
}

void SetInsertAutomationParameterCommand::undo(Project &project) {
    const auto track = project.findTrack(trackId_);
    InsertSlot *insert = track ? insertAt(*track, insertIndex_) : nullptr;
    if (!insert || !before_.restoreInto(insert->automParamId)) return;
    if (!insert->isStock) reportInsertEdit();
}

std::string SetInsertAutomationParameterCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Automation Parameter");
}

WriteAutomationPassCommand::WriteAutomationPassCommand(
    std::vector<std::unique_ptr<SetAutomationPointCommand>> points)
    : points_(std::move(points)) {}

void WriteAutomationPassCommand::add(Project &project,
                                     std::unique_ptr<SetAutomationPointCommand> point) {
    point->redo(project);
    points_.push_back(std::move(point));
}

void WriteAutomationPassCommand::redo(Project &project) {
    // Each point keeps what it replaced from its first run, so running them again in order
    // leaves exactly the drag's result.
    for (auto &point : points_)
        point->redo(project);
}

void WriteAutomationPassCommand::undo(Project &project) {
    for (auto &point : std::views::reverse(points_))
        point->undo(project);
}

std::string WriteAutomationPassCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Automation");
}

} // namespace orvane
