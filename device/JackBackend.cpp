#include "device/AudioBackend.h"

#include "core/model/Translate.h"
#include "core/rt/RtThread.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <span>
#include <string>

namespace orvane {

namespace {

constexpr const char *clientName = "Halvora";
constexpr const char *probeClientName = "Halvora device list";
constexpr std::array<const char *, 2> outputPortNames{"out_1", "out_2"};
constexpr int32_t maxInputPorts = 2 * maxInputPairs;
constexpr const char *midiInputPortName = "midi_in";
constexpr const char *clockOutputPortName = "clock_out";
constexpr const char *clockInputPortName = "clock_in";
/// Ticks per beat Halvora reports as timebase master: fine enough for any sequencer's grid.
constexpr double bbtTicksPerBeat = 1920.0;
/// MIDI messages one period can carry to the engine; more are dropped and counted.
constexpr std::size_t maxMidiEventsPerPeriod = 512;

/// libjack prints every failed attempt to reach a server on standard error; the device layer
/// reports failures itself, once and in its own words.
void quietJackMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function([](const char *) {});
        jack_set_info_function([](const char *) {});
    });
}

jack_client_t *openClient(const char *name, jack_status_t &status) {
    quietJackMessages();
    return jack_client_open(name, JackNoStartServer, &status);
}

/// Connects `ours` in order to the physical ports that carry `flags`; a missing partner is
/// no failure (a mono interface has one playback port).
void connectToPhysical(jack_client_t *client, std::span<jack_port_t *const> ours,
                       unsigned long flags, bool oursAreOutputs) {
    const char **physical =
        jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | flags);
    if (!physical) return;
    for (std::size_t index = 0; index < ours.size() && ours[index] && physical[index]; ++index) {
        const char *own = jack_port_name(ours[index]);
        if (oursAreOutputs)
            jack_connect(client, own, physical[index]);
        else
            jack_connect(client, physical[index], own);
    }
    jack_free(physical);
}

/// Every MIDI source the server has now feeds `port`: hardware ports, the bridges that stand
/// in for them, and other programs' MIDI outputs (a sequencer or an on-screen keyboard), as a
/// player who starts one before the recording expects. Our own ports are left alone.
void connectMidiSources(jack_client_t *client, jack_port_t *port) {
    const char **sources =
        jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    if (!sources) return;
    for (const char **source = sources; *source; ++source) {
        jack_port_t *found = jack_port_by_name(client, *source);
        if (found && jack_port_is_mine(client, found)) continue;
        jack_connect(client, *source, jack_port_name(port));
    }
    jack_free(sources);
}

int64_t latencyOf(jack_port_t *port, jack_latency_callback_mode_t mode) {
    jack_latency_range_t range{};
    jack_port_get_latency_range(port, mode, &range);
    return static_cast<int64_t>(range.max);
}

/// The largest latency the server reports for `port` in `mode`, or for any port connected
/// to it (what reaches an input port is as late as the latest port feeding it); 0 without a
/// port. Not for the process thread.
int64_t reportedLatency(jack_client_t *client, jack_port_t *port,
                        jack_latency_callback_mode_t mode) {
    if (!port) return 0;
    int64_t latest = latencyOf(port, mode);
    if (const char **connected = jack_port_get_all_connections(client, port)) {
        for (const char **name = connected; *name; ++name)
            if (jack_port_t *other = jack_port_by_name(client, *name))
                latest = std::max(latest, latencyOf(other, mode));
        jack_free(connected);
    }
    return latest;
}

/// Short channel messages only (note, pressure, controller, program, bend): system
/// messages and anything longer than three bytes are not the engine's.
bool toMidiEvent(const jack_midi_event_t &raw, MidiEvent &event) {
    if (raw.size < 2 || raw.size > 3 || !raw.buffer) return false;
    const uint8_t status = raw.buffer[0];
    if (status < 0x80 || status >= 0xF0) return false;
    event.frame = static_cast<int32_t>(raw.time);
    event.status = status;
    event.data1 = raw.buffer[1] & 0x7F;
    event.data2 = raw.size > 2 ? raw.buffer[2] & 0x7F : 0;
    return true;
}

class JackBackend final : public AudioBackend {
  public:
    ~JackBackend() override { stop(); }

    bool open(const BackendOpenRequest &request, DeviceHost &deviceHost,
              std::string &error) override {
        stop();
        host = &deviceHost;
        connect = request.connectPorts;
        capture = !request.inputDevice.empty();
        inputCount = std::clamp(request.inputChannels, 2, maxInputPorts);
        engine = request.engine;
        storeSync(request.sync);
        leadFrames = 0;
        leadRequestAge = -1;
        jack_status_t status{};
        client = openClient(clientName, status);
        if (!client) {
            error = translate("JackBackend", "JACK is unavailable");
            return false;
        }
        lost.store(false);
        if (!registerPorts(error) || !installCallbacks(error)) {
            closeClient();
            return false;
        }
        rate.store(static_cast<double>(jack_get_sample_rate(client)));
        frames.store(static_cast<int32_t>(jack_get_buffer_size(client)));
        return true;
    }

    bool start(std::string &error) override {
        if (!client) {
            error = translate("JackBackend", "JACK is unavailable");
            return false;
        }
        if (jack_activate(client) != 0) {
            error = "jack_activate failed";
            return false;
        }
        active = true;
        if (connect) {
            connectToPhysical(client, outputs, JackPortIsInput, true);
            if (capture)
                connectToPhysical(client, std::span(inputs.data(), inputCount), JackPortIsOutput,
                                  false);
            connectMidiSources(client, midiInput);
        }
        applyTimebase();
        return true;
    }

    bool setTransportSync(const TransportSyncSettings &settings) override {
        storeSync(settings);
        if (active && !lost.load()) applyTimebase();
        return true;
    }

    double externalClockBpm() const override {
        return syncClock.load() == MidiClockMode::in ? clockFollower.measuredBpm() : 0.0;
    }

    void stop() override {
        if (!client) return;
        // A server that shut down has already dropped the client: only its memory is left.
        // A leader that goes away stops the transport it was running. It asks only once its
        // process callback has stopped: a last period still rolling could otherwise ask the
        // transport to start again after the stop, and the transport would roll on without it.
        const bool reachable = active && !lost.load();
        if (reachable) jack_deactivate(client);
        if (reachable && syncTransport.load() == JackTransportMode::lead)
            jack_transport_stop(client);
        active = false;
        closeClient();
    }

    double sampleRate() const override { return rate.load(); }
    int32_t bufferFrames() const override { return frames.load(); }
    int32_t inputChannels() const override { return capture ? inputCount : 0; }
    /// The latest of the input ports: every pair's take is placed by the same latency.
    int64_t captureLatencyFrames() const override {
        int64_t latest = 0;
        if (client)
            for (int32_t index = 0; index < inputCount; ++index)
                latest =
                    std::max(latest, reportedLatency(client, inputs[index], JackCaptureLatency));
        return latest;
    }
    int64_t playbackLatencyFrames() const override {
        return client ? reportedLatency(client, outputs[0], JackPlaybackLatency) : 0;
    }
    int64_t midiCaptureLatencyFrames() const override {
        return client ? reportedLatency(client, midiInput, JackCaptureLatency) : 0;
    }
    uint64_t droppedMidiEvents() const override { return midiDropped.load(); }

  private:
    bool registerPorts(std::string &error) {
        for (std::size_t index = 0; index < outputs.size(); ++index) {
            outputs[index] = jack_port_register(client, outputPortNames[index],
                                                JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
            if (!outputs[index]) {
                error = "jack_port_register failed";
                return false;
            }
        }
        for (int32_t index = 0; index < inputCount; ++index) {
            const std::string name = "in_" + std::to_string(index + 1);
            inputs[index] = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                               JackPortIsInput, 0);
            if (!inputs[index]) {
                error = "jack_port_register failed";
                return false;
            }
        }
        midiInput = jack_port_register(client, midiInputPortName, JACK_DEFAULT_MIDI_TYPE,
                                       JackPortIsInput, 0);
        clockOutput = jack_port_register(client, clockOutputPortName, JACK_DEFAULT_MIDI_TYPE,
                                         JackPortIsOutput, 0);
        clockInput = jack_port_register(client, clockInputPortName, JACK_DEFAULT_MIDI_TYPE,
                                        JackPortIsInput, 0);
        if (!midiInput || !clockOutput || !clockInput) {
            error = "jack_port_register failed";
            return false;
        }
        return true;
    }

    void storeSync(const TransportSyncSettings &settings) {
        syncTransport.store(engine ? settings.jackTransport : JackTransportMode::off);
        syncClock.store(engine ? settings.midiClock : MidiClockMode::off);
    }

    /// Only the timebase master fills in bars and beats; a client that gives up leading
    /// hands the role back, so that another program may take it.
    void applyTimebase() {
        const bool lead = syncTransport.load() == JackTransportMode::lead;
        if (lead && !timebaseMaster)
            timebaseMaster =
                jack_set_timebase_callback(client, 0, &JackBackend::timebase, this) == 0;
        else if (!lead && timebaseMaster) {
            jack_release_timebase(client);
            timebaseMaster = false;
        }
    }

    bool installCallbacks(std::string &error) {
        if (jack_set_process_callback(client, &JackBackend::process, this) != 0) {
            error = "jack_set_process_callback failed";
            return false;
        }
        jack_set_buffer_size_callback(client, &JackBackend::bufferSizeChanged, this);
        jack_set_sample_rate_callback(client, &JackBackend::sampleRateChanged, this);
        jack_set_xrun_callback(client, &JackBackend::xrun, this);
        jack_on_info_shutdown(client, &JackBackend::shutdown, this);
        return true;
    }

    void closeClient() {
        jack_client_close(client);
        client = nullptr;
        outputs = {};
        inputs = {};
        midiInput = nullptr;
        clockOutput = nullptr;
        clockInput = nullptr;
        timebaseMaster = false;
    }

    /// libjack ends its process thread with an asynchronous cancel when the client is
    /// deactivated or closed, also when the server dropped it for being late or went away. A
    /// cancel that struck inside the render would unwind through `noexcept` frames and end the
    /// program, so the period runs with cancellation held off and a pending cancel takes
    /// effect only once it has returned, where nothing of ours is left to unwind.
    static int process(jack_nframes_t count, void *context) {
        int previousCancelState = PTHREAD_CANCEL_ENABLE;
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previousCancelState);
        const int status = processPeriod(count, context);
        pthread_setcancelstate(previousCancelState, nullptr);
        return status;
    }

    static int processPeriod(jack_nframes_t count, void *context) noexcept {
        auto &self = *static_cast<JackBackend *>(context);
        RenderObserver *observer = self.host->renderObserver();
        if (observer) observer->blockStarted();
        std::array<float *, 2> out{};
        std::array<const float *, maxInputPorts> in{};
        for (std::size_t index = 0; index < out.size(); ++index)
            out[index] = static_cast<float *>(jack_port_get_buffer(self.outputs[index], count));
        for (int32_t index = 0; index < self.inputCount; ++index)
            in[index] = static_cast<const float *>(jack_port_get_buffer(self.inputs[index], count));
        std::size_t events = 0;
        {
            RtScope scope(self.host->rendersUnderTrap());
            events = self.readMidi(count);
            self.syncBeforeRender(count);
        }
        self.host->renderDevice(self.capture ? in.data() : nullptr,
                                self.capture ? self.inputCount : 0, out.data(), 2,
                                static_cast<int32_t>(count),
                                std::span<const MidiEvent>(self.midiEvents.data(), events));
        {
            RtScope scope(self.host->rendersUnderTrap());
            self.syncAfterRender(count);
        }
        if (observer) observer->blockFinished();
        return 0;
    }

    /// The period's MIDI into the fixed event table, at the frames the server stamped
    /// (already in order); returns how many.
    std::size_t readMidi(jack_nframes_t count) {
        void *buffer = jack_port_get_buffer(midiInput, count);
        const uint32_t available = buffer ? jack_midi_get_event_count(buffer) : 0;
        std::size_t stored = 0;
        for (uint32_t index = 0; index < available; ++index) {
            jack_midi_event_t raw{};
            if (jack_midi_event_get(&raw, buffer, index) != 0) continue;
            if (stored == midiEvents.size()) {
                midiDropped.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            if (toMidiEvent(raw, midiEvents[stored])) ++stored;
        }
        return stored;
    }

    /// Brings the engine to the followed JACK transport and carries out the external clock's
    /// messages, so that this period already renders from where they say.
    void syncBeforeRender(jack_nframes_t count) noexcept {
        const MidiClockMode clock = syncClock.load(std::memory_order_relaxed);
        const JackTransportMode mode = syncTransport.load(std::memory_order_relaxed);
        if (!engine) return;
        if (clock == MidiClockMode::in) {
            readClockInput(count);
        } else {
            clockFollower.resetRt();
        }
        if (mode == JackTransportMode::follow) {
            jack_position_t position{};
            const jack_transport_state_t state = jack_transport_query(client, &position);
            follower.periodRt(*engine, state == JackTransportRolling,
                              static_cast<int64_t>(position.frame));
        } else {
            follower.resetRt();
        }
    }

    void readClockInput(jack_nframes_t count) noexcept {
        void *buffer = jack_port_get_buffer(clockInput, count);
        const uint32_t available = buffer ? jack_midi_get_event_count(buffer) : 0;
        const auto periodStart = static_cast<int64_t>(jack_last_frame_time(client));
        const double periodRate = rate.load(std::memory_order_relaxed);
        for (uint32_t index = 0; index < available; ++index) {
            jack_midi_event_t raw{};
            if (jack_midi_event_get(&raw, buffer, index) != 0) continue;
            clockFollower.messageRt(*engine, raw.buffer, raw.size,
                                    periodStart + static_cast<int64_t>(raw.time), periodRate);
        }
    }

    /// Tells other programs what the period rendered: the JACK transport follows Halvora's
    /// when leading, and the clock output carries the period's clocks.
    void syncAfterRender(jack_nframes_t count) noexcept {
        void *clockBuffer = jack_port_get_buffer(clockOutput, count);
        if (clockBuffer) jack_midi_clear_buffer(clockBuffer);
        if (!engine) return;
        const bool playing = engine->transport.playing.load();
        if (syncTransport.load(std::memory_order_relaxed) == JackTransportMode::lead)
            leadJackTransport(count, playing);
        if (syncClock.load(std::memory_order_relaxed) == MidiClockMode::out && clockBuffer) {
            const std::size_t messages =
                clockWriter.periodRt(*engine, playing, engine->deviceBlockStart.load(),
                                     static_cast<int32_t>(count), clockMessages);
            for (std::size_t index = 0; index < messages; ++index) {
                const ClockMessage &message = clockMessages[index];
                jack_midi_event_write(clockBuffer, static_cast<jack_nframes_t>(message.frame),
                                      message.bytes.data(), message.size);
            }
        } else {
            clockWriter.resetRt();
        }
    }

    /// JACK carries out a start or a locate a period or two after it is asked, passing
    /// through "starting", whose frame stands still. So the transport is sent to where
    /// Halvora will be once it rolls again: a lead learnt from how far the previous request
    /// fell short once it arrived. No new request goes out while one is on its way. From
    /// then on each of Halvora's periods starts on JACK's frame. (A program holding the
    /// transport in "starting" for longer, to load, makes JACK lag until the next locate.)
    void leadJackTransport(jack_nframes_t count, bool playing) noexcept {
        jack_position_t position{};
        const jack_transport_state_t state = jack_transport_query(client, &position);
        const auto frame = static_cast<int64_t>(position.frame);
        const int64_t wanted = engine->transport.playhead.load(); // the next period's start
        const int64_t started = engine->deviceBlockStart.load();  // this period's start
        const auto locate = [&](int64_t target) {
            if (target < 0 || target > static_cast<int64_t>(UINT32_MAX)) return;
            jack_transport_locate(client, static_cast<jack_nframes_t>(target));
            leadTarget = target;
            leadTargetSeen = false;
            leadRequestAge = 0;
        };
        if (!playing) {
            // A standing transport needs no lead: asking again until it is there is harmless.
            if (state != JackTransportStopped) jack_transport_stop(client);
            if (frame != wanted)
                jack_transport_locate(client, static_cast<jack_nframes_t>(
                                                  std::clamp<int64_t>(wanted, 0, UINT32_MAX)));
            leadRequestAge = -1;
            return;
        }
        if (leadRequestAge >= 0) {
            if (++leadRequestAge > maxLeadRequestPeriods) leadRequestAge = -1; // lost: ask again
            leadTargetSeen = leadTargetSeen || frame == leadTarget;
        }
        const bool inFlight = leadRequestAge >= 0;
        if (state == JackTransportStopped) {
            if (inFlight) return;
            locate(wanted + leadFrames);
            jack_transport_start(client);
            return;
        }
        if (state != JackTransportRolling) return; // starting: the request is on its way
        if (inFlight && !leadTargetSeen) return;   // not carried out yet
        if (inFlight) {
            // The first rolling period after the request tells how far its lead fell short.
            leadRequestAge = -1;
            leadFrames = std::clamp<int64_t>(leadFrames + started - frame, 0,
                                             int64_t{maxLeadRequestPeriods} * count);
        }
        if (frame != started) locate(wanted + leadFrames);
    }

    static void timebase(jack_transport_state_t, jack_nframes_t, jack_position_t *position, int,
                         void *context) {
        auto &self = *static_cast<JackBackend *>(context);
        if (!self.engine || !position) return;
        RtScope scope(self.host->rendersUnderTrap());
        const MusicalPosition where =
            self.engine->musicalPositionRt(static_cast<int64_t>(position->frame));
        position->valid = JackPositionBBT;
        position->bar = where.bar;
        position->beat = where.beat;
        position->tick = static_cast<int32_t>(where.beatFraction * bbtTicksPerBeat);
        position->beats_per_bar = static_cast<float>(where.meter.numerator);
        position->beat_type = static_cast<float>(where.meter.denominator);
        position->ticks_per_beat = bbtTicksPerBeat;
        // JACK counts the tempo in the meter's beats, Halvora's tempo map in quarter notes.
        position->beats_per_minute = where.quarterBpm * where.meter.denominator / 4.0;
        position->bar_start_tick =
            static_cast<double>(where.bar - 1) * where.meter.numerator * bbtTicksPerBeat;
    }

    static int bufferSizeChanged(jack_nframes_t count, void *context) {
        auto &self = *static_cast<JackBackend *>(context);
        self.host->periodChanging(self.rate.load(), static_cast<int32_t>(count));
        self.frames.store(static_cast<int32_t>(count));
        return 0;
    }

    static int sampleRateChanged(jack_nframes_t newRate, void *context) {
        auto &self = *static_cast<JackBackend *>(context);
        self.host->periodChanging(static_cast<double>(newRate), self.frames.load());
        self.rate.store(static_cast<double>(newRate));
        return 0;
    }

    static int xrun(void *context) {
        static_cast<JackBackend *>(context)->host->deviceUnderrun();
        return 0;
    }

    static void shutdown(jack_status_t, const char *reason, void *context) {
        auto &self = *static_cast<JackBackend *>(context);
        self.lost.store(true);
        self.host->deviceLost(reason);
    }

    DeviceHost *host = nullptr;
    jack_client_t *client = nullptr;
    std::array<jack_port_t *, 2> outputs{};
    std::array<jack_port_t *, maxInputPorts> inputs{};
    int32_t inputCount = 2; // in_1, in_2, ...: registered whether or not they capture
    jack_port_t *midiInput = nullptr;
    jack_port_t *clockOutput = nullptr;
    jack_port_t *clockInput = nullptr;
    Engine *engine = nullptr;
    std::atomic<JackTransportMode> syncTransport{JackTransportMode::off};
    std::atomic<MidiClockMode> syncClock{MidiClockMode::off};
    bool timebaseMaster = false;
    // Process thread only.
    /// How far ahead of Halvora a lead request sends the JACK transport, and how many
    /// periods ago the request on its way went out (-1: none).
    static constexpr int32_t maxLeadRequestPeriods = 32;
    int64_t leadFrames = 0;
    int64_t leadTarget = 0;
    bool leadTargetSeen = false;
    int32_t leadRequestAge = -1;
    TransportFollower follower;
    MidiClockWriter clockWriter;
    MidiClockWriter::Messages clockMessages{};
    MidiClockFollower clockFollower;
    std::array<MidiEvent, maxMidiEventsPerPeriod> midiEvents{}; // process thread
    std::atomic<uint64_t> midiDropped{0};
    std::atomic<double> rate{48000.0};
    std::atomic<int32_t> frames{512};
    std::atomic<bool> lost{false};
    bool active = false;
    bool connect = true;
    bool capture = false;
};

} // namespace

std::vector<AudioDeviceDesc> listJackDevices() {
    jack_status_t status{};
    jack_client_t *probe = openClient(probeClientName, status);
    if (!probe) return {};
    jack_client_close(probe);
    return {AudioDeviceDesc{0, jackDeviceName, true, true}};
}

std::unique_ptr<AudioBackend> makeJackBackend() { return std::make_unique<JackBackend>(); }

} // namespace orvane
