#include "core/engine/Engine.h"
#include "core/model/StockEffectSettings.h"

#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <vector>

using namespace orvane;

namespace {

/// Sixteen audio tracks playing a 10 s clip through a set EQ and a set compressor; with
/// `automated`, each insert's lane ramps its parameter over the clip (EQ low band, threshold),
/// so the EQ is redesigned on every block.
void fillStockProject(Project &project, bool automated) {
    const std::vector<float> eq = {3.0f, -2.0f, 1.0f, 0.0f};
    const std::vector<float> compressor = {-18.0f, 4.0f, 5.0f, 80.0f, 0.0f};
    for (int trackIndex = 0; trackIndex < 16; ++trackIndex) {
        auto track = project.addTrack(TrackType::Audio, "");
        auto clip = project.addClip(track->id, ClipKind::Audio);
        auto samples = std::make_shared<std::vector<float>>(2 * 480000);
        for (std::size_t i = 0; i < samples->size(); ++i)
            (*samples)[i] = 0.5f * static_cast<float>((i * 7919u) % 2000u) / 1000.0f - 0.5f;
        clip->audio = samples;
        clip->channels = 2;
        clip->length = 480000;
        std::vector<AutomationPoint> ramp;
        if (automated) ramp = {{0, 0.0f}, {480000, 1.0f}};
        track->inserts.push_back(
            {"stock.eq", "EQ", "", encodeStockSettings("stock.eq", eq), false, true, 0, ramp});
        track->inserts.push_back({"stock.compressor", "Comp", "",
                                  encodeStockSettings("stock.compressor", compressor), false, true,
                                  0, ramp});
    }
}

void processBlockStockInserts(benchmark::State &state) {
    Engine engine;
    {
        std::lock_guard lock(engine.projectMutex);
        fillStockProject(engine.project, state.range(0) != 0);
    }
    engine.prepareToPlay(48000, 512);
    engine.publishGraph();
    if (!engine.pushRequest(RequestProducer::MainThread, Request::play()))
        state.SkipWithError("request ring full");
    std::vector<float> left(512), right(512);
    std::array<float *, 2> channels{left.data(), right.data()};
    int64_t blocks = 0;
    for (auto _ : state) {
        // Back to the start before the clip ends, so every block plays the inserts.
        if (++blocks % 900 == 0)
            (void)engine.pushRequest(RequestProducer::MainThread, Request::locate(0));
        engine.processBlock(channels.data(), 2, 512);
        benchmark::DoNotOptimize(left.data());
    }
    state.SetLabel(state.range(0) != 0 ? "automated EQ band and threshold"
                                       : "baseline: set, not automated");
}
BENCHMARK(processBlockStockInserts)->Arg(0)->Arg(1);

} // namespace
