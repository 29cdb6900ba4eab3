#include "core/audiofile/AudioFile.h"
#include "core/project_io/ProjectFolder.h"
#include "core/project_io/tests/ProjectFolderFixture.h"

#include <filesystem>
#include <fstream>

namespace orvane::project_io {
namespace {

namespace fs = std::filesystem;
using Folder = testing::ProjectFolderTest;

/// Audio written to 16 bits and read back is within one step of the original.
void expectSameAudio(const std::vector<float> &expected, const std::vector<float> &actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (std::size_t index = 0; index < expected.size(); ++index)
        ASSERT_NEAR(expected[index], actual[index], 2.0 / 32768.0) << index;
}

TEST_F(Folder, SavingTwiceRewritesTheMediaOfEveryClipWithAudio) {
    Project project;
    auto first = addAudioClip(project, 100, 1);
    auto second = addAudioClip(project, 50, 2);
    second->audioFile = "/elsewhere/take.wav";
    auto midiTrack = project.addTrack(TrackType::Midi, "");
    project.addClip(midiTrack->id, ClipKind::Midi);
    const std::string folder = path("song.halvora");

    ASSERT_TRUE(saveProject(project, folder, false).ok);
    EXPECT_EQ(project.rootPath, folder);
    EXPECT_TRUE(fs::is_directory(folder + "/plugins"));
    const std::string firstName = "media/clip_" + std::to_string(first->id) + ".wav";
    EXPECT_EQ(first->audioFile, firstName);
    EXPECT_EQ(second->audioFile, "media/clip_" + std::to_string(second->id) + ".wav");

    first->audio = ramp(100, 9);
    const SaveResult again = saveProject(project, folder, false);
    EXPECT_TRUE(again.ok);
    EXPECT_EQ(again.error, "");
    EXPECT_EQ(first->audioFile, firstName);
    DecodedAudio rewritten;
    ASSERT_TRUE(readMediaFile(folder + "/" + firstName, project.sampleRate, rewritten));
    expectSameAudio(*ramp(100, 9), *rewritten.samples);
    // No temporary file is left beside the media.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder + "/media"), fs::directory_iterator()),
              2);
}

TEST_F(Folder, SavedProjectLoadsAndHydratesWithItsAudio) {
    Project project;
    auto clip = addAudioClip(project, 300, 3);
    project.sampleRate = 44100;
    const std::string folder = path("p");
    ASSERT_TRUE(saveProject(project, folder, false).ok);
    std::optional<Project> loaded = loadProject(folder);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->rootPath, folder);
    EXPECT_EQ(loaded->sampleRate, 44100.0);
    EXPECT_EQ(loaded->tracks[0]->clips[0]->audioFile, clip->audioFile);
    std::string error;
    ASSERT_TRUE(hydrateProjectMedia(*loaded, &error)) << error;
    const auto &loadedClip = loaded->tracks[0]->clips[0];
    EXPECT_EQ(loadedClip->channels, 2);
    EXPECT_EQ(loadedClip->length, 300);
    expectSameAudio(clip->audio->toVector(), loadedClip->audio->toVector());
    EXPECT_TRUE(findMissingMedia(*loaded).empty());
}

TEST_F(Folder, CollectAllCopiesOutsideFilesButNotThoseAlreadyInMedia) {
    const std::string folder = path("collect");
    writeWav(path("outside/loop.wav"), 10, 1);
    writeWav(folder + "/media/kick.wav", 10, 2);
    Project project;
    project.rootPath = folder;
    auto outside = addAudioClip(project, 10, 0);
    outside->audio = nullptr;
    outside->audioFile = path("outside/loop.wav");
    auto inside = addAudioClip(project, 10, 0);
    inside->audio = nullptr;
    inside->audioFile = "media/kick.wav";
    auto absent = addAudioClip(project, 10, 0);
    absent->audio = nullptr;
    absent->audioFile = "gone.wav";

    ASSERT_TRUE(saveProject(project, folder, true).ok);
    const std::string collected = "media/clip_" + std::to_string(outside->id) + ".wav";
    EXPECT_EQ(outside->audioFile, collected);
    EXPECT_EQ(readFile(folder + "/" + collected), readFile(path("outside/loop.wav")));
    EXPECT_EQ(inside->audioFile, "media/kick.wav");
    EXPECT_FALSE(fs::exists(folder + "/media/clip_" + std::to_string(inside->id) + ".wav"));
    EXPECT_EQ(absent->audioFile, "gone.wav");

    // Saving again finds the collected file inside media and copies nothing more.
    const auto before = fs::last_write_time(folder + "/" + collected);
    ASSERT_TRUE(saveProject(project, folder, true).ok);
    EXPECT_EQ(fs::last_write_time(folder + "/" + collected), before);
}

TEST_F(Folder, WithoutCollectAllOutsideFilesStayWhereTheyAre) {
    writeWav(path("outside/loop.wav"), 10, 1);
    Project project;
    auto clip = addAudioClip(project, 10, 0);
    clip->audio = nullptr;
    clip->audioFile = path("outside/loop.wav");
    ASSERT_TRUE(saveProject(project, path("p"), false).ok);
    EXPECT_EQ(clip->audioFile, path("outside/loop.wav"));
}

TEST_F(Folder, AMediaFileThatCannotBeWrittenFailsTheSaveByName) {
    Project project;
    auto good = addAudioClip(project, 10, 1);
    auto blocked = addAudioClip(project, 10, 2);
    const std::string blockedName = "media/clip_" + std::to_string(blocked->id) + ".wav";
    fs::create_directories(path("p/" + blockedName + "/occupied"));
    const SaveResult result = saveProject(project, path("p"), false);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "cannot write " + blockedName);
    // Everything else was still written.
    EXPECT_TRUE(fs::is_regular_file(path("p/media/clip_" + std::to_string(good->id) + ".wav")));
    EXPECT_TRUE(loadProject(path("p")).has_value());
    EXPECT_EQ(blocked->audioFile, "");
    EXPECT_EQ(std::distance(fs::directory_iterator(path("p/media")), fs::directory_iterator()), 2);
}

TEST_F(Folder, LoadingWithoutADocumentOrWithABrokenOneYieldsNothing) {
    EXPECT_FALSE(loadProject(path("")).has_value());
    std::ofstream(path("project.json")) << "[1,2]";
    EXPECT_FALSE(loadProject(root_).has_value());
    std::ofstream(path("project.json")) << "{\"name\":\"x\"";
    EXPECT_FALSE(loadProject(root_).has_value());
}

TEST_F(Folder, LoadingRaisesIdCountersAboveEveryIdInUse) {
    std::ofstream(path("project.json"))
        << R"({"nextTrackId":0,"nextClipId":3,"nextSceneId":50,"nextMarkerId":-1,)"
        << R"("markers":[{"id":9}],"session":{"scenes":[{"id":4}]},)"
        << R"("tracks":[{"id":2,"clips":[{"id":7},{"id":5}]},{"id":1}]})";
    const std::optional<Project> loaded = loadProject(root_);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->nextTrackId, 3u);
    EXPECT_EQ(loaded->nextClipId, 8u);
    EXPECT_EQ(loaded->nextSceneId, 50u);
    EXPECT_EQ(loaded->nextMarkerId, 10u);
    std::ofstream(path("project.json")) << R"({"nextClipId":0,"tracks":[{"clips":[{"id":-1}]}]})";
    EXPECT_EQ(loadProject(root_)->nextClipId, 1u);
}

TEST_F(Folder, HydrationLoadsWhatItCanAndNamesTheMissingFile) {
    Project project;
    project.rootPath = root_;
    for (int index = 0; index < 3; ++index) {
        auto clip = addAudioClip(project, 0, 0);
        clip->audio = nullptr;
        clip->length = 0;
        clip->audioFile = "media/" + std::to_string(index) + ".wav";
    }
    writeWav(path("media/0.wav"), 20, 0);
    writeWav(path("media/2.wav"), 30, 2);
    std::string error;
    EXPECT_FALSE(hydrateProjectMedia(project, &error));
    EXPECT_EQ(error, "cannot load " + (std::filesystem::path(root_) / "media/1.wav").string() +
                         ": No such file or directory");
    const auto &clips = project.tracks[0]->clips;
    EXPECT_EQ(clips[0]->length, 20);
    EXPECT_EQ(clips[0]->audio->size(), 40u);
    EXPECT_EQ(clips[1]->audio, nullptr);
    EXPECT_EQ(clips[2]->length, 30);
    const auto missing = findMissingMedia(project);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].audioFile, "media/1.wav");
}

TEST_F(Folder, HydrationKeepsAPositiveLengthAndSkipsClipsWithAudio) {
    Project project;
    project.rootPath = root_;
    auto withAudio = addAudioClip(project, 5, 1);
    withAudio->audioFile = "media/none.wav";
    auto longer = addAudioClip(project, 0, 0);
    longer->audio = nullptr;
    longer->length = 999;
    longer->audioFile = path("abs.wav");
    writeWav(path("abs.wav"), 10, 0);
    std::string error;
    EXPECT_TRUE(hydrateProjectMedia(project, &error)) << error;
    EXPECT_EQ(withAudio->audio->size(), 10u);
    EXPECT_EQ(longer->length, 999);
    EXPECT_EQ(longer->audio->size(), 20u);
}

TEST_F(Folder, HydrationWithoutARootPathFails) {
    Project project;
    std::string error;
    EXPECT_FALSE(hydrateProjectMedia(project, &error));
    EXPECT_EQ(error, "project has no root path");
}

TEST_F(Folder, MissingMediaListsClipsWhoseFileIsAbsentInOrder) {
    Project project;
    EXPECT_TRUE(findMissingMedia(project).empty());
    project.rootPath = root_;
    writeWav(path("media/here.wav"), 4, 0);
    const char *files[] = {"media/a.wav", "media/here.wav", "", "media/b.wav"};
    for (const char *file : files) {
        auto clip = addAudioClip(project, 4, 0);
        clip->audio = nullptr;
        clip->audioFile = file;
    }
    auto loaded = addAudioClip(project, 4, 0);
    loaded->audioFile = "media/c.wav";
    const auto midi = project.addClip(project.tracks[0]->id, ClipKind::Midi);
    midi->audioFile = "media/d.wav";
    const auto missing = findMissingMedia(project);
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_EQ(missing[0].audioFile, "media/a.wav");
    EXPECT_EQ(missing[1].audioFile, "media/b.wav");
    EXPECT_EQ(missing[1].clipId, project.tracks[0]->clips[3]->id);
}

TEST_F(Folder, RelinkingAClipReportsEachFailureAndStoresARelativePath) {
    Project project;
    project.rootPath = root_;
    auto clip = addAudioClip(project, 0, 0);
    clip->audio = nullptr;
    clip->audioFile = "old.wav";
    auto midi = project.addClip(project.tracks[0]->id, ClipKind::Midi);
    std::string error;
    EXPECT_FALSE(relinkClipMedia(project, midi->id, path("x.wav"), &error));
    EXPECT_EQ(error, "clip not found");
    EXPECT_FALSE(relinkClipMedia(project, 999, path("x.wav"), &error));
    EXPECT_EQ(error, "clip not found");
    EXPECT_FALSE(relinkClipMedia(project, clip->id, path("x.wav"), &error));
    EXPECT_EQ(error, "cannot import " + path("x.wav") + ": No such file or directory");
    EXPECT_EQ(clip->audioFile, "old.wav");

    writeWav(path("found/new.wav"), 12, 0);
    ASSERT_TRUE(relinkClipMedia(project, clip->id, path("found/new.wav"), &error));
    EXPECT_EQ(clip->audioFile, "found/new.wav");
    EXPECT_EQ(clip->length, 12);

    project.rootPath.clear();
    ASSERT_TRUE(relinkClipMedia(project, clip->id, path("found/new.wav"), nullptr));
    EXPECT_EQ(clip->audioFile, "new.wav");
}

TEST_F(Folder, RelinkingFromAFolderTakesTheFirstFileOfANameTheWalkMeets) {
    writeWav(path("library/one/a.wav"), 10, 1);
    writeWav(path("library/two/a.wav"), 20, 2);
    writeWav(path("library/two/b.wav"), 30, 3);
    Project project;
    project.rootPath = path("project");
    for (const char *file : {"media/a.wav", "media/b.wav", "media/c.wav"}) {
        auto clip = addAudioClip(project, 0, 0);
        clip->audio = nullptr;
        clip->length = 0;
        clip->audioFile = file;
    }
    std::string firstMet;
    for (const auto &entry : fs::recursive_directory_iterator(path("library")))
        if (entry.is_regular_file() && entry.path().filename() == "a.wav" && firstMet.empty())
            firstMet = entry.path().string();

    const auto missing = findMissingMedia(project);
    ASSERT_EQ(missing.size(), 3u);
    EXPECT_EQ(relinkMissingFromFolder(project, missing, path("library")), 2);
    const auto &clips = project.tracks[0]->clips;
    EXPECT_EQ(clips[0]->length, firstMet.find("one") != std::string::npos ? 10 : 20);
    EXPECT_EQ(clips[0]->audioFile, fs::path(firstMet).lexically_relative(path("project")).string());
    EXPECT_EQ(clips[1]->length, 30);
    EXPECT_EQ(clips[2]->audio, nullptr);
    EXPECT_EQ(relinkMissingFromFolder(project, missing, ""), 0);
    EXPECT_EQ(relinkMissingFromFolder(project, {}, path("library")), 0);
    EXPECT_EQ(relinkMissingFromFolder(project, missing, path("nowhere")), 0);
}

TEST_F(Folder, CopyingIntoMediaNeverOverwritesAnotherFileOfTheSameName) {
    writeWav(path("a/kick.wav"), 10, 1);
    writeWav(path("b/kick.wav"), 10, 2);
    const std::string project = path("p");
    std::string relative;
    ASSERT_TRUE(copyFileIntoProjectMedia(path("a/kick.wav"), project, relative));
    EXPECT_EQ(relative, "media/kick.wav");
    ASSERT_TRUE(copyFileIntoProjectMedia(path("b/kick.wav"), project, relative));
    EXPECT_EQ(relative, "media/kick (2).wav");
    EXPECT_EQ(readFile(project + "/media/kick.wav"), readFile(path("a/kick.wav")));
    EXPECT_EQ(readFile(project + "/media/kick (2).wav"), readFile(path("b/kick.wav")));
    // The same file again is the copy already there.
    ASSERT_TRUE(copyFileIntoProjectMedia(path("a/kick.wav"), project, relative));
    EXPECT_EQ(relative, "media/kick.wav");
    ASSERT_TRUE(copyFileIntoProjectMedia(project + "/media/kick (2).wav", project, relative));
    EXPECT_EQ(relative, "media/kick (2).wav");
    EXPECT_FALSE(copyFileIntoProjectMedia(path("a/none.wav"), project, relative));
}

} // namespace
} // namespace orvane::project_io
