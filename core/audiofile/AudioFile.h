#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

/// A 16-bit PCM WAV file read into memory, always as interleaved stereo.
struct ImportedWav {
    std::shared_ptr<std::vector<float>> samples;
    int32_t channels = 2;
    int32_t frames = 0;
    double sampleRate = 48000.0;
};

/// Any readable audio file decoded to interleaved stereo at the requested rate.
struct DecodedAudio {
    std::shared_ptr<std::vector<float>> samples;
    int32_t channels = 2;
    int64_t frames = 0;
    double sampleRate = 48000.0;
};

/// Writes `frames` frames of `channels` interleaved samples as a 16-bit PCM WAV file.
/// Samples are clamped to -1..1 and scaled by 32767 with truncation, so the lowest value
/// written is -32767. Returns true when every byte reached the file.
bool exportWav(const std::string &path, const float *samples, int frames, int channels,
               double sampleRate);

/// Reads a 16-bit PCM WAV file. The first two channels are kept, mono is duplicated; the
/// samples are not resampled. The file is untrusted: a data chunk that claims more bytes
/// than the file holds ends at the end of the file.
bool importWav(const std::string &path, ImportedWav &result);

/// Decodes any file that the system's decoders read (WAV of every depth, AIFF, CAF, FLAC,
/// Ogg, MP3, M4A) to stereo at `targetSampleRate`.
bool decodeAudioFile(const std::string &path, double targetSampleRate, DecodedAudio &result,
                     std::string *error = nullptr);

} // namespace orvane
