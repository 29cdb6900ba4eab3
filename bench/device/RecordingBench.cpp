#include "bench/device/ServerFloor.h"
#include "core/engine/Engine.h"
#include "device/AudioDeviceEngine.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace orvane;

namespace {

constexpr int32_t stereoInputs = 8;
constexpr int32_t periodFrames = 64;
constexpr double rate = 48000.0;

/// Seconds of live recording: HALVORA_DEVICE_BENCH_SECONDS, else 60.
double recordSeconds() {
    const char *text = std::getenv("HALVORA_DEVICE_BENCH_SECONDS");
    const double seconds = text ? std::atof(text) : 60.0;
    return seconds > 0.0 ? seconds : 60.0;
}

struct RunFigures {
    double meanLoad = 0.0;
    double worstLoad = 0.0;
    uint64_t xruns = 0;
    uint64_t overflowFrames = 0;
    int64_t recordedFrames = 0;
    bool ok = false;
};

/// An engine with eight empty audio tracks and one device opening eight stereo input pairs,
/// each fed one pair of the player's outputs.
struct Recorder {
    Engine engine;
    std::unique_ptr<AudioDeviceEngine> device;
    std::vector<InputRecordingTarget> targets; // pair k into track k

    bool open(testing::JackTestClient &player) {
        Project project;
        project.sampleRate = rate;
        for (int32_t pair = 0; pair < stereoInputs; ++pair)
            targets.push_back(
                {pair, RecordingDestination{
                           project.addTrack(TrackType::Audio, "Input " + std::to_string(pair + 1))
                               ->id}});
        engine.replaceProject(std::move(project));
        device = std::make_unique<AudioDeviceEngine>(engine);
        device->connectPorts = false;
        device->inputPairs = stereoInputs;
        const uint32_t jack = device->deviceIdByName(jackDeviceName);
        if (jack == 0 || !device->applySettings(jack, jack, periodFrames) ||
            device->capturedInputPairs() != stereoInputs ||
            !engine.pushRequest(RequestProducer::MainThread, Request::play()) || !device->start())
            return false;
        for (int32_t port = 0; port < 2 * stereoInputs; ++port)
            if (!player.connect(player.playPort(port), "Halvora:in_" + std::to_string(port + 1)))
                return false;
        return true;
    }
};

/// One device fed eight stereo pairs by the player for `seconds`; with `record` it records
/// them into eight tracks (the main thread moving the captured input into the recordings at
/// the interface's pace), without it it only plays: the baseline.
RunFigures runDevice(testing::JackTestClient &player, double seconds, bool record) {
    Recorder recorder;
    RunFigures figures;
    if (!recorder.open(player)) return figures;
    AudioDeviceEngine &device = *recorder.device;
    if (record && !device.beginRecording()) return figures;
    const uint64_t xrunsBefore = device.xrunCount();
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        device.drainCapture();
        recorder.engine.collectRetiredGraphs();
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
    }
    figures.xruns = device.xrunCount() - xrunsBefore;
    if (record)
        for (const RecordingOutcome &outcome :
             device.finishRecordingInputsIntoProject(recorder.engine, recorder.targets))
            figures.recordedFrames += outcome.frames;
    const DspLoadSummary load = device.dspLoad();
    figures.meanLoad = load.mean;
    figures.worstLoad = load.worst;
    figures.overflowFrames = device.captureOverflowFrames();
    device.stop();
    figures.ok = !record || figures.recordedFrames > 0;
    return figures;
}

/// The underruns of the same graph with a client that does nothing in Halvora's place: it
/// takes the player's sixteen outputs and has two outputs of its own, for `seconds`.
uint64_t listenerInPlaceXruns(testing::JackTestClient &player, double seconds) {
    testing::JackTestClient listener("listener", 2 * stereoInputs, 2);
    if (!listener.ok() || !listener.activate()) return 0;
    for (int32_t port = 0; port < 2 * stereoInputs; ++port)
        if (!player.connect(player.playPort(port), listener.recordPort(port))) return 0;
    return bench::idleClientXruns(player, seconds);
}

/// Eight stereo inputs recorded at 64 frames on a dummy server (asynchronous, as a desktop
/// server runs), against the same device only playing, the player alone, and the player with
/// a client that does nothing in Halvora's place, each for the same length in the same run.
void recordEightStereoInputsOnJack(benchmark::State &state) {
    const double seconds = recordSeconds();
    // Real-time scheduling when the machine allows it, as a studio machine runs its server.
    const bool realtime = testing::realtimeSchedulingAllowed();
    testing::JackServer server(periodFrames, static_cast<int32_t>(rate), false, realtime);
    if (!server.ready()) {
        state.SkipWithError("the JACK server did not start");
        return;
    }
    testing::JackTestClient player("player", 0, 2 * stereoInputs);
    std::vector<std::vector<float>> signal(2 * stereoInputs, std::vector<float>(48000));
    for (std::size_t channel = 0; channel < signal.size(); ++channel)
        for (std::size_t i = 0; i < signal[channel].size(); ++i)
            signal[channel][i] = static_cast<float>((i + channel) % 200) / 400.0f;
    player.preparePlayback(signal);
    if (!player.ok() || !player.activate()) {
        state.SkipWithError("the player could not start");
        return;
    }
    player.startPlaying();
    // The player alone first: the underruns the machine's scheduling causes by itself.
    const uint64_t floorXruns = bench::idleClientXruns(player, seconds);
    const uint64_t inPlaceXruns = listenerInPlaceXruns(player, seconds);
    RunFigures baseline, recording;
    for (auto _ : state) {
        baseline = runDevice(player, seconds, false);
        recording = runDevice(player, seconds, true);
    }
    if (!baseline.ok || !recording.ok) {
        state.SkipWithError("a device did not open or record");
        return;
    }
    state.counters["inputs_stereo"] = stereoInputs;
    state.counters["period_frames"] = periodFrames;
    state.counters["xruns"] = static_cast<double>(recording.xruns);
    state.counters["handoff_overflow_frames"] = static_cast<double>(recording.overflowFrames);
    state.counters["recorded_seconds_per_input"] =
        static_cast<double>(recording.recordedFrames) / rate / stereoInputs;
    state.counters["load_mean_pct"] = recording.meanLoad * 100.0;
    state.counters["load_worst_pct"] = recording.worstLoad * 100.0;
    state.counters["worst_block_ms"] = recording.worstLoad * periodFrames / rate * 1000.0;
    state.counters["idle_client_xruns"] = static_cast<double>(floorXruns);
    state.counters["idle_in_place_xruns"] = static_cast<double>(inPlaceXruns);
    state.counters["baseline_xruns"] = static_cast<double>(baseline.xruns);
    state.counters["playing_load_worst_pct"] = baseline.worstLoad * 100.0;
    state.counters["mean_vs_playing"] =
        baseline.meanLoad > 0.0 ? recording.meanLoad / baseline.meanLoad : 0.0;
    state.counters["worst_vs_playing"] =
        baseline.worstLoad > 0.0 ? recording.worstLoad / baseline.worstLoad : 0.0;
}
BENCHMARK(recordEightStereoInputsOnJack)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
