#pragma once

#include "app/remote/OscMessage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::remote {

/// The remote-control namespace under "/halvora" (README.md lists it). Track, send, scene,
/// slot and marker numbers count from 1, as the window shows them.
enum class RemoteAction : uint8_t {
    Play,
    Stop,
    Record,
    LocateSeconds,
    LocateBeats,
    GotoMarker,
    State,
    Undo,
    Redo,
    TrackMute,
    TrackSolo,
    TrackArm,
    TrackGain,
    TrackPan,
    TrackSend,
    TrackQuery,
    SceneLaunch,
    ClipLaunch,
};

struct RemoteRequest {
    RemoteAction action = RemoteAction::State;
    int32_t track = 0; // from 1, for the track and clip actions
    int32_t index = 0; // from 1: the send, the scene, the slot or the marker
    double value = 0.0;
};

/// Limits of the values taken; anything outside is refused rather than clamped, so that a
/// surface sending nonsense learns of it.
struct RemoteRanges {
    static constexpr int32_t tracks = 4096;
    static constexpr int32_t sends = 4;
    static constexpr int32_t slots = 4096;
    static constexpr double gain = 4.0;      // linear, +12 dB
    static constexpr double sendLevel = 4.0; // linear
    static constexpr double seconds = 86400.0 * 7;
};

/// Which of one turn's requests to carry out: a continuous value (gain, pan, a send, the
/// playhead) set again later in the same turn for the same target is skipped, so that a
/// surface's fader sweep costs one edit per turn and not one per message. False entries are
/// skipped; the order of the rest is kept.
std::vector<bool> requestsToCarryOut(const std::vector<RemoteRequest> &turn);

/// The request a message asks for; none, with `why`, for a path outside the namespace, the
/// wrong number or types of arguments, or a value out of range.
std::optional<RemoteRequest> decodeRemoteRequest(const OscMessage &message, std::string &why);

} // namespace orvane::remote
