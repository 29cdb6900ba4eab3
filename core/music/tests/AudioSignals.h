#pragma once

#include <cstdint>
#include <vector>

namespace orvane::testing {

/// Interleaved test signals whose features are known by construction: every channel of a
/// frame carries the same value unless said otherwise.

/// A click on every beat from frame 0: a positive pulse of `level` decaying over 40 ms, so
/// that each beat starts with its loudest frame.
std::vector<float> clickTrack(double bpm, double seconds, double sampleRate, int32_t channels,
                              float level = 0.8f);

/// Frame of the n-th click of `clickTrack`.
int64_t clickFrame(double bpm, int64_t n, double sampleRate);

/// A click on every beat from frame 0 lasting `clickFrames` frames at full `level` (one frame
/// is a single-sample impulse).
std::vector<float> squareClicks(double bpm, double seconds, double sampleRate, int32_t channels,
                                int64_t clickFrames, float level = 0.8f);

/// A synthesised drum loop in 4/4: a kick (a falling sine sweep) on beats 1 and 3, a snare
/// (noise and a 180 Hz body) on 2 and 4, a hi-hat (differenced noise) on every eighth note,
/// each hit starting from silence or from the decayed tail of the one before.
std::vector<float> drumLoop(double bpm, double seconds, double sampleRate, int32_t channels);

/// The frame of every eighth note of `drumLoop`, where each hit begins.
std::vector<int64_t> drumLoopHits(double bpm, double seconds, double sampleRate);

/// A held chord of three detuned sawtooth voices that swells in over `attackSeconds` from
/// frame 0 and then stays.
std::vector<float> pad(double rootHz, double seconds, double sampleRate, int32_t channels,
                       double attackSeconds);

std::vector<float> sine(double hz, int64_t frames, double sampleRate, int32_t channels,
                        float level = 0.5f);

/// Silence, then from frame `start` a deterministic noise of `level` until the end.
std::vector<float> silenceThenNoise(int64_t start, int64_t frames, int32_t channels,
                                    float level = 0.5f);

} // namespace orvane::testing
