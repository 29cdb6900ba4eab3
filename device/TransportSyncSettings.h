#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvane {

/// How the device's transport relates to the JACK transport: `lead` makes Halvora the
/// timebase master that starts, stops and moves the JACK transport with its own; `follow`
/// moves Halvora's transport wherever another program moves the JACK transport.
enum class JackTransportMode : uint8_t { off = 0, lead = 1, follow = 2 };
/// `out` sends MIDI clock, start, stop, continue and song position from "clock_out";
/// `in` follows what arrives at "clock_in".
enum class MidiClockMode : uint8_t { off = 0, out = 1, in = 2 };

struct TransportSyncSettings {
    JackTransportMode jackTransport = JackTransportMode::off;
    MidiClockMode midiClock = MidiClockMode::off;
    /// With `MidiClockMode::in`: the project's tempo follows the clock's.
    bool followClockTempo = false;
    bool operator==(const TransportSyncSettings &) const = default;
};

/// "off", "lead", "follow"; the same words parse back (nothing else does).
const char *jackTransportModeName(JackTransportMode mode);
std::optional<JackTransportMode> parseJackTransportMode(std::string_view word);
/// "off", "out", "in".
const char *midiClockModeName(MidiClockMode mode);
std::optional<MidiClockMode> parseMidiClockMode(std::string_view word);

} // namespace orvane
