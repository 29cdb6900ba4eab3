#pragma once

#include "core/engine/Engine.h"

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

inline Request request(uint8_t type, int64_t a = 0, double b = 0.0, double c = 0.0) {
    return Request{type, a, b, c};
}

inline void send(Engine &engine, uint8_t type, int64_t a = 0, double b = 0.0, double c = 0.0) {
    engine.pushRequest(RequestProducer::MainThread, request(type, a, b, c));
}

inline void sendMidi(Engine &engine, uint8_t type, int64_t a = 0, double b = 0.0, double c = 0.0) {
    engine.pushRequest(RequestProducer::MidiInput, request(type, a, b, c));
}

} // namespace orvane::testing
