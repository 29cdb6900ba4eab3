#pragma once

#include "core/model/SaturatingMath.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

// Integer helpers shared by the music algorithms. Note starts, keyboard-map degrees and
// pitches may be negative or huge after a damaged document or a careless caller, and they
// end up as table indices: every division that feeds an index floors (so the remainder
// stays in range), and arithmetic runs in 64 bits before any clamp.
namespace orvane::note_arithmetic {

/// Quotient rounded toward negative infinity; `divisor` must be positive.
constexpr int64_t floorDiv(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return (value % divisor < 0) ? quotient - 1 : quotient;
}

/// Remainder in 0 to divisor − 1; `divisor` must be positive.
constexpr int64_t floorMod(int64_t value, int64_t divisor) {
    const int64_t remainder = value % divisor;
    return remainder < 0 ? remainder + divisor : remainder;
}

constexpr int32_t clampToMidi(int64_t pitch) {
    return static_cast<int32_t>(std::clamp<int64_t>(pitch, 0, 127));
}

using ::orvane::saturatingAdd;

constexpr int64_t saturatingMultiply(int64_t a, int64_t b) {
    int64_t product = 0;
    if (!__builtin_mul_overflow(a, b, &product)) return product;
    return ((a < 0) != (b < 0)) ? std::numeric_limits<int64_t>::min()
                                : std::numeric_limits<int64_t>::max();
}

/// Clamps a velocity into [low, high]; NaN, which std::clamp would pass through, gives `low`.
inline float clampVelocity(float value, float low, float high) {
    if (!(value >= low)) return low;
    return value > high ? high : value;
}

} // namespace orvane::note_arithmetic
