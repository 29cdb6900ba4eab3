#include "app/shell/tests/WorkspaceRig.h"
#include "app/workflows/AutomationWriter.h"
#include "core/commands/CommandStack.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace orvane;
using namespace orvane::testing;

namespace {

using Points = std::vector<AutomationPoint>;

class AutomationWritingTest : public ::testing::Test {
  protected:
    WorkspaceRig rig{"automation"};
    uint64_t trackA = rig.addTrack(TrackType::Audio, "A");
    uint64_t trackB = rig.addTrack(TrackType::Audio, "B");

    void setMode(AutomationWriteMode mode) {
        std::lock_guard lock(rig.engine().projectMutex);
        rig.engine().project.automationWriteMode = mode;
    }
    /// A drag of a gain fader: two changes, then the release.
    bool dragGain(uint64_t trackId, float middle, float final) {
        AutomationTools &tools = rig.view().automation();
        tools.beginMixerDrag(trackId);
        tools.mixerValueChanged(trackId, gainAutomationLane, middle);
        tools.mixerValueChanged(trackId, gainAutomationLane, final);
        return tools.endMixerDrag(trackId, final, rig.track(trackId)->pan);
    }
    Points volume(uint64_t trackId) { return rig.track(trackId)->volumeAutomation; }
    Points pan(uint64_t trackId) { return rig.track(trackId)->panAutomation; }
};

TEST_F(AutomationWritingTest, EachModeWritesWhereItShouldAndADragUndoesInOneStep) {
    struct Row {
        AutomationWriteMode mode;
        bool playing;
        bool writes;
    };
    const Row rows[] = {
        {AutomationWriteMode::Read, false, false},  {AutomationWriteMode::Read, true, false},
        {AutomationWriteMode::Touch, false, false}, {AutomationWriteMode::Touch, true, true},
        {AutomationWriteMode::Latch, false, false}, {AutomationWriteMode::Latch, true, true},
        {AutomationWriteMode::Write, false, true},  {AutomationWriteMode::Write, true, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(automationWriteModeLabel(row.mode) +
                     std::string(row.playing ? " playing" : ""));
        rig.request(Request::stop());
        rig.locate(4800);
        if (row.playing) rig.play();
        rig.view().automation().automationLatchTrackId = 0;
        setMode(row.mode);
        const std::string undoBefore = rig.commands().undoName();
        const int64_t at = rig.engine().transport.playhead.load();

        EXPECT_EQ(dragGain(trackA, 0.7f, 0.5f), row.writes);
        if (!row.writes) {
            EXPECT_TRUE(volume(trackA).empty());
            EXPECT_EQ(rig.commands().undoName(), undoBefore);
            continue;
        }
        // Both changes and the release land at the same playhead: one point, last value.
        EXPECT_EQ(volume(trackA), (Points{{at, 0.5f}}));
        EXPECT_TRUE(pan(trackA).empty()) << "the pan did not move";
        EXPECT_EQ(rig.commands().undoName(), "Automation");
        rig.view().undoEdit();
        EXPECT_TRUE(volume(trackA).empty());
        EXPECT_EQ(rig.commands().undoName(), undoBefore);
        rig.view().redoEdit();
        EXPECT_EQ(volume(trackA), (Points{{at, 0.5f}}));
        rig.view().undoEdit();
    }
}

TEST_F(AutomationWritingTest, APlayingDragWritesAPointPerChangeWhereTheMovingPlayheadIsHeard) {
    setMode(AutomationWriteMode::Touch);
    // The hand answers what the ear hears: the device's output latency behind the render.
    constexpr int64_t outputLatency = 1024;
    rig.engine().playbackLatencyFrames.store(outputLatency);
    rig.locate(48000);
    rig.play();
    const auto heardNow = [&] { return rig.engine().transport.playhead.load() - outputLatency; };
    AutomationTools &tools = rig.view().automation();
    tools.beginMixerDrag(trackA);
    Points expected;
    for (const float value : {0.9f, 0.6f, 0.3f}) {
        expected.push_back({heardNow(), value});
        tools.mixerValueChanged(trackA, gainAutomationLane, value);
        rig.render(2);
    }
    tools.mixerValueChanged(trackA, panAutomationLane, -0.5f);
    const int64_t panAt = heardNow();
    EXPECT_TRUE(tools.endMixerDrag(trackA, 0.3f, -0.5f));
    // The release writes the final gain and pan again, where the playhead is heard now.
    expected.push_back({panAt, 0.3f});
    EXPECT_EQ(volume(trackA), expected);
    EXPECT_EQ(pan(trackA), (Points{{panAt, -0.5f}}));
    rig.view().undoEdit();
    EXPECT_TRUE(volume(trackA).empty());
    EXPECT_TRUE(pan(trackA).empty());
}

TEST_F(AutomationWritingTest, LatchKeepsToTheFirstTrackUntilTheModeMovesOn) {
    setMode(AutomationWriteMode::Latch);
    rig.play();
    EXPECT_TRUE(dragGain(trackA, 0.8f, 0.8f));
    EXPECT_EQ(rig.view().automation().automationLatchTrackId, trackA);
    EXPECT_FALSE(dragGain(trackB, 0.4f, 0.4f));
    EXPECT_TRUE(volume(trackB).empty());

    rig.view().automation().cycleAutomationWriteMode();
    EXPECT_EQ(rig.ui.lastStatus(), "Automation: Write");
    EXPECT_EQ(rig.view().automation().automationLatchTrackId, 0u);
    EXPECT_TRUE(dragGain(trackB, 0.4f, 0.4f));
    EXPECT_EQ(volume(trackB).size(), 1u);
}

TEST_F(AutomationWritingTest, TheDirectWriterNeedsItsServicesAndGoesThroughTheStack) {
    Engine &engine = rig.engine();
    Project &project = engine.project;
    uint64_t latch = 0;
    const auto write = [&](Engine *e, CommandStack *s, uint64_t id, AutomationWriteMode mode) {
        return HVWriteMixerAutomationIfNeeded(project, e, s, id, panAutomationLane, 0.25f, mode,
                                              latch);
    };
    EXPECT_FALSE(write(nullptr, &rig.commands(), trackA, AutomationWriteMode::Write));
    EXPECT_FALSE(write(&engine, nullptr, trackA, AutomationWriteMode::Write));
    EXPECT_FALSE(write(&engine, &rig.commands(), 0, AutomationWriteMode::Write));
    EXPECT_FALSE(write(&engine, &rig.commands(), trackA, AutomationWriteMode::Read));
    EXPECT_FALSE(write(&engine, &rig.commands(), trackA, AutomationWriteMode::Touch));
    rig.locate(1000);
    EXPECT_TRUE(write(&engine, &rig.commands(), trackA, AutomationWriteMode::Write));
    EXPECT_EQ(pan(trackA), (Points{{1000, 0.25f}}));
    EXPECT_EQ(latch, 0u) << "only Latch takes the latch";
    rig.view().undoEdit();
    EXPECT_TRUE(pan(trackA).empty());
}

TEST_F(AutomationWritingTest, CyclingShowsTheModeAndTheLane) {
    const std::vector<std::string> modes = {"Automation: Touch", "Automation: Latch",
                                            "Automation: Write", "Automation: Read"};
    for (const auto &text : modes) {
        rig.view().automation().cycleAutomationWriteMode();
        EXPECT_EQ(rig.ui.lastStatus(), text);
    }
    EXPECT_TRUE(rig.view().projectDirty);
    const std::vector<std::string> lanes = {
        "Automation: Volume · ⇧ точка · ⌥⇧ клип", "Automation: Pan · ⇧ точка · ⌥⇧ клип",
        "Automation: Mute · ⇧ точка · ⌥⇧ клип", "Automation: Plugin param · ⇧ точка · ⌥⇧ клип",
        "Automation выкл"};
    for (const auto &text : lanes) {
        rig.view().automation().cycleAutomationLane();
        EXPECT_EQ(rig.ui.lastStatus(), text);
    }
}

} // namespace
