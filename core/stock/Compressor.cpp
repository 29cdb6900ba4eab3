#include "core/stock/Compressor.h"

#include "core/stock/ParametricEq8.h"
#include "core/stock/SampleRate.h"

#include <algorithm>
#include <cmath>

namespace orvane::stock {

float smoothingCoefficient(double sampleRate, float ms) {
    if (!(ms > 0.0f)) return 0.0f;
    return static_cast<float>(std::exp(-1.0 / (sampleRate * ms * 0.001)));
}

void Compressor::prepare(double sampleRate) {
    sampleRate_ = usableSampleRate(sampleRate);
    envelope_ = 0.0f;
}

void Compressor::process(float *left, float *right, int frames, const float *sidechain) {
    if (left == nullptr || right == nullptr) return;
    const float threshold = dbToGain(thresholdDb);
    const float attack = smoothingCoefficient(sampleRate_, attackMs);
    const float release = smoothingCoefficient(sampleRate_, releaseMs);
    const float makeup = dbToGain(makeupDb);
    const float exponent = 1.0f / (ratio >= 1.0f ? ratio : 1.0f) - 1.0f;
    float env = envelope_;
    for (int i = 0; i < frames; ++i) {
        const float x = sidechain != nullptr ? std::fabs(sidechain[i])
                                             : std::max(std::fabs(left[i]), std::fabs(right[i]));
        if (x > env)
            env = attack * env + (1.0f - attack) * x;
        else
            env = release * env + (1.0f - release) * x;
        const float gain = env <= threshold ? 1.0f : std::pow(env / threshold, exponent);
        const float applied = gain * makeup;
        left[i] *= applied;
        right[i] *= applied;
    }
    envelope_ = env;
}

} // namespace orvane::stock
