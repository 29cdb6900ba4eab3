#include "core/commands/AutomationCommands.h"
#include "core/commands/CommandStack.h"
#include "core/commands/InsertEdits.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/SandboxCommands.h"
#include "core/commands/TrackCommands.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using Points = std::vector<AutomationPoint>;

/// Counts the insert edits reported while it lives.
class InsertEditCounter {
  public:
    InsertEditCounter() {
        setInsertEditHook([this] { ++count; });
    }
    ~InsertEditCounter() { setInsertEditHook({}); }
    int count = 0;
};

struct AutomationFixture {
    AutomationFixture() { track = project.addTrack(TrackType::Audio, ""); }
    void addPluginInsert() {
        track->inserts.push_back({"stock.eq", "stock.eq", "", {}, false, true, 0, {}});
        track->inserts.push_back({"vst3:A1", "Gain", "/Gain.vst3", {}, false, false, 0, {}});
    }
    Project project;
    std::shared_ptr<Track> track;
    CommandStack stack;
};

TEST(AutomationPoints, LaneNumbersSelectVolumePanMuteAndLaneZeroForTheRest) {
    AutomationFixture f;
    for (const int32_t lane : {0, 1, 2, 9, -4})
        f.stack.execute(f.project, std::make_unique<SetAutomationPointCommand>(f.track->id, lane,
                                                                               100 + lane, 0.5f));
    EXPECT_EQ(f.track->volumeAutomation, (Points{{96, 0.5f}, {100, 0.5f}, {109, 0.5f}}));
    EXPECT_EQ(f.track->panAutomation, (Points{{101, 0.5f}}));
    EXPECT_EQ(f.track->muteAutomation, (Points{{102, 0.5f}}));
}

TEST(AutomationPoints, SettingTwiceAtOnePositionLeavesOnePointWithTheNewValue) {
    AutomationFixture f;
    f.stack.execute(f.project,
                    std::make_unique<SetAutomationPointCommand>(f.track->id, 0, 500, 0.2f));
    f.stack.execute(f.project,
                    std::make_unique<SetAutomationPointCommand>(f.track->id, 0, 100, 0.9f));
    f.stack.execute(f.project,
                    std::make_unique<SetAutomationPointCommand>(f.track->id, 0, 500, 0.7f));
    EXPECT_EQ(f.track->volumeAutomation, (Points{{100, 0.9f}, {500, 0.7f}}));
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->volumeAutomation, (Points{{100, 0.9f}, {500, 0.2f}}));
}

TEST(AutomationPoints, APointInsideAnAutomationClipOfTheLaneEditsTheClipAtTheRelativePosition) {
    AutomationFixture f;
    f.stack.execute(f.project,
                    std::make_unique<AddAutomationClipCommand>(f.track->id, 1, 1000, 400));
    f.stack.execute(f.project,
                    std::make_unique<SetAutomationPointCommand>(f.track->id, 1, 1100, -0.5f));
    f.stack.execute(f.project,
                    std::make_unique<SetAutomationPointCommand>(f.track->id, 0, 1100, 0.3f));
    EXPECT_EQ(f.track->automationClips[0].points, (Points{{0, 0.0f}, {100, -0.5f}, {400, 0.0f}}));
    EXPECT_TRUE(f.track->panAutomation.empty());
    EXPECT_EQ(f.track->volumeAutomation, (Points{{1100, 0.3f}}));
    f.stack.undo(f.project);
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->automationClips[0].points, (Points{{0, 0.0f}, {400, 0.0f}}));
}

TEST(AutomationPoints, MovingResortsAndUndoingAMoveOfAMissingPointChangesNothing) {
    AutomationFixture f;
    f.track->volumeAutomation = {{0, 1.0f}, {100, 0.5f}, {200, 0.0f}};
    const auto before = f.track->volumeAutomation;
    f.stack.execute(f.project,
                    std::make_unique<MoveAutomationPointCommand>(f.track->id, 0, 0, 150, 0.8f));
    EXPECT_EQ(f.track->volumeAutomation, (Points{{100, 0.5f}, {150, 0.8f}, {200, 0.0f}}));
    f.stack.execute(f.project,
                    std::make_unique<MoveAutomationPointCommand>(f.track->id, 0, 999, 5, 0.1f));
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->volumeAutomation, (Points{{100, 0.5f}, {150, 0.8f}, {200, 0.0f}}));
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->volumeAutomation, before);
}

TEST(AutomationClips, NewClipsHaveTheShapeOfTheirLane) {
    AutomationFixture f;
    for (const int32_t lane : {0, 1, 2})
        f.stack.execute(f.project,
                        std::make_unique<AddAutomationClipCommand>(f.track->id, lane, 0, 0));
    const auto &clips = f.track->automationClips;
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips[0].points, (Points{{0, 1.0f}, {1, 0.5f}}));
    EXPECT_EQ(clips[1].points, (Points{{0, 0.0f}, {1, 0.0f}}));
    EXPECT_EQ(clips[2].points, (Points{{0, 1.0f}, {1, 1.0f}}));
    EXPECT_EQ(clips[2].length, 1);
}

TEST(AutomationClips, IdsComeFromTheClipCounterAndARedoKeepsTheFirst) {
    AutomationFixture f;
    f.project.nextClipId = 40;
    f.stack.execute(f.project, std::make_unique<AddAutomationClipCommand>(f.track->id, 0, 0, 100));
    EXPECT_EQ(f.track->automationClips[0].id, 40u);
    f.stack.undo(f.project);
    EXPECT_TRUE(f.track->automationClips.empty());
    f.stack.redo(f.project);
    EXPECT_EQ(f.track->automationClips[0].id, 40u);
    EXPECT_EQ(f.project.nextClipId, 41u);
}

TEST(PluginAutomation, LaneThreeIsTheFirstVst3InsertAndEditsOfItAreReported) {
    AutomationFixture f;
    f.addPluginInsert();
    InsertEditCounter edits;
    f.stack.execute(f.project,
                    std::make_unique<SetAutomationPointCommand>(f.track->id, 3, 0, 0.25f));
    f.stack.execute(f.project,
                    std::make_unique<MoveAutomationPointCommand>(f.track->id, 3, 0, 10, 0.5f));
    EXPECT_EQ(f.track->inserts[1].paramAutomation, (Points{{10, 0.5f}}));
    EXPECT_TRUE(f.track->inserts[0].paramAutomation.empty());
    EXPECT_EQ(edits.count, 2);
    f.stack.undo(f.project);
    f.stack.undo(f.project);
    EXPECT_TRUE(f.track->inserts[1].paramAutomation.empty());
    EXPECT_EQ(edits.count, 4);
    // Lanes the engine renders from the graph need no report.
    f.stack.execute(f.project,
                    std::make_unique<SetAutomationPointCommand>(f.track->id, 0, 0, 0.25f));
    EXPECT_EQ(edits.count, 4);
}

TEST(PluginAutomation, WithoutAVst3InsertLaneThreeChangesNothing) {
    AutomationFixture f;
    f.track->inserts.push_back({"stock.eq", "stock.eq", "", {}, false, true, 0, {}});
    InsertEditCounter edits;
    f.stack.execute(f.project,
                    std::make_unique<SetAutomationPointCommand>(f.track->id, 3, 0, 0.25f));
    EXPECT_TRUE(f.track->inserts[0].paramAutomation.empty());
    EXPECT_TRUE(f.track->volumeAutomation.empty());
    EXPECT_EQ(edits.count, 0);
}

TEST(InsertAutomation, LaneSixteenOnwardIsEachInsertsOwnLaneAndOnlyPluginEditsAreReported) {
    struct Case {
        int32_t lane;
        std::size_t editedInsert; // past the inserts: none
        int reports;
    };
    // Inserts: a built-in EQ, then a plug-in.
    const Case cases[] = {
        {insertAutomationLane(0), 0, 0},
        {insertAutomationLane(1), 1, 1},
        {insertAutomationLane(2), 2, 0},           // no third insert: a scratch list
        {firstInsertLane + insertLaneCount, 2, 0}, // past the insert lanes: volume
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.lane);
        AutomationFixture f;
        f.addPluginInsert();
        InsertEditCounter edits;
        f.stack.execute(f.project, std::make_unique<SetAutomationPointCommand>(f.track->id,
                                                                               row.lane, 7, 0.25f));
        for (std::size_t i = 0; i < f.track->inserts.size(); ++i)
            EXPECT_EQ(f.track->inserts[i].paramAutomation,
                      (i == row.editedInsert ? Points{{7, 0.25f}} : Points{}));
        EXPECT_EQ(f.track->volumeAutomation.size(), row.lane >= firstInsertLane + insertLaneCount);
        EXPECT_EQ(edits.count, row.reports);
        f.stack.undo(f.project);
        EXPECT_TRUE(f.track->inserts[0].paramAutomation.empty());
        EXPECT_TRUE(f.track->inserts[1].paramAutomation.empty());
        EXPECT_EQ(edits.count, 2 * row.reports);
    }
    EXPECT_EQ(insertIndexOfLane(3), std::nullopt);
    EXPECT_EQ(insertIndexOfLane(15), std::nullopt);
    EXPECT_EQ(insertIndexOfLane(17), std::optional<std::size_t>(1));
}

TEST(InsertAutomation, MovingAndRemovingAPointOfABuiltInInsertsLaneUndoes) {
    AutomationFixture f;
    f.addPluginInsert();
    const int32_t lane = insertAutomationLane(0);
    f.track->inserts[0].paramAutomation = {{0, 0.1f}, {100, 0.9f}};
    f.stack.execute(f.project,
                    std::make_unique<MoveAutomationPointCommand>(f.track->id, lane, 100, 50, 0.5f));
    EXPECT_EQ(f.track->inserts[0].paramAutomation, (Points{{0, 0.1f}, {50, 0.5f}}));
    f.stack.execute(f.project,
                    std::make_unique<RemoveAutomationPointCommand>(f.track->id, lane, 0));
    EXPECT_EQ(f.track->inserts[0].paramAutomation, (Points{{50, 0.5f}}));
    f.stack.undo(f.project);
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->inserts[0].paramAutomation, (Points{{0, 0.1f}, {100, 0.9f}}));
}

TEST(InsertAutomation, ChoosingTheAutomatedParameterUndoesAndKeepsThePoints) {
    AutomationFixture f;
    f.addPluginInsert();
    f.track->inserts[0].paramAutomation = {{0, 0.5f}};
    InsertEditCounter edits;
    f.stack.execute(f.project,
                    std::make_unique<SetInsertAutomationParameterCommand>(f.track->id, 0, 3));
    EXPECT_EQ(f.track->inserts[0].automParamId, 3u);
    EXPECT_EQ(f.track->inserts[0].paramAutomation, (Points{{0, 0.5f}}));
    EXPECT_EQ(f.stack.undoName(), "Automation Parameter");
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->inserts[0].automParamId, 0u);
    EXPECT_EQ(edits.count, 0) << "a built-in insert is heard through the graph";

    f.stack.execute(f.project,
                    std::make_unique<SetInsertAutomationParameterCommand>(f.track->id, 1, 42));
    EXPECT_EQ(f.track->inserts[1].automParamId, 42u);
    EXPECT_EQ(edits.count, 1) << "the plug-in rack hears of its parameter";
    // An insert the track lacks: nothing changes, and the undo leaves the rest alone.
    f.stack.execute(f.project,
                    std::make_unique<SetInsertAutomationParameterCommand>(f.track->id, 5, 1));
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->inserts[0].automParamId, 0u);
    EXPECT_EQ(f.track->inserts[1].automParamId, 42u);
}

TEST(PluginAutomation, BypassTogglesAreReportedBothWays) {
    AutomationFixture f;
    f.addPluginInsert();
    InsertEditCounter edits;
    f.stack.execute(f.project, std::make_unique<ToggleInsertBypassCommand>(f.track->id, 1));
    EXPECT_TRUE(f.track->inserts[1].bypassed);
    f.stack.undo(f.project);
    EXPECT_FALSE(f.track->inserts[1].bypassed);
    f.stack.execute(f.project, std::make_unique<ToggleInsertBypassCommand>(f.track->id, 2));
    EXPECT_EQ(edits.count, 2);
}

// The rack regroups a track's sandboxed inserts only after an insert edit is reported.
TEST(PluginAutomation, SandboxGroupingChangesAreReportedBothWays) {
    AutomationFixture f;
    InsertEditCounter edits;
    f.stack.execute(f.project, std::make_unique<SetTrackSandboxGroupingCommand>(
                                   f.track->id, SandboxGrouping::PerTrack));
    EXPECT_EQ(f.track->sandboxGrouping, SandboxGrouping::PerTrack);
    EXPECT_EQ(edits.count, 1);
    f.stack.undo(f.project);
    EXPECT_EQ(f.track->sandboxGrouping, SandboxGrouping::PerPlugin);
    EXPECT_EQ(edits.count, 2);
}

// A removed track's shared helper is ended by the regroup that the report sets off.
TEST(PluginAutomation, RemovingATrackReportsItsInsertsBothWaysAndAnEmptyTrackNothing) {
    struct Case {
        const char *what;
        bool withInserts;
        int reported;
    };
    for (const Case test : {Case{"with inserts", true, 2}, Case{"without", false, 0}}) {
        AutomationFixture f;
        if (test.withInserts) f.addPluginInsert();
        InsertEditCounter edits;
        f.stack.execute(f.project, std::make_unique<RemoveTrackCommand>(f.track->id));
        EXPECT_TRUE(f.project.tracks.empty()) << test.what;
        f.stack.undo(f.project);
        EXPECT_EQ(f.project.tracks.size(), 1u) << test.what;
        EXPECT_EQ(edits.count, test.reported) << test.what;
    }
}

} // namespace
} // namespace orvane
