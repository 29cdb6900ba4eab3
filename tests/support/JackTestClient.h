#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <string>
#include <vector>

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace orvane::testing {

/// One MIDI message to play, `frame` frames after playing starts.
struct TestMidiEvent {
    int64_t frame = 0;
    std::vector<uint8_t> bytes;
};

/// A JACK client for tests on the server they started: records its input ports
/// ("<name>:rec_1", …), plays prepared signals from its output ports ("<name>:play_1", …)
/// and MIDI from "<name>:midi_out". Everything the process callback touches is allocated
/// before activation, so it may sit beside the code under test in allocation checks.
class JackTestClient {
  public:
    JackTestClient(const std::string &clientName, int32_t recordPorts, int32_t playPorts,
                   bool midiOut = false);
    ~JackTestClient();
    JackTestClient(const JackTestClient &) = delete;
    JackTestClient &operator=(const JackTestClient &) = delete;

    bool ok() const { return client != nullptr; }
    const std::string &error() const { return failure; }
    std::string recordPort(int32_t index) const; // 0-based
    std::string playPort(int32_t index) const;
    std::string midiPort() const;

    /// Before `activate`: room for `frames` frames per recorded port.
    void prepareRecording(int64_t frames);
    /// Before `activate`: what each play port sends (missing or short channels send silence).
    void preparePlayback(std::vector<std::vector<float>> channels,
                         std::vector<TestMidiEvent> midi = {});
    bool activate();
    bool connect(const std::string &source, const std::string &destination);
    /// `connect`, tried again until a program that is still starting has made its port, for
    /// at most 20 s.
    bool connectWhenReady(const std::string &source, const std::string &destination);
    bool disconnect(const std::string &source, const std::string &destination);

    /// Full names of the ports connected to `port` (any client's).
    std::vector<std::string> connections(const std::string &port) const;

    /// Recording runs from this call until the room is full or `stopRecording`.
    void startRecording() { recordingArmed.store(true); }
    void stopRecording() { recordingArmed.store(false); }
    void startPlaying() { playingArmed.store(true); }
    int64_t recordedFrames() const { return recordedCount.load(std::memory_order_acquire); }
    /// The frames recorded so far from one port.
    std::vector<float> recording(int32_t port) const;

    /// Waits (up to `timeout`) until at least `frames` frames are recorded.
    bool waitForRecordedFrames(int64_t frames, std::chrono::milliseconds timeout);
    /// Waits (up to `timeout`) until a port of that full name exists on the server.
    bool waitForPort(const std::string &name, std::chrono::milliseconds timeout);
    /// Periods processed since activation.
    uint64_t periods() const { return periodCount.load(std::memory_order_acquire); }
    /// Underruns the server reported to this client since activation.
    uint64_t xruns() const { return xrunCount.load(std::memory_order_relaxed); }
    /// The period size the last process call had.
    int32_t lastPeriod() const { return lastPeriodFrames.load(std::memory_order_acquire); }

  private:
    static int process(uint32_t frames, void *context);
    static int xrun(void *context);
    static void portRegistered(uint32_t port, int registered, void *context);
    void recordPeriod(uint32_t frames);
    void playPeriod(uint32_t frames);

    std::string name;
    std::string failure;
    jack_client_t *client = nullptr;
    bool active = false;
    std::vector<jack_port_t *> recordPorts, playPorts;
    jack_port_t *midiOutPort = nullptr;
    std::vector<std::vector<float>> recordings;
    std::vector<std::vector<float>> signals;
    std::vector<TestMidiEvent> midiEvents;
    std::atomic<int64_t> recordedCount{0};
    int64_t played = 0;       // process thread
    std::size_t nextMidi = 0; // process thread
    std::atomic<bool> recordingArmed{false};
    std::atomic<bool> playingArmed{false};
    std::atomic<uint64_t> periodCount{0};
    std::atomic<uint64_t> xrunCount{0};
    std::atomic<int32_t> lastPeriodFrames{0};
    std::counting_semaphore<> periodDone{0};
    std::counting_semaphore<> portsChanged{0};
};

} // namespace orvane::testing
