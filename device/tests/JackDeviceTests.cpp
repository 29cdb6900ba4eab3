#include "device/AudioDeviceEngine.h"
#include "device/tests/DeviceTestSupport.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/ScopedTestState.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;

namespace {

constexpr double rate = 48000.0;

bool contains(const std::vector<std::string> &names, const std::string &name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

/// A private server and an engine playing a tone through Halvora's JACK client.
class JackDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.ready()) << server.failure();
        engine.replaceProject(toneProject(rate, 30.0));
    }

    void startOnJack(bool connect) {
        device.connectPorts = connect;
        const uint32_t jack = device.deviceIdByName(jackDeviceName);
        ASSERT_NE(jack, 0u) << "the JACK device is not listed";
        device.setRenderObserver(&observer);
        ASSERT_TRUE(device.applySettings(jack, jack, 512)) << device.lastError;
        ASSERT_TRUE(playFromStart(engine));
        ASSERT_TRUE(device.start()) << device.lastError;
    }

    /// Records Halvora's two outputs for `frames` frames.
    std::vector<std::vector<float>> recordOutputs(JackTestClient &recorder, int64_t frames) {
        recorder.prepareRecording(frames);
        EXPECT_TRUE(recorder.activate());
        EXPECT_TRUE(recorder.connect("Halvora:out_1", recorder.recordPort(0)));
        EXPECT_TRUE(recorder.connect("Halvora:out_2", recorder.recordPort(1)));
        recorder.startRecording();
        EXPECT_TRUE(recorder.waitForRecordedFrames(frames, 10s));
        return {recorder.recording(0), recorder.recording(1)};
    }

    JackServer server;
    Engine engine;
    CountingObserver observer; // outlives the device, whose audio thread calls it
    AudioDeviceEngine device{engine};
};

TEST_F(JackDevice, IsListedBesideTheNullDeviceWhileTheServerAnswers) {
    const auto devices = device.listDevices();
    std::vector<std::string> names;
    for (const auto &entry : devices)
        names.push_back(entry.name);
    EXPECT_TRUE(contains(names, "JACK"));
    EXPECT_TRUE(contains(names, "Null"));
    EXPECT_EQ(device.defaultOutputDeviceId(), device.deviceIdByName("JACK"));
    for (std::size_t index = 0; index < devices.size(); ++index)
        EXPECT_EQ(devices[index].id, index + 1);
}

TEST_F(JackDevice, PlaysTheEngineIntoOtherClientsWithoutTouchingTheSystemPorts) {
    startOnJack(false);
    EXPECT_EQ(device.outputDeviceName, "JACK");
    EXPECT_EQ(device.deviceLabel, "JACK → JACK");
    EXPECT_EQ(device.bufferFrames, 256); // the server's period, not the one asked for
    JackTestClient recorder("recorder", 2, 0);
    ASSERT_TRUE(recorder.ok()) << recorder.error();
    const auto outputs = recordOutputs(recorder, 12000);
    EXPECT_GT(peakOf(outputs[0]), 0.2f);
    EXPECT_GT(peakOf(outputs[1]), 0.2f);
    EXPECT_EQ(recorder.connections("Halvora:out_1"),
              std::vector<std::string>{recorder.recordPort(0)});
    EXPECT_TRUE(recorder.connections("Halvora:in_1").empty());
}

TEST_F(JackDevice, ConnectsToTheSystemPortsWhenAllowed) {
    // Another program's MIDI output, running before the start, is a source like the hardware.
    JackTestClient keyboard("keyboard", 0, 0, true);
    ASSERT_TRUE(keyboard.ok()) << keyboard.error();
    ASSERT_TRUE(keyboard.activate());
    startOnJack(true);
    JackTestClient watcher("watcher", 0, 0);
    ASSERT_TRUE(watcher.ok()) << watcher.error();
    EXPECT_TRUE(contains(watcher.connections("Halvora:out_1"), "system:playback_1"));
    EXPECT_TRUE(contains(watcher.connections("Halvora:out_2"), "system:playback_2"));
    EXPECT_TRUE(contains(watcher.connections("Halvora:in_1"), "system:capture_1"));
    EXPECT_TRUE(contains(watcher.connections("Halvora:in_2"), "system:capture_2"));
    EXPECT_TRUE(contains(watcher.connections("Halvora:midi_in"), keyboard.midiPort()));
}

TEST_F(JackDevice, CapturedInputReachesTheMonitorRingAndTheRecording) {
    std::vector<float> left(48000), right(48000);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(i + 1) / 65536.0f;
        right[i] = -left[i];
    }
    JackTestClient player("player", 0, 2);
    ASSERT_TRUE(player.ok()) << player.error();
    player.preparePlayback({left, right});
    ASSERT_TRUE(player.activate());
    startOnJack(false);
    ASSERT_TRUE(player.connect(player.playPort(0), "Halvora:in_1"));
    ASSERT_TRUE(player.connect(player.playPort(1), "Halvora:in_2"));
    device.recording.store(true);
    player.startPlaying();
    ASSERT_TRUE(observer.waitForBlocks(40, 10s));
    device.recording.store(false);
    device.drainCapture();

    int32_t channels = 0;
    int64_t frames = 0;
    std::vector<float> preview;
    device.capturePreview(preview, channels, frames);
    ASSERT_EQ(channels, 2);
    // The ramp arrives whole and in order: every captured frame is the one after the last,
    // from the first period in which the server had made both connections.
    std::size_t offset = 0;
    while (offset + 1 < preview.size() && !(preview[offset] > 0 && preview[offset + 1] < 0))
        offset += 2;
    ASSERT_LT(offset + 1, preview.size()) << "no stereo input was captured";
    int64_t checked = 0;
    for (std::size_t at = offset; at + 1 < preview.size() && preview[at] > 0; at += 2, ++checked) {
        const float expected = preview[offset] + static_cast<float>((at - offset) / 2) / 65536.0f;
        ASSERT_FLOAT_EQ(preview[at], expected) << "frame " << (at - offset) / 2;
        ASSERT_FLOAT_EQ(preview[at + 1], -expected);
    }
    EXPECT_GT(checked, 5000);
    std::vector<float> latest;
    EXPECT_TRUE(device.readMonitorInterleaved(latest, 512));
    EXPECT_EQ(device.captureOverflowFrames(), 0u);
}

TEST_F(JackDevice, TheProcessCallbackAllocatesNothingWhileEditsArePublished) {
    startOnJack(false);
    ASSERT_TRUE(observer.waitForBlocks(5, 10s));
    const uint64_t before = observer.blocks.load();
    for (int edit = 0; edit < 50; ++edit) {
        {
            std::lock_guard lock(engine.projectMutex);
            engine.project.tracks.front()->gain = 0.5f + 0.01f * static_cast<float>(edit);
            engine.publishGraph();
        }
        ASSERT_TRUE(observer.waitForBlocks(1, 10s));
        engine.collectRetiredGraphs();
    }
    EXPECT_GE(observer.blocks.load() - before, 50u);
    EXPECT_EQ(observer.allocations.load(), 0u);
    EXPECT_EQ(observer.frees.load(), 0u);
}

TEST_F(JackDevice, ALargerPeriodPlaysAtOnceAndTheMainThreadPreparesForIt) {
    startOnJack(false);
    ASSERT_TRUE(observer.waitForBlocks(3, 10s));
    // The server runs no client until our callback returns: with the main thread busy
    // holding the project for a second, every client on the server must still keep time.
    JackTestClient other("other", 0, 1);
    ASSERT_TRUE(other.ok() && other.activate()) << other.error();
    std::thread change;
    auto longestGap = 0ms;
    {
        std::lock_guard busyMainThread(engine.projectMutex);
        change = std::thread([&] { EXPECT_TRUE(server.setPeriod(2048)); });
        uint64_t periods = other.periods();
        auto lastPeriod = std::chrono::steady_clock::now();
        for (const auto until = lastPeriod + 1s; std::chrono::steady_clock::now() < until;) {
            std::this_thread::sleep_for(2ms);
            const auto now = std::chrono::steady_clock::now();
            if (other.periods() != periods) {
                periods = other.periods();
                lastPeriod = now;
            }
            longestGap = std::max(longestGap, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  now - lastPeriod));
        }
    }
    change.join();
    EXPECT_LT(longestGap, 400ms);
    JackTestClient recorder("recorder", 2, 0);
    ASSERT_TRUE(recorder.ok()) << recorder.error();
    const auto outputs = recordOutputs(recorder, 8192);
    EXPECT_EQ(recorder.lastPeriod(), 2048);
    EXPECT_TRUE(device.applyDeviceFormat());
    EXPECT_FALSE(device.applyDeviceFormat());
    EXPECT_GE(engine.rtBlockSize.load(), 2048);
    EXPECT_EQ(device.bufferFrames, 2048);
    // Rendered, not silence: a period larger than the engine was prepared for plays nothing.
    EXPECT_GT(peakOf(outputs[0]), 0.2f);
    EXPECT_EQ(observer.allocations.load(), 0u);
}

TEST_F(JackDevice, AServerThatDiesIsReportedAndStopIsSafe) {
    startOnJack(false);
    ASSERT_TRUE(observer.waitForBlocks(3, 10s));
    server.kill();
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (!device.deviceWasLost() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::yield();
    ASSERT_TRUE(device.deviceWasLost());
    EXPECT_FALSE(device.lostReason().empty());
    device.stop();
    EXPECT_FALSE(device.outputRunning.load());
    EXPECT_EQ(engine.rtBlockSize.load(), 0);
}

/// A host whose period can be made to overrun by far, as a session too heavy for the machine
/// does: the render spins (no system call, so nothing but an asynchronous cancel could stop it)
/// inside the audio path's `noexcept` frames until told to let go.
class OverrunningHost final : public DeviceHost {
  public:
    void renderDevice(const float *const *, int32_t, float *const *outputs, int32_t channels,
                      int32_t frames, std::span<const MidiEvent>) noexcept override {
        for (int32_t channel = 0; channel < channels; ++channel)
            std::fill(outputs[channel], outputs[channel] + frames, 0.0f);
        periods.fetch_add(1);
        if (!overrun.load()) return;
        inside.store(true);
        while (!letGo.load()) {
        }
        inside.store(false);
        finishedOverrun.store(true);
    }
    void periodChanging(double, int32_t) override {}
    void deviceUnderrun() noexcept override {}
    void deviceLost(const char *) override { lost.store(true); }
    RenderObserver *renderObserver() noexcept override { return nullptr; }

    bool waitUntil(const std::atomic<bool> &flag) const {
        const auto giveUp = std::chrono::steady_clock::now() + 10s;
        while (!flag.load() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(1ms);
        return flag.load();
    }

    std::atomic<uint64_t> periods{0};
    std::atomic<bool> overrun{false};
    std::atomic<bool> inside{false};
    std::atomic<bool> letGo{false};
    std::atomic<bool> finishedOverrun{false};
    std::atomic<bool> lost{false};
};

/// Stopping the device, or the server going away, while a period overruns: libjack ends the
/// process thread with an asynchronous cancel, which must never unwind through the render
/// (an exception through `noexcept` ends the program). The period finishes, then the thread
/// ends outside our code.
class JackOverrun : public ::testing::TestWithParam<bool> {};

TEST_P(JackOverrun, APeriodCaughtByStopOrAServerThatDiesFinishesAndTheProgramLives) {
    const bool serverDies = GetParam();
    JackServer server(64);
    ASSERT_TRUE(server.ready()) << server.failure();
    OverrunningHost host;
    auto backend = makeJackBackend();
    std::string error;
    ASSERT_TRUE(backend->open(BackendOpenRequest{jackDeviceName, "", 64, rate, false}, host,
                              error))
        << error;
    ASSERT_TRUE(backend->start(error)) << error;
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (host.periods.load() < 10 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(1ms);
    ASSERT_GE(host.periods.load(), 10u);
    host.overrun.store(true);
    ASSERT_TRUE(host.waitUntil(host.inside));
    if (serverDies) {
        server.kill();
        EXPECT_TRUE(host.waitUntil(host.lost));
    }
    std::thread letGoLater([&] {
        std::this_thread::sleep_for(300ms);
        host.letGo.store(true);
    });
    backend->stop();
    letGoLater.join();
    EXPECT_TRUE(host.finishedOverrun.load()) << "the period was cut off inside the render";
    EXPECT_FALSE(host.inside.load());
}

INSTANTIATE_TEST_SUITE_P(StopOrServerDeath, JackOverrun, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "ServerDies" : "Stopped"; });

/// A host for back ends that must fail before any period runs.
class IdleHost final : public DeviceHost {
    void renderDevice(const float *const *, int32_t, float *const *, int32_t, int32_t,
                      std::span<const MidiEvent>) noexcept override {}
    void periodChanging(double, int32_t) override {}
    void deviceUnderrun() noexcept override {}
    void deviceLost(const char *) override {}
    RenderObserver *renderObserver() noexcept override { return nullptr; }
};

TEST(AlsaDevice, ANameThatIsNotListedCannotBeOpened) {
    IdleHost host;
    auto backend = makeRtAudioBackend();
    std::string error;
    EXPECT_FALSE(backend->open(BackendOpenRequest{"ALSA: no such card", "", 256, 48000.0, true},
                               host, error));
    EXPECT_EQ(error, "Не удалось выбрать устройство вывода: ALSA: no such card");
    backend->stop();
    std::string startError;
    EXPECT_FALSE(backend->start(startError));
    EXPECT_FALSE(startError.empty());
}

TEST(JackWithoutServer, IsNotListedAndCannotBeOpened) {
    ScopedEnvironment noStart("JACK_NO_START_SERVER", "1");
    ScopedEnvironment nowhere("JACK_DEFAULT_SERVER", "halvora_no_such_server");
    Engine engine;
    AudioDeviceEngine device(engine);
    EXPECT_EQ(device.deviceIdByName("JACK"), 0u);
    EXPECT_NE(device.deviceIdByName("Null"), 0u);
    IdleHost host;
    auto backend = makeJackBackend();
    std::string error;
    EXPECT_FALSE(backend->open(BackendOpenRequest{"JACK", "", 256, 48000.0, false}, host, error));
    EXPECT_EQ(error, "JACK недоступен");
    backend->stop();
}

} // namespace
