#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane::previous {

std::optional<double> detectTempoBpm(const float *samples, int64_t frames, int32_t channels,
                                     double sampleRate);
double estimateAudioFundamentalHz(const float *samples, int64_t frames, int32_t channels,
                                  double sampleRate);
int64_t detectAudioOnset(const float *samples, int64_t frames, int32_t channels, float threshold);
std::vector<int64_t> detectAudioTransients(const float *samples, int64_t frames, int32_t channels,
                                           double sampleRate, float threshold, int32_t maxCount);

} // namespace orvane::previous
