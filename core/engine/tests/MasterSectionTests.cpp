#include "core/engine/tests/RenderRig.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

using namespace orvane;
using namespace orvane::testing;

namespace {

struct ControlRoomOutput {
    std::array<float, 4> left{}, right{};
};

ControlRoomOutput routeThrough(const ControlRoomSettings &controlRoom, float inLeft, float inRight,
                               int32_t channelCount) {
    const std::array<float, 4> masterLeft{inLeft, inLeft, inLeft, inLeft};
    const std::array<float, 4> masterRight{inRight, inRight, inRight, inRight};
    ControlRoomOutput out;
    out.left.fill(9.0f);
    out.right.fill(9.0f);
    std::array<float *, 2> channels{out.left.data(), out.right.data()};
    writeMasterOutput(controlRoom, masterLeft.data(), masterRight.data(), channels.data(),
                      channelCount, 4);
    return out;
}

int zeroCrossings(const std::vector<float> &samples, std::size_t begin, std::size_t end) {
    int crossings = 0;
    for (std::size_t i = begin + 1; i < end; ++i)
        if ((samples[i - 1] < 0.0f) != (samples[i] < 0.0f)) ++crossings;
    return crossings;
}

} // namespace

TEST(ControlRoom, DimCueAndMonoShapeTheOutput) {
    ControlRoomSettings dimmed;
    dimmed.dim = true;
    dimmed.cueGain = 0.0f;
    EXPECT_FLOAT_EQ(routeThrough(dimmed, 1.0f, 1.0f, 2).left[0], 0.25f);

    ControlRoomSettings cue; // master 1, cue 1
    EXPECT_FLOAT_EQ(routeThrough(cue, 1.0f, 0.5f, 2).left[0], 1.35f);
    EXPECT_FLOAT_EQ(routeThrough(cue, 1.0f, 0.5f, 2).right[0], 0.675f);

    ControlRoomSettings mono;
    mono.cueGain = 0.0f;
    mono.mono = true;
    const auto hardLeft = routeThrough(mono, 1.0f, 0.0f, 2);
    EXPECT_FLOAT_EQ(hardLeft.left[0], 0.5f);
    EXPECT_FLOAT_EQ(hardLeft.right[0], 0.5f);
}

TEST(ControlRoom, OneChannelDevicesGetTheLeftSideUnlessMono) {
    ControlRoomSettings plain;
    plain.cueGain = 0.0f;
    auto out = routeThrough(plain, 0.25f, 1.0f, 1);
    EXPECT_FLOAT_EQ(out.left[0], 0.25f);
    EXPECT_EQ(out.right[0], 9.0f); // untouched
    plain.mono = true;
    EXPECT_FLOAT_EQ(routeThrough(plain, 0.25f, 1.0f, 1).left[0], 0.625f);
    plain.masterGain = -3.0f; // negative master gain is silence, not inversion
    EXPECT_EQ(routeThrough(plain, 0.25f, 1.0f, 1).left[0], 0.0f);
}

TEST(Metronome, ClicksForTwelveMillisecondsOnEveryBeatWithAHigherDownbeat) {
    RenderRig rig;
    rig.edit([](Project &project) { project.metronomeEnabled = true; });
    const auto out = rig.play(0, 48000 * 5 / 512 + 1); // a little over two seconds: one bar
    const std::vector<float> &left = out[0];
    EXPECT_NE(left[1], 0.0f);
    EXPECT_NE(left[575], 0.0f);
    for (std::size_t i = 576; i < 24000; ++i)
        ASSERT_EQ(left[i], 0.0f) << i;
    EXPECT_NE(left[24001], 0.0f);
    EXPECT_EQ(left[24576], 0.0f);
    // 576 samples hold 22.8 periods at 1900 Hz and 15 at 1250 Hz.
    EXPECT_NEAR(zeroCrossings(left, 0, 576), 45, 2);
    EXPECT_NEAR(zeroCrossings(left, 24000, 24576), 30, 2);
    EXPECT_NEAR(zeroCrossings(left, 96000, 96576), 45, 2); // the next bar's downbeat
    EXPECT_EQ(out[1][100], left[100]);

    rig.edit([](Project &project) { project.metronomeEnabled = false; });
    const auto silent = rig.play(0);
    EXPECT_EQ(silent[0][1], 0.0f);
}

TEST(MasterMeters, LoudnessOfSilenceAndOfAFullScaleConstant) {
    RenderRig rig;
    rig.play(0, 10);
    EXPECT_EQ(rig.engine.masterMeters.loudness.load(), -60.0f);
    EXPECT_EQ(rig.engine.masterMeters.peakL.load(), 0.0f);

    auto track = rig.addTrack(TrackType::Audio);
    rig.addConstantClip(track, 48000 * 4, 1.0f, 1.0f);
    rig.edit([&](Project &) { track->macros[0] = 0.75f / 1.75f; }); // fader at unity
    rig.play(0, 48000 * 4 / 512);
    EXPECT_NEAR(rig.engine.masterMeters.loudness.load(), -0.691f, 0.01f);
    EXPECT_NEAR(rig.engine.masterMeters.peakL.load(), 1.0f, 1e-5f);
}

TEST(Flashback, KeepsTheLastSecondsAndRefusesLongerReads) {
    RenderRig rig;
    rig.edit([](Project &project) { project.flashbackBufferSeconds = 5; });
    rig.engine.prepareToPlay(48000, 512);
    auto track = rig.addTrack(TrackType::Audio);
    auto clip = rig.addConstantClip(track, 1, 0.0f, 0.0f, 1);
    rig.edit([&](Project &) {
        auto ramp = std::make_shared<std::vector<float>>(500000);
        for (std::size_t i = 0; i < ramp->size(); ++i)
            (*ramp)[i] = static_cast<float>(i) / 1e6f;
        clip->audio = ramp;
        track->macros[0] = 0.75f / 1.75f;
    });
    const int blocks = 480000 / 512 + 1;
    rig.play(0, blocks);
    EXPECT_EQ(rig.engine.flashbackAvailableSamples(), 240000u);
    std::vector<float> captured;
    EXPECT_FALSE(rig.engine.readFlashback(240001, captured));
    EXPECT_FALSE(rig.engine.readFlashback(0, captured));
    ASSERT_TRUE(rig.engine.readFlashback(1000, captured));
    ASSERT_EQ(captured.size(), 2000u);
    const int64_t lastFrame = static_cast<int64_t>(blocks) * 512 - 1;
    const float expectedLast = static_cast<float>(lastFrame) / 1e6f;
    EXPECT_NEAR(captured[1998], expectedLast, 1e-6);
    EXPECT_LE(captured[0], captured[1998]); // oldest first
}

TEST(Flashback, ResizingClampsTheDurationAndEmptiesTheRing) {
    RenderRig rig;
    rig.play(0, 4);
    rig.engine.resizeFlashbackBuffer(2);
    EXPECT_EQ(rig.engine.project.flashbackBufferSeconds, 5);
    EXPECT_EQ(rig.engine.flashbackAvailableSamples(), 0u);
    rig.engine.resizeFlashbackBuffer(300);
    EXPECT_EQ(rig.engine.project.flashbackBufferSeconds, 120);
    rig.play(0, 4);
    EXPECT_EQ(rig.engine.flashbackAvailableSamples(), 2048u);
}

TEST(MidiRecording, SamePositionReleasesAreDroppedAndTheTableStopsAt4096) {
    Engine engine;
    ASSERT_TRUE(engine.beginMidiRecording(1000));
    ASSERT_TRUE(engine.recordMidiNoteOn(60, 0.9f, 1000));
    ASSERT_TRUE(engine.recordMidiNoteOff(60, 0.9f, 1000));
    for (int i = 0; i < 4097; ++i) {
        ASSERT_TRUE(engine.recordMidiNoteOn(i % 128, 0.5f, 2000 + i * 10));
        ASSERT_TRUE(engine.recordMidiNoteOff(i % 128, 2.0f, 2005 + i * 10));
    }
    ASSERT_TRUE(engine.recordMidiNoteOn(72, 0.5f, 90000));
    ASSERT_TRUE(engine.recordMidiNoteOn(64, 0.5f, 90000));
    const auto notes = engine.endMidiRecording(100000);
    ASSERT_EQ(notes.size(), 4096u);
    EXPECT_EQ(notes[0].start, 1000);
    EXPECT_EQ(notes[0].length, 5);
    EXPECT_EQ(notes[0].velocity, 1.0f);
    EXPECT_FALSE(engine.midiRecorder.active);
    EXPECT_EQ(engine.midiRecorder.count, 0);
}

TEST(MidiRecording, HeldNotesCloseAtTheEndInPitchOrder) {
    Engine engine;
    ASSERT_TRUE(engine.beginMidiRecording(0));
    ASSERT_TRUE(engine.recordMidiNoteOn(72, 0.5f, 100));
    ASSERT_TRUE(engine.recordMidiNoteOn(64, 0.5f, 200));
    ASSERT_TRUE(engine.recordMidiNoteOn(50, 0.5f, 300));
    ASSERT_TRUE(engine.recordMidiNoteOff(50, 0.7f, 400));
    const auto notes = engine.endMidiRecording(1000);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].pitch, 50);
    EXPECT_FLOAT_EQ(notes[0].velocity, 0.7f);
    EXPECT_EQ(notes[1].pitch, 64);
    EXPECT_EQ(notes[1].length, 800);
    EXPECT_EQ(notes[2].pitch, 72);
    EXPECT_EQ(notes[2].length, 900);
    EXPECT_FLOAT_EQ(notes[2].velocity, 0.05f); // no held velocity is known for these
}

TEST(TempoFollower, SmoothsEstimatesIntoTheTempo) {
    Engine engine;
    engine.project.tempoFollowerSmoothing = 0.35f;
    engine.tickTempoFollower(100.0);
    engine.tickTempoFollower(-5.0);
    engine.tickTempoFollower(120.0);
    EXPECT_NEAR(engine.followedBpm, 107.0, 1e-4);
    EXPECT_NEAR(engine.project.tempoBpm, 107.0, 1e-4);
    EXPECT_NEAR(engine.tempo.load(), 107.0, 1e-4);
}
