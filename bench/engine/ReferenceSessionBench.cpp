#include "core/engine/Engine.h"
#include "core/engine/reference/ReferenceSession.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <vector>

using namespace orvane;

namespace {

/// Renders the whole reference session once per iteration in 512-frame blocks and reports
/// the real-time factor (seconds of audio per second of wall time) and the cost per track
/// per block.
void renderReferenceSession(benchmark::State &state) {
    ReferenceSessionOptions options;
    options.seconds = static_cast<double>(state.range(0));
    Engine engine;
    engine.replaceProject(buildReferenceSession(options));
    engine.prepareToPlay(options.sampleRate, 512);
    const auto trackCount = static_cast<double>(engine.currentGraph()->tracks.size());
    const auto totalFrames = static_cast<int64_t>(options.seconds * options.sampleRate);
    std::vector<float> left(512), right(512);
    std::array<float *, 2> channels{left.data(), right.data()};
    int64_t blocks = 0;
    double wallSeconds = 0.0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        if (!engine.beginOfflineRender(0)) {
            state.SkipWithError("the engine is taken by another render");
            return;
        }
        for (int64_t done = 0; done < totalFrames; done += 512, ++blocks)
            engine.processBlockOffline(channels.data(), 2, 512);
        engine.endOfflineRender();
        benchmark::DoNotOptimize(left.data());
        wallSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
    const double audioSeconds = options.seconds * static_cast<double>(state.iterations());
    state.counters["realtime_factor"] = audioSeconds / wallSeconds;
    state.counters["ns_per_track_block"] =
        wallSeconds * 1e9 / (static_cast<double>(blocks) * trackCount);
}
BENCHMARK(renderReferenceSession)->Arg(60)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
