// Live playback on a private dummy JACK server from media that are not in the page cache,
// driven as the window drives the transport (the disk thread reads a position before play,
// locate and a new cycle go to the engine). Reports, per scenario, the worst block against
// the period, the audio thread's own major page faults, the blocks a clip played dry, and
// the time until sound after each locate.
//
//   HALVORA_DEVICE_BENCH_SECONDS  seconds of the reference session (default 60)
#include "bench/ColdMedia.h"
#include "core/engine/Engine.h"
#include "core/engine/MediaPrefetch.h"
#include "core/engine/reference/ReferenceSession.h"
#include "core/project_io/ProjectFolder.h"
#include "device/AudioDeviceEngine.h"
#include "tests/support/JackServer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace orvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double rate = 48000.0;

double referenceSeconds() {
    const char *text = std::getenv("HALVORA_DEVICE_BENCH_SECONDS");
    const double seconds = text ? std::atof(text) : 60.0;
    return seconds > 0.0 ? seconds : 60.0;
}

/// A private folder, removed with everything in it when the scenario ends.
struct ScratchFolder {
    fs::path path;
    explicit ScratchFolder(const std::string &name)
        : path(fs::temp_directory_path() /
               ("halvora_cold_jack_" + name + "_" + std::to_string(::getpid()))) {
        fs::create_directories(path);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

/// Saves `project` (its media as files), opens it again file-backed, and has the kernel
/// forget the media's cached pages: every read from here on goes to the disk.
std::optional<Project> coldCopy(Project project, const fs::path &folder) {
    project_io::saveProject(project, folder.string(), false);
    std::optional<Project> opened = project_io::loadProject(folder.string());
    if (!opened || !project_io::hydrateProjectMedia(*opened)) return std::nullopt;
    bench::dropMediaFromPageCache(folder);
    return opened;
}

Project sixteenLongTracks(double seconds) {
    Project project;
    project.sampleRate = rate;
    bench::addToneTracks(project, 16, seconds);
    return project;
}

/// The engine on the dummy server with its disk thread, and the transport as the window
/// works it.
struct LiveRig {
    Engine engine;
    AudioDeviceEngine device{engine};
    std::optional<MediaPrefetcher> prefetcher;

    bool start(Project project, int32_t frames) {
        engine.replaceProject(std::move(project));
        const uint32_t jack = device.deviceIdByName(jackDeviceName);
        if (jack == 0 || !device.applySettings(jack, 0, frames)) return false;
        prefetcher.emplace(engine);
        prefetcher->readAhead(0);
        return engine.pushRequest(RequestProducer::MainThread, Request::locate(0)) &&
               engine.pushRequest(RequestProducer::MainThread, Request::play()) && device.start();
    }
    void locate(int64_t position) {
        prefetcher->readAhead(position);
        (void)engine.pushRequest(RequestProducer::MainThread, Request::locate(position));
    }
    void setCycle(int64_t start, int64_t end) {
        prefetcher->readCycleStart(start);
        (void)engine.pushRequest(RequestProducer::MainThread, Request::setCycle(start, end, true));
    }
    /// How long after now the clips went on playing dry, watching for `watch`.
    double dryTail(Clock::time_point since, std::chrono::milliseconds watch) {
        uint64_t dry = prefetcher->dryBlocks();
        Clock::time_point lastDry = since;
        const auto until = since + watch;
        while (Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (const uint64_t now = prefetcher->dryBlocks(); now != dry) {
                dry = now;
                lastDry = Clock::now();
            }
        }
        return std::chrono::duration<double>(lastDry - since).count();
    }
    void report(benchmark::State &state, int32_t frames) {
        const DspLoadSummary load = device.dspLoad();
        state.counters["period_frames"] = frames;
        state.counters["worst_block_of_period"] = load.worst;
        state.counters["mean_block_of_period"] = load.mean;
        state.counters["audio_thread_major_faults"] =
            static_cast<double>(device.audioThreadMajorFaults());
        state.counters["dry_blocks"] = static_cast<double>(prefetcher->dryBlocks());
        state.counters["xruns"] = static_cast<double>(device.xrunCount());
        state.counters["blocks"] = static_cast<double>(load.blocks);
    }
};

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

/// The reference session played from the start, its media cold.
void referenceSessionFromColdMedia(benchmark::State &state) {
    const auto frames = static_cast<int32_t>(state.range(0));
    const double seconds = referenceSeconds();
    ReferenceSessionOptions options;
    options.seconds = seconds + 5.0;
    ScratchFolder folder("reference");
    testing::JackServer server(frames, static_cast<int32_t>(rate), false,
                               testing::realtimeSchedulingAllowed());
    if (!server.ready()) return state.SkipWithError("the JACK server did not start");
    for (auto _ : state) {
        std::optional<Project> project = coldCopy(buildReferenceSession(options), folder.path);
        LiveRig rig;
        if (!project || !rig.start(std::move(*project), frames))
            return state.SkipWithError("playback did not start");
        sleepSeconds(seconds);
        rig.report(state, frames);
        rig.device.stop();
    }
}

/// Sixteen long tracks: ten locates to positions never read, then a cycle set 50 ms before
/// the playhead reaches its end.
void locatesAndLateCycleOnColdMedia(benchmark::State &state) {
    const auto frames = static_cast<int32_t>(state.range(0));
    constexpr double songSeconds = 150.0;
    ScratchFolder folder("locates");
    testing::JackServer server(frames, static_cast<int32_t>(rate), false,
                               testing::realtimeSchedulingAllowed());
    if (!server.ready()) return state.SkipWithError("the JACK server did not start");
    for (auto _ : state) {
        std::optional<Project> project = coldCopy(sixteenLongTracks(songSeconds), folder.path);
        LiveRig rig;
        if (!project || !rig.start(std::move(*project), frames))
            return state.SkipWithError("playback did not start");
        sleepSeconds(1.0);
        // From the click to the first block that plays every clip at the new position: the
        // read the window does before the jump, then any dry blocks after it.
        double worstSilence = 0.0;
        const uint64_t dryBeforeLocates = rig.prefetcher->dryBlocks();
        for (int jump = 0; jump < 10; ++jump) {
            // Far apart and out of order, so that no position was read before.
            const double at = 7.0 + 12.7 * ((jump * 7) % 10);
            const auto clicked = Clock::now();
            rig.locate(static_cast<int64_t>(at * rate));
            const auto requested = Clock::now();
            const double tail = rig.dryTail(requested, std::chrono::milliseconds(1500));
            worstSilence = std::max(
                worstSilence, std::chrono::duration<double>(requested - clicked).count() + tail);
        }
        const uint64_t dryWhileLocating = rig.prefetcher->dryBlocks() - dryBeforeLocates;
        // Beyond everything the locates read: the jump back finds cold media too.
        const auto cycleStart = static_cast<int64_t>(128.0 * rate);
        const auto cycleEnd = static_cast<int64_t>(140.0 * rate);
        rig.locate(cycleEnd - static_cast<int64_t>(1.0 * rate));
        sleepSeconds(0.5);
        const uint64_t dryBeforeCycle = rig.prefetcher->dryBlocks();
        const int64_t setAt = cycleEnd - static_cast<int64_t>(0.050 * rate);
        while (rig.engine.transport.playhead.load() < setAt)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        rig.setCycle(cycleStart, cycleEnd);
        // Once the jump back is taken, a one-second cycle wraps three more times.
        sleepSeconds(0.5);
        rig.setCycle(cycleStart, cycleStart + static_cast<int64_t>(rate));
        sleepSeconds(3.5);
        rig.report(state, frames);
        state.counters["worst_silence_after_locate_ms"] = 1e3 * worstSilence;
        state.counters["dry_blocks_while_locating"] = static_cast<double>(dryWhileLocating);
        state.counters["dry_blocks_around_cycle"] =
            static_cast<double>(rig.prefetcher->dryBlocks() - dryBeforeCycle);
        rig.device.stop();
    }
}

BENCHMARK(referenceSessionFromColdMedia)
    ->Arg(128)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(locatesAndLateCycleOnColdMedia)
    ->Arg(128)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
