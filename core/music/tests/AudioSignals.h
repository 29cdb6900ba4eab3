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

std::vector<float> sine(double hz, int64_t frames, double sampleRate, int32_t channels,
                        float level = 0.5f);

/// Silence, then from frame `start` a deterministic noise of `level` until the end.
std::vector<float> silenceThenNoise(int64_t start, int64_t frames, int32_t channels,
                                    float level = 0.5f);

} // namespace orvane::testing
