#include "app/shell/DocumentOperations.h"
#include "bench/app/MixingWorkload.h"
#include "core/audiofile/AudioFile.h"
#include "core/engine/reference/ReferenceSession.h"
#include "core/project_io/ProjectFolder.h"
#include "device/OfflineRender.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <optional>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

#include <unistd.h>

using namespace orvane;
namespace fs = std::filesystem;

namespace {

constexpr double sampleRate = 48000.0;
constexpr double songSeconds = 60.0;

/// Project folders written once per run and removed at exit; writing them is not measured.
struct BenchFolders {
    fs::path root =
        fs::temp_directory_path() / ("halvora_render_bench_" + std::to_string(::getpid()));
    BenchFolders() { fs::create_directories(root); }
    ~BenchFolders() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

BenchFolders &folders() {
    static BenchFolders instance;
    return instance;
}

double secondsSince(std::chrono::steady_clock::time_point started) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

/// User and system time of the process: other builds on a shared machine inflate wall time,
/// while page faults of fresh buffers show up as system time and are part of the cost.
double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

struct Timed {
    double wall = 0.0;
    double cpu = 0.0;
    double system = 0.0; // of the cpu time, in the kernel
};

template <typename Work> Timed timed(Work work) {
    const auto started = std::chrono::steady_clock::now();
    const double cpuStarted = processCpuSeconds();
    work();
    return {secondsSince(started), processCpuSeconds() - cpuStarted};
}

double timevalSeconds(const timeval &time) {
    return static_cast<double>(time.tv_sec) + 1e-6 * static_cast<double>(time.tv_usec);
}

/// CPU time of the children that have ended, user and system.
double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return timevalSeconds(usage.ru_utime) + timevalSeconds(usage.ru_stime);
}

double childrenSystemSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return timevalSeconds(usage.ru_stime);
}

/// The whole command as a user runs it, in its own process: load, hydrate, render, write.
Timed runCommandOnce(const fs::path &project, const fs::path &output,
                     const std::vector<std::string> &options = {}) {
    std::vector<std::string> words{HALVORA_EXECUTABLE, "render", project.string(), "-o",
                                   output.string(),    "--quiet"};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const double cpuBefore = childrenCpuSeconds();
    const double systemBefore = childrenSystemSeconds();
    const auto started = std::chrono::steady_clock::now();
    pid_t child = 0;
    int status = -1;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) == 0)
        waitpid(child, &status, 0);
    const double wall = secondsSince(started);
    if (status != 0) std::fprintf(stderr, "render failed with status %d\n", status);
    return {wall, childrenCpuSeconds() - cpuBefore, childrenSystemSeconds() - systemBefore};
}

fs::path referenceFolder() {
    const fs::path folder = folders().root / "reference.halvora";
    if (!fs::exists(folder / "project.json")) {
        ReferenceSessionOptions options;
        options.seconds = songSeconds;
        Project project = buildReferenceSession(options);
        project_io::saveProject(project, folder.string(), false);
    }
    return folder;
}

/// 32 tracks, each one 60-second stereo clip with its own gain and pan, channel EQ off or
/// with four enabled bands, no master processing: the mixing workload alone.
fs::path mixingFolder(int32_t eqBands) {
    return bench::writeMixingProject(
        folders().root / ("mix_eq" + std::to_string(eqBands) + ".halvora"), eqBands);
}

void reportRealTime(benchmark::State &state, Timed spent, double audioSeconds) {
    state.SetIterationTime(spent.wall);
    state.counters["realtime_factor"] = audioSeconds / spent.wall;
    state.counters["cpu_realtime_factor"] = audioSeconds / spent.cpu;
}

/// Baseline of the same run: the reference session rendered in memory, nothing loaded or
/// written.
void referenceInProcess(benchmark::State &state) {
    ReferenceSessionOptions options;
    options.seconds = songSeconds;
    Engine engine;
    engine.replaceProject(buildReferenceSession(options));
    engine.prepareToPlay(sampleRate, 512);
    const auto frames = static_cast<int64_t>(songSeconds * sampleRate);
    for (auto _ : state) {
        std::vector<float> out;
        bool rendered = false;
        reportRealTime(state, timed([&] { rendered = renderMixdown(engine, out, 0, frames, 2); }),
                       songSeconds);
        if (!rendered) {
            state.SkipWithError("the reference session did not render");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(referenceInProcess)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

void referenceCommand(benchmark::State &state) {
    const fs::path folder = referenceFolder();
    const fs::path output = folders().root / "reference.wav";
    for (auto _ : state)
        reportRealTime(state, runCommandOnce(folder, output), songSeconds + 0.5);
}
BENCHMARK(referenceCommand)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

void mixingCommand(benchmark::State &state) {
    const auto bands = static_cast<int32_t>(state.range(0));
    const fs::path folder = mixingFolder(bands);
    const fs::path output = folders().root / "mix.wav";
    for (auto _ : state)
        reportRealTime(state, runCommandOnce(folder, output), songSeconds + 0.5);
    state.SetLabel(bands == 0 ? "32 tracks, channel EQ off" : "32 tracks, 4 EQ bands each");
}
BENCHMARK(mixingCommand)->Arg(0)->Arg(4)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);

/// Where the command's time goes, phase by phase, on the mixing project without EQ: each
/// counter is the share of the whole in percent.
void mixingCommandPhases(benchmark::State &state) {
    const fs::path folder = mixingFolder(0);
    const fs::path output = folders().root / "phases.wav";
    const auto frames = static_cast<int64_t>((songSeconds + 0.5) * sampleRate);
    for (auto _ : state) {
        std::optional<Project> project;
        bool loaded = false;
        const Timed load = timed([&] {
            project = project_io::loadProject(folder.string());
            loaded = project && project_io::hydrateProjectMedia(*project);
        });
        if (!loaded) {
            state.SkipWithError("the mixing project or its media did not load");
            break;
        }
        Engine engine;
        std::vector<float> out;
        bool rendered = false;
        const Timed render = timed([&] {
            engine.replaceProject(std::move(*project));
            engine.prepareToPlay(sampleRate, 512);
            rendered = renderMixdown(engine, out, 0, frames, 2);
        });
        if (!rendered) {
            state.SkipWithError("the mix did not render");
            break;
        }
        bool written = false;
        const Timed write = timed([&] {
            written =
                exportWav(output.string(), out.data(), static_cast<int>(frames), 2, sampleRate);
        });
        if (!written) {
            state.SkipWithError("the mix could not be written");
            break;
        }
        const double wall = load.wall + render.wall + write.wall;
        const double cpu = load.cpu + render.cpu + write.cpu;
        state.SetIterationTime(wall);
        state.counters["load_pct"] = 100.0 * load.cpu / cpu;
        state.counters["render_pct"] = 100.0 * render.cpu / cpu;
        state.counters["write_pct"] = 100.0 * write.cpu / cpu;
        state.counters["cpu_realtime_factor"] = (songSeconds + 0.5) / cpu;
    }
}
BENCHMARK(mixingCommandPhases)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);

/// The 32-track mix exported as 16-bit WAV (the baseline), 24-bit FLAC and MP3 in one run,
/// each as the whole command: real-time factors by wall and CPU time, the kernel's share,
/// and each format's wall time as a multiple of the WAV export's.
void mixingCommandFormats(benchmark::State &state) {
    const fs::path folder = mixingFolder(0);
    struct Format {
        const char *name;
        const char *file;
        std::vector<std::string> options;
    };
    const std::vector<Format> formats{
        {"wav16", "formats.wav", {}},
        {"flac24", "formats.flac", {"--format", "flac", "--bits", "24"}},
        {"mp3", "formats.mp3", {"--format", "mp3", "--quality", "0.7"}},
    };
    const double audioSeconds = songSeconds + 0.5;
    for (auto _ : state) {
        double total = 0.0, baseline = 0.0;
        for (const Format &format : formats) {
            const Timed spent =
                runCommandOnce(folder, folders().root / format.file, format.options);
            if (baseline == 0.0) baseline = spent.wall;
            total += spent.wall;
            const std::string name = format.name;
            state.counters[name + "_realtime"] = audioSeconds / spent.wall;
            state.counters[name + "_cpu_realtime"] = audioSeconds / spent.cpu;
            state.counters[name + "_sys_s"] = spent.system;
            state.counters[name + "_wall_s"] = spent.wall;
            state.counters[name + "_vs_wav"] = spent.wall / baseline;
        }
        state.SetIterationTime(total);
    }
    state.SetLabel("32 tracks, channel EQ off");
}
BENCHMARK(mixingCommandFormats)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
