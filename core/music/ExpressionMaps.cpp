#include "core/music/ExpressionMaps.h"

namespace orvane {

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
