#include "device/AudioDeviceEngine.h"
#include "device/OfflineRender.h"
#include "device/tests/DeviceTestSupport.h"
#include "tests/support/JackServer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;

namespace {

constexpr double rate = 48000.0;
constexpr int64_t bounceFrames = 30000;

/// The tone project with a second, quieter track panned right, so that bouncing one track
/// and bouncing the mix differ.
Project twoTrackProject() {
    Project project = toneProject(rate, 2.0);
    auto second = project.addTrack(TrackType::Audio, "Low");
    auto clip = project.addClip(second->id, ClipKind::Audio);
    std::vector<float> samples(static_cast<std::size_t>(rate) * 2 * 2);
    for (std::size_t frame = 0; frame < samples.size() / 2; ++frame)
        samples[2 * frame] = samples[2 * frame + 1] =
            0.25f * static_cast<float>(std::sin(2.0 * 3.14159265358979 * 110.0 * frame / rate));
    clip->audio = std::make_shared<const std::vector<float>>(std::move(samples));
    clip->length = static_cast<int64_t>(rate) * 2;
    clip->arrangeStart = 7000;
    second->pan = 0.5f;
    return project;
}

/// What a bounce must give: the same project rendered offline by an engine no device has
/// touched.
std::vector<float> referenceRender(uint64_t soloTrack, int32_t channels) {
    Engine engine;
    engine.replaceProject(twoTrackProject());
    engine.prepareToPlay(rate, offlineRenderMaxBlock);
    std::vector<float> out;
    const bool rendered =
        soloTrack == 0 ? renderMixdown(engine, out, 1000, bounceFrames, channels)
                       : renderTrackMixdown(engine, soloTrack, out, 1000, bounceFrames, channels);
    EXPECT_TRUE(rendered);
    return out;
}

class BounceWhileTheDevicePlays : public ::testing::TestWithParam<int32_t> {};

TEST_P(BounceWhileTheDevicePlays, EqualsTheOfflineRenderAndLeavesTheLiveTransportAlone) {
    const int32_t period = GetParam();
    JackServer server(period);
    ASSERT_TRUE(server.ready()) << server.failure();
    Engine engine;
    engine.replaceProject(twoTrackProject());
    const uint64_t low = engine.project.tracks[1]->id;
    CountingObserver observer;
    AudioDeviceEngine device(engine);
    device.connectPorts = false;
    device.setRenderObserver(&observer);
    const uint32_t jack = device.deviceIdByName(jackDeviceName);
    ASSERT_TRUE(device.applySettings(jack, jack, period)) << device.lastError;
    ASSERT_EQ(device.bufferFrames, period);
    ASSERT_TRUE(playFromStart(engine));
    ASSERT_TRUE(device.start()) << device.lastError;
    ASSERT_TRUE(observer.waitForBlocks(8, 10s));

    std::vector<float> mix, mono, lowTrack;
    ASSERT_TRUE(device.bounce(mix, 1000, bounceFrames, 2)) << device.lastError;
    ASSERT_TRUE(device.bounce(mono, 1000, bounceFrames, 1)) << device.lastError;
    ASSERT_TRUE(device.bounceTrack(low, lowTrack, 1000, bounceFrames, 2)) << device.lastError;
    EXPECT_FALSE(device.bounce(mix, 0, 0, 2));

    // The device plays on from where it was: the bounce kept its own position.
    const int64_t before = engine.transport.playhead.load();
    ASSERT_TRUE(observer.waitForBlocks(4, 10s));
    EXPECT_GT(engine.transport.playhead.load(), before);
    EXPECT_TRUE(engine.transport.playing.load());
    EXPECT_EQ(observer.allocations.load(), 0u);
    device.stop();

    EXPECT_EQ(mix, referenceRender(0, 2));
    EXPECT_EQ(mono, referenceRender(0, 1));
    EXPECT_EQ(lowTrack, referenceRender(low, 2));
    EXPECT_NE(lowTrack, mix);
    for (std::size_t frame = 0; frame < mono.size(); ++frame)
        ASSERT_EQ(mono[frame], mix[2 * frame]) << "mono is the left signal, frame " << frame;
    std::lock_guard lock(engine.projectMutex);
    for (const auto &track : engine.project.tracks)
        EXPECT_FALSE(track->solo) << "solo switches are put back";
}

INSTANTIATE_TEST_SUITE_P(DevicePeriods, BounceWhileTheDevicePlays,
                         ::testing::Values(64, 256, 1024));

} // namespace
