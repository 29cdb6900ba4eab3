#pragma once

#include <cstdint>

namespace orvane {

/// The one random source of the note generators and transforms. Commands re-run them on
/// redo, so the sequence for a seed is part of the saved result and must never change.
struct SeededRandom {
    uint32_t state = 0;

    /// Advances the state and returns a value in 0 to 1 (both included).
    float draw() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state % 65536u) / 65535.0f;
    }
};

} // namespace orvane
