#include "core/engine/Engine.h"

#include "core/model/MusicalTime.h"
#include "core/music/ExpressionMaps.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace orvane {

namespace {

int64_t pdcLineLength(int64_t renderBlockSize) {
    return std::max<int64_t>(renderBlockSize, 64) + Engine::pdcHeadroomSamples;
}

std::shared_ptr<RenderScratch> makeScratch(int64_t size) {
    auto buffers = std::make_shared<RenderScratch>();
    buffers->blockSize = size;
    const auto length = static_cast<std::size_t>(size);
    buffers->masterLeft.assign(length, 0.0f);
    buffers->masterRight.assign(length, 0.0f);
    buffers->trackLeft.assign(length, 0.0f);
    buffers->trackRight.assign(length, 0.0f);
    for (std::size_t slot = 0; slot < 8; ++slot) {
        buffers->returnLeft[slot].assign(length, 0.0f);
        buffers->returnRight[slot].assign(length, 0.0f);
    }
    return buffers;
}

/// A deep copy of the track and its clips, so the snapshot shares no container with the
/// live project. Sample buffers stay shared: they are immutable once published.
std::shared_ptr<const Track> snapshotTrack(const Track &track) {
    auto copy = std::make_shared<Track>(track);
    for (auto &clip : copy->clips)
        if (clip) clip = std::make_shared<Clip>(*clip);
    return copy;
}

bool sameInsertIds(const StockInsertChain &chain, const Track &track) {
    if (chain.processors.size() != track.inserts.size()) return false;
    for (std::size_t i = 0; i < track.inserts.size(); ++i)
        if (chain.processors[i].pluginId != track.inserts[i].pluginId ||
            chain.processors[i].isStock != track.inserts[i].isStock)
            return false;
    return true;
}

/// Delay and reverb inserts run the stock processors with their default settings: a
/// quarter-second echo at 30 % feedback and half mix, and a medium room at 30 % mix.
std::shared_ptr<StockInsertChain> makeStockChain(const Track &track, double rate) {
    auto chain = std::make_shared<StockInsertChain>();
    chain->processors.resize(track.inserts.size());
    for (std::size_t i = 0; i < track.inserts.size(); ++i) {
        const InsertSlot &insert = track.inserts[i];
        StockInsertProcessor &processor = chain->processors[i];
        processor.pluginId = insert.pluginId;
        processor.isStock = insert.isStock;
        if (!insert.isStock) continue;
        if (insert.pluginId == "stock.delay") {
            processor.delay = std::make_unique<stock::Delay>();
            processor.delay->prepare(rate);
        } else if (insert.pluginId == "stock.reverb") {
            processor.reverb = std::make_unique<stock::Reverb>();
            processor.reverb->prepare(rate);
        }
    }
    return chain;
}

} // namespace

Engine::Engine() {
    notePressure.fill(1.0f);
    lastNoteOnChannel.fill(-1);
    publishGraph();
}

Engine::~Engine() {
    // No audio thread may be rendering when the engine goes away.
    graphForAudio.store(nullptr);
    retiredGraphs.clear();
}

// --- Publication -------------------------------------------------------------------------

std::shared_ptr<const GraphSnapshot> Engine::currentGraph() const {
    std::lock_guard lock(projectMutex);
    return publishedGraph;
}

void Engine::setInsertHook(InsertHook hook) {
    std::lock_guard lock(projectMutex);
    insertHook = std::move(hook);
    publishGraph();
}

void Engine::setLatencyHook(LatencyHook hook) {
    std::lock_guard lock(projectMutex);
    latencyHook = std::move(hook);
    publishGraph();
}

void Engine::ensureRenderCaches() {
    const int64_t size = rtBlockSize.load();
    if (size < 1) {
        // Released: nothing renders until the next prepare.
        scratch.reset();
        trackStates.clear();
        stockChains.clear();
        masterState.reset();
        return;
    }
    if (!scratch || scratch->blockSize != size) scratch = makeScratch(size);
    const double rate = sampleRate.load();
    if (!masterState) {
        masterState = std::make_shared<MasterRenderState>();
        masterState->eq.prepare(rate);
        masterState->mastering.prepare(rate);
    }
    std::erase_if(stockChains,
                  [this](const auto &entry) { return !project.findTrack(entry.first); });
    for (const auto &track : project.tracks) {
        if (!track) continue;
        auto &chain = stockChains[track->id];
        if (!chain || !sameInsertIds(*chain, *track)) chain = makeStockChain(*track, rate);
    }
    const int64_t lineLength = pdcLineLength(std::max<int64_t>(blockSize.load(), size));
    // States of removed tracks go with the snapshots that still hold them.
    std::erase_if(trackStates,
                  [this](const auto &entry) { return !project.findTrack(entry.first); });
    for (const auto &track : project.tracks) {
        if (!track) continue;
        auto &state = trackStates[track->id];
        if (state && static_cast<int64_t>(state->pdc.left.size()) >= lineLength) continue;
        // A new state rather than a resize: the audio thread may be reading the old one.
        auto grown = std::make_shared<TrackRenderState>();
        grown->trackId = track->id;
        grown->pdc.left.assign(static_cast<std::size_t>(lineLength), 0.0f);
        grown->pdc.right.assign(static_cast<std::size_t>(lineLength), 0.0f);
        grown->eq.setSettings(track->eq);
        grown->eq.prepare(rate);
        state = std::move(grown);
    }
}

std::shared_ptr<GraphSnapshot> Engine::buildSnapshot() {
    auto snapshot = std::make_shared<GraphSnapshot>();
    snapshot->tracks.reserve(project.tracks.size());
    for (const auto &track : project.tracks)
        if (track) snapshot->tracks.push_back(snapshotTrack(*track));
    snapshot->rows = project.session.rows;
    snapshot->cols = project.session.cols;
    snapshot->launchQuantize = project.session.launchQuantize;
    snapshot->scenes = project.session.scenes;
    snapshot->tempoBpm = project.tempoBpm;
    snapshot->timeSignature = project.timeSignature;
    snapshot->tempoMarkers = project.tempoMarkers;
    snapshot->meterMarkers = project.meterMarkers;
    snapshot->controlRoom = project.controlRoom;
    snapshot->masterEq = project.masterEq;
    snapshot->mastering = project.mastering;
    snapshot->metronomeVolume = project.metronomeVolume;
    snapshot->sessionMode = sessionMode.load();
    snapshot->expressionMaps =
        project.expressionMaps.empty() ? defaultExpressionMaps() : project.expressionMaps;
    snapshot->scalaCents = project.scalaCents;
    snapshot->scaleRoot = project.scaleRoot;
    snapshot->scaleMinor = project.scaleMinor;
    snapshot->kbmDegrees = project.kbmDegrees;
    for (const auto &track : snapshot->tracks) {
        if (track->armed) snapshot->anyArmed = true;
        if (track->type == TrackType::Return && snapshot->returnCount < 8)
            snapshot->returnIds[static_cast<std::size_t>(snapshot->returnCount++)] = track->id;
    }

    snapshot->sampleRate = sampleRate.load();
    snapshot->sortedTempoMarkers = sortedTempoMarkers(project.tempoMarkers);
    snapshot->trackStates.reserve(snapshot->tracks.size());
    snapshot->trackMeters = std::make_unique<TrackMeter[]>(snapshot->tracks.size());
    // Meters carry over, so a track that stops sounding keeps showing its last peaks.
    std::unordered_map<uint64_t, const TrackMeter *> previousMeters;
    if (publishedGraph)
        for (std::size_t i = 0; i < publishedGraph->tracks.size(); ++i)
            previousMeters[publishedGraph->tracks[i]->id] = &publishedGraph->trackMeters[i];
    for (std::size_t i = 0; i < snapshot->tracks.size(); ++i) {
        const auto &track = snapshot->tracks[i];
        if (const auto previous = previousMeters.find(track->id);
            previous != previousMeters.end()) {
            snapshot->trackMeters[i].peakL.store(
                previous->second->peakL.load(std::memory_order_relaxed), std::memory_order_relaxed);
            snapshot->trackMeters[i].peakR.store(
                previous->second->peakR.load(std::memory_order_relaxed), std::memory_order_relaxed);
        }
        const auto state = trackStates.find(track->id);
        snapshot->trackStates.push_back(state == trackStates.end() ? nullptr : state->second);
        const auto chain = stockChains.find(track->id);
        snapshot->stockChains.push_back(chain == stockChains.end() ? nullptr : chain->second);
        snapshot->trackMeters[i].trackId.store(track->id, std::memory_order_relaxed);
    }
    snapshot->scratch = scratch;
    snapshot->master = masterState;
    snapshot->flashback = flashback;
    snapshot->insertHook = insertHook;
    snapshot->latencyHook = latencyHook;
    return snapshot;
}

void Engine::publishGraph() {
    std::lock_guard lock(projectMutex);
    ensureRenderCaches();
    auto snapshot = buildSnapshot();
    if (!sceneTempoInForce.load()) tempo.store(usableBpm(project.tempoBpm));
    if (!sceneMeterInForce.load()) meter.store(project.timeSignature.packed());
    metronomeOn.store(project.metronomeEnabled);

    std::shared_ptr<const GraphSnapshot> previous = std::move(publishedGraph);
    publishedGraph = std::move(snapshot);
    graphForAudio.store(publishedGraph.get(), std::memory_order_seq_cst);
    if (previous) retiredGraphs.push_back(std::move(previous));
    talkback.store(project.controlRoom.talkback);
    collectRetiredGraphs();
}

void Engine::collectRetiredGraphs() {
    std::lock_guard lock(projectMutex);
    const GraphSnapshot *inUse = graphInUse.load(std::memory_order_seq_cst);
    std::erase_if(retiredGraphs, [inUse](const auto &retired) { return retired.get() != inUse; });
}

void Engine::copyTrackMetersToProject() {
    std::lock_guard lock(projectMutex);
    if (!publishedGraph) return;
    const auto &snapshot = *publishedGraph;
    for (std::size_t i = 0; i < snapshot.tracks.size(); ++i) {
        const TrackMeter &meterSlot = snapshot.trackMeters[i];
        if (auto track = project.findTrack(meterSlot.trackId.load(std::memory_order_relaxed))) {
            track->peakL = meterSlot.peakL.load(std::memory_order_relaxed);
            track->peakR = meterSlot.peakR.load(std::memory_order_relaxed);
        }
    }
}

void Engine::replaceProject(Project replacement) {
    std::lock_guard lock(projectMutex);
    project = std::move(replacement);
    sampleRate.store(project.sampleRate);
    // Track ids start again in every project: no effect tail or delay line may carry over
    // from a track of the old project that happens to share an id.
    trackStates.clear();
    stockChains.clear();
    masterState.reset();
    // The old project's session entries name clips of the old project.
    // Without a device nothing would carry it out before a capture reads the table.
    const Request reset{RequestType::resetSession, 0, 0.0, 0.0};
    if (!pushRequest(RequestProducer::MainThread, reset) && drainRequestsWhileIdle())
        pushRequest(RequestProducer::MainThread, reset);
    drainRequestsWhileIdle();
    publishGraph();
}

void Engine::prepareToPlay(double newSampleRate, int32_t newBlockSize) {
    std::lock_guard lock(projectMutex);
    sampleRate.store(newSampleRate);
    blockSize.store(newBlockSize);
    rtBlockSize.store(std::max<int64_t>(newBlockSize, 64));
    // Processors are prepared for the new rate: build them afresh.
    trackStates.clear();
    stockChains.clear();
    masterState.reset();
    flashback = std::make_shared<FlashbackRing>(FlashbackRing::framesFor(
        newSampleRate > 0.0 ? newSampleRate : project.sampleRate, project.flashbackBufferSeconds));
    publishGraph();
}

void Engine::releaseResources() {
    std::lock_guard lock(projectMutex);
    rtBlockSize.store(0);
    trackStates.clear();
    publishGraph();
}

void Engine::rebuildRtCaches(int32_t newBlockSize) {
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
    return requestRings[static_cast<std::size_t>(producer)].push(request);
}

bool Engine::popNotification(Notification &notification) { return notifications.pop(notification); }

void Engine::postNotificationRt(uint8_t kind, uint64_t id, float value) {
    notifications.push(Notification{kind, id, value});
}

// --- Audio thread ------------------------------------------------------------------------

const GraphSnapshot *Engine::acquireGraphRt() {
    const GraphSnapshot *snapshot = graphForAudio.load(std::memory_order_seq_cst);
    while (true) {
        graphInUse.store(snapshot, std::memory_order_seq_cst);
        const GraphSnapshot *again = graphForAudio.load(std::memory_order_seq_cst);
        if (again == snapshot) return snapshot;
        snapshot = again;
    }
}

void Engine::releaseGraphRt() { graphInUse.store(nullptr, std::memory_order_seq_cst); }

namespace {

void clearChannels(float *const *channels, int32_t channelCount, int32_t frames) {
    if (!channels || channelCount < 1 || frames < 1) return;
    for (int32_t channel = 0; channel < channelCount; ++channel)
        if (channels[channel]) std::fill_n(channels[channel], frames, 0.0f);
}

} // namespace

bool Engine::beginOfflineRender() {
    bool expected = false;
    if (!offlineRendering.compare_exchange_strong(expected, true)) return false;
    // Wait for a device block that started before the hand-over to finish.
    while (blockInProgress.load()) {
    }
    return true;
}

void Engine::endOfflineRender() { offlineRendering.store(false); }

void Engine::processBlock(float *const *channels, int32_t channelCount, int32_t frames) {
    if (offlineRendering.load() || blockInProgress.exchange(true)) {
        clearChannels(channels, channelCount, frames);
        return;
    }
    if (offlineRendering.load()) {
        clearChannels(channels, channelCount, frames);
    } else {
        renderBlockRt(channels, channelCount, frames, false);
    }
    blockInProgress.store(false);
}

bool Engine::drainRequestsWhileIdle() {
    using namespace std::chrono;
    const int64_t now = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    // A device calls at least every few tens of milliseconds; a longer silence means none does.
    constexpr int64_t idleAfterNanos = 200'000'000;
    if (now - lastBlockStartNanos.load(std::memory_order_relaxed) < idleAfterNanos) return false;
    if (blockInProgress.exchange(true)) return false;
    const GraphSnapshot *snapshot = acquireGraphRt();
    drainRequestsRt(*snapshot);
    releaseGraphRt();
    blockInProgress.store(false);
    return true;
}

void Engine::processBlockOffline(float *const *channels, int32_t channelCount, int32_t frames) {
    if (!offlineRendering.load() || blockInProgress.exchange(true)) {
        clearChannels(channels, channelCount, frames);
        return;
    }
    renderBlockRt(channels, channelCount, frames, true);
    blockInProgress.store(false);
}

void Engine::renderBlockRt(float *const *channels, int32_t channelCount, int32_t frames,
                           bool mixdown) {
    lastBlockStartNanos.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count(),
                              std::memory_order_relaxed);
    const GraphSnapshot *snapshot = acquireGraphRt();
    drainRequestsRt(*snapshot);
    clearChannels(channels, channelCount, frames);

    const bool isPlaying = playing.load();
    const bool isRecording = recording.load();
    if (!isPlaying && !isRecording) {
        releaseGraphRt();
        return;
    }

    const int64_t position = playhead.load();
    bool sessionRendered = false;
    if (!mixdown && isPlaying && sessionMode.load() && activeCount > 0) {
        renderSessionRt(*snapshot, channels, channelCount, frames, position);
        sessionRendered = true;
    }
    if ((isPlaying && !sessionRendered) || (!isPlaying && isRecording))
        renderArrangementRt(*snapshot, channels, channelCount, frames, position);
    if (!mixdown) renderMetronomeRt(*snapshot, channels, channelCount, frames, position);

    int64_t next = position + std::max<int32_t>(frames, 0);
    const int64_t cycleStart = loopStart.load();
    const int64_t cycleEnd = loopEnd.load();
    if (!mixdown && loopEnabled.load() && cycleEnd > cycleStart && next >= cycleEnd)
        next = cycleStart + (next - cycleEnd) % (cycleEnd - cycleStart);
    playhead.store(next);
    followTempoRt(*snapshot, next);
    publishSessionTableRt();
    releaseGraphRt();
}

void Engine::drainRequestsRt(const GraphSnapshot &snapshot) {
    Request request;
    for (auto &ring : requestRings)
        while (ring.pop(request))
            applyRequestRt(request, snapshot);
    publishSessionTableRt();
}

void Engine::followTempoRt(const GraphSnapshot &snapshot, int64_t position) {
    if (sceneTempoInForce.load()) return;
    const double inForce =
        usableBpm(tempoAtPosition(position, snapshot.tempoMarkers, snapshot.tempoBpm));
    if (std::abs(inForce - tempo.load()) > 0.01) tempo.store(inForce);
}

void Engine::stopTransportRt(const GraphSnapshot &snapshot, bool rewind) {
    playing.store(false);
    recording.store(false);
    // Stop ends the performance and hands playback back to the arrangement; pause keeps the
    // session where it is, so that play carries on.
    if (rewind) {
        playhead.store(0);
        stopSessionRt(snapshot);
    }
    postNotificationRt(NotificationKind::transport, 0, 0.0f);
}

void Engine::applyRequestRt(const Request &request, const GraphSnapshot &snapshot) {
    switch (request.type) {
    case RequestType::play:
        playing.store(true);
        postNotificationRt(NotificationKind::transport, 0, 1.0f);
        break;
    case RequestType::stop: stopTransportRt(snapshot, true); break;
    case RequestType::pause: stopTransportRt(snapshot, false); break;
    case RequestType::recordToggle: recording.store(!recording.load()); break;
    case RequestType::setTempo: tempo.store(request.b); break;
    case RequestType::setCycle:
        loopEnabled.store(request.b > 0.5);
        loopStart.store(saturatingToInt64(request.c));
        loopEnd.store(request.a);
        break;
    case RequestType::locate:
        playhead.store(saturatingToInt64(request.b));
        followTempoRt(snapshot, playhead.load());
        break;
    case RequestType::launchSessionClip:
        launchSessionClipRt(snapshot, static_cast<uint64_t>(request.a));
        break;
    case RequestType::launchScene:
        sessionMode.store(true);
        launchSceneRt(snapshot, static_cast<uint64_t>(request.a), playhead.load());
        break;
    case RequestType::resetSession: stopSessionRt(snapshot); break;
    case RequestType::releaseSessionClip:
        for (int32_t i = 0; i < activeCount; ++i) {
            auto &active = activeSessionClips[static_cast<std::size_t>(i)];
            if (active.clipId == static_cast<uint64_t>(request.a))
                active.playing = active.queued = false;
        }
        break;
    case RequestType::midiNoteOn: noteOnRt(request.a, request.b); break;
    case RequestType::midiNoteOff: noteOffRt(request.a); break;
    case RequestType::midiPitchBend: {
        const int32_t note = lastNoteOnChannel[static_cast<std::size_t>(request.a & 15)];
        // -1 means no key is held on that channel: there is nothing to bend.
        if (note >= 0 && note < 128)
            noteBend[static_cast<std::size_t>(note)] = static_cast<float>(request.c);
        break;
    }
    case RequestType::midiPressure:
        notePressure[static_cast<std::size_t>(request.a & 127)] =
            static_cast<float>(std::clamp(request.b, 0.0, 1.0));
        break;
    case RequestType::beginMidiRecording: beginMidiRecordingRt(request.a); break;
    case RequestType::recordMidiNoteOn:
        recordNoteOnRt(static_cast<int32_t>(request.a), saturatingToInt64(request.c));
        break;
    case RequestType::recordMidiNoteOff:
        recordNoteOffRt(static_cast<int32_t>(request.a), static_cast<float>(request.b),
                        saturatingToInt64(request.c));
        break;
    case RequestType::endMidiRecording:
        endMidiRecordingRt(request.a, static_cast<uint64_t>(request.b));
        break;
    default: break; // unknown types are consumed and ignored
    }
}

void Engine::noteOnRt(int64_t channelAndNote, double velocity) {
    if (!(velocity > 0.0)) return;
    const auto note = static_cast<std::size_t>(channelAndNote & 127);
    const auto channel = static_cast<std::size_t>((channelAndNote >> 8) & 15);
    heldVelocity[note] = static_cast<float>(std::min(velocity, 1.0));
    notePressure[note] = 1.0f;
    lastNoteOnChannel[channel] = static_cast<int32_t>(note);
    if (midiRecordActive.load()) recordNoteOnRt(static_cast<int32_t>(note), playhead.load());
}

void Engine::noteOffRt(int64_t channelAndNote) {
    const auto note = static_cast<std::size_t>(channelAndNote & 127);
    const auto channel = static_cast<std::size_t>((channelAndNote >> 8) & 15);
    if (midiRecordActive.load()) {
        const float held = heldVelocity[note] > 0.001f ? heldVelocity[note] : 0.8f;
        recordNoteOffRt(static_cast<int32_t>(note), held, playhead.load());
    }
    heldVelocity[note] = 0.0f;
    noteBend[note] = 0.0f;
    notePressure[note] = 1.0f;
    if (lastNoteOnChannel[channel] == static_cast<int32_t>(note)) lastNoteOnChannel[channel] = -1;
}

} // namespace orvane
