#include "core/engine/Engine.h"
#include "core/engine/RenderStages.h"
#include "core/model/MusicalTime.h"
#include "core/music/ExpressionMaps.h"
#include "core/music/Tuning.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;
constexpr float voiceLevel = 0.2f;

float sineAtPhase(double phase) {
    return static_cast<float>(std::sin(twoPi * (phase - std::floor(phase))));
}

/// Linear interpolation between the two source frames around `source`, both clamped to
/// the last frame; mono buffers give the same value on both sides.
void readSourceFrame(const Clip &clip, double source, int64_t frameCount, float &left,
                     float &right) {
    const std::vector<float> &samples = *clip.audio;
    const int64_t channels = clip.channels < 2 ? 1 : clip.channels;
    const double floorSource = std::floor(source);
    const int64_t last = frameCount - 1;
    const int64_t first = std::clamp<int64_t>(saturatingToInt64(floorSource), 0, last);
    const int64_t second = std::clamp<int64_t>(first + 1, 0, last);
    const float fraction = static_cast<float>(source - floorSource);
    const auto at = [&](int64_t frame, int64_t channel) {
        return samples[static_cast<std::size_t>(frame * channels + channel)];
    };
    const float firstLeft = at(first, 0);
    const float secondLeft = at(second, 0);
    left = firstLeft + (secondLeft - firstLeft) * fraction;
    if (channels == 1) {
        right = left;
        return;
    }
    const float firstRight = at(first, 1);
    const float secondRight = at(second, 1);
    right = firstRight + (secondRight - firstRight) * fraction;
}

float fadeAt(const Clip &clip, int64_t offset, int64_t span) {
    float fade = 1.0f;
    if (clip.fadeIn >= 1 && offset < clip.fadeIn)
        fade = static_cast<float>(offset) / static_cast<float>(clip.fadeIn);
    if (clip.fadeOut >= 1 && offset > span - clip.fadeOut)
        fade *= static_cast<float>(span - offset) / static_cast<float>(clip.fadeOut);
    return fade;
}

/// True when the map is a straight line of slope 1 from a whole source frame: every
/// timeline frame then reads exactly one source frame and interpolation has nothing to do.
bool playsSourceFrameByFrame(const ClipWarpTable &warp) {
    if (warp.count != 2) return false;
    const auto &start = warp.points[0];
    const auto &end = warp.points[1];
    return start.timeline == 0.0 && end.source - start.source == end.timeline &&
           start.source == std::floor(start.source) && std::abs(start.source) < 9.0e15;
}

/// The common case of an unwarped, unstretched clip: the same samples the interpolating path
/// gives, read directly.
void addUnwarpedClip(const Clip &clip, float *left, float *right, int64_t begin, int64_t end,
                     int64_t position, int64_t span, int64_t frameCount) {
    const std::vector<float> &samples = *clip.audio;
    const int64_t channels = clip.channels < 2 ? 1 : clip.channels;
    const int64_t secondChannel = channels == 1 ? 0 : 1;
    const int64_t sourceOffset = clip.sourceOffset;
    const bool fades = clip.fadeIn >= 1 || clip.fadeOut >= 1;
    for (int64_t p = begin; p < end; ++p) {
        const int64_t offset = p - clip.arrangeStart;
        const int64_t frame = std::clamp<int64_t>(sourceOffset + offset, 0, frameCount - 1);
        const float gain = fades ? clip.gain * fadeAt(clip, offset, span) : clip.gain;
        const auto index = static_cast<std::size_t>(p - position);
        left[index] += gain * samples[static_cast<std::size_t>(frame * channels)];
        right[index] += gain * samples[static_cast<std::size_t>(frame * channels + secondChannel)];
    }
}

void addAudioClip(const Clip &clip, float *left, float *right, int32_t frames, int64_t position) {
    const int64_t frameCount = clip.audioFrameCount();
    const int64_t span = clip.length >= 1 ? clip.length : frameCount;
    if (span < 1) return;
    const int64_t begin = std::max(position, clip.arrangeStart);
    const int64_t end = std::min(position + frames, saturatingAdd(clip.arrangeStart, span));
    if (begin >= end || frameCount < 1) return;
    // The warp map is the same for every frame of the block: build it once.
    const ClipWarpTable warp = buildClipWarpTable(clip);
    if (playsSourceFrameByFrame(warp)) {
        addUnwarpedClip(clip, left, right, begin, end, position, span, frameCount);
        return;
    }
    for (int64_t p = begin; p < end; ++p) {
        const int64_t offset = p - clip.arrangeStart;
        const float fade = fadeAt(clip, offset, span);
        float sampleLeft = 0.0f;
        float sampleRight = 0.0f;
        readSourceFrame(clip, warp.sourceAt(offset), frameCount, sampleLeft, sampleRight);
        const auto index = static_cast<std::size_t>(p - position);
        left[index] += clip.gain * fade * sampleLeft;
        right[index] += clip.gain * fade * sampleRight;
    }
}

bool isKeyswitch(const ExpressionMap &map, int32_t pitch) {
    return std::any_of(map.articulations.begin(), map.articulations.end(),
                       [pitch](const ExpressionArticulation &a) { return a.keyswitch == pitch; });
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
        float scale = 1.0f;
        if (map) {
            if (isKeyswitch(*map, note.pitch)) continue;
            scale = expressionVelocityAt(*map, clip.notes, note);
        }
        const double frequency =
            midiNoteFrequencyTuned(note.pitch + note.bendCents / 100.0, snapshot.scaleRoot,
                                   snapshot.scaleMinor, snapshot.kbmDegrees, snapshot.scalaCents);
        const float level = clip.gain * scale * note.expression * note.velocity * voiceLevel;
        for (int64_t p = begin; p < end; ++p) {
            const float value =
                level * sineAtPhase(static_cast<double>(p - noteStart) * frequency / rate);
            const auto index = static_cast<std::size_t>(p - position);
            left[index] += value;
            right[index] += value;
        }
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
        const float level = velocity * pressure * voiceLevel;
        for (int32_t i = 0; i < frames; ++i) {
            const float value =
                level * sineAtPhase(static_cast<double>(position + i) * frequency / rate);
            left[i] += value;
            right[i] += value;
        }
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
    const ExpressionMap *map = nullptr;
    if (track.expressionMapIndex >= 0 &&
        static_cast<std::size_t>(track.expressionMapIndex) < snapshot.expressionMaps.size())
        map = &snapshot.expressionMaps[static_cast<std::size_t>(track.expressionMapIndex)];
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
    else
        produceSessionSourceRt(snapshot, track, left, right, frames, position);

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
