// LV2 inserts in the rack, wired into a real engine: saved into a project and reopened,
// automated, bypassed, played from MIDI clips, and left as placeholders when missing.
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/plugins/vst3/tests/TestSupport.h"
#include "core/project_io/ProjectFolder.h"
#include "device/OfflineRender.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace orvane::vst {
namespace {

using testing::processTrackAsAudio;
using testing::RackEnvironment;
using testing::TemporaryFolder;

constexpr double rate = 48000.0;
constexpr int32_t block = 512;
constexpr int64_t frames = 24000;
const std::string x42Equalizer = "http://gareus.org/oss/lv2/fil4#stereo";
const std::string lspCompressor = "http://lsp-plug.in/plugins/lv2/compressor_stereo";
const std::string calfMonosynth = "http://calf.sourceforge.net/plugins/Monosynth";

/// An engine with a rack wired in, as "Halvora render" builds it; with `sandboxed`, the rack
/// hosts its plug-ins in helper programs.
struct Lv2Session {
    explicit Lv2Session(bool sandboxed = false)
        : sandboxSwitch("HALVORA_VST_SANDBOX", sandboxed ? "1" : "0"),
          rack(pluginRackHostFor(engine), sandboxFor(controller)) {
        engine.prepareToPlay(rate, block);
        rack.prepare(rate, block);
        installPluginRackHooks(engine, rack);
    }
    static PluginRackSandbox sandboxFor(PluginSandboxController &controller) {
        controller.enabled = sandboxEnabledFromEnvironment();
        controller.helperSearchFolder = testing::helperProgramFolder();
        return pluginRackSandboxFor(controller);
    }
    RackEnvironment environment{true};
    testing::ScopedEnvironment sandboxSwitch;
    Engine engine;
    PluginSandboxController controller;
    PluginRack rack;
};

/// Audio as a 32-bit float clip, so that a trip to disk keeps every sample.
uint64_t addToneTrack(Engine &engine) {
    std::lock_guard lock(engine.projectMutex);
    engine.project.sampleRate = rate;
    auto track = engine.project.addTrack(TrackType::Audio, "");
    auto clip = engine.project.addClip(track->id, ClipKind::Audio);
    std::vector<float> tone(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 300.0 * i / rate) +
                                     0.2 * std::sin(2.0 * M_PI * 4000.0 * i / rate));
    clip->channels = 1;
    clip->length = frames;
    clip->audio = std::make_shared<std::vector<float>>(std::move(tone));
    engine.publishGraph();
    return track->id;
}

uint64_t addNotesTrack(Engine &engine, int64_t firstNote) {
    std::lock_guard lock(engine.projectMutex);
    engine.project.sampleRate = rate;
    auto track = engine.project.addTrack(TrackType::Midi, "");
    auto clip = engine.project.addClip(track->id, ClipKind::Midi);
    clip->length = frames;
    clip->notes = {MidiNote{57, 1.0f, firstNote, 6000}, MidiNote{64, 0.9f, firstNote + 8000, 6000}};
    engine.publishGraph();
    return track->id;
}

std::vector<float> renderAll(Engine &engine) {
    std::vector<float> out;
    std::string error;
    EXPECT_TRUE(renderMixdown(engine, out, 0, frames, 2, &error)) << error;
    return out;
}

double rmsOf(const std::vector<float> &stereo, std::size_t fromFrame = 0,
             std::size_t toFrame = SIZE_MAX) {
    const std::size_t end = std::min(stereo.size(), toFrame == SIZE_MAX ? SIZE_MAX : 2 * toFrame);
    return testing::rms(stereo.data() + 2 * fromFrame, end - 2 * fromFrame);
}

InsertSlot &insertOf(Engine &engine, uint64_t trackId, std::size_t index) {
    return engine.project.findTrack(trackId)->inserts.at(index);
}

void setControl(PluginRack &rack, uint64_t trackId, int32_t insert, const char *symbol,
                float value) {
    lv2::Lv2Plugin *plugin = rack.lv2PluginAt(trackId, insert);
    ASSERT_NE(plugin, nullptr);
    const int index = plugin->parameterIndex(symbol);
    ASSERT_GE(index, 0) << symbol;
    ASSERT_TRUE(plugin->setParameterValue(static_cast<std::size_t>(index), value)) << symbol;
}

std::string readText(const std::filesystem::path &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(RackLv2, TheScanListsLv2PluginsBesideVst3) {
    RackEnvironment environment{true};
    PluginScanner scanner;
    const auto found = scanInstalledPlugins(scanner, false, nullptr);
    const auto count = [&](const char *format) {
        return std::count_if(found.begin(), found.end(),
                             [&](const PluginDescription &d) { return d.format == format; });
    };
    EXPECT_GT(count("VST3"), 0);
    EXPECT_GT(count("LV2"), 10);
    const auto eq = std::find_if(found.begin(), found.end(), [](const PluginDescription &d) {
        return d.uid == "lv2:" + x42Equalizer;
    });
    ASSERT_NE(eq, found.end());
    EXPECT_NE(std::find(eq->tags.begin(), eq->tags.end(), "EQ"), eq->tags.end());
}

// Notes rather than audio as the source: media files written with the project need not keep
// every bit of a clip made in memory, which would hide what the plug-ins do.
TEST(RackLv2, InsertsSoundTheSameAfterSavingAndReopeningTheProject) {
    TemporaryFolder folder;
    const std::string projectFolder = (folder.path() / "Lv2.halvora").string();
    std::vector<float> before, dry;
    {
        Lv2Session dryRun;
        addNotesTrack(dryRun.engine, 0);
        dry = renderAll(dryRun.engine);
    }
    {
        Lv2Session editing;
        const uint64_t trackId = addNotesTrack(editing.engine, 0);
        ASSERT_TRUE(editing.rack.loadVst3(trackId, "", "lv2:" + x42Equalizer));
        ASSERT_TRUE(editing.rack.loadLv2(trackId, lspCompressor));
        setControl(editing.rack, trackId, 0, "sec1", 1.0f);
        setControl(editing.rack, trackId, 0, "freq1", 300.0f);
        setControl(editing.rack, trackId, 0, "gain1", -12.0f);
        setControl(editing.rack, trackId, 1, "al", 0.05f);
        setControl(editing.rack, trackId, 1, "cr", 8.0f);
        editing.rack.saveStatesIntoProject();
        std::string warnings;
        ASSERT_TRUE(restoreRackForRender(editing.rack, rate, block, &warnings)) << warnings;
        before = renderAll(editing.engine);
        std::lock_guard lock(editing.engine.projectMutex);
        const auto saved = project_io::saveProject(editing.engine.project, projectFolder, false);
        ASSERT_TRUE(saved.ok) << saved.error;
    }
    ASSERT_EQ(before.size(), dry.size());
    EXPECT_LT(rmsOf(before), 0.7 * rmsOf(dry)) << "the cut and the compression must be heard";
    const std::string document = readText(std::filesystem::path(projectFolder) / "project.json");
    EXPECT_NE(document.find("\"lv2:" + x42Equalizer + "\""), std::string::npos);

    std::optional<Project> loaded = project_io::loadProject(projectFolder);
    ASSERT_TRUE(loaded);
    Lv2Session reopened;
    reopened.engine.replaceProject(std::move(*loaded));
    reopened.engine.prepareToPlay(rate, block);
    std::string warnings;
    ASSERT_TRUE(restoreRackForRender(reopened.rack, rate, block, &warnings)) << warnings;
    const uint64_t trackId = reopened.engine.project.tracks.front()->id;
    EXPECT_TRUE(insertOf(reopened.engine, trackId, 0).bundlePath.empty());
    EXPECT_TRUE(renderAll(reopened.engine) == before)
        << "reopened, the project must render bit for bit the same";
}

// What a parameter edit of the window asks of the rack: the value set, and a state that holds
// it, for an LV2 and a VST 3 insert; nothing for a built-in insert or an index out of range.
TEST(RackLv2, AParameterSetThroughTheRackIsInTheStateItGivesBack) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Lv2Session session;
    const uint64_t trackId = addToneTrack(session.engine);
    ASSERT_TRUE(session.rack.loadLv2(trackId, x42Equalizer));
    ASSERT_TRUE(session.rack.loadVst3(trackId, testing::zamBundle("ZamComp"), ""));
    ASSERT_TRUE(session.rack.loadStock(trackId, "stock.delay"));
    // Held as a window holds it, so that no new instance can take its address.
    std::shared_ptr<lv2::Lv2Plugin> held;
    {
        std::lock_guard lock(session.rack.slotsMutex);
        held = session.rack.slots.front().lv2Plugin;
    }
    lv2::Lv2Plugin *equalizer = held.get();
    ASSERT_NE(equalizer, nullptr);
    EXPECT_TRUE(session.rack.holdsInstance(equalizer));
    const auto gain = static_cast<uint32_t>(equalizer->parameterIndex("gain"));
    constexpr uint32_t zamThreshold = 7;

    const auto lv2State = session.rack.setParameterAndReadState(trackId, 0, gain, 0.0f);
    ASSERT_TRUE(lv2State.has_value());
    EXPECT_EQ(equalizer->parameterValue(gain), -18.0f);
    const auto vst3State = session.rack.setParameterAndReadState(trackId, 1, zamThreshold, 0.25f);
    ASSERT_TRUE(vst3State.has_value());
    EXPECT_FALSE(session.rack.setParameterAndReadState(trackId, 2, 0, 0.5f).has_value());
    EXPECT_FALSE(session.rack.setParameterAndReadState(trackId, 0, 100000, 0.5f).has_value());
    EXPECT_FALSE(session.rack.setParameterAndReadState(trackId, 3, 0, 0.5f).has_value());

    // The VST 3 state is checked where plug-ins are restored from it; this rack's folders do
    // not hold the bundle. Restored from the LV2 state alone, its value comes back.
    {
        Vst3Plugin fresh;
        ASSERT_TRUE(fresh.load(testing::zamBundle("ZamComp"), ""));
        ASSERT_TRUE(fresh.setState(*vst3State));
        EXPECT_NEAR(fresh.getParameterNormalized(zamThreshold), 0.25f, 1e-5f);
    }
    {
        std::lock_guard lock(session.engine.projectMutex);
        insertOf(session.engine, trackId, 0).state = *lv2State;
    }
    session.rack.restoreFromProject();
    EXPECT_FALSE(session.rack.holdsInstance(equalizer)) << "the old instance is gone";
    lv2::Lv2Plugin *restored = session.rack.lv2PluginAt(trackId, 0);
    ASSERT_NE(restored, nullptr);
    EXPECT_TRUE(session.rack.holdsInstance(restored));
    EXPECT_EQ(restored->parameterValue(gain), -18.0f);
}

TEST(RackLv2, AnEmptyStateMeansTheDefaultControlValues) {
    Lv2Session session;
    const uint64_t trackId = addToneTrack(session.engine);
    const std::vector<uint8_t> empty;
    ASSERT_TRUE(session.rack.loadLv2(trackId, x42Equalizer, &empty));
    lv2::Lv2Plugin *plugin = session.rack.lv2PluginAt(trackId, 0);
    ASSERT_NE(plugin, nullptr);
    for (std::size_t index = 0; index < plugin->parameters.size(); ++index)
        EXPECT_EQ(plugin->parameterValue(index), plugin->parameters[index].defaultValue);
    EXPECT_TRUE(insertOf(session.engine, trackId, 0).state.empty());
}

/// The x42 EQ's output gain control.
uint32_t gainPort() {
    lv2::Lv2Plugin plugin;
    EXPECT_TRUE(plugin.load(x42Equalizer));
    return plugin.parameters.at(static_cast<std::size_t>(plugin.parameterIndex("gain"))).portIndex;
}

/// The tone through the x42 EQ whose output gain is automated from its top to its bottom.
std::vector<float> renderAutomatedGain(bool automated, bool bypassed, bool sandboxed = false) {
    Lv2Session session(sandboxed);
    const uint64_t trackId = addToneTrack(session.engine);
    EXPECT_TRUE(session.rack.loadLv2(trackId, x42Equalizer)) << session.controller.lastError;
    EXPECT_EQ(session.rack.slots.at(0).sandboxed != nullptr, sandboxed);
    {
        std::lock_guard lock(session.engine.projectMutex);
        InsertSlot &insert = insertOf(session.engine, trackId, 0);
        insert.bypassed = bypassed;
        if (automated) {
            insert.automParamId = gainPort();
            insert.paramAutomation = {{0, 1.0f}, {frames, 0.0f}};
        }
        session.engine.publishGraph();
    }
    session.rack.publishRtView();
    return renderAll(session.engine);
}

TEST(RackLv2, AutomationOfAControlPortIsRenderedAndBypassPassesTheSignal) {
    const std::vector<float> still = renderAutomatedGain(false, false);
    const std::vector<float> automated = renderAutomatedGain(true, false);
    const std::vector<float> again = renderAutomatedGain(true, false);
    const std::vector<float> bypassed = renderAutomatedGain(true, true);
    Lv2Session dryRun;
    addToneTrack(dryRun.engine);
    const std::vector<float> dry = renderAll(dryRun.engine);
    EXPECT_TRUE(automated == again) << "automation must render the same every time";
    // Full gain at the start, the bottom of the range at the end.
    EXPECT_GT(rmsOf(automated, 0, 2000), 1.5 * rmsOf(still, 0, 2000));
    EXPECT_LT(rmsOf(automated, frames - 2000), 0.5 * rmsOf(still, frames - 2000));
    EXPECT_TRUE(bypassed == dry);
}

TEST(RackLv2, AnInstrumentPlaysTheNotesOfItsMidiTrack) {
    constexpr int64_t firstNote = 6000;
    Lv2Session session;
    const uint64_t trackId = addNotesTrack(session.engine, firstNote);
    ASSERT_TRUE(session.rack.loadLv2(trackId, calfMonosynth));
    const std::vector<float> played = renderAll(session.engine);
    Lv2Session plain;
    addNotesTrack(plain.engine, firstNote);
    const std::vector<float> builtIn = renderAll(plain.engine);
    EXPECT_LT(rmsOf(played, 0, firstNote), 1e-5) << "silent before the first note";
    EXPECT_GT(rmsOf(played, firstNote, firstNote + 4000), 0.01);
    EXPECT_FALSE(played == builtIn) << "the instrument, not the built-in voice, must be heard";
}

uint64_t addImpulseTrack(Engine &engine) {
    std::lock_guard lock(engine.projectMutex);
    auto track = engine.project.addTrack(TrackType::Audio, "");
    auto clip = engine.project.addClip(track->id, ClipKind::Audio);
    std::vector<float> impulse(static_cast<std::size_t>(frames));
    impulse[1000] = 0.25f;
    clip->channels = 1;
    clip->length = frames;
    clip->audio = std::make_shared<std::vector<float>>(std::move(impulse));
    engine.publishGraph();
    return track->id;
}

int64_t loudestFrameOf(Engine &engine, uint64_t trackId) {
    std::vector<float> out;
    std::string error;
    EXPECT_TRUE(renderTrackMixdown(engine, trackId, out, 0, frames, 2, &error)) << error;
    const auto loudest = std::max_element(
        out.begin(), out.end(), [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    return (loudest - out.begin()) / 2;
}

TEST(RackLv2, AReportedLatencyKeepsTheTrackInLineWithAPlainOne) {
    Lv2Session session;
    const uint64_t limited = addImpulseTrack(session.engine);
    const uint64_t plain = addImpulseTrack(session.engine);
    const int64_t before = loudestFrameOf(session.engine, limited);
    ASSERT_TRUE(session.rack.loadLv2(limited, "http://gareus.org/oss/lv2/dpl#stereo"));
    const int32_t latency = session.rack.latencySamples(limited);
    ASSERT_GT(latency, 0);
    EXPECT_EQ(loudestFrameOf(session.engine, limited), before + latency);
    EXPECT_EQ(loudestFrameOf(session.engine, plain), before + latency);
}

// What the undoable insert edits do: save the states, edit the list, rebuild from it.
TEST(RackLv2, ReorderingInsertsKeepsEachOnesSettingsAndBypass) {
    Lv2Session session;
    const uint64_t trackId = addToneTrack(session.engine);
    ASSERT_TRUE(session.rack.loadLv2(trackId, x42Equalizer));
    ASSERT_TRUE(session.rack.loadLv2(trackId, x42Equalizer));
    setControl(session.rack, trackId, 0, "gain", -6.0f);
    setControl(session.rack, trackId, 1, "gain", 4.0f);
    session.rack.saveStatesIntoProject();
    {
        std::lock_guard lock(session.engine.projectMutex);
        auto &inserts = session.engine.project.findTrack(trackId)->inserts;
        inserts[1].bypassed = true;
        std::swap(inserts[0], inserts[1]);
    }
    EXPECT_EQ(session.rack.restoreFromProject(), 0);
    const auto gainOf = [&](int32_t insert) {
        lv2::Lv2Plugin *plugin = session.rack.lv2PluginAt(trackId, insert);
        return plugin ? plugin->parameterValue(
                            static_cast<std::size_t>(plugin->parameterIndex("gain")))
                      : -100.0f;
    };
    EXPECT_EQ(gainOf(0), 4.0f);
    EXPECT_EQ(gainOf(1), -6.0f);
    EXPECT_TRUE(insertOf(session.engine, trackId, 0).bypassed);
    EXPECT_FALSE(insertOf(session.engine, trackId, 1).bypassed);
}

TEST(SandboxedLv2, AnInstrumentInAHelperPlaysTheNotesOfItsMidiTrack) {
    constexpr int64_t firstNote = 6144; // on a block's start, where the helper starts notes
    Lv2Session local;
    const uint64_t localTrack = addNotesTrack(local.engine, firstNote);
    ASSERT_TRUE(local.rack.loadLv2(localTrack, calfMonosynth));
    const std::vector<float> inProcess = renderAll(local.engine);
    Lv2Session session(true);
    const uint64_t trackId = addNotesTrack(session.engine, firstNote);
    ASSERT_TRUE(session.rack.loadLv2(trackId, calfMonosynth)) << session.controller.lastError;
    ASSERT_TRUE(session.rack.slots.at(0).plugin->runsInHelper());
    const std::vector<float> played = renderAll(session.engine);
    EXPECT_LT(rmsOf(played, 0, firstNote), 1e-5) << "silent before the first note";
    EXPECT_GT(rmsOf(played, firstNote, firstNote + 4000), 0.01);
    EXPECT_NEAR(rmsOf(played), rmsOf(inProcess), 0.1 * rmsOf(inProcess))
        << "notes on block starts sound in the helper as they do in process";
}

/// The shared helpers a track's inserts run in, once the track asked for `grouping`.
std::vector<std::vector<int32_t>> groupedAs(Lv2Session &session, uint64_t trackId,
                                            SandboxGrouping grouping) {
    {
        std::lock_guard lock(session.engine.projectMutex);
        session.engine.project.findTrack(trackId)->sandboxGrouping = grouping;
    }
    session.rack.publishRtView();
    session.rack.regroupSandboxedInserts();
    std::vector<std::vector<int32_t>> groups;
    for (const auto &group : session.rack.sandboxGroupsOf(trackId))
        groups.push_back(group->insertIndices);
    return groups;
}

// The block's notes reach a shared helper's first plug-in alone: an instrument heads its group,
// and plays there as it does in a helper of its own.
TEST(SandboxedLv2, AnInstrumentHeadsASharedHelperAndPlaysAsInOneOfItsOwn) {
    constexpr int64_t firstNote = 6144;
    struct Case {
        const char *what;
        std::vector<std::string> inserts;
        std::vector<std::vector<int32_t>> groups;
    };
    const Case cases[] = {
        {"an instrument before an effect", {calfMonosynth, x42Equalizer}, {{0, 1}}},
        {"an instrument after an effect", {x42Equalizer, calfMonosynth, x42Equalizer}, {{1, 2}}},
    };
    for (const Case &test : cases) {
        std::vector<float> renders[2];
        const SandboxGrouping groupings[] = {SandboxGrouping::PerPlugin, SandboxGrouping::PerTrack};
        for (int which = 0; which < 2; ++which) {
            Lv2Session session(true);
            const uint64_t trackId = addNotesTrack(session.engine, firstNote);
            for (const std::string &uri : test.inserts)
                ASSERT_TRUE(session.rack.loadLv2(trackId, uri)) << session.controller.lastError;
            const auto groups = groupedAs(session, trackId, groupings[which]);
            EXPECT_EQ(groups, which == 0 ? std::vector<std::vector<int32_t>>{} : test.groups)
                << test.what;
            renders[which] = renderAll(session.engine);
        }
        EXPECT_GT(rmsOf(renders[1], firstNote, firstNote + 4000), 0.01) << test.what;
        EXPECT_TRUE(renders[1] == renders[0]) << test.what << ": as in helpers of their own";
    }
}

TEST(RackLv2, AMissingPluginStaysAsAPlaceholderThatKeepsItsRecord) {
    Lv2Session session;
    const uint64_t trackId = addToneTrack(session.engine);
    InsertSlot missing;
    missing.pluginId = "lv2:urn:halvora:test:not-installed";
    missing.displayName = "Gone";
    missing.state = {'a', 'b', 'c'};
    missing.bypassed = true;
    {
        std::lock_guard lock(session.engine.projectMutex);
        session.engine.project.findTrack(trackId)->inserts.push_back(missing);
    }
    std::string warnings;
    EXPECT_EQ(session.rack.restoreFromProject(&warnings), 1);
    EXPECT_NE(warnings.find("LV2 unavailable: Gone (urn:halvora:test:not-installed)"),
              std::string::npos);
    EXPECT_FALSE(session.rack.insertAvailable(trackId, 0));
    EXPECT_TRUE(insertOf(session.engine, trackId, 0) == missing);
    session.rack.saveStatesIntoProject();
    EXPECT_TRUE(insertOf(session.engine, trackId, 0) == missing);
}

TEST(RackLv2, ProcessingInsertsNeitherAllocatesNorFrees) {
    Lv2Session session;
    const uint64_t tone = addToneTrack(session.engine);
    const uint64_t notes = addNotesTrack(session.engine, 100);
    ASSERT_TRUE(session.rack.loadLv2(tone, lspCompressor));
    ASSERT_TRUE(session.rack.loadLv2(notes, calfMonosynth));
    {
        std::lock_guard lock(session.engine.projectMutex);
        InsertSlot &insert = insertOf(session.engine, tone, 0);
        insert.paramAutomation = {{0, 0.0f}, {frames, 1.0f}};
        session.engine.publishGraph();
    }
    session.rack.publishRtView();
    std::vector<float> left(block), right(block);
    processTrackAsAudio(session.rack, tone, left.data(), right.data(), block);
    double loudest = 0.0;
    orvane::testing::AllocationScope scope;
    for (int64_t position = 0; position < frames; position += block) {
        session.engine.renderPosition.store(position);
        processTrackAsAudio(session.rack, tone, left.data(), right.data(), block);
        processTrackAsAudio(session.rack, notes, left.data(), right.data(), block);
        loudest = std::max(loudest, testing::rms(left.data(), left.size()));
    }
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_EQ(scope.frees(), 0u);
    ASSERT_TRUE(session.rack.lastAutomationValue(tone, 0));
    EXPECT_GT(loudest, 0.01) << "the instrument played";
}

TEST(SandboxedLv2, AutomationRendersBitForBitAsInProcess) {
    const std::vector<float> local = renderAutomatedGain(true, false, false);
    const std::vector<float> sandboxed = renderAutomatedGain(true, false, true);
    const std::vector<float> still = renderAutomatedGain(false, false, true);
    ASSERT_EQ(sandboxed.size(), local.size());
    EXPECT_TRUE(sandboxed == local) << "the automated renders must agree bit for bit";
    EXPECT_FALSE(sandboxed == still) << "the automation must be heard";
}

/// The tone through two x42 EQs, the second one's gain automated; sandboxed, they share the
/// track's helper. The states saved afterwards go into `states`.
std::vector<float> renderTwoEqualizers(bool sandboxed, std::vector<std::vector<uint8_t>> &states) {
    Lv2Session session(sandboxed);
    const uint64_t trackId = addToneTrack(session.engine);
    for (int insert = 0; insert < 2; ++insert)
        EXPECT_TRUE(session.rack.loadLv2(trackId, x42Equalizer)) << session.controller.lastError;
    {
        std::lock_guard lock(session.engine.projectMutex);
        InsertSlot &automated = insertOf(session.engine, trackId, 1);
        automated.automParamId = gainPort();
        automated.paramAutomation = {{0, 1.0f}, {frames, 0.0f}};
        session.engine.project.findTrack(trackId)->sandboxGrouping = SandboxGrouping::PerTrack;
        session.engine.publishGraph();
    }
    session.rack.publishRtView();
    session.rack.regroupSandboxedInserts();
    EXPECT_EQ(session.rack.sandboxGroupsOf(trackId).size(), sandboxed ? 1u : 0u);
    const std::vector<float> rendered = renderAll(session.engine);
    session.rack.saveStatesIntoProject();
    std::lock_guard lock(session.engine.projectMutex);
    for (std::size_t insert = 0; insert < 2; ++insert)
        states.push_back(insertOf(session.engine, trackId, insert).state);
    return rendered;
}

TEST(SandboxedLv2, EffectsSharingATracksHelperRenderBitForBitAsInProcessAndSaveTheirStates) {
    std::vector<std::vector<uint8_t>> sharedStates, localStates;
    const std::vector<float> shared = renderTwoEqualizers(true, sharedStates);
    const std::vector<float> local = renderTwoEqualizers(false, localStates);
    ASSERT_EQ(shared.size(), local.size());
    EXPECT_TRUE(shared == local) << "the renders must agree bit for bit";
    EXPECT_EQ(sharedStates, localStates);
    EXPECT_FALSE(sharedStates.at(0).empty());
}

TEST(SandboxedLv2, StateSavedInTheHelperRestoresInProcess) {
    std::vector<uint8_t> state;
    {
        Lv2Session sandboxed(true);
        const uint64_t trackId = addToneTrack(sandboxed.engine);
        ASSERT_TRUE(sandboxed.rack.loadLv2(trackId, x42Equalizer))
            << sandboxed.controller.lastError;
        ASSERT_TRUE(sandboxed.rack.slots.at(0).plugin->runsInHelper());
        EXPECT_GT(sandboxed.rack.slots.at(0).sandboxed->helperProcessId(), 0);
        EXPECT_EQ(sandboxed.rack.slots.at(0).plugin->description.format, "LV2");
        sandboxed.rack.saveStatesIntoProject();
        std::lock_guard lock(sandboxed.engine.projectMutex);
        const InsertSlot &insert = insertOf(sandboxed.engine, trackId, 0);
        EXPECT_EQ(insert.pluginId, "lv2:" + x42Equalizer);
        EXPECT_TRUE(insert.bundlePath.empty());
        state = insert.state;
    }
    ASSERT_FALSE(state.empty());
    lv2::Lv2Plugin local;
    ASSERT_TRUE(local.load(x42Equalizer));
    ASSERT_TRUE(local.prepare(rate, block));
    EXPECT_TRUE(local.setState(state)) << local.lastError;
}

// The test bundle writes a file with its state; in a helper it must land in the project's
// folder as it does in process, or the project loses it when the helper's scratch goes.
TEST(SandboxedLv2, FilesThePluginWritesWithItsStateLandInTheProjectFolder) {
    const std::string fileState = "urn:halvora:test:file-state";
    Lv2Session sandboxed(true);
    testing::ScopedEnvironment folders("LV2_PATH",
                                       std::string(HALVORA_LV2_TEST_BUNDLES_DIR) + ":/usr/lib/lv2");
    {
        std::lock_guard lock(lv2::Lv2World::lock());
        ASSERT_TRUE(lv2::Lv2World::instance().loadBundle(std::string(HALVORA_LV2_TEST_BUNDLES_DIR) +
                                                         "/HalvoraFileState.lv2"));
    }
    TemporaryFolder project;
    const uint64_t trackId = addToneTrack(sandboxed.engine);
    {
        std::lock_guard lock(sandboxed.engine.projectMutex);
        sandboxed.engine.project.rootPath = project.path().string();
    }
    ASSERT_TRUE(sandboxed.rack.loadLv2(trackId, fileState)) << sandboxed.controller.lastError;
    ASSERT_TRUE(sandboxed.rack.slots.at(0).plugin->runsInHelper());
    sandboxed.rack.saveStatesIntoProject();
    std::vector<std::filesystem::path> written;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(project.path()))
        if (entry.path().filename() == "contents.txt") written.push_back(entry.path());
    ASSERT_EQ(written.size(), 1u) << "the plug-in's file is inside the project folder";
    EXPECT_NE(written[0].string().find("/plugin-files/"), std::string::npos) << written[0];

    std::vector<uint8_t> state;
    {
        std::lock_guard lock(sandboxed.engine.projectMutex);
        state = insertOf(sandboxed.engine, trackId, 0).state;
    }
    lv2::Lv2Plugin restored;
    ASSERT_TRUE(restored.load(fileState));
    (void)restored.setStateFolder((project.path() / "plugin-files").string());
    ASSERT_TRUE(restored.prepare(rate, 64));
    ASSERT_TRUE(restored.setState(state)) << restored.lastError;
    std::vector<float> left(64), right(64);
    ASSERT_TRUE(restored.process(left.data(), right.data(), 64));
    EXPECT_EQ(left[0], 7.0f) << "the restored plug-in read its file back";
}

// A project whose "plugin-files" cannot hold files still saves the states, but the save says
// so, in either place the plug-in runs; a folder that works says nothing.
TEST(SandboxedLv2, AStateFolderThatCannotBeWrittenIsReportedByTheSave) {
    namespace fs = std::filesystem;
    const std::string fileState = "urn:halvora:test:file-state";
    struct Case {
        const char *what;
        std::function<void(const fs::path &)> spoil; // turns the folder into something unwritable
        bool writable;
    };
    // Whoever prepared the project must not be able to send the owner's files anywhere else.
    TemporaryFolder elsewhere;
    const std::vector<Case> cases = {
        {"a folder that works", [](const fs::path &) {}, true},
        {"a regular file", [](const fs::path &at) { std::ofstream(at) << "in the way"; }, false},
        {"a dangling link",
         [](const fs::path &at) { fs::create_symlink("/nowhere/at/all", at); }, false},
        {"a link into /proc",
         [](const fs::path &at) { fs::create_directory_symlink("/proc/self", at); }, false},
        {"a link to a writable folder outside the project",
         [&](const fs::path &at) { fs::create_directory_symlink(elsewhere.path(), at); }, false},
    };
    for (const bool sandboxed : {false, true})
        for (const Case &each : cases) {
            Lv2Session session(sandboxed);
            // After the session, which empties the folders; the helper looks here too.
            testing::ScopedEnvironment folders(
                "LV2_PATH", std::string(HALVORA_LV2_TEST_BUNDLES_DIR) + ":/usr/lib/lv2");
            {
                std::lock_guard lock(lv2::Lv2World::lock());
                ASSERT_TRUE(lv2::Lv2World::instance().loadBundle(
                    std::string(HALVORA_LV2_TEST_BUNDLES_DIR) + "/HalvoraFileState.lv2"));
            }
            TemporaryFolder project;
            each.spoil(project.path() / "plugin-files");
            const uint64_t trackId = addToneTrack(session.engine);
            {
                std::lock_guard lock(session.engine.projectMutex);
                session.engine.project.rootPath = project.path().string();
            }
            ASSERT_TRUE(session.rack.loadLv2(trackId, fileState)) << session.controller.lastError;
            session.rack.saveStatesIntoProject();
            const std::string &warning = session.rack.stateFolderWarning;
            EXPECT_TRUE(fs::is_empty(elsewhere.path())) << each.what << ", " << sandboxed;
            if (each.writable) {
                EXPECT_EQ(warning, "") << sandboxed;
                continue;
            }
            EXPECT_NE(warning.find((project.path() / "plugin-files").string()), std::string::npos)
                << each.what << (sandboxed ? ", sandboxed: " : ": ") << warning;
            std::lock_guard lock(session.engine.projectMutex);
            EXPECT_FALSE(insertOf(session.engine, trackId, 0).state.empty())
                << each.what << ": the state itself is still saved";
        }
}

TEST(SandboxedLv2, APluginThatCrashesIsBlacklistedAndTheRenderGoesOn) {
    const std::string crashId = "lv2:urn:halvora:test:crash-on-instantiate";
    Lv2Session session(true);
    // After the session, whose environment shows the installed plug-ins only.
    testing::ScopedEnvironment folders("LV2_PATH",
                                       std::string(HALVORA_LV2_TEST_BUNDLES_DIR) + ":/usr/lib/lv2");
    const uint64_t trackId = addToneTrack(session.engine);
    {
        std::lock_guard lock(session.engine.projectMutex);
        InsertSlot crashing;
        crashing.pluginId = crashId;
        InsertSlot healthy;
        healthy.pluginId = "lv2:" + x42Equalizer;
        auto track = session.engine.project.findTrack(trackId);
        track->inserts = {crashing, healthy};
    }
    session.rack.scan();
    const auto listed = std::find_if(session.rack.plugins.begin(), session.rack.plugins.end(),
                                     [&](const PluginDescription &d) { return d.uid == crashId; });
    ASSERT_NE(listed, session.rack.plugins.end()) << "the scan reads data files only: it lists it";
    std::string warnings;
    EXPECT_EQ(session.rack.restoreFromProject(&warnings), 1) << warnings;
    EXPECT_TRUE(session.controller.running);
    const auto blacklist = session.rack.scanner.blacklist;
    EXPECT_NE(std::find(blacklist.begin(), blacklist.end(), crashId), blacklist.end());
    EXPECT_FALSE(session.rack.insertAvailable(trackId, 0));
    EXPECT_TRUE(session.rack.insertAvailable(trackId, 1));
    const std::vector<float> out = renderAll(session.engine);
    EXPECT_GT(rmsOf(out), 0.01) << "the render goes on through the healthy insert";
}

} // namespace
} // namespace orvane::vst
