#pragma once

#include "core/model/BuiltInPresets.h"
#include "core/model/Project.h"

#include <span>
#include <vector>

namespace orvane {

/// Velocity factor of `note`: the scale of the last keyswitch among the clip's notes that
/// start no later than `note` (notes in start order), 1 when none. Allocates nothing; the
/// renderers call it on the audio thread.
float expressionVelocityAt(const ExpressionMap &map, std::span<const MidiNote> notes,
                           const MidiNote &note);

} // namespace orvane
