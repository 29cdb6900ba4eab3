#include "core/music/tests/AudioSignals.h"

#include <cmath>
#include <functional>
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

std::vector<float> squareClicks(double bpm, double seconds, double sampleRate, int32_t channels,
                                int64_t clickFrames, float level) {
    const int64_t frames = frameCount(seconds, sampleRate);
    std::vector<float> samples(static_cast<std::size_t>(frames * channels), 0.0f);
    for (int64_t n = 0; clickFrame(bpm, n, sampleRate) < frames; ++n)
        for (int64_t k = 0; k < clickFrames && clickFrame(bpm, n, sampleRate) + k < frames; ++k)
            setFrame(samples, clickFrame(bpm, n, sampleRate) + k, channels, level);
    return samples;
}

namespace {

/// Deterministic noise in −1..1.
struct NoiseSource {
    uint32_t state = 2463534242u;
    float next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(state) / 2147483648.0f - 1.0f;
    }
};

void addHit(std::vector<float> &samples, int64_t start, int32_t channels, double sampleRate,
            double seconds, const std::function<float(double, NoiseSource &)> &voice) {
    NoiseSource noise;
    const auto frames = static_cast<int64_t>(samples.size()) / channels;
    const int64_t length = frameCount(seconds, sampleRate);
    for (int64_t k = 0; k < length && start + k < frames; ++k) {
        const float value = voice(static_cast<double>(k) / sampleRate, noise);
        for (int32_t c = 0; c < channels; ++c)
            samples[static_cast<std::size_t>((start + k) * channels + c)] += value;
    }
}

float kick(double t, NoiseSource &) {
    // The pitch falls from 150 to 50 Hz; the phase is the integral of that sweep.
    const double phase =
        2.0 * std::numbers::pi * (50.0 * t + 100.0 * 0.03 * (1.0 - std::exp(-t / 0.03)));
    return static_cast<float>(0.8 * std::exp(-t / 0.05) * std::sin(phase));
}

float snare(double t, NoiseSource &noise) {
    const double body = std::sin(2.0 * std::numbers::pi * 180.0 * t);
    return static_cast<float>(std::exp(-t / 0.04) * (0.4 * noise.next() + 0.3 * body));
}

float hat(double t, NoiseSource &noise) {
    const float a = noise.next();
    const float b = noise.next();
    return static_cast<float>(0.15 * std::exp(-t / 0.012)) * (a - b);
}

} // namespace

std::vector<int64_t> drumLoopHits(double bpm, double seconds, double sampleRate) {
    std::vector<int64_t> hits;
    const int64_t frames = frameCount(seconds, sampleRate);
    for (int64_t eighth = 0; clickFrame(bpm * 2.0, eighth, sampleRate) < frames; ++eighth)
        hits.push_back(clickFrame(bpm * 2.0, eighth, sampleRate));
    return hits;
}

std::vector<float> drumLoop(double bpm, double seconds, double sampleRate, int32_t channels) {
    std::vector<float> samples(static_cast<std::size_t>(frameCount(seconds, sampleRate) * channels),
                               0.0f);
    const auto hits = drumLoopHits(bpm, seconds, sampleRate);
    for (std::size_t eighth = 0; eighth < hits.size(); ++eighth) {
        addHit(samples, hits[eighth], channels, sampleRate, 0.1, hat);
        if (eighth % 4 == 0) addHit(samples, hits[eighth], channels, sampleRate, 0.3, kick);
        if (eighth % 4 == 2) addHit(samples, hits[eighth], channels, sampleRate, 0.2, snare);
    }
    return samples;
}

std::vector<float> pad(double rootHz, double seconds, double sampleRate, int32_t channels,
                       double attackSeconds) {
    const int64_t frames = frameCount(seconds, sampleRate);
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    const double voices[] = {rootHz, rootHz * 1.2599 * 1.003, rootHz * 1.4983 * 0.997};
    for (int64_t frame = 0; frame < frames; ++frame) {
        const double t = static_cast<double>(frame) / sampleRate;
        double sum = 0.0;
        for (const double hz : voices)
            sum += 2.0 * (hz * t - std::floor(hz * t + 0.5));
        const double swell = std::min(1.0, t / attackSeconds);
        setFrame(samples, frame, channels, static_cast<float>(0.15 * swell * sum));
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
