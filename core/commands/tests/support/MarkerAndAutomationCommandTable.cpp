#include "core/commands/tests/support/MarkerAndAutomationCommandTable.h"

#include "core/commands/AutomationCommands.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/ProjectSettingCommands.h"
#include "core/commands/tests/support/ArgumentDrawing.h"

#include <limits>
#include <memory>
#include <string>

namespace orvane::testing {

namespace {

using namespace drawing;

double someBpm(Random &random) {
    if (chance(random, 8))
        return pick(random, std::vector<double>{0.0, -90.0, std::nan(""),
                                                std::numeric_limits<double>::infinity()});
    return static_cast<double>(between(random, 4000, 24000)) / 100.0;
}

TimeSignature someSignature(Random &random) {
    if (chance(random, 8)) return pick(random, std::vector<TimeSignature>{{0, 4}, {4, 0}, {-3, 8}});
    return {static_cast<int32_t>(between(random, 1, 13)),
            pick(random, std::vector<int32_t>{2, 4, 8, 16})};
}

std::string someChord(Random &random) {
    return pick(random, std::vector<std::string>{"Am", "C7", "F#m7b5", "Dsus4", "", "Ре минор"});
}

uint64_t someMarkerId(const Project &project, Random &random) {
    if (project.markers.empty() || chance(random, 30))
        return chance(random, 70) ? project.nextMarkerId : missingId(random, project.nextMarkerId);
    return pick(random, project.markers).id;
}

int32_t someLane(Random &random) {
    // Lane 3 is the first VST 3 insert's parameter, 16 and up each insert's in turn (most
    // tracks have fewer than five inserts); 7, -1 and 200 stand for lane 0.
    return pick(random, std::vector<int32_t>{0, 1, 2, 3, 3, 3, 7, -1, 16, 17, 19, 200});
}

/// Mostly an insert the track has, now and then one past its last.
std::size_t someInsertIndex(const Project &project, uint64_t trackId, Random &random) {
    const auto track = project.findTrack(trackId);
    const std::size_t inserts = track ? track->inserts.size() : 0;
    if (inserts == 0 || chance(random, 15))
        return inserts + static_cast<std::size_t>(between(random, 0, 3));
    return static_cast<std::size_t>(between(random, 0, static_cast<int64_t>(inserts) - 1));
}

/// Mostly an audio clip that has warp markers; now and then a MIDI clip, which has none.
uint64_t audioClipId(const Project &project, Random &random) {
    std::vector<uint64_t> warped;
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->kind == ClipKind::Audio && !clip->warpMarkers.empty())
                warped.push_back(clip->id);
    if (!warped.empty() && chance(random, 75)) return pick(random, warped);
    return someClipId(project, random, chance(random, 90) ? ClipKind::Audio : ClipKind::Midi);
}

const std::vector<WarpMarker> &warpMarkersOf(const Project &project, uint64_t clipId) {
    static const std::vector<WarpMarker> none;
    const auto clip = project.findClip(clipId);
    return clip ? clip->warpMarkers : none;
}

/// The lane's own points when the track has that lane, for moves that should find a point.
std::vector<AutomationPoint> lanePoints(const Project &project, uint64_t trackId, int32_t lane) {
    const auto track = project.findTrack(trackId);
    if (!track) return {};
    switch (lane) {
    case 1: return track->panAutomation;
    case 2: return track->muteAutomation;
    case 3:
        for (const auto &insert : track->inserts)
            if (!insert.isStock) return insert.paramAutomation;
        return {};
    default: return track->volumeAutomation;
    }
}

/// Inside an automation clip of the lane now and then, so that clip points get edited.
int64_t automationPosition(const Project &project, uint64_t trackId, int32_t lane, Random &random) {
    const auto track = project.findTrack(trackId);
    if (track && !track->automationClips.empty() && chance(random, 30)) {
        const auto &clip = pick(random, track->automationClips);
        return clip.start + between(random, 0, std::max<int64_t>(clip.length, 1));
    }
    return positionIn(random, lanePoints(project, trackId, lane), &AutomationPoint::t);
}

CommandTableRow addMarkerRow() {
    return {"AddMarkerCommand", [](const Project &project, Random &random) {
                const std::string name = chance(random, 50) ? "Куплет" : "Chorus";
                return recipe<AddMarkerCommand>("AddMarker", someMarkerId(project, random), name,
                                                between(random, -1000, 400000));
            }};
}

CommandTableRow removeMarkerRow() {
    return {"RemoveMarkerCommand", [](const Project &project, Random &random) {
                return recipe<RemoveMarkerCommand>("RemoveMarker", someMarkerId(project, random));
            }};
}

CommandTableRow addTempoRow() {
    return {"AddTempoMarkerCommand", [](const Project &project, Random &random) {
                return recipe<AddTempoMarkerCommand>(
                    "AddTempoMarker",
                    positionIn(random, project.tempoMarkers, &TempoMarker::position),
                    someBpm(random));
            }};
}

CommandTableRow moveTempoRow() {
    return {"MoveTempoMarkerCommand", [](const Project &project, Random &random) {
                const auto &markers = project.tempoMarkers;
                return recipe<MoveTempoMarkerCommand>(
                    "MoveTempoMarker", positionIn(random, markers, &TempoMarker::position, 10),
                    positionIn(random, markers, &TempoMarker::position), someBpm(random));
            }};
}

CommandTableRow setProjectTempoRow() {
    return {"SetProjectTempoCommand", [](const Project &, Random &random) {
                return recipe<SetProjectTempoCommand>("SetProjectTempo", someBpm(random));
            }};
}

CommandTableRow addMeterRow() {
    return {"AddMeterMarkerCommand", [](const Project &project, Random &random) {
                return recipe<AddMeterMarkerCommand>(
                    "AddMeterMarker",
                    positionIn(random, project.meterMarkers, &MeterMarker::position),
                    someSignature(random));
            }};
}

CommandTableRow moveMeterRow() {
    return {"MoveMeterMarkerCommand", [](const Project &project, Random &random) {
                const auto &markers = project.meterMarkers;
                return recipe<MoveMeterMarkerCommand>(
                    "MoveMeterMarker", positionIn(random, markers, &MeterMarker::position, 10),
                    positionIn(random, markers, &MeterMarker::position), someSignature(random));
            }};
}

CommandTableRow addChordRow() {
    return {"AddChordMarkerCommand", [](const Project &project, Random &random) {
                return recipe<AddChordMarkerCommand>(
                    "AddChordMarker",
                    positionIn(random, project.chordMarkers, &ChordMarker::position),
                    someChord(random));
            }};
}

CommandTableRow moveChordRow() {
    return {"MoveChordMarkerCommand", [](const Project &project, Random &random) {
                const auto &markers = project.chordMarkers;
                return recipe<MoveChordMarkerCommand>(
                    "MoveChordMarker", positionIn(random, markers, &ChordMarker::position, 10),
                    positionIn(random, markers, &ChordMarker::position), someChord(random));
            }};
}

CommandTableRow addBeatsRow() {
    return {"AddBeatMarkersCommand", [](const Project &, Random &random) {
                const double rate = chance(random, 90) ? 48000.0 : 0.0;
                return recipe<AddBeatMarkersCommand>(
                    "AddBeatMarkers", between(random, -1000, 300000), between(random, -10, 120000),
                    someBpm(random), static_cast<int32_t>(between(random, -1, 7)), rate);
            }};
}

CommandTableRow moveBeatRow() {
    return {"MoveBeatMarkerCommand", [](const Project &project, Random &random) {
                const auto &markers = project.beatMarkers;
                return recipe<MoveBeatMarkerCommand>(
                    "MoveBeatMarker", positionIn(random, markers, &BeatMarker::position, 10),
                    positionIn(random, markers, &BeatMarker::position));
            }};
}

CommandTableRow addWarpRow() {
    return {"AddWarpMarkerCommand", [](const Project &project, Random &random) {
                const uint64_t clip = audioClipId(project, random);
                return recipe<AddWarpMarkerCommand>(
                    "AddWarpMarker", clip,
                    positionIn(random, warpMarkersOf(project, clip), &WarpMarker::dest),
                    between(random, 0, 96000));
            }};
}

CommandTableRow moveWarpRow() {
    return {"MoveWarpMarkerCommand", [](const Project &project, Random &random) {
                const uint64_t clip = audioClipId(project, random);
                const auto &markers = warpMarkersOf(project, clip);
                return recipe<MoveWarpMarkerCommand>(
                    "MoveWarpMarker", clip, positionIn(random, markers, &WarpMarker::dest, 10),
                    positionIn(random, markers, &WarpMarker::dest), between(random, 0, 96000));
            }};
}

CommandTableRow removeWarpRow() {
    return {"RemoveWarpMarkerCommand", [](const Project &project, Random &random) {
                const uint64_t clip = audioClipId(project, random);
                return recipe<RemoveWarpMarkerCommand>(
                    "RemoveWarpMarker", clip,
                    positionIn(random, warpMarkersOf(project, clip), &WarpMarker::dest, 10));
            }};
}

CommandTableRow setAutomationRow() {
    return {"SetAutomationPointCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                const int32_t lane = someLane(random);
                return recipe<SetAutomationPointCommand>(
                    "SetAutomationPoint", track, lane,
                    automationPosition(project, track, lane, random), someValue(random, 0, 100));
            }};
}

CommandTableRow automationPassRow() {
    return {"WriteAutomationPassCommand", [](const Project &project, Random &random) {
                // One drag writes a run of points, mostly on the gain and pan lanes of one
                // track, now and then twice at one position.
                struct Point {
                    int32_t lane;
                    int64_t position;
                    float value;
                };
                const uint64_t track = someTrackId(project, random);
                std::vector<Point> points;
                std::string text = "WriteAutomationPass(" + std::to_string(track);
                for (int64_t i = between(random, 1, 5); i > 0; --i) {
                    const int32_t lane = chance(random, 80)
                                             ? static_cast<int32_t>(between(random, 0, 1))
                                             : someLane(random);
                    const int64_t position = !points.empty() && chance(random, 20)
                                                 ? points.back().position
                                                 : automationPosition(project, track, lane, random);
                    points.push_back({lane, position, someValue(random, 0, 100)});
                    text += ", (" + std::to_string(lane) + ", " + std::to_string(position) + ", " +
                            std::to_string(points.back().value) + ")";
                }
                return CommandRecipe{
                    text + ")", [track, points] {
                        std::vector<std::unique_ptr<SetAutomationPointCommand>> made;
                        for (const Point &point : points)
                            made.push_back(std::make_unique<SetAutomationPointCommand>(
                                track, point.lane, point.position, point.value));
                        return std::unique_ptr<Command>(
                            std::make_unique<WriteAutomationPassCommand>(std::move(made)));
                    }};
            }};
}

CommandTableRow moveAutomationRow() {
    return {"MoveAutomationPointCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                // Mostly a lane that has points to move.
                int32_t lane = someLane(random);
                for (int retry = 0; retry < 6 && lanePoints(project, track, lane).empty(); ++retry)
                    lane = someLane(random);
                const auto points = lanePoints(project, track, lane);
                return recipe<MoveAutomationPointCommand>(
                    "MoveAutomationPoint", track, lane,
                    positionIn(random, points, &AutomationPoint::t, 10),
                    positionIn(random, points, &AutomationPoint::t), someValue(random, 0, 100));
            }};
}

CommandTableRow removeAutomationRow() {
    return {"RemoveAutomationPointCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                int32_t lane = someLane(random);
                for (int retry = 0; retry < 6 && lanePoints(project, track, lane).empty(); ++retry)
                    lane = someLane(random);
                const auto points = lanePoints(project, track, lane);
                return recipe<RemoveAutomationPointCommand>(
                    "RemoveAutomationPoint", track, lane,
                    positionIn(random, points, &AutomationPoint::t, 10));
            }};
}

CommandTableRow addAutomationClipRow() {
    return {"AddAutomationClipCommand", [](const Project &project, Random &random) {
                return recipe<AddAutomationClipCommand>(
                    "AddAutomationClip", someTrackId(project, random), someLane(random),
                    between(random, -1000, 300000), between(random, -5, 96000));
            }};
}

CommandTableRow setInsertAutomationParameterRow() {
    return {"SetInsertAutomationParameterCommand", [](const Project &project, Random &random) {
                const uint64_t track = someTrackId(project, random);
                return recipe<SetInsertAutomationParameterCommand>(
                    "SetInsertAutomationParameter", track, someInsertIndex(project, track, random),
                    static_cast<uint32_t>(between(random, 0, 6)));
            }};
}

} // namespace

std::vector<CommandTableRow> markerAndAutomationCommandRows() {
    return {addMarkerRow(),
            removeMarkerRow(),
            addTempoRow(),
            moveTempoRow(),
            setProjectTempoRow(),
            addMeterRow(),
            moveMeterRow(),
            addChordRow(),
            moveChordRow(),
            addBeatsRow(),
            moveBeatRow(),
            addWarpRow(),
            moveWarpRow(),
            removeWarpRow(),
            setAutomationRow(),
            moveAutomationRow(),
            removeAutomationRow(),
            addAutomationClipRow(),
            setInsertAutomationParameterRow(),
            automationPassRow()};
}

} // namespace orvane::testing
