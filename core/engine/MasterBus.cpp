#include "core/engine/MasterBus.h"

#include <algorithm>
#include <cmath>

namespace orvane {

void MasterMeters::updateRt(double sampleRate, const float *left, const float *right,
                            int32_t frames) {
    if (!left || !right || frames < 1) return;
    float peakLeft = 0.0f;
    float peakRight = 0.0f;
    double sumOfSquares = 0.0;
    for (int32_t i = 0; i < frames; ++i) {
        peakLeft = std::max(peakLeft, std::abs(left[i]));
        peakRight = std::max(peakRight, std::abs(right[i]));
        const double mid = (static_cast<double>(left[i]) + right[i]) / 2.0;
        sumOfSquares += mid * mid;
    }
    peakL.store(peakLeft, std::memory_order_relaxed);
    peakR.store(peakRight, std::memory_order_relaxed);
    const double meanSquare = sumOfSquares / frames;
    const double rate = std::max(sampleRate, 1.0);
    const double smoothing = 1.0 - std::exp(-(frames / rate) * 1000.0 / 400.0);
    loudnessState += static_cast<float>(smoothing * (meanSquare - loudnessState));
    const float reading =
        loudnessState > 1e-12f ? 10.0f * std::log10(loudnessState) - 0.691f : -60.0f;
    loudness.store(std::clamp(reading, -70.0f, 0.0f), std::memory_order_relaxed);
}

void pushFlashbackRt(LatestFramesRing &ring, const float *left, const float *right,
                     int32_t frames) {
    if (!left || !right) return;
    ring.pushPlanar(left, right, frames);
}

} // namespace orvane
