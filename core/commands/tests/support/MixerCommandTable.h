#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// One row for each mixer, snapshot, tag and tuning command.
std::vector<CommandTableRow> mixerCommandRows();

/// What the random project lacks and these commands read: VST 3 inserts with parameter
/// automation, snapshots and a full history as a file gives them back, and tags.
Project withPluginAndMixerState(Project project, Random &random);

} // namespace orvane::testing
