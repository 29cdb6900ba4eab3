#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace orvane::testing {

/// The engine of every random choice of a test, seeded per case so a failure can be replayed.
using Random = std::mt19937_64;

/// Uniform in lo..hi, both included.
inline int64_t between(Random &random, int64_t lo, int64_t hi) {
    if (hi <= lo) return lo;
    return lo + static_cast<int64_t>(random() % static_cast<uint64_t>(hi - lo + 1));
}

/// True `percent` times in a hundred.
inline bool chance(Random &random, int percent) { return between(random, 1, 100) <= percent; }

/// The seeds of `count` random cases: 1 to `count`, or, with HALVORA_SEED_OFFSET set, the
/// `count` seeds after it, to run cases that the usual runs never draw.
inline std::vector<uint64_t> caseSeeds(uint64_t count) {
    const char *offsetText = std::getenv("HALVORA_SEED_OFFSET");
    const uint64_t offset = offsetText ? std::strtoull(offsetText, nullptr, 10) : 0;
    std::vector<uint64_t> seeds;
    for (uint64_t index = 1; index <= count; ++index)
        seeds.push_back(offset + index);
    return seeds;
}

} // namespace orvane::testing
