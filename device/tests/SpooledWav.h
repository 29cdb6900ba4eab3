#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::testing {

/// A take file as another program reads it: through libsndfile.
struct SpooledWav {
    bool valid = false;
    int channels = 0;
    int sampleRate = 0;
    std::vector<float> samples;
    int64_t frames() const {
        return channels > 0 ? static_cast<int64_t>(samples.size()) / channels : 0;
    }
};

inline SpooledWav readSpooledWav(const std::string &path) {
    SpooledWav wav;
    SF_INFO info{};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return wav;
    wav.channels = info.channels;
    wav.sampleRate = info.samplerate;
    wav.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, wav.samples.data(), info.frames);
    sf_close(file);
    wav.valid = read == info.frames;
    return wav;
}

} // namespace orvane::testing
