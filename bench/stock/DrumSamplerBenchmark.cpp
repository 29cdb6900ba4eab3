// Drum sampler throughput with every voice sounding at 64-frame blocks, the block size a
// low-latency session runs at: untuned (each voice copies its sample) and tuned (each voice
// runs the band-limited interpolator). Reports the real-time factor: seconds of audio
// rendered per second of wall time.

#include "core/stock/DrumSampler.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

using namespace orvane::stock;

constexpr double rate = 48000.0;
constexpr int blockFrames = 64;

void BM_DrumSamplerAllVoices(benchmark::State &state, double tune) {
    // One ten-second tone on every pad, so that the voices end together and are struck again.
    auto sample = std::make_shared<DrumSample>();
    sample->left.resize(static_cast<std::size_t>(rate * 10.0));
    for (std::size_t i = 0; i < sample->left.size(); ++i)
        sample->left[i] =
            static_cast<float>(0.5 * std::sin(2.0 * std::numbers::pi * 220.0 * double(i) / rate));
    sample->right = sample->left;
    DrumSampler sampler({sample}, rate);
    DrumMix mix;
    mix.padCount = DrumSampler::maxVoices;
    for (int pad = 0; pad < mix.padCount; ++pad) {
        DrumPadMix &each = mix.pads[static_cast<std::size_t>(pad)];
        each.note = 30 + pad;
        each.step = std::exp2(tune / 12.0);
        each.layerCount = 1;
        each.low[0] = 1;
        each.high[0] = 127;
        each.source[0] = 0;
    }
    sampler.setMix(mix);
    std::vector<float> left(blockFrames);
    std::vector<float> right(blockFrames);
    int least = DrumSampler::maxVoices;
    for (auto _ : state) {
        if (sampler.activeVoiceCount() == 0)
            for (int pad = 0; pad < mix.padCount; ++pad)
                sampler.noteOn(30 + pad, 0.8f);
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        sampler.process(left.data(), right.data(), blockFrames);
        const int sounding = sampler.activeVoiceCount();
        if (sounding > 0) least = std::min(least, sounding);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    if (least != DrumSampler::maxVoices) state.SkipWithError("not every voice was sounding");
    const double audioSeconds = double(state.iterations()) * blockFrames / rate;
    state.counters["realTimeFactor"] =
        benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["voices"] = DrumSampler::maxVoices;
}

BENCHMARK_CAPTURE(BM_DrumSamplerAllVoices, Untuned, 0.0)->UseRealTime();
BENCHMARK_CAPTURE(BM_DrumSamplerAllVoices, TunedUp, 3.3)->UseRealTime();
BENCHMARK_CAPTURE(BM_DrumSamplerAllVoices, TunedDown, -5.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
