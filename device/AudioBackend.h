#pragma once

#include "core/engine/BlockIo.h"
#include "device/TransportSync.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orvane {

/// One entry of the device list. Ids number the list of the moment; names are what lasts.
struct AudioDeviceDesc {
    uint32_t id = 0;
    std::string name;
    bool hasInput = false;
    bool hasOutput = false;
};

enum class AudioBackendKind : uint8_t { Jack = 0, RtAudio = 1, Null = 2 };

inline constexpr const char *jackDeviceName = "JACK";
inline constexpr const char *nullDeviceName = "Null";
inline constexpr const char *alsaDevicePrefix = "ALSA: ";

/// Stereo input pairs a device may capture at once: one track recording each.
inline constexpr int32_t maxInputPairs = 8;

/// Watches every device block from inside the audio thread's callback (tests and benchmarks
/// count allocations or time there). Both calls run on the audio thread.
class RenderObserver {
  public:
    virtual ~RenderObserver() = default;
    virtual void blockStarted() = 0;
    virtual void blockFinished() = 0;
};

/// What a back end calls. `renderDevice` runs on the audio thread; the others on whatever
/// thread the back end reports from, never at the same time as `renderDevice` for
/// `periodChanging`.
/// What runs in a period (`renderDevice`, `deviceUnderrun`, `renderObserver`,
/// `rendersUnderTrap`) is noexcept: an exception has nowhere to go on the audio thread.
class DeviceHost {
  public:
    virtual ~DeviceHost() = default;
    /// One device period: `inputs` may be null (no capture); outputs are always written.
    /// `midi` holds the period's short MIDI messages read by the back end, sorted by frame.
    virtual void renderDevice(const float *const *inputs, int32_t inputCount, float *const *outputs,
                              int32_t outputCount, int32_t frames,
                              std::span<const MidiEvent> midi = {}) noexcept = 0;
    /// Before the first period of a new size or rate.
    virtual void periodChanging(double sampleRate, int32_t frames) = 0;
    virtual void deviceUnderrun() noexcept = 0;
    /// The server or driver went away: no more periods will come.
    virtual void deviceLost(const char *reason) = 0;
    virtual RenderObserver *renderObserver() noexcept = 0;
    /// True when the back end's own work in a period (reading MIDI) must not allocate either.
    virtual bool rendersUnderTrap() const noexcept { return false; }
};

struct BackendOpenRequest {
    std::string outputDevice;
    std::string inputDevice; // empty: no capture
    int32_t bufferFrames = 512;
    double sampleRate = 48000.0;
    bool connectPorts = true;
    /// Input channels to capture (a back end may give fewer: see `inputChannels`).
    int32_t inputChannels = 2;
    /// The engine a back end that keeps time with other programs (JACK) reads and moves; the
    /// back end runs no transport of its own without it.
    Engine *engine = nullptr;
    TransportSyncSettings sync{};
};

/// One way of reaching sound hardware. `open` prepares everything (ports, stream) without
/// running; `start` runs the callbacks; `stop` returns once no callback can run any more and
/// releases the device. `stop` is safe after the device was lost and when never started.
class AudioBackend {
  public:
    virtual ~AudioBackend() = default;
    virtual bool open(const BackendOpenRequest &request, DeviceHost &host, std::string &error) = 0;
    virtual bool start(std::string &error) = 0;
    virtual void stop() = 0;
    virtual double sampleRate() const = 0;
    virtual int32_t bufferFrames() const = 0;
    /// Input channels each period delivers, 0 without capture.
    virtual int32_t inputChannels() const = 0;
    /// Frames between a sound reaching the device's input and its capture reaching us, and
    /// between our output and the sound leaving the device, as the device reports them now
    /// (0 when it reports nothing). Main thread, while running.
    virtual int64_t captureLatencyFrames() const { return 0; }
    virtual int64_t playbackLatencyFrames() const { return 0; }
    /// The same for the MIDI input: how late its messages arrive.
    virtual int64_t midiCaptureLatencyFrames() const { return 0; }
    /// MIDI messages that did not fit the period's event table and were dropped.
    virtual uint64_t droppedMidiEvents() const { return 0; }
    /// Changes how the running device keeps time with other programs; false when this back
    /// end cannot (only JACK can). Main thread.
    virtual bool setTransportSync(const TransportSyncSettings &) { return false; }
    /// The tempo of the MIDI clock arriving at the clock input, 0 while none arrives.
    virtual double externalClockBpm() const { return 0.0; }
};

// JACK: one device named "JACK" while a server answers (the JACK_DEFAULT_SERVER it finds).
std::vector<AudioDeviceDesc> listJackDevices();
std::unique_ptr<AudioBackend> makeJackBackend();

// ALSA through RtAudio: "ALSA: " followed by RtAudio's device name.
std::vector<AudioDeviceDesc> listRtAudioDevices();
std::unique_ptr<AudioBackend> makeRtAudioBackend();

// A timer thread that asks for periods in real time; always present.
std::unique_ptr<AudioBackend> makeNullBackend();

AudioBackendKind backendKindOf(const std::string &deviceName);

} // namespace orvane
