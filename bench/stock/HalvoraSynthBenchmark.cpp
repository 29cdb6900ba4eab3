// HalvoraSynth throughput with the whole voice pool sounding: 64 notes held at 64-frame
// blocks, the block size a low-latency session runs at. Reports the real-time factor:
// seconds of audio rendered per second of wall time.

#include "core/stock/HalvoraSynth.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace orvane::stock;

constexpr double rate = 48000.0;
constexpr int blockFrames = 64;

void BM_HalvoraSynth64Voices(benchmark::State &state, const std::string &preset) {
    HalvoraSynth synth;
    synth.prepare(rate, blockFrames);
    synth.applyPreset(preset);
    synth.setParameter(SynthParam::VoiceMode, float(SynthVoiceMode::Poly));
    synth.setParameter(SynthParam::Polyphony, float(HalvoraSynth::maxVoices));
    // Sustain and a slow release keep every voice sounding for the whole run.
    synth.setParameter(SynthParam::AmpSustain, 1.0f);
    for (int voice = 0; voice < HalvoraSynth::maxVoices; ++voice)
        synth.noteOn(28 + voice, 0.8f);
    std::vector<float> left(blockFrames);
    std::vector<float> right(blockFrames);
    for (auto _ : state) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        synth.process(left.data(), right.data(), blockFrames);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    if (synth.activeVoiceCount() != HalvoraSynth::maxVoices)
        state.SkipWithError("not every voice was sounding");
    const double audioSeconds = double(state.iterations()) * blockFrames / rate;
    state.counters["realTimeFactor"] =
        benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["voices"] = synth.activeVoiceCount();
}

BENCHMARK_CAPTURE(BM_HalvoraSynth64Voices, Init, std::string("Init"))->UseRealTime();
BENCHMARK_CAPTURE(BM_HalvoraSynth64Voices, Pad, std::string("Pad"))->UseRealTime();
BENCHMARK_CAPTURE(BM_HalvoraSynth64Voices, Pluck, std::string("Pluck"))->UseRealTime();

} // namespace

BENCHMARK_MAIN();
