#include "core/engine/ClipVoices.h"

#include "core/engine/MediaStreams.h"
#include "core/engine/RenderStages.h"
#include "core/model/SaturatingMath.h"
#include "core/music/Tuning.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane {

namespace {

bool playsSourceFrameByFrame(const ClipWarpTable &warp);

/// Sample access of the two buffer kinds: a heap buffer in place, a file-backed one through
/// the window its stream holds. The clip reader is written once over these, and the choice
/// is made once per clip and block, never per sample.
struct FloatSource {
    const float *samples;
    float operator[](int64_t index) const { return samples[index]; }
    const float *at(int64_t index) const { return samples + index; }
};

struct WindowSource {
    const float *samples;
    int64_t firstSample;
    float operator[](int64_t index) const { return samples[index - firstSample]; }
    const float *at(int64_t index) const { return samples + (index - firstSample); }
};

/// The source frames a block of `count` frames from clip time `t` reads, interpolation
/// neighbours included, as the readers below clamp them.
FrameSpan framesRead(const Clip &clip, const ClipWarpTable &warp, int64_t t, int64_t count) {
    const int64_t last = clip.audioFrameCount() - 1;
    if (playsSourceFrameByFrame(warp))
        return {std::clamp<int64_t>(clip.sourceOffset + t, 0, last),
                std::clamp<int64_t>(clip.sourceOffset + t + count - 1, 0, last)};
    double low = std::min(warp.sourceAt(t), warp.sourceAt(t + count - 1));
    double high = std::max(warp.sourceAt(t), warp.sourceAt(t + count - 1));
    // Between its points the map is a straight line: the extremes lie on the ends or on a
    // point inside the block.
    for (std::size_t i = 0; i < warp.count; ++i) {
        const double at = warp.points[i].timeline;
        if (at <= static_cast<double>(t) || at >= static_cast<double>(t + count - 1)) continue;
        for (const double whole : {std::floor(at), std::ceil(at)}) {
            const double source = warp.sourceAt(saturatingToInt64(whole));
            low = std::min(low, source);
            high = std::max(high, source);
        }
    }
    return {std::clamp<int64_t>(saturatingToInt64(std::floor(low)), 0, last),
            std::clamp<int64_t>(saturatingToInt64(std::floor(high)) + 1, 0, last)};
}

/// Calls `read` with the source of `clip`'s samples for the frames of a block, or not at
/// all when a file-backed clip's frames are not resident (the block is then silent for it).
/// With `level`, a block next to such a gap fades: out when the frames of the block after it
/// are not resident yet, in when the block before it went silent.
template <typename Read>
void withSource(const Clip &clip, const ClipWarpTable &warp, int64_t t, int64_t count,
                ClipLevel *level, Read read) {
    if (const float *floats = clip.audio->floats()) {
        read(FloatSource{floats});
        return;
    }
    MediaStreams *streams = currentMediaStreamsRt();
    ClipStream *stream = streams ? streams->find(clip.id) : nullptr;
    if (!stream) {
        if (streams) streams->countUnplannedRt();
        return;
    }
    // An export waits for its frames instead: its blocks never fade.
    if (!streams->fadesAtGaps()) level = nullptr;
    // Looked at before this block's window is held: looking releases what is held.
    const bool lastBlock = saturatingAdd(t, count) >= audioClipSpan(clip);
    const bool gapAhead =
        level && !lastBlock && !stream->residentRt(framesRead(clip, warp, t + count, count));
    const ResidentWindow *window = stream->holdRt(framesRead(clip, warp, t, count));
    if (!window) {
        if (level) stream->noteGapRt();
        return;
    }
    if (level) {
        level->fadeIn = stream->takeGapRt();
        level->fadeOut = gapAhead;
        level->rampStart = t;
        level->rampLength = count;
        // The fade out stands for the silent block to come: the block after it fades in.
        if (gapAhead) stream->noteGapRt();
    }
    const int64_t channels = clip.channels < 2 ? 1 : clip.channels;
    read(WindowSource{window->samples.data(), window->firstFrame * channels});
    stream->releaseRt();
}

/// Linear interpolation between the two source frames around `source`, both clamped to
/// the last frame; mono buffers give the same value on both sides.
template <typename Source>
void readSourceFrame(const Clip &clip, const Source &samples, double source, int64_t frameCount,
                     float &left, float &right) {
    const int64_t channels = clip.channels < 2 ? 1 : clip.channels;
    const double floorSource = std::floor(source);
    const int64_t last = frameCount - 1;
    const int64_t first = std::clamp<int64_t>(saturatingToInt64(floorSource), 0, last);
    const int64_t second = std::clamp<int64_t>(first + 1, 0, last);
    const float fraction = static_cast<float>(source - floorSource);
    const auto at = [&](int64_t frame, int64_t channel) {
        return samples[frame * channels + channel];
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

/// True when the map is a straight line of slope 1 from a whole source frame: every
/// timeline frame then reads exactly one source frame and interpolation has nothing to do.
bool playsSourceFrameByFrame(const ClipWarpTable &warp) {
    if (warp.count != 2) return false;
    const auto &start = warp.points[0];
    const auto &end = warp.points[1];
    return start.timeline == 0.0 && end.source - start.source == end.timeline &&
           start.source == std::floor(start.source) && std::abs(start.source) < 9.0e15;
}

/// A run of source frames that all lie inside the buffer, at one gain: the loop a mixdown
/// spends its time in, written with the channel count fixed and the buffers declared apart
/// so that it vectorises (without them g++ keeps it scalar, a third of a plain mix's time).
/// Never inlined: once inlined into its caller g++ forgets the buffers are apart and keeps the
/// loop scalar again.
template <int64_t Channels>
[[gnu::noinline]] void addInterleavedRun(const float *__restrict source, int64_t count, float gain,
                       float *__restrict left, float *__restrict right) {
    constexpr int64_t secondChannel = Channels == 1 ? 0 : 1;
    for (int64_t i = 0; i < count; ++i) {
        left[i] += gain * source[i * Channels];
        right[i] += gain * source[i * Channels + secondChannel];
    }
}

template <int64_t Channels, typename Source>
void addSourceRun(const Source &samples, int64_t firstFrame, int64_t count, float gain, float *left,
                  float *right) {
    addInterleavedRun<Channels>(samples.at(firstFrame * Channels), count, gain, left, right);
}

/// The common case of an unwarped, unstretched clip: the same samples the interpolating path
/// gives, read directly.
template <typename Source>
void addUnwarpedFrames(const Clip &clip, const Source &samples, int64_t t, int64_t count,
                       float *left, float *right, ClipLevel level) {
    const int64_t frameCount = clip.audioFrameCount();
    const int64_t span = audioClipSpan(clip);
    const int64_t channels = clip.channels < 2 ? 1 : clip.channels;
    const int64_t secondChannel = channels == 1 ? 0 : 1;
    const bool fades = clip.fadeIn >= 1 || clip.fadeOut >= 1;
    const int64_t firstFrame = clip.sourceOffset + t;
    const bool inside = firstFrame >= 0 && firstFrame <= frameCount - count;
    if (!fades && !level.envelope && !level.ramped() && inside && channels <= 2) {
        if (channels == 2)
            addSourceRun<2>(samples, firstFrame, count, level.gain, left, right);
        else
            addSourceRun<1>(samples, firstFrame, count, level.gain, left, right);
        return;
    }
    for (int64_t i = 0; i < count; ++i) {
        const int64_t offset = t + i;
        const int64_t frame = std::clamp<int64_t>(clip.sourceOffset + offset, 0, frameCount - 1);
        const float levelNow = level.at(offset);
        const float gain = fades ? levelNow * clipFadeAt(clip, offset, span) : levelNow;
        const auto index = static_cast<std::size_t>(i);
        left[index] += gain * samples[frame * channels];
        right[index] += gain * samples[frame * channels + secondChannel];
    }
}

} // namespace

FrameSpan audioClipFramesRead(const Clip &clip, const ClipWarpTable &warp, int64_t t,
                              int64_t count) {
    if (count < 1 || clip.audioFrameCount() < 1) return {};
    return framesRead(clip, warp, t, count);
}

float ClipLevel::at(int64_t t) const {
    const float level = envelope ? readAutomation(*envelope, t, gain) : gain;
    if (!ramped()) return level;
    const float along = std::clamp(
        (static_cast<float>(t - rampStart) + 0.5f) / static_cast<float>(rampLength), 0.0f, 1.0f);
    return level * (fadeIn ? along : 1.0f) * (fadeOut ? 1.0f - along : 1.0f);
}

float clipFadeAt(const Clip &clip, int64_t offset, int64_t span) {
    float fade = 1.0f;
    if (clip.fadeIn >= 1 && offset < clip.fadeIn)
        fade = static_cast<float>(offset) / static_cast<float>(clip.fadeIn);
    if (clip.fadeOut >= 1 && offset > span - clip.fadeOut)
        fade *= static_cast<float>(span - offset) / static_cast<float>(clip.fadeOut);
    return fade;
}

int64_t audioClipSpan(const Clip &clip) {
    return clip.length >= 1 ? clip.length : clip.audioFrameCount();
}

void addAudioClipFrames(const Clip &clip, const ClipWarpTable &warp, int64_t t, int64_t count,
                        float *left, float *right, ClipLevel level) {
    const int64_t frameCount = clip.audioFrameCount();
    if (count < 1 || !clip.audio || frameCount < 1) return;
    withSource(clip, warp, t, count, &level, [&](const auto &samples) {
        if (playsSourceFrameByFrame(warp)) {
            addUnwarpedFrames(clip, samples, t, count, left, right, level);
            return;
        }
        const int64_t span = audioClipSpan(clip);
        for (int64_t i = 0; i < count; ++i) {
            const int64_t offset = t + i;
            const float fade = clipFadeAt(clip, offset, span);
            float sampleLeft = 0.0f;
            float sampleRight = 0.0f;
            readSourceFrame(clip, samples, warp.sourceAt(offset), frameCount, sampleLeft,
                            sampleRight);
            const float gain = level.at(offset);
            const auto index = static_cast<std::size_t>(i);
            left[index] += gain * fade * sampleLeft;
            right[index] += gain * fade * sampleRight;
        }
    });
}

StereoSample sampleAudioClip(const Clip &clip, int64_t t) {
    StereoSample sample;
    const int64_t frameCount = clip.audioFrameCount();
    if (t < 0 || t >= audioClipSpan(clip) || !clip.audio || frameCount < 1) return sample;
    const ClipWarpTable warp = buildClipWarpTable(clip);
    withSource(clip, warp, t, 1, nullptr, [&](const auto &samples) {
        readSourceFrame(clip, samples, warp.sourceAt(t), frameCount, sample.left, sample.right);
    });
    const float gain = clip.gain * clipFadeAt(clip, t, audioClipSpan(clip));
    sample.left *= gain;
    sample.right *= gain;
    return sample;
}

float sineAtPhase(double phase) {
    return static_cast<float>(std::sin(2.0 * std::numbers::pi * (phase - std::floor(phase))));
}

void addNoteFrames(float level, int64_t elapsed, double step, float *left, float *right,
                   int64_t count) {
    for (int64_t i = 0; i < count; ++i) {
        const float value = level * sineAtPhase(static_cast<double>(elapsed + i) * step);
        left[i] += value;
        right[i] += value;
    }
}

void addLiveInputRt(const GraphSnapshot &snapshot, const LiveMidiState &live, const Track &track,
                    float *left, float *right, int32_t frames, int64_t position) {
    const double rate = snapshot.sampleRate > 0.0 ? snapshot.sampleRate : 48000.0;
    for (std::size_t note = 0; note < 128; ++note) {
        const int32_t from = std::max(live.soundFrom[note], 0);
        const int32_t until = std::min(live.soundUntil[note], frames);
        const float velocity = live.blockVelocity[note];
        if (from >= until || velocity <= LiveMidiState::audibleVelocity) continue;
        const double frequency = midiNoteFrequencyTuned(
            static_cast<double>(note) + live.noteBend[note] / 100.0, snapshot.scaleRoot,
            snapshot.scaleMinor, snapshot.kbmDegrees, snapshot.scalaCents);
        const float pressure = track.mpeEnabled ? live.notePressure[note] : 1.0f;
        const float level = velocity * pressure * noteVoiceLevel;
        for (int32_t i = from; i < until; ++i) {
            const float value =
                level * sineAtPhase(static_cast<double>(position + i) * frequency / rate);
            left[i] += value;
            right[i] += value;
        }
    }
}

bool liveKeysPlayOn(const LiveMidiState *live, const Track &track) {
    return live && track.type == TrackType::Midi &&
           (track.armed || (live->auditionTrackId != 0 && track.id == live->auditionTrackId));
}

bool anyLiveKeySounds(const LiveMidiState &live) {
    for (std::size_t note = 0; note < 128; ++note)
        if (live.soundFrom[note] < live.soundUntil[note] &&
            live.blockVelocity[note] > LiveMidiState::audibleVelocity)
            return true;
    return false;
}

} // namespace orvane
