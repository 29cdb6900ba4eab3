#include "core/audiofile/AudioFile.h"
#include "core/project_io/DurableFile.h"
#include "core/project_io/ProjectDocument.h"
#include "core/project_io/ProjectFolder.h"
#include "core/project_io/tests/ProjectFolderFixture.h"
#include "tests/support/TestSignals.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include <sys/stat.h>

namespace orvane::project_io {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> mediaWrites;

void countMediaWrite(const fs::path &target) {
    if (target.extension() == ".wav") mediaWrites.push_back(target);
}

/// Counts the media files each save replaces, through the durable writer's own seam.
class Media : public testing::ProjectFolderTest {
  protected:
    void SetUp() override {
        ProjectFolderTest::SetUp();
        forgetWrittenMedia();
        mediaWrites.clear();
        setBeforeReplaceHook(countMediaWrite);
    }
    void TearDown() override {
        setBeforeReplaceHook(nullptr);
        ProjectFolderTest::TearDown();
    }

    std::size_t writesOfSave(Project &project, const std::string &folder) {
        mediaWrites.clear();
        const SaveResult saved = saveProject(project, folder, false);
        EXPECT_TRUE(saved.ok) << saved.error;
        return mediaWrites.size();
    }

    Project loadHydrated(const std::string &folder) {
        std::string error;
        std::optional<Project> project = loadProject(folder, &error);
        EXPECT_TRUE(project.has_value()) << error;
        if (!project) return {};
        EXPECT_TRUE(hydrateProjectMedia(*project, &error)) << error;
        return std::move(*project);
    }

    /// Every byte of every file in the media folder, by name.
    std::map<std::string, std::string> mediaBytes(const std::string &folder) {
        std::map<std::string, std::string> files;
        for (const auto &entry : fs::directory_iterator(folder + "/media"))
            files[entry.path().filename().string()] = readFile(entry.path().string());
        return files;
    }
};

TEST_F(Media, ASaveWritesTheMediaOfAClipOnlyWhenItsAudioChanged) {
    Project project;
    auto first = addAudioClip(project, 300, 1);
    auto second = addAudioClip(project, 200, 2);
    addAudioClip(project, 100, 3);
    const std::string folder = path("song.halvora");

    EXPECT_EQ(writesOfSave(project, folder), 3u) << "a first save writes every clip";
    EXPECT_EQ(writesOfSave(project, folder), 0u) << "an unchanged project writes no media";

    second->audio = ramp(200, 7); // an edit always builds a new buffer
    EXPECT_EQ(writesOfSave(project, folder), 1u);
    ASSERT_EQ(mediaWrites.size(), 1u);
    EXPECT_EQ(mediaWrites[0].filename(), "clip_" + std::to_string(second->id) + ".wav");

    Project loaded = loadHydrated(folder);
    EXPECT_EQ(writesOfSave(loaded, folder), 0u) << "audio read from its file is that file";

    EXPECT_EQ(writesOfSave(loaded, path("copy.halvora")), 3u) << "another folder needs its own";
    EXPECT_EQ(writesOfSave(loaded, path("copy.halvora")), 0u);

    fs::remove(folder + "/media/clip_" + std::to_string(first->id) + ".wav");
    EXPECT_EQ(writesOfSave(loaded, folder), 1u) << "a file removed behind our back is rewritten";

    EXPECT_EQ(writesOfSave(project, folder), 3u)
        << "the same samples in other buffers count as new";
    forgetWrittenMedia();
    EXPECT_EQ(writesOfSave(project, folder), 3u);
}

TEST_F(Media, MediaReadFromOutsideTheFolderIsWrittenIntoItOnce) {
    writeWav(path("elsewhere/take.wav"), 50, 4);
    const std::string folder = path("song.halvora");
    fs::create_directories(folder);
    Project project;
    project.rootPath = folder;
    auto clip = addAudioClip(project, 0, 0);
    clip->audio = nullptr;
    clip->audioFile = "../elsewhere/take.wav";
    std::string error;
    ASSERT_TRUE(hydrateProjectMedia(project, &error)) << error;
    EXPECT_EQ(writesOfSave(project, folder), 1u) << "a project holds its own media";
    EXPECT_EQ(clip->audioFile, "media/clip_" + std::to_string(clip->id) + ".wav");
    EXPECT_EQ(writesOfSave(project, folder), 0u);
}

TEST_F(Media, LoadAndSaveAreExactInversesOnTheSixteenBitGrid) {
    // Float audio from a recording, beyond the grid and beyond full scale.
    auto recorded = std::make_shared<std::vector<float>>(
        orvane::testing::uniformNoise(2 * 4000, -1.2f, 1.2f, 7));
    (*recorded)[0] = -1.0f;
    (*recorded)[1] = 1.0f;
    Project project;
    auto clip = addAudioClip(project, 4000, 0);
    clip->audio = recorded;
    const std::string folder = path("cycles.halvora");
    ASSERT_TRUE(saveProject(project, folder, false).ok);
    const auto firstBytes = mediaBytes(folder);
    const Project firstLoad = loadHydrated(folder);
    ASSERT_EQ(firstLoad.tracks.size(), 1u);
    const std::vector<float> firstAudio = firstLoad.tracks[0]->clips[0]->audio->toVector();
    EXPECT_EQ(firstAudio[0], -1.0f);
    EXPECT_EQ(firstAudio[1], 1.0f);

    for (int cycle = 0; cycle < 100; ++cycle) {
        Project loaded = loadHydrated(folder);
        ASSERT_EQ(*loaded.tracks[0]->clips[0]->audio, firstAudio) << "cycle " << cycle;
        forgetWrittenMedia(); // every save writes the media again
        mediaWrites.clear();
        ASSERT_TRUE(saveProject(loaded, folder, false).ok);
        ASSERT_EQ(mediaWrites.size(), 1u);
        ASSERT_EQ(mediaBytes(folder), firstBytes) << "cycle " << cycle;
    }
}

TEST_F(Media, MediaAtAnotherRateIsConvertedToTheProjectsRateOnLoad) {
    Project project;
    project.sampleRate = 48000;
    auto clip = addAudioClip(project, 0, 0);
    clip->audio = nullptr;
    clip->length = 0;
    clip->audioFile = "media/slow.wav";
    fs::create_directories(path("media"));
    constexpr int frames = 12000; // half a second at 24 kHz
    std::vector<float> tone(2 * frames);
    for (int frame = 0; frame < frames; ++frame)
        tone[2 * frame] = tone[2 * frame + 1] =
            0.5f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * frame / 24000.0));
    ASSERT_TRUE(exportWav(path("media/slow.wav"), tone.data(), frames, 2, 24000));
    project.rootPath = root_;
    std::string error;
    ASSERT_TRUE(hydrateProjectMedia(project, &error)) << error;
    EXPECT_NEAR(static_cast<double>(clip->length), 2.0 * frames, 4.0);
    // Upward zero crossings over the middle: the tone stays at 440 Hz, not 880 Hz.
    const std::vector<float> audio = clip->audio->toVector();
    int crossings = 0;
    for (std::size_t frame = 4800; frame < 4800 + 19200; ++frame)
        if (audio[2 * (frame - 1)] < 0.0f && audio[2 * frame] >= 0.0f) ++crossings;
    EXPECT_NEAR(crossings, 176, 2); // 0.4 s of 440 Hz
}

TEST_F(Media, APipeOrADeviceIsRefusedAtOnceAsMediaOrAsDocument) {
    Project project;
    project.rootPath = root_;
    fs::create_directories(path("media"));
    ASSERT_EQ(::mkfifo(path("media/pipe.wav").c_str(), 0600), 0);
    for (const char *file : {"media/pipe.wav", "/dev/zero", "/dev/stdin"}) {
        auto clip = addAudioClip(project, 0, 0);
        clip->audio = nullptr;
        clip->audioFile = file;
    }
    std::vector<MediaLoadFailure> failures;
    EXPECT_FALSE(hydrateProjectMedia(project, failures));
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].reason, "not a regular file");
    EXPECT_EQ(failures[1].reason, "not a regular file");

    ASSERT_EQ(::mkfifo(path("project.json").c_str(), 0600), 0);
    std::string error;
    EXPECT_FALSE(loadProject(root_, &error).has_value());
    EXPECT_EQ(error, "cannot read \"" + path("project.json") + "\": not a regular file");
}

TEST_F(Media, AnUnreadableFileIsNamedWithItsReasonAndTheOthersStillLoad) {
    Project project;
    project.rootPath = root_;
    writeWav(path("media/good.wav"), 10, 1);
    std::ofstream(path("media/text.wav")) << "not audio at all";
    for (const char *file : {"media/text.wav", "media/good.wav", "media/absent.wav"}) {
        auto clip = addAudioClip(project, 0, 0);
        clip->audio = nullptr;
        clip->audioFile = file;
    }
    std::vector<MediaLoadFailure> failures;
    EXPECT_FALSE(hydrateProjectMedia(project, failures));
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].path, path("media/text.wav"));
    EXPECT_EQ(failures[0].reason, "not an audio file that can be read");
    EXPECT_EQ(failures[1].reason, "No such file or directory");
    EXPECT_EQ(project.tracks[0]->clips[1]->audio->size(), 20u);
}

} // namespace
} // namespace orvane::project_io

namespace orvane::project_io {
namespace {

TEST_F(Media, TheProjectsOwnMediaIsMappedAndEveryOtherFileIsRead) {
    writeWav(path("elsewhere/take.wav"), 64, 5);
    Project project;
    const auto own = addAudioClip(project, 300, 1);
    const std::string folder = path("song.halvora");
    ASSERT_EQ(writesOfSave(project, folder), 1u);
    const auto outside = addAudioClip(project, 0, 0);
    outside->audio = nullptr;
    outside->audioFile = "../elsewhere/take.wav";
    ASSERT_TRUE(writeFileDurably(fs::path(folder) / "project.json", toJson(project)));

    Project loaded = loadHydrated(folder);
    const auto ownLoaded = loaded.findClip(own->id);
    const auto outsideLoaded = loaded.findClip(outside->id);
    ASSERT_TRUE(ownLoaded && ownLoaded->audio && outsideLoaded && outsideLoaded->audio);
    EXPECT_TRUE(ownLoaded->audio->file());
    EXPECT_FALSE(outsideLoaded->audio->file()) << "a file the project does not own may change";
    DecodedAudio decoded;
    ASSERT_TRUE(readMediaFile(folder + "/" + ownLoaded->audioFile, 48000.0, decoded));
    EXPECT_EQ(*ownLoaded->audio, *decoded.samples);
    EXPECT_EQ(ownLoaded->audioFrameCount(), 300);
}

TEST_F(Media, AMediaFileCutShortUnderItsMappingReadsSilenceAndStillSaves) {
    Project project;
    const auto clip = addAudioClip(project, 20000, 3);
    const std::string folder = path("song.halvora");
    ASSERT_EQ(writesOfSave(project, folder), 1u);
    Project loaded = loadHydrated(folder);
    const auto mapped = loaded.findClip(clip->id);
    ASSERT_TRUE(mapped && mapped->audio && mapped->audio->file());

    // Another program cuts the file down to its header and a few samples in place.
    fs::resize_file(folder + "/" + mapped->audioFile, 44 + 400);
    const std::vector<float> samples = mapped->audio->toVector();
    ASSERT_EQ(samples.size(), 40000u);
    EXPECT_EQ(samples[39999], 0.0f);
    EXPECT_NEAR(samples[10], (*clip->audio)[10], 1.0f / 32767.0f);
    EXPECT_EQ(writesOfSave(loaded, path("rescued.halvora")), 1u);
}

} // namespace
} // namespace orvane::project_io

namespace orvane::project_io {
namespace {

/// The format tag and depth of a WAV file Halvora wrote (its "fmt " chunk comes first).
std::pair<int, int> formatOf(const std::string &bytes) {
    if (bytes.size() < 36) return {0, 0};
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    return {byte(20) | byte(21) << 8, byte(34) | byte(35) << 8};
}

TEST_F(Media, AQuietRecordingIsStoredInFloatAndSurvivesSaveAndReopenBitForBit) {
    auto recorded = std::make_shared<std::vector<float>>(
        orvane::testing::uniformNoise(2 * 48000, -3.16e-6f, 3.16e-6f, 5)); // -110 dBFS
    Project project;
    auto clip = addAudioClip(project, 48000, 0);
    clip->audio = recorded;
    const std::string folder = path("quiet.halvora");
    ASSERT_TRUE(saveProject(project, folder, false).ok);
    const auto files = mediaBytes(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(formatOf(files.begin()->second), std::make_pair(3, 32)) << "IEEE float";
    EXPECT_EQ(readFile(folder + "/project.json").find("mediaBitDepth"), std::string::npos)
        << "the default is not written";

    Project loaded = loadHydrated(folder);
    ASSERT_TRUE(loaded.tracks[0]->clips[0]->audio->file()) << "streamed from its file";
    EXPECT_EQ(loaded.tracks[0]->clips[0]->audio->toVector(), *recorded);
    EXPECT_EQ(writesOfSave(loaded, folder), 0u);
    EXPECT_EQ(mediaBytes(folder), files);
}

TEST_F(Media, AProjectMayChooseTwentyFourBitMedia) {
    auto recorded = std::make_shared<std::vector<float>>(
        orvane::testing::uniformNoise(2 * 500, -0.9f, 0.9f, 9));
    Project project;
    project.mediaBitDepth = 24;
    addAudioClip(project, 500, 0)->audio = recorded;
    const std::string folder = path("deep.halvora");
    ASSERT_TRUE(saveProject(project, folder, false).ok);
    EXPECT_EQ(formatOf(mediaBytes(folder).begin()->second), std::make_pair(1, 24));
    EXPECT_NE(readFile(folder + "/project.json").find("\"mediaBitDepth\": 24"), std::string::npos);
    Project loaded = loadHydrated(folder);
    EXPECT_EQ(loaded.mediaBitDepth, 24);
    const std::vector<float> audio = loaded.tracks[0]->clips[0]->audio->toVector();
    const std::vector<float> &original = *recorded;
    ASSERT_EQ(audio.size(), original.size());
    for (std::size_t index = 0; index < audio.size(); ++index)
        ASSERT_NEAR(audio[index], original[index], 0.5 / 8388608.0) << index;
}

TEST_F(Media, SixteenBitMediaOfAnOlderProjectKeepLoadingAndAreNeverRewritten) {
    const std::string folder = path("old.halvora");
    writeWav(folder + "/media/take.wav", 400, 6);
    fs::create_directories(folder);
    Project project;
    project.rootPath = folder;
    auto clip = addAudioClip(project, 0, 0);
    clip->audio = nullptr;
    clip->audioFile = "media/take.wav";
    ASSERT_TRUE(writeFileDurably(fs::path(folder) / "project.json", toJson(project)));
    const auto before = mediaBytes(folder);

    Project loaded = loadHydrated(folder);
    ASSERT_TRUE(loaded.tracks[0]->clips[0]->audio->file()) << "16-bit media still stream";
    EXPECT_EQ(loaded.tracks[0]->clips[0]->audioFrameCount(), 400);
    EXPECT_EQ(writesOfSave(loaded, folder), 0u);
    EXPECT_EQ(mediaBytes(folder), before);
    const std::string resaved = readFile(folder + "/project.json");
    EXPECT_EQ(resaved.find("mediaBitDepth"), std::string::npos) << "no new key in an old project";
    EXPECT_EQ(writesOfSave(loaded, folder), 0u);
    EXPECT_EQ(readFile(folder + "/project.json"), resaved) << "saving again changes no byte";
}

} // namespace
} // namespace orvane::project_io
