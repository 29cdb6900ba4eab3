#include "core/engine/Engine.h"
#include "core/engine/InstrumentVoices.h"
#include "core/engine/MediaStreams.h"
#include "core/engine/RenderContext.h"
#include "core/engine/RenderStages.h"
#include "core/engine/TrackWorkers.h"
#include "core/model/FrozenTrack.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

void addInto(float *target, const float *source, int32_t frames) {
    for (int32_t i = 0; i < frames; ++i)
        target[i] += source[i];
}

bool allFinite(const float *left, const float *right, int32_t frames) {
    return std::max(largestMagnitudeBits(left, frames), largestMagnitudeBits(right, frames)) <
           nonFiniteMagnitudeBits;
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
/// cannot take the whole mix with it. Touches only the track's own state.
void clearAfterNonFinite(const RenderContext &context, std::size_t index, float *left,
                         float *right) {
    std::fill_n(left, context.frames, 0.0f);
    std::fill_n(right, context.frames, 0.0f);
    resetTrackState(context.dsp.tracks[index].get(), context.dsp.stockChains[index].get(),
                    context.snapshot.sampleRate);
    if (InstrumentState *instrument = instrumentOfRt(context, index))
        resetInstrumentRt(*instrument);
}

/// Says once that a track was silenced; the notification ring has one producer, the thread
/// that owns the block.
void reportSilenced(RenderContext &context, std::size_t index) {
    TrackRenderState *state = context.dsp.tracks[index].get();
    if (state && !state->nonFiniteReported) {
        state->nonFiniteReported = true;
        if (context.notifications)
            (void)context.notifications->push(Notification{
                NotificationKind::trackSilenced, context.snapshot.tracks[index]->id, 0.0f});
    }
}

/// The mixer's peaks already tell whether anything non-finite came through the channel
/// stages (a finite gain keeps an infinity or a NaN non-finite), so the fader's output needs
/// no second pass over the block.
bool peaksNonFinite(Peaks peaks) {
    return !std::isfinite(peaks.left) || !std::isfinite(peaks.right);
}

void addSends(const RenderContext &context, const Track &track, const float *left,
              const float *right, bool preFader) {
    const GraphSnapshot &snapshot = context.snapshot;
    if (snapshot.returnCount < 1) return;
    for (std::size_t k = 0; k < track.sends.size(); ++k) {
        const SendSlot &send = track.sends[k];
        if (send.pre != preFader || send.returnId == 0 || send.level <= 0.0f) continue;
        const uint32_t slot = Engine::returnSlotFor(snapshot, send.returnId);
        if (slot == Engine::noReturnSlot) continue;
        const float gain = sendGain(track, k);
        context.scratch.returnFed[slot] = true;
        float *returnLeft = context.scratch.returnLeft[slot].data();
        float *returnRight = context.scratch.returnRight[slot].data();
        for (int32_t i = 0; i < context.frames; ++i) {
            returnLeft[i] += left[i] * gain;
            returnRight[i] += right[i] * gain;
        }
    }
}

void runChannelStages(const RenderContext &context, std::size_t index, float *left, float *right) {
    const Track &track = *context.snapshot.tracks[index];
    TrackRenderState *state = context.dsp.tracks[index].get();
    if (track.eq.enabled && !track.eq.bypass && state) {
        // Coefficients are redesigned only when the settings changed, not on every block.
        if (!(state->eq.settings() == track.eq)) state->eq.setSettings(track.eq);
        state->eq.process(left, right, context.frames);
    }
    processStockFx(track, context.dsp.stockChains[index].get(), left, right, context.frames,
                   context.position);
    if (context.snapshot.insertHook)
        context.snapshot.insertHook(track.id, left, right, context.frames);
}

void storePeaks(RenderContext &context, std::size_t index, Peaks peaks) {
    // Meters are the live display: an export leaves them alone.
    if (!context.meters) return;
    context.snapshot.trackMeters[index].peakL.store(peaks.left, std::memory_order_relaxed);
    context.snapshot.trackMeters[index].peakR.store(peaks.right, std::memory_order_relaxed);
}

/// Whether silence into the track's stages gives silence out: no inserts (a plug-in may
/// sound on its own) and an EQ that is off or holds no ringing. A return nothing was sent
/// to is then skipped whole, as an export with unused returns does in every block.
bool restsInSilence(const RenderContext &context, std::size_t index) {
    const Track &track = *context.snapshot.tracks[index];
    if (!track.inserts.empty()) return false;
    if (!track.eq.enabled || track.eq.bypass) return true;
    const TrackRenderState *state = context.dsp.tracks[index].get();
    return !state || state->eq.atRest();
}

void renderReturnTrack(RenderContext &context, std::size_t index) {
    // A freeze takes one source track; returns are after the fader.
    if (context.preFaderTrackId != 0) return;
    const Track &track = *context.snapshot.tracks[index];
    if (trackMutedAt(track, context.position) || (context.anySolo && !track.solo)) return;
    const uint32_t slot = Engine::returnSlotFor(context.snapshot, track.id);
    if (slot == Engine::noReturnSlot) return;
    if (!context.scratch.returnFed[slot] && restsInSilence(context, index)) {
        storePeaks(context, index, Peaks{});
        return;
    }
    float *left = context.scratch.returnLeft[slot].data();
    float *right = context.scratch.returnRight[slot].data();
    runChannelStages(context, index, left, right);
    const Peaks peaks = applyMixer(track, left, right, context.frames, -1.0f, 2.0f);
    if (peaksNonFinite(peaks)) {
        clearAfterNonFinite(context, index, left, right);
        reportSilenced(context, index);
        return;
    }
    storePeaks(context, index, peaks);
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
        context.dsp.stockChains.size() < snapshot.tracks.size() ||
        context.dsp.instruments.size() < snapshot.tracks.size())
        return false;
    const auto count = static_cast<std::size_t>(context.frames);
    std::fill_n(buffers.masterLeft.data(), count, 0.0f);
    std::fill_n(buffers.masterRight.data(), count, 0.0f);
    for (int64_t slot = 0; slot < std::min<int64_t>(snapshot.returnCount, 8); ++slot) {
        std::fill_n(buffers.returnLeft[static_cast<std::size_t>(slot)].data(), count, 0.0f);
        std::fill_n(buffers.returnRight[static_cast<std::size_t>(slot)].data(), count, 0.0f);
        buffers.returnFed[static_cast<std::size_t>(slot)] = false;
    }
    context.anySolo = false;
    context.maxLatency = 0;
    // Each latency is read once per block, so the largest and each track's own always come
    // from the same state of the plug-ins, even while the rack publishes.
    for (std::size_t index = 0; index < snapshot.tracks.size(); ++index) {
        const Track &track = *snapshot.tracks[index];
        context.anySolo = context.anySolo || track.solo;
        // A track playing its freeze plays what its inserts made; they no longer run, nor
        // delay it.
        const int64_t latency =
            snapshot.latencyHook && !playsItsFreeze(track) ? snapshot.latencyHook(track.id) : 0;
        buffers.trackLatencies[index] = std::clamp<int64_t>(latency, 0, Engine::pdcHeadroomSamples);
        context.maxLatency = std::max(context.maxLatency, buffers.trackLatencies[index]);
    }
    return true;
}

namespace {

/// Whether anything between a track's source and its fader keeps state from block to block
/// (or feeds a return): the channel EQ, inserts, pre-fader sends, a delay-compensation line.
bool hasStatefulStages(const RenderContext &context, std::size_t index) {
    const Track &track = *context.snapshot.tracks[index];
    const bool preFaderSends =
        std::any_of(track.sends.begin(), track.sends.end(), [](const SendSlot &send) {
            return send.pre && send.returnId != 0 && send.level > 0.0f;
        });
    return (track.eq.enabled && !track.eq.bypass) || !track.inserts.empty() || preFaderSends ||
           context.maxLatency != context.scratch.trackLatencies[index];
}

/// The track's input pair (a missing right side repeats the left) into its source signal.
void addMonitoredInputRt(const RenderContext &context, const Track &track, float *left,
                         float *right) {
    const int32_t first = 2 * track.inputPair;
    if (!context.inputs || first >= context.inputCount || !context.inputs[first]) return;
    const float *inLeft = context.inputs[first] + context.inputFrame;
    const float *inRight = first + 1 < context.inputCount && context.inputs[first + 1]
                               ? context.inputs[first + 1] + context.inputFrame
                               : inLeft;
    for (int32_t i = 0; i < context.frames; ++i) {
        left[i] += inLeft[i];
        right[i] += inRight[i];
    }
}

/// The part of a source track's chain that touches only the track's own state and buffers
/// (and the return buses through pre-fader sends): mute and solo, source, channel stages,
/// delay compensation, fader and pan.
TrackOutcome runSourceTrack(const RenderContext &context, std::size_t index, TrackSource &source,
                            float *left, float *right) {
    const Track &track = *context.snapshot.tracks[index];
    const int32_t frames = context.frames;
    const int64_t position = context.position;
    TrackOutcome outcome;
    // A freeze takes its track whatever the mixer's mute and solo say, and no other.
    const bool tapping = context.preFaderTrackId != 0;
    if (tapping ? track.id != context.preFaderTrackId
                : trackMutedAt(track, position) || (context.anySolo && !track.solo))
        return outcome;
    outcome.audible = true;
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
    {
        const CurrentMediaStreams media(context.media);
        source.produceRt(context, index, left, right);
    }
    if (track.monitorsInput()) addMonitoredInputRt(context, track, left, right);
    // A source gone non-finite must not reach a stage that keeps state; a track without such
    // stages is caught by its fader's peaks below, with the same outcome, at no extra pass.
    if (hasStatefulStages(context, index) && !allFinite(left, right, frames)) {
        clearAfterNonFinite(context, index, left, right);
        outcome.silenced = true;
        return outcome;
    }
    if (tapping) {
        // A freeze keeps the track as its inserts leave it; fader, pan and sends stay live.
        runChannelStages(context, index, left, right);
        outcome.peaks = blockPeaks(left, right, frames);
        if (peaksNonFinite(outcome.peaks)) {
            clearAfterNonFinite(context, index, left, right);
            outcome.silenced = true;
        }
        return outcome;
    }
    const float laneGain = readAutomationAt(track, 0, position, track.gain);
    addSends(context, track, left, right, true);
    // A freeze clip already holds what the channel's stages and inserts made of the track.
    if (!playsItsFreeze(track)) runChannelStages(context, index, left, right);
    if (TrackRenderState *state = context.dsp.tracks[index].get())
        applyPdcDelay(&state->pdc, left, right, frames,
                      context.maxLatency - context.scratch.trackLatencies[index]);
    outcome.peaks = hasMixerAutomation(track)
                        ? applyMixerAutomation(track, left, right, frames, position)
                        : applyMixer(track, left, right, frames, laneGain, track.pan);
    if (peaksNonFinite(outcome.peaks)) {
        clearAfterNonFinite(context, index, left, right);
        outcome.silenced = true;
    }
    return outcome;
}

/// The rest, in track order: the report of a silenced track, the meters, post-fader sends
/// and the master bus.
void finishSourceTrack(RenderContext &context, std::size_t index, const TrackOutcome &outcome,
                       const float *left, const float *right) {
    if (!outcome.audible) return;
    if (outcome.silenced) {
        reportSilenced(context, index);
        return;
    }
    storePeaks(context, index, outcome.peaks);
    addSends(context, *context.snapshot.tracks[index], left, right, false);
    addInto(context.scratch.masterLeft.data(), left, context.frames);
    addInto(context.scratch.masterRight.data(), right, context.frames);
}

/// What the helper of an export needs to run one track.
struct SharedBlock {
    const RenderContext &context;
    TrackSource &source;
    TrackWorkers &workers;
};

void runTrackOfSharedBlock(void *shared, int32_t index) {
    auto &block = *static_cast<SharedBlock *>(shared);
    const auto track = static_cast<std::size_t>(index);
    if (block.context.snapshot.tracks[track]->type == TrackType::Return) {
        block.workers.outcome(track) = TrackOutcome{};
        return;
    }
    block.workers.outcome(track) = runSourceTrack(
        block.context, track, block.source, block.workers.left(track), block.workers.right(track));
}

/// Whether a track reaches anything other tracks reach too while its chain runs: a return bus
/// through a pre-fader send (post-fader sends are added when the owner finishes the track), or
/// an insert hook that serves every track and has not said it takes them at once.
bool touchesSharedState(const GraphSnapshot &snapshot, const Track &track) {
    const bool preFaderSends =
        std::any_of(track.sends.begin(), track.sends.end(), [](const SendSlot &send) {
            return send.pre && send.returnId != 0 && send.level > 0.0f;
        });
    const bool plugins = !snapshot.insertHookTakesTracksConcurrently &&
                         std::any_of(track.inserts.begin(), track.inserts.end(),
                                     [](const InsertSlot &insert) { return !insert.isStock; });
    return preFaderSends || plugins;
}

/// Work enough to be worth a second thread: reading clips and applying the fader is bound by
/// memory, and measured on two cores the hand-over each block costs more than it saves.
bool processesSignal(const Track &track) {
    if (track.type == TrackType::Return) return false; // rendered after, on the owner's thread
    return track.type == TrackType::Midi || (track.eq.enabled && !track.eq.bypass) ||
           !track.inserts.empty();
}

/// Tracks may run side by side when each touches only its own state, and the source reads
/// nothing shared that changes.
bool tracksCanShareBlock(const RenderContext &context, const TrackSource &source) {
    const TrackWorkers *workers = context.workers;
    const auto &tracks = context.snapshot.tracks;
    return workers && source.producesTracksIndependently() && tracks.size() > 1 &&
           std::any_of(tracks.begin(), tracks.end(),
                       [](const auto &track) { return processesSignal(*track); }) &&
           context.frames <= workers->blockSize() &&
           tracks.size() <= static_cast<std::size_t>(workers->trackCapacity()) &&
           std::none_of(tracks.begin(), tracks.end(), [&context](const auto &track) {
               return touchesSharedState(context.snapshot, *track);
           });
}

void renderSourceTracksSharedRt(RenderContext &context, TrackSource &source) {
    TrackWorkers &workers = *context.workers;
    SharedBlock block{context, source, workers};
    const auto count = static_cast<int32_t>(context.snapshot.tracks.size());
    workers.forEach(count, &runTrackOfSharedBlock, &block);
    for (std::size_t index = 0; index < context.snapshot.tracks.size(); ++index)
        if (context.snapshot.tracks[index]->type != TrackType::Return)
            finishSourceTrack(context, index, workers.outcome(index), workers.left(index),
                              workers.right(index));
}

} // namespace

void renderSourceTrackRt(RenderContext &context, std::size_t index, TrackSource &source) {
    float *left = context.scratch.trackLeft.data();
    float *right = context.scratch.trackRight.data();
    const TrackOutcome outcome = runSourceTrack(context, index, source, left, right);
    finishSourceTrack(context, index, outcome, left, right);
}

void renderReturnTracksRt(RenderContext &context) {
    for (std::size_t index = 0; index < context.snapshot.tracks.size(); ++index)
        if (context.snapshot.tracks[index]->type == TrackType::Return)
            renderReturnTrack(context, index);
}

bool renderTracksRt(RenderContext &context, TrackSource &source) {
    if (!beginTracksRt(context)) return false;
    if (tracksCanShareBlock(context, source))
        renderSourceTracksSharedRt(context, source);
    else
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
    if (context.preFaderTrackId != 0) {
        // One track before its fader: the master section is not part of it.
        std::copy_n(left, frames, context.outputs[0]);
        if (context.outputChannelCount > 1 && context.outputs[1])
            std::copy_n(right, frames, context.outputs[1]);
        return;
    }
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
