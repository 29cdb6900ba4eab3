#include "bench/music/PreviousDetectors.h"
#include "core/music/AudioAnalysis.h"
#include "core/music/tests/AudioSignals.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

// Each detector over ten minutes of stereo audio at 48 kHz. The "realtime" counter is seconds
// of audio per second of work (the real-time factor). The baseline reads every sample once
// and adds magnitudes, the least any whole-buffer scan costs, so each detector's time over
// the baseline's says how far it is from a single pass. The tempo, fundamental, onset and
// transient detectors run beside their previous versions (`Previous…`), so that one run
// says what the better hearing costs.

namespace {

constexpr double sampleRate = 48000.0;
constexpr double seconds = 600.0;
constexpr int32_t channels = 2;
constexpr int64_t frames = static_cast<int64_t>(seconds * sampleRate);

/// Clicks at 120 BPM over a quiet tone and a little noise, built once for every benchmark.
const std::vector<float> &tenMinutes() {
    static const std::vector<float> samples = [] {
        auto mix = orvane::testing::clickTrack(120.0, seconds, sampleRate, channels, 0.6f);
        const auto tone = orvane::testing::sine(220.0, frames, sampleRate, channels, 0.1f);
        const auto noise = orvane::testing::silenceThenNoise(0, frames, channels, 0.02f);
        for (std::size_t i = 0; i < mix.size(); ++i)
            mix[i] += tone[i] + noise[i];
        return mix;
    }();
    return samples;
}

void reportRealTime(benchmark::State &state) {
    state.counters["realtime"] = benchmark::Counter(
        seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_BaselineSinglePass(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state) {
        float sum = 0.0f;
        for (const float value : audio)
            sum += std::abs(value);
        benchmark::DoNotOptimize(sum);
    }
    reportRealTime(state);
}
BENCHMARK(BM_BaselineSinglePass)->Unit(benchmark::kMillisecond);

void BM_DetectTempo(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            orvane::detectTempoBpm(audio.data(), frames, channels, sampleRate));
    reportRealTime(state);
}
BENCHMARK(BM_DetectTempo)->Unit(benchmark::kMillisecond);

void BM_EstimateFundamental(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            orvane::estimateAudioFundamentalHz(audio.data(), frames, channels, sampleRate));
    reportRealTime(state);
}
BENCHMARK(BM_EstimateFundamental)->Unit(benchmark::kMillisecond);

void BM_DetectOnset(benchmark::State &state) {
    const auto &audio = tenMinutes();
    // A threshold above the mix's energy makes the scan run to the end.
    for (auto _ : state)
        benchmark::DoNotOptimize(orvane::detectAudioOnset(audio.data(), frames, channels, 1.0f));
    reportRealTime(state);
}
BENCHMARK(BM_DetectOnset)->Unit(benchmark::kMillisecond);

void BM_DetectTransients(benchmark::State &state) {
    const auto &audio = tenMinutes();
    // No count limit that the clicks could reach, so the whole buffer is scanned.
    for (auto _ : state)
        benchmark::DoNotOptimize(orvane::detectAudioTransients(audio.data(), frames, channels,
                                                               sampleRate, 0.3f, 1 << 20));
    reportRealTime(state);
}
BENCHMARK(BM_DetectTransients)->Unit(benchmark::kMillisecond);

void BM_PreviousDetectTempo(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            orvane::previous::detectTempoBpm(audio.data(), frames, channels, sampleRate));
    reportRealTime(state);
}
BENCHMARK(BM_PreviousDetectTempo)->Unit(benchmark::kMillisecond);

void BM_PreviousEstimateFundamental(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state)
        benchmark::DoNotOptimize(orvane::previous::estimateAudioFundamentalHz(
            audio.data(), frames, channels, sampleRate));
    reportRealTime(state);
}
BENCHMARK(BM_PreviousEstimateFundamental)->Unit(benchmark::kMillisecond);

void BM_PreviousDetectOnset(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            orvane::previous::detectAudioOnset(audio.data(), frames, channels, 1.0f));
    reportRealTime(state);
}
BENCHMARK(BM_PreviousDetectOnset)->Unit(benchmark::kMillisecond);

void BM_PreviousDetectTransients(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state)
        benchmark::DoNotOptimize(orvane::previous::detectAudioTransients(
            audio.data(), frames, channels, sampleRate, 0.3f, 1 << 20));
    reportRealTime(state);
}
BENCHMARK(BM_PreviousDetectTransients)->Unit(benchmark::kMillisecond);

void BM_SplitStems(benchmark::State &state) {
    const auto &audio = tenMinutes();
    // The first split faults in 700 MB of stem buffers; the work measured is the later ones.
    orvane::SimpleStemBuffers stems;
    if (!orvane::splitSimpleStems(audio.data(), frames, channels, stems)) {
        state.SkipWithError("the material could not be split");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(orvane::splitSimpleStems(audio.data(), frames, channels, stems));
    reportRealTime(state);
}
BENCHMARK(BM_SplitStems)->Unit(benchmark::kMillisecond);

void BM_Fingerprint(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state)
        benchmark::DoNotOptimize(orvane::computeAudioFingerprint(audio.data(), frames, channels));
    reportRealTime(state);
}
BENCHMARK(BM_Fingerprint)->Unit(benchmark::kMillisecond);

void BM_PitchShiftUpAFifth(benchmark::State &state) {
    const auto &audio = tenMinutes();
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<float> buffer = audio;
        state.ResumeTiming();
        benchmark::DoNotOptimize(orvane::pitchShiftInterleaved(buffer, channels, 7.0f));
    }
    reportRealTime(state);
}
BENCHMARK(BM_PitchShiftUpAFifth)->Unit(benchmark::kMillisecond);

} // namespace
