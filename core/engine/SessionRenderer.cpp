#include "core/engine/Engine.h"

namespace orvane {

// Session clips and scenes render and launch here; until then the session is silent.
void Engine::renderSessionRt(RenderContext &) {}

void Engine::launchSessionClipRt(const GraphSnapshot &, uint64_t) {}

void Engine::launchSceneRt(const GraphSnapshot &, uint64_t) {}

void Engine::releaseSessionClipRt(uint64_t clipId) {
    for (int32_t i = 0; i < activeCount; ++i) {
        auto &active = activeSessionClips[static_cast<std::size_t>(i)];
        if (active.clipId == clipId) active.playing = active.queued = false;
    }
}

} // namespace orvane
