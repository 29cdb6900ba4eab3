#pragma once

#include "core/model/Project.h"

#include <array>
#include <cstdint>
#include <vector>

namespace orvane {

// The presets every project can fall back on. They live with the document model because
// both the music algorithms and the document reader fill empty lists from them.

/// The built-in maps "Strings" and "Brass", used wherever a project has no maps of its own.
std::vector<ExpressionMap> defaultExpressionMaps();

/// The built-in grooves "Shuffle" and "MPC Swing".
std::vector<GrooveTemplate> defaultGroovePool();

/// Deviation in cents from equal temperament for each pitch class, C first.
using CentTable = std::array<float, 12>;

int32_t scalaPresetCount();
/// "12-TET", "Pythagorean", "Just Major", "Just Minor"; "12-TET" outside 0 to 3.
const char *scalaPresetName(int32_t index);
/// The preset's cent table; all zeros for any index other than 1, 2 or 3.
CentTable scalaPresetCents(int32_t index);

} // namespace orvane
