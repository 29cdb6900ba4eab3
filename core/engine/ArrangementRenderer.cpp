#include "core/engine/ClipVoices.h"
#include "core/engine/InstrumentVoices.h"
#include "core/engine/RenderContext.h"
#include "core/engine/RenderStages.h"
#include "core/model/MusicalTime.h"
#include "core/music/ExpressionMaps.h"
#include "core/music/Tuning.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace orvane {

namespace {

bool isKeyswitch(const ExpressionMap &map, int32_t pitch) {
    return std::any_of(map.articulations.begin(), map.articulations.end(),
                       [pitch](const ExpressionArticulation &a) { return a.keyswitch == pitch; });
}

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

constexpr double fallbackRate = 48000.0;

/// The notes of one clip that sound in the block, newest first, until the track's voices
/// are used up: the block visits only these, whatever the clip holds.
void addIndexedMidiClip(const Clip &clip, const MidiClipIndex &index, double rate, float *left,
                        float *right, int32_t frames, int64_t position, int32_t &voicesLeft) {
    const int64_t blockEnd = saturatingAdd(position, frames);
    // Notes starting before the block's end...
    const auto last = static_cast<std::size_t>(
        std::lower_bound(index.starts.begin(), index.starts.end(), blockEnd) -
        index.starts.begin());
    // ...and, from the first one whose end (or an earlier note's) reaches past the block start.
    const auto first = static_cast<std::size_t>(
        std::upper_bound(index.endsSoFar.begin(),
                         index.endsSoFar.begin() + static_cast<std::ptrdiff_t>(last), position) -
        index.endsSoFar.begin());
    for (std::size_t sorted = last; sorted > first && voicesLeft > 0; --sorted) {
        const uint32_t noteIndex = index.byStart[sorted - 1];
        const MidiNote &note = clip.notes[noteIndex];
        const int64_t noteStart = index.starts[sorted - 1];
        const int64_t noteEnd = saturatingAdd(noteStart, note.length);
        const int64_t begin = std::max(position, noteStart);
        const int64_t end = std::min(blockEnd, noteEnd);
        if (begin >= end) continue;
        const float level = clip.gain * index.level[noteIndex];
        if (level == 0.0f) continue;
        --voicesLeft;
        const auto at = static_cast<std::size_t>(begin - position);
        addNoteFrames(level, begin - noteStart, index.frequency[noteIndex] / rate, left + at,
                      right + at, end - begin);
    }
}

} // namespace

void buildMidiClipIndex(const GraphSnapshot &snapshot, const Clip &clip, const ExpressionMap *map,
                        MidiClipIndex &index) {
    // Notes are indexed with 32 bits; a clip holding more plays the first four billion.
    const std::size_t count =
        std::min<std::size_t>(clip.notes.size(), std::numeric_limits<uint32_t>::max());
    index.byStart.resize(count);
    index.starts.resize(count);
    index.endsSoFar.resize(count);
    index.frequency.resize(count);
    index.level.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        index.byStart[i] = static_cast<uint32_t>(i);
    const auto startOf = [&clip](uint32_t i) {
        return saturatingAdd(clip.arrangeStart, clip.notes[i].start);
    };
    std::stable_sort(index.byStart.begin(), index.byStart.end(),
                     [&](uint32_t x, uint32_t y) { return startOf(x) < startOf(y); });
    int64_t furthest = std::numeric_limits<int64_t>::min();
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t note = index.byStart[i];
        index.starts[i] = startOf(note);
        furthest = std::max(furthest, saturatingAdd(index.starts[i], clip.notes[note].length));
        index.endsSoFar[i] = furthest;
    }

    // The articulation in force for a note is the last keyswitch among the notes stored
    // before the first note that starts after it, so one pass over the notes in stored order
    // gives every prefix, and a search in the running latest start finds each note's prefix.
    std::vector<float> factorAfter(count + 1, 1.0f);
    std::vector<int64_t> latestStart(count, std::numeric_limits<int64_t>::min());
    for (std::size_t i = 0; i < count; ++i) {
        float factor = factorAfter[i];
        if (map)
            for (const ExpressionArticulation &articulation : map->articulations)
                if (articulation.keyswitch == clip.notes[i].pitch) {
                    factor = articulation.velScale;
                    break;
                }
        factorAfter[i + 1] = factor;
        latestStart[i] = std::max(i ? latestStart[i - 1] : latestStart[0], clip.notes[i].start);
    }
    for (std::size_t i = 0; i < count; ++i) {
        const MidiNote &note = clip.notes[i];
        index.frequency[i] =
            midiNoteFrequencyTuned(note.pitch + note.bendCents / 100.0, snapshot.scaleRoot,
                                   snapshot.scaleMinor, snapshot.kbmDegrees, snapshot.scalaCents);
        float scale = 1.0f;
        if (map) {
            if (isKeyswitch(*map, note.pitch)) {
                index.level[i] = 0.0f;
                continue;
            }
            const auto prefix = static_cast<std::size_t>(
                std::upper_bound(latestStart.begin(), latestStart.end(), note.start) -
                latestStart.begin());
            scale = factorAfter[prefix];
        }
        index.level[i] = scale * note.expression * note.velocity * noteVoiceLevel;
    }
}

void ArrangementSource::produceRt(const RenderContext &context, std::size_t trackIndex, float *left,
                                  float *right) {
    const GraphSnapshot &snapshot = context.snapshot;
    const Track &track = *snapshot.tracks[trackIndex];
    const int32_t frames = context.frames;
    const int64_t position = context.position;
    if (InstrumentState *instrument = instrumentOfRt(context, trackIndex)) {
        playInstrumentRt(context, trackIndex, *instrument, !context.inputsOnly, left, right);
        return;
    }
    if (context.inputsOnly) {
        // Stopped: keys played on an armed instrument track still sound; no clip does.
        if (liveKeysPlayOn(context.liveMidi, track))
            addLiveInputRt(snapshot, *context.liveMidi, track, left, right, frames, position);
        return;
    }
    if (track.type == TrackType::Audio) {
        for (const auto &clip : track.clips)
            if (clip->kind == ClipKind::Audio && clip->takeActive && !clip->isSessionClip() &&
                clip->audio)
                addAudioClip(*clip, left, right, frames, position);
        return;
    }
    if (track.type != TrackType::Midi) return;
    const double rate = snapshot.sampleRate > 0.0 ? snapshot.sampleRate : fallbackRate;
    const std::vector<MidiClipIndex> *indexes =
        trackIndex < snapshot.midiIndexes.size() ? &snapshot.midiIndexes[trackIndex] : nullptr;
    int32_t voicesLeft = maxVoicesPerTrack;
    for (std::size_t c = 0; c < track.clips.size(); ++c) {
        const Clip &clip = *track.clips[c];
        if (clip.kind != ClipKind::Midi || clip.isSessionClip()) continue;
        // A clip that does not overlap the block is silent, even where its notes run past it.
        if (clip.arrangeStart >= saturatingAdd(position, frames) ||
            saturatingAdd(clip.arrangeStart, clip.length) <= position)
            continue;
        if (!indexes || c >= indexes->size()) continue;
        addIndexedMidiClip(clip, (*indexes)[c], rate, left, right, frames, position, voicesLeft);
    }
    if (liveKeysPlayOn(context.liveMidi, track))
        addLiveInputRt(snapshot, *context.liveMidi, track, left, right, frames, position);
}

void renderArrangementRt(RenderContext &context) {
    ArrangementSource source;
    if (!renderTracksRt(context, source)) return;
    finishMasterRt(context);
}

} // namespace orvane
