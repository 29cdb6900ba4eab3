#pragma once

#include "core/model/Project.h"

#include <string>
#include <vector>

namespace orvane::testing {

struct ComparisonRules {
    /// Undo leaves the id counters advanced; only equal-or-greater is required then.
    bool counterMayAdvance = false;
};

/// A deep copy: tracks and clips are new objects, so later edits of `project` leave it alone.
/// Sample buffers stay shared; they are never written after publication.
Project deepCopyProject(const Project &project);

/// Every field of the two projects that differs, as "tracks[1].clips[0].length: 5 vs 7".
/// Tracks and clips are compared in order and sample buffers by content. Notes are compared
/// as music: order does not matter and a note cut in two adjacent pieces equals the whole note,
/// which is how an undone MIDI split gives its notes back.
std::vector<std::string> projectDifferences(const Project &expected, const Project &actual,
                                            const ComparisonRules &rules = {});

/// The differences joined one per line, for test failure messages.
std::string describeDifferences(const std::vector<std::string> &differences);

} // namespace orvane::testing
