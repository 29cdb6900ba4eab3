#include "core/engine/Engine.h"
#include "core/engine/reference/ReferenceSession.h"

#include <benchmark/benchmark.h>

#include <array>
#include <ctime>
#include <string>
#include <vector>

using namespace orvane;

namespace {

constexpr int32_t blockFrames = 512;

/// The reference session moved onto the grid: each track's first clip, looping over its own
/// length, in one scene that launches at once. It plays the same kind of audio as the
/// arrangement through the same chain.
Project referenceSessionOnTheGrid(const ReferenceSessionOptions &options) {
    Project project = buildReferenceSession(options);
    project.session.launchQuantize = LaunchQuantize::Immediate;
    Scene scene;
    scene.id = project.nextSceneId++;
    for (const auto &track : project.tracks) {
        if (track->clips.empty()) continue;
        track->clips.resize(1);
        Clip &clip = *track->clips.front();
        clip.sessionRow = 0;
        clip.sessionCol = static_cast<int32_t>(scene.clips.size());
        clip.loop = true;
        clip.loopLength = clip.length;
        scene.clips.push_back(clip.id);
    }
    project.session.scenes.push_back(scene);
    return project;
}

/// CPU time of this thread: on a shared machine the wall clock also counts other work.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

/// Plays `frames` frames from 0 the way a device would and returns the CPU time it took.
double play(Engine &engine, int64_t frames, uint64_t sceneId) {
    std::vector<float> left(blockFrames), right(blockFrames);
    std::array<float *, 2> channels{left.data(), right.data()};
    bool queued = engine.pushRequest(RequestProducer::MainThread, Request::stop()) &&
                  engine.pushRequest(RequestProducer::MainThread, Request::play());
    if (sceneId != 0)
        queued = queued &&
                 engine.pushRequest(RequestProducer::MainThread, Request::launchScene(sceneId));
    if (!queued) return 0.0;
    const double started = threadSeconds();
    for (int64_t done = 0; done < frames; done += blockFrames)
        engine.processBlock(channels.data(), 2, blockFrames);
    benchmark::DoNotOptimize(left.data());
    return threadSeconds() - started;
}

/// The reference session played from the session grid against the same session played from
/// the arrangement, in the same run: `session_over_arrangement` is the ratio of their times.
void sessionGridAgainstArrangement(benchmark::State &state) {
    ReferenceSessionOptions options;
    options.seconds = static_cast<double>(state.range(0));
    const auto frames = static_cast<int64_t>(options.seconds * options.sampleRate);
    Engine arrangement;
    arrangement.replaceProject(buildReferenceSession(options));
    arrangement.prepareToPlay(options.sampleRate, blockFrames);
    Engine session;
    session.replaceProject(referenceSessionOnTheGrid(options));
    session.prepareToPlay(options.sampleRate, blockFrames);
    const uint64_t sceneId = session.currentGraph()->scenes.front().id;
    double arrangementSeconds = 0.0;
    double sessionSeconds = 0.0;
    for (auto _ : state) {
        arrangementSeconds += play(arrangement, frames, 0);
        sessionSeconds += play(session, frames, sceneId);
    }
    const double audioSeconds = options.seconds * static_cast<double>(state.iterations());
    state.counters["session_over_arrangement"] = sessionSeconds / arrangementSeconds;
    state.counters["session_realtime_factor"] = audioSeconds / sessionSeconds;
    state.counters["arrangement_realtime_factor"] = audioSeconds / arrangementSeconds;
}
BENCHMARK(sessionGridAgainstArrangement)->Arg(20)->Unit(benchmark::kSecond)->Iterations(1);

/// Prepares `engine` for `block` frames, starts it with its first scene launched and returns
/// the CPU time of `frames` frames played in blocks of that size; a negative time when the
/// requests did not fit.
double playFirstSceneAt(Engine &engine, double sampleRate, int32_t block, int64_t frames) {
    engine.prepareToPlay(sampleRate, block);
    const uint64_t sceneId = engine.currentGraph()->scenes.front().id;
    std::vector<float> left(static_cast<std::size_t>(block)),
        right(static_cast<std::size_t>(block));
    std::array<float *, 2> channels{left.data(), right.data()};
    if (!engine.pushRequest(RequestProducer::MainThread, Request::play()) ||
        !engine.pushRequest(RequestProducer::MainThread, Request::launchScene(sceneId)))
        return -1.0;
    const double started = threadSeconds();
    for (int64_t done = 0; done < frames; done += block)
        engine.processBlock(channels.data(), 2, block);
    benchmark::DoNotOptimize(left.data());
    return threadSeconds() - started;
}

/// The grid at the shortest period (64 frames) with N arrangement clips on every track beside
/// the session clips, against the same grid with none, in the same run: the player looks up
/// its playing clips every block, and `crowded_over_alone` shows whether that costs more with
/// every clip the project holds.
void sessionGridBesideArrangementClips(benchmark::State &state) {
    constexpr int32_t shortBlock = 64;
    ReferenceSessionOptions options;
    options.seconds = 4.0;
    const auto frames = static_cast<int64_t>(options.seconds * options.sampleRate);
    Project crowdedSong = referenceSessionOnTheGrid(options);
    for (const auto &track : std::vector(crowdedSong.tracks))
        for (int64_t index = 0; index < state.range(0); ++index) {
            const auto clip = crowdedSong.addClip(track->id, ClipKind::Midi);
            clip->arrangeStart = frames * 4 + index * 1000; // after the part played here
            clip->length = 1000;
        }
    Engine alone, crowded;
    alone.replaceProject(referenceSessionOnTheGrid(options));
    crowded.replaceProject(std::move(crowdedSong));
    double aloneSeconds = 0.0, crowdedSeconds = 0.0;
    for (auto _ : state) {
        for (Engine *engine : {&alone, &crowded}) {
            const double seconds =
                playFirstSceneAt(*engine, options.sampleRate, shortBlock, frames);
            if (seconds < 0.0) {
                state.SkipWithError("the requests did not fit");
                return;
            }
            (engine == &alone ? aloneSeconds : crowdedSeconds) += seconds;
        }
    }
    const double blocks = static_cast<double>(frames / shortBlock * state.iterations());
    state.counters["alone_us_per_block"] = aloneSeconds / blocks * 1e6;
    state.counters["crowded_us_per_block"] = crowdedSeconds / blocks * 1e6;
    state.counters["crowded_over_alone"] = crowdedSeconds / aloneSeconds;
}
BENCHMARK(sessionGridBesideArrangementClips)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

/// One synthesiser track playing a looping session clip with a short note every second, the
/// clip N seconds long, against the same clip 8 s long, both played for their first 8 s at 64
/// frames in the same run. The same notes sound in both; a block should visit only the notes
/// that sound in it, so `long_over_short` stays near 1 however many notes the clip holds.
Project sessionSynthClip(int64_t seconds, int64_t rate) {
    Project project;
    project.session.launchQuantize = LaunchQuantize::Immediate;
    const auto track = project.addTrack(TrackType::Midi, "Synth");
    track->instrument = std::string(synthInstrumentId);
    const auto clip = project.addClip(track->id, ClipKind::Midi);
    clip->length = seconds * rate;
    clip->loop = true;
    clip->loopLength = clip->length;
    clip->sessionRow = 0;
    clip->sessionCol = 0;
    clip->launchQuantize = LaunchQuantize::Immediate;
    for (int64_t second = 0; second < seconds; ++second)
        clip->notes.push_back(
            MidiNote{48 + static_cast<int32_t>(second % 24), 0.7f, second * rate, rate / 4});
    Scene scene;
    scene.id = project.nextSceneId++;
    scene.clips.push_back(clip->id);
    project.session.scenes.push_back(scene);
    return project;
}

void sessionSynthClipNotes(benchmark::State &state) {
    constexpr int32_t shortBlock = 64;
    constexpr int64_t rate = 48000;
    constexpr int64_t frames = 8 * rate;
    Engine shortClip, longClip;
    shortClip.replaceProject(sessionSynthClip(8, rate));
    longClip.replaceProject(sessionSynthClip(state.range(0), rate));
    double shortSeconds = 0.0, longSeconds = 0.0;
    for (auto _ : state) {
        for (Engine *engine : {&shortClip, &longClip}) {
            const double seconds =
                playFirstSceneAt(*engine, static_cast<double>(rate), shortBlock, frames);
            if (seconds < 0.0) {
                state.SkipWithError("the requests did not fit");
                return;
            }
            (engine == &shortClip ? shortSeconds : longSeconds) += seconds;
        }
    }
    const double blocks = static_cast<double>(frames / shortBlock * state.iterations());
    state.counters["short_us_per_block"] = shortSeconds / blocks * 1e6;
    state.counters["long_us_per_block"] = longSeconds / blocks * 1e6;
    state.counters["long_over_short"] = longSeconds / shortSeconds;
}
BENCHMARK(sessionSynthClipNotes)->Arg(4000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
