// What reading clips from their 16-bit media files costs an export beside floats already in
// the heap: each run opens the files afresh, as opening a project does, and reads them in
// pieces just ahead of the render on its thread; the files are in the page cache.
#include "core/engine/Engine.h"
#include "core/engine/MediaPrefetch.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace orvane;
namespace fs = std::filesystem;

namespace {

constexpr double rate = 48000.0;
constexpr int tracks = 32;
constexpr double seconds = 20.0;
constexpr auto frames = static_cast<int64_t>(seconds * rate);

struct Material {
    fs::path folder =
        fs::temp_directory_path() / ("halvora_clip_reader_" + std::to_string(::getpid()));
    Material() {
        fs::create_directories(folder);
        for (int index = 0; index < tracks; ++index) {
            std::vector<int16_t> pcm(static_cast<std::size_t>(frames) * 2);
            const double step = 2.0 * std::numbers::pi * 80.0 * std::pow(2.0, index / 12.0) / rate;
            for (int64_t i = 0; i < frames; ++i)
                pcm[2 * i] = pcm[2 * i + 1] =
                    static_cast<int16_t>(std::lround(6000.0 * std::sin(step * i)));
            write(pcmPath(index), pcm);
            std::vector<float> floats(pcm.size());
            for (std::size_t i = 0; i < pcm.size(); ++i)
                floats[i] = SampleBuffer::fromPcm16(pcm[i]);
            write(floatPath(index), floats);
        }
    }
    ~Material() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    template <typename T> static void write(const fs::path &path, const std::vector<T> &values) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(values.data()),
                  static_cast<std::streamsize>(values.size() * sizeof(T)));
    }
    fs::path pcmPath(int index) const { return folder / ("t" + std::to_string(index) + ".pcm"); }
    fs::path floatPath(int index) const { return folder / ("t" + std::to_string(index) + ".f32"); }
};

Material &material() {
    static Material instance;
    return instance;
}

enum class Representation { FilePcm16, HeapFloats };

SharedSamples samplesOf(int index, Representation representation) {
    const int64_t count = frames * 2;
    switch (representation) {
    case Representation::FilePcm16: {
        const fs::path path = material().pcmPath(index);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        return SharedSamples(std::make_shared<const SampleBuffer>(
            std::make_shared<const MediaFile>(fd, path.string(), 0, count)));
    }
    case Representation::HeapFloats: break;
    }
    std::vector<float> floats(static_cast<std::size_t>(count));
    std::ifstream in(material().floatPath(index), std::ios::binary);
    in.read(reinterpret_cast<char *>(floats.data()),
            static_cast<std::streamsize>(floats.size() * sizeof(float)));
    return makeSampleBuffer(std::move(floats));
}

void mixTracks(benchmark::State &state, Representation representation) {
    std::vector<float> left(512), right(512);
    std::array<float *, 2> channels{left.data(), right.data()};
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        Engine engine;
        {
            std::lock_guard lock(engine.projectMutex);
            Project &project = engine.project;
            project.masterEq.enabled = false;
            project.mastering.enabled = false;
            for (int index = 0; index < tracks; ++index) {
                const auto track = project.addTrack(TrackType::Audio, "");
                track->eq.enabled = false;
                track->pan = static_cast<float>(index % 9 - 4) / 5.0f;
                const auto clip = project.addClip(track->id, ClipKind::Audio);
                clip->audio = samplesOf(index, representation);
                clip->length = frames;
            }
        }
        engine.prepareToPlay(rate, 512);
        engine.publishGraph();
        if (!engine.beginOfflineRender(0)) state.SkipWithError("engine busy");
        {
            ExportMediaReader media(engine, static_cast<int64_t>(rate / 2));
            for (int64_t done = 0; done < frames; done += 512) {
                media.prepareBlock(done, 512);
                engine.processBlockOffline(channels.data(), 2, 512);
            }
        }
        engine.endOfflineRender();
        benchmark::DoNotOptimize(left.data());
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    state.counters["realtime_factor"] =
        benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

void filePcm16(benchmark::State &state) { mixTracks(state, Representation::FilePcm16); }
/// Baseline: floats already in the heap (what decoding on open gave), the read included.
void heapFloats(benchmark::State &state) { mixTracks(state, Representation::HeapFloats); }

BENCHMARK(heapFloats)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(filePcm16)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace
