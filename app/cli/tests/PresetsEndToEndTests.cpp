// Plug-in presets through the built program: `Halvora presets` lists what lv2info lists, then
// the user's own; a project whose insert had a preset loaded renders as lv2file plays that
// preset, in process and sandboxed.
#include "app/cli/tests/RunProgram.h"
#include "core/audiofile/AudioFile.h"
#include "core/commands/InsertEdits.h"
#include "core/commands/PluginPresetCommands.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginPresets.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Presets.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnvironment;

const std::string calfMonosynth = "http://calf.sourceforge.net/plugins/Monosynth";
const std::string calfFilter = "http://calf.sourceforge.net/plugins/Filter";
constexpr double rate = 48000.0;
constexpr int64_t frames = 24000;

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string outputOf(const std::string &command) {
    std::string text;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    std::array<char, 4096> buffer{};
    while (fgets(buffer.data(), static_cast<int>(buffer.size()), pipe))
        text += buffer.data();
    pclose(pipe);
    return text;
}

/// The preset names lv2info prints for a plug-in: the indented lines under "Presets:". lilv
/// hands lv2info the presets in an order that changes from run to run, so they come sorted.
std::vector<std::string> lv2infoPresets(const std::string &uri) {
    std::vector<std::string> names;
    bool inPresets = false;
    for (const std::string &line : linesOf(outputOf("lv2info '" + uri + "' 2>/dev/null"))) {
        if (line.find("Presets:") != std::string::npos) {
            inPresets = true;
            continue;
        }
        if (!inPresets) continue;
        const std::size_t text = line.find_first_not_of(" \t");
        if (text == std::string::npos || line.find(':') != std::string::npos) break;
        names.push_back(line.substr(text));
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PresetsVerb, ListsTheFactoryPresetsAsLv2infoShowsThem) {
    const auto scratch = testing::makeScratchFolder("presets_factory");
    ScopedEnvironment dataHome("XDG_DATA_HOME", (scratch / "data").string());
    for (const std::string &uri : {calfMonosynth, calfFilter}) {
        SCOPED_TRACE(uri);
        const auto run = testing::runHalvora({"presets", "lv2:" + uri}, scratch);
        ASSERT_EQ(run.exitStatus, 0) << run.errors;
        const std::vector<std::string> expected = lv2infoPresets(uri);
        ASSERT_FALSE(expected.empty()) << "lv2info lists no presets: is lilv-utils installed?";
        EXPECT_EQ(linesOf(run.output), expected);
        EXPECT_EQ(run.errors, "");
    }
}

TEST(PresetsVerb, ListsTheUsersPresetsAfterTheFactoryOnesAndNamesAnUnreadableOne) {
    const auto scratch = testing::makeScratchFolder("presets_user");
    ScopedEnvironment dataHome("XDG_DATA_HOME", (scratch / "data").string());
    const std::string pluginId = "lv2:" + calfFilter;
    vst::PresetListing listing;
    std::string error;
    ASSERT_TRUE(vst::listPluginPresets(pluginId, listing, error)) << error;
    std::vector<uint8_t> state;
    ASSERT_TRUE(vst::readPresetState(pluginId, listing.presets.front(), state, error)) << error;
    std::string broken;
    ASSERT_TRUE(vst::saveUserPreset(pluginId, "Мой фильтр", state, error)) << error;
    ASSERT_TRUE(vst::saveUserPreset(pluginId, "Broken", state, error, &broken)) << error;
    fs::resize_file(fs::path(broken) / lv2::lv2PresetFileName, 40);

    const auto run = testing::runHalvora({"presets", pluginId}, scratch);
    ASSERT_EQ(run.exitStatus, 0) << run.errors;
    std::vector<std::string> expected = lv2infoPresets(calfFilter);
    expected.push_back("Мой фильтр");
    EXPECT_EQ(linesOf(run.output), expected);
    EXPECT_NE(run.errors.find(broken), std::string::npos) << run.errors;
}

TEST(PresetsVerb, ListsAVst3PluginsProgramsFoundInTheVst3Folders) {
    const auto scratch = testing::makeScratchFolder("presets_programs");
    ScopedEnvironment dataHome("XDG_DATA_HOME", (scratch / "data").string());
    ScopedEnvironment pluginFolders("VST3_PATH", HALVORA_PROGRAM_BUNDLES_DIR);
    const std::string bundle =
        std::string(HALVORA_PROGRAM_BUNDLES_DIR) + "/HalvoraProgramEffect.vst3";
    vst::Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(bundle, ""));
    std::vector<std::string> expected;
    for (const vst::Vst3Program &program : plugin.factoryPrograms())
        expected.push_back(program.name);
    ASSERT_EQ(expected.size(), 3u);
    const auto run = testing::runHalvora({"presets", plugin.description.uid}, scratch);
    ASSERT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_EQ(linesOf(run.output), expected);
}

TEST(PresetsVerb, RefusesWhatIsNoPluginAndExplainsItself) {
    const auto scratch = testing::makeScratchFolder("presets_arguments");
    struct Case {
        std::vector<std::string> arguments;
        int status;
    };
    const Case cases[] = {{{"presets"}, 2},
                          {{"presets", "lv2:" + calfFilter, "extra"}, 2},
                          {{"presets", "--bogus"}, 2},
                          {{"presets", "lv2:urn:halvora:no-such-plugin"}, 1},
                          {{"presets", "stock.comp"}, 1},
                          {{"presets", "--help"}, 0}};
    for (const Case &test : cases) {
        SCOPED_TRACE(test.arguments.back());
        const auto run = testing::runHalvora(test.arguments, scratch);
        EXPECT_EQ(run.exitStatus, test.status) << run.errors;
        if (test.status == 0)
            EXPECT_NE(run.output.find("usage: Halvora presets"), std::string::npos);
        else
            EXPECT_NE(run.errors.find("presets: "), std::string::npos) << run.errors;
    }
}

/// Interleaved stereo with some of every frequency: two tones and deterministic noise.
std::vector<float> testAudio() {
    std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
    uint32_t seed = 99;
    for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const float noise = (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * 0.1f;
        const double t = static_cast<double>(i) / rate;
        samples[2 * i] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 110.0 * t)) + noise;
        samples[2 * i + 1] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 2500.0 * t)) - noise;
    }
    return samples;
}

/// Samples of a WAV file as floats, interleaved; empty when it cannot be read.
std::vector<float> readFloats(const fs::path &path) {
    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return {};
    std::vector<float> samples(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

/// A project of one audio track, its clip's media `media` (32-bit float, read as it is), with
/// a Calf Filter insert, saved to `folder`; with `preset`, that preset was loaded into the
/// insert through the undoable command while the insert ran.
void savePresetProject(const fs::path &folder, const fs::path &media, const std::string &preset) {
    Engine engine;
    vst::PluginSandboxController sandbox;
    sandbox.enabled = vst::sandboxEnabledFromEnvironment();
    sandbox.helperSearchFolder = fs::path(HALVORA_EXECUTABLE).parent_path().string();
    vst::PluginRack rack(vst::pluginRackHostFor(engine), vst::pluginRackSandboxFor(sandbox));
    setPluginStateHook([&rack](uint64_t track, int32_t insert, const std::vector<uint8_t> &s) {
        return rack.setStateAndReadState(track, insert, s);
    });
    setInsertListHooks({[&rack] { rack.saveStatesIntoProject(); }, {}});
    uint64_t trackId = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.sampleRate = rate;
        // Nothing but the insert may shape the sound: no EQ, no mastering, no cue mixed into
        // the output, and the fader's macro where it leaves the level as it is.
        engine.project.masterEq.bypass = true;
        engine.project.mastering.bypass = true;
        engine.project.controlRoom.cueGain = 0.0f;
        auto track = engine.project.addTrack(TrackType::Audio, "Filtered");
        track->eq.bypass = true;
        track->macros[0] = 0.75f / 1.75f;
        auto clip = engine.project.addClip(track->id, ClipKind::Audio);
        clip->audioFile = fs::relative(media, folder).string();
        clip->length = frames;
        trackId = track->id;
    }
    engine.prepareToPlay(rate, 512);
    rack.prepare(rate, 512);
    vst::installPluginRackHooks(engine, rack);
    ASSERT_TRUE(rack.loadLv2(trackId, calfFilter)) << sandbox.lastError;
    EXPECT_EQ(rack.slots.at(0).sandboxed != nullptr, vst::sandboxEnabledFromEnvironment());
    if (!preset.empty()) {
        vst::PresetListing listing;
        std::string error;
        ASSERT_TRUE(vst::listPluginPresets("lv2:" + calfFilter, listing, error)) << error;
        const auto found = vst::findPresetByName(listing, preset);
        ASSERT_TRUE(found) << preset;
        std::vector<uint8_t> state;
        ASSERT_TRUE(vst::readPresetState("lv2:" + calfFilter, *found, state, error)) << error;
        std::lock_guard lock(engine.projectMutex);
        LoadPluginPresetCommand(trackId, 0, "lv2:" + calfFilter, state).redo(engine.project);
    }
    rack.saveStatesIntoProject();
    std::lock_guard lock(engine.projectMutex);
    const auto saved = project_io::saveProject(engine.project, folder.string(), false);
    ASSERT_TRUE(saved.ok) << saved.error;
    setPluginStateHook({});
    setInsertListHooks({});
}

class PresetRenderEndToEnd : public ::testing::TestWithParam<bool> {};

// lv2file plays the same media through the same preset on its own; the program's 16-bit render
// must agree with it within one step, and not sound like the plug-in's defaults.
TEST_P(PresetRenderEndToEnd, APresetLoadedIntoAnInsertRendersAsAnIndependentHostPlaysIt) {
    const bool sandboxed = GetParam();
    ScopedEnvironment sandboxSwitch("HALVORA_VST_SANDBOX", sandboxed ? "1" : "0");
    const auto scratch =
        testing::makeScratchFolder(sandboxed ? "preset_render_sandboxed" : "preset_render");
    ScopedEnvironment dataHome("XDG_DATA_HOME", (scratch / "data").string());
    const std::string preset = "Disco";
    const fs::path media = scratch / "media.wav";
    const std::vector<float> audio = testAudio();
    ASSERT_TRUE(exportMediaWav(media.string(),
                               SampleBuffer(std::make_shared<const std::vector<float>>(audio)), 2,
                               rate, MediaEncoding::Float32));
    const std::vector<float> input = readFloats(media);
    ASSERT_EQ(input, audio) << "the media must hold the samples as they are";

    std::vector<std::vector<int16_t>> renders;
    for (const std::string &loaded : {std::string(), preset}) {
        const fs::path folder = scratch / (loaded.empty() ? "Plain.halvora" : "Preset.halvora");
        fs::create_directories(folder / "media");
        fs::copy_file(media, folder / "media" / "in.wav");
        savePresetProject(folder, folder / "media" / "in.wav", loaded);
        const fs::path rendered = scratch / (loaded.empty() ? "plain.wav" : "preset.wav");
        const auto run =
            testing::runHalvora({"render", folder.string(), "-o", rendered.string(), "--length",
                                 std::to_string(frames), "--quiet", "--dither", "off"},
                                scratch);
        ASSERT_EQ(run.exitStatus, 0) << run.errors;
        const auto wav = testing::readWrittenWav(rendered);
        ASSERT_TRUE(wav.valid);
        ASSERT_EQ(wav.samples.size(), audio.size());
        renders.push_back(wav.samples);
    }

    const fs::path reference = scratch / "lv2file.wav";
    const std::string command = "lv2file --ignore-clipping -b 512 -P '" + preset + "' -i '" +
                                media.string() + "' -o '" + reference.string() + "' '" +
                                calfFilter + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<float> theirs = readFloats(reference);
    ASSERT_EQ(theirs.size(), audio.size());
    int largestStep = 0, stepsFromDefault = 0;
    for (std::size_t i = 0; i < theirs.size(); ++i) {
        // The program writes 16-bit samples as the float scaled by 32767 and rounded.
        const auto expected =
            static_cast<int>(std::lround(std::clamp(theirs[i], -1.0f, 1.0f) * 32767.0f));
        largestStep = std::max(largestStep, std::abs(renders[1][i] - expected));
        stepsFromDefault = std::max(stepsFromDefault, std::abs(renders[1][i] - renders[0][i]));
    }
    EXPECT_LE(largestStep, 1);
    EXPECT_GT(stepsFromDefault, 300) << "the preset sounds like the defaults";
}

INSTANTIATE_TEST_SUITE_P(InProcessAndSandboxed, PresetRenderEndToEnd, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Sandboxed" : "InProcess"; });

} // namespace
} // namespace orvane
