#include "app/shell/LiveTick.h"

#include "core/plugins/PluginRack.h"

namespace orvane {

LiveTick::LiveTick(Engine &engine, AudioDeviceEngine &device, vst::PluginRack *rack)
    : engine(engine), device(device), rack(rack) {}

LiveTickReport LiveTick::run(const Sink &sink) {
    LiveTickReport report;
    device.applyDeviceFormat();
    device.applyExternalClockTempo();
    engine.collectRetiredGraphs();
    if (rack) {
        rack->collectRetiredViews();
        rack->regroupSandboxedInserts();
        report.helperFailures = rack->collectHelperFailures();
        report.helperRestarts = rack->takeHelperRestartNotes();
        report.helperFailureNotes = rack->takeHelperFailureNotes();
        // The helpers' failures are in the notes above; the rest are named here.
        for (const vst::InsertFailure &failure : rack->takeInsertFailures()) {
            if (!failure.nonFinite) continue;
            std::lock_guard lock(engine.projectMutex);
            const auto track = engine.project.findTrack(failure.trackId);
            report.nonFiniteInserts.emplace_back(failure.plugins, track ? track->name : "");
        }
    }
    report.capturedFrames = device.drainCapture();
    engine.copyTrackMetersToProject();
    Notification notification;
    while (engine.popNotification(notification)) {
        ++report.notifications;
        if (sink) sink(notification);
    }
    const uint64_t underruns = device.xrunCount();
    for (; underrunsReported < underruns; ++underrunsReported) {
        ++report.notifications;
        if (sink)
            sink(Notification{NotificationKind::deviceUnderrun, 0,
                              static_cast<float>(underrunsReported + 1)});
    }
    return report;
}

} // namespace orvane
