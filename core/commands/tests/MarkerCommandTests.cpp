#include "core/commands/CommandStack.h"
#include "core/commands/MarkerCommands.h"
#include "core/commands/tests/support/ClipFixtures.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using testing::placeClip;

std::vector<int64_t> beatPositions(const Project &project) {
    std::vector<int64_t> positions;
    for (const auto &marker : project.beatMarkers)
        positions.push_back(marker.position);
    return positions;
}

TEST(NamedMarkers, AnIdAboveTheCounterRaisesItAndUndoLeavesItRaised) {
    Project project;
    project.nextMarkerId = 3;
    CommandStack stack;
    stack.execute(project, std::make_unique<AddMarkerCommand>(7, "Припев", 48000));
    EXPECT_EQ(project.nextMarkerId, 8u);
    EXPECT_EQ(project.markers, (std::vector<Marker>{{7, "Припев", 48000}}));
    stack.undo(project);
    EXPECT_TRUE(project.markers.empty());
    EXPECT_EQ(project.nextMarkerId, 8u);
}

TEST(NamedMarkers, UndoOfAnAddLeavesAMarkerThatAlreadyHadTheId) {
    Project project;
    project.markers = {{4, "Old", 10}};
    CommandStack stack;
    stack.execute(project, std::make_unique<AddMarkerCommand>(4, "New", 20));
    stack.undo(project);
    EXPECT_EQ(project.markers, (std::vector<Marker>{{4, "Old", 10}}));
}

TEST(NamedMarkers, ARemovedMarkerReturnsToItsPlaceInTheUnsortedList) {
    Project project;
    project.markers = {{1, "C", 300}, {2, "A", 100}, {3, "B", 200}};
    const auto before = project.markers;
    CommandStack stack;
    stack.execute(project, std::make_unique<RemoveMarkerCommand>(2));
    EXPECT_EQ(project.markers.size(), 2u);
    stack.undo(project);
    EXPECT_EQ(project.markers, before);
}

TEST(TempoMarkers, MovingKeepsTheTempoAndUndoRestoresPositionAndTempo) {
    Project project;
    project.tempoMarkers = {{0, 120.0}, {48000, 90.0}, {96000, 150.0}};
    const auto before = project.tempoMarkers;
    CommandStack stack;
    stack.execute(project, std::make_unique<MoveTempoMarkerCommand>(48000, 200000, 90.0));
    EXPECT_EQ(project.tempoMarkers,
              (std::vector<TempoMarker>{{0, 120.0}, {96000, 150.0}, {200000, 90.0}}));
    stack.undo(project);
    EXPECT_EQ(project.tempoMarkers, before);
}

TEST(TempoMarkers, AMoveOntoAnotherMarkerIsUndoneWithoutMixingTheirTempos) {
    Project project;
    project.tempoMarkers = {{0, 120.0}, {48000, 90.0}};
    const auto before = project.tempoMarkers;
    CommandStack stack;
    stack.execute(project, std::make_unique<MoveTempoMarkerCommand>(0, 48000, 120.0));
    stack.undo(project);
    EXPECT_EQ(project.tempoMarkers, before);
}

TEST(MeterMarkers, MovingSetsTheNewSignatureAndResorts) {
    Project project;
    project.meterMarkers = {{0, 4, 4}, {96000, 3, 4}};
    CommandStack stack;
    stack.execute(project,
                  std::make_unique<MoveMeterMarkerCommand>(0, 120000, TimeSignature{7, 8}));
    EXPECT_EQ(project.meterMarkers, (std::vector<MeterMarker>{{96000, 3, 4}, {120000, 7, 8}}));
    stack.undo(project);
    EXPECT_EQ(project.meterMarkers, (std::vector<MeterMarker>{{0, 4, 4}, {96000, 3, 4}}));
}

TEST(ChordMarkers, AddingSortsAndMovingFollowsThePosition) {
    Project project;
    CommandStack stack;
    stack.execute(project, std::make_unique<AddChordMarkerCommand>(96000, "F"));
    stack.execute(project, std::make_unique<AddChordMarkerCommand>(0, "C"));
    stack.execute(project, std::make_unique<MoveChordMarkerCommand>(0, 192000, "C"));
    EXPECT_EQ(project.chordMarkers, (std::vector<ChordMarker>{{96000, "F"}, {192000, "C"}}));
    stack.undo(project);
    EXPECT_EQ(project.chordMarkers, (std::vector<ChordMarker>{{0, "C"}, {96000, "F"}}));
}

TEST(BeatMarkers, GeneratedBeatsJoinTheExistingOnesInOrderAndLeaveOnUndo) {
    Project project;
    project.beatMarkers = {{30000, true}};
    CommandStack stack;
    // Four beats of 24000 samples at 120 BPM from 0, a downbeat every third.
    stack.execute(project, std::make_unique<AddBeatMarkersCommand>(0, 96000, 120.0, 3, 48000.0));
    EXPECT_EQ(beatPositions(project), (std::vector<int64_t>{0, 24000, 30000, 48000, 72000}));
    EXPECT_TRUE(project.beatMarkers[0].downbeat);
    EXPECT_FALSE(project.beatMarkers[1].downbeat);
    EXPECT_TRUE(project.beatMarkers[4].downbeat);
    stack.undo(project);
    EXPECT_EQ(beatPositions(project), (std::vector<int64_t>{30000}));
    stack.redo(project);
    EXPECT_EQ(project.beatMarkers.size(), 5u);
}

TEST(BeatMarkers, MovingABeatMarkerResortsThemAndUndoPutsItBack) {
    Project project;
    project.beatMarkers = {{0, true}, {24000, false}, {48000, false}};
    const auto before = project.beatMarkers;
    CommandStack stack;
    stack.execute(project, std::make_unique<MoveBeatMarkerCommand>(0, 30000));
    EXPECT_EQ(beatPositions(project), (std::vector<int64_t>{24000, 30000, 48000}));
    EXPECT_TRUE(project.beatMarkers[1].downbeat);
    stack.undo(project);
    EXPECT_EQ(project.beatMarkers, before);
}

TEST(WarpMarkers, AddingSortsByDestinationAndReplacingKeepsOneMarker) {
    Project project;
    const auto track = project.addTrack(TrackType::Audio, "");
    const auto clip = placeClip(project, track->id, ClipKind::Audio, 0, 96000);
    CommandStack stack;
    stack.execute(project, std::make_unique<AddWarpMarkerCommand>(clip->id, 4800, 5000));
    stack.execute(project, std::make_unique<AddWarpMarkerCommand>(clip->id, 2400, 2000));
    stack.execute(project, std::make_unique<AddWarpMarkerCommand>(clip->id, 4800, 6000));
    EXPECT_EQ(clip->warpMarkers, (std::vector<WarpMarker>{{2400, 2000}, {4800, 6000}}));
    stack.undo(project);
    EXPECT_EQ(clip->warpMarkers, (std::vector<WarpMarker>{{2400, 2000}, {4800, 5000}}));
    stack.execute(project, std::make_unique<MoveWarpMarkerCommand>(clip->id, 2400, 9000, 8000));
    EXPECT_EQ(clip->warpMarkers, (std::vector<WarpMarker>{{4800, 5000}, {9000, 8000}}));
    stack.execute(project, std::make_unique<RemoveWarpMarkerCommand>(clip->id, 4800));
    EXPECT_EQ(clip->warpMarkers, (std::vector<WarpMarker>{{9000, 8000}}));
    stack.undo(project);
    stack.undo(project);
    EXPECT_EQ(clip->warpMarkers, (std::vector<WarpMarker>{{2400, 2000}, {4800, 5000}}));
}

TEST(WarpMarkers, AMidiClipGetsNone) {
    Project project;
    const auto track = project.addTrack(TrackType::Midi, "");
    const auto clip = placeClip(project, track->id, ClipKind::Midi, 0, 96000);
    AddWarpMarkerCommand(clip->id, 100, 100).redo(project);
    EXPECT_TRUE(clip->warpMarkers.empty());
}

} // namespace
} // namespace orvane
