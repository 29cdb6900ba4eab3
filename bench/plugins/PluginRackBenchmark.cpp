// The audio thread's insert processing while the main thread saves a large project under the
// project mutex, against the same processing with the main thread idle, in the same run. The
// rack's audio path reads only its published view, so the save must not show in the worst
// block time.
#include "core/plugins/PluginRack.h"
#include "core/project_io/ProjectFolder.h"
#include "core/rt/RtThread.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace orvane;
using namespace orvane::vst;

constexpr int frames = 256;
constexpr double sampleRate = 48000.0;
constexpr int projectTracks = 24;
constexpr int64_t clipFrames = 10 * 48000;

struct Rig {
    Project project;
    std::recursive_mutex projectMutex;
    std::atomic<int64_t> playhead{0};
    uint64_t trackId = 0;
    std::unique_ptr<PluginRack> rack;

    Rig() {
        rack = std::make_unique<PluginRack>(
            PluginRackHost{&project, &projectMutex, &playhead, [] {}, {}, {}});
        rack->prepare(sampleRate, frames);
        for (int i = 0; i < projectTracks; ++i) {
            auto track = project.addTrack(TrackType::Audio, "");
            auto clip = project.addClip(track->id, ClipKind::Audio);
            clip->length = clipFrames;
            clip->audio = std::make_shared<std::vector<float>>(
                static_cast<std::size_t>(2 * clipFrames), 0.25f * static_cast<float>(i % 3));
        }
        trackId = project.tracks.front()->id;
    }
    bool loadPlugins() {
        if (!rack->loadVst3(trackId, "/usr/lib/vst3/ZamComp.vst3", "")) return false;
        if (!rack->loadVst3(trackId, "/usr/lib/vst3/ZamEQ2.vst3", "")) return false;
        std::lock_guard lock(projectMutex);
        project.findTrack(trackId)->inserts[0].paramAutomation = {{0, 0.0f}, {clipFrames, 1.0f}};
        rack->publishRtView();
        return true;
    }
};

/// Runs `processTrack` block after block on a thread of its own until stopped, keeping the
/// slowest block.
class AudioThread {
  public:
    /// With `takeProjectMutex`, each block first locks the project, as an insert path that
    /// read the live project would.
    AudioThread(Rig &rig, bool takeProjectMutex)
        : rig(rig), takeProjectMutex(takeProjectMutex), thread([this] { run(); }) {}
    ~AudioThread() { stopAndJoin(); }
    void stopAndJoin() {
        stop.store(true);
        if (thread.joinable()) thread.join();
    }
    int64_t worstNanoseconds() const { return worst.load(); }
    int64_t blockCount() const { return blocks.load(); }
    int64_t lateBlockCount() const { return lateBlocks.load(); }

  private:
    void run() {
        RtScope audioRole;
        std::vector<float> left(frames, 0.1f), right(frames, 0.1f);
        while (!stop.load(std::memory_order_relaxed)) {
            const auto start = std::chrono::steady_clock::now();
            if (takeProjectMutex) {
                std::lock_guard lock(rig.projectMutex);
                rig.rack->processTrack(rig.trackId, left.data(), right.data(), frames);
            } else {
                rig.rack->processTrack(rig.trackId, left.data(), right.data(), frames);
            }
            const auto took = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
            if (took > worst.load(std::memory_order_relaxed))
                worst.store(took, std::memory_order_relaxed);
            rig.playhead.fetch_add(frames, std::memory_order_relaxed);
            blocks.fetch_add(1, std::memory_order_relaxed);
            if (took > budgetNanoseconds) lateBlocks.fetch_add(1, std::memory_order_relaxed);
        }
    }

    static constexpr int64_t budgetNanoseconds = 1'000'000'000LL * frames / 48000;
    Rig &rig;
    const bool takeProjectMutex;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> lateBlocks{0};
    std::atomic<int64_t> worst{0};
    std::atomic<int64_t> blocks{0};
    std::thread thread;
};

struct Totals {
    int64_t worst = 0;
    int64_t blocks = 0;
    int64_t late = 0;
    void add(const AudioThread &audio) {
        worst = std::max(worst, audio.worstNanoseconds());
        blocks += audio.blockCount();
        late += audio.lateBlockCount();
    }
};

void report(benchmark::State &state, const Totals &totals) {
    state.counters["worstBlockUs"] = static_cast<double>(totals.worst) / 1000.0;
    state.counters["blockBudgetUs"] = 1e6 * frames / sampleRate;
    state.counters["blocks"] = static_cast<double>(totals.blocks);
    state.counters["lateBlocks"] = static_cast<double>(totals.late);
}

void processWhileSaving(benchmark::State &state, bool takeProjectMutex) {
    Rig rig;
    if (!rig.loadPlugins()) {
        state.SkipWithError("ZamComp or ZamEQ2 did not load: install zam-plugins");
        return;
    }
    const auto folder = std::filesystem::temp_directory_path() / "halvora-rack-bench.halvora";
    Totals totals;
    for (auto _ : state) {
        AudioThread audio(rig, takeProjectMutex);
        {
            // Held for the whole save, as the application's main thread does.
            std::lock_guard lock(rig.projectMutex);
            const auto saved = project_io::saveProject(rig.project, folder.string(), false);
            benchmark::DoNotOptimize(saved.ok);
        }
        audio.stopAndJoin();
        totals.add(audio);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    report(state, totals);
}

void processWhileSavingFromTheView(benchmark::State &state) { processWhileSaving(state, false); }

// What the rack would suffer if its audio path read the live project under the mutex.
void processWhileSavingUnderTheProjectMutex(benchmark::State &state) {
    processWhileSaving(state, true);
}

// The baseline: blocks with the main thread only waiting for them.
void processWhileIdle(benchmark::State &state) {
    Rig rig;
    if (!rig.loadPlugins()) {
        state.SkipWithError("ZamComp or ZamEQ2 did not load: install zam-plugins");
        return;
    }
    Totals totals;
    for (auto _ : state) {
        AudioThread audio(rig, false);
        while (audio.blockCount() < 20000)
            std::this_thread::yield();
        audio.stopAndJoin();
        totals.add(audio);
    }
    report(state, totals);
}

} // namespace

BENCHMARK(processWhileIdle)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(processWhileSavingFromTheView)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(processWhileSavingUnderTheProjectMutex)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
