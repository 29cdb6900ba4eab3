#include "core/music/tests/AudioSignals.h"

#include <cmath>
#include <numbers>

namespace orvane::testing {

namespace {

void setFrame(std::vector<float> &samples, int64_t frame, int32_t channels, float value) {
    for (int32_t c = 0; c < channels; ++c)
        samples[static_cast<std::size_t>(frame * channels + c)] = value;
}

int64_t frameCount(double seconds, double sampleRate) {
    return static_cast<int64_t>(std::llround(seconds * sampleRate));
}

} // namespace

int64_t clickFrame(double bpm, int64_t n, double sampleRate) {
    return static_cast<int64_t>(std::llround(static_cast<double>(n) * 60.0 / bpm * sampleRate));
}

std::vector<float> clickTrack(double bpm, double seconds, double sampleRate, int32_t channels,
                              float level) {
    const int64_t frames = frameCount(seconds, sampleRate);
    const int64_t pulse = frameCount(0.04, sampleRate);
    std::vector<float> samples(static_cast<std::size_t>(frames * channels), 0.0f);
    for (int64_t n = 0; clickFrame(bpm, n, sampleRate) < frames; ++n) {
        const int64_t start = clickFrame(bpm, n, sampleRate);
        for (int64_t k = 0; k < pulse && start + k < frames; ++k) {
            const double decay = std::exp(-5.0 * static_cast<double>(k) / pulse);
            setFrame(samples, start + k, channels, level * static_cast<float>(decay));
        }
    }
    return samples;
}

std::vector<float> sine(double hz, int64_t frames, double sampleRate, int32_t channels,
                        float level) {
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    for (int64_t frame = 0; frame < frames; ++frame) {
        const double phase = 2.0 * std::numbers::pi * hz * static_cast<double>(frame) / sampleRate;
        setFrame(samples, frame, channels, level * static_cast<float>(std::sin(phase)));
    }
    return samples;
}

std::vector<float> silenceThenNoise(int64_t start, int64_t frames, int32_t channels, float level) {
    std::vector<float> samples(static_cast<std::size_t>(frames * channels), 0.0f);
    uint32_t state = 12345u;
    for (int64_t frame = start; frame < frames; ++frame) {
        state = state * 1664525u + 1013904223u;
        const float unit = static_cast<float>(state >> 8) / static_cast<float>(1u << 24);
        // Kept away from zero so that the first noisy frame is audible on every channel.
        setFrame(samples, frame, channels, level * (0.5f + 0.5f * unit) * (frame % 2 ? 1 : -1));
    }
    return samples;
}

} // namespace orvane::testing
