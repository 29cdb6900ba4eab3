#include "tests/support/JackTestClient.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <thread>
#include <chrono>

namespace orvane::testing {

JackTestClient::JackTestClient(const std::string &clientName, int32_t recordPortCount,
                               int32_t playPortCount, bool midiOut)
    : name(clientName) {
    jack_set_error_function([](const char *) {});
    jack_set_info_function([](const char *) {});
    jack_status_t status{};
    client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (!client) {
        failure = "cannot reach the JACK server (status " + std::to_string(status) + ")";
        return;
    }
    name = jack_get_client_name(client);
    for (int32_t index = 0; index < recordPortCount; ++index)
        recordPorts.push_back(jack_port_register(client,
                                                 ("rec_" + std::to_string(index + 1)).c_str(),
                                                 JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
    for (int32_t index = 0; index < playPortCount; ++index)
        playPorts.push_back(jack_port_register(client,
                                               ("play_" + std::to_string(index + 1)).c_str(),
                                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
    if (midiOut)
        midiOutPort =
            jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    recordings.resize(recordPorts.size());
    signals.resize(playPorts.size());
    jack_set_process_callback(client, &JackTestClient::process, this);
    jack_set_port_registration_callback(client, &JackTestClient::portRegistered, this);
    jack_set_xrun_callback(client, &JackTestClient::xrun, this);
}

JackTestClient::~JackTestClient() {
    if (!client) return;
    if (active) jack_deactivate(client);
    jack_client_close(client);
}

std::string JackTestClient::recordPort(int32_t index) const {
    return name + ":rec_" + std::to_string(index + 1);
}
std::string JackTestClient::playPort(int32_t index) const {
    return name + ":play_" + std::to_string(index + 1);
}
std::string JackTestClient::midiPort() const { return name + ":midi_out"; }

void JackTestClient::prepareRecording(int64_t frames) {
    for (auto &channel : recordings)
        channel.assign(static_cast<std::size_t>(frames), 0.0f);
}

void JackTestClient::preparePlayback(std::vector<std::vector<float>> channels,
                                     std::vector<TestMidiEvent> midi) {
    for (std::size_t index = 0; index < signals.size() && index < channels.size(); ++index)
        signals[index] = std::move(channels[index]);
    midiEvents = std::move(midi);
    std::stable_sort(midiEvents.begin(), midiEvents.end(),
                     [](const auto &a, const auto &b) { return a.frame < b.frame; });
}

bool JackTestClient::activate() {
    if (!client || jack_activate(client) != 0) return false;
    active = true;
    return true;
}

bool JackTestClient::connect(const std::string &source, const std::string &destination) {
    return client && jack_connect(client, source.c_str(), destination.c_str()) == 0;
}

bool JackTestClient::connectWhenReady(const std::string &source,
                                      const std::string &destination) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < giveUp) {
        if (connect(source, destination)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

bool JackTestClient::disconnect(const std::string &source, const std::string &destination) {
    return client && jack_disconnect(client, source.c_str(), destination.c_str()) == 0;
}

std::vector<std::string> JackTestClient::connections(const std::string &port) const {
    std::vector<std::string> names;
    jack_port_t *handle = client ? jack_port_by_name(client, port.c_str()) : nullptr;
    if (!handle) return names;
    if (const char **connected = jack_port_get_all_connections(client, handle)) {
        for (const char **name = connected; *name; ++name)
            names.emplace_back(*name);
        jack_free(connected);
    }
    return names;
}

std::vector<float> JackTestClient::recording(int32_t port) const {
    const auto &channel = recordings.at(static_cast<std::size_t>(port));
    const auto frames = static_cast<std::size_t>(recordedFrames());
    return {channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(frames)};
}

bool JackTestClient::waitForRecordedFrames(int64_t frames, std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (recordedFrames() < frames) {
        if (!periodDone.try_acquire_until(giveUp)) return recordedFrames() >= frames;
    }
    return true;
}

bool JackTestClient::waitForPort(const std::string &portName, std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (!client || !jack_port_by_name(client, portName.c_str())) {
        if (!client || !portsChanged.try_acquire_until(giveUp))
            return client && jack_port_by_name(client, portName.c_str());
    }
    return true;
}

int JackTestClient::xrun(void *context) {
    static_cast<JackTestClient *>(context)->xrunCount.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int JackTestClient::process(uint32_t frames, void *context) {
    auto &self = *static_cast<JackTestClient *>(context);
    self.recordPeriod(frames);
    self.playPeriod(frames);
    self.lastPeriodFrames.store(static_cast<int32_t>(frames), std::memory_order_release);
    self.periodCount.fetch_add(1, std::memory_order_acq_rel);
    self.periodDone.release();
    return 0;
}

void JackTestClient::portRegistered(uint32_t, int, void *context) {
    static_cast<JackTestClient *>(context)->portsChanged.release();
}

void JackTestClient::recordPeriod(uint32_t frames) {
    if (!recordingArmed.load(std::memory_order_acquire) || recordings.empty()) return;
    const int64_t at = recordedCount.load(std::memory_order_relaxed);
    const auto room = static_cast<int64_t>(recordings.front().size()) - at;
    const int64_t count = std::min<int64_t>(room, frames);
    if (count <= 0) return;
    for (std::size_t port = 0; port < recordPorts.size(); ++port) {
        const auto *input =
            static_cast<const float *>(jack_port_get_buffer(recordPorts[port], frames));
        std::copy_n(input, count, recordings[port].begin() + at);
    }
    recordedCount.store(at + count, std::memory_order_release);
}

void JackTestClient::playPeriod(uint32_t frames) {
    const bool playing = playingArmed.load(std::memory_order_acquire);
    for (std::size_t port = 0; port < playPorts.size(); ++port) {
        auto *output = static_cast<float *>(jack_port_get_buffer(playPorts[port], frames));
        std::fill_n(output, frames, 0.0f);
        if (!playing) continue;
        const auto &signal = signals[port];
        for (uint32_t i = 0; i < frames; ++i) {
            const auto at = static_cast<std::size_t>(played) + i;
            if (at < signal.size()) output[i] = signal[at];
        }
    }
    if (midiOutPort) {
        void *buffer = jack_port_get_buffer(midiOutPort, frames);
        jack_midi_clear_buffer(buffer);
        while (playing && nextMidi < midiEvents.size() &&
               midiEvents[nextMidi].frame < played + frames) {
            const auto &event = midiEvents[nextMidi++];
            const auto offset =
                static_cast<jack_nframes_t>(std::max<int64_t>(event.frame - played, 0));
            jack_midi_event_write(buffer, offset, event.bytes.data(), event.bytes.size());
        }
    }
    if (playing) played += frames;
}

} // namespace orvane::testing
