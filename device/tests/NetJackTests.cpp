#include "core/audiofile/AudioFile.h"
#include "device/AudioDeviceEngine.h"
#include "device/OfflineRender.h"
#include "device/tests/DeviceTestSupport.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include <unistd.h>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;

namespace {

constexpr double rate = 48000.0;
/// Where the project's marker impulse sits, and how long its noise runs after it.
constexpr int64_t markerFrame = 4800;
constexpr int64_t noiseFrames = 24000;
/// One step of a 24-bit sample.
constexpr float oneLsb = 1.0f / 8388608.0f;

/// Silence, one loud impulse to find the start by, then seeded noise: a signal no delay or
/// lost period could be mistaken in.
Project markedNoiseProject() {
    Project project;
    project.sampleRate = rate;
    auto track = project.addTrack(TrackType::Audio, "Marked noise");
    auto clip = project.addClip(track->id, ClipKind::Audio);
    const int64_t frames = markerFrame + 1 + noiseFrames;
    auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2, 0.0f);
    std::mt19937 random(20261210);
    std::uniform_real_distribution<float> noise(-0.25f, 0.25f);
    (*samples)[2 * markerFrame] = (*samples)[2 * markerFrame + 1] = 0.9f;
    for (int64_t frame = markerFrame + 1; frame < frames; ++frame) {
        (*samples)[2 * frame] = noise(random);
        (*samples)[2 * frame + 1] = noise(random);
    }
    clip->audio = samples;
    clip->channels = 2;
    clip->length = frames;
    return project;
}

/// The first frame of `channel` (of `channels`) louder than half the marker, or -1.
int64_t markerIn(const std::vector<float> &samples, int32_t channels, int32_t channel) {
    for (std::size_t index = static_cast<std::size_t>(channel); index < samples.size();
         index += static_cast<std::size_t>(channels))
        if (std::abs(samples[index]) > 0.4f) return static_cast<int64_t>(index) / channels;
    return -1;
}

std::string readText(const std::string &path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

/// Two JACK servers joined by netjack2 over the loopback interface: the master on the dummy
/// driver with the network manager loaded, the slave on the network driver, which takes its
/// periods from the master. Unicast to 127.0.0.1: the loopback interface carries no
/// multicast, which netjack2 would otherwise use to find its partner.
class NetJack : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(master.ready()) << master.failure();
        ASSERT_EQ(runTool({"jack_load", "netmanager", "-i", "-a 127.0.0.1 -p " + port}, log), 0)
            << readText(log);
        slave = std::make_unique<JackServer>(std::vector<std::string>{
            "net", "-a", "127.0.0.1", "-p", port, "-n", netName, "-C", "2", "-P", "2", "-l",
            "2"});
        ASSERT_TRUE(slave->ready()) << slave->failure();
        // Halvora and the test's own clients live on the master; only separate programs
        // (jack_rec, jack_lsp) reach the slave, one server being all a process's libjack
        // keeps apart.
        ::setenv("JACK_DEFAULT_SERVER", master.name().c_str(), 1);
        watcher = std::make_unique<JackTestClient>("watcher", 0, 0);
        ASSERT_TRUE(watcher->ok()) << watcher->error();
        ASSERT_TRUE(watcher->waitForPort(netName + ":to_slave_1", 10s))
            << "the slave never joined the master";
    }

    void TearDown() override {
        device.stop();
        watcher.reset();
        // The slave first: a master whose slave vanished waits seconds for it.
        slave.reset();
        ::setenv("JACK_DEFAULT_SERVER", master.name().c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove(log, ignored);
    }

    const std::string port = std::to_string(20000 + ::getpid() % 20000);
    const std::string netName = "halvora_net_" + std::to_string(::getpid());
    const std::string log =
        (std::filesystem::temp_directory_path() / ("halvora_netjack_" + port + ".log")).string();
    JackServer master; // 256-frame periods at 48 kHz
    std::unique_ptr<JackServer> slave;
    std::unique_ptr<JackTestClient> watcher;
    Engine engine;
    AudioDeviceEngine device{engine};
};

TEST_F(NetJack, AProjectPlayedOnOneServerIsHeardOnTheOtherAsTheRenderHasIt) {
    engine.replaceProject(markedNoiseProject());
    const int64_t songFrames = markerFrame + 1 + noiseFrames;
    std::vector<float> rendered;
    std::string error;
    ASSERT_TRUE(renderMixdown(engine, rendered, 0, songFrames, 2, &error)) << error;
    ASSERT_EQ(markerIn(rendered, 2, 0), markerFrame);

    // The recorder on the slave, listening to what arrives over the network.
    const std::string take =
        (std::filesystem::temp_directory_path() / ("halvora_netjack_" + port + ".wav")).string();
    // jack_rec names no server: it takes the slave from the environment it starts with,
    // which goes back to the master once its ports are seen on the slave.
    ::setenv("JACK_DEFAULT_SERVER", slave->name().c_str(), 1);
    std::thread recorder([&] {
        runTool({"jack_rec", "-f", take, "-d", "3", "-b", "32", "system:capture_1",
                 "system:capture_2"},
                log);
    });
    // The recorder runs once its ports are connected on the slave.
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    bool listening = false;
    const std::string listing = log + ".ports";
    while (!listening && std::chrono::steady_clock::now() < giveUp) {
        std::filesystem::remove(listing);
        runTool({"jack_lsp", "-s", slave->name(), "-c"}, listing);
        const std::string ports = readText(listing);
        listening = ports.find("   jackrec:") != std::string::npos; // a connection
        if (!listening) std::this_thread::sleep_for(50ms);
    }
    std::filesystem::remove(listing);
    ::setenv("JACK_DEFAULT_SERVER", master.name().c_str(), 1);

    device.connectPorts = false;
    const uint32_t jack = device.deviceIdByName(jackDeviceName);
    ASSERT_NE(jack, 0u);
    ASSERT_TRUE(device.applySettings(jack, 0, 256)) << device.lastError;
    ASSERT_TRUE(device.start()) << device.lastError;
    ASSERT_TRUE(watcher->connect("Halvora:out_1", netName + ":to_slave_1"));
    ASSERT_TRUE(watcher->connect("Halvora:out_2", netName + ":to_slave_2"));
    ASSERT_TRUE(playFromStart(engine));
    recorder.join();
    ASSERT_TRUE(listening) << "jack_rec never connected on the slave:\n" << readText(log);

    DecodedAudio heard;
    ASSERT_TRUE(decodeAudioFile(take, rate, heard, &error)) << error << "\n" << readText(log);
    std::filesystem::remove(take);
    ASSERT_EQ(heard.channels, 2);
    const int64_t marker = markerIn(*heard.samples, 2, 0);
    ASSERT_GE(marker, 0) << "nothing arrived over the network";
    // The network's latency shifts the whole take; the marker lines the two up.
    const int64_t offset = marker - markerFrame;
    ASSERT_GE(offset, 0);
    ASSERT_LE(heard.frames, offset + songFrames + int64_t{48000} * 3);
    ASSERT_GE(heard.frames, offset + songFrames) << "the take ended before the song";
    float worst = 0.0f;
    int64_t worstFrame = 0;
    for (int64_t frame = 0; frame < songFrames; ++frame)
        for (int channel = 0; channel < 2; ++channel) {
            const float difference =
                std::abs((*heard.samples)[static_cast<std::size_t>((offset + frame) * 2 + channel)] -
                         rendered[static_cast<std::size_t>(frame * 2 + channel)]);
            if (difference > worst) {
                worst = difference;
                worstFrame = frame;
            }
        }
    EXPECT_LE(worst, oneLsb) << "worst at frame " << worstFrame << ", network offset " << offset;
}

} // namespace
