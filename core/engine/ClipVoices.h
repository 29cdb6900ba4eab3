#pragma once

#include "core/engine/GraphSnapshot.h"
#include "core/model/MusicalTime.h"
#include "core/model/Project.h"

#include <cstdint>
#include <vector>

namespace orvane {

// How a clip sounds, shared by the arrangement and the session renderer: the fades and the
// interpolated read of an audio clip, and the built-in sine voice of a MIDI note. Both
// renderers differ only in which clip time they ask for. Nothing here allocates.

/// The level a clip plays at clip time `t`: its gain, or its gain envelope when one is given.
struct ClipLevel {
    float gain = 1.0f;
    const std::vector<AutomationPoint> *envelope = nullptr;
    float at(int64_t t) const;
};

/// Linear fade-in and fade-out at `offset` samples into a clip of `span` samples.
float clipFadeAt(const Clip &clip, int64_t offset, int64_t span);

/// The frames a clip plays for: its `length`, or its decoded frame count when it has none.
int64_t audioClipSpan(const Clip &clip);

/// Adds `count` frames of an audio clip, clip time `t` to `t + count - 1` (all within its
/// span), at `level` into `left` and `right`. `warp` is the clip's table for this block.
void addAudioClipFrames(const Clip &clip, const ClipWarpTable &warp, int64_t t, int64_t count,
                        float *left, float *right, ClipLevel level);

struct StereoSample {
    float left = 0.0f;
    float right = 0.0f;
};

/// One frame of an audio clip at clip time `t`, with its fades and gain; silence outside its
/// span or without audio.
StereoSample sampleAudioClip(const Clip &clip, int64_t t);

/// sin(2π × the fractional part of `phase`).
float sineAtPhase(double phase);

/// The sine voice of one note: false for a keyswitch of `map`. Otherwise its tuned frequency
/// and the expression map's velocity scale (1 without a map).
bool noteVoiceRt(const GraphSnapshot &snapshot, const ExpressionMap *map, const Clip &clip,
                 const MidiNote &note, double &frequency, float &scale);

/// The snapshot's expression map the track picks, or null.
const ExpressionMap *trackExpressionMap(const GraphSnapshot &snapshot, const Track &track);

/// The peak level of the built-in voice.
inline constexpr float noteVoiceLevel = 0.2f;

/// Adds `count` frames of a sine at `frequency`, `elapsed` samples after the note began.
void addSineFrames(float level, int64_t elapsed, double frequency, double rate, float *left,
                   float *right, int64_t count);

} // namespace orvane
