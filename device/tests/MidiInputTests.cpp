#include "device/MidiInput.h"

#include "core/engine/ControllerMap.h"
#include "core/engine/Engine.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

using namespace orvane;

namespace {

std::vector<Request> parse(std::vector<uint8_t> bytes, std::size_t room = 16) {
    std::vector<Request> out(room);
    out.resize(midiBytesToRequests(bytes, out));
    return out;
}

struct ParseCase {
    const char *name;
    std::vector<uint8_t> bytes;
    std::vector<Request> expected;
};

bool sameRequest(const Request &a, const Request &b) {
    return a.type == b.type && a.a == b.a && a.b == b.b && a.c == b.c;
}

TEST(MidiBytes, BecomeTheEnginesRequests) {
    const std::vector<ParseCase> cases{
        {"note on", {0x93, 60, 127}, {Request::noteOn(3, 60, 1.0)}},
        {"velocity 0 is a note off", {0x90, 61, 0}, {Request::noteOff(0, 61)}},
        {"note off", {0x85, 62, 40}, {Request::noteOff(5, 62)}},
        {"bend centre", {0xE2, 0, 64}, {Request::pitchBend(2, 0.0)}},
        {"bend lowest", {0xE2, 0, 0}, {Request::pitchBend(2, -200.0)}},
        {"key pressure", {0xA0, 64, 127}, {Request::notePressure(64, 1.0)}},
        {"channel pressure keeps its channel", {0xD7, 127}, {Request::channelPressure(7, 1.0)}},
        {"a program change sends nothing, a control change its value",
         {0xC0, 5, 0xB3, 7, 100},
         {Request::controlChange(3, 7, 100)}},
        {"a message cut short stops the run",
         {0x90, 60, 100, 0x90, 61},
         {Request::noteOn(0, 60, 100 / 127.0)}},
        {"real-time and system exclusive are skipped",
         {0xF8, 0xF0, 1, 2, 3, 0xF7, 0xFE, 0x90, 60, 1},
         {Request::noteOn(0, 60, 1 / 127.0)}},
        {"a stray data byte is skipped", {60, 0x80, 60, 0}, {Request::noteOff(0, 60)}},
        {"a status interrupting a message starts again there",
         {0x90, 0xD1, 64},
         {Request::channelPressure(1, 64 / 127.0)}},
    };
    for (const auto &[name, bytes, expected] : cases) {
        SCOPED_TRACE(name);
        const auto got = parse(bytes);
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(sameRequest(got[i], expected[i])) << "request " << i;
    }
}

TEST(MidiBytes, NeverWriteMoreRequestsThanThereIsRoom) {
    const auto got = parse({0x90, 60, 1, 0x90, 61, 1, 0x90, 62, 1}, 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].note(), 61);
}

// What the sequencer brings reaches MIDI learn as the audio server's input does: a knob is
// learned and then moves its target, a bend moves its own, and a key tied to a control plays
// nothing while the others play on.
TEST(MidiBytes, AreLearnedAndMoveTheirTargetsAsTheServersInputDoes) {
    Engine engine;
    uint64_t trackId = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        trackId = engine.project.addTrack(TrackType::Audio, "Keys")->id;
    }
    engine.prepareToPlay(48000, 256);
    auto play = [&](std::vector<uint8_t> bytes) {
        for (const Request &request : parse(std::move(bytes)))
            EXPECT_TRUE(engine.pushRequest(RequestProducer::SecondMidiInput, request));
        std::vector<float> left(256), right(256);
        std::array<float *, 2> outputs{left.data(), right.data()};
        engine.processBlock(BlockIo{nullptr, 0, outputs.data(), 2, 256, {}});
    };
    auto applyMoved = [&] {
        std::lock_guard lock(engine.projectMutex);
        for (const MovedControl &control : engine.controllers.takeMoved())
            applyControlToProject(engine.project, control.mapping, control.value);
        return *engine.project.findTrack(trackId);
    };

    engine.controllers.beginLearning();
    play({0xB2, 21, 64});
    const std::optional<LearnedController> learned = engine.controllers.takeLearned();
    ASSERT_TRUE(learned.has_value()) << "the sequencer's knob was not learned";
    EXPECT_EQ(learned->kind, MidiSourceKind::ControlChange);
    EXPECT_EQ(learned->channel, 2);
    EXPECT_EQ(learned->number, 21);

    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.midiMappings = {
            MidiMapping{2, MidiSourceKind::ControlChange, 21, trackId, volumeMappingLane, 0, 0.0f,
                        2.0f},
            MidiMapping{0, MidiSourceKind::PitchBend, 0, trackId, panMappingLane, 0, -1.0f, 1.0f},
            MidiMapping{9, MidiSourceKind::Note, 36, trackId, sendMappingLane(0), 0, 0.0f, 1.0f}};
    }
    engine.publishGraph();
    play({0x90, 60, 100, 0xB2, 21, 127, 0xE0, 0, 0, 0x99, 36, 100});
    const Track moved = applyMoved();
    EXPECT_FLOAT_EQ(moved.gain, 2.0f);
    EXPECT_FLOAT_EQ(moved.pan, -1.0f) << "the bend all the way down";
    EXPECT_GT(moved.sends[0].level, 0.5f) << "the key moved its send";
    EXPECT_EQ(engine.liveMidi.heldVelocity[36], 0.0f) << "a key tied to a control plays nothing";
    EXPECT_GT(engine.liveMidi.heldVelocity[60], 0.0f) << "the others play";
    EXPECT_EQ(engine.liveMidi.noteBend[60], 0.0f) << "the learned bend bends nothing";
}

TEST(MidiInputSequencer, StartsOnlyWhereASequencerExists) {
    Engine engine;
    MidiInput input(engine);
    if (std::filesystem::exists("/dev/snd/seq")) {
        ASSERT_TRUE(input.start());
        EXPECT_FALSE(input.start()); // a second port is never made
        input.stop();
        EXPECT_FALSE(input.isStarted());
        return;
    }
    EXPECT_FALSE(input.start());
    EXPECT_FALSE(input.isStarted());
    input.stop(); // harmless when never started
}

} // namespace
