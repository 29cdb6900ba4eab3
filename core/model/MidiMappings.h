#pragma once

#include "core/model/AutomationLanes.h"

#include <cstdint>
#include <string>

namespace orvane {

/// What a learned controller sends: a control change, the channel's pitch bend or a key.
enum class MidiSourceKind : uint8_t { ControlChange = 0, PitchBend = 1, Note = 2 };

/// Sends have no automation lane; a mapping names send slot `slot` by a lane below zero, so
/// that every other target keeps the number automation gives it.
constexpr int32_t sendMappingLane(int32_t slot) { return -1 - slot; }
constexpr int32_t sendSlotOfLane(int32_t lane) { return -1 - lane; }
constexpr int32_t volumeMappingLane = 0;
constexpr int32_t panMappingLane = 1;

/// One learned controller and what it moves. The source is a channel (0..15), a kind and a
/// controller or key number (0..127; 0 for pitch bend). The target is named the way
/// automation names it: a track and a lane (0 volume, 1 pan, `insertAutomationLane(i)` for
/// insert i) plus, for an insert, the parameter (a plug-in's parameter id, or the index of
/// a built-in effect's setting), or a send by `sendMappingLane`. The controller's travel
/// spans `minimum` to `maximum` in the target's own units: linear gain, pan -1..1, send
/// level 0..1, a built-in setting in the unit its panel shows, a plug-in's parameter 0..1.
/// `minimum` above `maximum` turns the control round.
struct MidiMapping {
    int32_t channel = 0;
    MidiSourceKind kind = MidiSourceKind::ControlChange;
    int32_t number = 0;
    uint64_t trackId = 0;
    int32_t lane = 0;
    uint32_t paramId = 0;
    float minimum = 0.0f;
    float maximum = 1.0f;

    bool sameSource(const MidiMapping &other) const {
        return channel == other.channel && kind == other.kind && number == other.number;
    }
    bool sameTarget(const MidiMapping &other) const {
        return trackId == other.trackId && lane == other.lane &&
               (lane < firstInsertLane || paramId == other.paramId);
    }
    bool operator==(const MidiMapping &) const = default;
};

/// Why `mapping` cannot be used, in words a user reads ("MIDI channel 17 does not exist"),
/// or empty when it can. Only the mapping itself is checked, not whether its track exists.
std::string midiMappingProblem(const MidiMapping &mapping);

/// The controller as the mapping list shows it: "CC 7, ch. 1", "Pitch bend, ch. 2",
/// "Note C4, ch. 10".
std::string midiSourceText(const MidiMapping &mapping);

/// Where the controller's 7- or 14-bit value (`fraction`, 0..1) lands in the target's range.
inline float mappedValue(const MidiMapping &mapping, float fraction) {
    return mapping.minimum + (mapping.maximum - mapping.minimum) * fraction;
}

} // namespace orvane
