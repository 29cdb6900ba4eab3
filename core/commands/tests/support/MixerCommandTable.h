#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// One row for each mixer, snapshot, tag and tuning command.
std::vector<CommandTableRow> mixerCommandRows();

} // namespace orvane::testing
