#include "core/project_io/tests/ProjectFolderFixture.h"

#include "core/audiofile/AudioFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace orvane::project_io::testing {

namespace fs = std::filesystem;

void ProjectFolderTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "halvora_folder_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
}

void ProjectFolderTest::TearDown() { fs::remove_all(root_); }

std::string ProjectFolderTest::path(const std::string &relative) const {
    return (fs::path(root_) / relative).string();
}

std::string ProjectFolderTest::readFile(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::shared_ptr<const std::vector<float>> ProjectFolderTest::ramp(int frames, int seed) {
    auto samples = std::make_shared<std::vector<float>>(2 * static_cast<std::size_t>(frames));
    for (std::size_t index = 0; index < samples->size(); ++index)
        (*samples)[index] = static_cast<float>((index * 37 + seed * 101) % 2000) / 1000.0f - 1.0f;
    return samples;
}

void ProjectFolderTest::writeWav(const std::string &file, int frames, int seed) const {
    fs::create_directories(fs::path(file).parent_path());
    ASSERT_TRUE(exportWav(file, ramp(frames, seed)->data(), frames, 2, 48000));
}

std::shared_ptr<Clip> ProjectFolderTest::addAudioClip(Project &project, int frames,
                                                      int seed) const {
    if (project.tracks.empty()) project.addTrack(TrackType::Audio, "");
    auto clip = project.addClip(project.tracks.front()->id, ClipKind::Audio);
    clip->audio = ramp(frames, seed);
    clip->length = frames;
    return clip;
}

} // namespace orvane::project_io::testing
