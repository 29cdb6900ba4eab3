// What isolating every plug-in costs: the reference session's audio tracks each through two LV2
// plug-ins (an equaliser and a compressor), rendered offline in this process and with every
// insert in a helper of its own, in the same run. The figure is the CPU the helpers add per
// insert and second of audio, their own processes' CPU counted in, against the same render in
// process.
#include "bench/plugins/EqualiserAndCompressor.h"
#include "core/engine/Engine.h"
#include "core/engine/reference/ReferenceSession.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "device/OfflineRender.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <optional>
#include <vector>

namespace {

using namespace orvane;
using namespace orvane::vst;

constexpr double sampleRate = 48000.0;
constexpr int32_t blockSize = 512;
constexpr double seconds = 10.0;

double cpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct RenderCost {
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0; // this process and every helper
    int inserts = 0;
};

/// Renders the session with two inserts on each of its first `tracks` audio tracks; none when a
/// plug-in would not load.
std::optional<RenderCost> renderWithInserts(int tracks, bool sandboxed) {
    Engine engine;
    PluginSandboxController controller;
    controller.enabled = sandboxed;
    controller.helperSearchFolder = HALVORA_HELPER_FOLDER;
    auto rack =
        std::make_unique<PluginRack>(pluginRackHostFor(engine), pluginRackSandboxFor(controller));
    rack->sandboxEnabled = sandboxed;
    engine.replaceProject(buildReferenceSession({tracks, 0, seconds, sampleRate}));
    engine.prepareToPlay(sampleRate, blockSize);
    installPluginRackHooks(engine, *rack);
    rack->prepare(sampleRate, blockSize);
    const int inserts = bench::loadEqualiserAndCompressor(engine, *rack);
    if (inserts == 0) return std::nullopt;
    std::vector<clockid_t> helperClocks;
    {
        std::lock_guard lock(rack->slotsMutex);
        for (const Slot &slot : rack->slots) {
            clockid_t clock{};
            if (slot.sandboxed &&
                clock_getcpuclockid(slot.sandboxed->helperProcessId(), &clock) == 0)
                helperClocks.push_back(clock);
        }
    }
    const auto helpersCpu = [&helperClocks] {
        double total = 0.0;
        for (clockid_t clock : helperClocks)
            total += cpuSeconds(clock);
        return total;
    };
    std::vector<float> out;
    const double cpuBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) + helpersCpu();
    const auto start = std::chrono::steady_clock::now();
    const bool rendered =
        renderMixdown(engine, out, 0, static_cast<int64_t>(seconds * sampleRate), 2);
    const auto end = std::chrono::steady_clock::now();
    const double cpuAfter = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) + helpersCpu();
    if (!rendered) return std::nullopt;
    benchmark::DoNotOptimize(out.data());
    return RenderCost{std::chrono::duration<double>(end - start).count(), cpuAfter - cpuBefore,
                      inserts};
}

void sandboxedAgainstInProcess(benchmark::State &state) {
    const int tracks = static_cast<int>(state.range(0));
    RenderCost inProcess, sandboxed;
    for (auto _ : state) {
        const auto local = renderWithInserts(tracks, false);
        const auto isolated = renderWithInserts(tracks, true);
        if (!local || !isolated) {
            state.SkipWithError("the x42 LV2 plug-ins did not load (package x42-plugins)");
            return;
        }
        inProcess = *local;
        sandboxed = *isolated;
        state.SetIterationTime(sandboxed.wallSeconds);
    }
    const double inserts = inProcess.inserts;
    state.counters["inserts"] = inserts;
    state.counters["in_process_rtf"] = seconds / inProcess.wallSeconds;
    state.counters["sandboxed_rtf"] = seconds / sandboxed.wallSeconds;
    state.counters["wall_ratio"] = sandboxed.wallSeconds / inProcess.wallSeconds;
    state.counters["cpu_ratio"] = sandboxed.cpuSeconds / inProcess.cpuSeconds;
    // Milliseconds of CPU each insert's isolation costs per second of audio.
    state.counters["added_cpu_ms_per_insert_per_s"] =
        (sandboxed.cpuSeconds - inProcess.cpuSeconds) * 1000.0 / inserts / seconds;
}

BENCHMARK(sandboxedAgainstInProcess)
    ->Arg(8)
    ->Arg(32)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace
BENCHMARK_MAIN();
