#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <vector>

namespace orvane::testing {

/// Writes a sine of `hz` at `amplitude` into `samples`, which start at frame `firstFrame` of a
/// tone that starts at frame 0, so that consecutive blocks continue one another.
inline void fillSine(std::span<float> samples, double hz, double amplitude, double sampleRate,
                     int64_t firstFrame = 0) {
    for (std::size_t index = 0; index < samples.size(); ++index) {
        const auto frame = static_cast<double>(firstFrame + static_cast<int64_t>(index));
        samples[index] = static_cast<float>(
            amplitude * std::sin(2.0 * std::numbers::pi * hz * frame / sampleRate));
    }
}

/// `frames` mono samples of the sine that `fillSine` writes.
inline std::vector<float> sineSamples(double hz, double amplitude, double sampleRate,
                                      std::size_t frames, int64_t firstFrame = 0) {
    std::vector<float> samples(frames);
    fillSine(samples, hz, amplitude, sampleRate, firstFrame);
    return samples;
}

/// `count` samples drawn evenly from [low, high) by a generator seeded with `seed`: the same
/// samples on every run and every machine.
inline std::vector<float> uniformNoise(std::size_t count, float low, float high, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> level(low, high);
    std::vector<float> samples(count);
    for (float &sample : samples)
        sample = level(random);
    return samples;
}

/// Samples [from, to) of `samples`, `to` clamped to its end.
inline std::span<const float> slice(const std::vector<float> &samples, std::size_t from,
                                    std::size_t to = SIZE_MAX) {
    to = std::min(to, samples.size());
    return std::span(samples).subspan(std::min(from, to), to - std::min(from, to));
}

/// The largest magnitude in `samples`; 0 for none.
inline double peakOf(std::span<const float> samples) {
    double peak = 0.0;
    for (const float sample : samples)
        peak = std::max(peak, std::abs(static_cast<double>(sample)));
    return peak;
}

/// The root mean square of `samples`; 0 for none.
inline double rmsOf(std::span<const float> samples) {
    double sum = 0.0;
    for (const float sample : samples)
        sum += static_cast<double>(sample) * sample;
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

} // namespace orvane::testing
