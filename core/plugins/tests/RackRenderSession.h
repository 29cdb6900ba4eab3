#pragma once

#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "device/OfflineRender.h"

#include <cstdint>

namespace orvane::vst::testing {

/// ZamComp's threshold: at 0 it compresses everything loud enough to hear.
inline constexpr uint32_t zamCompThreshold = 7;

/// An engine with a rack wired in, as "Halvora render" builds it; with `sandboxed`, the rack
/// hosts its plug-ins in helper programs.
struct RenderSession {
    explicit RenderSession(bool sandboxed, double sampleRate = 48000.0,
                           int32_t blockSize = offlineRenderMaxBlock)
        : sandboxSwitch("HALVORA_VST_SANDBOX", sandboxed ? "1" : "0"),
          rack(pluginRackHostFor(engine), sandboxFor(controller)) {
        engine.prepareToPlay(sampleRate, blockSize);
        installPluginRackHooks(engine, rack);
    }
    static PluginRackSandbox sandboxFor(PluginSandboxController &controller) {
        controller.enabled = sandboxEnabledFromEnvironment();
        controller.helperSearchFolder = helperProgramFolder();
        return pluginRackSandboxFor(controller);
    }

    ScopedEnvironment sandboxSwitch;
    Engine engine;
    PluginSandboxController controller;
    PluginRack rack;
};

} // namespace orvane::vst::testing
