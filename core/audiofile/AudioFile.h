#pragma once

#include "core/model/SampleBuffer.h"

#include <cstdint>
#include <cstdio>
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
/// Samples are clamped to -1..1, scaled by 32767 and rounded, so the lowest value written
/// is -32767. Import divides by the same 32767: a buffer read from a 16-bit file is written
/// back bit for bit. Returns true when every byte reached the file.
[[nodiscard]] bool exportWav(const std::string &path, const float *samples, int frames,
                             int channels, double sampleRate);
/// A WAV file written in pieces into an open file: the header for `frames` frames first,
/// then the interleaved samples as they come (the same conversion as `exportWav`).
[[nodiscard]] bool writeWavHeader(int descriptor, int64_t frames, int channels, double sampleRate);
[[nodiscard]] bool writeWavSamples(int descriptor, const float *samples, uint64_t count);
/// `writeWavSamples` for a caller that hands over small pieces (a render's blocks): the
/// converted samples are gathered and written 64 KiB at a time, not one system call each.
class WavSampleStream {
  public:
    explicit WavSampleStream(int descriptor);
    /// False once a write has failed; the samples given then are lost, as the file is.
    [[nodiscard]] bool append(const float *samples, uint64_t count);
    /// Writes what is gathered; call once the last piece is in.
    [[nodiscard]] bool flush();

  private:
    int descriptor_;
    std::vector<uint8_t> pending_;
    bool failed_ = false;
};
/// The same from a clip buffer of `channels` interleaved channels, heap or mapped.
[[nodiscard]] bool exportWav(const std::string &path, const SampleBuffer &samples, int channels,
                             double sampleRate);
/// The same into a file the caller opened (and flushes and closes).
[[nodiscard]] bool exportWav(int descriptor, const float *samples, int frames, int channels,
                             double sampleRate);

/// A clip's media as Halvora writes it: a WAV file of 32-bit floats (every sample as it is)
/// or 24-bit PCM scaled by 2^23 (what `SampleBuffer::fromPcm24` reads back to the same
/// floats), or with `MediaEncoding::Pcm16` the same as `exportWav`. Returns true when every
/// byte reached the file.
[[nodiscard]] bool exportMediaWav(const std::string &path, const SampleBuffer &samples,
                                  int channels, double sampleRate, MediaEncoding encoding);
/// The same into a file the caller opened (and closes).
[[nodiscard]] bool exportMediaWav(int descriptor, const SampleBuffer &samples, int channels,
                                  double sampleRate, MediaEncoding encoding);

/// Reads a 16-bit PCM WAV file (plain or extensible). The first two channels are kept, mono
/// is duplicated; the samples are not resampled. The file is untrusted: a data chunk that
/// claims more bytes than the file holds ends at the end of the file, and anything but a
/// regular file (a FIFO, a device) is refused without waiting on it.
[[nodiscard]] bool importWav(const std::string &path, ImportedWav &result);
/// The same from an open file, which this takes over and closes.
[[nodiscard]] bool importWav(std::FILE *file, ImportedWav &result);

/// Writes all `size` bytes to an open file, again after an interrupted or partial write.
/// False when the file refused some of them.
[[nodiscard]] bool writeAllBytes(int descriptor, const uint8_t *bytes, std::size_t size);

/// Opens `path` for reading only when it is a regular file, never blocking on a FIFO or a
/// device. Returns the descriptor, or -1 with `error` (when given) saying why.
int openRegularFile(const std::string &path, std::string *error);

/// Reads a clip's media file: 16-bit PCM WAV exactly on the grid `exportWav` writes, every
/// other encoding libsndfile reads (8, 24, 32-bit, float, extensible, AIFF, FLAC, ...), as
/// stereo converted to `sampleRate` when the file has another rate. False with `error` (when
/// given) saying why; running out of memory is such an error, not an abort.
[[nodiscard]] bool readMediaFile(const std::string &path, double sampleRate, DecodedAudio &result,
                                 std::string *error = nullptr);

/// A media file opened for reading as it plays: its samples stay on disk.
struct StreamedMedia {
    SharedSamples samples;
    int32_t channels = 2;
    int64_t frames = 0;
};

/// Opens a stereo WAV file of 16 or 24-bit PCM or 32-bit float recorded at `sampleRate` (the
/// files `exportMediaWav` writes for a project, and those of older projects) without reading
/// its samples: they are read when they play. False,
/// with `error` saying why, for any other file, which `readMediaFile` then reads instead.
/// If the file changes later, it is reported and what it lost plays as silence.
[[nodiscard]] bool openStreamedMedia(const std::string &path, double sampleRate,
                                     StreamedMedia &result, std::string *error = nullptr);

/// Decodes any file that the system's decoders read (WAV of every depth, AIFF, CAF, FLAC,
/// Ogg, MP3, M4A) to stereo at `targetSampleRate`.
[[nodiscard]] bool decodeAudioFile(const std::string &path, double targetSampleRate,
                                   DecodedAudio &result, std::string *error = nullptr);

} // namespace orvane
