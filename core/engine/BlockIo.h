#pragma once

#include <cstdint>
#include <span>

namespace orvane {

/// One short MIDI message read by the device layer inside its render callback. `frame` is the
/// offset inside the block the message belongs to (0 .. frames - 1); the engine acts on it as
/// if it had arrived at block start + frame.
struct MidiEvent {
    int32_t frame = 0;
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

/// Everything one device period brings and takes: separate input and output channel
/// buffers of `frames` floats (a null buffer is skipped) and the period's MIDI, sorted by
/// frame. The spans and buffers are only borrowed for the call.
struct BlockIo {
    const float *const *inputs = nullptr;
    int32_t inputChannelCount = 0;
    float *const *outputs = nullptr;
    int32_t outputChannelCount = 0;
    int32_t frames = 0;
    std::span<const MidiEvent> midi;
};

} // namespace orvane
