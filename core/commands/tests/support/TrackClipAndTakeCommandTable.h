#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// One row for each track, clip and take command.
std::vector<CommandTableRow> trackClipAndTakeCommandRows();

} // namespace orvane::testing
