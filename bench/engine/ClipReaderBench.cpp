// Which mapped representation the clip reader should read: the 16-bit media file itself,
// converted while mixing, or a float cache file beside it (twice the bytes, no conversion,
// but written once per file). Each run maps the files afresh, as opening a project does,
// so the page faults of the mapping are part of the cost; the files are in the page cache.
#include "core/engine/Engine.h"

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

std::shared_ptr<const MappedFile> mapWhole(const fs::path &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    auto file = MappedFile::map(fd, fs::file_size(path), nullptr);
    ::close(fd);
    return file;
}

enum class Representation { MappedPcm16, MappedFloatCache, HeapFloats };

SharedSamples samplesOf(int index, Representation representation) {
    const int64_t count = frames * 2;
    switch (representation) {
    case Representation::MappedPcm16: {
        auto file = mapWhole(material().pcmPath(index));
        const auto *pcm = reinterpret_cast<const int16_t *>(file->bytes());
        return SharedSamples(std::make_shared<const SampleBuffer>(file, pcm, count));
    }
    case Representation::MappedFloatCache: {
        auto file = mapWhole(material().floatPath(index));
        const auto *floats = reinterpret_cast<const float *>(file->bytes());
        return SharedSamples(std::make_shared<const SampleBuffer>(file, floats, count));
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
        for (int64_t done = 0; done < frames; done += 512)
            engine.processBlockOffline(channels.data(), 2, 512);
        engine.endOfflineRender();
        benchmark::DoNotOptimize(left.data());
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    state.counters["realtime_factor"] =
        benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

void mappedPcm16(benchmark::State &state) { mixTracks(state, Representation::MappedPcm16); }
void mappedFloatCache(benchmark::State &state) {
    mixTracks(state, Representation::MappedFloatCache);
}
/// Baseline: floats already in the heap (what decoding on open gave), the read included.
void heapFloats(benchmark::State &state) { mixTracks(state, Representation::HeapFloats); }

/// What a float cache costs once per file before its first play: converting and writing it.
void writeFloatCache(benchmark::State &state) {
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        for (int index = 0; index < tracks; ++index) {
            const auto file = mapWhole(material().pcmPath(index));
            const auto *pcm = reinterpret_cast<const int16_t *>(file->bytes());
            std::vector<float> floats(static_cast<std::size_t>(frames) * 2);
            for (std::size_t i = 0; i < floats.size(); ++i)
                floats[i] = SampleBuffer::fromPcm16(pcm[i]);
            Material::write(material().folder / "cache.f32", floats);
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
}

BENCHMARK(heapFloats)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(mappedPcm16)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(mappedFloatCache)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(writeFloatCache)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
