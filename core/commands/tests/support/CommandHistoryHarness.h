#pragma once

#include "core/commands/Command.h"
#include "tests/support/RandomDraws.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane::testing {

/// One drawn command: a readable form for failure messages and a maker that builds a new
/// command with the same arguments, so a history can be replayed from scratch.
struct CommandRecipe {
    std::string description;
    std::function<std::unique_ptr<Command>()> make;
};

/// One row per command class: draws plausible arguments from the project as it is now,
/// including ids that do not exist and positions outside the clips.
struct CommandTableRow {
    std::string commandName;
    std::function<CommandRecipe(const Project &, Random &)> generate;
};

/// Which id counters hand out fresh ids when a creating command is redone. Every creator
/// re-uses the ids of its first run, so that later edits of what it made survive an undo and
/// redo, and a redo replays from the starting counters. A family whose creators draw fresh
/// ids sets its counter here, to replay from the counter the undos left.
struct IdCounterReplay {
    bool freshTrackIds = false;
    bool freshClipIds = false;
    bool freshSceneIds = false;
    bool freshMarkerIds = false;
};

struct HistoryOutcome {
    std::vector<std::string> failures;
    /// The drawn commands in order, to replay a failure by hand.
    std::vector<std::string> commands;
    bool changedProject = false;
    bool drewFreshIds = false;
    /// Whether the commands made objects (any id counter advanced).
    bool createdObjects = false;
};

/// Runs one command drawn from `row` on `project` through a command stack: execute, undo,
/// redo, undo. After each undo the project and its saved document text equal the start's (id
/// counters may only advance); after the redo they equal the executed state, or for a command
/// that drew fresh ids, the command run anew on the start with the counters of `replay`.
HistoryOutcome checkSingleCommand(Project project, const CommandTableRow &row, Random &random,
                                  const IdCounterReplay &replay = {});

/// Runs `commandCount` commands drawn from `table` on `project` through a command stack,
/// undoes them all and redoes them all, and lists every broken expectation:
/// - the bottom of the history equals the starting project (id counters may only advance);
/// - the top equals the same commands executed anew on the starting project with the counters
///   of `replay`, which is the end state itself when no fresh id was drawn;
/// - without fresh ids, undoing again from the top returns to the start once more.
HistoryOutcome checkRandomHistory(Project project, const std::vector<CommandTableRow> &table,
                                  std::size_t commandCount, Random &random,
                                  const IdCounterReplay &replay = {});

} // namespace orvane::testing
