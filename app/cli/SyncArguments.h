#pragma once

#include "device/TransportSyncSettings.h"

#include <optional>
#include <string>

namespace orvane {

/// How a verb that plays on the device keeps time with other programs, as its options say;
/// what they leave out comes from the settings.
struct SyncArguments {
    std::optional<JackTransportMode> jackTransport;
    std::optional<MidiClockMode> midiClock;
    bool followClockTempo = false;

    /// The settings with these options laid over them.
    TransportSyncSettings over(const TransportSyncSettings &stored) const {
        TransportSyncSettings settings = stored;
        if (jackTransport) settings.jackTransport = *jackTransport;
        if (midiClock) settings.midiClock = *midiClock;
        if (followClockTempo) settings.followClockTempo = true;
        return settings;
    }
};

inline bool isSyncValueOption(const std::string &option) {
    return option == "--jack-transport" || option == "--midi-clock";
}

/// Reads `--jack-transport lead|follow|off` and `--midi-clock out|in|off`; false with
/// `error` set for any other value.
[[nodiscard]] inline bool parseSyncValueOption(const std::string &option, const std::string &value,
                                               SyncArguments &sync, std::string &error) {
    if (option == "--jack-transport") {
        sync.jackTransport = parseJackTransportMode(value);
        if (!sync.jackTransport)
            error = "--jack-transport takes lead, follow or off, not \"" + value + "\"";
        return sync.jackTransport.has_value();
    }
    sync.midiClock = parseMidiClockMode(value);
    if (!sync.midiClock) error = "--midi-clock takes out, in or off, not \"" + value + "\"";
    return sync.midiClock.has_value();
}

/// True when another program starts and stops the transport: the verb then waits for it
/// instead of starting playback itself.
inline bool transportFollowsOthers(const TransportSyncSettings &settings) {
    return settings.jackTransport == JackTransportMode::follow ||
           settings.midiClock == MidiClockMode::in;
}

} // namespace orvane
