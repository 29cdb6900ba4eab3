#include "core/engine/tests/EngineTestSupport.h"
#include "core/model/StoredFields.h"
#include "tests/support/RandomStoredProject.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

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
    EXPECT_TRUE(engine.monitoring.talkback);
    EXPECT_TRUE(engine.transport.metronomeOn);
    EXPECT_DOUBLE_EQ(engine.tempo, 97.0);
    EXPECT_EQ(engine.currentMeter(), (TimeSignature{5, 4}));
}

// Every stored setting the renderers read reaches the snapshot: each row varies one away
// from its default, and the snapshot must hold the varied value, not the default.
namespace {

/// How each stored setting the renderers read shows in a snapshot, by the setting's key.
struct SnapshotCheck {
    const char *key;
    bool (*carried)(const Project &, const GraphSnapshot &);
};

const SnapshotCheck snapshotChecks[] = {
    {"rows", [](const Project &p, const GraphSnapshot &s) { return s.rows == p.session.rows; }},
    {"cols", [](const Project &p, const GraphSnapshot &s) { return s.cols == p.session.cols; }},
    {"launchQuantize",
     [](const Project &p, const GraphSnapshot &s) {
         return s.launchQuantize == p.session.launchQuantize;
     }},
    {"scenes",
     [](const Project &p, const GraphSnapshot &s) { return s.scenes == p.session.scenes; }},
    {"tempoBpm", [](const Project &p, const GraphSnapshot &s) { return s.tempoBpm == p.tempoBpm; }},
    {"timeSignature",
     [](const Project &p, const GraphSnapshot &s) { return s.timeSignature == p.timeSignature; }},
    {"tempoMarkers",
     [](const Project &p, const GraphSnapshot &s) { return s.tempoMarkers == p.tempoMarkers; }},
    {"meterMarkers",
     [](const Project &p, const GraphSnapshot &s) { return s.meterMarkers == p.meterMarkers; }},
    {"controlRoom",
     [](const Project &p, const GraphSnapshot &s) { return s.controlRoom == p.controlRoom; }},
    {"masterEq", [](const Project &p, const GraphSnapshot &s) { return s.masterEq == p.masterEq; }},
    {"mastering",
     [](const Project &p, const GraphSnapshot &s) { return s.mastering == p.mastering; }},
    {"metronomeVolume",
     [](const Project &p, const GraphSnapshot &s) {
         return s.metronomeVolume == p.metronomeVolume;
     }},
    {"expressionMaps",
     [](const Project &p, const GraphSnapshot &s) { return s.expressionMaps == p.expressionMaps; }},
    {"scalaCents",
     [](const Project &p, const GraphSnapshot &s) { return s.scalaCents == p.scalaCents; }},
    {"scaleRoot",
     [](const Project &p, const GraphSnapshot &s) { return s.scaleRoot == p.scaleRoot; }},
    {"scaleMinor",
     [](const Project &p, const GraphSnapshot &s) { return s.scaleMinor == p.scaleMinor; }},
    {"kbmDegrees",
     [](const Project &p, const GraphSnapshot &s) { return s.kbmDegrees == p.kbmDegrees; }},
};

const SnapshotCheck *snapshotCheckFor(const char *key) {
    for (const SnapshotCheck &check : snapshotChecks)
        if (std::string_view(check.key) == key) return &check;
    return nullptr;
}

/// A stored setting the renderers read, with whether `project` holds it at its default.
struct RendererSetting {
    const char *key;
    bool atDefault;
};

std::vector<RendererSetting> rendererSettings(const Project &project) {
    const Project defaults;
    std::vector<RendererSetting> settings;
    for (const auto &field : stored::projectFields())
        if (field.reachesRenderers())
            settings.push_back({field.key, field.same(defaults, project)});
    for (const auto &field : stored::sessionFields())
        if (field.reachesRenderers())
            settings.push_back({field.key, field.same(defaults.session, project.session)});
    return settings;
}

/// A project whose every stored setting is random; tracks are covered by tests of their own.
Project randomSettings(uint32_t seed) {
    Project project = makeRandomProject(seed);
    project.tracks.clear();
    return project;
}

} // namespace

TEST(EnginePublication, EveryStoredSettingTheRenderersReadReachesTheSnapshot) {
    const Project defaults;
    std::map<std::string, int> seedsAwayFromDefault;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Engine engine;
        {
            std::lock_guard lock(engine.projectMutex);
            engine.project = randomSettings(seed);
        }
        engine.publishGraph();
        const auto snapshot = engine.currentGraph();
        std::lock_guard lock(engine.projectMutex);
        for (const RendererSetting &setting : rendererSettings(engine.project)) {
            const SnapshotCheck *check = snapshotCheckFor(setting.key);
            ASSERT_NE(check, nullptr) << setting.key << " reaches the renderers: say how the "
                                      << "snapshot shows it in snapshotChecks";
            EXPECT_TRUE(check->carried(engine.project, *snapshot)) << setting.key;
            if (setting.atDefault) continue;
            ++seedsAwayFromDefault[setting.key];
            EXPECT_FALSE(check->carried(defaults, *snapshot)) << setting.key;
        }
    }
    for (const SnapshotCheck &check : snapshotChecks)
        EXPECT_GT(seedsAwayFromDefault[check.key], 0)
            << check.key << " never left its default, or the model no longer says the "
            << "renderers read it";
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
