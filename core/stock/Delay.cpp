#include "core/stock/Delay.h"

#include "core/stock/SampleRate.h"

#include <algorithm>
#include <cmath>

namespace orvane::stock {

void Delay::prepare(double sampleRate) {
    sampleRate_ = usableSampleRate(sampleRate);
    const auto length = static_cast<size_t>(std::trunc(2.0 * sampleRate_));
    leftRing_.assign(length, 0.0f);
    rightRing_.assign(length, 0.0f);
    writeIndex_ = 0;
}

size_t Delay::delaySamples() const {
    const size_t length = ringLength();
    if (length == 0) return 0;
    double wanted = sampleRate_ * timeMs * 0.001;
    if (!(wanted >= 1.0)) wanted = 1.0; // also catches NaN
    const double longest = static_cast<double>(length - 1);
    return static_cast<size_t>(std::min(longest, std::trunc(wanted)));
}

void Delay::process(float *left, float *right, int frames) {
    const size_t length = ringLength();
    if (length == 0 || frames < 1 || left == nullptr || right == nullptr) return;
    const size_t lag = delaySamples();
    size_t write = writeIndex_;
    for (int i = 0; i < frames; ++i) {
        const size_t read = (length - lag + write) % length;
        const float delayedLeft = leftRing_[read];
        const float delayedRight = rightRing_[read];
        const float inLeft = left[i];
        const float inRight = right[i];
        leftRing_[write] = inLeft + feedback * delayedLeft;
        rightRing_[write] = inRight + feedback * delayedRight;
        left[i] = inLeft * (1.0f - mix) + delayedLeft * mix;
        right[i] = inRight * (1.0f - mix) + delayedRight * mix;
        write = (write + 1) % length;
    }
    writeIndex_ = write;
}

} // namespace orvane::stock
