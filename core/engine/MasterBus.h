#pragma once

#include "core/engine/GraphSnapshot.h"

#include <atomic>
#include <cstdint>

namespace orvane {

/// The live master meters: written by the rendering thread after the master chain, read by
/// the user interface without locks (a reader may see values of different blocks). Exports
/// never write them.
struct MasterMeters {
    std::atomic<float> peakL{0.0f};
    std::atomic<float> peakR{0.0f};
    /// dB, -70..0.
    std::atomic<float> loudness{0.0f};
    /// Smoothed mean square; rendering thread only.
    float loudnessState = 0.0f;

    void updateRt(double sampleRate, const float *left, const float *right, int32_t frames);
};

/// Appends one block of the master to the flashback capture.
void pushFlashbackRt(LatestFramesRing &ring, const float *left, const float *right, int32_t frames);

} // namespace orvane
