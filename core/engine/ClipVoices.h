#pragma once

#include "core/engine/GraphSnapshot.h"
#include "core/engine/LiveMidi.h"
#include "core/engine/MediaStreams.h"
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
    /// A fade from silence (`fadeIn`) or to it (`fadeOut`) over the `rampLength` frames of clip
    /// time from `rampStart`: a file-backed clip's block next to one its frames were missing
    /// for, so that the gap does not cut the waveform.
    int64_t rampStart = 0;
    int64_t rampLength = 0;
    bool fadeIn = false;
    bool fadeOut = false;
    float at(int64_t t) const;
    bool ramped() const { return rampLength > 0 && (fadeIn || fadeOut); }
};

/// Linear fade-in and fade-out at `offset` samples into a clip of `span` samples.
float clipFadeAt(const Clip &clip, int64_t offset, int64_t span);

/// The frames a clip plays for: its `length`, or its decoded frame count when it has none.
int64_t audioClipSpan(const Clip &clip);

/// The source frames that `count` frames of an audio clip from clip time `t` read (the
/// neighbours that interpolation reads included): what must be resident of a file-backed clip.
FrameSpan audioClipFramesRead(const Clip &clip, const ClipWarpTable &warp, int64_t t,
                              int64_t count);

/// Adds `count` frames of an audio clip, clip time `t` to `t + count - 1` (all within its
/// span), at `level` into `left` and `right`. `warp` is the clip's table for this block. A
/// file-backed clip reads the window the thread's current media streams hold of it, and adds
/// nothing when its frames are not resident.
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

/// The peak level of the built-in voice.
inline constexpr float noteVoiceLevel = 0.2f;

/// Adds `count` frames of a sine at `level`, `elapsed` samples after its note began, whose
/// phase advances by `step` cycles a sample.
void addNoteFrames(float level, int64_t elapsed, double step, float *left, float *right,
                   int64_t count);

/// The keys held live, on an armed MIDI track: each on the frames of the block it sounds,
/// its phase running from the timeline origin.
void addLiveInputRt(const GraphSnapshot &snapshot, const LiveMidiState &live, const Track &track,
                    float *left, float *right, int32_t frames, int64_t position);

/// Whether the keys played live sound on `track`: an armed MIDI track, or the one auditioned.
bool liveKeysPlayOn(const LiveMidiState *live, const Track &track);

/// True when some key sounds in the block.
bool anyLiveKeySounds(const LiveMidiState &live);

} // namespace orvane
