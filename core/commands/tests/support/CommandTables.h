#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// Every command family's rows in one table, so that histories mix them.
std::vector<CommandTableRow> allCommandRows();

} // namespace orvane::testing
