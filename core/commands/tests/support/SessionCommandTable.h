#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// One row for each session and scene command, the capture into the arrangement included.
std::vector<CommandTableRow> sessionCommandRows();

} // namespace orvane::testing
