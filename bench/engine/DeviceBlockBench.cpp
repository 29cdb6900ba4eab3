// The device's block path on the reference session at the periods a live device uses. Written
// against the engine's oldest block interface, so the same file measures earlier engines.
#include "core/engine/Engine.h"
#include "core/engine/reference/ReferenceSession.h"

#include <benchmark/benchmark.h>

#include <array>
#include <vector>

using namespace orvane;

namespace {

/// processBlock of the reference session, looping through its first ten seconds; reports the
/// share of the period's duration one block costs ("load" 1.0 = the whole period).
void processBlockReferenceSession(benchmark::State &state) {
    const auto frames = static_cast<int32_t>(state.range(0));
    ReferenceSessionOptions options;
    options.seconds = 10.0;
    Engine engine;
    engine.replaceProject(buildReferenceSession(options));
    engine.prepareToPlay(options.sampleRate, frames);
    if (!engine.pushRequest(RequestProducer::MainThread, Request{RequestType::play, 0, 0.0, 0.0}))
        state.SkipWithError("request ring full");
    const auto loopFrames = static_cast<int64_t>(options.seconds * options.sampleRate);
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
    std::array<float *, 2> channels{left.data(), right.data()};
    for (auto _ : state) {
        if (engine.transport.playhead.load() + frames > loopFrames)
            engine.transport.playhead.store(0);
        engine.processBlock(channels.data(), 2, frames);
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["load"] = benchmark::Counter(static_cast<double>(frames) / options.sampleRate,
                                                benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
}
BENCHMARK(processBlockReferenceSession)->Arg(64)->Arg(128)->Arg(256)->MinTime(2.0);

} // namespace
