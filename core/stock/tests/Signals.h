#pragma once

#include "tests/support/TestSignals.h"

#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

namespace orvane::stock::testing {

using orvane::testing::sineSamples;

/// Amplitude of the `freqHz` component of `samples[begin, end)`, by correlating with a sine
/// and a cosine. Exact for whole periods in the window.
inline double toneAmplitude(const std::vector<float> &samples, size_t begin, size_t end,
                            double freqHz, double sampleRate) {
    double sinSum = 0.0;
    double cosSum = 0.0;
    for (size_t i = begin; i < end; ++i) {
        const double phase = 2.0 * std::numbers::pi * freqHz * static_cast<double>(i) / sampleRate;
        sinSum += samples[i] * std::sin(phase);
        cosSum += samples[i] * std::cos(phase);
    }
    const double count = static_cast<double>(end - begin);
    return 2.0 * std::hypot(sinSum, cosSum) / count;
}

inline double amplitudeToDb(double amplitude) { return 20.0 * std::log10(amplitude); }

/// Deterministic noise in −amplitude..amplitude (a small linear congruential generator).
inline std::vector<float> noise(size_t frames, float amplitude, unsigned seed) {
    std::vector<float> samples(frames);
    unsigned state = seed;
    for (float &sample : samples) {
        state = state * 1664525u + 1013904223u;
        sample = amplitude * (static_cast<float>(state >> 8) / 8388608.0f - 1.0f);
    }
    return samples;
}

} // namespace orvane::stock::testing
