#pragma once

#include "core/engine/Engine.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace orvane::testing {

/// Two output channels the tests render into, prefilled with garbage so that a block
/// that forgets to clear them shows.
struct StereoOutput {
    explicit StereoOutput(int32_t frames)
        : left(static_cast<std::size_t>(frames), 7.0f),
          right(static_cast<std::size_t>(frames), 7.0f), channels{left.data(), right.data()},
          frames(frames) {}
    std::vector<float> left, right;
    std::array<float *, 2> channels;
    int32_t frames;
    void render(Engine &engine) { engine.processBlock(channels.data(), 2, frames); }
};

inline Request request(RequestType type, int64_t a = 0, double b = 0.0, double c = 0.0) {
    return Request{type, a, b, c};
}

/// Queues a request from the main thread; a full ring fails the test.
inline void send(Engine &engine, const Request &request) {
    EXPECT_TRUE(engine.pushRequest(RequestProducer::MainThread, request));
}

inline void send(Engine &engine, RequestType type, int64_t a = 0, double b = 0.0, double c = 0.0) {
    send(engine, request(type, a, b, c));
}

inline void sendMidi(Engine &engine, const Request &request) {
    EXPECT_TRUE(engine.pushRequest(RequestProducer::MidiInput, request));
}

inline void sendMidi(Engine &engine, RequestType type, int64_t a = 0, double b = 0.0,
                     double c = 0.0) {
    sendMidi(engine, request(type, a, b, c));
}

} // namespace orvane::testing
