#pragma once

#include "tests/support/JackTestClient.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane::testing {

/// A player that answers what it hears, the way a musician plays along with a click: an
/// "ear" client listens to one port and notes the server frame of the first sound; a
/// "mouth" client then plays a stereo signal and MIDI messages from `delay` frames after that
/// frame, and reports `delay` as the capture latency of its ports (a sound card's input
/// latency would show the same way). Two clients, so that listening to Halvora and playing
/// into it makes no cycle in the server's graph.
class JackEcho {
  public:
    JackEcho(int64_t delayFrames, std::vector<std::vector<float>> signal,
             std::vector<TestMidiEvent> midi);
    ~JackEcho();
    JackEcho(const JackEcho &) = delete;
    JackEcho &operator=(const JackEcho &) = delete;

    bool ok() const { return ear && mouth; }
    const std::string &error() const { return failure; }
    /// Listens to `source` and plays into the two audio and the MIDI destinations.
    bool activateAndConnect(const std::string &source, const std::string &left,
                            const std::string &right, const std::string &midi);
    bool heard() const { return heardAt.load(std::memory_order_acquire) >= 0; }
    /// Server frames the mouth has played past the end of its signal; waits for them.
    bool waitUntilPlayed(std::chrono::milliseconds timeout) const;

  private:
    static int listen(uint32_t frames, void *context);
    static int play(uint32_t frames, void *context);
    static void reportLatency(int mode, void *context);

    int64_t delay;
    std::vector<std::vector<float>> signal;
    std::vector<TestMidiEvent> midi;
    std::string failure;
    jack_client_t *ear = nullptr;
    jack_client_t *mouth = nullptr;
    jack_port_t *earPort = nullptr;
    std::vector<jack_port_t *> mouthPorts;
    jack_port_t *midiPort = nullptr;
    std::atomic<int64_t> heardAt{-1};
    std::atomic<bool> finished{false};
};

} // namespace orvane::testing
