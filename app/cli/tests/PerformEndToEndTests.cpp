#include "app/cli/tests/RunProgram.h"
#include "app/shell/DocumentOperations.h"
#include "core/project_io/ProjectFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 44100.0;

std::shared_ptr<std::vector<float>> constant(int64_t frames, float level) {
    return std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2, level);
}

/// Two audio tracks and an instrument through the whole chain (channel EQ, sends to the
/// returns, master EQ and mastering), their clips either in the first scene or in the
/// arrangement at 0.
Project makeSong(bool inSession) {
    Project project;
    project.sampleRate = rate;
    Scene scene;
    scene.id = project.nextSceneId++;
    project.session.launchQuantize = LaunchQuantize::Immediate;
    const auto place = [&](const std::shared_ptr<Clip> &clip) {
        clip->sessionRow = inSession ? 0 : -1;
        clip->sessionCol = inSession ? static_cast<int32_t>(scene.clips.size()) : -1;
        scene.clips.push_back(clip->id);
    };
    for (int index = 0; index < 2; ++index) {
        auto track = project.addTrack(TrackType::Audio, "Audio " + std::to_string(index));
        track->gain = index == 0 ? 0.8f : 0.6f;
        track->pan = index == 0 ? -0.4f : 0.5f;
        auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = stereoTone(index == 0 ? 220.0 : 330.0, 30000, 0.5f, rate);
        clip->length = 30000;
        clip->fadeIn = 100;
        clip->fadeOut = 400;
        place(clip);
    }
    auto keys = project.addTrack(TrackType::Midi, "Keys");
    auto phrase = project.addClip(keys->id, ClipKind::Midi);
    phrase->length = 40000;
    phrase->notes.push_back(MidiNote{64, 0.9f, 5000, 20000, 1.0f, 0.0f});
    place(phrase);
    if (inSession) project.session.scenes.push_back(scene);
    HVEnsureReturnTracks(project);
    for (const auto &track : project.tracks)
        track->sends[0].level = 0.25f;
    return project;
}

class PerformCommand : public ::testing::Test {
  protected:
    void SetUp() override { scratch = makeScratchFolder("perform"); }
    void TearDown() override { fs::remove_all(scratch); }

    fs::path save(Project project, const std::string &name) {
        const fs::path folder = scratch / name;
        const auto saved = project_io::saveProject(project, folder.string(), false);
        EXPECT_TRUE(saved.ok) << saved.error;
        return folder;
    }

    WrittenWav run(const std::string &command, const fs::path &folder,
                   std::vector<std::string> options, const std::string &name) {
        const fs::path out = scratch / name;
        std::vector<std::string> arguments{command, folder.string(), "-o", out.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const ProgramRun finished = runHalvora(arguments, scratch);
        EXPECT_EQ(finished.exitStatus, 0) << finished.errors;
        return readWrittenWav(out);
    }

    fs::path scratch;
};

TEST_F(PerformCommand, ASceneLaunchedAtZeroSoundsLikeTheSameClipsInTheArrangement) {
    // Up to just before the clips end, where every track still plays in both.
    const std::string length = "29000";
    const WrittenWav arranged = run("render", save(makeSong(false), "arranged.halvora"),
                                    {"--length", length}, "arranged.wav");
    const WrittenWav performed = run("perform", save(makeSong(true), "session.halvora"),
                                     {"--length", length, "0:launch-scene:1"}, "performed.wav");
    ASSERT_TRUE(arranged.valid && performed.valid);
    ASSERT_EQ(performed.samples.size(), arranged.samples.size());
    int largest = 0;
    for (std::size_t i = 0; i < arranged.samples.size(); ++i)
        largest = std::max(largest, std::abs(performed.samples[i] - arranged.samples[i]));
    EXPECT_LE(largest, 1);
    EXPECT_GT(*std::max_element(performed.samples.begin(), performed.samples.end()), 3000);
}

/// One audio column whose clips hand over to each other: A follows on to the clip below it,
/// B to the next scene, whose clip C plays once and stops.
Project makeChain() {
    Project project;
    project.sampleRate = rate;
    project.masterEq.enabled = project.mastering.enabled = false;
    project.controlRoom.cueGain = 0.0f;
    project.session.launchQuantize = LaunchQuantize::Immediate;
    auto track = project.addTrack(TrackType::Audio, "Chain");
    track->eq.enabled = false;
    track->gain = 1.0f / 1.125f; // unity through the default macros
    const float levels[] = {0.1f, 0.2f, 0.3f};
    const FollowAction follows[] = {FollowAction::NextClipInColumn, FollowAction::NextScene,
                                    FollowAction::None};
    for (int row = 0; row < 3; ++row) {
        auto clip = project.addClip(track->id, ClipKind::Audio);
        clip->audio = constant(3000, levels[row]);
        clip->length = 3000;
        clip->sessionRow = row;
        clip->sessionCol = 0;
        clip->launchQuantize = LaunchQuantize::Immediate;
        clip->followAction = follows[row];
        Scene scene;
        scene.id = project.nextSceneId++;
        scene.clips = {clip->id};
        project.session.scenes.push_back(scene);
    }
    HVEnsureReturnTracks(project);
    return project;
}

/// First frame whose left sample is `level` in 16 bits (the media are stored in 16 bits too,
/// so a few steps either way), or -1.
int64_t firstFrameAt(const WrittenWav &wav, float level) {
    const auto expected = static_cast<int>(std::lround(level * 32767.0f));
    for (std::size_t frame = 0; frame * 2 < wav.samples.size(); ++frame)
        if (std::abs(wav.samples[frame * 2] - expected) <= 8) return static_cast<int64_t>(frame);
    return -1;
}

TEST_F(PerformCommand, FollowActionsPlayTheClipsInTurnFromTheBlockAfterEachEnd) {
    const fs::path folder = save(makeChain(), "chain.halvora");
    // Launched at 700, inside the second 512-frame block: it starts at 512.
    const WrittenWav wav =
        run("perform", folder, {"--length", "14000", "700:launch-clip:1"}, "chain.wav");
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(firstFrameAt(wav, 0.1f), 512);
    EXPECT_EQ(firstFrameAt(wav, 0.2f), 3584); // A ends at 3512: the next block
    EXPECT_EQ(firstFrameAt(wav, 0.3f), 6656); // B ends at 6584
    EXPECT_EQ(wav.samples[2 * 9656], 0);      // C plays its 3000 frames once
    EXPECT_NE(wav.samples[2 * 9655], 0);
    const WrittenWav small =
        run("perform", folder, {"--length", "14000", "--block", "64", "700:launch-clip:1"},
            "small.wav");
    EXPECT_EQ(firstFrameAt(small, 0.1f), 640);
    EXPECT_EQ(firstFrameAt(small, 0.2f), 3648);
}

TEST_F(PerformCommand, BadActionsAndUnknownIdsAreRefusedWithStatusTwo) {
    const fs::path folder = save(makeChain(), "chain.halvora");
    const fs::path out = scratch / "never.wav";
    for (const std::string action :
         {"launch-clip:1", "x:launch-clip:1", "-5:stop", "0:launch:1",
          "0:launch-clip:", "0:launch-clip:0", "0:stop:3", "0:release:abc", "99999:stop",
          "0:launch-scene:77", "0:launch-clip:42"}) {
        const ProgramRun finished = runHalvora(
            {"perform", folder.string(), "-o", out.string(), "--length", "1000", action}, scratch);
        EXPECT_EQ(finished.exitStatus, 2) << action;
        EXPECT_NE(finished.errors.find("Halvora perform: "), std::string::npos) << action;
        EXPECT_FALSE(fs::exists(out)) << action;
    }
    const ProgramRun help = runHalvora({"perform", "--help"}, scratch);
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.output.find("SAMPLE:launch-scene:ID"), std::string::npos);
}

} // namespace
