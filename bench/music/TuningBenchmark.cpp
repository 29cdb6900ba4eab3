#include "core/music/ExpressionMaps.h"
#include "core/music/Tuning.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

// The renderers evaluate the note frequency for every frame of every sounding note, so its
// cost is set against the per-frame sine the synthesiser computes anyway (the baseline).

namespace {

constexpr int framesPerBlock = 512;

void BM_SineBaseline(benchmark::State &state) {
    double phase = 0.1;
    for (auto _ : state) {
        double sum = 0.0;
        for (int frame = 0; frame < framesPerBlock; ++frame)
            sum += std::sin(6.283185307179586 * (phase + frame * 0.001));
        benchmark::DoNotOptimize(sum);
        phase += 0.37;
    }
    state.SetItemsProcessed(state.iterations() * framesPerBlock);
}
BENCHMARK(BM_SineBaseline);

void BM_FrequencyBent(benchmark::State &state) {
    const orvane::CentTable cents = orvane::scalaPresetCents(2);
    double pitch = 40.0;
    for (auto _ : state) {
        double sum = 0.0;
        for (int frame = 0; frame < framesPerBlock; ++frame)
            sum += orvane::midiNoteFrequencyBent(pitch + frame * 0.01, cents);
        benchmark::DoNotOptimize(sum);
        pitch = pitch > 100.0 ? 40.0 : pitch + 0.5;
    }
    state.SetItemsProcessed(state.iterations() * framesPerBlock);
}
BENCHMARK(BM_FrequencyBent);

void BM_FrequencyTunedThroughMap(benchmark::State &state) {
    const orvane::CentTable cents = orvane::scalaPresetCents(2);
    const std::vector<int32_t> map{0, 2, 4, 5, 7, 9, 11, -3};
    double pitch = 40.0;
    for (auto _ : state) {
        double sum = 0.0;
        for (int frame = 0; frame < framesPerBlock; ++frame)
            sum += orvane::midiNoteFrequencyTuned(pitch + frame * 0.01, 2, true, map, cents);
        benchmark::DoNotOptimize(sum);
        pitch = pitch > 100.0 ? 40.0 : pitch + 0.5;
    }
    state.SetItemsProcessed(state.iterations() * framesPerBlock);
}
BENCHMARK(BM_FrequencyTunedThroughMap);

void BM_ExpressionVelocityPerNote(benchmark::State &state) {
    const auto maps = orvane::defaultExpressionMaps();
    std::vector<orvane::MidiNote> notes;
    for (int index = 0; index < state.range(0); ++index)
        notes.push_back(orvane::MidiNote{36 + index % 30, 0.8f, index * 100, 90});
    for (auto _ : state) {
        float sum = 0.0f;
        for (const auto &note : notes)
            sum += orvane::expressionVelocityAt(maps[0], notes, note);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ExpressionVelocityPerNote)->Arg(64)->Arg(1024);

} // namespace

BENCHMARK_MAIN();
