// Channel EQ throughput: ParametricEq8::process against the plain per-sample loop it must
// match bit for bit. Prints the speed-up after the runs.

#include "core/stock/ParametricEq8.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace orvane;
using namespace orvane::stock;

constexpr double rate = 48000.0;
constexpr int blockFrames = 512;

ChannelEq8 eightActiveBands() {
    ChannelEq8 settings;
    const float gains[] = {0.0f, 3.0f, -4.0f, 5.0f, -2.0f, 6.0f, -3.0f, 0.0f};
    for (size_t i = 0; i < settings.bands.size(); ++i)
        settings.bands[i].gainDb = gains[i];
    settings.outDb = -1.0f;
    return settings;
}

std::vector<float> testSignal(unsigned seed) {
    std::vector<float> samples(blockFrames);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            0.5f * std::sin(0.01f * float(i) * float(seed)) + 0.1f * std::sin(0.7f * float(i));
    return samples;
}

// Each sample passed band by band through processBiquad.
struct ReferenceLoop {
    std::array<BiquadCoeffs, 8> coeffs{};
    std::array<BiquadState, 8> left{};
    std::array<BiquadState, 8> right{};
    float out = 1.0f;

    explicit ReferenceLoop(const ChannelEq8 &settings) : out(dbToGain(settings.outDb)) {
        for (size_t b = 0; b < 8; ++b)
            coeffs[b] = makeBiquad(settings.bands[b], rate);
    }

    void process(float *l, float *r, int frames) {
        for (int i = 0; i < frames; ++i) {
            float x = l[i];
            float y = r[i];
            for (size_t b = 0; b < 8; ++b) {
                x = processBiquad(coeffs[b], left[b], x);
                y = processBiquad(coeffs[b], right[b], y);
            }
            l[i] = x * out;
            r[i] = y * out;
        }
    }
};

// Every block starts from the same input (a 4 KB copy, timed for both contenders), so the
// filters keep running on audio instead of decaying into denormals.
void refill(std::vector<float> &buffer, const std::vector<float> &source) {
    std::memcpy(buffer.data(), source.data(), source.size() * sizeof(float));
}

void BM_ReferenceLoop(benchmark::State &state) {
    ReferenceLoop reference(eightActiveBands());
    const std::vector<float> sourceLeft = testSignal(1);
    const std::vector<float> sourceRight = testSignal(2);
    std::vector<float> left = sourceLeft;
    std::vector<float> right = sourceRight;
    for (auto _ : state) {
        refill(left, sourceLeft);
        refill(right, sourceRight);
        reference.process(left.data(), right.data(), blockFrames);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * blockFrames);
}

void BM_ParametricEq8(benchmark::State &state) {
    ParametricEq8 eq;
    eq.prepare(rate);
    const ChannelEq8 settings = eightActiveBands();
    eq.setSettings(settings);
    const std::vector<float> sourceLeft = testSignal(1);
    const std::vector<float> sourceRight = testSignal(2);
    std::vector<float> left = sourceLeft;
    std::vector<float> right = sourceRight;
    for (auto _ : state) {
        refill(left, sourceLeft);
        refill(right, sourceRight);
        eq.process(left.data(), right.data(), blockFrames);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * blockFrames);
}

// The speed-up only counts if the output is the same to the bit over many blocks.
bool outputsMatch() {
    const ChannelEq8 settings = eightActiveBands();
    ParametricEq8 eq;
    eq.prepare(rate);
    ReferenceLoop reference(settings);
    std::vector<float> left = testSignal(1);
    std::vector<float> right = testSignal(2);
    std::vector<float> referenceLeft = left;
    std::vector<float> referenceRight = right;
    for (int block = 0; block < 200; ++block) {
        eq.setSettings(settings);
        eq.process(left.data(), right.data(), blockFrames);
        reference.process(referenceLeft.data(), referenceRight.data(), blockFrames);
        if (std::memcmp(left.data(), referenceLeft.data(), blockFrames * sizeof(float)) != 0 ||
            std::memcmp(right.data(), referenceRight.data(), blockFrames * sizeof(float)) != 0)
            return false;
    }
    return true;
}

// Collects frames per second of CPU time (other builds share the machine, so wall time is
// noisier). With repetitions, the median reported after the single runs wins.
class RateCollector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> framesPerSecond;

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (!run.aggregate_name.empty() && run.aggregate_name != "median") continue;
            const double seconds =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (seconds > 0.0) framesPerSecond[run.run_name.function_name] = blockFrames / seconds;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

BENCHMARK(BM_ReferenceLoop);
BENCHMARK(BM_ParametricEq8);

int main(int argc, char **argv) {
    const bool identical = outputsMatch();
    std::printf("ParametricEq8 output %s the reference loop bit for bit\n",
                identical ? "matches" : "DIFFERS FROM");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double reference = reporter.framesPerSecond["BM_ReferenceLoop"];
    const double eq = reporter.framesPerSecond["BM_ParametricEq8"];
    if (reference > 0.0 && eq > 0.0)
        std::printf("speed-up of ParametricEq8::process over the reference loop: %.2fx "
                    "(%.3g vs %.3g stereo frames per second)\n",
                    eq / reference, eq, reference);
    return identical ? 0 : 1;
}
