// Presets of hosted plug-ins: the factory ones and the user's, listed in that order, read and
// saved, and loaded into an insert as an undoable edit that reaches the plug-in wherever it
// runs.
#include "core/commands/InsertEdits.h"
#include "core/commands/PluginPresetCommands.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginPresets.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2Presets.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "core/plugins/tests/PluginRackTestSupport.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/plugins/vst3/VstPresetFile.h"
#include "device/OfflineRender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace orvane::vst {
namespace {

namespace fs = std::filesystem;
using testing::RackEnvironment;

const std::string calfFilter = "http://calf.sourceforge.net/plugins/Filter";
const std::string calfFilterId = "lv2:" + calfFilter;
const std::string someClassId = "5A616D436F6D70ABCDEF0123456789AB";
constexpr double rate = 48000.0;
constexpr int32_t block = 512;
constexpr int64_t frames = 96000;

std::vector<std::string> namesOf(const PresetListing &listing) {
    std::vector<std::string> names;
    for (const PluginPreset &preset : listing.presets)
        names.push_back(preset.name);
    return names;
}

/// The state of a Calf Filter set to `frequency`.
std::vector<uint8_t> filterState(float frequency) {
    lv2::Lv2Plugin plugin;
    EXPECT_TRUE(plugin.load(calfFilter)) << plugin.lastError;
    EXPECT_TRUE(plugin.prepare(rate, block));
    EXPECT_TRUE(
        plugin.setParameterValue(static_cast<size_t>(plugin.parameterIndex("freq")), frequency));
    std::vector<uint8_t> state;
    EXPECT_TRUE(plugin.getState(state)) << plugin.lastError;
    return state;
}

TEST(PluginPresets, FactoryPresetsComeFirstThenTheUsersByName) {
    RackEnvironment environment(true);
    PresetListing listing;
    std::string error;
    ASSERT_TRUE(listPluginPresets(calfFilterId, listing, error)) << error;
    const std::vector<std::string> factory = namesOf(listing);
    ASSERT_FALSE(factory.empty());
    std::string saved;
    ASSERT_TRUE(saveUserPreset(calfFilterId, "Zeta", filterState(300.0f), error)) << error;
    ASSERT_TRUE(saveUserPreset(calfFilterId, "Alpha", filterState(900.0f), error, &saved)) << error;
    EXPECT_TRUE(saved.starts_with(userPresetRoot() + "/lv2/")) << saved;
    EXPECT_EQ(userPresetRoot(), fs::path(std::getenv("XDG_DATA_HOME")) / "halvora" / "presets");

    ASSERT_TRUE(listPluginPresets(calfFilterId, listing, error)) << error;
    std::vector<std::string> expected = factory;
    expected.insert(expected.end(), {"Alpha", "Zeta"});
    EXPECT_EQ(namesOf(listing), expected);
    EXPECT_TRUE(listing.problems.empty());
    const auto alpha = findPresetByName(listing, "Alpha");
    ASSERT_TRUE(alpha);
    EXPECT_EQ(alpha->origin, PresetOrigin::user);
    EXPECT_EQ(findPresetByName(listing, factory.front())->origin, PresetOrigin::factory);
    std::vector<uint8_t> state;
    ASSERT_TRUE(readPresetState(calfFilterId, *alpha, state, error)) << error;
    lv2::Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(calfFilter) && plugin.prepare(rate, block));
    ASSERT_TRUE(plugin.setState(state)) << plugin.lastError;
    EXPECT_FLOAT_EQ(plugin.parameterValue(static_cast<size_t>(plugin.parameterIndex("freq"))),
                    900.0f);
}

TEST(PluginPresets, AnUnreadableUserPresetIsNamedAndLeftOut) {
    RackEnvironment environment(true);
    std::string error, saved;
    ASSERT_TRUE(saveUserPreset(calfFilterId, "Kept", filterState(300.0f), error)) << error;
    ASSERT_TRUE(saveUserPreset(calfFilterId, "Broken", filterState(600.0f), error, &saved));
    const fs::path file = fs::path(saved) / lv2::lv2PresetFileName;
    const auto size = fs::file_size(file);
    fs::resize_file(file, size / 2);
    PresetListing listing;
    ASSERT_TRUE(listPluginPresets(calfFilterId, listing, error)) << error;
    EXPECT_FALSE(findPresetByName(listing, "Broken"));
    EXPECT_TRUE(findPresetByName(listing, "Kept"));
    ASSERT_EQ(listing.problems.size(), 1u);
    EXPECT_NE(listing.problems[0].find(saved), std::string::npos) << listing.problems[0];
    std::vector<uint8_t> state{'u'};
    EXPECT_FALSE(
        readPresetState(calfFilterId, {"Broken", PresetOrigin::user, saved}, state, error));
    EXPECT_EQ(state, std::vector<uint8_t>{'u'});
}

TEST(PluginPresets, Vst3UserPresetsAreVstpresetFilesOfTheirClass) {
    RackEnvironment environment;
    const std::vector<uint8_t> component{1, 2, 3, 0, 255};
    std::string error, saved;
    ASSERT_TRUE(saveUserPreset(someClassId, "Мой пресет", component, error, &saved)) << error;
    EXPECT_EQ(fs::path(saved).filename(), "Мой пресет.vstpreset");
    std::ifstream in(saved, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    VstPresetFile file;
    ASSERT_TRUE(readVstPresetFile(bytes, file, error)) << error;
    EXPECT_EQ(file.classId, someClassId);
    EXPECT_EQ(file.componentState, component);

    // A preset of another class put into this class's folder is named, not listed.
    VstPresetFile other = file;
    other.classId = "00000000000000000000000000000001";
    const auto otherBytes = writeVstPresetFile(other);
    std::ofstream(fs::path(saved).parent_path() / "Stray.vstpreset", std::ios::binary)
        .write(reinterpret_cast<const char *>(otherBytes.data()),
               static_cast<std::streamsize>(otherBytes.size()));
    PresetListing listing;
    ASSERT_TRUE(listPluginPresets(someClassId, listing, error)) << error;
    EXPECT_EQ(namesOf(listing), std::vector<std::string>{"Мой пресет"});
    ASSERT_EQ(listing.problems.size(), 1u);
    EXPECT_NE(listing.problems[0].find("Stray.vstpreset"), std::string::npos);
    std::vector<uint8_t> state;
    ASSERT_TRUE(readPresetState(someClassId, listing.presets[0], state, error)) << error;
    EXPECT_EQ(state, component);
}

const std::string programEffect =
    std::string(HALVORA_PROGRAM_BUNDLES_DIR) + "/HalvoraProgramEffect.vst3";

std::string programEffectClassId() {
    Vst3Plugin plugin;
    EXPECT_TRUE(plugin.load(programEffect, ""));
    return plugin.description.uid;
}

/// The level a program's state gives a steady signal through a fresh instance.
float levelAfter(const std::vector<uint8_t> &state) {
    Vst3Plugin plugin;
    EXPECT_TRUE(plugin.load(programEffect, "") && plugin.prepare(rate, block));
    EXPECT_TRUE(plugin.setState(state));
    std::vector<float> left(block, 0.5f), right(block, 0.5f);
    plugin.process(left.data(), right.data(), block);
    return left.back() / 0.5f;
}

TEST(PluginPresets, AVst3PluginsProgramsComeFirstInItsOrderThenTheUsersPresets) {
    RackEnvironment environment;
    const std::string classId = programEffectClassId();
    std::string error;
    PresetListing listing;
    ASSERT_TRUE(listPluginPresets(classId, listing, error, programEffect)) << error;
    ASSERT_EQ(namesOf(listing), (std::vector<std::string>{"Unity", "Half", "Quiet"}));
    std::vector<uint8_t> quiet;
    ASSERT_TRUE(readPresetState(classId, listing.presets[2], quiet, error, programEffect)) << error;
    EXPECT_NEAR(levelAfter(quiet), 0.1f, 1e-6f);
    ASSERT_TRUE(saveUserPreset(classId, "Mine", quiet, error)) << error;
    ASSERT_TRUE(listPluginPresets(classId, listing, error, programEffect)) << error;
    EXPECT_EQ(namesOf(listing), (std::vector<std::string>{"Unity", "Half", "Quiet", "Mine"}));
    EXPECT_EQ(listing.presets[0].origin, PresetOrigin::factory);
    EXPECT_EQ(listing.presets[3].origin, PresetOrigin::user);
    std::vector<uint8_t> mine;
    ASSERT_TRUE(readPresetState(classId, listing.presets[3], mine, error)) << error;
    EXPECT_EQ(mine, quiet);

    // Without the bundle only the user's presets; a bundle of another class is refused.
    ASSERT_TRUE(listPluginPresets(classId, listing, error)) << error;
    EXPECT_EQ(namesOf(listing), std::vector<std::string>{"Mine"});
    EXPECT_FALSE(listPluginPresets(classId, listing, error, testing::rackDelayEffectPath()));
    EXPECT_FALSE(error.empty());
    // A program that is not the plug-in's is refused and changes nothing.
    std::vector<uint8_t> state{'u'};
    EXPECT_FALSE(readPresetState(classId, {"Made up", PresetOrigin::factory, "program:1:0.25"},
                                 state, error, programEffect));
    EXPECT_EQ(state, std::vector<uint8_t>{'u'});
}

TEST(PluginPresets, IdsOfNeitherFormatAreRefused) {
    RackEnvironment environment(true);
    PresetListing listing;
    std::string error;
    for (const char *id : {"", "stock.comp", "vst3:A1B2", "lv2:urn:halvora:no-such-plugin"}) {
        SCOPED_TRACE(id);
        error.clear();
        EXPECT_FALSE(listPluginPresets(id, listing, error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(saveUserPreset(id, "x", {1}, error) && std::string(id).empty());
    }
}

/// The largest difference over the last quarter of two renders: by then the filter has
/// forgotten what it played before and has glided to its settings.
float settledDifference(const std::vector<float> &a, const std::vector<float> &b) {
    EXPECT_EQ(a.size(), b.size());
    float largest = 0.0f;
    for (std::size_t i = a.size() * 3 / 4; i < std::min(a.size(), b.size()); ++i)
        largest = std::max(largest, std::fabs(a[i] - b[i]));
    return largest;
}

/// An engine with a rack wired in, the plug-in state and insert list hooks pointed at it as
/// the application points them, and one audio track through a Calf Filter.
class PresetIntoAnInsert : public ::testing::TestWithParam<bool> {
  protected:
    PresetIntoAnInsert()
        : sandboxSwitch("HALVORA_VST_SANDBOX", GetParam() ? "1" : "0"),
          rack(pluginRackHostFor(engine), sandboxFor(controller)) {
        engine.prepareToPlay(rate, block);
        rack.prepare(rate, block);
        installPluginRackHooks(engine, rack);
        setPluginStateHook([this](uint64_t track, int32_t insert, const std::vector<uint8_t> &s) {
            return rack.setStateAndReadState(track, insert, s);
        });
        setInsertListHooks({[this] { rack.saveStatesIntoProject(); }, {}});
        std::lock_guard lock(engine.projectMutex);
        engine.project.sampleRate = rate;
        // Only the insert shapes the sound, so that a gain it applies is heard as it is.
        engine.project.masterEq.bypass = true;
        engine.project.mastering.bypass = true;
        auto track = engine.project.addTrack(TrackType::Audio, "");
        track->eq.bypass = true;
        auto clip = engine.project.addClip(track->id, ClipKind::Audio);
        std::vector<float> tone(static_cast<std::size_t>(frames));
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = static_cast<float>(0.4 * std::sin(2.0 * M_PI * 150.0 * i / rate) +
                                         0.3 * std::sin(2.0 * M_PI * 5000.0 * i / rate));
        clip->channels = 1;
        clip->length = frames;
        clip->audio = std::make_shared<std::vector<float>>(std::move(tone));
        trackId = track->id;
        engine.publishGraph();
    }
    ~PresetIntoAnInsert() override {
        setPluginStateHook({});
        setInsertListHooks({});
    }
    static PluginRackSandbox sandboxFor(PluginSandboxController &controller) {
        controller.enabled = sandboxEnabledFromEnvironment();
        controller.helperSearchFolder = testing::helperProgramFolder();
        return pluginRackSandboxFor(controller);
    }
    std::vector<float> render() {
        std::vector<float> out;
        std::string error;
        EXPECT_TRUE(renderMixdown(engine, out, 0, frames, 2, &error)) << error;
        return out;
    }
    std::vector<uint8_t> insertState() {
        std::lock_guard lock(engine.projectMutex);
        return engine.project.findTrack(trackId)->inserts.at(0).state;
    }

    RackEnvironment environment{true};
    testing::ScopedEnvironment sandboxSwitch;
    Engine engine;
    PluginSandboxController controller;
    PluginRack rack;
    uint64_t trackId = 0;
};

/// The state a fresh Calf Filter gives once it has taken `state`: what the insert's plug-in
/// must report after taking the same.
std::vector<uint8_t> stateOfAFreshFilterGiven(const std::vector<uint8_t> &state) {
    lv2::Lv2Plugin plugin;
    EXPECT_TRUE(plugin.load(calfFilter) && plugin.prepare(rate, block));
    EXPECT_TRUE(plugin.setState(state)) << plugin.lastError;
    std::vector<uint8_t> after;
    EXPECT_TRUE(plugin.getState(after)) << plugin.lastError;
    return after;
}

TEST_P(PresetIntoAnInsert, IsHeardKeptByTheInsertAndUndone) {
    ASSERT_TRUE(rack.loadLv2(trackId, calfFilter)) << controller.lastError;
    EXPECT_EQ(rack.slots.at(0).sandboxed != nullptr, GetParam());
    // Set by hand before the preset comes: the undo must give this back.
    ASSERT_TRUE(rack.setParameterAndReadState(trackId, 0, 1, 0.8f));
    const std::vector<float> before = render();
    const std::vector<uint8_t> stateBefore = [this] {
        rack.saveStatesIntoProject();
        return insertState();
    }();

    PresetListing listing;
    std::string error;
    ASSERT_TRUE(listPluginPresets(calfFilterId, listing, error)) << error;
    const auto disco = findPresetByName(listing, "Disco");
    ASSERT_TRUE(disco);
    std::vector<uint8_t> preset;
    ASSERT_TRUE(readPresetState(calfFilterId, *disco, preset, error)) << error;
    // A record older than what was set by hand: the command must ask the plug-in itself.
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.findTrack(trackId)->inserts.at(0).state.clear();
    }
    LoadPluginPresetCommand load(trackId, 0, calfFilterId, preset);
    {
        std::lock_guard lock(engine.projectMutex);
        load.redo(engine.project);
    }
    // The insert keeps what its live plug-in reports, wherever it runs: the preset's state.
    const std::vector<uint8_t> presetAsTaken = stateOfAFreshFilterGiven(preset);
    EXPECT_EQ(insertState(), presetAsTaken);
    rack.saveStatesIntoProject();
    EXPECT_EQ(insertState(), presetAsTaken);
    const std::vector<float> loaded = render();
    EXPECT_GT(settledDifference(loaded, before), 0.01f) << "the preset was not heard";

    {
        std::lock_guard lock(engine.projectMutex);
        load.undo(engine.project);
    }
    EXPECT_EQ(insertState(), stateBefore);
    rack.saveStatesIntoProject();
    EXPECT_EQ(insertState(), stateBefore) << "the plug-in kept the preset";
    EXPECT_GT(settledDifference(render(), loaded), 0.01f);

    {
        std::lock_guard lock(engine.projectMutex);
        load.redo(engine.project);
    }
    EXPECT_EQ(insertState(), presetAsTaken);
}

TEST_P(PresetIntoAnInsert, AStateThePluginRefusesChangesNothing) {
    ASSERT_TRUE(rack.loadLv2(trackId, calfFilter)) << controller.lastError;
    ASSERT_TRUE(rack.setParameterAndReadState(trackId, 0, 1, 0.3f));
    rack.saveStatesIntoProject();
    const std::vector<uint8_t> stateBefore = insertState();
    const std::string damaged = "<urn:x> a <urn:y";
    LoadPluginPresetCommand load(trackId, 0, calfFilterId, {damaged.begin(), damaged.end()});
    {
        std::lock_guard lock(engine.projectMutex);
        load.redo(engine.project);
    }
    EXPECT_EQ(insertState(), stateBefore);
    rack.saveStatesIntoProject();
    EXPECT_EQ(insertState(), stateBefore);
}

TEST_P(PresetIntoAnInsert, AVst3ProgramReachesThePluginWhereverItRuns) {
    const std::string classId = programEffectClassId();
    ASSERT_TRUE(rack.loadVst3(trackId, programEffect, classId)) << controller.lastError;
    EXPECT_EQ(rack.slots.at(0).sandboxed != nullptr, GetParam());
    const std::vector<float> before = render();
    PresetListing listing;
    std::string error;
    ASSERT_TRUE(listPluginPresets(classId, listing, error, programEffect)) << error;
    std::vector<uint8_t> half;
    ASSERT_TRUE(
        readPresetState(classId, *findPresetByName(listing, "Half"), half, error, programEffect))
        << error;
    // The insert itself lists its programs and takes a program's state, in its helper when it
    // runs in one, as the bundle loaded here does, and plays on unchanged meanwhile.
    Plugin &live = *rack.slots.at(0).plugin;
    PresetListing asked;
    ASSERT_TRUE(listPresetsOf(live, asked, error)) << error;
    std::vector<std::string> names;
    for (const PluginPreset &preset : asked.presets)
        names.push_back(preset.name + (preset.origin == PresetOrigin::factory ? " (factory)" : ""));
    EXPECT_EQ(names,
              (std::vector<std::string>{"Unity (factory)", "Half (factory)", "Quiet (factory)"}));
    std::vector<uint8_t> halfAsked;
    ASSERT_TRUE(readPresetStateOf(live, *findPresetByName(asked, "Half"), halfAsked, error))
        << error;
    EXPECT_EQ(halfAsked, half);
    EXPECT_EQ(render(), before) << "taking a program's state changed the insert";
    EXPECT_FALSE(readPresetStateOf(live, {"Other", PresetOrigin::factory, "program:1:0.25"},
                                   halfAsked, error))
        << "a program the plug-in does not list";
    EXPECT_FALSE(error.empty());
    // Its units are the generic editor's groups, wherever it runs.
    std::vector<std::string> groups;
    for (const PluginParameterInfo &parameter : live.listParameters())
        groups.push_back(parameter.name + " in " + parameter.group);
    EXPECT_EQ(groups, (std::vector<std::string>{"Gain in Level", "Program in "}));
    LoadPluginPresetCommand load(trackId, 0, classId, half);
    {
        std::lock_guard lock(engine.projectMutex);
        load.redo(engine.project);
    }
    EXPECT_EQ(insertState(), half);
    const std::vector<float> after = render();
    ASSERT_EQ(after.size(), before.size());
    float largest = 0.0f;
    for (std::size_t i = 0; i < after.size(); ++i)
        largest = std::max(largest, std::fabs(after[i] - 0.5f * before[i]));
    EXPECT_LT(largest, 1e-6f) << "the program's gain was not heard";
}

INSTANTIATE_TEST_SUITE_P(InProcessAndSandboxed, PresetIntoAnInsert, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Sandboxed" : "InProcess"; });

} // namespace
} // namespace orvane::vst
