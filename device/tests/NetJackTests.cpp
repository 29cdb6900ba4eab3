#include "core/audiofile/AudioFile.h"
#include "device/AudioDeviceEngine.h"
#include "device/OfflineRender.h"
#include "device/tests/DeviceTestSupport.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/TestSignals.h"

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
/// lost period could be mistaken in. Well below full scale, which jack_rec's 32-bit file
/// could not hold.
Project markedNoiseProject() {
    Project project;
    project.sampleRate = rate;
    auto track = project.addTrack(TrackType::Audio, "Marked noise");
    auto clip = project.addClip(track->id, ClipKind::Audio);
    const int64_t frames = markerFrame + 1 + noiseFrames;
    auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2, 0.0f);
    std::mt19937 random(20261210);
    std::uniform_real_distribution<float> noise(-0.1f, 0.1f);
    (*samples)[2 * markerFrame] = (*samples)[2 * markerFrame + 1] = 0.6f;
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
        if (std::abs(samples[index]) > 0.3f) return static_cast<int64_t>(index) / channels;
    return -1;
}

/// The period of the dummy master, and of what jack_rec records on the slave.
constexpr int64_t periodFrames = 256;

/// A take compared with the render period by period, from `offset` in the take on: periods
/// equal to the render's (within one LSB), periods the network dropped (the next period
/// carries the song further on) and periods it delivered silent.
struct TakeComparison {
    int64_t matchedPeriods = 0;
    int64_t lostPeriods = 0;
    int64_t silentPeriods = 0;
    int64_t badPeriods = 0;
    int64_t firstBadFrame = -1;
    int64_t songFramesHeard = 0;
    float worst = 0.0f;
};

TakeComparison compareTake(const std::vector<float> &take, int64_t offset,
                           const std::vector<float> &song, int64_t songFrames) {
    TakeComparison result;
    const auto takeFrames = static_cast<int64_t>(take.size() / 2);
    const auto difference = [&](int64_t takeAt, int64_t songAt, int64_t frames) {
        float worst = 0.0f;
        for (int64_t index = 0; index < frames * 2; ++index)
            worst = std::max(worst, std::abs(take[static_cast<std::size_t>(takeAt * 2 + index)] -
                                             song[static_cast<std::size_t>(songAt * 2 + index)]));
        return worst;
    };
    const auto silent = [&](int64_t takeAt, int64_t frames) {
        for (int64_t index = 0; index < frames * 2; ++index)
            if (take[static_cast<std::size_t>(takeAt * 2 + index)] != 0.0f) return false;
        return true;
    };
    int64_t songAt = 0;
    for (int64_t takeAt = offset; songAt < songFrames && takeAt + periodFrames <= takeFrames;
         takeAt += periodFrames) {
        const int64_t frames = std::min(periodFrames, songFrames - songAt);
        if (const float worst = difference(takeAt, songAt, frames); worst <= oneLsb) {
            result.worst = std::max(result.worst, worst);
            ++result.matchedPeriods;
            songAt += periodFrames;
            continue;
        }
        if (silent(takeAt, frames)) {
            ++result.silentPeriods;
            continue;
        }
        bool found = false;
        for (int64_t lost = 1; lost <= 8 && !found; ++lost) {
            const int64_t later = songAt + lost * periodFrames;
            if (later >= songFrames) break;
            const int64_t laterFrames = std::min(periodFrames, songFrames - later);
            if (const float worst = difference(takeAt, later, laterFrames); worst <= oneLsb) {
                result.worst = std::max(result.worst, worst);
                result.lostPeriods += lost;
                ++result.matchedPeriods;
                songAt = later + periodFrames;
                found = true;
            }
        }
        if (!found) {
            if (result.firstBadFrame < 0) result.firstBadFrame = songAt;
            ++result.badPeriods;
            songAt += periodFrames;
        }
    }
    result.songFramesHeard = std::min(songAt, songFrames);
    return result;
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
            "net", "-a", "127.0.0.1", "-p", port, "-n", netName, "-C", "2", "-P", "2", "-l", "5"});
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
        // The master goes at once: stopped politely, its network manager would wait seconds
        // for a slave that no longer answers (or for one still there). The slave then stands
        // waiting for a master, and stops at once.
        master.kill();
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
    engine.prepareToPlay(rate, offlineRenderMaxBlock);
    const int64_t songFrames = markerFrame + 1 + noiseFrames;
    std::vector<float> rendered;
    std::string error;
    ASSERT_TRUE(renderMixdown(engine, rendered, 0, songFrames, 2, &error)) << error;
    ASSERT_EQ(markerIn(rendered, 2, 0), markerFrame);
    ASSERT_LT(peakOf(rendered), 1.0) << "the take's file clips at full scale";

    // The recorder on the slave, listening to what arrives over the network.
    const std::string take =
        (std::filesystem::temp_directory_path() / ("halvora_netjack_" + port + ".wav")).string();
    // jack_rec names no server: it takes the slave from the environment it starts with,
    // which goes back to the master once its ports are seen on the slave.
    ::setenv("JACK_DEFAULT_SERVER", slave->name().c_str(), 1);
    std::jthread recorder([&] { // joined however the test ends
        runTool(
            {"jack_rec", "-f", take, "-d", "2", "-b", "32", "system:capture_1", "system:capture_2"},
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
    ASSERT_LE(heard.frames, offset + songFrames + int64_t{48000} * 2);
    ASSERT_GE(heard.frames, offset + songFrames) << "the take ended before the song";
    const TakeComparison compared = compareTake(*heard.samples, offset, rendered, songFrames);
    // Every period that arrived is the render's, to the last bit the file holds.
    EXPECT_EQ(compared.badPeriods, 0) << "first at song frame " << compared.firstBadFrame;
    EXPECT_LE(compared.worst, oneLsb);
    EXPECT_GE(compared.songFramesHeard, songFrames - periodFrames) << "the song did not arrive";
    // On a machine too busy to keep up, a late period is dropped on the way, and the servers
    // say so: tolerated only then, and named.
    if (compared.lostPeriods + compared.silentPeriods > 0) {
        EXPECT_GT(device.xrunCount(), 0u)
            << compared.lostPeriods << " periods lost and " << compared.silentPeriods
            << " silent with no xrun reported";
    }
}

} // namespace
