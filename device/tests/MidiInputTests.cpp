#include "device/MidiInput.h"

#include <gtest/gtest.h>

#include <filesystem>
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
        {"program and control changes send nothing", {0xC0, 5, 0xB0, 7, 100}, {}},
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
