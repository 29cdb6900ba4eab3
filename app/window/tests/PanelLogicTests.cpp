// What the panels compute and the edits they make, without a display.
#include "app/shell/OVApplication.h"
#include "app/window/ChannelStrip.h"
#include "app/window/EqCurveView.h"
#include "app/window/PanelCommands.h"
#include "app/window/PeakMeter.h"
#include "app/window/PluginBrowserPanel.h"
#include "app/window/PluginPicker.h"
#include "app/window/SessionPanel.h"
#include "core/commands/InsertEdits.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>

namespace orvane {
namespace {

namespace fs = std::filesystem;

std::shared_ptr<Clip> sessionClip(Project &project, uint64_t trackId, int row, int column,
                                  const std::string &name) {
    auto clip = project.addClip(trackId, ClipKind::Midi);
    clip->name = name;
    clip->sessionRow = row;
    clip->sessionCol = column;
    return clip;
}

Scene scene(uint64_t id, const std::string &name) {
    Scene made;
    made.id = id;
    made.name = name;
    return made;
}

struct SessionGridTest : ::testing::Test {
    Project project;
    std::shared_ptr<Track> drums = project.addTrack(TrackType::Midi, "Drums");
    std::shared_ptr<Track> echo = project.addTrack(TrackType::Return, "Echo");
    std::shared_ptr<Track> bass = project.addTrack(TrackType::Audio, "Bass");
    void SetUp() override { project.session.scenes = {scene(11, "Intro"), scene(12, "Drop")}; }
};

TEST_F(SessionGridTest, ColumnsAreTheTracksWithoutReturnsAndRowsTheScenes) {
    const auto loop = sessionClip(project, drums->id, 1, 0, "Loop");
    const auto line = sessionClip(project, bass->id, 0, 3, "Line");
    sessionClip(project, bass->id, 4, 0, "Late"); // beyond the scenes: a row of its own
    const SessionGridModel grid = buildSessionGrid(project);

    ASSERT_EQ(grid.columns.size(), 2u);
    EXPECT_EQ(grid.columns[0].trackId, drums->id);
    EXPECT_TRUE(grid.columns[0].midi);
    EXPECT_EQ(grid.columns[1].trackId, bass->id);
    ASSERT_EQ(grid.rows.size(), 5u);
    EXPECT_EQ(grid.rows[1].sceneId, 12u);
    EXPECT_EQ(grid.rows[1].name, "Drop");
    EXPECT_EQ(grid.rows[3].sceneId, 0u) << "a row with no scene launches nothing";
    EXPECT_EQ(grid.cell(1, 0).clipId, loop->id);
    EXPECT_EQ(grid.cell(0, 1).clipId, line->id);
    EXPECT_EQ(grid.cell(0, 0).clipId, 0u);
    EXPECT_EQ(grid.cell(4, 1).name, "Late");
}

TEST_F(SessionGridTest, ATrackWithTwoClipsOnARowShowsTheLeftmostAndArrangementClipsNone) {
    sessionClip(project, drums->id, 0, 5, "Right");
    const auto left = sessionClip(project, drums->id, 0, 2, "Left");
    project.addClip(drums->id, ClipKind::Midi)->name = "Arranged";
    const SessionGridModel grid = buildSessionGrid(project);
    EXPECT_EQ(grid.cell(0, 0).clipId, left->id);
    EXPECT_EQ(grid.cell(1, 0).clipId, 0u);
}

TEST_F(SessionGridTest, TheEnginesTableMarksCellsPlayingOrQueuedAndReportsChangesOnce) {
    const auto playing = sessionClip(project, drums->id, 0, 0, "A");
    const auto queued = sessionClip(project, bass->id, 1, 0, "B");
    sessionClip(project, bass->id, 0, 0, "C");
    SessionGridModel grid = buildSessionGrid(project);
    SessionTableCopy table;
    table.entries[0] = {playing->id, 0, true, false, 0};
    table.entries[1] = {queued->id, 0, false, true, 96000};
    table.count = 2;

    EXPECT_TRUE(applySessionTable(grid, table));
    EXPECT_TRUE(grid.cell(0, 0).playing);
    EXPECT_FALSE(grid.cell(0, 0).queued);
    EXPECT_TRUE(grid.cell(1, 1).queued);
    EXPECT_FALSE(grid.cell(0, 1).playing);
    EXPECT_FALSE(applySessionTable(grid, table)) << "nothing new to draw";

    table.count = 0;
    EXPECT_TRUE(applySessionTable(grid, table));
    EXPECT_FALSE(grid.cell(0, 0).playing);
    EXPECT_FALSE(grid.cell(1, 1).queued);
}

TEST(PeakHoldTest, RisesAtOnceHoldsThenFallsToTheLevel) {
    PeakHold meter;
    EXPECT_TRUE(meter.update(1.0f));
    EXPECT_NEAR(meter.holdDb, 0.0f, 1e-4f);
    EXPECT_TRUE(meter.update(0.1f)); // -20 dB
    EXPECT_NEAR(meter.levelDb, -20.0f, 1e-3f);
    for (int tick = 1; tick < PeakHold::holdTicks; ++tick)
        meter.update(0.1f);
    EXPECT_NEAR(meter.holdDb, 0.0f, 1e-4f) << "held for the hold time";
    meter.update(0.1f);
    EXPECT_NEAR(meter.holdDb, -PeakHold::fallPerTick, 1e-4f);
    for (int tick = 0; tick < 100; ++tick)
        meter.update(0.1f);
    EXPECT_NEAR(meter.holdDb, -20.0f, 1e-3f) << "never falls below the level";
    EXPECT_FALSE(meter.update(0.1f)) << "a still meter needs no repaint";
}

TEST(PeakHoldTest, SilenceAndNonNumbersReadAsTheFloor) {
    for (float peak : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), 1e-9f})
        EXPECT_EQ(meterDb(peak), PeakHold::floorDb) << peak;
}

TEST(FaderTest, TravelIsLinearInDecibelsFromSilenceToPlusSix) {
    EXPECT_EQ(faderPositionToGain(0), 0.0f);
    EXPECT_NEAR(20.0f * std::log10(faderPositionToGain(faderSteps)), 6.0f, 1e-4f);
    EXPECT_NEAR(20.0f * std::log10(faderPositionToGain(faderSteps / 2)), -27.0f, 1e-3f);
    EXPECT_EQ(gainToFaderPosition(0.0f), 0);
    EXPECT_EQ(gainToFaderPosition(100.0f), faderSteps) << "beyond the top stays at the top";
    EXPECT_EQ(gainToFaderPosition(std::numeric_limits<float>::quiet_NaN()), 0);
    for (int position : {1, 250, 909, 1000})
        EXPECT_EQ(gainToFaderPosition(faderPositionToGain(position)), position);
}

TEST(EqBandChoiceTest, ADisabledBandIsTakenFirstElseTheNearestFlatPeak) {
    ChannelEq8 eq;
    EXPECT_EQ(chooseBandToAdd(eq, 260.0), 3) << "the flat 250 Hz band";
    EXPECT_EQ(chooseBandToAdd(eq, 3000.0), 5);
    eq.bands[5].gainDb = 4.0f;
    EXPECT_EQ(chooseBandToAdd(eq, 3000.0), 4) << "a band in use is left alone";
    eq.bands[7].enabled = false;
    EXPECT_EQ(chooseBandToAdd(eq, 3000.0), 7);
    ChannelEq8 busy;
    for (int band = 2; band <= 5; ++band)
        busy.bands[static_cast<std::size_t>(band)].gainDb = 3;
    EXPECT_EQ(chooseBandToAdd(busy, 90.0), 2) << "all peaks in use: the nearest one";
}

TEST(PluginSearchTest, EveryWordMustOccurInNameVendorCategoryOrTags) {
    vst::PluginDescription plugin;
    plugin.name = "ZamComp";
    plugin.vendor = "Damien Zammit";
    plugin.category = "Fx|Dynamics";
    plugin.tags = {"Compressor"};
    const struct {
        const char *query;
        bool matches;
    } cases[] = {{"", true},           {"zam", true},         {"DYNAMICS comp", true},
                 {"compressor", true}, {"zam reverb", false}, {"eq", false}};
    for (const auto &entry : cases)
        EXPECT_EQ(pluginMatchesSearch(plugin, entry.query), entry.matches) << entry.query;
}

struct AllowListTest : ::testing::Test {
    fs::path folder =
        fs::temp_directory_path() /
        ("halvora-allow-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path file = folder / "vst_whitelist.txt";
    void SetUp() override { fs::create_directories(folder); }
    void TearDown() override { fs::remove_all(folder); }
    std::string contents() const {
        std::ifstream in(file);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

TEST_F(AllowListTest, AddsOnceAndRemovesOnlyThatLine) {
    { std::ofstream(file) << "# allowed plug-ins\nZam\n"; }
    std::string error;
    ASSERT_TRUE(editAllowList(file.string(), "ABCDEF", true, error)) << error;
    ASSERT_TRUE(editAllowList(file.string(), "ABCDEF", true, error)) << error;
    EXPECT_EQ(contents(), "# allowed plug-ins\nZam\nABCDEF\n");
    ASSERT_TRUE(editAllowList(file.string(), "ABCDEF", false, error)) << error;
    EXPECT_EQ(contents(), "# allowed plug-ins\nZam\n");
    vst::PluginDescription zam;
    zam.name = "ZamComp";
    EXPECT_TRUE(vst::pluginMatchesWhitelist(zam, vst::loadVstWhitelist(file.string())));
}

TEST_F(AllowListTest, AFolderThatCannotBeWrittenIsReportedAndTheListKept) {
    std::string error;
    EXPECT_FALSE(editAllowList((folder / "missing" / "list.txt").string(), "X", true, error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

/// A rack bound to an engine, as the application binds them.
struct InsertCommandsTest : ::testing::Test {
    Engine engine;
    vst::PluginRack rack{vst::pluginRackHostFor(engine)};
    uint64_t trackId = 0;
    void SetUp() override {
        keepRackInStepWithInsertLists(rack);
        std::lock_guard lock(engine.projectMutex);
        trackId = engine.project.addTrack(TrackType::Audio, "FX")->id;
        engine.publishGraph();
    }
    void TearDown() override { setInsertListHooks({}); }
    std::vector<std::string> insertIds() {
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::string> ids;
        for (const InsertSlot &insert : engine.project.findTrack(trackId)->inserts)
            ids.push_back(insert.pluginId);
        return ids;
    }
    std::vector<int32_t> rackIndices() {
        std::lock_guard lock(rack.slotsMutex);
        std::vector<int32_t> indices;
        for (const vst::Slot &slot : rack.slots)
            indices.push_back(slot.insertIndex);
        return indices;
    }
    std::unique_ptr<AddInsertCommand> add(const std::string &id) {
        std::lock_guard lock(engine.projectMutex);
        auto command = loadInsert(rack, engine.project, trackId, InsertChoice{true, id, {}});
        EXPECT_TRUE(command) << id;
        return command;
    }
};

TEST_F(InsertCommandsTest, AddMoveAndRemoveKeepTheRackInStepThroughUndoAndRedo) {
    const auto addEq = add("stock.eq");
    ASSERT_TRUE(addEq);
    addEq->redo(engine.project);
    EXPECT_EQ(insertIds(), std::vector<std::string>{"stock.eq"}) << "executing adds nothing more";
    add("stock.delay");
    add("stock.reverb");
    EXPECT_EQ(insertIds(), (std::vector<std::string>{"stock.eq", "stock.delay", "stock.reverb"}));

    MoveInsertCommand move(trackId, 2, -2);
    move.redo(engine.project);
    EXPECT_EQ(insertIds(), (std::vector<std::string>{"stock.reverb", "stock.delay", "stock.eq"}));
    EXPECT_EQ(rackIndices(), (std::vector<int32_t>{0, 1, 2}));
    move.undo(engine.project);
    EXPECT_EQ(insertIds(), (std::vector<std::string>{"stock.eq", "stock.delay", "stock.reverb"}));

    RemoveInsertCommand remove(trackId, 1);
    remove.redo(engine.project);
    EXPECT_EQ(insertIds(), (std::vector<std::string>{"stock.eq", "stock.reverb"}));
    EXPECT_EQ(rackIndices(), (std::vector<int32_t>{0, 1}));
    remove.undo(engine.project);
    EXPECT_EQ(insertIds(), (std::vector<std::string>{"stock.eq", "stock.delay", "stock.reverb"}));

    addEq->undo(engine.project);
    EXPECT_EQ(insertIds(), (std::vector<std::string>{"stock.delay", "stock.reverb"}));
    addEq->redo(engine.project);
    EXPECT_EQ(insertIds(), (std::vector<std::string>{"stock.eq", "stock.delay", "stock.reverb"}));
    EXPECT_EQ(rackIndices(), (std::vector<int32_t>{0, 1, 2}));
}

TEST_F(InsertCommandsTest, OutOfRangeEditsAndUnloadablePluginsChangeNothing) {
    add("stock.eq");
    MoveInsertCommand(trackId, 0, 1).redo(engine.project);
    RemoveInsertCommand(trackId, 4).redo(engine.project);
    EXPECT_EQ(insertIds(), std::vector<std::string>{"stock.eq"});
    {
        std::lock_guard lock(engine.projectMutex);
        EXPECT_FALSE(loadInsert(rack, engine.project, trackId,
                                InsertChoice{false, "", "/nonexistent/Gone.vst3"}));
        EXPECT_FALSE(loadInsert(rack, engine.project, 999, InsertChoice{true, "stock.eq", {}}));
    }
    EXPECT_EQ(insertIds(), std::vector<std::string>{"stock.eq"});
}

} // namespace
} // namespace orvane

namespace orvane {
namespace {

std::vector<std::string> namesOf(const std::vector<const vst::PluginDescription *> &found) {
    std::vector<std::string> names;
    for (const vst::PluginDescription *plugin : found)
        names.push_back(plugin->name);
    return names;
}

// The picker's search reads every word in any field, in any case; shelves narrow the list and
// blocked plug-ins never show.
TEST(PluginPickerSearch, EveryWordMatchesSomewhereAndShelvesNarrowTheList) {
    std::vector<vst::PluginDescription> plugins(5);
    plugins[0] = {"lv2:eq", "Parametric EQ", "Gareus", "", "EQ", false, false, {"mastering"}, "LV2"};
    plugins[1] = {"vst:comp", "ZamComp", "Damien", "", "Dynamics", false, false, {}, "VST3"};
    plugins[2] = {"lv2:synth", "Monosynth", "Calf", "", "Instrument", true, false, {}, "LV2"};
    plugins[3] = {"lv2:bad", "Crasher EQ", "Nobody", "", "EQ", false, true, {}, "LV2"};
    plugins[4] = {"lv2:comp", "compressor stereo", "LSP", "", "Dynamics", false, false, {}, "LV2"};
    const std::vector<std::string> favourites{"vst:comp"}, recent{"lv2:synth", "lv2:eq"};
    const struct {
        const char *query;
        const char *shelf;
        std::vector<std::string> names;
    } cases[] = {
        {"", "", {"compressor stereo", "Monosynth", "Parametric EQ", "ZamComp"}},
        {"eq", "", {"Parametric EQ"}},                   // the blocked one stays out
        {"GAREUS master", "", {"Parametric EQ"}},        // maker and tag, any case
        {"comp lv2", "", {"compressor stereo"}},         // name and format
        {"dynamics", "", {"compressor stereo", "ZamComp"}},
        {"", "favourites", {"ZamComp"}},
        {"", "recent", {"Monosynth", "Parametric EQ"}},  // newest first
        {"", "instruments", {"Monosynth"}},
        {"", "effects", {"compressor stereo", "Parametric EQ", "ZamComp"}},
        {"", "Dynamics", {"compressor stereo", "ZamComp"}},
        {"reverb", "", {}},
    };
    for (const auto &each : cases)
        EXPECT_EQ(namesOf(pickablePlugins(plugins, each.query, each.shelf, favourites, recent)),
                  each.names)
            << "\"" << each.query << "\" on \"" << each.shelf << "\"";
}

} // namespace
} // namespace orvane
