// What running plug-ins in the sandbox costs per block: a chain of one or eight ZamComp
// instances processed in process and through their helpers, in the same run. Each row reports
// the median and 99th percentile of one block's time through the whole chain; the added cost
// per plug-in is (out-of-process − in-process) / plug-ins.
#include "core/vst/PluginSandboxController.h"
#include "core/vst/Vst3Plugin.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace orvane::vst;

constexpr double sampleRate = 48000.0;
constexpr uint32_t zamCompThreshold = 7;
const std::string zamComp = "/usr/lib/vst3/ZamComp.vst3";

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    size_t index = std::min(values.size() - 1, static_cast<size_t>(fraction * values.size()));
    return values[index];
}

void chainProcess(benchmark::State &state, bool outOfProcess) {
    int frames = static_cast<int>(state.range(0));
    int plugins = static_cast<int>(state.range(1));
    PluginSandboxController controller;
    controller.enabled = outOfProcess;
    controller.helperSearchFolder = HALVORA_HELPER_FOLDER;
    std::vector<std::unique_ptr<Vst3Plugin>> chain;
    for (int index = 0; index < plugins; ++index) {
        auto plugin = std::make_unique<Vst3Plugin>();
        plugin->setUseOutOfProcess(outOfProcess, &controller);
        if (!plugin->load(zamComp, "") || !plugin->prepare(sampleRate, frames)) {
            state.SkipWithError("ZamComp did not load (install zam-plugins, build the helper)");
            return;
        }
        plugin->setParameterNormalized(zamCompThreshold, 0.3f);
        chain.push_back(std::move(plugin));
    }
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    std::vector<double> blockMicroseconds;
    blockMicroseconds.reserve(1 << 20);
    long frame = 0;
    for (auto _ : state) {
        for (int index = 0; index < frames; ++index, ++frame)
            left[index] = right[index] =
                0.5f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * frame / sampleRate));
        auto start = std::chrono::steady_clock::now();
        for (auto &plugin : chain)
            plugin->process(left.data(), right.data(), frames);
        auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        state.SetIterationTime(elapsed.count());
        blockMicroseconds.push_back(elapsed.count() * 1e6);
        benchmark::DoNotOptimize(left.data());
    }
    for (auto &plugin : chain)
        if (plugin->collectTransportFailure()) state.SkipWithError(controller.lastError.c_str());
    state.counters["median_us"] = percentile(blockMicroseconds, 0.5);
    state.counters["p99_us"] = percentile(blockMicroseconds, 0.99);
    state.counters["plugins"] = plugins;
}

void inProcess(benchmark::State &state) { chainProcess(state, false); }
void outOfProcess(benchmark::State &state) { chainProcess(state, true); }

void arguments(benchmark::internal::Benchmark *benchmark) {
    for (int plugins : {1, 8})
        for (int frames : {64, 256, 1024})
            benchmark->Args({frames, plugins});
    benchmark->UseManualTime()->MinTime(1.0)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(inProcess)->Apply(arguments);
BENCHMARK(outOfProcess)->Apply(arguments);

} // namespace

BENCHMARK_MAIN();
