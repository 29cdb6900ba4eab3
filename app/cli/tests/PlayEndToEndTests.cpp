#include "app/cli/tests/RunProgram.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <numbers>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
/// Silence before the song, long enough for the test's recorder to connect to the ports
/// Halvora registers once it runs.
constexpr int64_t leadIn = 96000;
constexpr int64_t songFrames = 3 * 48000;

std::shared_ptr<std::vector<float>> chord(int64_t frames) {
    auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2);
    for (int64_t frame = 0; frame < frames; ++frame) {
        const double t = static_cast<double>(frame) / rate;
        // Cosines: the first sample is loud, so both sides line up on it without doubt.
        (*samples)[2 * frame] = static_cast<float>(0.3 * std::cos(2 * std::numbers::pi * 220 * t) +
                                                   0.1 * std::cos(2 * std::numbers::pi * 331 * t));
        (*samples)[2 * frame + 1] =
            static_cast<float>(0.3 * std::cos(2 * std::numbers::pi * 277 * t));
    }
    return samples;
}

/// Two audio tracks through the returns and the control room (cue gain 0), without the
/// metronome, the filters and the mastering whose state would differ between block sizes.
fs::path saveSong(const fs::path &scratch) {
    Project project;
    project.sampleRate = rate;
    for (int index = 0; index < 2; ++index) {
        auto track = project.addTrack(TrackType::Audio, "Audio " + std::to_string(index));
        track->gain = index == 0 ? 0.8f : 0.6f;
        track->pan = index == 0 ? -0.3f : 0.4f;
        track->eq.enabled = false;
        auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = chord(songFrames);
        clip->channels = 2;
        clip->arrangeStart = leadIn + index * 24000;
        clip->length = songFrames - index * 24000;
        clip->fadeOut = 400;
    }
    project.masterEq.enabled = false;
    project.mastering.enabled = false;
    project.controlRoom.cueGain = 0.0f;
    const fs::path folder = scratch / "song.halvora";
    const auto saved = project_io::saveProject(project, folder.string(), false);
    EXPECT_TRUE(saved.ok) << saved.error;
    return folder;
}

int16_t toPcm16(float sample) {
    if (sample < -1.0f) return -32767;
    if (sample > 1.0f) return 32767;
    return static_cast<int16_t>(sample * 32767.0f);
}

/// Interleaves the two recorded ports as the WAV writer would store them.
std::vector<int16_t> quantise(const std::vector<float> &left, const std::vector<float> &right) {
    std::vector<int16_t> samples;
    for (std::size_t i = 0; i < left.size() && i < right.size(); ++i) {
        samples.push_back(toPcm16(left[i]));
        samples.push_back(toPcm16(right[i]));
    }
    return samples;
}

std::size_t firstSound(const std::vector<int16_t> &samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0) return i & ~std::size_t{1};
    return samples.size();
}

/// Compares what was heard with the render, both from their first non-zero frame; returns
/// the frames compared.
int64_t expectSameSound(const std::vector<int16_t> &heard, const std::vector<int16_t> &rendered) {
    const std::size_t heardStart = firstSound(heard);
    const std::size_t renderedStart = firstSound(rendered);
    EXPECT_LT(heardStart, heard.size()) << "nothing was heard";
    EXPECT_LT(renderedStart, rendered.size()) << "the render is silent";
    EXPECT_GT(heardStart, 0u) << "the recording missed the start of the song";
    const std::size_t count = std::min(heard.size() - std::min(heardStart, heard.size()),
                                       rendered.size() - std::min(renderedStart, rendered.size()));
    int worst = 0;
    std::size_t worstAt = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int difference = std::abs(heard[heardStart + i] - rendered[renderedStart + i]);
        if (difference > worst) {
            worst = difference;
            worstAt = i;
        }
    }
    EXPECT_LE(worst, 2) << "at frame " << worstAt / 2 << " of " << count / 2;
    return static_cast<int64_t>(count / 2);
}

class PlayOnJack : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.ready()) << server.failure();
        scratch = makeScratchFolder("play");
        config.emplace("XDG_CONFIG_HOME", (scratch / "config").string());
        song = saveSong(scratch);
    }

    /// Starts `Halvora play` and a recorder on its outputs; returns once both run.
    RunningProgram startPlaying(const std::vector<std::string> &options, int64_t recordFrames) {
        recorder.prepareRecording(recordFrames);
        EXPECT_TRUE(recorder.activate());
        recorder.startRecording();
        std::vector<std::string> arguments{"play", song.string(), "--no-connect"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        RunningProgram program = startHalvora(arguments, scratch);
        EXPECT_TRUE(recorder.waitForPort("Halvora:out_2", 20s)) << "Halvora's ports never came";
        EXPECT_TRUE(recorder.connect("Halvora:out_1", recorder.recordPort(0)));
        EXPECT_TRUE(recorder.connect("Halvora:out_2", recorder.recordPort(1)));
        return program;
    }

    std::vector<int16_t> renderSong(int64_t frames) {
        const fs::path wav = scratch / "render.wav";
        const ProgramRun render = runHalvora({"render", song.string(), "-o", wav.string(),
                                              "--length", std::to_string(frames), "--quiet"},
                                             scratch);
        EXPECT_EQ(render.exitStatus, 0) << render.errors;
        return readWrittenWav(wav).samples;
    }

    JackServer server;
    fs::path scratch;
    fs::path song;
    std::optional<ScopedEnvironment> config;
    JackTestClient recorder{"recorder", 2, 0};
};

TEST_F(PlayOnJack, WhatIsHeardEqualsTheRender) {
    const int64_t frames = leadIn + songFrames;
    const RunningProgram program =
        startPlaying({"--seconds", std::to_string(frames / rate)}, frames + 48000);
    const ProgramRun play = finishHalvora(program);
    EXPECT_EQ(play.exitStatus, 0) << play.errors;
    EXPECT_EQ(play.output.rfind("played 5.0", 0), 0u) << play.output;
    EXPECT_NE(play.output.find(" s on \"JACK\" (48000 Hz, 256 frames): "), std::string::npos)
        << play.output;
    const auto heard = quantise(recorder.recording(0), recorder.recording(1));
    EXPECT_GT(expectSameSound(heard, renderSong(frames)), songFrames - 24000);
}

TEST_F(PlayOnJack, ANewPeriodWhilePlayingKeepsTheSoundContinuous) {
    const int64_t frames = leadIn + songFrames;
    const RunningProgram program =
        startPlaying({"--seconds", std::to_string(frames / rate)}, frames + 48000);
    // Change the period in the middle of the song, once to larger and once to smaller.
    ASSERT_TRUE(recorder.waitForRecordedFrames(leadIn + 48000, 20s));
    ASSERT_TRUE(server.setPeriod(1024));
    ASSERT_TRUE(recorder.waitForRecordedFrames(leadIn + 72000, 20s));
    ASSERT_TRUE(server.setPeriod(128));
    const ProgramRun play = finishHalvora(program);
    EXPECT_EQ(play.exitStatus, 0) << play.errors;
    // Sample for sample across both changes: no period lost, repeated or left silent.
    const auto heard = quantise(recorder.recording(0), recorder.recording(1));
    EXPECT_GT(expectSameSound(heard, renderSong(frames)), songFrames - 24000);
}

TEST_F(PlayOnJack, AServerThatDiesEndsPlaybackWithAMessage) {
    const RunningProgram program = startPlaying({"--seconds", "60"}, 480000);
    ASSERT_TRUE(recorder.waitForRecordedFrames(4800, 20s));
    server.kill();
    const ProgramRun play = finishHalvora(program);
    EXPECT_EQ(play.signal, 0);
    EXPECT_EQ(play.exitStatus, 1) << play.errors;
    EXPECT_NE(play.errors.find("Halvora play: the audio server stopped during playback"),
              std::string::npos)
        << play.errors;
    EXPECT_NE(play.output.find("played "), std::string::npos) << play.output;
}

TEST_F(PlayOnJack, CtrlCStopsCleanly) {
    const RunningProgram program = startPlaying({"--seconds", "60"}, 480000);
    ASSERT_TRUE(recorder.waitForRecordedFrames(4800, 20s));
    ::kill(program.pid, SIGINT);
    const ProgramRun play = finishHalvora(program);
    EXPECT_EQ(play.signal, 0);
    EXPECT_EQ(play.exitStatus, 0) << play.errors;
    EXPECT_EQ(play.output.rfind("stopped after ", 0), 0u) << play.output;
    EXPECT_NE(play.output.find(" xruns, DSP load mean "), std::string::npos) << play.output;
}

struct FailureCase {
    std::vector<std::string> arguments;
    std::optional<std::string> server; // JACK_DEFAULT_SERVER for the run
    int status;
    std::string message;
};

TEST(PlayCommandFailures, EndWithAClearMessageAndAStatus) {
    const fs::path scratch = makeScratchFolder("failures");
    ScopedEnvironment config("XDG_CONFIG_HOME", (scratch / "config").string());
    ScopedEnvironment noStart("JACK_NO_START_SERVER", "1");
    const std::vector<FailureCase> cases{
        {{"play", "--demo", "--device", "jack"},
         "halvora_absent_server",
         1,
         "Halvora play: JACK is unavailable"},
        {{"play", "--demo", "--device", "Speakers"},
         std::nullopt,
         1,
         "Halvora play: unknown device \"Speakers\""},
        {{"play", "--demo", "--buffer", "32"}, std::nullopt, 2, "--buffer takes"},
        {{"play", "--demo", "--seconds", "-1"}, std::nullopt, 2, "--seconds takes"},
        {{"play"}, std::nullopt, 2, "no project folder given"},
        {{"play", (scratch / "nothing.halvora").string()}, std::nullopt, 1, "no project folder at"},
    };
    for (const auto &test : cases) {
        ScopedEnvironment server("JACK_DEFAULT_SERVER",
                                 test.server.value_or("halvora_absent_server"));
        const ProgramRun run = runHalvora(test.arguments, scratch);
        EXPECT_EQ(run.exitStatus, test.status) << test.arguments.back() << ": " << run.errors;
        EXPECT_NE(run.errors.find(test.message), std::string::npos)
            << test.arguments.back() << ": " << run.errors;
    }
}

TEST(PlayDemo, PlaysTheStartupSongOnTheNullDevice) {
    const fs::path scratch = makeScratchFolder("demo");
    ScopedEnvironment config("XDG_CONFIG_HOME", (scratch / "config").string());
    ScopedEnvironment server("JACK_DEFAULT_SERVER", "halvora_absent_server");
    ScopedEnvironment noStart("JACK_NO_START_SERVER", "1");
    const ProgramRun run = runHalvora({"play", "--demo", "--seconds", "0.5"}, scratch);
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    EXPECT_EQ(run.output.rfind("played 0.5", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("on \"Null\""), std::string::npos) << run.output;
}

} // namespace
