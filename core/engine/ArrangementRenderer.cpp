#include "core/engine/ClipVoices.h"
#include "core/engine/Engine.h"
#include "core/engine/RenderStages.h"
#include "core/model/MusicalTime.h"
#include "core/music/Tuning.h"

#include <algorithm>

namespace orvane {

namespace {

void addAudioClip(const Clip &clip, float *left, float *right, int32_t frames, int64_t position) {
    const int64_t span = audioClipSpan(clip);
    if (span < 1) return;
    const int64_t begin = std::max(position, clip.arrangeStart);
    const int64_t end = std::min(position + frames, saturatingAdd(clip.arrangeStart, span));
    if (begin >= end || clip.audioFrameCount() < 1) return;
    // The warp map is the same for every frame of the block: build it once.
    const ClipWarpTable warp = buildClipWarpTable(clip);
    const auto index = static_cast<std::size_t>(begin - position);
    addAudioClipFrames(clip, warp, begin - clip.arrangeStart, end - begin, left + index,
                       right + index, ClipLevel{clip.gain});
}

} // namespace

void Engine::addMidiClipRt(const GraphSnapshot &snapshot, const Clip &clip,
                           const ExpressionMap *map, float *left, float *right, int32_t frames,
                           int64_t position) const {
    const double rate = snapshot.sampleRate > 0.0 ? snapshot.sampleRate : 48000.0;
    const int64_t blockEnd = position + frames;
    for (const MidiNote &note : clip.notes) {
        const int64_t noteStart = saturatingAdd(clip.arrangeStart, note.start);
        const int64_t begin = std::max(position, noteStart);
        const int64_t end = std::min(blockEnd, saturatingAdd(noteStart, note.length));
        if (begin >= end) continue;
        double frequency = 0.0;
        float scale = 1.0f;
        if (!noteVoiceRt(snapshot, map, clip, note, frequency, scale)) continue;
        const float level = clip.gain * scale * note.expression * note.velocity * noteVoiceLevel;
        const auto index = static_cast<std::size_t>(begin - position);
        addSineFrames(level, begin - noteStart, frequency, rate, left + index, right + index,
                      end - begin);
    }
}

void Engine::addLiveInputRt(const GraphSnapshot &snapshot, const Track &track, float *left,
                            float *right, int32_t frames, int64_t position) const {
    const double rate = snapshot.sampleRate > 0.0 ? snapshot.sampleRate : 48000.0;
    for (std::size_t note = 0; note < 128; ++note) {
        const float velocity = heldVelocity[note];
        if (velocity <= 0.001f) continue;
        const double frequency = midiNoteFrequencyTuned(
            static_cast<double>(note) + noteBend[note] / 100.0, snapshot.scaleRoot,
            snapshot.scaleMinor, snapshot.kbmDegrees, snapshot.scalaCents);
        const float pressure = track.mpeEnabled ? notePressure[note] : 1.0f;
        addSineFrames(velocity * pressure * noteVoiceLevel, position, frequency, rate, left, right,
                      frames);
    }
}

void Engine::produceArrangementSourceRt(const GraphSnapshot &snapshot, const Track &track,
                                        float *left, float *right, int32_t frames,
                                        int64_t position) const {
    if (track.type == TrackType::Audio) {
        for (const auto &clip : track.clips)
            if (clip->kind == ClipKind::Audio && clip->takeActive && !clip->isSessionClip() &&
                clip->audio)
                addAudioClip(*clip, left, right, frames, position);
        return;
    }
    if (track.type != TrackType::Midi) return;
    const ExpressionMap *map = trackExpressionMap(snapshot, track);
    for (const auto &clip : track.clips) {
        if (clip->kind != ClipKind::Midi || clip->isSessionClip()) continue;
        if (clip->arrangeStart >= position + frames ||
            saturatingAdd(clip->arrangeStart, clip->length) <= position)
            continue;
        addMidiClipRt(snapshot, *clip, map, left, right, frames, position);
    }
    if (track.armed) addLiveInputRt(snapshot, track, left, right, frames, position);
}

void Engine::renderArrangementRt(const GraphSnapshot &snapshot, float *const *channels,
                                 int32_t channelCount, int32_t frames, int64_t position) {
    if (!prepareTracksRt(snapshot, frames)) return;
    renderTracksRt(snapshot, frames, position, TrackSource::Arrangement);
    finishMasterRt(snapshot, channels, channelCount, frames);
}

bool Engine::prepareTracksRt(const GraphSnapshot &snapshot, int32_t frames) {
    RenderScratch *buffers = snapshot.scratch.get();
    if (frames < 1 || !buffers || frames > buffers->blockSize) return false;
    const auto count = static_cast<std::size_t>(frames);
    std::fill_n(buffers->masterLeft.data(), count, 0.0f);
    std::fill_n(buffers->masterRight.data(), count, 0.0f);
    for (int64_t slot = 0; slot < std::min<int64_t>(snapshot.returnCount, 8); ++slot) {
        std::fill_n(buffers->returnLeft[static_cast<std::size_t>(slot)].data(), count, 0.0f);
        std::fill_n(buffers->returnRight[static_cast<std::size_t>(slot)].data(), count, 0.0f);
    }
    return true;
}

void Engine::renderTracksRt(const GraphSnapshot &snapshot, int32_t frames, int64_t position,
                            TrackSource source) {
    bool anySolo = false;
    int64_t maxLatency = 0;
    for (const auto &track : snapshot.tracks) {
        anySolo = anySolo || track->solo;
        if (snapshot.latencyHook)
            maxLatency = std::max(maxLatency, snapshot.latencyHook(track->id));
    }
    for (std::size_t index = 0; index < snapshot.tracks.size(); ++index)
        if (snapshot.tracks[index]->type != TrackType::Return)
            renderSourceTrackRt(snapshot, index, frames, position, source, anySolo, maxLatency);
    for (std::size_t index = 0; index < snapshot.tracks.size(); ++index)
        if (snapshot.tracks[index]->type == TrackType::Return)
            renderReturnTrackRt(snapshot, index, frames, position, anySolo);
}

void Engine::addSendsRt(const GraphSnapshot &snapshot, const Track &track, const float *left,
                        const float *right, int32_t frames, bool preFader) {
    if (snapshot.returnCount < 1) return;
    RenderScratch &buffers = *snapshot.scratch;
    for (std::size_t k = 0; k < track.sends.size(); ++k) {
        const SendSlot &send = track.sends[k];
        if (send.pre != preFader || send.returnId == 0 || send.level <= 0.0f) continue;
        const uint32_t slot = returnSlotFor(snapshot, send.returnId);
        if (slot == noReturnSlot) continue;
        const float gain = sendGain(track, k);
        float *returnLeft = buffers.returnLeft[slot].data();
        float *returnRight = buffers.returnRight[slot].data();
        for (int32_t i = 0; i < frames; ++i) {
            returnLeft[i] += left[i] * gain;
            returnRight[i] += right[i] * gain;
        }
    }
}

void Engine::runChannelStagesRt(const GraphSnapshot &snapshot, std::size_t index, float *left,
                                float *right, int32_t frames) {
    const Track &track = *snapshot.tracks[index];
    TrackRenderState *state = snapshot.trackStates[index].get();
    if (track.eq.enabled && !track.eq.bypass && state) {
        state->eq.setSettings(track.eq);
        state->eq.process(left, right, frames);
    }
    processStockFx(track, snapshot.stockChains[index].get(), left, right, frames);
    if (snapshot.insertHook) snapshot.insertHook(track.id, left, right, frames);
}

void Engine::storePeaksRt(const GraphSnapshot &snapshot, std::size_t index, Peaks peaks) {
    snapshot.trackMeters[index].peakL.store(peaks.left, std::memory_order_relaxed);
    snapshot.trackMeters[index].peakR.store(peaks.right, std::memory_order_relaxed);
}

void Engine::renderSourceTrackRt(const GraphSnapshot &snapshot, std::size_t index, int32_t frames,
                                 int64_t position, TrackSource source, bool anySolo,
                                 int64_t maxLatency) {
    const Track &track = *snapshot.tracks[index];
    if (trackMutedAt(track, position) || (anySolo && !track.solo)) return;
    RenderScratch &buffers = *snapshot.scratch;
    float *left = buffers.trackLeft.data();
    float *right = buffers.trackRight.data();
    std::fill_n(left, frames, 0.0f);
    std::fill_n(right, frames, 0.0f);
    if (source == TrackSource::Arrangement)
        produceArrangementSourceRt(snapshot, track, left, right, frames, position);
    else if (!produceSessionSourceRt(snapshot, index, left, right, frames, position))
        return; // no clip of this track sounds in the session: nothing to send or mix

    const float laneGain = readAutomationAt(track, 0, position, track.gain);
    addSendsRt(snapshot, track, left, right, frames, true);
    runChannelStagesRt(snapshot, index, left, right, frames);
    if (TrackRenderState *state = snapshot.trackStates[index].get()) {
        const int64_t latency = snapshot.latencyHook ? snapshot.latencyHook(track.id) : 0;
        applyPdcDelay(&state->pdc, left, right, frames, maxLatency - latency);
    }
    const Peaks peaks = hasMixerAutomation(track)
                            ? applyMixerAutomation(track, left, right, frames, position)
                            : applyMixer(track, left, right, frames, laneGain, track.pan);
    storePeaksRt(snapshot, index, peaks);
    addSendsRt(snapshot, track, left, right, frames, false);
    for (int32_t i = 0; i < frames; ++i) {
        buffers.masterLeft[static_cast<std::size_t>(i)] += left[i];
        buffers.masterRight[static_cast<std::size_t>(i)] += right[i];
    }
}

void Engine::renderReturnTrackRt(const GraphSnapshot &snapshot, std::size_t index, int32_t frames,
                                 int64_t position, bool anySolo) {
    const Track &track = *snapshot.tracks[index];
    if (trackMutedAt(track, position) || (anySolo && !track.solo)) return;
    const uint32_t slot = returnSlotFor(snapshot, track.id);
    if (slot == noReturnSlot) return;
    RenderScratch &buffers = *snapshot.scratch;
    float *left = buffers.returnLeft[slot].data();
    float *right = buffers.returnRight[slot].data();
    runChannelStagesRt(snapshot, index, left, right, frames);
    storePeaksRt(snapshot, index, applyMixer(track, left, right, frames, -1.0f, 2.0f));
    for (int32_t i = 0; i < frames; ++i) {
        buffers.masterLeft[static_cast<std::size_t>(i)] += left[i];
        buffers.masterRight[static_cast<std::size_t>(i)] += right[i];
    }
}

void Engine::finishMasterRt(const GraphSnapshot &snapshot, float *const *channels,
                            int32_t channelCount, int32_t frames) {
    if (!channels || channelCount < 1 || !channels[0]) return;
    RenderScratch &buffers = *snapshot.scratch;
    float *left = buffers.masterLeft.data();
    float *right = buffers.masterRight.data();
    if (MasterRenderState *master = snapshot.master.get()) {
        master->eq.setSettings(snapshot.masterEq);
        master->eq.process(left, right, frames);
        master->mastering.setSettings(snapshot.mastering);
        master->mastering.process(left, right, frames);
    }
    updateMasterMeters(snapshot, left, right, frames);
    pushFlashback(snapshot, left, right, frames);
    writeMasterOutput(snapshot.controlRoom, left, right, channels, channelCount, frames);
}

} // namespace orvane
