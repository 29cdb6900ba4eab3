#include "core/engine/Engine.h"
#include "core/engine/InstrumentVoices.h"

#include "core/model/MusicalTime.h"
#include "core/rt/RtThread.h"

#include <algorithm>
#include <cmath>
#include <thread>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace orvane {

namespace {

/// The MIDI message a live request stands for, so that a learned control hears keys, bends
/// and controllers alike from every source: the audio server's input and the sequencer's.
/// A bend comes back from cents at the live keys' range of 200 cents.
MidiEvent midiEventOf(const Request &request) {
    const auto channel = static_cast<uint8_t>(request.channel() & 15);
    switch (request.type) {
    case RequestType::midiNoteOn: {
        const auto velocity =
            static_cast<uint8_t>(std::clamp(std::lround(request.velocity() * 127.0), 1L, 127L));
        return {0, static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(request.note()),
                velocity};
    }
    case RequestType::midiNoteOff:
        return {0, static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(request.note()), 0};
    case RequestType::midiPitchBend: {
        const long value =
            std::clamp(std::lround(request.bendCents() / 200.0 * 8192.0) + 8192L, 0L, 16383L);
        return {0, static_cast<uint8_t>(0xE0 | channel), static_cast<uint8_t>(value & 127),
                static_cast<uint8_t>(value >> 7)};
    }
    case RequestType::midiControlChange:
        return {0, static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(request.b),
                static_cast<uint8_t>(request.c)};
    default: return {};
    }
}

/// Frames of flashback for `seconds` (held to 5..120) at `rate`, at least one.
uint64_t flashbackFramesFor(double rate, int32_t seconds) {
    const double seconds5to120 = seconds < 5 ? 5.0 : (seconds > 120 ? 120.0 : seconds);
    const double frames = rate * seconds5to120;
    return frames >= 1.0 ? static_cast<uint64_t>(frames) : 1;
}

/// Flush-to-zero and denormals-are-zero for the span of a block: a decaying tail that
/// reaches the subnormal range would otherwise cost some processors (and some plug-ins)
/// many times the normal price per sample.
class DenormalsOff {
  public:
#if defined(__SSE__) || defined(__x86_64__)
    DenormalsOff() : saved(_mm_getcsr()) { _mm_setcsr(saved | 0x8040u); }
    ~DenormalsOff() { _mm_setcsr(saved); }

  private:
    unsigned int saved;
#endif
};

void clearChannels(float *const *channels, int32_t channelCount, int32_t frames) {
    if (!channels || channelCount < 1 || frames < 1) return;
    for (int32_t channel = 0; channel < channelCount; ++channel)
        if (channels[channel]) std::fill_n(channels[channel], frames, 0.0f);
}

/// Device outputs beyond this many channels stay silent (they are cleared, never written).
constexpr int32_t maxPieceChannels = 64;

/// The outputs of a piece of a period: every channel pointer moved on by `offset` frames.
struct PieceOutputs {
    std::array<float *, maxPieceChannels> channels{};
    int32_t count = 0;
    PieceOutputs(float *const *outputs, int32_t outputCount, int32_t offset) {
        count = outputs ? std::min(outputCount, maxPieceChannels) : 0;
        for (int32_t c = 0; c < count; ++c)
            channels[static_cast<std::size_t>(c)] = outputs[c] ? outputs[c] + offset : nullptr;
    }
};

} // namespace

Engine::Engine() {
    markMainThread();
    publishGraph();
}

Engine::~Engine() {
    // The device must be stopped, and every export ended, before the engine goes away.
    if (renderSlot.deviceOwns() || renderSlot.offlineOwns())
        failThreadContract("~Engine while a device or an export renders", currentThreadRole());
    publication.graphs.publish(nullptr);
    publication.graphs.waitForRetired();
}

// --- Publication -------------------------------------------------------------------------

std::shared_ptr<const GraphSnapshot> Engine::currentGraph() const {
    std::lock_guard lock(projectMutex);
    return publication.graphs.current();
}

void Engine::setInsertHook(InsertHook hook) {
    expectMainThread("Engine::setInsertHook");
    std::lock_guard lock(projectMutex);
    hooks.insert = std::move(hook);
    hooks.insertTakesTracksConcurrently = false;
    publishGraph();
}

void Engine::setLatencyHook(LatencyHook hook) {
    expectMainThread("Engine::setLatencyHook");
    std::lock_guard lock(projectMutex);
    hooks.latency = std::move(hook);
    publishGraph();
}

void Engine::setRenderHooks(InsertHook insert, LatencyHook latency, bool concurrentTracks) {
    expectMainThread("Engine::setRenderHooks");
    std::unique_lock lock(projectMutex);
    hooks.insertTakesTracksConcurrently = concurrentTracks && insert;
    hooks.insert = std::move(insert);
    hooks.latency = std::move(latency);
    publishGraph();
    // Waiting for blocks to let go of the old hooks needs no lock; a block takes none.
    lock.unlock();
    std::lock_guard again(projectMutex);
    publication.graphs.waitForRetired();
}

void Engine::setDeviceFormatHook(DeviceFormatHook hook) {
    std::lock_guard lock(projectMutex);
    hooks.deviceFormat = std::move(hook);
}

void Engine::setGraphPublishedHook(GraphPublishedHook hook) {
    std::lock_guard lock(projectMutex);
    hooks.graphPublished = std::move(hook);
}

void Engine::publishGraph() {
    expectMainThread("Engine::publishGraph");
    std::lock_guard lock(projectMutex);
    const RenderFormat format{sampleRate.load(), rtBlockSize.load()};
    publication.builder.liveOnWorkerThreads = options.liveOnWorkerThreads;
    auto snapshot = publication.builder.build(project, format, publication.graphs.current().get());
    snapshot->sessionMode = sessionPlayer.sessionMode();
    snapshot->insertHook = hooks.insert;
    snapshot->latencyHook = hooks.latency;
    snapshot->insertHookTakesTracksConcurrently = hooks.insertTakesTracksConcurrently;
    if (!sessionPlayer.sceneTempoInForce()) tempo.store(usableBpm(project.tempoBpm));
    if (!sessionPlayer.sceneMeterInForce()) meter.store(project.timeSignature.packed());
    transport.metronomeOn.store(project.metronomeEnabled);
    monitoring.talkback.store(project.controlRoom.talkback);
    publication.graphs.publish(std::move(snapshot));
    controllers.publish(project.midiMappings);
    if (hooks.graphPublished) hooks.graphPublished();
}

void Engine::collectRetiredGraphs() {
    std::lock_guard lock(projectMutex);
    publication.graphs.collect();
}

void Engine::copyTrackMetersToProject() {
    std::lock_guard lock(projectMutex);
    const GraphSnapshot *snapshot = publication.graphs.current().get();
    if (!snapshot) return;
    for (std::size_t i = 0; i < snapshot->tracks.size(); ++i) {
        const TrackMeter &meterSlot = snapshot->trackMeters[i];
        if (auto track = project.findTrack(meterSlot.trackId.load(std::memory_order_relaxed))) {
            track->peakL = meterSlot.peakL.load(std::memory_order_relaxed);
            track->peakR = meterSlot.peakR.load(std::memory_order_relaxed);
        }
    }
}

void Engine::replaceProject(Project replacement) {
    expectMainThread("Engine::replaceProject");
    std::lock_guard lock(projectMutex);
    project = std::move(replacement);
    sampleRate.store(project.sampleRate);
    // Track ids start again in every project: no effect tail or delay line may carry over
    // from a track of the old project that happens to share an id, and the rack learns that
    // its inserts belong to the old project until it restores the new one's.
    publication.builder.resetLiveStates();
    projectGeneration.fetch_add(1);
    // The old project's session entries name clips of the old project. Without a device
    // nothing would carry the reset out before a capture reads the table, so do it here then.
    if (!pushRequest(RequestProducer::MainThread, Request::resetSession()) &&
        drainRequestsWhileIdle())
        (void)pushRequest(RequestProducer::MainThread, Request::resetSession());
    publishGraph();
    drainRequestsWhileIdle();
}

void Engine::prepareToPlay(double newSampleRate, int32_t newBlockSize) {
    expectMainThread("Engine::prepareToPlay");
    std::lock_guard lock(projectMutex);
    sampleRate.store(newSampleRate);
    blockSize.store(newBlockSize);
    rtBlockSize.store(std::max<int64_t>(newBlockSize, 64));
    // Processors are prepared for the new rate: build them afresh.
    publication.builder.resetLiveStates();
    publication.builder.flashback = newFlashbackRing(
        newSampleRate > 0.0 ? newSampleRate : project.sampleRate, project.flashbackBufferSeconds);
    publishGraph();
}

std::shared_ptr<LatestFramesRing> Engine::newFlashbackRing(double rate, int32_t seconds) const {
    if (!options.capturesFlashback) return nullptr;
    // A reader copies the whole capture while the master keeps arriving: a second of slots
    // beyond it keeps the writer off the frames being copied.
    const double oneSecond = rate >= 1.0 ? rate : 1.0;
    return std::make_shared<LatestFramesRing>(flashbackFramesFor(rate, seconds),
                                              static_cast<uint64_t>(oneSecond));
}

void Engine::prepareForDeviceFormat(double newSampleRate, int32_t maxFrames) {
    expectMainThread("Engine::prepareForDeviceFormat");
    std::lock_guard lock(projectMutex);
    const double rate = newSampleRate > 0.0 ? newSampleRate : sampleRate.load();
    const bool rateChanged =
        rate != sampleRate.load() || (options.capturesFlashback && !publication.builder.flashback);
    sampleRate.store(rate);
    blockSize.store(std::max<int32_t>(maxFrames, 1));
    rtBlockSize.store(std::max<int64_t>(maxFrames, 64));
    if (rateChanged) {
        publication.builder.resetLiveStates();
        publication.builder.flashback = newFlashbackRing(rate, project.flashbackBufferSeconds);
    }
    publishGraph();
    if (hooks.deviceFormat) hooks.deviceFormat(rate, blockSize.load());
}

void Engine::releaseResources() {
    expectMainThread("Engine::releaseResources");
    std::lock_guard lock(projectMutex);
    rtBlockSize.store(0);
    publishGraph();
}

void Engine::rebuildRtCaches(int32_t newBlockSize) {
    expectMainThread("Engine::rebuildRtCaches");
    std::lock_guard lock(projectMutex);
    rtBlockSize.store(std::max<int64_t>(newBlockSize, 64));
    publishGraph();
}

uint32_t Engine::returnSlotFor(const GraphSnapshot &snapshot, uint64_t trackId) {
    const int64_t count = std::min<int64_t>(snapshot.returnCount, 8);
    for (int64_t slot = 0; slot < count; ++slot)
        if (snapshot.returnIds[static_cast<std::size_t>(slot)] == trackId)
            return static_cast<uint32_t>(slot);
    return noReturnSlot;
}

// --- Rings -------------------------------------------------------------------------------

bool Engine::pushRequest(RequestProducer producer, const Request &request) {
    return rings.requests[static_cast<std::size_t>(producer)].push(request);
}

bool Engine::popNotification(Notification &notification) {
    return rings.notifications.pop(notification);
}

void Engine::postNotificationRt(NotificationKind kind, uint64_t id, float value) {
    // A full ring drops the notification; the user interface catches up from the state.
    (void)rings.notifications.push(Notification{kind, id, value});
}

// --- The rendering slot --------------------------------------------------------------------

void Engine::deviceStarted() { renderSlot.deviceStarted(); }

void Engine::deviceStopped() { renderSlot.deviceStopped(); }

bool Engine::beginOfflineRender() { return beginOfflineRender(transport.playhead.load()); }

bool Engine::beginOfflineRender(int64_t start) { return beginOfflineRender(start, 0); }

bool Engine::beginOfflineRender(int64_t start, uint64_t preFaderTrackId) {
    expectMainThread("Engine::beginOfflineRender");
    // A device block that began before the hand-over finishes first; later ones are silent.
    if (!renderSlot.beginOffline()) return false;
    offline.position = Transport::clampPosition(start);
    offline.preFaderTrackId = preFaderTrackId;
    std::lock_guard lock(projectMutex);
    publication.builder.beginExport();
    publishGraph();
    offline.workers.reset();
    if (options.exportOnTwoThreads && std::thread::hardware_concurrency() > 1 &&
        project.tracks.size() > 1)
        offline.workers = std::make_unique<TrackWorkers>(
            static_cast<int32_t>(project.tracks.size()), blockSize.load());
    return true;
}

int64_t Engine::trackLatencySamples(uint64_t trackId) {
    std::lock_guard lock(projectMutex);
    return hooks.latency ? std::clamp<int64_t>(hooks.latency(trackId), 0, pdcHeadroomSamples) : 0;
}

void Engine::endOfflineRender() {
    expectMainThread("Engine::endOfflineRender");
    {
        std::lock_guard lock(projectMutex);
        publication.builder.endExport();
        publishGraph();
    }
    offline.workers.reset();
    renderSlot.endOffline();
}

bool Engine::drainRequestsWhileIdle() {
    const RenderSlot::Claim claim = renderSlot.claimWhileIdle();
    if (!claim) return false;
    RtScope scope;
    const auto snapshot = publication.graphs.read();
    if (snapshot) drainRequestsRt(*snapshot);
    return true;
}

// --- Audio thread ------------------------------------------------------------------------

void Engine::processBlock(float *const *channels, int32_t channelCount, int32_t frames) {
    processBlock(BlockIo{nullptr, 0, channels, channelCount, frames, {}});
}

void Engine::processBlock(const BlockIo &io) {
    // In debug and sanitizer builds an allocation on a device's thread aborts.
    RtScope scope(renderSlot.deviceOwns());
    DenormalsOff denormals;
    clearChannels(io.outputs, io.outputChannelCount, io.frames);
    const RenderSlot::Claim claim = renderSlot.claimForDevice();
    if (!claim) return;
    if (!renderSlot.offlineOwns() && io.frames >= 1) {
        const auto snapshot = publication.graphs.read();
        if (snapshot) renderDeviceBlockRt(*snapshot, io);
    }
    blocks.rendered.fetch_add(1, std::memory_order_relaxed);
}

void Engine::processBlockOffline(float *const *channels, int32_t channelCount, int32_t frames) {
    RtScope scope;
    DenormalsOff denormals;
    clearChannels(channels, channelCount, frames);
    if (frames < 1) return;
    const RenderSlot::Claim claim = renderSlot.claimForOffline();
    if (!claim) return;
    {
        const auto snapshot = publication.graphs.read();
        const int64_t piece = snapshot && snapshot->scratch ? snapshot->scratch->blockSize : 0;
        for (int32_t done = 0; snapshot && piece > 0 && done < frames;) {
            const auto count = static_cast<int32_t>(std::min<int64_t>(piece, frames - done));
            const PieceOutputs outputs(channels, channelCount, done);
            renderOfflinePieceRt(*snapshot, outputs.channels.data(), outputs.count, count);
            done += count;
        }
    }
    blocks.rendered.fetch_add(1, std::memory_order_relaxed);
}

void Engine::renderDeviceBlockRt(const GraphSnapshot &snapshot, const BlockIo &io) {
    expectAudioThread("Engine::renderDeviceBlockRt");
    const int64_t piece = snapshot.scratch ? snapshot.scratch->blockSize : io.frames;
    monitoring.tracksMonitorInput.store(snapshot.anyMonitorsInput && io.inputs &&
                                            io.inputChannelCount > 0,
                                        std::memory_order_relaxed);
    blocks.device = &io;
    std::size_t nextEvent = 0;
    for (int32_t done = 0; done < io.frames;) {
        const auto count = static_cast<int32_t>(std::min<int64_t>(piece, io.frames - done));
        std::size_t lastEvent = nextEvent;
        while (lastEvent < io.midi.size() && io.midi[lastEvent].frame < done + count)
            ++lastEvent;
        const PieceOutputs outputs(io.outputs, io.outputChannelCount, done);
        renderDevicePieceRt(snapshot, outputs.channels.data(), outputs.count, count,
                            io.midi.subspan(nextEvent, lastEvent - nextEvent), done, done == 0);
        nextEvent = lastEvent;
        done += count;
    }
    blocks.device = nullptr;
}

RenderContext Engine::contextRt(const GraphSnapshot &snapshot, bool offline, float *const *outputs,
                                int32_t outputChannelCount, int32_t frames, int64_t position) {
    RenderContext context{.snapshot = snapshot,
                          .scratch = *snapshot.scratch,
                          .dsp = offline ? snapshot.exportStates : snapshot.live,
                          .position = position,
                          .frames = frames,
                          .outputs = outputs,
                          .outputChannelCount = outputChannelCount,
                          .notifications = &rings.notifications};
    // An export hears no live keys and leaves the meters and the flashback capture alone.
    if (!offline) {
        context.liveMidi = &liveMidi;
        context.meters = &masterMeters;
        context.flashback = snapshot.flashback.get();
    } else {
        context.preFaderTrackId = this->offline.preFaderTrackId;
    }
    return context;
}

void Engine::renderDevicePieceRt(const GraphSnapshot &snapshot, float *const *outputs,
                                 int32_t outputChannelCount, int32_t frames,
                                 std::span<const MidiEvent> midi, int32_t firstFrame, bool first) {
    liveMidi.beginBlockRt(frames);
    // Keys from the request rings start with the piece and sound through it.
    blocks.pieceFrames = frames;
    if (first) {
        drainRequestsRt(snapshot);
        deviceBlockStart.store(transport.playhead.load(), std::memory_order_release);
    }
    for (const MidiEvent &event : midi)
        applyMidiEventRt(event, std::clamp(event.frame - firstFrame, 0, frames - 1), frames);

    blocks.pieceFrames = 0; // requests carried out between blocks: the next block starts the keys
    const bool isPlaying = transport.playing.load();
    const bool isRecording = transport.recording.load();
    const bool inputMonitored = monitoring.tracksMonitorInput.load(std::memory_order_relaxed);
    const bool liveKeysSound = snapshot.anyArmedMidi || liveMidi.auditionTrackId != 0;
    // After a stop, instruments release their notes and ring out.
    const bool instrumentsSound = snapshot.anyInstrument && instrumentsSoundRt(snapshot.live);
    if (!isPlaying && !isRecording && !inputMonitored && !liveKeysSound && !instrumentsSound)
        return;
    if (!snapshot.scratch) return;
    const int64_t position = Transport::clampPosition(transport.playhead.load());
    RenderContext context =
        contextRt(snapshot, false, outputs, outputChannelCount, frames, position);
    if (inputMonitored) {
        context.inputs = blocks.device->inputs;
        context.inputCount = blocks.device->inputChannelCount;
        context.inputFrame = firstFrame;
    }
    if (!isPlaying && !isRecording) {
        // Stopped: the monitoring tracks' chains run on their input, and armed or auditioned
        // instrument tracks on the keys played, at a standing playhead.
        context.inputsOnly = true;
        renderArrangementRt(context);
        return;
    }
    const MediaStreamsUse media(mediaStreams.live);
    context.media = media.get();
    context.workers = snapshot.liveWorkers.get();
    renderPosition.store(position, std::memory_order_relaxed);
    bool sessionRendered = false;
    if (isPlaying && sessionPlayer.playsRt()) {
        sessionPlayer.renderRt(context);
        sessionRendered = true;
    }
    if ((isPlaying && !sessionRendered) || (!isPlaying && isRecording))
        renderArrangementRt(context);
    mixLatencyFrames.store(context.maxLatency, std::memory_order_relaxed);
    renderMetronomeRt(snapshot, outputs, outputChannelCount, frames, position);
    const int64_t next = transport.nextPositionRt(position, frames, true);
    const int64_t straight = Transport::clampPosition(position + frames);
    if (next < straight) midiRecorder.cycleWrappedRt(straight - next);
    transport.playhead.store(next);
    followTempoRt(snapshot, next);
    sessionPlayer.publishTableRt();
}

int64_t Engine::heardPlayhead() const {
    const int64_t playhead = transport.playhead.load();
    if (!transport.playing.load()) return playhead;
    const int64_t lag = std::max<int64_t>(mixLatencyFrames.load(std::memory_order_relaxed), 0) +
                        std::max<int64_t>(playbackLatencyFrames.load(std::memory_order_relaxed), 0);
    const int64_t heard = playhead - lag;
    const int64_t cycleStart = transport.loopStart.load();
    const int64_t cycleEnd = transport.loopEnd.load();
    // Just after the jump back, what is heard is still the end of the pass before.
    if (transport.loopEnabled.load() && cycleEnd > cycleStart && playhead >= cycleStart &&
        heard < cycleStart && cycleStart - heard < cycleEnd - cycleStart)
        return cycleEnd - (cycleStart - heard);
    return std::max<int64_t>(heard, 0);
}

void Engine::renderOfflinePieceRt(const GraphSnapshot &snapshot, float *const *outputs,
                                  int32_t outputChannelCount, int32_t frames) {
    expectAudioThread("Engine::renderOfflinePieceRt");
    if (!snapshot.scratch || snapshot.exportStates.empty()) return;
    RenderContext context =
        contextRt(snapshot, true, outputs, outputChannelCount, frames, offline.position);
    context.workers = offline.workers.get();
    const MediaStreamsUse media(mediaStreams.offline);
    context.media = media.get();
    renderPosition.store(offline.position, std::memory_order_relaxed);
    renderArrangementRt(context);
    offline.position = transport.nextPositionRt(offline.position, frames, false);
}

void Engine::drainRequestsRt(const GraphSnapshot &snapshot) {
    Request request;
    for (auto &ring : rings.requests)
        while (ring.pop(request))
            applyRequestRt(request, snapshot);
    sessionPlayer.publishTableRt();
}

void Engine::followTempoRt(const GraphSnapshot &snapshot, int64_t position) {
    if (sessionPlayer.sceneTempoInForce()) return;
    followTempoMapRt(snapshot, position, tempo);
}

void Engine::stopTransportRt(const GraphSnapshot &snapshot, bool rewind) {
    transport.stopRt(rewind);
    // Stop ends the performance and hands playback back to the arrangement; pause keeps the
    // session where it is, so that play carries on.
    if (rewind) sessionPlayer.stopRt(snapshot, transport.playhead.load());
    postNotificationRt(NotificationKind::transport, 0, 0.0f);
}

void Engine::applyRequestRt(const Request &request, const GraphSnapshot &snapshot) {
    expectAudioThread("Engine::applyRequestRt");
    switch (request.type) {
    case RequestType::play:
        transport.playing.store(true);
        postNotificationRt(NotificationKind::transport, 0, 1.0f);
        break;
    case RequestType::stop: stopTransportRt(snapshot, true); break;
    case RequestType::pause: stopTransportRt(snapshot, false); break;
    case RequestType::recordToggle: transport.recording.store(!transport.recording.load()); break;
    case RequestType::setTempo: tempo.store(request.bpm()); break;
    case RequestType::setCycle:
        transport.setCycleRt(request.cycleStart(), static_cast<double>(request.cycleEnd()),
                             request.cycleEnabled());
        break;
    case RequestType::locate:
        transport.locateRt(request.position());
        followTempoRt(snapshot, transport.playhead.load());
        break;
    case RequestType::launchSessionClip:
        sessionPlayer.launchClipRt(snapshot, request.clipId(), transport.playhead.load());
        break;
    case RequestType::launchScene:
        sessionPlayer.launchSceneRt(snapshot, request.sceneId(), transport.playhead.load());
        break;
    case RequestType::resetSession:
        sessionPlayer.stopRt(snapshot, transport.playhead.load());
        break;
    case RequestType::releaseSessionClip: sessionPlayer.releaseClipRt(request.clipId()); break;
    case RequestType::midiNoteOn:
        if (controllers.takeEventRt(midiEventOf(request))) break;
        noteOnRt(request.channel(), request.note(), request.velocity(), 0, blocks.pieceFrames);
        break;
    case RequestType::midiNoteOff:
        if (controllers.takeEventRt(midiEventOf(request))) break;
        noteOffRt(request.channel(), request.note(), 0);
        break;
    case RequestType::midiControlChange: (void)controllers.takeEventRt(midiEventOf(request)); break;
    case RequestType::auditionTrack:
        liveMidi.auditionTrackId = static_cast<uint64_t>(request.a);
        break;
    case RequestType::midiPitchBend:
        if (controllers.takeEventRt(midiEventOf(request))) break;
        liveMidi.pitchBendRt(request.channel(), static_cast<float>(request.bendCents()));
        break;
    case RequestType::midiPressure:
        liveMidi.notePressureRt(request.note(),
                                static_cast<float>(std::clamp(request.pressure(), 0.0, 1.0)));
        break;
    case RequestType::midiChannelPressure:
        liveMidi.channelPressureRt(request.channel(),
                                   static_cast<float>(std::clamp(request.pressure(), 0.0, 1.0)));
        break;
    case RequestType::beginMidiRecording: midiRecorder.beginRt(request.a); break;
    case RequestType::recordMidiNoteOn:
        midiRecorder.noteOnRt(static_cast<int32_t>(request.a), saturatingToInt64(request.c));
        break;
    case RequestType::recordMidiNoteOff:
        midiRecorder.noteOffRt(static_cast<int32_t>(request.a), static_cast<float>(request.b),
                               saturatingToInt64(request.c));
        break;
    case RequestType::endMidiRecording:
        midiRecorder.endRt(request.a, static_cast<uint64_t>(request.b), liveMidi);
        break;
    default: break; // unknown types are consumed and ignored
    }
}

// --- Session (main thread) ----------------------------------------------------------------

std::vector<uint64_t> Engine::captureSessionToArrangement() {
    std::lock_guard lock(projectMutex);
    const SessionTableCopy table = readSessionTable();
    const int64_t now = transport.playhead.load();
    std::vector<uint64_t> captured;
    for (int32_t i = 0; i < table.count; ++i) {
        const ActiveSessionClip &entry = table.entries[static_cast<std::size_t>(i)];
        if (!entry.playing && entry.offset < 1) continue;
        const std::shared_ptr<Clip> source = project.findClip(entry.clipId);
        if (!source) continue;
        const std::shared_ptr<Clip> copy = project.addClip(source->trackId, source->kind);
        if (!copy) continue;
        const uint64_t id = copy->id;
        *copy = *source;
        copy->id = id;
        copy->arrangeStart = now;
        copy->sessionRow = copy->sessionCol = -1;
        copy->name = "Capture " + source->name;
        copy->loop = false;
        const int64_t played = std::max<int64_t>(entry.offset, 1);
        if (copy->kind == ClipKind::Audio) {
            copy->length =
                std::min(played, std::max({source->length, int64_t{1}, source->audioFrameCount()}));
        } else {
            copy->length = played;
            std::erase_if(copy->notes,
                          [played](const MidiNote &note) { return note.start >= played; });
            for (MidiNote &note : copy->notes)
                note.length = std::min(note.length, played - note.start);
        }
        captured.push_back(id);
    }
    publishGraph();
    return captured;
}

void Engine::applyMidiEventRt(const MidiEvent &event, int32_t frame, int32_t frames) {
    // A learned controller is a control: it moves its target and plays nothing.
    if (controllers.takeEventRt(event)) return;
    const int32_t channel = event.status & 15;
    switch (event.status & 0xF0) {
    case 0x90:
        if (event.data2 > 0) {
            noteOnRt(channel, event.data1 & 127, event.data2 / 127.0, frame, frames);
            break;
        }
        [[fallthrough]]; // a note-on of velocity 0 is a note-off
    case 0x80: noteOffRt(channel, event.data1 & 127, frame); break;
    case 0xA0: liveMidi.notePressureRt(event.data1 & 127, (event.data2 & 127) / 127.0f); break;
    case 0xD0: liveMidi.channelPressureRt(channel, (event.data1 & 127) / 127.0f); break;
    case 0xE0: {
        const int32_t value = ((event.data2 & 127) << 7 | (event.data1 & 127)) - 8192;
        liveMidi.pitchBendRt(channel, static_cast<float>(value) * 200.0f / 8192.0f);
        break;
    }
    default: break;
    }
}

void Engine::noteOnRt(int32_t channel, int32_t note, double velocity, int32_t frame,
                      int32_t frames) {
    if (!(velocity > 0.0)) return;
    liveMidi.noteOnRt(channel, note, static_cast<float>(std::min(velocity, 1.0)), frame, frames);
    if (midiRecorder.active.load())
        midiRecorder.noteOnRt(note & 127, saturatingAdd(transport.playhead.load(), frame));
}

void Engine::noteOffRt(int32_t channel, int32_t note, int32_t frame) {
    const auto key = static_cast<std::size_t>(note & 127);
    if (midiRecorder.active.load()) {
        const float held = liveMidi.heldVelocity[key] > LiveMidiState::audibleVelocity
                               ? liveMidi.heldVelocity[key]
                               : 0.8f;
        midiRecorder.noteOffRt(note & 127, held, saturatingAdd(transport.playhead.load(), frame));
    }
    liveMidi.noteOffRt(channel, note, frame);
}

} // namespace orvane
