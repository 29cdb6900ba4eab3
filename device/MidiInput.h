#pragma once

#include "core/engine/Engine.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>

namespace orvane {

/// Reads a run of MIDI bytes as the engine's live requests: note on (a note-on of velocity
/// 0 is a note off), note off, pitch bend in cents, key pressure and channel pressure, each
/// with its channel, and control changes, which play nothing but move what MIDI learn tied
/// to them. System messages are skipped whole, program changes ignored; a stray data byte (no running status here) or a message interrupted by another
/// status is skipped, and the run stops at a message cut short by the end. Returns how many
/// requests went to `out`, at most its size.
std::size_t midiBytesToRequests(std::span<const uint8_t> bytes, std::span<Request> out);

/// MIDI input through the ALSA sequencer, for sources outside the audio server: at `start`
/// a port "Halvora MIDI in" subscribes to every readable source present, and a thread turns
/// what arrives into requests on the engine's second MIDI ring (the JACK MIDI input of the
/// device layer uses the block's event span instead, frame-accurately). Requests that find
/// the ring full are dropped and counted. Main thread for `start` and `stop`.
class MidiInput {
  public:
    explicit MidiInput(Engine &engine);
    ~MidiInput();
    MidiInput(const MidiInput &) = delete;
    MidiInput &operator=(const MidiInput &) = delete;

    /// False when already started or when the system has no sequencer ("/dev/snd/seq").
    bool start();
    void stop();
    bool isStarted() const { return started; }
    /// Sources subscribed at the last `start`.
    int32_t connectedSources() const { return sources; }
    uint64_t droppedRequests() const { return dropped.load(std::memory_order_relaxed); }

  private:
    void readLoop();
    void push(const Request &request);

    Engine &engine;
    void *sequencer = nullptr; // snd_seq_t
    int32_t port = -1;
    int32_t sources = 0;
    bool started = false;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> dropped{0};
    std::thread reader;
};

} // namespace orvane
