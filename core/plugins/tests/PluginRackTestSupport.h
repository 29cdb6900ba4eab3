#pragma once

#include "core/plugins/PluginRack.h"
#include "core/plugins/vst3/tests/TestSupport.h"
#include "core/rt/RtThread.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace orvane::vst::testing {

/// One block of a track through `rack` in the audio role, as the engine's render hooks run it.
inline void processTrackAsAudio(PluginRack &rack, uint64_t trackId, float *left, float *right,
                                int32_t frames) {
    RtScope audioRole;
    rack.processTrack(trackId, left, right, frames);
}

inline std::string rackBundlesDir() { return HALVORA_RACK_BUNDLES_DIR; }
inline std::string rackDelayEffectPath() {
    return rackBundlesDir() + "/HalvoraRackDelayEffect.vst3";
}

/// The delay effect reports (and applies) the delay that the environment names when an
/// instance is created.
class ScopedRackDelay {
  public:
    explicit ScopedRackDelay(int samples)
        : environment("HALVORA_TEST_RACK_DELAY", std::to_string(samples)) {}

  private:
    ScopedEnvironment environment;
};

/// The environment a rack test runs in: the VST 3 folders are the test bundle folders, the
/// support folder (blacklist) is private, plug-ins run in this process and, unless `withInstalledLv2`,
/// the LV2 folders hold nothing.
class RackEnvironment {
  public:
    explicit RackEnvironment(bool withInstalledLv2 = false)
        : vst3Path("VST3_PATH", rackBundlesDir() + ":" + testBundlesDir()),
          dataHome("XDG_DATA_HOME", supportFolder.path().string()),
          sandbox("HALVORA_VST_SANDBOX", "0"),
          lv2Path("LV2_PATH", withInstalledLv2 ? std::nullopt
                                               : std::optional<std::string>(
                                                     (supportFolder.path() / "lv2").string())) {}

  private:
    TemporaryFolder supportFolder;
    ScopedEnvironment vst3Path;
    ScopedEnvironment dataHome;
    ScopedEnvironment sandbox;
    ScopedEnvironment lv2Path;
};

/// A project and what the rack needs of an engine, without the engine.
struct RackHarness {
    Project project;
    std::recursive_mutex projectMutex;
    std::atomic<int64_t> playhead{0};
    int publishCount = 0;

    PluginRackHost host() {
        return PluginRackHost{&project, &projectMutex, &playhead, [this] { ++publishCount; }, {},
                              {}};
    }
};

} // namespace orvane::vst::testing
