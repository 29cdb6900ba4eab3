#include "bench/device/ServerFloor.h"
#include "core/engine/Engine.h"
#include "core/engine/reference/ReferenceSession.h"
#include "device/AudioDeviceEngine.h"
#include "tests/support/JackServer.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace orvane;

namespace {

/// Seconds of live playback per period size: HALVORA_DEVICE_BENCH_SECONDS, else 60.
double benchSeconds() {
    const char *text = std::getenv("HALVORA_DEVICE_BENCH_SECONDS");
    const double seconds = text ? std::atof(text) : 60.0;
    return seconds > 0.0 ? seconds : 60.0;
}

/// The baseline of the same run: the session rendered offline in blocks of the same size,
/// as the share of each block's duration that rendering took.
double offlineLoad(const Project &session, int32_t frames, double seconds) {
    Engine engine;
    engine.replaceProject(session);
    engine.prepareToPlay(session.sampleRate, frames);
    std::vector<float> left(static_cast<std::size_t>(frames)), right(left.size());
    std::array<float *, 2> channels{left.data(), right.data()};
    const auto totalFrames = static_cast<int64_t>(seconds * session.sampleRate);
    if (!engine.beginOfflineRender(0)) return 0.0;
    const auto started = std::chrono::steady_clock::now();
    for (int64_t done = 0; done < totalFrames; done += frames)
        engine.processBlockOffline(channels.data(), 2, frames);
    const double spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    engine.endOfflineRender();
    return spent / seconds;
}

/// The main thread's share of editing: one published change every 50 ms, as a user dragging
/// a fader would cause, with the retired snapshots freed as the interface tick does.
void publishEditsWhilePlaying(Engine &engine, double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    float gain = 0.7f;
    while (std::chrono::steady_clock::now() < until) {
        {
            std::lock_guard lock(engine.projectMutex);
            gain = gain > 0.9f ? 0.6f : gain + 0.01f;
            engine.project.tracks.front()->gain = gain;
            engine.publishGraph();
        }
        engine.collectRetiredGraphs();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

/// The reference session played live on a private dummy JACK server (asynchronous, as a
/// desktop server runs) at the period given, with edits published throughout.
void playReferenceSessionOnJack(benchmark::State &state) {
    const auto frames = static_cast<int32_t>(state.range(0));
    const double seconds = benchSeconds();
    ReferenceSessionOptions options;
    options.seconds = seconds + 5.0;
    const Project session = buildReferenceSession(options);
    const double baseline = offlineLoad(session, frames, std::min(seconds, 10.0));

    // A studio machine runs its audio server with real-time scheduling; use it when allowed,
    // and say which way the figures were taken.
    const bool realtime = testing::realtimeSchedulingAllowed();
    testing::JackServer server(frames, 48000, false, realtime);
    if (!server.ready()) {
        state.SkipWithError("the JACK server did not start");
        return;
    }
    // What the machine alone costs: a client that only plays silence, on the same server, for
    // as long as the session will play.
    uint64_t floorXruns = 0;
    {
        testing::JackTestClient idle("idle", 0, 2);
        if (!idle.ok() || !idle.activate()) {
            state.SkipWithError("the idle client could not start");
            return;
        }
        floorXruns = bench::idleClientXruns(idle, seconds);
    }
    Engine engine;
    engine.replaceProject(session);
    AudioDeviceEngine device(engine);
    const uint32_t jack = device.deviceIdByName(jackDeviceName);
    if (jack == 0 || !device.applySettings(jack, 0, frames)) {
        state.SkipWithError("Halvora cannot open the JACK device");
        return;
    }
    DspLoadSummary load;
    for (auto _ : state) {
        if (!engine.pushRequest(RequestProducer::MainThread, Request::locate(0)) ||
            !engine.pushRequest(RequestProducer::MainThread, Request::play()) || !device.start()) {
            state.SkipWithError("playback did not start");
            return;
        }
        publishEditsWhilePlaying(engine, seconds);
        load = device.dspLoad();
        device.stop();
    }
    state.counters["period_frames"] = frames;
    state.counters["realtime_server"] = realtime ? 1.0 : 0.0;
    state.counters["load_mean_pct"] = load.mean * 100.0;
    state.counters["load_p99_pct"] = load.p99 * 100.0;
    state.counters["load_worst_pct"] = load.worst * 100.0;
    state.counters["xruns"] = static_cast<double>(device.xrunCount());
    state.counters["idle_client_xruns"] = static_cast<double>(floorXruns);
    state.counters["blocks"] = static_cast<double>(load.blocks);
    state.counters["offline_load_pct"] = baseline * 100.0;
    state.counters["live_mean_vs_offline"] = baseline > 0.0 ? load.mean / baseline : 0.0;
    state.counters["live_worst_vs_offline"] = baseline > 0.0 ? load.worst / baseline : 0.0;
}
BENCHMARK(playReferenceSessionOnJack)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
