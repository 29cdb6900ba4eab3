#include "app/cli/tests/RunProgram.h"
#include "app/shell/DocumentOperations.h"
#include "core/audiofile/AudioFile.h"
#include "core/project_io/ProjectFolder.h"
#include "device/OfflineRender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <mutex>
#include <numbers>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 44100.0;

std::shared_ptr<std::vector<float>> tone(double frequency, int64_t frames, float level) {
    return stereoTone(frequency, frames, level, rate);
}

/// Two audio tracks at different places and a MIDI track, all sending to the returns.
/// Without the filters and mastering every output sample depends on that instant alone,
/// which lets a span be compared with the same frames of a full render.
Project makeSong(bool withProcessing) {
    Project project;
    project.sampleRate = rate;
    project.tempoBpm = 100.0;
    for (int index = 0; index < 2; ++index) {
        auto track = project.addTrack(TrackType::Audio, "Audio " + std::to_string(index));
        track->gain = index == 0 ? 0.8f : 0.6f;
        track->pan = index == 0 ? -0.4f : 0.5f;
        auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = tone(index == 0 ? 220.0 : 330.0, 30000, 0.5f);
        clip->channels = 2;
        clip->arrangeStart = index * 20000;
        clip->length = 30000;
        clip->fadeIn = 100;
        clip->fadeOut = 400;
    }
    auto midi = project.addTrack(TrackType::Midi, "Keys");
    auto phrase = project.addClip(midi->id, ClipKind::Midi);
    phrase->length = 60000;
    phrase->notes.push_back(MidiNote{64, 0.9f, 5000, 20000, 1.0f, 0.0f});
    HVEnsureReturnTracks(project);
    for (const auto &track : project.tracks) {
        track->sends[0].level = 0.25f;
        track->eq.enabled = withProcessing;
    }
    project.masterEq.enabled = withProcessing;
    project.mastering.enabled = withProcessing;
    return project;
}

fs::path saveSong(const fs::path &scratch, bool withProcessing) {
    Project project = makeSong(withProcessing);
    const fs::path folder = scratch / "song.halvora";
    const auto saved = project_io::saveProject(project, folder.string(), false);
    EXPECT_TRUE(saved.ok) << saved.error;
    return folder;
}

/// The project as the library loads it, rendered here and written by the same writer.
fs::path renderInProcess(const fs::path &folder, const fs::path &target, uint64_t soloTrack,
                         int64_t frames, int32_t channels) {
    auto project = project_io::loadProject(folder.string());
    EXPECT_TRUE(project.has_value());
    EXPECT_TRUE(project_io::hydrateProjectMedia(*project));
    HVEnsureReturnTracks(*project);
    if (soloTrack != 0) project->findTrack(soloTrack)->solo = true;
    Engine engine;
    engine.replaceProject(std::move(*project));
    engine.prepareToPlay(rate, 256);
    std::vector<float> samples;
    std::string error;
    EXPECT_TRUE(renderMixdown(engine, samples, 0, frames, channels, &error)) << error;
    EXPECT_TRUE(
        exportWav(target.string(), samples.data(), static_cast<int>(frames), channels, rate));
    return target;
}

class RenderCommand : public ::testing::Test {
  protected:
    void SetUp() override { scratch = makeScratchFolder("render"); }
    void TearDown() override { fs::remove_all(scratch); }

    ProgramRun render(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "render");
        return runHalvora(arguments, scratch);
    }
    WrittenWav renderToWav(const fs::path &folder, std::vector<std::string> options,
                           const std::string &name) {
        const fs::path out = scratch / name;
        std::vector<std::string> arguments{folder.string(), "-o", out.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const ProgramRun run = render(arguments);
        EXPECT_EQ(run.exitStatus, 0) << run.errors;
        return readWrittenWav(out);
    }

    fs::path scratch;
};

} // namespace

TEST_F(RenderCommand, SavedProjectSoundsAsItDoesInProcess) {
    const fs::path folder = saveSong(scratch, true);
    const int64_t songFrames = arrangementExportLength(makeSong(true));
    // Undithered, the command rounds as the library's writer does.
    const WrittenWav fromCommand = renderToWav(folder, {"--dither", "off"}, "command.wav");
    const WrittenWav inProcess =
        readWrittenWav(renderInProcess(folder, scratch / "library.wav", 0, songFrames, 2));
    ASSERT_TRUE(fromCommand.valid);
    ASSERT_TRUE(inProcess.valid);
    EXPECT_EQ(fromCommand.sampleRate, 44100u);
    EXPECT_EQ(fromCommand.channels, 2);
    EXPECT_EQ(fromCommand.samples.size(), static_cast<std::size_t>(songFrames) * 2);
    EXPECT_EQ(fromCommand.samples, inProcess.samples);
    EXPECT_NE(std::count(fromCommand.samples.begin(), fromCommand.samples.end(), 0),
              static_cast<std::ptrdiff_t>(fromCommand.samples.size()));
}

TEST_F(RenderCommand, TrackOptionEqualsThatTrackSoloed) {
    const fs::path folder = saveSong(scratch, true);
    const uint64_t second = makeSong(true).tracks[1]->id;
    const WrittenWav alone = renderToWav(
        folder, {"--track", std::to_string(second), "--length", "50000", "--dither", "off"},
        "a.wav");
    const WrittenWav soloed =
        readWrittenWav(renderInProcess(folder, scratch / "solo.wav", second, 50000, 2));
    ASSERT_TRUE(alone.valid);
    EXPECT_EQ(alone.samples, soloed.samples);
    const WrittenWav everything = renderToWav(folder, {"--length", "50000"}, "all.wav");
    EXPECT_NE(alone.samples, everything.samples);
}

TEST_F(RenderCommand, StartAndLengthSelectTheirSpan) {
    const fs::path folder = saveSong(scratch, false);
    const WrittenWav full = renderToWav(folder, {}, "full.wav");
    const WrittenWav span =
        renderToWav(folder, {"--start", "21000", "--length", "12345"}, "span.wav");
    ASSERT_TRUE(full.valid);
    ASSERT_TRUE(span.valid);
    ASSERT_EQ(span.samples.size(), 2u * 12345u);
    const std::size_t first = 2 * 21000;
    const std::size_t last = 2 * (21000 + 12345 - 1);
    EXPECT_EQ(span.samples[0], full.samples[first]);
    EXPECT_EQ(span.samples[1], full.samples[first + 1]);
    EXPECT_EQ(span.samples[span.samples.size() - 2], full.samples[last]);
    EXPECT_EQ(span.samples.back(), full.samples[last + 1]);
    EXPECT_NE(span.samples[0], full.samples[0]);

    // Without --length the span runs to the end of the song.
    const WrittenWav tail = renderToWav(folder, {"--start", "40000"}, "tail.wav");
    EXPECT_EQ(tail.samples.size() + 2 * 40000, full.samples.size());
    EXPECT_EQ(tail.samples.back(), full.samples.back());
}

TEST_F(RenderCommand, OneChannelWritesTheLeftSide) {
    const fs::path folder = saveSong(scratch, true);
    const WrittenWav stereo = renderToWav(folder, {"--length", "30000"}, "stereo.wav");
    const WrittenWav mono =
        renderToWav(folder, {"--length", "30000", "--channels", "1"}, "mono.wav");
    ASSERT_TRUE(mono.valid);
    EXPECT_EQ(mono.channels, 1);
    ASSERT_EQ(mono.samples.size(), 30000u);
    for (std::size_t i = 0; i < mono.samples.size(); ++i)
        ASSERT_EQ(mono.samples[i], stereo.samples[2 * i]) << "frame " << i;
}

TEST_F(RenderCommand, DemoRendersTheStartUpSongWithASummary) {
    const fs::path out = scratch / "demo.wav";
    const ProgramRun run = render({"--demo", "-o", out.string()});
    ASSERT_EQ(run.exitStatus, 0) << run.errors;
    const WrittenWav demo = readWrittenWav(out);
    ASSERT_TRUE(demo.valid);
    // Four bars of 4/4 at 120 BPM and 48 kHz, plus one beat.
    EXPECT_EQ(demo.samples.size(), 2u * (384000 + 24000));
    EXPECT_EQ(demo.sampleRate, 48000u);
    EXPECT_GT(*std::max_element(demo.samples.begin(), demo.samples.end()), 1000);
    EXPECT_NE(run.output.find("rendered 408000 frames (8.500 s at 48000 Hz, 2 channels)"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("peak -"), std::string::npos);
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1);
    EXPECT_EQ(run.errors, "") << "no progress bar when standard error is not a terminal";

    const ProgramRun quiet = render({"--demo", "-o", out.string(), "--quiet"});
    EXPECT_EQ(quiet.exitStatus, 0);
    EXPECT_EQ(quiet.output, "");
}

TEST_F(RenderCommand, HelpDocumentsEveryOption) {
    const ProgramRun run = render({"--help"});
    EXPECT_EQ(run.exitStatus, 0);
    for (const char *option : {"--demo", "-o", "--start", "--length", "--track", "--channels",
                               "--quiet", "PROJECT.halvora"})
        EXPECT_NE(run.output.find(option), std::string::npos) << option;
}

TEST_F(RenderCommand, MissingMediaAreListedAndRenderAsSilence) {
    const fs::path folder = saveSong(scratch, true);
    const Project song = makeSong(true);
    const uint64_t firstClip = song.tracks[0]->clips[0]->id;
    fs::remove(folder / "media" / ("clip_" + std::to_string(firstClip) + ".wav"));
    const fs::path out = scratch / "out.wav";
    const ProgramRun run = render({folder.string(), "-o", out.string()});
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_NE(run.errors.find("warning: media file \"media/clip_" + std::to_string(firstClip) +
                              ".wav\" of clip " + std::to_string(firstClip) + " is missing"),
              std::string::npos)
        << run.errors;
    EXPECT_TRUE(readWrittenWav(out).valid);
}

TEST_F(RenderCommand, BadInputIsRefusedWithItsMessage) {
    const fs::path folder = saveSong(scratch, true);
    const fs::path empty = scratch / "empty.halvora";
    fs::create_directories(empty);
    const fs::path broken = scratch / "broken.halvora";
    fs::create_directories(broken);
    std::ofstream(broken / "project.json") << "{\"tracks\": [ {\"id\": 1,, } ]";
    const std::string out = (scratch / "out.wav").string();

    struct Case {
        std::vector<std::string> arguments;
        std::string message;
        int status;
    };
    const std::vector<Case> cases{
        {{(scratch / "nowhere.halvora").string(), "-o", out}, "no project folder at", 1},
        {{empty.string(), "-o", out}, "no project.json in", 1},
        {{broken.string(), "-o", out}, "does not parse", 1},
        {{folder.string(), "-o", (scratch / "no/such/dir/x.wav").string()}, "no folder", 1},
        {{folder.string(), "-o", scratch.string()}, "it is a folder", 1},
        {{folder.string(), "-o", out, "--track", "4242"}, "no track with id 4242", 1},
        {{folder.string(), "-o", out, "--start", "99999999"}, "beyond the end", 1},
        {{folder.string(), "-o", out, "--length", "99999999999"}, "more than a 16-bit WAV", 1},
        {{folder.string()}, "no output file", 2},
        {{folder.string(), "-o", out, "--channels", "3"}, "--channels takes 1 or 2", 2},
        {{folder.string(), "-o", out, "--start", "-5"}, "whole number of samples", 2},
        {{folder.string(), "-o", out, "--length", "12k"}, "whole number of samples", 2},
        {{folder.string(), "-o", out, "--track"}, "needs a value", 2},
        {{folder.string(), "-o", out, "--loud"}, "unknown option", 2},
        {{"--demo", folder.string(), "-o", out}, "not both", 2},
        {{"-o", out}, "no project folder given", 2},
    };
    for (const Case &bad : cases) {
        const ProgramRun run = render(bad.arguments);
        EXPECT_EQ(run.exitStatus, bad.status) << bad.message << "\n" << run.errors;
        EXPECT_NE(run.errors.find(bad.message), std::string::npos)
            << "expected \"" << bad.message << "\" in: " << run.errors;
        EXPECT_FALSE(fs::exists(out)) << bad.message;
    }
}

TEST_F(RenderCommand, FailedRenderKeepsTheFileAlreadyThere) {
    const fs::path folder = saveSong(scratch, true);
    const fs::path out = scratch / "keep.wav";
    std::ofstream(out) << "precious";
    const ProgramRun run = render({folder.string(), "-o", out.string(), "--track", "77"});
    EXPECT_EQ(run.exitStatus, 1);
    std::ifstream kept(out);
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "precious");
}

TEST(ReferenceProjectCommand, WritesAFolderTheRendererPlays) {
    const fs::path scratch = makeScratchFolder("reference");
    const fs::path folder = scratch / "reference.halvora";
    const ProgramRun written = runHalvora(
        {"reference-project", folder.string(), "--tracks", "3", "--seconds", "1.5"}, scratch);
    ASSERT_EQ(written.exitStatus, 0) << written.errors;
    const auto project = project_io::loadProject(folder.string());
    ASSERT_TRUE(project.has_value());
    EXPECT_EQ(project->tracks.size(), 2u + 3u + 16u);
    const fs::path out = scratch / "reference.wav";
    const ProgramRun rendered =
        runHalvora({"render", folder.string(), "-o", out.string(), "--length", "72000"}, scratch);
    EXPECT_EQ(rendered.exitStatus, 0) << rendered.errors;
    EXPECT_EQ(rendered.errors, "") << "every media file was written";
    const WrittenWav wav = readWrittenWav(out);
    EXPECT_EQ(wav.samples.size(), 2u * 72000u);

    const ProgramRun refused =
        runHalvora({"reference-project", folder.string(), "--tracks", "-1"}, scratch);
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_NE(refused.errors.find("--tracks takes"), std::string::npos);
    fs::remove_all(scratch);
}
