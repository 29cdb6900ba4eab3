#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::testing {

/// Interleaved test frames whose every sample names its place: frame f of channel c holds
/// `from` + f + c / 2, so a copy that skips, repeats or mixes frames shows at once.
inline std::vector<float> ramp(int32_t frames, float from, int32_t channels = 1) {
    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    for (int32_t frame = 0; frame < frames; ++frame)
        for (int32_t channel = 0; channel < channels; ++channel)
            samples[static_cast<std::size_t>(frame * channels + channel)] =
                from + static_cast<float>(frame) + 0.5f * static_cast<float>(channel);
    return samples;
}

} // namespace orvane::testing
