#include "core/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::testing;

namespace {

std::shared_ptr<Track> addReturn(Engine &engine) {
    std::lock_guard lock(engine.projectMutex);
    return engine.project.addTrack(TrackType::Return, "");
}

} // namespace

TEST(EnginePublication, OnlyTheFirstEightReturnTracksGetASlot) {
    Engine engine;
    std::vector<uint64_t> returnIds;
    const auto audio = [&] {
        std::lock_guard lock(engine.projectMutex);
        return engine.project.addTrack(TrackType::Audio, "");
    }();
    for (int i = 0; i < 10; ++i)
        returnIds.push_back(addReturn(engine)->id);
    engine.publishGraph();
    const auto snapshot = engine.currentGraph();
    EXPECT_EQ(snapshot->returnCount, 8);
    for (uint32_t slot = 0; slot < 8; ++slot)
        EXPECT_EQ(Engine::returnSlotFor(*snapshot, returnIds[slot]), slot);
    EXPECT_EQ(Engine::returnSlotFor(*snapshot, returnIds[8]), Engine::noReturnSlot);
    EXPECT_EQ(Engine::returnSlotFor(*snapshot, returnIds[9]), Engine::noReturnSlot);
    EXPECT_EQ(Engine::returnSlotFor(*snapshot, audio->id), Engine::noReturnSlot);
    GraphSnapshot empty;
    EXPECT_EQ(Engine::returnSlotFor(empty, 0), Engine::noReturnSlot);
}

TEST(EnginePublication, SnapshotKeepsItsOwnCopiesWhileTheProjectIsEdited) {
    Engine engine;
    std::shared_ptr<Clip> clip;
    {
        std::lock_guard lock(engine.projectMutex);
        auto track = engine.project.addTrack(TrackType::Midi, "");
        clip = engine.project.addClip(track->id, ClipKind::Midi);
        clip->notes.push_back(MidiNote{});
        clip->audio = std::make_shared<std::vector<float>>(4, 0.5f);
        track->armed = true;
    }
    engine.publishGraph();
    const auto snapshot = engine.currentGraph();
    {
        std::lock_guard lock(engine.projectMutex);
        clip->notes.resize(1000);
        engine.project.tracks[0]->clips.clear();
        engine.project.addTrack(TrackType::Audio, "");
    }
    ASSERT_EQ(snapshot->tracks.size(), 1u);
    ASSERT_EQ(snapshot->tracks[0]->clips.size(), 1u);
    EXPECT_EQ(snapshot->tracks[0]->clips[0]->notes.size(), 1u);
    EXPECT_NE(snapshot->tracks[0]->clips[0], clip);
    EXPECT_EQ(snapshot->tracks[0]->clips[0]->audio, clip->audio); // buffers are shared
    EXPECT_TRUE(snapshot->anyArmed);
}

TEST(EnginePublication, SnapshotCarriesTheDocumentSettings) {
    Engine engine;
    {
        std::lock_guard lock(engine.projectMutex);
        auto &project = engine.project;
        project.tempoBpm = 97.0;
        project.timeSignature = {5, 4};
        project.tempoMarkers = {{96000, 140.0}, {0, 80.0}};
        project.session.rows = 3;
        project.session.scenes.push_back(Scene{1, "Intro", {}});
        project.controlRoom.talkback = true;
        project.metronomeEnabled = true;
        project.scaleRoot = 7;
        project.kbmDegrees = {0, 2, 4};
    }
    engine.publishGraph();
    const auto snapshot = engine.currentGraph();
    EXPECT_EQ(snapshot->tempoBpm, 97.0);
    EXPECT_EQ(snapshot->timeSignature, (TimeSignature{5, 4}));
    EXPECT_EQ(snapshot->rows, 3);
    EXPECT_EQ(snapshot->scenes.size(), 1u);
    EXPECT_EQ(snapshot->scaleRoot, 7);
    EXPECT_EQ(snapshot->kbmDegrees.size(), 3u);
    ASSERT_EQ(snapshot->sortedTempoMarkers.size(), 2u);
    EXPECT_EQ(snapshot->sortedTempoMarkers[0].bpm, 80.0);
    EXPECT_EQ(snapshot->tempoMarkers[0].bpm, 140.0); // the stored order is kept
    EXPECT_TRUE(engine.talkback);
    EXPECT_TRUE(engine.transport.metronomeOn);
    EXPECT_DOUBLE_EQ(engine.tempo, 97.0);
    EXPECT_EQ(engine.currentMeter(), (TimeSignature{5, 4}));
}

// Every stored setting the renderers read reaches the snapshot: each row varies one away
// from its default, and the snapshot must hold the varied value, not the default.
namespace {

struct CarriedSetting {
    const char *name;
    void (*vary)(Project &);
    bool (*carried)(const Project &, const GraphSnapshot &);
};

const CarriedSetting carriedSettings[] = {
    {"rows", [](Project &p) { p.session.rows = 3; },
     [](const Project &p, const GraphSnapshot &s) { return s.rows == p.session.rows; }},
    {"cols", [](Project &p) { p.session.cols = 5; },
     [](const Project &p, const GraphSnapshot &s) { return s.cols == p.session.cols; }},
    {"launchQuantize", [](Project &p) { p.session.launchQuantize = LaunchQuantize::EightBars; },
     [](const Project &p, const GraphSnapshot &s) {
         return s.launchQuantize == p.session.launchQuantize;
     }},
    {"scenes",
     [](Project &p) {
         p.session.scenes.push_back(Scene{1, "Intro", {}});
     },
     [](const Project &p, const GraphSnapshot &s) { return s.scenes == p.session.scenes; }},
    {"tempoBpm", [](Project &p) { p.tempoBpm = 97.0; },
     [](const Project &p, const GraphSnapshot &s) { return s.tempoBpm == p.tempoBpm; }},
    {"timeSignature",
     [](Project &p) {
         p.timeSignature = {5, 4};
     },
     [](const Project &p, const GraphSnapshot &s) { return s.timeSignature == p.timeSignature; }},
    {"tempoMarkers",
     [](Project &p) {
         p.tempoMarkers = {{96000, 140.0}, {0, 80.0}};
     },
     [](const Project &p, const GraphSnapshot &s) { return s.tempoMarkers == p.tempoMarkers; }},
    {"meterMarkers",
     [](Project &p) {
         p.meterMarkers = {{48000, 3, 4}};
     },
     [](const Project &p, const GraphSnapshot &s) { return s.meterMarkers == p.meterMarkers; }},
    {"controlRoom",
     [](Project &p) {
         p.controlRoom = {0.5f, 0.25f, true, true, false};
     },
     [](const Project &p, const GraphSnapshot &s) { return s.controlRoom == p.controlRoom; }},
    {"masterEq", [](Project &p) { p.masterEq.bands[3].gainDb = 4.5f; },
     [](const Project &p, const GraphSnapshot &s) { return s.masterEq == p.masterEq; }},
    {"mastering", [](Project &p) { p.mastering.loudness = 0.7f; },
     [](const Project &p, const GraphSnapshot &s) { return s.mastering == p.mastering; }},
    {"metronomeVolume", [](Project &p) { p.metronomeVolume = 0.3f; },
     [](const Project &p, const GraphSnapshot &s) {
         return s.metronomeVolume == p.metronomeVolume;
     }},
    {"expressionMaps",
     [](Project &p) {
         p.expressionMaps = {ExpressionMap{"Strings", {{"Pizz", 24, 0.8f, 0, 0}}}};
     },
     [](const Project &p, const GraphSnapshot &s) { return s.expressionMaps == p.expressionMaps; }},
    {"scalaCents", [](Project &p) { p.scalaCents[4] = -13.7f; },
     [](const Project &p, const GraphSnapshot &s) { return s.scalaCents == p.scalaCents; }},
    {"scaleRoot", [](Project &p) { p.scaleRoot = 7; },
     [](const Project &p, const GraphSnapshot &s) { return s.scaleRoot == p.scaleRoot; }},
    {"scaleMinor", [](Project &p) { p.scaleMinor = true; },
     [](const Project &p, const GraphSnapshot &s) { return s.scaleMinor == p.scaleMinor; }},
    {"kbmDegrees",
     [](Project &p) {
         p.kbmDegrees = {0, 2, 4};
     },
     [](const Project &p, const GraphSnapshot &s) { return s.kbmDegrees == p.kbmDegrees; }},
};

} // namespace

TEST(EnginePublication, EveryStoredSettingTheRenderersReadReachesTheSnapshot) {
    Engine engine;
    const Project defaults;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const CarriedSetting &setting : carriedSettings)
            setting.vary(engine.project);
    }
    engine.publishGraph();
    const auto snapshot = engine.currentGraph();
    std::lock_guard lock(engine.projectMutex);
    for (const CarriedSetting &setting : carriedSettings) {
        EXPECT_TRUE(setting.carried(engine.project, *snapshot)) << setting.name;
        EXPECT_FALSE(setting.carried(defaults, *snapshot))
            << setting.name << " must differ from its default for the check to mean anything";
    }
}

TEST(EnginePublication, PreparedTracksGetDelayLinesThatReleaseDrops) {
    Engine engine;
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.addTrack(TrackType::Audio, "");
    }
    engine.prepareToPlay(44100, 1024);
    auto snapshot = engine.currentGraph();
    EXPECT_EQ(engine.rtBlockSize, 1024);
    ASSERT_TRUE(snapshot->scratch);
    EXPECT_EQ(snapshot->scratch->returnRight[7].size(), 1024u);
    ASSERT_TRUE(snapshot->live.tracks[0]);
    EXPECT_GE(snapshot->live.tracks[0]->pdc.left.size(), 1024u + 8256u);
    EXPECT_EQ(snapshot->sampleRate, 44100.0);

    // Publishing again keeps the same state, so delay lines carry over between blocks.
    engine.publishGraph();
    EXPECT_EQ(engine.currentGraph()->live.tracks[0], snapshot->live.tracks[0]);
    engine.rebuildRtCaches(16);
    EXPECT_EQ(engine.rtBlockSize, 64);

    engine.releaseResources();
    snapshot = engine.currentGraph();
    EXPECT_EQ(engine.rtBlockSize, 0);
    EXPECT_FALSE(snapshot->scratch);
    EXPECT_FALSE(snapshot->live.tracks[0]);
}

TEST(EnginePublication, RetiredSnapshotsAreFreedOnceNoBlockUsesThem) {
    Engine engine;
    std::weak_ptr<const GraphSnapshot> first = engine.currentGraph();
    engine.publishGraph();
    EXPECT_TRUE(first.expired());
}

TEST(EnginePublication, MetersReachTheProjectOnTheMainThread) {
    Engine engine;
    std::shared_ptr<Track> track;
    {
        std::lock_guard lock(engine.projectMutex);
        track = engine.project.addTrack(TrackType::Audio, "");
    }
    engine.publishGraph();
    const auto snapshot = engine.currentGraph();
    snapshot->trackMeters[0].peakL.store(0.25f);
    snapshot->trackMeters[0].peakR.store(0.5f);
    engine.copyTrackMetersToProject();
    EXPECT_EQ(track->peakL, 0.25f);
    EXPECT_EQ(track->peakR, 0.5f);
}

TEST(EnginePublication, ReplaceProjectTakesTempoMeterAndRate) {
    Engine engine;
    Project replacement;
    replacement.sampleRate = 44100;
    replacement.tempoBpm = 0.0; // damaged: the engine shows a usable tempo
    replacement.timeSignature = {7, 8};
    replacement.name = "Song";
    engine.replaceProject(std::move(replacement));
    EXPECT_EQ(engine.project.name, "Song");
    EXPECT_EQ(engine.sampleRate, 44100.0);
    EXPECT_DOUBLE_EQ(engine.tempo, 120.0);
    EXPECT_EQ(engine.project.tempoBpm, 0.0); // stored values stay as read
    EXPECT_EQ(engine.currentMeter(), (TimeSignature{7, 8}));
    EXPECT_EQ(engine.beatsToSamples(1.0), 22050);
}
