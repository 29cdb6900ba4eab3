#include "app/workflows/SessionCapture.h"

#include "core/commands/SessionCommands.h"

#include <mutex>

namespace orvane {

std::vector<uint64_t> captureSessionAsUndoableStep(Engine &engine, CommandStack &stack) {
    std::lock_guard lock(engine.projectMutex);
    const std::vector<uint64_t> captured = engine.captureSessionToArrangement();
    if (captured.empty()) return captured;
    // The clips are in the project already: the step only records them for undo.
    stack.execute(engine.project,
                  CaptureSessionToArrangeCommand::fromCaptured(engine.project, captured));
    engine.publishGraph();
    return captured;
}

} // namespace orvane
