#include "core/midifile/MidiConversion.h"
#include "core/midifile/MidiFile.h"
#include "core/model/MusicalTime.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

// Importing a Standard MIDI File whose conductor track changes the tempo on every tick, as
// the window does it: the file read from disk and parsed, then its tempo map and notes placed
// in samples. The tempo changes run from 1,000 to 100,000; the time per change shows how the
// import grows (flat: n log n or better; rising in step with n: quadratic), beside the walk
// the import used to place each change with.

namespace {

using namespace orvane;
using namespace orvane::midifile;

/// A file of `changes` tempo changes one tick apart (400,000 to 400,999 µs a
/// quarter) and one note after them, written as a format 1 file.
std::vector<uint8_t> tempoChangeFile(int64_t changes) {
    MidiFile file;
    file.ticksPerQuarter = 480;
    for (int64_t i = 0; i < changes; ++i)
        file.tempos.push_back({i, static_cast<uint32_t>(400000 + i % 1000)});
    file.tracks.push_back({"Conductor", {}});
    file.tracks.push_back({"Keys", {{0, 60, 100, changes, 96}}});
    return writeMidiFile(file);
}

void importManyTempoChanges(benchmark::State &state) {
    const int64_t changes = state.range(0);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("halvora-bench-tempo-" + std::to_string(::getpid()) + ".mid"))
                                 .string();
    {
        const auto bytes = tempoChangeFile(changes);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    Project project;
    project.sampleRate = 48000.0;
    std::size_t markers = 0;
    for (auto _ : state) {
        MidiFile file;
        std::string error;
        if (!readMidiFileAt(path, file, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        const MidiImport plan = planMidiImport(file, project, true);
        markers = plan.maps ? plan.maps->tempoMarkers.size() : 0;
        benchmark::DoNotOptimize(plan);
    }
    std::remove(path.c_str());
    state.counters["tempo markers"] = static_cast<double>(markers);
    state.counters["per change"] = benchmark::Counter(
        static_cast<double>(changes),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

/// The same tempo map placed as the import once placed it, each change by a walk over a
/// sorted copy of every change before it: the baseline the import is measured against.
void placeTempoChangesByWalking(benchmark::State &state) {
    const int64_t changes = state.range(0);
    std::vector<TempoMarker> placed;
    for (auto _ : state) {
        placed.clear();
        for (int64_t i = 1; i < changes; ++i)
            placed.push_back(
                {musicalBeatsToSamples(static_cast<double>(i) / 480.0, 48000.0, placed, 150.0),
                 60'000'000.0 / (400000.0 + static_cast<double>(i % 1000))});
        benchmark::DoNotOptimize(placed);
    }
    state.counters["per change"] = benchmark::Counter(
        static_cast<double>(changes),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(placeTempoChangesByWalking)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(importManyTempoChanges)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
