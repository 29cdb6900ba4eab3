// What a live session can carry: the reference session's audio tracks, each through an equaliser
// and a compressor (x42's LV2 plug-ins), played on a private dummy JACK server, with the
// plug-ins in process or each in a helper of its own, and the tracks rendered on the device's
// thread alone ("one_thread", as before) or spread over the engine's helper threads
// ("helpers"), and a sandboxed insert's periods sent each on its own or gathered into batches.
// Every figure is taken in the same run as the floor: the xruns of a client that
// does nothing on the same server for as long.
//
// `liveXrunsOfTheReferenceSession/64`: 32 tracks, the four ways, xruns and DSP load.
// `liveCapacity/N`: the most tracks each way plays at N frames without more late periods than
// the idle client saw and five stray ones; the ratios compare the helpers with one thread and
// the sandbox with in process. HALVORA_LIVE_BENCH_SECONDS sets each play (10 s by default).
#include "bench/device/ServerFloor.h"
#include "bench/plugins/EqualiserAndCompressor.h"
#include "core/engine/Engine.h"
#include "core/engine/reference/ReferenceSession.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "device/AudioDeviceEngine.h"
#include "tests/support/JackServer.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace {

using namespace orvane;
using namespace orvane::vst;

constexpr double sampleRate = 48000.0;

double playSeconds() {
    const char *text = std::getenv("HALVORA_LIVE_BENCH_SECONDS");
    const double seconds = text ? std::atof(text) : 10.0;
    return seconds > 0.0 ? seconds : 10.0;
}

/// How the session plays: plug-ins in process or sandboxed, tracks on the device's thread
/// alone or spread over helpers, a sandboxed insert's periods each sent on its own or gathered.
/// The first and third are how playback ran before the helpers and the gathering.
struct Way {
    const char *name;
    bool sandboxed;
    bool helpers;
    bool gathered;
};

constexpr std::array<Way, 5> ways{Way{"in_process_one_thread", false, false, false},
                                  Way{"in_process_helpers", false, true, false},
                                  Way{"sandboxed_each_period_one_thread", true, false, false},
                                  Way{"sandboxed_gathered_one_thread", true, false, true},
                                  Way{"sandboxed_gathered_helpers", true, true, true}};

struct LivePlay {
    uint64_t xruns = 0;
    DspLoadSummary load;
};

constexpr std::chrono::seconds settling{1};

/// Plays `tracks` tracks with two inserts each for `seconds` at `frames` after `settling`;
/// nothing when a plug-in would not load or the device would not start.
std::optional<LivePlay> playWithInserts(int tracks, int32_t frames, const Way &way,
                                        double seconds) {
    Engine engine;
    engine.options.liveOnWorkerThreads = way.helpers;
    PluginSandboxController controller;
    controller.enabled = way.sandboxed;
    controller.helperSearchFolder = HALVORA_HELPER_FOLDER;
    PluginRack rack(pluginRackHostFor(engine), pluginRackSandboxFor(controller));
    rack.sandboxEnabled = way.sandboxed;
    rack.gathersLiveBlocks = way.gathered;
    engine.replaceProject(buildReferenceSession({tracks, 0, seconds + 5.0, sampleRate}));
    engine.prepareToPlay(sampleRate, frames);
    installPluginRackHooks(engine, rack);
    rack.prepare(sampleRate, frames);
    if (bench::loadEqualiserAndCompressor(engine, rack) == 0) return std::nullopt;
    AudioDeviceEngine device(engine);
    const uint32_t jack = device.deviceIdByName(jackDeviceName);
    if (jack == 0 || !device.applySettings(jack, 0, frames)) return std::nullopt;
    if (!engine.pushRequest(RequestProducer::MainThread, Request::locate(0)) ||
        !engine.pushRequest(RequestProducer::MainThread, Request::play()) || !device.start())
        return std::nullopt;
    // Counted from the second second: the first holds the helpers' and plug-ins' first blocks
    // (pages touched, caches filled), which a session pays once when it starts, not per period.
    std::this_thread::sleep_for(settling);
    const uint64_t settled = device.xrunCount();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    LivePlay play{device.xrunCount() - settled, device.dspLoad()};
    device.stop();
    return play;
}

/// The server of one period size and the floor it sets for `seconds`.
struct ServerWithFloor {
    testing::JackServer server;
    uint64_t floorXruns = 0;
    bool ready = false;

    ServerWithFloor(int32_t frames, double seconds)
        : server(frames, static_cast<int32_t>(sampleRate), false,
                 testing::realtimeSchedulingAllowed()) {
        if (!server.ready()) return;
        testing::JackTestClient idle("idle", 0, 2);
        if (!idle.ok() || !idle.activate()) return;
        floorXruns = bench::idleClientXruns(idle, seconds);
        ready = true;
    }

    /// Notes the floor in `state`, or skips the benchmark when the server is not there.
    bool readyFor(benchmark::State &state) const {
        if (!ready) {
            state.SkipWithError("the JACK server or the idle client did not start");
            return false;
        }
        state.counters["idle_client_xruns"] = static_cast<double>(floorXruns);
        return true;
    }
};

void liveXrunsOfTheReferenceSession(benchmark::State &state) {
    const auto frames = static_cast<int32_t>(state.range(0));
    const double seconds = playSeconds();
    for (auto _ : state) {
        ServerWithFloor server(frames, seconds);
        if (!server.readyFor(state)) return;
        for (const Way &way : ways) {
            const auto play = playWithInserts(32, frames, way, seconds);
            if (!play) {
                state.SkipWithError("the x42 LV2 plug-ins did not load or JACK did not start");
                return;
            }
            const std::string name = way.name;
            state.counters[name + "_xruns"] = static_cast<double>(play->xruns);
            state.counters[name + "_load_mean_pct"] = play->load.mean * 100.0;
            state.counters[name + "_load_worst_pct"] = play->load.worst * 100.0;
        }
    }
    state.counters["period_frames"] = frames;
    state.counters["realtime_server"] = testing::realtimeSchedulingAllowed() ? 1.0 : 0.0;
}
BENCHMARK(liveXrunsOfTheReferenceSession)
    ->Arg(64)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

/// Late periods a play may have beyond the idle client's: the margin the xrun table is judged
/// by. A session the machine cannot carry misses hundreds of periods in a play, so the margin
/// hides no overload; without it, one stray period on a virtual machine ends the search anywhere.
constexpr uint64_t strayXruns = 5;

/// The most tracks (up to 128) that play without more xruns than `floor` and the stray ones:
/// doubling from 4 until one fails, then halving the gap three times. A count fails only when a
/// second play fails too, for the same reason.
int capacityOf(int32_t frames, const Way &way, double seconds, uint64_t floor) {
    const auto playsOnce = [&](int tracks) {
        const auto play = playWithInserts(tracks, frames, way, seconds);
        return play && play->xruns <= floor + strayXruns;
    };
    const auto plays = [&](int tracks) { return playsOnce(tracks) || playsOnce(tracks); };
    int good = 0;
    int bad = 0;
    for (int tracks = 4; tracks <= 128; tracks *= 2) {
        if (!plays(tracks)) {
            bad = tracks;
            break;
        }
        good = tracks;
    }
    if (bad == 0) return good;
    for (int step = 0; step < 3 && bad - good > 1; ++step) {
        const int middle = (good + bad) / 2;
        (plays(middle) ? good : bad) = middle;
    }
    return good;
}

void liveCapacity(benchmark::State &state) {
    const auto frames = static_cast<int32_t>(state.range(0));
    const double seconds = playSeconds();
    std::array<int, ways.size()> capacity{};
    for (auto _ : state) {
        ServerWithFloor server(frames, seconds);
        if (!server.readyFor(state)) return;
        for (std::size_t index = 0; index < ways.size(); ++index) {
            capacity[index] = capacityOf(frames, ways[index], seconds, server.floorXruns);
            state.counters[std::string(ways[index].name) + "_tracks"] = capacity[index];
        }
    }
    const auto ratio = [](int after, int before) {
        return before > 0 ? static_cast<double>(after) / before : 0.0;
    };
    state.counters["in_process_helpers_vs_one_thread"] = ratio(capacity[1], capacity[0]);
    state.counters["sandboxed_now_vs_before"] = ratio(capacity[4], capacity[2]);
    state.counters["sandboxed_vs_in_process_helpers"] = ratio(capacity[4], capacity[1]);
    state.counters["period_frames"] = frames;
}
BENCHMARK(liveCapacity)
    ->Arg(64)
    ->Arg(128)
    ->Arg(256)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
