#include "core/engine/Engine.h"
#include "core/engine/RenderContext.h"
#include "core/engine/RenderStages.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

void addInto(float *target, const float *source, int32_t frames) {
    for (int32_t i = 0; i < frames; ++i)
        target[i] += source[i];
}

bool allFinite(const float *left, const float *right, int32_t frames) {
    // One sum per channel: any NaN or infinity survives it, and it vectorises.
    float sum = 0.0f;
    for (int32_t i = 0; i < frames; ++i)
        sum += left[i] * 0.0f + right[i] * 0.0f;
    return sum == 0.0f;
}

/// What a non-finite sample leaves behind in the track's state would poison every later
/// block: the EQ and delay lines are cleared and the stock processors prepared afresh
/// (at the same rate, so their buffers keep their size and nothing is allocated).
void resetTrackState(TrackRenderState *state, StockInsertChain *chain, double rate) {
    if (state) {
        state->eq.prepare(rate);
        std::fill(state->pdc.left.begin(), state->pdc.left.end(), 0.0f);
        std::fill(state->pdc.right.begin(), state->pdc.right.end(), 0.0f);
    }
    if (chain)
        for (StockInsertProcessor &processor : chain->processors) {
            if (processor.delay) processor.delay->prepare(rate);
            if (processor.reverb) processor.reverb->prepare(rate);
        }
}

/// Silences a track whose block turned non-finite, so that one broken source or plug-in
/// cannot take the whole mix with it, and reports it once.
bool silenceIfNonFinite(RenderContext &context, std::size_t index, float *left, float *right) {
    if (allFinite(left, right, context.frames)) return false;
    std::fill_n(left, context.frames, 0.0f);
    std::fill_n(right, context.frames, 0.0f);
    TrackRenderState *state = context.dsp.tracks[index].get();
    resetTrackState(state, context.dsp.stockChains[index].get(), context.snapshot.sampleRate);
    if (state && !state->nonFiniteReported) {
        state->nonFiniteReported = true;
        if (context.notifications)
            (void)context.notifications->push(Notification{
                NotificationKind::trackSilenced, context.snapshot.tracks[index]->id, 0.0f});
    }
    return true;
}

void addSends(RenderContext &context, const Track &track, const float *left, const float *right,
              bool preFader) {
    const GraphSnapshot &snapshot = context.snapshot;
    if (snapshot.returnCount < 1) return;
    for (std::size_t k = 0; k < track.sends.size(); ++k) {
        const SendSlot &send = track.sends[k];
        if (send.pre != preFader || send.returnId == 0 || send.level <= 0.0f) continue;
        const uint32_t slot = Engine::returnSlotFor(snapshot, send.returnId);
        if (slot == Engine::noReturnSlot) continue;
        const float gain = sendGain(track, k);
        float *returnLeft = context.scratch.returnLeft[slot].data();
        float *returnRight = context.scratch.returnRight[slot].data();
        for (int32_t i = 0; i < context.frames; ++i) {
            returnLeft[i] += left[i] * gain;
            returnRight[i] += right[i] * gain;
        }
    }
}

void runChannelStages(RenderContext &context, std::size_t index, float *left, float *right) {
    const Track &track = *context.snapshot.tracks[index];
    TrackRenderState *state = context.dsp.tracks[index].get();
    if (track.eq.enabled && !track.eq.bypass && state) {
        // Coefficients are redesigned only when the settings changed, not on every block.
        if (!(state->eq.settings() == track.eq)) state->eq.setSettings(track.eq);
        state->eq.process(left, right, context.frames);
    }
    processStockFx(track, context.dsp.stockChains[index].get(), left, right, context.frames);
    if (context.snapshot.insertHook)
        context.snapshot.insertHook(track.id, left, right, context.frames);
}

void storePeaks(RenderContext &context, std::size_t index, Peaks peaks) {
    // Meters are the live display: an export leaves them alone.
    if (!context.meters) return;
    context.snapshot.trackMeters[index].peakL.store(peaks.left, std::memory_order_relaxed);
    context.snapshot.trackMeters[index].peakR.store(peaks.right, std::memory_order_relaxed);
}

void renderReturnTrack(RenderContext &context, std::size_t index) {
    const Track &track = *context.snapshot.tracks[index];
    if (trackMutedAt(track, context.position) || (context.anySolo && !track.solo)) return;
    const uint32_t slot = Engine::returnSlotFor(context.snapshot, track.id);
    if (slot == Engine::noReturnSlot) return;
    float *left = context.scratch.returnLeft[slot].data();
    float *right = context.scratch.returnRight[slot].data();
    runChannelStages(context, index, left, right);
    if (silenceIfNonFinite(context, index, left, right)) return;
    storePeaks(context, index, applyMixer(track, left, right, context.frames, -1.0f, 2.0f));
    addInto(context.scratch.masterLeft.data(), left, context.frames);
    addInto(context.scratch.masterRight.data(), right, context.frames);
}

} // namespace

bool beginTracksRt(RenderContext &context) {
    const GraphSnapshot &snapshot = context.snapshot;
    RenderScratch &buffers = context.scratch;
    if (context.frames < 1 || context.frames > buffers.blockSize ||
        buffers.trackLatencies.size() < snapshot.tracks.size() ||
        context.dsp.tracks.size() < snapshot.tracks.size() ||
        context.dsp.stockChains.size() < snapshot.tracks.size())
        return false;
    const auto count = static_cast<std::size_t>(context.frames);
    std::fill_n(buffers.masterLeft.data(), count, 0.0f);
    std::fill_n(buffers.masterRight.data(), count, 0.0f);
    for (int64_t slot = 0; slot < std::min<int64_t>(snapshot.returnCount, 8); ++slot) {
        std::fill_n(buffers.returnLeft[static_cast<std::size_t>(slot)].data(), count, 0.0f);
        std::fill_n(buffers.returnRight[static_cast<std::size_t>(slot)].data(), count, 0.0f);
    }
    context.anySolo = false;
    context.maxLatency = 0;
    // Each latency is read once per block, so the largest and each track's own always come
    // from the same state of the plug-ins, even while the rack publishes.
    for (std::size_t index = 0; index < snapshot.tracks.size(); ++index) {
        const Track &track = *snapshot.tracks[index];
        context.anySolo = context.anySolo || track.solo;
        const int64_t latency = snapshot.latencyHook ? snapshot.latencyHook(track.id) : 0;
        buffers.trackLatencies[index] = std::clamp<int64_t>(latency, 0, Engine::pdcHeadroomSamples);
        context.maxLatency = std::max(context.maxLatency, buffers.trackLatencies[index]);
    }
    return true;
}

void renderSourceTrackRt(RenderContext &context, std::size_t index, TrackSource &source) {
    const Track &track = *context.snapshot.tracks[index];
    const int32_t frames = context.frames;
    const int64_t position = context.position;
    if (trackMutedAt(track, position) || (context.anySolo && !track.solo)) return;
    float *left = context.scratch.trackLeft.data();
    float *right = context.scratch.trackRight.data();
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
    source.produceRt(context, index, left, right);
    if (silenceIfNonFinite(context, index, left, right)) return;

    const float laneGain = readAutomationAt(track, 0, position, track.gain);
    addSends(context, track, left, right, true);
    runChannelStages(context, index, left, right);
    if (TrackRenderState *state = context.dsp.tracks[index].get())
        applyPdcDelay(&state->pdc, left, right, frames,
                      context.maxLatency - context.scratch.trackLatencies[index]);
    if (silenceIfNonFinite(context, index, left, right)) return;
    const Peaks peaks = hasMixerAutomation(track)
                            ? applyMixerAutomation(track, left, right, frames, position)
                            : applyMixer(track, left, right, frames, laneGain, track.pan);
    storePeaks(context, index, peaks);
    addSends(context, track, left, right, false);
    addInto(context.scratch.masterLeft.data(), left, frames);
    addInto(context.scratch.masterRight.data(), right, frames);
}

void renderReturnTracksRt(RenderContext &context) {
    for (std::size_t index = 0; index < context.snapshot.tracks.size(); ++index)
        if (context.snapshot.tracks[index]->type == TrackType::Return)
            renderReturnTrack(context, index);
}

bool renderTracksRt(RenderContext &context, TrackSource &source) {
    if (!beginTracksRt(context)) return false;
    for (std::size_t index = 0; index < context.snapshot.tracks.size(); ++index)
        if (context.snapshot.tracks[index]->type != TrackType::Return)
            renderSourceTrackRt(context, index, source);
    renderReturnTracksRt(context);
    return true;
}

void finishMasterRt(RenderContext &context) {
    if (!context.outputs || context.outputChannelCount < 1 || !context.outputs[0]) return;
    const int32_t frames = context.frames;
    float *left = context.scratch.masterLeft.data();
    float *right = context.scratch.masterRight.data();
    const GraphSnapshot &snapshot = context.snapshot;
    if (MasterRenderState *master = context.dsp.master.get()) {
        if (!(master->eq.settings() == snapshot.masterEq))
            master->eq.setSettings(snapshot.masterEq);
        master->eq.process(left, right, frames);
        master->mastering.setSettings(snapshot.mastering);
        master->mastering.process(left, right, frames);
    }
    if (context.meters) context.meters->updateRt(snapshot.sampleRate, left, right, frames);
    if (context.flashback) pushFlashbackRt(*context.flashback, left, right, frames);
    writeMasterOutput(snapshot.controlRoom, left, right, context.outputs,
                      context.outputChannelCount, frames);
}

} // namespace orvane
