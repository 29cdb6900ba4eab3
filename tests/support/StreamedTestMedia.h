#pragma once

#include "core/model/SampleBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace orvane::testing {

/// Raw 16-bit `samples` written to `path` and opened whole as one file-backed clip buffer.
inline SharedSamples pcmFileSamples(const std::filesystem::path &path,
                                    const std::vector<int16_t> &samples) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * sizeof(int16_t)));
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    if (fd < 0) return {};
    return SharedSamples(std::make_shared<const SampleBuffer>(std::make_shared<const MediaFile>(
        fd, path.string(), 0, static_cast<int64_t>(samples.size()))));
}

/// The same in a scratch file that is gone once opened (the open file keeps its samples).
inline SharedSamples unlinkedPcmSamples(const std::vector<int16_t> &samples) {
    static std::atomic<int> serial{0};
    const auto path =
        std::filesystem::temp_directory_path() /
        ("halvora_streamed_media_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    SharedSamples opened = pcmFileSamples(path, samples);
    std::filesystem::remove(path);
    return opened;
}

/// A stereo test signal: a slow ramp on the left, a faster one on the right.
inline std::vector<int16_t> rampPcm(int64_t frames) {
    std::vector<int16_t> samples;
    for (int64_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<int16_t>((i * 7) % 65535 - 32767));
        samples.push_back(static_cast<int16_t>((i * 131) % 65535 - 32767));
    }
    return samples;
}

inline std::vector<float> asFloats(const std::vector<int16_t> &samples) {
    std::vector<float> floats;
    for (const int16_t value : samples)
        floats.push_back(static_cast<float>(value) / 32767.0f);
    return floats;
}

} // namespace orvane::testing
