#include "core/project_io/ProjectDocument.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <random>

namespace {

using namespace orvane;

std::vector<AutomationPoint> denseAutomation(std::mt19937 &random, std::size_t count) {
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<AutomationPoint> points(count);
    for (std::size_t index = 0; index < count; ++index)
        points[index] = {static_cast<int64_t>(index) * 480, value(random)};
    return points;
}

/// 20 tracks of 50 MIDI clips with 100 notes each (1,000 clips, 100,000 notes), and dense
/// automation on every track and clip.
Project largeProject() {
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> pitch(36, 96);
    std::uniform_real_distribution<float> velocity(0.1f, 1.0f);
    Project project;
    project.name = "Benchmark";
    for (int trackIndex = 0; trackIndex < 20; ++trackIndex) {
        auto track = project.addTrack(TrackType::Midi, "");
        track->volumeAutomation = denseAutomation(random, 2000);
        track->panAutomation = denseAutomation(random, 1000);
        track->muteAutomation = denseAutomation(random, 200);
        for (int clipIndex = 0; clipIndex < 50; ++clipIndex) {
            auto clip = project.addClip(track->id, ClipKind::Midi);
            clip->arrangeStart = int64_t{clipIndex} * 192000;
            clip->length = 192000;
            clip->gainEnvelope = denseAutomation(random, 40);
            for (int noteIndex = 0; noteIndex < 100; ++noteIndex)
                clip->notes.push_back(
                    MidiNote{pitch(random), velocity(random), int64_t{noteIndex} * 1920, 960});
        }
    }
    return project;
}

const std::string &largeDocument() {
    static const std::string text = project_io::toJson(largeProject());
    return text;
}

void reportBytes(benchmark::State &state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["documentMB"] = static_cast<double>(bytes) / 1e6;
}

void writeDocument(benchmark::State &state) {
    const Project project = largeProject();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text = project_io::toJson(project);
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    reportBytes(state, bytes);
}

void readDocument(benchmark::State &state) {
    const std::string &text = largeDocument();
    for (auto _ : state) {
        auto project = project_io::fromJson(text);
        if (!project) state.SkipWithError("the document did not read");
        benchmark::DoNotOptimize(project);
    }
    reportBytes(state, text.size());
}

/// The reference: a general-purpose parser building its own tree from the same text.
void parseDocumentWithReferenceParser(benchmark::State &state) {
    const std::string &text = largeDocument();
    for (auto _ : state) {
        auto tree = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(tree);
    }
    reportBytes(state, text.size());
}

BENCHMARK(writeDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(readDocument)->Unit(benchmark::kMillisecond);
BENCHMARK(parseDocumentWithReferenceParser)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
