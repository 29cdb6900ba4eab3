#include "core/music/ExpressionMaps.h"

namespace orvane {

std::vector<ExpressionMap> defaultExpressionMaps() {
    return {
        ExpressionMap{"Strings",
                      {{"Legato", 36, 1.0f, 11, 90},
                       {"Staccato", 37, 0.72f, 11, 45},
                       {"Pizzicato", 38, 0.58f, 11, 25},
                       {"Tremolo", 39, 0.85f, 1, 110}}},
        ExpressionMap{"Brass",
                      {{"Sustain", 48, 1.0f, 11, 100},
                       {"Marcato", 49, 0.9f, 11, 127},
                       {"Mute", 50, 0.65f, 11, 35}}},
    };
}

float expressionVelocityAt(const ExpressionMap &map, std::span<const MidiNote> notes,
                           const MidiNote &note) {
    float factor = 1.0f;
    for (const MidiNote &earlier : notes) {
        if (earlier.start > note.start) break;
        for (const ExpressionArticulation &articulation : map.articulations) {
            if (articulation.keyswitch == earlier.pitch) {
                factor = articulation.velScale;
                break;
            }
        }
    }
    return factor;
}

} // namespace orvane
