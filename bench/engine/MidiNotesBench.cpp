// The cost of a block must not grow with the number of notes in a clip: a clip of thousands of
// sequential notes, with and without an expression map, rendered as an export.
#include "core/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <array>
#include <vector>

using namespace orvane;

namespace {

constexpr int32_t blockFrames = 512;
constexpr int64_t noteLength = 1200;

Project sequentialNotes(int64_t count, bool expressionMap) {
    Project project;
    auto track = project.addTrack(TrackType::Midi, "Notes");
    track->expressionMapIndex = expressionMap ? 0 : -1;
    auto clip = project.addClip(track->id, ClipKind::Midi);
    clip->length = count * noteLength;
    clip->notes.reserve(static_cast<std::size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        clip->notes.push_back(MidiNote{static_cast<int32_t>(48 + i % 24), 0.8f, i * noteLength,
                                       noteLength, 1.0f, 0.0f});
    if (expressionMap)
        // Keyswitches among the notes, as a library's articulation changes put them there.
        for (int64_t i = 0; i < count; i += 97)
            clip->notes[static_cast<std::size_t>(i)].pitch = 24 + static_cast<int32_t>(i % 2);
    return project;
}

/// Renders from the middle of the clip, half a second per iteration; the counter is the time
/// per 512-frame block.
void renderSequentialNotes(benchmark::State &state) {
    const int64_t count = state.range(0);
    const bool expressionMap = state.range(1) != 0;
    Engine engine;
    engine.replaceProject(sequentialNotes(count, expressionMap));
    engine.prepareToPlay(48000, blockFrames);
    std::vector<float> left(blockFrames), right(blockFrames);
    std::array<float *, 2> channels{left.data(), right.data()};
    const int64_t middle = count / 2 * noteLength;
    constexpr int blocksPerIteration = 47; // half a second
    // Every render stays inside the clip's notes: the export starts again from the middle every
    // 100 iterations (outside the timing, since publishing indexes the notes), long before the
    // smallest clip's end.
    int iteration = 0;
    for (auto _ : state) {
        if (iteration++ % 100 == 0) {
            state.PauseTiming();
            if (engine.offlineRenderActive()) engine.endOfflineRender();
            if (!engine.beginOfflineRender(middle)) {
                state.SkipWithError("the engine is taken");
                return;
            }
            state.ResumeTiming();
        }
        for (int block = 0; block < blocksPerIteration; ++block)
            engine.processBlockOffline(channels.data(), 2, blockFrames);
        benchmark::DoNotOptimize(left.data());
    }
    engine.endOfflineRender();
    state.counters["per_block"] = benchmark::Counter(static_cast<double>(blocksPerIteration),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}
BENCHMARK(renderSequentialNotes)
    ->ArgsProduct({{10000, 20000, 40000}, {0, 1}})
    ->ArgNames({"notes", "map"})
    ->Unit(benchmark::kMillisecond);

} // namespace
