#include "core/engine/tests/EngineTestSupport.h"
#include "core/model/AutomationLanes.h"
#include "core/model/StockEffectSettings.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr uint8_t controlChange = 0xB0;
constexpr uint8_t noteOn = 0x90;
constexpr uint8_t pitchBend = 0xE0;

/// An engine with one audio track (id 1) carrying a built-in compressor and a plug-in.
struct ControlledEngine {
    Engine engine;
    uint64_t trackId = 0;

    ControlledEngine() {
        {
            std::lock_guard lock(engine.projectMutex);
            auto track = engine.project.addTrack(TrackType::Audio, "Bass");
            track->inserts.push_back(
                InsertSlot{"stock.compressor", "Comp", "", {}, false, true, 0, {}});
            track->inserts.push_back(InsertSlot{"uid", "Plug", "/x.vst3", {}, false, false, 0, {}});
            trackId = track->id;
        }
        engine.prepareToPlay(48000, 256);
    }

    void map(std::vector<MidiMapping> mappings) {
        {
            std::lock_guard lock(engine.projectMutex);
            engine.project.midiMappings = std::move(mappings);
        }
        engine.publishGraph();
    }

    void period(std::vector<MidiEvent> events) {
        std::vector<float> left(256), right(256);
        std::array<float *, 2> outputs{left.data(), right.data()};
        engine.processBlock(BlockIo{nullptr, 0, outputs.data(), 2, 256, events});
    }

    /// What the window tick does with what moved.
    std::vector<MovedControl> applyMoved() {
        std::vector<MovedControl> moved = engine.controllers.takeMoved();
        std::lock_guard lock(engine.projectMutex);
        for (const MovedControl &control : moved)
            applyControlToProject(engine.project, control.mapping, control.value);
        return moved;
    }

    const Track &track() { return *engine.project.findTrack(trackId); }
};

MidiMapping mapped(MidiSourceKind kind, int32_t channel, int32_t number, uint64_t track,
                   int32_t lane, float minimum, float maximum, uint32_t paramId = 0) {
    return MidiMapping{channel, kind, number, track, lane, paramId, minimum, maximum};
}

} // namespace

TEST(ControllerMap, EachKindOfMessageMovesItsTargetAcrossTheRange) {
    ControlledEngine rig;
    const uint64_t id = rig.trackId;
    rig.map({
        mapped(MidiSourceKind::ControlChange, 0, 7, id, volumeMappingLane, 0.0f, 2.0f),
        mapped(MidiSourceKind::PitchBend, 1, 0, id, panMappingLane, 1.0f, -1.0f),
        mapped(MidiSourceKind::Note, 9, 36, id, sendMappingLane(2), 0.0f, 1.0f),
        mapped(MidiSourceKind::ControlChange, 0, 20, id, insertAutomationLane(0), -60.0f, 0.0f, 0),
    });
    const struct {
        const char *what;
        MidiEvent event;
        float Track::*checked;
        float expected;
    } cases[] = {
        {"CC 7 at the top", {0, controlChange | 0, 7, 127}, &Track::gain, 2.0f},
        {"CC 7 at zero", {0, controlChange | 0, 7, 0}, &Track::gain, 0.0f},
        {"bend right down on a reversed range", {0, pitchBend | 1, 0, 0}, &Track::pan, 1.0f},
        {"bend at the top", {0, pitchBend | 1, 127, 127}, &Track::pan, -1.0f},
    };
    for (const auto &entry : cases) {
        SCOPED_TRACE(entry.what);
        rig.period({entry.event});
        ASSERT_EQ(rig.applyMoved().size(), 1u);
        EXPECT_FLOAT_EQ(rig.track().*entry.checked, entry.expected);
    }
    rig.period({{0, noteOn | 9, 36, 127}});
    rig.applyMoved();
    EXPECT_FLOAT_EQ(rig.track().sends[2].level, 1.0f);
    rig.period({{0, controlChange, 20, 127}});
    rig.applyMoved();
    const std::optional<std::vector<float>> settings = stockSettingsOf(rig.track().inserts[0]);
    ASSERT_TRUE(settings);
    EXPECT_FLOAT_EQ((*settings)[0], 0.0f);
}

TEST(ControllerMap, OnlyTheLatestValueOfABurstIsCollectedAndOthersAreLeftAlone) {
    ControlledEngine rig;
    rig.map({mapped(MidiSourceKind::ControlChange, 0, 7, rig.trackId, 0, 0.0f, 1.0f)});
    // Another channel, another controller and the release of a key move nothing.
    rig.period({{0, controlChange | 0, 7, 10},
                {1, controlChange | 1, 7, 20},
                {2, controlChange | 0, 8, 30},
                {3, controlChange | 0, 7, 127},
                {4, 0x80, 7, 0}});
    const std::vector<MovedControl> moved = rig.applyMoved();
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_FLOAT_EQ(moved[0].value, 1.0f);
    EXPECT_TRUE(rig.engine.controllers.takeMoved().empty());
}

TEST(ControllerMap, AMappedKeyPlaysNothingWhileAnUnmappedOneSounds) {
    ControlledEngine rig;
    rig.map({mapped(MidiSourceKind::Note, 0, 40, rig.trackId, 0, 0.0f, 1.0f)});
    rig.period({{0, noteOn, 40, 100}, {0, noteOn, 41, 100}});
    EXPECT_FALSE(rig.engine.liveMidi.held(40));
    EXPECT_TRUE(rig.engine.liveMidi.held(41));
}

TEST(ControllerMap, LearningTakesTheFirstControllerThatMovesAndMovesNothing) {
    ControlledEngine rig;
    rig.map({mapped(MidiSourceKind::ControlChange, 2, 11, rig.trackId, 0, 0.0f, 1.0f)});
    rig.engine.controllers.beginLearning();
    EXPECT_TRUE(rig.engine.controllers.learning());
    EXPECT_FALSE(rig.engine.controllers.takeLearned());
    // A program change and a release are no controller; then CC 11 on channel 3 moves.
    rig.period({{0, 0xC0, 5, 0},
                {1, 0x80 | 2, 60, 0},
                {2, controlChange | 2, 11, 64},
                {3, controlChange | 2, 12, 64}});
    const std::optional<LearnedController> learned = rig.engine.controllers.takeLearned();
    ASSERT_TRUE(learned);
    EXPECT_EQ(learned->channel, 2);
    EXPECT_EQ(learned->kind, MidiSourceKind::ControlChange);
    EXPECT_EQ(learned->number, 11);
    EXPECT_FALSE(rig.engine.controllers.learning());
    EXPECT_FALSE(rig.engine.controllers.takeLearned());
    EXPECT_TRUE(rig.engine.controllers.takeMoved().empty());

    rig.engine.controllers.beginLearning();
    rig.engine.controllers.cancelLearning();
    rig.period({{0, pitchBend | 4, 0, 64}});
    EXPECT_FALSE(rig.engine.controllers.takeLearned());
    rig.engine.controllers.beginLearning();
    rig.period({{0, pitchBend | 4, 0, 64}});
    const std::optional<LearnedController> bend = rig.engine.controllers.takeLearned();
    ASSERT_TRUE(bend);
    EXPECT_EQ(bend->kind, MidiSourceKind::PitchBend);
    EXPECT_EQ(bend->channel, 4);
}

TEST(ControllerMap, AValueMovedUnderARemovedMappingNeverReachesItsSuccessor) {
    ControlledEngine rig;
    rig.map({mapped(MidiSourceKind::ControlChange, 0, 7, rig.trackId, 0, 0.0f, 1.0f)});
    rig.period({{0, controlChange, 7, 127}});
    rig.map({mapped(MidiSourceKind::ControlChange, 0, 9, rig.trackId, 1, -1.0f, 1.0f)});
    EXPECT_TRUE(rig.applyMoved().empty());
    EXPECT_FLOAT_EQ(rig.track().gain, 1.0f);
    EXPECT_FLOAT_EQ(rig.track().pan, 0.0f);
}

TEST(ControllerMap, PluginParametersAndMissingTargetsAreLeftToTheCaller) {
    ControlledEngine rig;
    Project &project = rig.engine.project;
    const uint64_t id = rig.trackId;
    EXPECT_FALSE(applyControlToProject(
        project, mapped(MidiSourceKind::ControlChange, 0, 1, id, insertAutomationLane(1), 0, 1),
        0.5f));
    EXPECT_FALSE(applyControlToProject(
        project, mapped(MidiSourceKind::ControlChange, 0, 1, id, insertAutomationLane(5), 0, 1),
        0.5f));
    EXPECT_FALSE(applyControlToProject(
        project, mapped(MidiSourceKind::ControlChange, 0, 1, id + 9, 0, 0, 1), 0.5f));
    EXPECT_FALSE(applyControlToProject(
        project, mapped(MidiSourceKind::ControlChange, 0, 1, id, insertAutomationLane(0), 0, 1, 99),
        0.5f));
}

TEST(ControllerMap, LearnedRangesSpanEachControlsTravel) {
    ControlledEngine rig;
    const struct {
        int32_t lane;
        uint32_t paramId;
        float minimum;
        float maximum;
    } cases[] = {
        {volumeMappingLane, 0, 0.0f, 1.99526231f},
        {panMappingLane, 0, -1.0f, 1.0f},
        {sendMappingLane(0), 0, 0.0f, 1.0f},
        {insertAutomationLane(0), 1, 1.0f, 20.0f}, // the compressor's ratio
        {insertAutomationLane(1), 77, 0.0f, 1.0f}, // a plug-in's parameter, normalized
    };
    for (const auto &entry : cases) {
        MidiMapping mapping = mapped(MidiSourceKind::ControlChange, 0, 1, rig.trackId, entry.lane,
                                     5.0f, 5.0f, entry.paramId);
        setLearnedRange(rig.engine.project, mapping);
        EXPECT_FLOAT_EQ(mapping.minimum, entry.minimum) << entry.lane;
        EXPECT_FLOAT_EQ(mapping.maximum, entry.maximum) << entry.lane;
    }
}

TEST(ControllerMap, MatchingNeitherAllocatesNorFreesWhileMappingsChange) {
    ControlledEngine rig;
    const uint64_t id = rig.trackId;
    std::atomic<bool> done{false};
    std::atomic<int> rendered{0};
    std::atomic<int> publications{0};
    uint64_t allocations = 0;
    uint64_t frees = 0;
    std::thread audio([&] {
        std::vector<float> left(256), right(256);
        std::array<float *, 2> outputs{left.data(), right.data()};
        const std::array<MidiEvent, 4> events{
            MidiEvent{0, controlChange, 7, 10}, MidiEvent{10, pitchBend, 3, 90},
            MidiEvent{20, noteOn, 36, 90}, MidiEvent{30, controlChange | 3, 20, 127}};
        AllocationScope scope;
        // Render until the main thread has swapped the mappings under us many times.
        for (int block = 0; publications.load() < 60; ++block) {
            if (block % 100 == 0) rig.engine.controllers.beginLearning();
            rig.engine.processBlock(BlockIo{nullptr, 0, outputs.data(), 2, 256, events});
            rendered.fetch_add(1);
        }
        allocations = scope.allocations();
        frees = scope.frees();
        done = true;
    });
    while (!done) {
        std::vector<MidiMapping> mappings{
            mapped(MidiSourceKind::ControlChange, 0, 7, id, 0, 0.0f, 1.0f),
            mapped(MidiSourceKind::PitchBend, 0, 0, id, 1, -1.0f, 1.0f),
            mapped(MidiSourceKind::Note, 0, 36, id, sendMappingLane(0), 0.0f, 1.0f),
            mapped(MidiSourceKind::ControlChange, 3, 20, id, insertAutomationLane(0), -60, 0, 0)};
        mappings.resize(static_cast<std::size_t>(1 + publications.load() % 4));
        rig.map(mappings);
        rig.applyMoved();
        (void)rig.engine.controllers.takeLearned();
        ++publications;
        const int seen = rendered.load();
        while (rendered.load() == seen && !done)
            std::this_thread::yield();
    }
    audio.join();
    EXPECT_EQ(allocations, 0u) << "after " << publications.load() << " publications";
    EXPECT_EQ(frees, 0u);
    EXPECT_GE(publications.load(), 60);
}
