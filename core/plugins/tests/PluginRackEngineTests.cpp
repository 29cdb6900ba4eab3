// The rack wired into a real engine: delay compensation at the master, and a project whose
// plug-ins go through saving and loading.
#include "core/commands/AudioProcessingCommands.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/plugins/tests/RackRenderSession.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/project_io/ProjectFolder.h"
#include "device/OfflineRender.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace orvane::vst {
namespace {

using testing::processTrackAsAudio;
using testing::rackDelayEffectPath;
using testing::RackEnvironment;
using testing::RenderSession;
using testing::ScopedEnvironment;
using testing::ScopedRackDelay;
using testing::TemporaryFolder;
using testing::ThirdPartyLeaksIgnored;
using testing::zamBundle;
using testing::zamPluginsInstalled;

constexpr double rate = 48000.0;
constexpr int32_t block = 512;
constexpr int64_t impulseAt = 1000;
constexpr int64_t renderFrames = 4096;

std::shared_ptr<Clip> addClip(Engine &engine, uint64_t trackId, std::vector<float> mono) {
    auto clip = engine.project.addClip(trackId, ClipKind::Audio);
    clip->channels = 1;
    clip->length = static_cast<int64_t>(mono.size());
    clip->audio = std::make_shared<std::vector<float>>(std::move(mono));
    return clip;
}

uint64_t addImpulseTrack(Engine &engine) {
    std::lock_guard lock(engine.projectMutex);
    auto track = engine.project.addTrack(TrackType::Audio, "");
    std::vector<float> impulse(static_cast<std::size_t>(renderFrames), 0.0f);
    impulse[impulseAt] = 0.5f;
    addClip(engine, track->id, std::move(impulse));
    return track->id;
}

// The master section leaves faint tails between renders, so the impulse is found as the
// loudest frame rather than the first non-zero one.
int64_t loudestFrame(const std::vector<float> &stereo) {
    std::size_t loudest = 0;
    for (std::size_t i = 0; i < stereo.size(); ++i)
        if (std::fabs(stereo[i]) > std::fabs(stereo[loudest])) loudest = i;
    return static_cast<int64_t>(loudest / 2);
}

int64_t trackArrival(Engine &engine, uint64_t trackId) {
    std::vector<float> out;
    std::string error;
    EXPECT_TRUE(renderTrackMixdown(engine, trackId, out, 0, renderFrames, 2, &error)) << error;
    return loudestFrame(out);
}

class RackEngineTest : public ::testing::Test {
  protected:
    RackEngineTest() {
        engine.prepareToPlay(rate, block);
        rack.prepare(rate, block);
        installPluginRackHooks(engine, rack);
    }

    RackEnvironment environment;
    Engine engine;
    PluginRack rack{pluginRackHostFor(engine)};
};

TEST_F(RackEngineTest, APluginsLatencyKeepsItsTrackAlignedWithAPlainOne) {
    const uint64_t delayed = addImpulseTrack(engine);
    const uint64_t plain = addImpulseTrack(engine);
    const int64_t withoutPlugin = trackArrival(engine, delayed);
    {
        ScopedRackDelay latency(100);
        ASSERT_TRUE(rack.loadVst3(delayed, rackDelayEffectPath(), ""));
    }
    const int64_t delayedArrival = trackArrival(engine, delayed);
    EXPECT_EQ(delayedArrival, withoutPlugin + 100);
    EXPECT_EQ(trackArrival(engine, plain), delayedArrival);

    // Bypassing must not move the track against the others.
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.findTrack(delayed)->inserts[0].bypassed = true;
        engine.publishGraph();
    }
    rack.publishRtView();
    EXPECT_EQ(trackArrival(engine, delayed), delayedArrival);
    EXPECT_EQ(trackArrival(engine, plain), delayedArrival);
}

// Frozen, a track plays what its inserts made in their place: the insert's delay leaves the
// song, the track stays in line with the others and its fader applies once, as before.
TEST_F(RackEngineTest, AFrozenTrackWithADelayingInsertStaysInLineAndSoundsAsBefore) {
    const uint64_t delayed = addImpulseTrack(engine);
    const uint64_t plain = addImpulseTrack(engine);
    const int64_t inLine = trackArrival(engine, plain);
    {
        ScopedRackDelay latency(100);
        ASSERT_TRUE(rack.loadVst3(delayed, rackDelayEffectPath(), ""));
    }
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.findTrack(delayed)->gain = 0.5f;
        engine.publishGraph();
    }
    std::string error;
    std::vector<float> before, preFader, after;
    // The plug-in keeps its state from one render to the next: a first render leaves the
    // faint tail that every later one starts with.
    for (int render = 0; render < 2; ++render)
        ASSERT_TRUE(renderTrackMixdown(engine, delayed, before, 0, renderFrames, 2, &error))
            << error;
    {
        // The mark alone, as a document may carry it, changes nothing.
        std::lock_guard lock(engine.projectMutex);
        engine.project.findTrack(delayed)->frozen = true;
        engine.publishGraph();
    }
    std::vector<float> marked;
    ASSERT_TRUE(renderTrackMixdown(engine, delayed, marked, 0, renderFrames, 2, &error)) << error;
    EXPECT_EQ(marked, before);
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.findTrack(delayed)->frozen = false;
        engine.publishGraph();
    }
    ASSERT_TRUE(renderTrackPreFader(engine, delayed, preFader, 0, renderFrames, &error)) << error;
    EXPECT_EQ(loudestFrame(preFader), impulseAt) << "the render leaves the insert's delay out";
    {
        std::lock_guard lock(engine.projectMutex);
        FreezeTrackInPlaceCommand freeze(delayed, 0, renderFrames,
                                         std::make_shared<std::vector<float>>(preFader));
        freeze.redo(engine.project);
        engine.publishGraph();
    }
    ASSERT_TRUE(renderTrackMixdown(engine, delayed, after, 0, renderFrames, 2, &error)) << error;
    EXPECT_EQ(loudestFrame(after), inLine);
    EXPECT_EQ(trackArrival(engine, plain), inLine);
    EXPECT_NEAR(after[2 * inLine], before[2 * (inLine + 100)], 1e-4) << "the fader applies once";
}

// Notes rather than audio: the 16-bit media files lose a step of every sample on each save
// (written times 32767, read over 32768), which would hide what the plug-ins do.
uint64_t addNotesTrack(Engine &engine, int64_t frames) {
    std::lock_guard lock(engine.projectMutex);
    engine.project.sampleRate = rate;
    auto track = engine.project.addTrack(TrackType::Midi, "");
    auto clip = engine.project.addClip(track->id, ClipKind::Midi);
    clip->length = frames;
    clip->notes = {MidiNote{57, 1.0f, 0, frames / 2}, MidiNote{64, 0.9f, frames / 4, frames / 2}};
    engine.publishGraph();
    return track->id;
}

std::vector<float> renderAll(Engine &engine, int64_t frames) {
    std::vector<float> out;
    std::string error;
    EXPECT_TRUE(renderMixdown(engine, out, 0, frames, 2, &error)) << error;
    return out;
}

class ZamRoundTrip : public ::testing::TestWithParam<bool> {
  protected:
    RackEnvironment environment;
    ScopedEnvironment folders{"VST3_PATH", testing::zamDir()};
    ThirdPartyLeaksIgnored zamLeaks;
};

TEST_P(ZamRoundTrip, ZamPluginsSoundTheSameAfterSavingAndLoading) {
    ASSERT_TRUE(zamPluginsInstalled());
    constexpr int64_t frames = 24000;
    // Every render starts from a fresh engine: the master section keeps faint tails from one
    // render to the next, which would hide what the plug-ins do.
    Engine dryEngine;
    dryEngine.prepareToPlay(rate, block);
    addNotesTrack(dryEngine, frames);
    const std::vector<float> dry = renderAll(dryEngine, frames);

    RenderSession editing(GetParam());
    const uint64_t trackId = addNotesTrack(editing.engine, frames);
    PluginRack &rack = editing.rack;
    ASSERT_TRUE(rack.loadVst3(trackId, zamBundle("ZamComp"), "")) << editing.controller.lastError;
    ASSERT_TRUE(rack.loadVst3(trackId, zamBundle("ZamEQ2"), "")) << editing.controller.lastError;
    ASSERT_EQ(rack.slots[0].plugin->runsInHelper(), GetParam());
    ASSERT_TRUE(rack.slots[0].plugin->setParameterNormalized(testing::zamCompThreshold, 0.0f));
    // The processor learns of the new threshold with the next block, as it would from the
    // audio thread while the user turns the knob.
    std::vector<float> scratchLeft = orvane::testing::sineSamples(220.0, 0.8, rate, block);
    std::vector<float> scratchRight = scratchLeft;
    processTrackAsAudio(rack, trackId, scratchLeft.data(), scratchRight.data(), block);
    // What "Halvora render" of the project as it stands renders: the plug-ins restored from
    // their saved states, so that the two renders differ in nothing but the trip to disk.
    rack.saveStatesIntoProject();
    std::string warnings;
    ASSERT_TRUE(restoreRackForRender(rack, rate, block, &warnings)) << warnings;
    const std::vector<float> before = renderAll(editing.engine, frames);
    ASSERT_EQ(before.size(), dry.size());
    EXPECT_LT(testing::rms(before.data(), before.size()),
              0.9 * testing::rms(dry.data(), dry.size()))
        << "the lowered threshold must be heard for the comparison to mean anything";
    TemporaryFolder folder;
    const std::string projectFolder = (folder.path() / "Round.halvora").string();
    {
        std::lock_guard lock(editing.engine.projectMutex);
        const project_io::SaveResult saved =
            project_io::saveProject(editing.engine.project, projectFolder, false);
        ASSERT_TRUE(saved.ok) << saved.error;
    }

    std::optional<Project> loaded = project_io::loadProject(projectFolder);
    ASSERT_TRUE(loaded);
    RenderSession rendering(GetParam());
    rendering.engine.replaceProject(std::move(*loaded));
    rendering.engine.prepareToPlay(rate, block);
    ASSERT_TRUE(restoreRackForRender(rendering.rack, rate, block, &warnings)) << warnings;
    const std::vector<float> after = renderAll(rendering.engine, frames);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(after == before) << "the reloaded project must render bit for bit the same";
}

INSTANTIATE_TEST_SUITE_P(InProcessAndSandboxed, ZamRoundTrip, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Sandboxed" : "InProcess"; });

/// A render of a note track through ZamComp whose threshold is automated from 1 down to 0
/// (or left alone), in process or sandboxed.
std::vector<float> renderThroughAutomatedZamComp(bool sandboxed, bool automated, int64_t frames) {
    RenderSession session(sandboxed);
    const uint64_t trackId = addNotesTrack(session.engine, frames);
    EXPECT_TRUE(session.rack.loadVst3(trackId, zamBundle("ZamComp"), ""))
        << session.controller.lastError;
    if (automated) {
        std::lock_guard lock(session.engine.projectMutex);
        InsertSlot &insert = session.engine.project.findTrack(trackId)->inserts.at(0);
        insert.automParamId = testing::zamCompThreshold;
        insert.paramAutomation = {{0, 1.0f}, {frames, 0.0f}};
    }
    session.rack.publishRtView();
    return renderAll(session.engine, frames);
}

TEST_F(ZamRoundTrip, ASandboxedPluginFollowsItsAutomationBitForBitAsInProcess) {
    ASSERT_TRUE(zamPluginsInstalled());
    constexpr int64_t frames = 24000;
    const std::vector<float> local = renderThroughAutomatedZamComp(false, true, frames);
    const std::vector<float> sandboxed = renderThroughAutomatedZamComp(true, true, frames);
    const std::vector<float> unautomated = renderThroughAutomatedZamComp(true, false, frames);
    ASSERT_EQ(sandboxed.size(), local.size());
    EXPECT_TRUE(sandboxed == local) << "the automated renders must agree bit for bit";
    EXPECT_LT(testing::rms(sandboxed.data(), sandboxed.size()),
              0.9 * testing::rms(unautomated.data(), unautomated.size()))
        << "the falling threshold must be heard";
}

TEST_F(RackEngineTest, BypassAndAutomationSurviveSavingAndLoading) {
    const uint64_t trackId = addImpulseTrack(engine);
    {
        ScopedRackDelay latency(0);
        ASSERT_TRUE(rack.loadVst3(trackId, rackDelayEffectPath(), ""));
        ASSERT_TRUE(rack.loadVst3(trackId, rackDelayEffectPath(), ""));
    }
    const std::vector<AutomationPoint> points = {{0, 0.3f}, {2000, 0.6f}};
    {
        std::lock_guard lock(engine.projectMutex);
        auto track = engine.project.findTrack(trackId);
        track->inserts[0].bypassed = true;
        track->inserts[1].paramAutomation = points;
    }
    rack.saveStatesIntoProject();
    TemporaryFolder folder;
    const std::string projectFolder = (folder.path() / "Kept.halvora").string();
    {
        std::lock_guard lock(engine.projectMutex);
        ASSERT_TRUE(project_io::saveProject(engine.project, projectFolder, false).ok);
    }
    std::optional<Project> loaded = project_io::loadProject(projectFolder);
    ASSERT_TRUE(loaded);
    Engine reloaded;
    reloaded.replaceProject(std::move(*loaded));
    reloaded.prepareToPlay(rate, block);
    PluginRack freshRack(pluginRackHostFor(reloaded));
    std::string warnings;
    ScopedRackDelay latency(0);
    ASSERT_TRUE(restoreRackForRender(freshRack, rate, block, &warnings)) << warnings;
    std::lock_guard lock(reloaded.projectMutex);
    const auto &inserts = reloaded.project.findTrack(trackId)->inserts;
    ASSERT_EQ(inserts.size(), 2u);
    EXPECT_TRUE(inserts[0].bypassed);
    EXPECT_FALSE(inserts[1].bypassed);
    EXPECT_EQ(inserts[1].paramAutomation, points);
    EXPECT_TRUE(freshRack.insertAvailable(trackId, 0));
    EXPECT_TRUE(freshRack.insertAvailable(trackId, 1));
}

/// Two notes that start and stop between block starts.
const std::vector<MidiNote> notesBetweenBlocks{{69, 1.0f, 6100, 3000}, {76, 0.8f, 12345, 2000}};
constexpr int64_t instrumentFrames = 16384;

/// A MIDI track playing `notes` through the test instrument.
struct InstrumentTrack {
    InstrumentTrack(bool sandboxed, const std::vector<MidiNote> &notes) : session(sandboxed) {
        {
            std::lock_guard lock(session.engine.projectMutex);
            session.engine.project.sampleRate = rate;
            auto track = session.engine.project.addTrack(TrackType::Midi, "");
            auto clip = session.engine.project.addClip(track->id, ClipKind::Midi);
            clip->length = instrumentFrames;
            clip->notes = notes;
            trackId = track->id;
            session.engine.publishGraph();
        }
        // Out of process only the scan tells an instrument from an effect.
        session.rack.scan();
        loaded = session.rack.loadVst3(trackId, testing::testInstrumentPath(), "");
    }

    RackEnvironment environment;
    RenderSession session;
    uint64_t trackId = 0;
    bool loaded = false;
};

/// What the rack makes of the track's silence, block after block from `from` (the left
/// channel), as the engine's render calls it.
std::vector<float> rackOutput(InstrumentTrack &instrument, int64_t from, int64_t frames) {
    std::vector<float> output, left(block), right(block);
    for (int64_t playhead = from; playhead < from + frames; playhead += block) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        instrument.session.engine.renderPosition.store(playhead);
        processTrackAsAudio(instrument.session.rack, instrument.trackId, left.data(), right.data(),
                            block);
        output.insert(output.end(), left.begin(), left.end());
    }
    return output;
}

/// The first frame from `from` on that is not silent; -1 when there is none.
int64_t firstSoundFrom(const std::vector<float> &samples, int64_t from) {
    const auto sound = std::find_if(samples.begin() + from, samples.end(),
                                    [](float sample) { return sample != 0.0f; });
    return sound == samples.end() ? -1 : sound - samples.begin();
}

// The instrument's voice starts at phase 0, so its first sound is the frame after the note-on.
TEST(RackInstrument, InProcessAVst3InstrumentPlaysEachNoteOfItsMidiTrackOnItsFrame) {
    InstrumentTrack instrument(false, notesBetweenBlocks);
    ASSERT_TRUE(instrument.loaded);
    const std::vector<float> out = rackOutput(instrument, 0, instrumentFrames);
    const MidiNote &first = notesBetweenBlocks[0], &second = notesBetweenBlocks[1];
    EXPECT_EQ(firstSoundFrom(out, 0), first.start + 1);
    EXPECT_EQ(firstSoundFrom(out, first.start + first.length), second.start + 1)
        << "silent from the first note's end to the second's start";
    EXPECT_EQ(firstSoundFrom(out, second.start + second.length), -1);
}

// Each note crosses to the helper with its frame: sandboxed, an instrument renders the notes
// of its track exactly as in process, between the starts of blocks as well.
TEST(RackInstrument, SandboxedAVst3InstrumentPlaysEachNoteOnItsFrameAsInProcess) {
    InstrumentTrack inProcess(false, notesBetweenBlocks);
    InstrumentTrack sandboxed(true, notesBetweenBlocks);
    ASSERT_TRUE(inProcess.loaded && sandboxed.loaded) << sandboxed.session.controller.lastError;
    const std::vector<float> expected = renderAll(inProcess.session.engine, instrumentFrames);
    const std::vector<float> played = renderAll(sandboxed.session.engine, instrumentFrames);
    EXPECT_GT(testing::rms(played.data(), played.size()), 0.01);
    EXPECT_TRUE(played == expected);
    EXPECT_NE(notesBetweenBlocks[0].start % offlineRenderMaxBlock, 0)
        << "the notes must fall inside blocks for the comparison to mean anything";
}

TEST(RackInstrument, ANoteSoundingWhereThePlayheadJumpsAwayFromStops) {
    InstrumentTrack instrument(false, notesBetweenBlocks);
    ASSERT_TRUE(instrument.loaded);
    // Into the first note, then back to the top, where no note sounds.
    const std::vector<float> inside = rackOutput(instrument, 6144 - block, 4 * block);
    EXPECT_GT(testing::rms(inside.data(), inside.size()), 0.01);
    const std::vector<float> top = rackOutput(instrument, 0, 4 * block);
    EXPECT_EQ(firstSoundFrom(top, 0), -1) << "the note hangs";
}

// A new view takes over where the old one's last block ended, even when the audio thread
// renders with the old view while the new one is built: a held note is never taken for one
// the playhead jumped away from.
TEST(RackInstrument, AHeldNoteSurvivesThousandsOfRepublicationsWhilePlaying) {
    constexpr int64_t held = int64_t{1} << 40;
    InstrumentTrack instrument(false, {MidiNote{60, 0.8f, 0, held}});
    ASSERT_TRUE(instrument.loaded);
    {
        std::lock_guard lock(instrument.session.engine.projectMutex);
        instrument.session.engine.project.findTrack(instrument.trackId)->clips.at(0)->length = held;
        instrument.session.engine.publishGraph();
    }
    (void)rackOutput(instrument, 0, block); // the note starts
    std::atomic<bool> publishing{true};
    std::atomic<int64_t> silentBlocks{0}, blocks{0};
    std::thread audio([&] {
        RtScope scope;
        std::vector<float> left(block), right(block);
        for (int64_t playhead = block; publishing.load(); playhead += block) {
            std::fill(left.begin(), left.end(), 0.0f);
            std::fill(right.begin(), right.end(), 0.0f);
            instrument.session.engine.renderPosition.store(playhead);
            instrument.session.rack.processTrack(instrument.trackId, left.data(), right.data(),
                                                 block);
            blocks.fetch_add(1);
            if (std::ranges::all_of(left, [](float sample) { return sample == 0.0f; }))
                silentBlocks.fetch_add(1);
        }
    });
    // Blocks and publications overlap throughout: neither side stops before both did 3,000.
    int publications = 0;
    for (; publications < 3000 || blocks.load() < 3000; ++publications)
        instrument.session.rack.publishRtView();
    publishing.store(false);
    audio.join();
    EXPECT_GE(publications, 3000);
    EXPECT_EQ(silentBlocks.load(), 0) << "of " << blocks.load() << " blocks";
}

// A note moved while the instrument plays is heard where it now lies from the next block on,
// without waiting for an insert edit to republish the rack.
TEST(RackInstrument, AMovedNoteReachesAPlayingInstrumentWithTheNextBlock) {
    InstrumentTrack instrument(false, {MidiNote{60, 0.8f, 0, 2048}});
    ASSERT_TRUE(instrument.loaded);
    const std::vector<float> before = rackOutput(instrument, 0, 4 * block);
    EXPECT_EQ(firstSoundFrom(before, 0), 1);
    {
        // As a command does it: under the project mutex, then the graph goes out.
        std::lock_guard lock(instrument.session.engine.projectMutex);
        instrument.session.engine.project.findTrack(instrument.trackId)
            ->clips.at(0)
            ->notes.at(0)
            .start = 8 * block + 100;
        instrument.session.engine.publishGraph();
    }
    const std::vector<float> after = rackOutput(instrument, 4 * block, 8 * block);
    EXPECT_EQ(firstSoundFrom(after, 0), 4 * block + 101) << "the moved note sounds where it lies";
}

// Playing live, a sandboxed insert runs a block behind. Bypassed, it delays by the same, so that
// toggling it while playing moves neither its track nor the others.
/// An audio track through the test delay effect with `latency`, at the test's period; 0 when
/// the effect would not load.
uint64_t addDelayedTrack(RenderSession &session, int32_t latency) {
    session.rack.prepare(rate, block);
    uint64_t trackId = 0;
    {
        std::lock_guard lock(session.engine.projectMutex);
        trackId = session.engine.project.addTrack(TrackType::Audio, "")->id;
        session.engine.publishGraph();
    }
    ScopedRackDelay delay(latency);
    return session.rack.loadVst3(trackId, rackDelayEffectPath(), "") ? trackId : 0;
}

// Each period on its own runs a block behind; gathered periods two batches behind.
class SandboxedBypass : public ::testing::TestWithParam<bool> {};

TEST_P(SandboxedBypass, ABypassedInsertKeepsItsLiveDelay) {
    const bool gathered = GetParam();
    RackEnvironment environment;
    RenderSession session(true);
    session.rack.gathersLiveBlocks = gathered;
    const uint64_t trackId = addDelayedTrack(session, 32);
    ASSERT_NE(trackId, 0u) << session.controller.lastError;
    const int32_t playing = session.rack.latencySamples(trackId);
    const int32_t behind = gathered ? 2 * PluginRack::liveAheadFramesFor(rate) : block;
    ASSERT_GT(PluginRack::liveAheadFramesFor(rate), block);
    EXPECT_EQ(playing, 32 + behind) << "live, behind the insert's own delay";
    {
        std::lock_guard lock(session.engine.projectMutex);
        session.engine.project.findTrack(trackId)->inserts.at(0).bypassed = true;
        session.engine.publishGraph();
    }
    session.rack.publishRtView();
    EXPECT_EQ(session.rack.latencySamples(trackId), playing);
    std::vector<float> heard, left(block), right(block);
    for (int32_t blockIndex = 0; blockIndex < (10 + playing) / block + 2; ++blockIndex) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        if (blockIndex == 0) left[10] = right[10] = 0.5f;
        processTrackAsAudio(session.rack, trackId, left.data(), right.data(), block);
        heard.insert(heard.end(), left.begin(), left.end());
    }
    const auto impulse = std::find(heard.begin(), heard.end(), 0.5f);
    EXPECT_EQ(impulse - heard.begin(), 10 + playing) << "bypassed, delayed as when playing";
}

// An armed or monitoring track hears its input through its inserts at the device's period;
// disarmed, its sandboxed inserts gather periods again. Compensation follows each change.
TEST(SandboxedGathering, FollowsTheTracksLiveInput) {
    RackEnvironment environment;
    RenderSession session(true);
    const uint64_t trackId = addDelayedTrack(session, 32);
    ASSERT_NE(trackId, 0u) << session.controller.lastError;
    const int32_t gathered = 32 + 2 * PluginRack::liveAheadFramesFor(rate);
    const auto setInput = [&](bool armed, MonitorMode monitor) {
        std::lock_guard lock(session.engine.projectMutex);
        auto track = session.engine.project.findTrack(trackId);
        track->armed = armed;
        track->monitor = monitor;
        session.engine.publishGraph();
    };
    EXPECT_EQ(session.rack.latencySamples(trackId), gathered);
    setInput(true, MonitorMode::Auto);
    EXPECT_EQ(session.rack.latencySamples(trackId), 32 + block) << "armed";
    setInput(false, MonitorMode::Auto);
    EXPECT_EQ(session.rack.latencySamples(trackId), gathered) << "disarmed";
    setInput(false, MonitorMode::In);
    EXPECT_EQ(session.rack.latencySamples(trackId), 32 + block) << "monitoring its input";
    session.rack.gathersLiveBlocks = false;
    setInput(false, MonitorMode::Off);
    EXPECT_EQ(session.rack.latencySamples(trackId), 32 + block) << "gathering switched off";
}

INSTANTIATE_TEST_SUITE_P(PeriodsOrGathered, SandboxedBypass, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Gathered" : "EachPeriod"; });

// Whatever sends an insert's blocks dry, the first bypass or one after a long stretch of
// processing, what comes out is the input exactly as late as the insert's delay, from the first
// dry frame on: never silence or audio from an earlier stretch in its place. The test delay
// effect plays its input that late too, so the fade into a bypass is exact as well. (The fade
// back out of one plays what the plug-in itself held from before the bypass: its own state.)
TEST(InsertDryPath, EveryWetDrySwitchPlaysTheInputAsLateAsTheInsertsDelay) {
    constexpr int32_t effectLatency = 300;
    constexpr int32_t blocks = 80;
    const std::vector<std::pair<int32_t, bool>> switches = {{20, true},  {26, false}, {27, true},
                                                            {28, false}, {60, true},  {64, false}};
    for (const bool sandboxed : {false, true}) {
        RackEnvironment environment;
        RenderSession session(sandboxed);
        const uint64_t trackId = addDelayedTrack(session, effectLatency);
        ASSERT_NE(trackId, 0u) << session.controller.lastError;
        const int32_t delay = session.rack.latencySamples(trackId);
        ASSERT_GE(delay, effectLatency);
        std::vector<float> heard;
        for (int32_t index = 0; index < blocks; ++index) {
            for (const auto &[at, bypassed] : switches)
                if (at == index) {
                    std::lock_guard lock(session.engine.projectMutex);
                    session.engine.project.findTrack(trackId)->inserts.at(0).bypassed = bypassed;
                    session.rack.publishRtView();
                }
            // Frame numbers as samples: exact in a float, and each says where it came from.
            std::vector<float> left(block), right(block);
            for (int32_t frame = 0; frame < block; ++frame)
                left[frame] = right[frame] = static_cast<float>(index * block + frame + 1);
            processTrackAsAudio(session.rack, trackId, left.data(), right.data(), block);
            heard.insert(heard.end(), left.begin(), left.end());
            // A helper that keeps up with its period has finished the block by the next one.
            if (sandboxed) (void)session.rack.slots.at(0).plugin->hasEditor();
        }
        const auto fadesBackIn = [&](std::size_t frame) {
            const auto index = static_cast<int32_t>(frame / block);
            return std::ranges::any_of(switches, [index](const auto &change) {
                return change.first == index && !change.second;
            });
        };
        int wrong = 0;
        for (std::size_t frame = 0; frame < heard.size(); ++frame) {
            if (fadesBackIn(frame)) continue;
            const float expected = frame < static_cast<std::size_t>(delay)
                                       ? 0.0f
                                       : static_cast<float>(frame - delay + 1);
            if (heard[frame] != expected && wrong++ < 3)
                ADD_FAILURE() << (sandboxed ? "sandboxed" : "in process") << ": frame " << frame
                              << " is " << heard[frame] << ", not " << expected;
        }
        EXPECT_EQ(wrong, 0) << (sandboxed ? "sandboxed" : "in process");
    }
}

} // namespace
} // namespace orvane::vst

namespace orvane::vst {
namespace {

// The device's block path with a rack holding an automated in-process plug-in, while the main
// thread keeps publishing new snapshots and views and freeing the old ones.
TEST_F(RackEngineTest, DeviceBlocksNeitherAllocateNorFreeWhileTheMainThreadPublishes) {
    const uint64_t trackId = addImpulseTrack(engine);
    {
        ScopedRackDelay latency(16);
        ASSERT_TRUE(rack.loadVst3(trackId, rackDelayEffectPath(), ""));
    }
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.findTrack(trackId)->inserts[0].paramAutomation = {{0, 0.0f}, {48000, 1.0f}};
        engine.publishGraph();
    }
    rack.publishRtView();
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::play()));
    engine.deviceStarted();
    std::vector<float> left(block), right(block);
    std::array<float *, 2> outputs{left.data(), right.data()};
    const std::array<MidiEvent, 2> keys{MidiEvent{3, 0x90, 60, 100}, MidiEvent{200, 0x80, 60, 0}};
    const BlockIo io{nullptr, 0, outputs.data(), 2, block, keys};
    engine.processBlock(io); // the first block after publication frees nothing either, but
                             // warms the plug-in's own first-call paths

    std::atomic<bool> stop{false};
    std::atomic<int> publications{0};
    std::thread mainThread([&] {
        for (int round = 0; !stop.load(); ++round) {
            {
                std::lock_guard lock(engine.projectMutex);
                engine.project.findTrack(trackId)->gain = round % 2 ? 0.9f : 1.0f;
                engine.publishGraph();
            }
            rack.publishRtView();
            engine.collectRetiredGraphs();
            rack.collectRetiredViews();
            publications.fetch_add(1);
        }
    });
    uint64_t allocations = 0;
    uint64_t frees = 0;
    int blocks = 0;
    {
        orvane::testing::AllocationScope scope;
        while (blocks < 200 || publications.load() < 50) {
            engine.processBlock(io);
            ++blocks;
        }
        allocations = scope.allocations();
        frees = scope.frees();
    }
    stop.store(true);
    mainThread.join();
    engine.deviceStopped();
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(frees, 0u);
    EXPECT_TRUE(rack.lastAutomationValue(trackId, 0)) << "the automation reached the plug-in";
}

// Track ids start again in every project: until the rack has restored the new project's
// inserts, the old project's plug-ins must not run on the new tracks that share their ids.
TEST_F(RackEngineTest, AReplacedProjectsTracksNeverRunTheOldProjectsPlugins) {
    const uint64_t trackId = addImpulseTrack(engine);
    const int64_t plainArrival = trackArrival(engine, trackId);
    {
        ScopedRackDelay latency(100);
        ASSERT_TRUE(rack.loadVst3(trackId, rackDelayEffectPath(), ""));
    }
    ASSERT_EQ(trackArrival(engine, trackId), plainArrival + 100);

    Project replacement;
    replacement.sampleRate = rate;
    engine.replaceProject(std::move(replacement));
    const uint64_t newTrack = addImpulseTrack(engine);
    ASSERT_EQ(newTrack, trackId) << "the new project reuses the id";
    EXPECT_EQ(rack.latencySamples(newTrack), 0);
    EXPECT_EQ(trackArrival(engine, newTrack), plainArrival);
    rack.restoreFromProject();
    EXPECT_EQ(trackArrival(engine, newTrack), plainArrival);
}

} // namespace
} // namespace orvane::vst
