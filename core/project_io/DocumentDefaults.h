#pragma once

#include "core/model/Project.h"

#include <array>
#include <vector>

namespace orvane::project_io {

// The reader fills lists that a document leaves empty from these tables. They mirror the
// music library's built-in groove pool, expression maps and tuning presets, which the
// persistence layer may not depend on.

std::vector<GrooveTemplate> defaultGroovePool();
std::vector<ExpressionMap> defaultExpressionMaps();
/// All zeros (equal temperament) for any index other than 1, 2 and 3.
std::array<float, 12> scalaPresetCents(int32_t index);

} // namespace orvane::project_io
