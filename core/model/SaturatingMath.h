#pragma once

#include <cstdint>
#include <limits>

namespace orvane {

// Positions and lengths from a damaged document may be anywhere in the int64 range; sums of
// them are held at the limits instead of overflowing.

constexpr int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

constexpr int64_t saturatingSubtract(int64_t a, int64_t b) {
    int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

} // namespace orvane
