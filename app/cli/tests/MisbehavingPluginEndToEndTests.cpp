// Plug-ins that crash, hang or play NaN must not take a render down: with the settings a user
// starts with (every plug-in in a helper), the program survives, renders the rest of the song as if the plug-in were not there, names the plug-in
// and its track, and exits with the status that says the file is not what the project sounds
// like. A plug-in whose data would crash the host is refused in both modes.
#include "app/cli/tests/RunProgram.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2World.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnvironment;

constexpr double rate = 48000.0;
constexpr int64_t frames = 24000;

std::string misbehavingUri(const std::string &name) { return "urn:halvora:test:misbehaving-" + name; }

/// Two note tracks, "Victim" through the misbehaving plug-in (when `name` is given, with
/// `state`) and "Bystander" without.
void saveSong(const fs::path &folder, const std::optional<std::string> &name,
              const std::vector<uint8_t> &state = {}) {
    Project project;
    project.sampleRate = rate;
    for (const auto &[trackName, pitch] : {std::pair{"Victim", 57}, std::pair{"Bystander", 76}}) {
        auto track = project.addTrack(TrackType::Midi, trackName);
        auto clip = project.addClip(track->id, ClipKind::Midi);
        clip->length = frames;
        clip->notes = {MidiNote{pitch, 0.9f, 0, frames}};
        if (name && std::string(trackName) == "Victim") {
            InsertSlot insert;
            insert.pluginId = "lv2:" + misbehavingUri(*name);
            insert.displayName = "Misbehaving " + *name;
            insert.state = state;
            track->inserts.push_back(insert);
        }
    }
    const auto saved = project_io::saveProject(project, folder.string(), false);
    ASSERT_TRUE(saved.ok) << saved.error;
}

/// A state the "well" plug-in saved, given to another plug-in of the same kind.
std::vector<uint8_t> stateFor(const std::string &name) {
    lv2::Lv2Plugin well;
    if (!well.load(misbehavingUri("well")) || !well.prepare(rate, 512)) return {};
    std::vector<uint8_t> state;
    if (!well.getState(state)) return {};
    std::string text(state.begin(), state.end());
    for (std::size_t at = 0; (at = text.find(misbehavingUri("well"), at)) != std::string::npos;)
        text.replace(at, misbehavingUri("well").size(), misbehavingUri(name));
    return {text.begin(), text.end()};
}

struct Rendered {
    testing::ProgramRun run;
    testing::WrittenWav wav;
};

Rendered render(const fs::path &scratch, const fs::path &song, const std::string &name) {
    const fs::path output = scratch / (name + ".wav");
    Rendered rendered;
    rendered.run = testing::runHalvora({"render", song.string(), "-o", output.string(), "--length",
                                        std::to_string(frames), "--quiet", "--dither", "off"},
                                       scratch);
    rendered.wav = testing::readWrittenWav(output);
    return rendered;
}

struct Misbehaviour {
    std::string name;
    bool sandboxed;
    bool withState;
};

void PrintTo(const Misbehaviour &misbehaviour, std::ostream *out) {
    *out << misbehaviour.name << (misbehaviour.sandboxed ? ", as installed" : ", in process");
}

class MisbehavingPlugin : public ::testing::TestWithParam<Misbehaviour> {};

TEST_P(MisbehavingPlugin, TheRenderSurvivesNamesPluginAndTrackAndPlaysTheRestOfTheSong) {
    const Misbehaviour &misbehaviour = GetParam();
    const fs::path scratch = testing::makeScratchFolder("misbehaving_" + misbehaviour.name);
    ScopedEnvironment pluginFolders("LV2_PATH", HALVORA_LV2_TEST_BUNDLES_DIR);
    ScopedEnvironment sandboxSwitch("HALVORA_VST_SANDBOX", misbehaviour.sandboxed
                                                               ? std::nullopt
                                                               : std::optional<std::string>("0"));
    ScopedEnvironment supportFolder("XDG_DATA_HOME", (scratch / "support").string());
    const char *sanitizerOptions = std::getenv("ASAN_OPTIONS");
    ScopedEnvironment crashAtOnce("ASAN_OPTIONS",
                                  std::string(sanitizerOptions ? sanitizerOptions : "") +
                                      ":detect_leaks=0:handle_segv=0");
    std::vector<uint8_t> state;
    if (misbehaviour.withState) {
        state = stateFor(misbehaviour.name);
        ASSERT_FALSE(state.empty());
    }
    saveSong(scratch / "song.halvora", misbehaviour.name, state);
    saveSong(scratch / "without.halvora", std::nullopt);

    const Rendered broken = render(scratch, scratch / "song.halvora", "broken");
    const Rendered without = render(scratch, scratch / "without.halvora", "without");
    EXPECT_EQ(broken.run.signal, 0) << broken.run.errors;
    EXPECT_EQ(broken.run.exitStatus, 3) << broken.run.errors;
    EXPECT_NE(broken.run.errors.find("Misbehaving " + misbehaviour.name), std::string::npos)
        << broken.run.errors;
    EXPECT_NE(broken.run.errors.find("“Victim”"), std::string::npos) << broken.run.errors;
    ASSERT_TRUE(broken.wav.valid) << broken.run.errors;
    ASSERT_TRUE(without.wav.valid) << without.run.errors;
    EXPECT_TRUE(broken.wav.samples == without.wav.samples)
        << "the song without the plug-in, both tracks heard";
    fs::remove_all(scratch);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, MisbehavingPlugin,
    ::testing::Values(Misbehaviour{"crash-in-instantiate", true, false},
                      Misbehaviour{"crash-in-run", true, false},
                      Misbehaviour{"hang-in-run", true, false},
                      Misbehaviour{"crash-in-restore", true, true},
                      Misbehaviour{"nan-out", true, false}, Misbehaviour{"nan-out", false, false},
                      Misbehaviour{"huge-port", true, false},
                      Misbehaviour{"huge-port", false, false}),
    [](const auto &info) {
        std::string name = info.param.name + (info.param.sandboxed ? "Default" : "InProcess");
        std::erase(name, '-');
        return name;
    });

// The plug-in that behaves renders the same in its helper as in this process, and plays.
TEST(MisbehavingPlugin, TheWellBehavedOneRendersAlikeInItsHelperAndInProcess) {
    const fs::path scratch = testing::makeScratchFolder("misbehaving_well");
    ScopedEnvironment pluginFolders("LV2_PATH", HALVORA_LV2_TEST_BUNDLES_DIR);
    ScopedEnvironment supportFolder("XDG_DATA_HOME", (scratch / "support").string());
    saveSong(scratch / "song.halvora", "well");
    saveSong(scratch / "without.halvora", std::nullopt);
    std::optional<Rendered> inProcess, sandboxed;
    {
        ScopedEnvironment sandboxSwitch("HALVORA_VST_SANDBOX", "0");
        inProcess = render(scratch, scratch / "song.halvora", "in-process");
    }
    {
        ScopedEnvironment sandboxSwitch("HALVORA_VST_SANDBOX", "1");
        sandboxed = render(scratch, scratch / "song.halvora", "sandboxed");
    }
    const Rendered without = render(scratch, scratch / "without.halvora", "without");
    EXPECT_EQ(inProcess->run.exitStatus, 0) << inProcess->run.errors;
    EXPECT_EQ(sandboxed->run.exitStatus, 0) << sandboxed->run.errors;
    ASSERT_TRUE(inProcess->wav.valid && sandboxed->wav.valid && without.wav.valid);
    EXPECT_TRUE(sandboxed->wav.samples == inProcess->wav.samples);
    EXPECT_FALSE(inProcess->wav.samples == without.wav.samples) << "its gain is heard";
    fs::remove_all(scratch);
}

} // namespace
} // namespace orvane
