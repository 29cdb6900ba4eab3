#pragma once

#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"

#include <cstdint>
#include <vector>

namespace orvane {

/// What the session is playing becomes arrangement clips, each the whole pass that sounds at
/// the playhead, placed where that pass began (so on the bar it was launched or looped on).
/// Returns the new clip ids; the caller records them for undo.
std::vector<uint64_t> captureWholePasses(Engine &engine);

/// The workspace's "capture session" action: `captureWholePasses` as one undoable step. Returns the
/// new clip ids (none when nothing plays, and then no step is added).
std::vector<uint64_t> captureSessionAsUndoableStep(Engine &engine, CommandStack &stack);

} // namespace orvane
