// A project with plug-in inserts, saved by the library and rendered by the built program in a
// fresh process, must sound as it did before saving: bit for bit, in process and sandboxed.
#include "app/cli/tests/RunProgram.h"
#include "core/audiofile/AudioFile.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/project_io/ProjectFolder.h"
#include "core/rt/RtThread.h"
#include "device/OfflineRender.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace orvane {
namespace {

constexpr double rate = 48000.0;
constexpr int64_t frames = 24000;
constexpr uint32_t zamCompThreshold = 7;
const std::string zamFolder = "/usr/lib/vst3";

using testing::ScopedEnvironment;
using testing::ThirdPartyLeaksIgnored;

std::string fileBytes(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PluginRenderEndToEnd : public ::testing::TestWithParam<bool> {};

TEST_P(PluginRenderEndToEnd, SavedPluginProjectRendersByTheProgramAsItSoundedBefore) {
    const bool sandboxed = GetParam();
    ASSERT_TRUE(std::filesystem::exists(zamFolder + "/ZamComp.vst3"))
        << "zam-plugins missing: run scripts/install-deps.sh";
    ScopedEnvironment pluginFolders("VST3_PATH", zamFolder);
    ScopedEnvironment sandboxSwitch("HALVORA_VST_SANDBOX", sandboxed ? "1" : "0");
    // In the sanitizer build the program and its helper load the same leaky plug-ins.
    const char *sanitizerOptions = std::getenv("ASAN_OPTIONS");
    ScopedEnvironment noThirdPartyLeakReports(
        "ASAN_OPTIONS", std::string(sanitizerOptions ? sanitizerOptions : "") + ":detect_leaks=0");
    ThirdPartyLeaksIgnored zamLeaks;
    const auto scratch = testing::makeScratchFolder(sandboxed ? "plugins_sandboxed" : "plugins");
    const auto projectFolder = scratch / "Plugins.halvora";
    // The blacklist and the scan cache go to a folder of the test's own.
    ScopedEnvironment supportFolder("XDG_DATA_HOME", (scratch / "support").string());

    std::vector<float> before;
    {
        Engine engine;
        vst::PluginSandboxController sandbox;
        sandbox.enabled = vst::sandboxEnabledFromEnvironment();
        sandbox.helperSearchFolder =
            std::filesystem::path(HALVORA_EXECUTABLE).parent_path().string();
        vst::PluginRack rack(vst::pluginRackHostFor(engine), vst::pluginRackSandboxFor(sandbox));
        uint64_t trackId = 0;
        {
            std::lock_guard lock(engine.projectMutex);
            engine.project.sampleRate = rate;
            auto track = engine.project.addTrack(TrackType::Midi, "Keys");
            auto clip = engine.project.addClip(track->id, ClipKind::Midi);
            clip->length = frames;
            clip->notes = {MidiNote{57, 1.0f, 0, frames / 2},
                           MidiNote{64, 0.9f, frames / 4, frames / 2}};
            trackId = track->id;
        }
        engine.prepareToPlay(rate, offlineRenderMaxBlock);
        vst::installPluginRackHooks(engine, rack);
        ASSERT_TRUE(rack.loadVst3(trackId, zamFolder + "/ZamComp.vst3", "")) << sandbox.lastError;
        ASSERT_TRUE(rack.loadVst3(trackId, zamFolder + "/ZamEQ2.vst3", "")) << sandbox.lastError;
        ASSERT_TRUE(rack.slots[0].plugin->setParameterNormalized(zamCompThreshold, 0.0f));
        std::vector<float> left(64, 0.1f), right(64, 0.1f);
        {
            RtScope audioRole;
            rack.processTrack(trackId, left.data(), right.data(), 64); // the threshold arrives
        }
        rack.saveStatesIntoProject();
        {
            std::lock_guard lock(engine.projectMutex);
            const auto saved =
                project_io::saveProject(engine.project, projectFolder.string(), false);
            ASSERT_TRUE(saved.ok) << saved.error;
        }
        // What the saved document sounds like here: the plug-ins restored from their states,
        // with the return tracks that opening a document adds.
        std::string warnings;
        ASSERT_TRUE(vst::restoreRackForRender(rack, rate, offlineRenderMaxBlock, &warnings))
            << warnings;
        std::string error;
        ASSERT_TRUE(renderMixdown(engine, before, 0, frames, 2, &error)) << error;
    }
    const auto expectedWav = scratch / "expected.wav";
    ASSERT_TRUE(exportWav(expectedWav.string(), before.data(), static_cast<int>(frames), 2,
                          static_cast<int>(rate)));

    const auto renderedWav = scratch / "rendered.wav";
    const auto run =
        testing::runHalvora({"render", projectFolder.string(), "-o", renderedWav.string(),
                             "--length", std::to_string(frames), "--quiet", "--dither", "off"},
                            scratch);
    ASSERT_EQ(run.exitStatus, 0) << run.errors;
    const std::string expected = fileBytes(expectedWav);
    ASSERT_GT(expected.size(), 44u);
    EXPECT_TRUE(fileBytes(renderedWav) == expected) << "the program must render the same samples";
}

INSTANTIATE_TEST_SUITE_P(InProcessAndSandboxed, PluginRenderEndToEnd, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Sandboxed" : "InProcess"; });

/// A saved project of one note track with a ZamComp insert, known by its bundle only.
void saveZamCompProject(const std::filesystem::path &folder) {
    Project project;
    project.sampleRate = rate;
    auto track = project.addTrack(TrackType::Midi, "Keys");
    auto clip = project.addClip(track->id, ClipKind::Midi);
    clip->length = frames;
    clip->notes = {MidiNote{57, 1.0f, 0, frames / 2}};
    InsertSlot insert;
    insert.displayName = "ZamComp";
    insert.bundlePath = zamFolder + "/ZamComp.vst3";
    track->inserts.push_back(insert);
    const auto saved = project_io::saveProject(project, folder.string(), false);
    ASSERT_TRUE(saved.ok) << saved.error;
}

TEST(PluginScanEndToEnd, ABundleThatCrashesOnLoadNoLongerEndsASandboxedRender) {
    ASSERT_TRUE(std::filesystem::exists(zamFolder + "/ZamComp.vst3"))
        << "zam-plugins missing: run scripts/install-deps.sh";
    const auto scratch = testing::makeScratchFolder("crash_on_load_scan");
    const std::string crashBundle =
        std::string(HALVORA_CRASH_BUNDLES_DIR) + "/HalvoraCrashOnLoad.vst3";
    ScopedEnvironment pluginFolders("VST3_PATH",
                                    std::string(HALVORA_CRASH_BUNDLES_DIR) + ":" + zamFolder);
    ScopedEnvironment sandboxSwitch("HALVORA_VST_SANDBOX", "1");
    ScopedEnvironment supportFolder("XDG_DATA_HOME", (scratch / "support").string());
    const char *sanitizerOptions = std::getenv("ASAN_OPTIONS");
    ScopedEnvironment crashAtOnce("ASAN_OPTIONS",
                                  std::string(sanitizerOptions ? sanitizerOptions : "") +
                                      ":detect_leaks=0:handle_segv=0");
    saveZamCompProject(scratch / "Scan.halvora");
    for (int run = 0; run < 2; ++run) {
        const auto rendered = scratch / ("rendered" + std::to_string(run) + ".wav");
        const auto result = testing::runHalvora(
            {"render", (scratch / "Scan.halvora").string(), "-o", rendered.string(), "--quiet"},
            scratch);
        ASSERT_EQ(result.exitStatus, 0) << "signal " << result.signal << ": " << result.errors;
        EXPECT_TRUE(testing::readWrittenWav(rendered).valid);
    }
    // The render looked inside the project's own bundle only: the broken one never ran, so
    // it was never blacklisted either.
    std::ifstream blacklist(scratch / "support" / "Halvora" / "vst_blacklist.txt");
    std::string line;
    while (std::getline(blacklist, line))
        EXPECT_NE(line, crashBundle);
}

TEST(PluginScanEndToEnd, ARenderRunsNoBundleButTheProjectsAndSurvivesLinkLoops) {
    ASSERT_TRUE(std::filesystem::exists(zamFolder + "/ZamComp.vst3"))
        << "zam-plugins missing: run scripts/install-deps.sh";
    const auto scratch = testing::makeScratchFolder("crash_and_loop_scan");
    // Two links back to their own folder: followed blindly they make 2^40 paths.
    const auto looped = scratch / "looped";
    std::filesystem::create_directories(looped);
    std::filesystem::create_directory_symlink(".", looped / "a");
    std::filesystem::create_directory_symlink(".", looped / "b");
    ScopedEnvironment supportFolder("XDG_DATA_HOME", (scratch / "support").string());
    ScopedEnvironment sandboxSwitch("HALVORA_VST_SANDBOX", "0");
    const char *sanitizerOptions = std::getenv("ASAN_OPTIONS");
    ScopedEnvironment crashAtOnce("ASAN_OPTIONS",
                                  std::string(sanitizerOptions ? sanitizerOptions : "") +
                                      ":detect_leaks=0:handle_segv=0");
    saveZamCompProject(scratch / "Scan.halvora");
    const auto renderWith = [&scratch](const std::string &folders, const std::string &name) {
        ScopedEnvironment pluginFolders("VST3_PATH", folders);
        const auto rendered = scratch / name;
        const auto result = testing::runHalvora(
            {"render", (scratch / "Scan.halvora").string(), "-o", rendered.string(), "--quiet"},
            scratch);
        EXPECT_EQ(result.exitStatus, 0) << "signal " << result.signal << ": " << result.errors;
        return testing::readWrittenWav(rendered);
    };
    const auto clean = renderWith(zamFolder, "clean.wav");
    const auto crowded =
        renderWith(std::string(HALVORA_CRASH_BUNDLES_DIR) + ":" + looped.string() + ":" + zamFolder,
                   "crowded.wav");
    ASSERT_TRUE(clean.valid);
    ASSERT_TRUE(crowded.valid);
    EXPECT_EQ(crowded.samples, clean.samples);
    EXPECT_GT(*std::max_element(clean.samples.begin(), clean.samples.end()), 100);
}

} // namespace
} // namespace orvane
