#pragma once

#include "core/engine/Engine.h"
#include "device/AudioDeviceEngine.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace orvane {

namespace vst {
class PluginRack;
}

/// What one tick found.
struct LiveTickReport {
    int32_t notifications = 0;  // handed to the sink, xruns included
    int32_t helperFailures = 0; // out-of-process plug-ins that failed since the last tick
    /// One line per plug-in whose lost helper was started again with its state.
    std::vector<std::string> helperRestarts;
    /// One line per helper that failed and was not started again: a plug-in's own, or the one
    /// a track's plug-ins share, naming them all.
    std::vector<std::string> helperFailureNotes;
    /// Plug-ins that play on but sent blocks with NaN or infinity, which went dry: "name" on
    /// "track" each.
    std::vector<std::pair<std::string, std::string>> nonFiniteInserts;
    int64_t capturedFrames = 0; // input appended to the recording
};

/// The main thread's share of live playback, run from the user-interface timer: frees what
/// the audio thread let go of (snapshots, rack views), lets failed plug-in helpers be
/// reported, moves captured input into the recording, copies meters for display and passes
/// on the audio thread's notifications. Device underruns arrive here as a counter, never
/// through the audio thread's ring (which has one producer); each new one becomes a
/// notification of kind `NotificationKind::deviceUnderrun` whose value is the running count.
class LiveTick {
  public:
    using Sink = std::function<void(const Notification &)>;

    LiveTick(Engine &engine, AudioDeviceEngine &device, vst::PluginRack *rack = nullptr);
    LiveTickReport run(const Sink &sink = {});

  private:
    Engine &engine;
    AudioDeviceEngine &device;
    vst::PluginRack *rack;
    uint64_t underrunsReported = 0;
};

} // namespace orvane
