#include "core/project_io/ProjectFolder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using namespace orvane;
namespace fs = std::filesystem;

constexpr int clipCount = 30;
constexpr int framesPerClip = 60 * 48000; // one minute each: 30 minutes in all

/// A saved project whose 30 audio clips hold 30 minutes of stereo media; removed at exit.
class MediaProject {
  public:
    MediaProject() {
        std::string pattern = (fs::temp_directory_path() / "halvora_bench_XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        folder_ = pattern;
        Project &project = project_;
        auto track = project.addTrack(TrackType::Audio, "");
        for (int index = 0; index < clipCount; ++index) {
            auto clip = project.addClip(track->id, ClipKind::Audio);
            auto samples = std::make_shared<std::vector<float>>(2 * std::size_t{framesPerClip});
            for (std::size_t sample = 0; sample < samples->size(); ++sample)
                (*samples)[sample] =
                    static_cast<float>((sample * 7919 + index) % 20001) / 10000.0f - 1.0f;
            clip->audio = std::move(samples);
            clip->length = framesPerClip;
        }
        if (!project_io::saveProject(project, folder_, false).ok) std::abort();
        for (const auto &entry : fs::recursive_directory_iterator(folder_))
            if (entry.is_regular_file()) files_.push_back(entry.path());
    }
    ~MediaProject() { fs::remove_all(folder_); }

    const std::string &folder() const { return folder_; }
    Project &project() { return project_; }
    const std::vector<fs::path> &files() const { return files_; }
    int64_t bytes() const {
        int64_t total = 0;
        for (const auto &file : files_)
            total += static_cast<int64_t>(fs::file_size(file));
        return total;
    }

  private:
    Project project_;
    std::string folder_;
    std::vector<fs::path> files_;
};

MediaProject &mediaProject() {
    static MediaProject project;
    return project;
}

void loadAndHydrate(benchmark::State &state) {
    const MediaProject &media = mediaProject();
    for (auto _ : state) {
        auto project = project_io::loadProject(media.folder());
        if (!project || !project_io::hydrateProjectMedia(*project))
            state.SkipWithError("the project did not load");
        benchmark::DoNotOptimize(project);
    }
    state.SetBytesProcessed(state.iterations() * media.bytes());
}

/// The floor: the same bytes read from the (cached) disk into memory, nothing decoded. Like
/// a hydrated project, every file stays in memory until the whole folder is read.
void readSameBytes(benchmark::State &state) {
    const MediaProject &media = mediaProject();
    for (auto _ : state) {
        std::vector<std::vector<char>> contents;
        for (const auto &file : media.files()) {
            std::vector<char> &bytes = contents.emplace_back(fs::file_size(file));
            std::ifstream in(file, std::ios::binary);
            in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        benchmark::DoNotOptimize(contents.data());
    }
    state.SetBytesProcessed(state.iterations() * media.bytes());
}

/// An edit of one clip: its audio becomes a new buffer (buffers are never written in place).
void changeOneClip(Project &project, int iteration) {
    auto &clip = project.tracks[0]->clips[static_cast<std::size_t>(iteration % clipCount)];
    clip->audio = makeSampleBuffer(clip->audio->toVector());
}

/// After: a save writes the media of the one changed clip and the document.
void saveWithOneClipChanged(benchmark::State &state) {
    MediaProject &media = mediaProject();
    int iteration = 0;
    for (auto _ : state) {
        state.PauseTiming();
        changeOneClip(media.project(), iteration++);
        state.ResumeTiming();
        if (!project_io::saveProject(media.project(), media.folder(), false).ok)
            state.SkipWithError("the save failed");
    }
}

/// Before: every save wrote the media of every clip, changed or not.
void saveRewritingEveryClip(benchmark::State &state) {
    MediaProject &media = mediaProject();
    int iteration = 0;
    for (auto _ : state) {
        state.PauseTiming();
        changeOneClip(media.project(), iteration++);
        project_io::forgetWrittenMedia();
        state.ResumeTiming();
        if (!project_io::saveProject(media.project(), media.folder(), false).ok)
            state.SkipWithError("the save failed");
    }
}

BENCHMARK(saveRewritingEveryClip)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(saveWithOneClipChanged)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(readSameBytes)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(loadAndHydrate)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
