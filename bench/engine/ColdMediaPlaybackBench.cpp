// Live playback of a project whose media stream from disk and are not in the page cache:
// the audio thread renders in real time at a device period while the disk thread reads
// ahead beside it. Reports the worst block against the period, the audio thread's own major
// page faults and the blocks a clip played dry, beside the same project with its media in
// the heap (the same run's baseline, which never touches a file).
#include "bench/ColdMedia.h"
#include "core/engine/Engine.h"
#include "core/engine/MediaPrefetch.h"
#include "core/project_io/ProjectFolder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

using namespace orvane;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
constexpr int tracks = 32;
constexpr double songSeconds = 60.0;
constexpr double playSeconds = 15.0;

const fs::path &scratchFolder() {
    static const fs::path folder =
        fs::temp_directory_path() / ("halvora_cold_media_" + std::to_string(::getpid()));
    return folder;
}

/// Removes the project at exit (declared before first use, so it outlives it).
struct FolderCleanup {
    fs::path folder = scratchFolder();
    ~FolderCleanup() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
} cleanup;

fs::path songFolder() {
    const fs::path &folder = scratchFolder();
    if (fs::exists(folder / "project.json")) return folder;
    Project project;
    project.sampleRate = rate;
    bench::addToneTracks(project, tracks, songSeconds);
    project_io::saveProject(project, folder.string(), false);
    return folder;
}

/// What the playing thread saw: its longest block in seconds and its own major faults.
struct LivePlay {
    double worst = 0.0;
    long majorFaults = 0;
};

long threadMajorFaults() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_majflt;
}

/// Plays from the start in real time, one block per period on absolute deadlines.
LivePlay playInRealTime(Engine &engine, int32_t frames) {
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
    std::array<float *, 2> channels{left.data(), right.data()};
    const auto period = std::chrono::nanoseconds(static_cast<int64_t>(1e9 * frames / rate));
    const auto blocks = static_cast<int64_t>(playSeconds * rate / frames);
    double worst = 0.0;
    const long faultsBefore = threadMajorFaults();
    auto deadline = std::chrono::steady_clock::now();
    for (int64_t block = 0; block < blocks; ++block) {
        const auto started = std::chrono::steady_clock::now();
        engine.processBlock(channels.data(), 2, frames);
        worst = std::max(
            worst,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        deadline += period;
        std::this_thread::sleep_until(deadline);
    }
    return {worst, threadMajorFaults() - faultsBefore};
}

void liveBlocksOfMedia(benchmark::State &state, bool streamed) {
    const auto frames = static_cast<int32_t>(state.range(0));
    const fs::path folder = songFolder();
    for (auto _ : state) {
        bench::dropMediaFromPageCache(folder);
        std::optional<Project> project = project_io::loadProject(folder.string());
        if (!project || !project_io::hydrateProjectMedia(*project)) {
            state.SkipWithError("the song or its media did not load");
            break;
        }
        if (!streamed)
            for (const auto &track : project->tracks)
                for (const auto &clip : track->clips)
                    clip->audio = makeSampleBuffer(clip->audio->toVector());
        Engine engine;
        engine.replaceProject(std::move(*project));
        engine.prepareToPlay(rate, frames);
        MediaPrefetcher prefetcher(engine);
        prefetcher.readAhead(0);
        if (!engine.pushRequest(RequestProducer::MainThread, Request::play()))
            state.SkipWithError("request ring full");
        LivePlay played;
        std::thread audio([&] { played = playInRealTime(engine, frames); });
        audio.join();
        state.SetIterationTime(played.worst);
        state.counters["worst_ms"] = 1e3 * played.worst;
        state.counters["worst_of_period"] = played.worst * rate / frames;
        state.counters["audio_thread_major_faults"] = static_cast<double>(played.majorFaults);
        state.counters["dry_blocks"] = static_cast<double>(prefetcher.dryBlocks());
    }
    state.SetLabel(streamed ? "streamed, media not cached" : "heap (baseline)");
}

void coldStreamedMedia(benchmark::State &state) { liveBlocksOfMedia(state, true); }
void heapMedia(benchmark::State &state) { liveBlocksOfMedia(state, false); }

BENCHMARK(heapMedia)->Arg(128)->Arg(64)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(coldStreamedMedia)
    ->Arg(128)
    ->Arg(64)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
