#include "core/stock/Reverb.h"

#include "core/stock/SampleRate.h"

namespace orvane::stock {

namespace {

inline float reverbSample(float x, std::array<float, 4> &states, float g, float h, float mix) {
    float acc = x;
    float stageInput = x;
    for (float &state : states) {
        state = g * state + h * stageInput;
        acc = acc + 0.25f * state;
        stageInput = acc;
    }
    return x * (1.0f - mix) + acc * mix;
}

float usableSize(float size) {
    if (!(size >= 0.0f)) return 0.0f; // also catches NaN
    return size > 1.0f ? 1.0f : size;
}

} // namespace

void Reverb::prepare(double sampleRate) {
    sampleRate_ = usableSampleRate(sampleRate);
    leftStates_.fill(0.0f);
    rightStates_.fill(0.0f);
}

void Reverb::process(float *left, float *right, int frames) {
    if (left == nullptr || right == nullptr) return;
    const float g = 0.2f + 0.6f * usableSize(size);
    const float h = 1.0f - g;
    for (int i = 0; i < frames; ++i) {
        left[i] = reverbSample(left[i], leftStates_, g, h, mix);
        right[i] = reverbSample(right[i], rightStates_, g, h, mix);
    }
}

} // namespace orvane::stock
