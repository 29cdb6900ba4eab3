#include "device/MidiInput.h"

#include <alsa/asoundlib.h>

#include <array>
#include <filesystem>

#include <poll.h>

namespace orvane {

namespace {

constexpr const char *sequencerDevice = "/dev/snd/seq";
constexpr const char *clientName = "Halvora";
constexpr const char *portName = "Halvora MIDI in";
/// How often the reader looks at its stop flag while no MIDI arrives.
constexpr int pollMilliseconds = 100;
constexpr double bendRangeCents = 200.0;

bool isData(uint8_t byte) { return byte < 0x80; }

/// Bytes a system message takes, status included (a system exclusive runs to its end).
std::size_t systemMessageSize(std::span<const uint8_t> bytes, std::size_t at) {
    switch (bytes[at]) {
    case 0xF0: {
        std::size_t end = at + 1;
        while (end < bytes.size() && bytes[end] != 0xF7)
            ++end;
        return end - at + (end < bytes.size() ? 1 : 0);
    }
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    default: return 1;
    }
}

/// The request of one complete channel message, if it makes one.
bool channelRequest(uint8_t status, uint8_t d1, uint8_t d2, Request &request) {
    const int32_t channel = status & 0x0F;
    switch (status & 0xF0) {
    case 0x90:
        if (d2 > 0) {
            request = Request::noteOn(channel, d1, d2 / 127.0);
            return true;
        }
        [[fallthrough]];
    case 0x80: request = Request::noteOff(channel, d1); return true;
    case 0xA0: request = Request::notePressure(d1, d2 / 127.0); return true;
    case 0xD0: request = Request::channelPressure(channel, d1 / 127.0); return true;
    case 0xE0:
        request = Request::pitchBend(channel, (static_cast<int32_t>(d1 | (d2 << 7)) - 8192) *
                                                  (1.0 / 8192.0) * bendRangeCents);
        return true;
    case 0xB0: request = Request::controlChange(channel, d1, d2); return true;
    default: return false; // program changes
    }
}

} // namespace

std::size_t midiBytesToRequests(std::span<const uint8_t> bytes, std::span<Request> out) {
    std::size_t count = 0;
    std::size_t at = 0;
    while (at < bytes.size() && count < out.size()) {
        const uint8_t status = bytes[at];
        if (isData(status)) {
            ++at; // a stray data byte: no running status here
            continue;
        }
        if (status >= 0xF0) {
            at += systemMessageSize(bytes, at);
            continue;
        }
        const std::size_t dataBytes = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        if (at + dataBytes >= bytes.size()) break; // cut short
        const uint8_t d1 = bytes[at + 1];
        const uint8_t d2 = dataBytes == 2 ? bytes[at + 2] : 0;
        if (!isData(d1) || !isData(d2)) {
            ++at; // another status interrupts this one: start again there
            continue;
        }
        at += 1 + dataBytes;
        if (channelRequest(status, d1, d2, out[count])) ++count;
    }
    return count;
}

MidiInput::MidiInput(Engine &engine) : engine(engine) {}

MidiInput::~MidiInput() { stop(); }

bool MidiInput::start() {
    if (started || !std::filesystem::exists(sequencerDevice)) return false;
    snd_seq_t *handle = nullptr;
    if (snd_seq_open(&handle, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) return false;
    snd_seq_set_client_name(handle, clientName);
    port = snd_seq_create_simple_port(
        handle, portName, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) {
        snd_seq_close(handle);
        return false;
    }
    // Every source present now; sources that appear later wait for the next start.
    sources = 0;
    const int self = snd_seq_client_id(handle);
    snd_seq_client_info_t *client = nullptr;
    snd_seq_port_info_t *source = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&source);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(handle, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        if (id == self || id == SND_SEQ_CLIENT_SYSTEM) continue;
        snd_seq_port_info_set_client(source, id);
        snd_seq_port_info_set_port(source, -1);
        while (snd_seq_query_next_port(handle, source) >= 0) {
            const unsigned capability = snd_seq_port_info_get_capability(source);
            const unsigned wanted = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
            if ((capability & wanted) != wanted) continue;
            if (snd_seq_connect_from(handle, port, id, snd_seq_port_info_get_port(source)) >= 0)
                ++sources;
        }
    }
    sequencer = handle;
    stopping.store(false);
    reader = std::thread([this] { readLoop(); });
    started = true;
    return true;
}

void MidiInput::stop() {
    if (!started) return;
    stopping.store(true);
    if (reader.joinable()) reader.join();
    snd_seq_close(static_cast<snd_seq_t *>(sequencer));
    sequencer = nullptr;
    port = -1;
    started = false;
}

void MidiInput::push(const Request &request) {
    if (!engine.pushRequest(RequestProducer::SecondMidiInput, request))
        dropped.fetch_add(1, std::memory_order_relaxed);
}

void MidiInput::readLoop() {
    auto *handle = static_cast<snd_seq_t *>(sequencer);
    snd_midi_event_t *decoder = nullptr;
    if (snd_midi_event_new(64, &decoder) < 0) return;
    snd_midi_event_no_status(decoder, 1); // every message with its own status byte
    std::array<pollfd, 4> descriptors{};
    const int count = snd_seq_poll_descriptors(handle, descriptors.data(),
                                               static_cast<unsigned>(descriptors.size()), POLLIN);
    std::array<uint8_t, 64> bytes{};
    std::array<Request, 16> requests{};
    while (!stopping.load()) {
        if (::poll(descriptors.data(), static_cast<nfds_t>(count), pollMilliseconds) <= 0) continue;
        snd_seq_event_t *event = nullptr;
        while (snd_seq_event_input(handle, &event) >= 0 && event) {
            const long size = snd_midi_event_decode(decoder, bytes.data(), bytes.size(), event);
            if (size <= 0) continue;
            const std::size_t made = midiBytesToRequests(
                std::span<const uint8_t>(bytes.data(), static_cast<std::size_t>(size)), requests);
            for (std::size_t i = 0; i < made; ++i)
                push(requests[i]);
        }
    }
    snd_midi_event_free(decoder);
}

} // namespace orvane
