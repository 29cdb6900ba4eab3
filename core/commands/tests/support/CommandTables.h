#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// The rows of every command family, so that one history can mix them all.
std::vector<CommandTableRow> allCommandRows();

} // namespace orvane::testing
