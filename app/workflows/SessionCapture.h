#pragma once

#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"

#include <cstdint>
#include <vector>

namespace orvane {

/// The workspace's "capture session" action: what the session is playing becomes arrangement
/// clips at the playhead, as one undoable step. Returns the new clip ids (none when nothing
/// plays, and then no step is added).
std::vector<uint64_t> captureSessionAsUndoableStep(Engine &engine, CommandStack &stack);

} // namespace orvane
