#include "core/engine/Engine.h"

namespace orvane {

// Session clips and scenes render and launch here; until then the session is silent.
void Engine::renderSessionRt(const GraphSnapshot &, float *const *, int32_t, int32_t, int64_t) {}

void Engine::produceSessionSourceRt(const GraphSnapshot &, const Track &, float *, float *, int32_t,
                                    int64_t) const {}

void Engine::launchSessionClipRt(const GraphSnapshot &, uint64_t) {}

void Engine::launchSceneRt(const GraphSnapshot &, uint64_t) {}

} // namespace orvane
