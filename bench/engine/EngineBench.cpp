#include "core/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <array>
#include <vector>

using namespace orvane;

namespace {

/// 100 tracks of 10 MIDI clips with 100 notes each, plus automation on every track.
void fillLargeProject(Project &project) {
    for (int trackIndex = 0; trackIndex < 100; ++trackIndex) {
        auto track = project.addTrack(TrackType::Midi, "");
        for (int point = 0; point < 200; ++point)
            track->volumeAutomation.push_back({point * 4800, 0.5f + 0.001f * point});
        for (int clipIndex = 0; clipIndex < 10; ++clipIndex) {
            auto clip = project.addClip(track->id, ClipKind::Midi);
            clip->arrangeStart = clipIndex * 192000;
            clip->length = 192000;
            for (int note = 0; note < 100; ++note)
                clip->notes.push_back(MidiNote{36 + note % 48, 0.8f, note * 1920, 960});
        }
    }
}

void processBlockDefaultProject(benchmark::State &state) {
    Engine engine;
    engine.prepareToPlay(48000, 512);
    if (!engine.pushRequest(RequestProducer::MainThread, Request::play()))
        state.SkipWithError("request ring full");
    std::vector<float> left(512), right(512);
    std::array<float *, 2> channels{left.data(), right.data()};
    for (auto _ : state) {
        engine.processBlock(channels.data(), 2, 512);
        benchmark::DoNotOptimize(left.data());
    }
    state.SetLabel("ns per 512-frame block");
}
BENCHMARK(processBlockDefaultProject);

void requestPushAndDrain(benchmark::State &state) {
    Engine engine;
    engine.prepareToPlay(48000, 64);
    std::vector<float> left(64), right(64);
    std::array<float *, 2> channels{left.data(), right.data()};
    const Request pressure = Request::notePressure(60, 0.5);
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            benchmark::DoNotOptimize(engine.pushRequest(RequestProducer::MidiInput, pressure));
        engine.processBlock(channels.data(), 2, 64);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(requestPushAndDrain);

void publishGraphLargeProject(benchmark::State &state) {
    Engine engine;
    {
        std::lock_guard lock(engine.projectMutex);
        fillLargeProject(engine.project);
    }
    engine.prepareToPlay(48000, 512);
    for (auto _ : state)
        engine.publishGraph();
    state.SetLabel("1,000 clips, 100,000 notes, 20,000 automation points");
}
BENCHMARK(publishGraphLargeProject)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
