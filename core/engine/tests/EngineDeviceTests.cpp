// What a live device relies on: MIDI at its frame, periods of any length, format changes that
// keep what plays, transport values held to the timeline, and a broken track kept out of
// the mix.
#include "core/engine/tests/RenderRig.h"
#include "tests/support/AllocationCounter.h"
#include "core/music/ExpressionMaps.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using namespace orvane;
using namespace orvane::testing;

namespace {

/// One device period with MIDI, returning the left channel.
std::vector<float> renderPeriod(Engine &engine, int32_t frames,
                                std::span<const MidiEvent> midi = {}) {
    std::vector<float> left(static_cast<std::size_t>(frames), 7.0f);
    std::vector<float> right(left);
    std::array<float *, 2> outputs{left.data(), right.data()};
    engine.processBlock(BlockIo{nullptr, 0, outputs.data(), 2, frames, midi});
    return left;
}

std::size_t firstSounding(const std::vector<float> &samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f) return i;
    return samples.size();
}

} // namespace

// A device reads its MIDI inside the callback; the key must sound from the frame it came at,
// stop at the frame it was released, and be recorded at block start + offset.
TEST(DeviceBlocks, MidiEventsActAtTheirFrame) {
    RenderRig rig;
    auto keys = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &) { keys->armed = true; });
    Engine &engine = rig.engine;
    send(engine, Request::locate(1000));
    send(engine, Request::play());
    ASSERT_TRUE(engine.beginMidiRecording(0));
    const std::array<MidiEvent, 1> press{MidiEvent{100, 0x92, 69, 127}};
    const auto first = renderPeriod(engine, 256, press);
    EXPECT_EQ(firstSounding(first), 100u);
    const std::array<MidiEvent, 1> release{MidiEvent{50, 0x82, 69, 0}};
    const auto second = renderPeriod(engine, 256, release);
    EXPECT_NE(second[49], 0.0f);
    for (std::size_t i = 50; i < second.size(); ++i)
        ASSERT_EQ(second[i], 0.0f) << i;
    std::vector<MidiNote> take;
    ASSERT_TRUE(engine.endMidiRecording(5000, take));
    ASSERT_EQ(take.size(), 1u);
    EXPECT_EQ(take[0].start, 1000 + 100);
    EXPECT_EQ(take[0].length, 256 - 100 + 50);
    EXPECT_EQ(engine.liveMidi.lastNoteOnChannel[2], -1);

    // A key from the MIDI thread's ring starts with the block and sounds through all of it.
    sendMidi(engine, Request::noteOn(0, 81, 1.0));
    const auto ringKey = renderPeriod(engine, 256);
    EXPECT_LE(firstSounding(ringKey), 1u);
    EXPECT_NE(ringKey[255], 0.0f);
}

// Playing a keyboard into an armed instrument track is heard before anyone presses play; a
// disarmed track stays silent, and the transport does not move.
TEST(DeviceBlocks, KeysOnAnArmedInstrumentTrackSoundWhileStopped) {
    RenderRig rig;
    auto keys = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &) { keys->armed = true; });
    Engine &engine = rig.engine;
    const std::array<MidiEvent, 1> press{MidiEvent{10, 0x90, 60, 110}};
    const auto pressed = renderPeriod(engine, 256, press);
    EXPECT_EQ(firstSounding(pressed), 10u);
    EXPECT_NE(renderPeriod(engine, 256)[100], 0.0f) << "the key is held";
    EXPECT_EQ(engine.transport.playhead.load(), 0);
    rig.edit([&](Project &) { keys->armed = false; });
    const auto disarmed = renderPeriod(engine, 256, press);
    EXPECT_EQ(firstSounding(disarmed), disarmed.size());
}

// The piano roll sounds a note on the track of the clip it edits through the live keys, armed
// or not and with the transport standing; other tracks stay silent, and so does the track once
// the audition ends. Nothing is allocated on the way.
TEST(DeviceBlocks, AnAuditionedTrackSoundsTheLiveKeysWhileStopped) {
    RenderRig rig;
    auto auditioned = rig.addTrack(TrackType::Midi);
    auto other = rig.addTrack(TrackType::Midi);
    Engine &engine = rig.engine;
    const auto peaks = [&] {
        engine.copyTrackMetersToProject();
        std::lock_guard lock(engine.projectMutex);
        return std::pair{auditioned->peakL, other->peakL};
    };
    send(engine, Request::noteOn(15, 69, 0.8));
    EXPECT_EQ(firstSounding(renderPeriod(engine, 256)), 256u) << "no track is armed";
    send(engine, Request::auditionOn(auditioned->id));
    EXPECT_LT(firstSounding(renderPeriod(engine, 256)), 4u);
    {
        // The key is held on; the first block above set up what rendering needs.
        std::vector<float> left(256), right(256);
        std::array<float *, 2> outputs{left.data(), right.data()};
        AllocationScope scope;
        engine.processBlock(BlockIo{nullptr, 0, outputs.data(), 2, 256, {}});
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(scope.frees(), 0u);
        EXPECT_NE(left[100], 0.0f) << "the key is held";
    }
    EXPECT_GT(peaks().first, 0.0f);
    EXPECT_EQ(peaks().second, 0.0f);
    EXPECT_EQ(engine.transport.playhead.load(), 0);
    send(engine, Request::noteOff(15, 69));
    send(engine, Request::auditionOn(0));
    EXPECT_EQ(firstSounding(renderPeriod(engine, 256)), 256u);
    send(engine, Request::noteOn(15, 69, 0.8));
    EXPECT_EQ(firstSounding(renderPeriod(engine, 256)), 256u) << "the audition is over";
}

// A key held over the cycle's jump back keeps its length, and the take's notes and length
// run on past the jump instead of folding back onto the first pass.
TEST(DeviceBlocks, RecordedNotesRunOnAcrossTheCycleJump) {
    RenderRig rig;
    Engine &engine = rig.engine;
    send(engine, Request::setCycle(1000, 2000, true));
    send(engine, Request::locate(1000));
    send(engine, Request::play());
    ASSERT_TRUE(engine.beginMidiRecording(1000));
    // Blocks start at 1000, 1256, 1512 and 1768; the last runs to 2024 and the cycle jumps
    // back to 1024.
    for (int block = 0; block < 3; ++block) renderPeriod(engine, 256);
    const std::array<MidiEvent, 1> press{MidiEvent{132, 0x90, 60, 100}};
    renderPeriod(engine, 256, press); // at 1900
    EXPECT_EQ(engine.transport.playhead.load(), 1024);
    const std::array<MidiEvent, 1> release{MidiEvent{76, 0x80, 60, 0}};
    renderPeriod(engine, 256, release); // at 1100, the second time round
    std::vector<MidiNote> take;
    ASSERT_TRUE(engine.endMidiRecording(engine.transport.playhead.load(), take));
    ASSERT_EQ(take.size(), 1u);
    EXPECT_EQ(take[0].start, 900);
    EXPECT_EQ(take[0].length, 200);
    EXPECT_EQ(engine.midiTakeFrames(), 5 * 256);
}

// A period longer than prepared renders in full; a format change at the same rate keeps the
// effect tails, a new rate prepares the processors afresh; the rack's hook hears of both.
TEST(DeviceBlocks, FormatChangesKeepWhatPlaysAndReachTheRack) {
    RenderRig rig;
    Engine &engine = rig.engine;
    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 4800, 0.5f, 0.5f);
    rig.edit([&](Project &) {
        InsertSlot delay;
        delay.pluginId = "stock.delay";
        delay.isStock = true;
        track->inserts.push_back(delay);
    });
    std::vector<std::pair<double, int32_t>> formats;
    engine.setDeviceFormatHook(
        [&formats](double rate, int32_t frames) { formats.emplace_back(rate, frames); });
    engine.prepareForDeviceFormat(48000, 128);
    send(engine, Request::play());
    for (int i = 0; i < 40; ++i) // 5120 frames: the clip is over, its echo is not yet due
        renderPeriod(engine, 128);
    engine.prepareForDeviceFormat(48000, 2048);
    // Still longer than prepared; the quarter-second echo of the clip is due at 12000.
    const auto longPeriod = renderPeriod(engine, 8192);
    EXPECT_NE(longPeriod.back(), 7.0f);
    EXPECT_EQ(firstSounding(longPeriod), 12000u - 5120u) << "the echo survived the change";
    engine.prepareForDeviceFormat(96000, 2048);
    send(engine, Request::locate(96000 * 60)); // far past the clip: only a tail could sound
    EXPECT_EQ(firstSounding(renderPeriod(engine, 2048)), 2048u) << "a new rate starts afresh";
    EXPECT_EQ(engine.currentGraph()->sampleRate, 96000.0);
    const std::vector<std::pair<double, int32_t>> expected{
        {48000.0, 128}, {48000.0, 2048}, {96000.0, 2048}};
    EXPECT_EQ(formats, expected);
}

// A track that produces a non-finite sample is silenced alone for that block, its state reset
// so the next block starts clean, and reported once however long it keeps failing.
TEST(DeviceBlocks, ANonFiniteTrackIsSilencedAloneAndReportedOnce) {
    RenderRig rig;
    auto broken = rig.addTrack(TrackType::Audio);
    auto good = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(broken, 4096, std::numeric_limits<float>::quiet_NaN(), 0.0f);
    rig.addConstantClip(good, 4096, 0.25f, 0.25f);
    drainNotifications(rig.engine);
    const auto out = rig.play(0, 4);
    for (float sample : out[0])
        ASSERT_FLOAT_EQ(sample, 0.25f * RenderRig::defaultFader);
    std::vector<uint64_t> silenced;
    for (const Notification &notification : drainNotifications(rig.engine))
        if (notification.kind == NotificationKind::trackSilenced)
            silenced.push_back(notification.id);
    EXPECT_EQ(silenced, std::vector<uint64_t>{broken->id});
}

// Requests with values no timeline holds (a damaged document, a runaway locate) keep the
// transport on the timeline; the sanitizer build checks that no sum overflows on the way.
TEST(DeviceBlocks, ExtremeLocateAndCycleStayOnTheTimeline) {
    RenderRig rig;
    Engine &engine = rig.engine;
    const double extremes[] = {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), 9.3e18,
                               -9.3e18};
    for (double start : extremes)
        for (double end : extremes) {
            send(engine,
                 Request{RequestType::setCycle,
                         static_cast<int64_t>(std::clamp(end, -9.2e18, 9.2e18)), 1.0, start});
            send(engine, Request{RequestType::locate, 0, end});
            send(engine, Request::play());
            renderPeriod(engine, 512);
            renderPeriod(engine, 512);
            ASSERT_GE(engine.transport.playhead.load(), 0);
            ASSERT_LE(engine.transport.playhead.load(), Transport::maxPosition);
            ASSERT_GE(engine.transport.loopStart.load(), 0);
            ASSERT_LE(engine.transport.loopEnd.load(), Transport::maxPosition);
        }
    // The named requests say which value is which.
    send(engine, Request::setCycle(1000, 2000, true));
    send(engine, Request::locate(1900));
    renderPeriod(engine, 512);
    EXPECT_EQ(engine.transport.playhead.load(), 1412);
}

// The tempo shown during playback comes from the markers in time order, whatever order the
// document lists them in.
TEST(DeviceBlocks, TheShownTempoFollowsMarkersInTimeOrder) {
    RenderRig rig;
    rig.edit([](Project &project) { project.tempoMarkers = {{48000, 90.0}, {1000, 140.0}}; });
    send(rig.engine, Request::locate(2000));
    send(rig.engine, Request::play());
    renderPeriod(rig.engine, 512);
    EXPECT_NEAR(rig.engine.tempo.load(), 140.0, 0.01);
}

// A device that stopped calling back without saying so (a stopped server) must not hold the
// main thread: ending the take gives up once blocks no longer come, and works once they do.
TEST(DeviceBlocks, EndingATakeGivesUpWhenTheDeviceStopsRenderingAndNotWhileItRenders) {
    RenderRig rig;
    Engine &engine = rig.engine;
    engine.deviceStarted();
    ASSERT_TRUE(engine.beginMidiRecording(0));
    std::vector<MidiNote> take;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine.endMidiRecording(1000, take));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

    ASSERT_TRUE(engine.beginMidiRecording(0));
    std::atomic<bool> ending{true};
    std::thread device([&] {
        while (ending.load()) {
            renderPeriod(engine, 256);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    EXPECT_TRUE(engine.endMidiRecording(1000, take));
    ending.store(false);
    device.join();
    engine.deviceStopped();
}

namespace {

/// Four input channels of steady values (two stereo pairs) fed through device periods.
struct SteadyInputs {
    static constexpr int32_t frames = 256;
    explicit SteadyInputs(const std::array<float, 4> &levels) {
        for (std::size_t c = 0; c < 4; ++c) {
            channels[c].assign(frames, levels[c]);
            inputs[c] = channels[c].data();
        }
    }
    /// Renders `periods` periods; `out` holds the last one's output.
    void render(Engine &engine, int periods) {
        std::array<float *, 2> outputs{out[0].data(), out[1].data()};
        for (int period = 0; period < periods; ++period)
            engine.processBlock(BlockIo{inputs.data(), 4, outputs.data(), 2, frames, {}});
    }
    std::array<std::vector<float>, 4> channels;
    std::array<const float *, 4> inputs{};
    std::array<std::vector<float>, 2> out{std::vector<float>(frames), std::vector<float>(frames)};
};

} // namespace

// An armed audio track hears its own input pair through its chain while stopped, as a clip of
// the same signal would sound through it while playing; "Off" silences it, "In" monitors
// without the arm, and a MIDI track never takes audio input.
TEST(DeviceBlocks, ATrackMonitorsItsInputPairThroughItsChain) {
    const std::array<float, 4> levels{0.1f, 0.1f, 0.4f, -0.2f};
    RenderRig reference;
    auto played = reference.addTrack(TrackType::Audio);
    reference.addConstantClip(played, 48000, 0.4f, -0.2f);
    reference.edit([&](Project &) { played->gain = 0.5f, played->pan = 0.3f; });
    const auto clipSound = reference.play(0, 4, 256);

    RenderRig rig;
    auto voice = rig.addTrack(TrackType::Audio);
    auto keys = rig.addTrack(TrackType::Midi);
    rig.edit([&](Project &) {
        voice->inputPair = 1;
        voice->armed = true;
        voice->gain = 0.5f;
        voice->pan = 0.3f;
        keys->armed = true;
    });
    Engine &engine = rig.engine;
    SteadyInputs device(levels);
    const auto &heard = device.out;
    device.render(engine, 4);
    EXPECT_EQ(engine.transport.playhead.load(), 0) << "monitoring does not start the transport";
    EXPECT_TRUE(engine.monitoring.tracksMonitorInput.load());
    for (std::size_t i = 0; i < heard[0].size(); i += 51) {
        EXPECT_NEAR(heard[0][i], clipSound[0][768 + i], 1e-6f) << i;
        EXPECT_NEAR(heard[1][i], clipSound[1][768 + i], 1e-6f) << i;
    }
    EXPECT_NE(heard[0][100], 0.0f);

    rig.edit([&](Project &) { voice->monitor = MonitorMode::Off; });
    device.render(engine, 1);
    EXPECT_EQ(*std::max_element(heard[0].begin(), heard[0].end()), 0.0f);
    EXPECT_FALSE(engine.monitoring.tracksMonitorInput.load())
        << "the device mixes its raw input again";

    rig.edit([&](Project &) { voice->monitor = MonitorMode::In, voice->armed = false; });
    {
        AllocationScope scope;
        device.render(engine, 3);
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(scope.frees(), 0u);
    }
    EXPECT_NEAR(heard[0][200], clipSound[0][968], 1e-6f);
}
