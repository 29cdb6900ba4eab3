#include "core/engine/tests/EngineTestSupport.h"

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::testing;

namespace {

class EngineTransport : public ::testing::Test {
  protected:
    void SetUp() override { engine.prepareToPlay(48000, 512); }
    Engine engine;
    StereoOutput out{512};
};

} // namespace

TEST_F(EngineTransport, ARingHolds1023RequestsAppliedInOrderAndDropsThe1024th) {
    for (int i = 0; i < 1023; ++i)
        ASSERT_TRUE(
            engine.pushRequest(RequestProducer::MainThread,
                               request(i % 2 == 0 ? RequestType::play : RequestType::pause)));
    EXPECT_FALSE(engine.pushRequest(RequestProducer::MainThread, request(RequestType::stop)));
    out.render(engine);
    const auto posted = drainNotifications(engine);
    ASSERT_EQ(posted.size(), 1023u);
    for (std::size_t i = 0; i < posted.size(); ++i) {
        EXPECT_EQ(posted[i].kind, NotificationKind::transport);
        EXPECT_EQ(posted[i].value, i % 2 == 0 ? 1.0f : 0.0f) << i;
    }
    EXPECT_TRUE(
        engine.transport.playing); // the last applied was a play; the dropped stop never ran
    EXPECT_TRUE(engine.pushRequest(RequestProducer::MainThread, request(RequestType::stop)));
}

TEST_F(EngineTransport, PlayStopPlayInOneBlockPlaysFromTheStart) {
    send(engine, RequestType::locate, 0, 5000.0);
    send(engine, RequestType::play);
    send(engine, RequestType::stop);
    send(engine, RequestType::play);
    out.render(engine);
    EXPECT_TRUE(engine.transport.playing);
    EXPECT_EQ(engine.transport.playhead, 512);
}

TEST_F(EngineTransport, StopRewindsAndPauseKeepsThePlayhead) {
    send(engine, RequestType::play);
    out.render(engine);
    out.render(engine);
    send(engine, RequestType::pause);
    out.render(engine);
    EXPECT_FALSE(engine.transport.playing);
    EXPECT_EQ(engine.transport.playhead, 1024);
    send(engine, RequestType::play);
    send(engine, RequestType::recordToggle);
    out.render(engine);
    EXPECT_TRUE(engine.transport.recording);
    send(engine, RequestType::stop);
    out.render(engine);
    EXPECT_FALSE(engine.transport.playing);
    EXPECT_FALSE(engine.transport.recording);
    EXPECT_EQ(engine.transport.playhead, 0);
}

TEST_F(EngineTransport, CycleWrapsAfterRenderingTheWholeBlock) {
    send(engine, RequestType::setCycle, 2000, 1.0, 1000.0);
    send(engine, RequestType::locate, 0, 1900.0);
    send(engine, RequestType::play);
    out.render(engine);
    EXPECT_TRUE(engine.transport.loopEnabled);
    EXPECT_EQ(engine.transport.playhead, 1412);
    send(engine, RequestType::setCycle, 2000, 0.0, 1000.0);
    out.render(engine);
    EXPECT_EQ(engine.transport.playhead, 1924);
}

TEST_F(EngineTransport, ABlockEndingExactlyOnTheCycleEndWrapsToItsStart) {
    // The end is exclusive: a playhead left on it would play one block past the cycle.
    send(engine, Request::setCycle(512, 1536, true));
    send(engine, Request::locate(1024));
    send(engine, Request::play());
    out.render(engine);
    EXPECT_EQ(engine.transport.playhead, 512);
    out.render(engine);
    EXPECT_EQ(engine.transport.playhead, 1024);
    out.render(engine);
    EXPECT_EQ(engine.transport.playhead, 512);
}

TEST_F(EngineTransport, RecordingWithoutPlayingAdvancesWhileIdleStaysPut) {
    out.render(engine);
    EXPECT_EQ(engine.transport.playhead, 0);
    EXPECT_EQ(out.left[0], 0.0f); // cleared even when idle
    EXPECT_EQ(out.right[511], 0.0f);
    send(engine, RequestType::recordToggle);
    out.render(engine);
    EXPECT_FALSE(engine.transport.playing);
    EXPECT_EQ(engine.transport.playhead, 512);
}

TEST_F(EngineTransport, NullChannelsAreSkipped) {
    std::vector<float> left(64, 3.0f);
    std::array<float *, 2> channels{left.data(), nullptr};
    engine.processBlock(channels.data(), 2, 64);
    EXPECT_EQ(left[63], 0.0f);
    engine.processBlock(nullptr, 0, 64);
}

TEST_F(EngineTransport, UnknownRequestTypesAreConsumed) {
    for (uint8_t type : {4, 8, 9, 10, 11, 15, 200})
        send(engine, static_cast<RequestType>(type), 1, 2.0, 3.0);
    out.render(engine);
    EXPECT_FALSE(engine.transport.playing);
    EXPECT_TRUE(drainNotifications(engine).empty());
}

TEST_F(EngineTransport, PlayingPastATempoMarkerChangesTheShownTempoButNotTheDocument) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.tempoMarkers.push_back({1000, 90.0});
    }
    engine.publishGraph();
    send(engine, RequestType::play);
    for (int i = 0; i < 3; ++i)
        out.render(engine);
    EXPECT_DOUBLE_EQ(engine.tempo, 90.0);
    EXPECT_DOUBLE_EQ(engine.project.tempoBpm, 120.0);
    send(engine, RequestType::locate, 0, 0.0);
    send(engine, RequestType::pause);
    out.render(engine);
    EXPECT_DOUBLE_EQ(engine.tempo, 120.0);
    EXPECT_DOUBLE_EQ(engine.project.tempoBpm, 120.0);
}

TEST_F(EngineTransport, SetTempoRequestSetsTheShownTempo) {
    send(engine, RequestType::setTempo, 0, 133.0);
    out.render(engine);
    EXPECT_DOUBLE_EQ(engine.tempo, 133.0);
}

TEST_F(EngineTransport, NoteOnAndOffTrackHeldKeysPerChannel) {
    sendMidi(engine, RequestType::midiNoteOn, 3 * 256 + 60, 1.5);
    out.render(engine);
    EXPECT_EQ(engine.liveMidi.heldVelocity[60], 1.0f);
    EXPECT_EQ(engine.liveMidi.lastNoteOnChannel[3], 60);
    sendMidi(engine, RequestType::midiPitchBend, 3, 0.0, 150.0);
    sendMidi(engine, RequestType::midiPressure, 60, 1.7);
    out.render(engine);
    EXPECT_EQ(engine.liveMidi.noteBend[60], 150.0f);
    EXPECT_EQ(engine.liveMidi.notePressure[60], 1.0f);
    sendMidi(engine, RequestType::midiNoteOff, 3 * 256 + 60);
    out.render(engine);
    EXPECT_EQ(engine.liveMidi.heldVelocity[60], 0.0f);
    EXPECT_EQ(engine.liveMidi.noteBend[60], 0.0f);
    EXPECT_EQ(engine.liveMidi.lastNoteOnChannel[3], -1);
    // A note-on with velocity 0 changes nothing.
    sendMidi(engine, RequestType::midiNoteOn, 64, 0.0);
    out.render(engine);
    EXPECT_EQ(engine.liveMidi.lastNoteOnChannel[0], -1);
}

TEST_F(EngineTransport, BendWithNoKeyHeldTouchesNothing) {
    sendMidi(engine, RequestType::midiPitchBend, 5, 0.0, 200.0);
    out.render(engine);
    for (float bend : engine.liveMidi.noteBend)
        EXPECT_EQ(bend, 0.0f);
}

TEST_F(EngineTransport, NotesPlayedWhileMidiRecordingAreCaptured) {
    engine.midiRecorder.start = 1000;
    engine.midiRecorder.active = true;
    send(engine, RequestType::locate, 0, 1000.0);
    send(engine, RequestType::play);
    sendMidi(engine, RequestType::midiNoteOn, 62, 0.01);
    out.render(engine);
    sendMidi(engine, RequestType::midiNoteOff, 62);
    out.render(engine);
    ASSERT_EQ(engine.midiRecorder.count, 1);
    EXPECT_EQ(engine.midiRecorder.notes[0].pitch, 62);
    EXPECT_EQ(engine.midiRecorder.notes[0].start, 0);
    EXPECT_EQ(engine.midiRecorder.notes[0].length, 512);
    EXPECT_FLOAT_EQ(engine.midiRecorder.notes[0].velocity, 0.05f);
    // A key released at the position it went down is not a note.
    sendMidi(engine, RequestType::midiNoteOn, 63, 0.5);
    sendMidi(engine, RequestType::midiNoteOff, 63);
    out.render(engine);
    EXPECT_EQ(engine.midiRecorder.count, 1);
}

TEST_F(EngineTransport, LaunchQuantisationReadsTheTempoAndMeterMaps) {
    EXPECT_EQ(engine.quantizeLaunchSamples(0, LaunchQuantize::OneBar), 96000);
    EXPECT_EQ(engine.quantizeLaunchSamples(96000, LaunchQuantize::OneBar), 192000);
    EXPECT_EQ(engine.quantizeLaunchSamples(1, LaunchQuantize::OneBeat), 24000);
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.meterMarkers.push_back({0, 3, 4});
        engine.project.tempoMarkers.push_back({0, 60.0});
    }
    engine.publishGraph();
    EXPECT_EQ(engine.barLengthSamples(), 144000);
    const auto snapshot = engine.currentGraph();
    EXPECT_EQ(Engine::barLengthSamplesRt(*snapshot, 0), 144000);
    EXPECT_EQ(engine.quantizeLaunchSamplesRt(*snapshot, 10, LaunchQuantize::OneBar), 144000);
    EXPECT_EQ(engine.quantizeLaunchSamples(10, LaunchQuantize::OneBar), 144000);
}

TEST_F(EngineTransport, ApplyingTempoAndMeterAtAPositionMovesTheBaseValues) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.tempoMarkers.push_back({48000, 100.0});
        engine.project.meterMarkers.push_back({48000, 6, 8});
    }
    engine.applyTempoAtPosition(50000);
    engine.applyMeterAtPosition(50000);
    EXPECT_DOUBLE_EQ(engine.project.tempoBpm, 100.0);
    EXPECT_EQ(engine.project.timeSignature, (TimeSignature{6, 8}));
    EXPECT_EQ(engine.currentMeter(), (TimeSignature{6, 8}));
    EXPECT_DOUBLE_EQ(engine.gridBeats(GridQuantize::Bar), 3.0);
}

// What the window shows moving follows what is heard: the playhead less the delay that lines
// the chains up and the device's own, back across the cycle's jump, and the playhead itself
// once stopped.
TEST_F(EngineTransport, TheHeardPlayheadLagsByTheMixAndTheDeviceAndFollowsTheCycle) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.addTrack(TrackType::Audio, "Delayed");
    }
    engine.setLatencyHook([](uint64_t) { return int64_t{1000}; });
    engine.publishGraph();
    engine.playbackLatencyFrames.store(256);
    send(engine, RequestType::locate, 0, 48000.0);
    send(engine, RequestType::play);
    out.render(engine);
    EXPECT_EQ(engine.mixLatencyFrames.load(), 1000) << "the slowest chain's delay";
    EXPECT_EQ(engine.transport.playhead.load(), 48512);
    EXPECT_EQ(engine.heardPlayhead(), 48512 - 1000 - 256);

    send(engine, Request::setCycle(0, 96000, true));
    out.render(engine);
    engine.transport.playhead.store(500); // just after a jump back to the cycle's start
    EXPECT_EQ(engine.heardPlayhead(), 96000 - (1256 - 500)) << "still the end of the last pass";

    send(engine, RequestType::stop);
    out.render(engine);
    EXPECT_EQ(engine.heardPlayhead(), engine.transport.playhead.load());
}
