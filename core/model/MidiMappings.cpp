#include "core/model/MidiMappings.h"

#include "core/model/Translate.h"

#include <array>
#include <cmath>

namespace orvane {

std::string midiMappingProblem(const MidiMapping &mapping) {
    if (mapping.channel < 0 || mapping.channel > 15)
        return withArguments(translate("MidiMapping", "MIDI channel %1 does not exist"),
                             {std::to_string(static_cast<int64_t>(mapping.channel) + 1)});
    if (mapping.kind != MidiSourceKind::ControlChange &&
        mapping.kind != MidiSourceKind::PitchBend && mapping.kind != MidiSourceKind::Note)
        return translate("MidiMapping", "only a controller, pitch bend or a key can be learned");
    if (mapping.number < 0 || mapping.number > 127)
        return withArguments(translate("MidiMapping", "controller or key %1 is not 0 to 127"),
                             {std::to_string(mapping.number)});
    if (mapping.trackId == 0) return translate("MidiMapping", "the mapping names no track");
    if (mapping.lane < sendMappingLane(3) ||
        (mapping.lane > panMappingLane && mapping.lane < firstInsertLane))
        return withArguments(translate("MidiMapping", "a controller cannot move lane %1"),
                             {std::to_string(mapping.lane)});
    if (!std::isfinite(mapping.minimum) || !std::isfinite(mapping.maximum))
        return translate("MidiMapping", "the range of a mapping must be finite numbers");
    return {};
}

std::string midiSourceText(const MidiMapping &mapping) {
    static constexpr std::array<const char *, 12> names{"C",  "C#", "D",  "D#", "E",  "F",
                                                        "F#", "G",  "G#", "A",  "A#", "B"};
    const std::string channel = std::to_string(mapping.channel + 1);
    switch (mapping.kind) {
    case MidiSourceKind::PitchBend:
        return withArguments(translate("MidiMapping", "Pitch bend, ch. %1"), {channel});
    case MidiSourceKind::Note: {
        const int32_t key = mapping.number & 127;
        // Middle C (60) reads as C4, as the piano roll names it.
        const std::string note =
            names[static_cast<std::size_t>(key % 12)] + std::to_string(key / 12 - 1);
        return withArguments(translate("MidiMapping", "Note %1, ch. %2"), {note, channel});
    }
    default:
        return withArguments(translate("MidiMapping", "CC %1, ch. %2"),
                             {std::to_string(mapping.number), channel});
    }
}

} // namespace orvane
