#pragma once

#include "core/model/BuiltInPresets.h"
#include "core/model/Project.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvane {

/// Moves every start by up to ± max(span × timing amount, 1) samples (never below 0) and
/// every velocity by up to ± velocity amount (kept in 0.05 to 1), from `seed`.
void humanizeMidiNotes(std::span<MidiNote> notes, int64_t span, float timingAmount,
                       float velocityAmount, uint32_t seed);

/// Shifts and accents notes by the template's step of a 16-step pattern on `grid`;
/// `amount` above 1 counts as 1, and nothing happens for amount ≤ 0 or grid < 1.
void applyGrooveToNotes(std::span<MidiNote> notes, const GrooveTemplate &groove, int64_t grid,
                        float amount);

/// The groove that the notes play against `grid`: per step the mean deviation from the
/// nearest grid point and the mean velocity, with amounts from their overall spread.
GrooveTemplate extractGrooveTemplate(std::span<const MidiNote> notes, int64_t grid,
                                     const std::string &name);

} // namespace orvane
