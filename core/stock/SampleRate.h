#pragma once

#include <cmath>

namespace orvane::stock {

/// Rates that cannot be real (zero, negative, not finite, or so high that a two-second
/// delay line would not fit in memory) are replaced by 48 kHz, so that a processor that
/// was never prepared, or prepared with a damaged value, still designs finite filters.
inline double usableSampleRate(double sampleRate) {
    constexpr double fallbackRate = 48000.0;
    constexpr double highestRate = 1.0e6;
    if (!std::isfinite(sampleRate) || sampleRate < 1.0 || sampleRate > highestRate)
        return fallbackRate;
    return sampleRate;
}

} // namespace orvane::stock
