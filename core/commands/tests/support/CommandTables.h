#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// The rows of every command family, for histories that mix them all.
std::vector<CommandTableRow> allCommandRows();

} // namespace orvane::testing
