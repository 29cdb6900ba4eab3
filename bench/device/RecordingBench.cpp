#include "core/engine/Engine.h"
#include "device/AudioDeviceEngine.h"
#include "bench/device/ServerFloor.h"
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

/// One recorder: an engine with an empty audio track and a device capturing one stereo pair.
struct Recorder {
    Engine engine;
    std::unique_ptr<AudioDeviceEngine> device;
    uint64_t trackId = 0;
};

struct RunFigures {
    double meanLoad = 0.0;
    double worstLoad = 0.0;
    uint64_t xruns = 0;
    uint64_t overflowFrames = 0;
    int64_t recordedFrames = 0;
    bool ok = false;
};

bool openRecorder(Recorder &recorder) {
    Project project;
    project.sampleRate = rate;
    recorder.trackId = project.addTrack(TrackType::Audio, "Input")->id;
    recorder.engine.replaceProject(std::move(project));
    recorder.device = std::make_unique<AudioDeviceEngine>(recorder.engine);
    recorder.device->connectPorts = false;
    const uint32_t jack = recorder.device->deviceIdByName(jackDeviceName);
    return jack != 0 && recorder.device->applySettings(jack, jack, periodFrames) &&
           recorder.engine.pushRequest(RequestProducer::MainThread, Request::play()) &&
           recorder.device->start();
}

/// Eight devices side by side on the server, each fed one stereo pair of the player, for
/// `seconds`; with `record` they record it (the main thread moving the captured input into
/// the recordings at the interface's pace), without it they only play: the baseline.
RunFigures runDevices(testing::JackTestClient &player, double seconds, bool record) {
    std::vector<std::unique_ptr<Recorder>> recorders;
    RunFigures figures;
    for (int32_t index = 0; index < stereoInputs; ++index) {
        recorders.push_back(std::make_unique<Recorder>());
        if (!openRecorder(*recorders.back())) return figures;
    }
    // The server names the second client called "Halvora" "Halvora-01", and so on.
    for (int32_t index = 0; index < stereoInputs; ++index) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "-%02d", index);
        const std::string name = std::string("Halvora") + (index == 0 ? "" : suffix);
        if (!player.connect(player.playPort(2 * index), name + ":in_1") ||
            !player.connect(player.playPort(2 * index + 1), name + ":in_2"))
            return figures;
    }
    if (record)
        for (auto &recorder : recorders)
            if (!recorder->device->beginRecording()) return figures;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        for (auto &recorder : recorders) {
            recorder->device->drainCapture();
            recorder->engine.collectRetiredGraphs();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(33));
    }
    for (auto &recorder : recorders) {
        AudioDeviceEngine &device = *recorder->device;
        if (record)
            figures.recordedFrames += device.finishRecordingIntoProject(
                recorder->engine, recorder->trackId, nullptr, nullptr, 0, -1, -1);
        const DspLoadSummary load = device.dspLoad();
        figures.meanLoad += load.mean / stereoInputs;
        figures.worstLoad = std::max(figures.worstLoad, load.worst);
        figures.xruns = std::max(figures.xruns, device.xrunCount());
        figures.overflowFrames += device.captureOverflowFrames();
        device.stop();
    }
    figures.ok = true;
    return figures;
}

/// Eight stereo inputs recorded at 64 frames on a dummy server (asynchronous, as a desktop
/// server runs), against the same eight devices only playing in the same run.
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
    const uint64_t floorXruns = bench::idleClientXruns(player, seconds / 4);
    RunFigures baseline, recording;
    for (auto _ : state) {
        baseline = runDevices(player, seconds / 4, false);
        recording = runDevices(player, seconds, true);
    }
    if (!baseline.ok || !recording.ok) {
        state.SkipWithError("a device did not open or record");
        return;
    }
    state.counters["inputs_stereo"] = stereoInputs;
    state.counters["period_frames"] = periodFrames;
    state.counters["xruns"] = static_cast<double>(recording.xruns);
    state.counters["handoff_overflow_frames"] = static_cast<double>(recording.overflowFrames);
    state.counters["recorded_seconds"] = static_cast<double>(recording.recordedFrames) / rate;
    state.counters["load_mean_pct"] = recording.meanLoad * 100.0;
    state.counters["load_worst_pct"] = recording.worstLoad * 100.0;
    state.counters["worst_block_ms"] = recording.worstLoad * periodFrames / rate * 1000.0;
    state.counters["idle_client_xruns_quarter"] = static_cast<double>(floorXruns);
    state.counters["baseline_xruns"] = static_cast<double>(baseline.xruns);
    state.counters["mean_vs_playing"] =
        baseline.meanLoad > 0.0 ? recording.meanLoad / baseline.meanLoad : 0.0;
    state.counters["worst_vs_playing"] =
        baseline.worstLoad > 0.0 ? recording.worstLoad / baseline.worstLoad : 0.0;
}
BENCHMARK(recordEightStereoInputsOnJack)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace
