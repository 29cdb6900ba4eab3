#include "device/tests/JackEcho.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <cmath>
#include <thread>

namespace orvane::testing {

namespace {

constexpr float audible = 1e-4f;

jack_client_t *openClient(const char *name, std::string &failure) {
    jack_status_t status{};
    jack_client_t *client = jack_client_open(name, JackNoStartServer, &status);
    if (!client) failure = "cannot reach the JACK server (status " + std::to_string(status) + ")";
    return client;
}

} // namespace

JackEcho::JackEcho(int64_t delayFrames, std::vector<std::vector<float>> signalChannels,
                   std::vector<TestMidiEvent> midiEvents)
    : delay(delayFrames), signal(std::move(signalChannels)), midi(std::move(midiEvents)) {
    std::stable_sort(midi.begin(), midi.end(),
                     [](const auto &a, const auto &b) { return a.frame < b.frame; });
    ear = openClient("echo_ear", failure);
    mouth = ear ? openClient("echo_mouth", failure) : nullptr;
    if (!ok()) return;
    earPort = jack_port_register(ear, "hear", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    for (const char *name : {"play_1", "play_2"})
        mouthPorts.push_back(
            jack_port_register(mouth, name, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
    midiPort = jack_port_register(mouth, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(ear, &JackEcho::listen, this);
    jack_set_process_callback(mouth, &JackEcho::play, this);
    jack_set_latency_callback(
        mouth,
        [](jack_latency_callback_mode_t mode, void *context) {
            reportLatency(static_cast<int>(mode), context);
        },
        this);
}

JackEcho::~JackEcho() {
    for (jack_client_t *client : {ear, mouth}) {
        if (!client) continue;
        jack_deactivate(client);
        jack_client_close(client);
    }
}

bool JackEcho::activateAndConnect(const std::string &source, const std::string &left,
                                  const std::string &right, const std::string &midiDestination) {
    if (!ok() || jack_activate(ear) != 0 || jack_activate(mouth) != 0) return false;
    // The server asks for latencies when the graph changes; say it at once as well.
    reportLatency(JackCaptureLatency, this);
    return jack_connect(ear, source.c_str(), jack_port_name(earPort)) == 0 &&
           jack_connect(mouth, jack_port_name(mouthPorts[0]), left.c_str()) == 0 &&
           jack_connect(mouth, jack_port_name(mouthPorts[1]), right.c_str()) == 0 &&
           jack_connect(mouth, jack_port_name(midiPort), midiDestination.c_str()) == 0;
}

bool JackEcho::waitUntilPlayed(std::chrono::milliseconds timeout) const {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (!finished.load(std::memory_order_acquire))
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        else
            std::this_thread::yield();
    return true;
}

int JackEcho::listen(uint32_t frames, void *context) {
    auto &self = *static_cast<JackEcho *>(context);
    if (self.heard()) return 0;
    const auto *input = static_cast<const float *>(jack_port_get_buffer(self.earPort, frames));
    const int64_t now = jack_last_frame_time(self.ear);
    for (uint32_t i = 0; i < frames; ++i)
        if (std::abs(input[i]) > audible) {
            self.heardAt.store(now + i, std::memory_order_release);
            break;
        }
    return 0;
}

int JackEcho::play(uint32_t frames, void *context) {
    auto &self = *static_cast<JackEcho *>(context);
    const int64_t now = jack_last_frame_time(self.mouth);
    const int64_t heard = self.heardAt.load(std::memory_order_acquire);
    const int64_t first = heard + self.delay; // server frame of signal frame 0
    for (std::size_t port = 0; port < self.mouthPorts.size(); ++port) {
        auto *output = static_cast<float *>(jack_port_get_buffer(self.mouthPorts[port], frames));
        const auto &channel = self.signal[std::min(port, self.signal.size() - 1)];
        for (uint32_t i = 0; i < frames; ++i) {
            const int64_t at = now + i - first;
            output[i] = heard >= 0 && at >= 0 && at < static_cast<int64_t>(channel.size())
                            ? channel[static_cast<std::size_t>(at)]
                            : 0.0f;
        }
    }
    void *buffer = jack_port_get_buffer(self.midiPort, frames);
    jack_midi_clear_buffer(buffer);
    if (heard < 0) return 0;
    for (const auto &event : self.midi) {
        const int64_t offset = first + event.frame - now;
        if (offset >= 0 && offset < frames)
            jack_midi_event_write(buffer, static_cast<jack_nframes_t>(offset), event.bytes.data(),
                                  event.bytes.size());
    }
    const int64_t last = std::max<int64_t>(static_cast<int64_t>(self.signal.front().size()),
                                           self.midi.empty() ? 0 : self.midi.back().frame + 1);
    if (now + frames >= first + last) self.finished.store(true, std::memory_order_release);
    return 0;
}

void JackEcho::reportLatency(int mode, void *context) {
    auto &self = *static_cast<JackEcho *>(context);
    if (mode != JackCaptureLatency) return;
    jack_latency_range_t range{static_cast<jack_nframes_t>(self.delay),
                               static_cast<jack_nframes_t>(self.delay)};
    for (jack_port_t *port : self.mouthPorts)
        jack_port_set_latency_range(port, JackCaptureLatency, &range);
    if (self.midiPort) jack_port_set_latency_range(self.midiPort, JackCaptureLatency, &range);
}

} // namespace orvane::testing
