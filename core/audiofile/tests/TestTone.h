#pragma once

#include <string>
#include <vector>

namespace orvane::testing {

/// Interleaved sine of `frequency` Hz at amplitude 0.5 in every channel.
std::vector<float> makeTone(double frequency, double sampleRate, int frames, int channels);

/// Frequency of the dominant tone in one channel of interleaved stereo, from the zero
/// crossings of its middle half (codec start-up and resampler edges stay out).
double measureFrequency(const std::vector<float> &stereo, int channel, double sampleRate);

/// Writes through libsndfile; `format` is a libsndfile major format with its subtype.
bool writeWithSndfile(const std::string &path, const std::vector<float> &interleaved, int channels,
                      int sampleRate, int format);

/// An M4A file with AAC audio written through FFmpeg; false where FFmpeg has no encoder.
bool writeM4a(const std::string &path, const std::vector<float> &stereo, int sampleRate);

/// A fresh empty folder under the system's temporary folder.
std::string makeScratchFolder(const std::string &label);

} // namespace orvane::testing
