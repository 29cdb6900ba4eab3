#include "core/engine/Engine.h"

namespace orvane {

// Arrangement playback renders into the output here; until then playback is silent.
void Engine::renderArrangementRt(const GraphSnapshot&, float* const*, int32_t, int32_t, int64_t) {}

} // namespace orvane
