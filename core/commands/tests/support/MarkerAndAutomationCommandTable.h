#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// One row for each marker, tempo, meter, chord, beat, warp and automation command.
std::vector<CommandTableRow> markerAndAutomationCommandRows();

} // namespace orvane::testing
