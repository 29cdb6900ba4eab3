#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// Every registered command of every family, so that the history tests cover each one.
std::vector<CommandTableRow> allCommandRows();

/// A random project with the material every family's commands read.
Project randomProjectForAllCommands(Random &random);

} // namespace orvane::testing
