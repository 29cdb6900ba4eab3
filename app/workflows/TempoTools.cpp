#include "app/workflows/TempoTools.h"

#include "app/shell/ApplicationUi.h"
#include "app/shell/OVMainView.h"
#include "app/shell/StatusFormat.h"
#include "core/commands/AudioProcessingCommands.h"
#include "core/commands/CommandStack.h"
#include "core/commands/MarkerCommands.h"
#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"
#include "core/model/Translate.h"
#include "core/music/AudioAnalysis.h"
#include "device/AudioDeviceEngine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

namespace orvane {

namespace {

constexpr double shortestTapGap = 0.15;
constexpr double longestTapGap = 3.0;
constexpr uint64_t followerMinimumFrames = 8192;
constexpr std::size_t followerMinimumSamples = 2 * followerMinimumFrames;
/// The detector needs a few beats to find one: 4 s holds four at its slowest tempo (60 BPM).
/// A window of 32768 frames (0.7 s at 48 kHz) would hold less than two beats of 128 BPM, and
/// the follower would never find a tempo.
constexpr double followerWindowSeconds = 4.0;

const char *const smartTempoTexts[] = {"Smart Tempo: Keep", "Smart Tempo: Adapt",
                                       "Smart Tempo: Automatic"};

std::string wholeBpm(double bpm) { return fixedDecimals(bpm, 0); }

/// Frames of the clip that its samples really hold: a length beyond the buffer is never read.
int64_t analysableFrames(const Clip &clip) { return std::min(clip.length, clip.audioFrameCount()); }

/// The longest audio clip with samples on the selected track, else on every track; the first
/// found wins a tie.
std::shared_ptr<Clip> longestAudioClip(const Project &project, uint64_t selectedTrackId) {
    std::shared_ptr<Clip> longest;
    for (const auto &track : project.tracks) {
        if (selectedTrackId != 0 && track->id != selectedTrackId) continue;
        for (const auto &clip : track->clips)
            if (clip->kind == ClipKind::Audio && clip->audio && analysableFrames(*clip) > 0 &&
                (!longest || analysableFrames(*clip) > analysableFrames(*longest)))
                longest = clip;
    }
    return longest;
}

uint64_t clipIdHolding(const Project &project, const SharedSamples &samples) {
    for (const auto &track : project.tracks)
        for (const auto &clip : track->clips)
            if (clip->audio == samples) return clip->id;
    return 0;
}

} // namespace

TempoTools::TempoTools(const WorkspaceServices &services, OVMainView &view)
    : services(services), view(view) {}

void TempoTools::show(const std::string &text) { services.status.setText(text); }

void TempoTools::postTempo(double bpm) {
    Engine &engine = services.engine;
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.tempoBpm = bpm;
    }
    engine.tempo.store(bpm);
    (void)engine.pushRequest(RequestProducer::MainThread, Request::setTempo(bpm));
}

void TempoTools::setSmartTempoMode(int32_t mode) {
    if (mode < 0 || mode > 2) return;
    {
        std::lock_guard lock(services.engine.projectMutex);
        services.engine.project.smartTempoMode = static_cast<uint8_t>(mode);
    }
    view.markDocumentDirty();
    show(smartTempoTexts[mode]);
}

void TempoTools::analyzeTempo() {
    Engine &engine = services.engine;
    std::lock_guard lock(engine.projectMutex);
    Project &project = engine.project;
    const auto clip = longestAudioClip(project, view.selectedTrackId);
    if (!clip) {
        show(translate("TempoTools", "No audio clip to analyse"));
        return;
    }
    const FloatSamples samples(*clip->audio);
    const auto detected =
        detectTempoBpm(samples.data(), analysableFrames(*clip), clip->channels, project.sampleRate);
    if (!detected) {
        show(translate("TempoTools", "No tempo detected"));
        return;
    }
    const double bpm = *detected;
    const int32_t beatsInBar =
        static_cast<int32_t>(beatsPerBar(usableMeter(project.timeSignature)));
    view.executeEdit(std::make_unique<AddBeatMarkersCommand>(clip->arrangeStart, clip->length, bpm,
                                                             beatsInBar, project.sampleRate));
    switch (project.smartTempoMode) {
    case 1: {
        const double ratio = bpm / std::max(project.tempoBpm, 1.0);
        clip->stretchRatio = ratio;
        engine.publishGraph();
        show(withArguments(translate("TempoTools", "Adapt: stretch %1x (%2 BPM)"),
                           {fixedDecimals(ratio, 2), wholeBpm(bpm)}));
        return;
    }
    case 2:
        view.executeEdit(std::make_unique<AddTempoMarkerCommand>(clip->arrangeStart, bpm));
        postTempo(bpm);
        show(withArguments(translate("TempoTools", "Automatic: tempo marker %1 BPM"),
                           {wholeBpm(bpm)}));
        return;
    default:
        postTempo(bpm);
        show(withArguments(translate("TempoTools", "Keep: %1 BPM"), {fixedDecimals(bpm, 1)}));
        return;
    }
}

void TempoTools::tapTempo() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    tapTempoAt(std::chrono::duration<double>(now).count());
}

void TempoTools::tapTempoAt(double seconds) {
    taps.push_back(seconds);
    if (taps.size() > maxTaps) taps.erase(taps.begin());
    if (taps.size() < 2) {
        show(translate("TempoTools", "Tap tempo…"));
        return;
    }
    double sum = 0.0;
    int32_t counted = 0;
    for (std::size_t i = 1; i < taps.size(); ++i) {
        const double gap = taps[i] - taps[i - 1];
        if (gap > shortestTapGap && gap < longestTapGap) {
            sum += gap;
            ++counted;
        }
    }
    if (counted == 0) {
        show(translate("TempoTools", "Tap tempo…"));
        return;
    }
    const double bpm = 60.0 / (sum / counted);
    postTempo(bpm);
    view.markDocumentDirty();
    show(withArguments(translate("TempoTools", "Tap tempo %1 BPM"), {fixedDecimals(bpm, 1)}));
}

void TempoTools::onUiTick() {
    if (++ticksSinceFollower < followerTickInterval) return;
    ticksSinceFollower = 0;
    tickTempoFollower();
}

bool TempoTools::readFollowerSource(std::vector<float> &samples) {
    Engine &engine = services.engine;
    const auto window = static_cast<uint64_t>(followerWindowSeconds * engine.project.sampleRate);
    if (!engine.project.tempoFollowerFromInput) {
        const uint64_t available = engine.flashbackAvailableSamples();
        if (available < followerMinimumFrames) return false;
        if (!engine.readFlashback(std::min(available, window), samples)) return false;
    } else {
        // The monitor ring holds about 1.4 s at 48 kHz: as much of it as was written.
        const LatestFramesRing &monitor = services.audio->monitor;
        const uint64_t frames =
            std::min<uint64_t>({window, monitor.writeCount(), monitor.capacity()});
        if (frames < followerMinimumFrames ||
            !services.audio->readMonitorInterleaved(samples, static_cast<uint32_t>(frames)))
            return false;
    }
    return samples.size() >= followerMinimumSamples;
}

void TempoTools::tickTempoFollower() {
    Engine &engine = services.engine;
    if (!services.audio) return;
    std::lock_guard lock(engine.projectMutex);
    if (!engine.project.tempoFollowerEnabled) return;
    std::vector<float> samples;
    if (!readFollowerSource(samples)) return;
    const auto detected = detectTempoBpm(samples.data(), static_cast<int64_t>(samples.size() / 2),
                                         2, engine.project.sampleRate);
    if (!detected) return;
    engine.tickTempoFollower(*detected);
    postTempo(engine.followedBpm);
}

void TempoTools::toggleTempoFollower() {
    Engine &engine = services.engine;
    bool enabled = false;
    double shown = 0.0;
    {
        std::lock_guard lock(engine.projectMutex);
        enabled = engine.project.tempoFollowerEnabled = !engine.project.tempoFollowerEnabled;
        shown = engine.followedBpm > 0.0 ? engine.followedBpm : engine.project.tempoBpm;
        engine.publishGraph();
    }
    view.markDocumentDirty();
    show(enabled
             ? withArguments(translate("TempoTools", "Tempo Follow ON (%1 BPM)"), {wholeBpm(shown)})
             : translate("TempoTools", "Tempo Follow OFF"));
}

void TempoTools::toggleTempoFollowerInput() {
    Engine &engine = services.engine;
    bool fromInput = false;
    {
        std::lock_guard lock(engine.projectMutex);
        fromInput = engine.project.tempoFollowerFromInput = !engine.project.tempoFollowerFromInput;
        engine.publishGraph();
    }
    view.markDocumentDirty();
    show(fromInput ? translate("TempoTools", "Tempo Follow: input (monitor)")
                   : translate("TempoTools", "Tempo Follow: master (flashback)"));
}

void TempoTools::addTempoMarkerAtPlayhead() {
    Engine &engine = services.engine;
    const int64_t playhead = engine.heardPlayhead();
    double bpm = 0.0;
    {
        std::lock_guard lock(engine.projectMutex);
        bpm = engine.project.tempoBpm;
        view.executeEdit(std::make_unique<AddTempoMarkerCommand>(playhead, bpm));
        engine.applyTempoAtPosition(playhead);
        engine.publishGraph();
    }
    show(withArguments(translate("TempoTools", "Tempo marker: %1 BPM"), {wholeBpm(bpm)}));
}

void TempoTools::captureFlashback() {
    Engine &engine = services.engine;
    const int64_t bar = std::max<int64_t>(engine.barLengthSamples(), 1);
    const auto count =
        std::min<uint64_t>(static_cast<uint64_t>(bar) * 4, engine.flashbackAvailableSamples());
    if (count == 0) {
        show(translate("TempoTools", "The flashback buffer is empty: start playback"));
        return;
    }
    auto samples = std::make_shared<std::vector<float>>();
    if (!engine.readFlashback(count, *samples)) {
        show(translate("TempoTools", "Flashback unavailable"));
        return;
    }
    const auto frames = static_cast<int64_t>(count);
    const SharedSamples captured = samples;
    double rate = 0.0;
    {
        std::lock_guard lock(engine.projectMutex);
        const int64_t playhead = engine.transport.playhead.load();
        const int64_t start = playhead > frames ? playhead - frames : 0;
        const auto selected = engine.project.findTrack(view.selectedTrackId);
        const uint64_t target = selected && selected->type == TrackType::Audio ? selected->id : 0;
        view.executeEdit(
            std::make_unique<CaptureFlashbackCommand>(target, start, frames, captured));
        view.selectedClipId = clipIdHolding(engine.project, captured);
        rate = engine.project.sampleRate;
    }
    show(withArguments(translate("TempoTools", "Flashback: %1 samples (%2 s)"),
                       {std::to_string(frames),
                        fixedDecimals(rate > 0.0 ? static_cast<double>(frames) / rate : 0.0, 1)}));
}

void TempoTools::cycleFlashbackDuration() {
    Engine &engine = services.engine;
    int32_t current = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        current = engine.project.flashbackBufferSeconds;
    }
    const int32_t next = current <= 10 ? 30 : current <= 30 ? 60 : 10;
    engine.resizeFlashbackBuffer(next);
    int32_t applied = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        applied = engine.project.flashbackBufferSeconds;
    }
    view.markDocumentDirty();
    show(withArguments(translate("TempoTools", "Flashback buffer: %1 s"),
                       {std::to_string(applied)}));
}

} // namespace orvane
