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

/// Raw 16-bit `samples` written to `path` and mapped whole as one clip buffer.
inline SharedSamples mapPcmFile(const std::filesystem::path &path,
                                const std::vector<int16_t> &samples) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * sizeof(int16_t)));
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string error;
    auto file = MappedFile::map(fd, samples.size() * sizeof(int16_t), &error);
    ::close(fd);
    EXPECT_TRUE(file) << error;
    if (!file) return {};
    return SharedSamples(
        std::make_shared<const SampleBuffer>(file, reinterpret_cast<const int16_t *>(file->bytes()),
                                             static_cast<int64_t>(samples.size())));
}

/// The same in a scratch file that is gone once mapped (the mapping keeps it alive).
inline SharedSamples mappedPcm(const std::vector<int16_t> &samples) {
    static std::atomic<int> serial{0};
    const auto path =
        std::filesystem::temp_directory_path() /
        ("halvora_mapped_media_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
    SharedSamples mapped = mapPcmFile(path, samples);
    std::filesystem::remove(path);
    return mapped;
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
