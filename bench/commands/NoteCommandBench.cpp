#include "core/commands/CommandStack.h"
#include "core/commands/NoteTransformCommands.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

// Quantising and transposing a clip of 100,000 notes, each run as the user would: executed
// through the stack and undone again. Every edit hands the clip a new note list and keeps
// the old one for undo, so the baseline is exactly that: copying the list in and back.
// Times are per note; compare each edit with the baseline of the same run.

namespace {

using namespace orvane;

constexpr int64_t noteCount = 100000;

struct ClipProject {
    Project project;
    uint64_t clipId = 0;
};

/// One MIDI clip of sixteenths slightly off the grid at 120 BPM; `tempoMarkers` tempo
/// changes, so the conversions walk a real tempo map.
ClipProject denseClip(int tempoMarkers) {
    ClipProject result;
    const auto track = result.project.addTrack(TrackType::Midi, "Bench");
    const auto clip = result.project.addClip(track->id, ClipKind::Midi);
    for (int64_t i = 0; i < noteCount; ++i) {
        MidiNote note;
        note.pitch = static_cast<int32_t>(36 + i % 60);
        note.start = i * 6000 + (i * 37) % 700 - 350;
        note.length = 3000;
        clip->notes.push_back(note);
    }
    clip->length = noteCount * 6000;
    for (int m = 0; m < tempoMarkers; ++m)
        result.project.tempoMarkers.push_back(
            {clip->length / (tempoMarkers + 1) * (m + 1), 100.0 + 10.0 * m});
    result.clipId = clip->id;
    return result;
}

void reportPerNote(benchmark::State &state) {
    state.counters["per note"] = benchmark::Counter(static_cast<double>(noteCount),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void BM_CopyNoteListInAndBack(benchmark::State &state) {
    ClipProject bench = denseClip(0);
    const auto clip = bench.project.findClip(bench.clipId);
    for (auto _ : state) {
        std::vector<MidiNote> kept = clip->notes;
        clip->notes = std::vector<MidiNote>(kept);
        clip->notes = std::move(kept);
        benchmark::DoNotOptimize(clip->notes.data());
    }
    reportPerNote(state);
}
BENCHMARK(BM_CopyNoteListInAndBack)->Unit(benchmark::kMillisecond);

void BM_TransposeWithUndo(benchmark::State &state) {
    ClipProject bench = denseClip(0);
    CommandStack stack;
    for (auto _ : state) {
        stack.execute(bench.project, std::make_unique<TransposeMidiClipCommand>(bench.clipId, 5));
        stack.undo(bench.project);
    }
    reportPerNote(state);
}
BENCHMARK(BM_TransposeWithUndo)->Unit(benchmark::kMillisecond);

void BM_QuantizeWithUndo(benchmark::State &state) {
    ClipProject bench = denseClip(static_cast<int>(state.range(0)));
    CommandStack stack;
    for (auto _ : state) {
        stack.execute(bench.project,
                      std::make_unique<IterativeQuantizeClipCommand>(
                          bench.clipId, GridQuantize::Sixteenth, 0.3f, 1.0f, 0, false, false));
        stack.undo(bench.project);
    }
    reportPerNote(state);
}
BENCHMARK(BM_QuantizeWithUndo)
    ->ArgName("tempoMarkers")
    ->Arg(0)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
