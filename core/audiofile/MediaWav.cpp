#include "core/audiofile/AudioFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

namespace orvane {

namespace {

constexpr int64_t chunkSamples = 64 * 1024;
constexpr uint16_t formatPcm = 1;
constexpr uint16_t formatFloat = 3;

void put(std::vector<uint8_t> &out, uint32_t value, int bytes) {
    for (int index = 0; index < bytes; ++index)
        out.push_back(static_cast<uint8_t>(value >> (8 * index)));
}

void putTag(std::vector<uint8_t> &out, const char *tag) { out.insert(out.end(), tag, tag + 4); }

/// The header of a WAV file of `encoding`: a float file carries the "fact" chunk its format
/// asks for (with the frame count), a 24-bit one is plain PCM.
std::vector<uint8_t> mediaHeader(MediaEncoding encoding, uint32_t channels, uint32_t frames,
                                 uint32_t sampleRate) {
    const auto width = static_cast<uint32_t>(bytesPerSample(encoding));
    const uint32_t dataBytes = frames * channels * width;
    const bool isFloat = encoding == MediaEncoding::Float32;
    const uint32_t formatBytes = isFloat ? 18 : 16;
    const uint32_t factBytes = isFloat ? 12 : 0;
    std::vector<uint8_t> header;
    putTag(header, "RIFF");
    put(header, 4 + (8 + formatBytes) + factBytes + 8 + dataBytes, 4);
    putTag(header, "WAVE");
    putTag(header, "fmt ");
    put(header, formatBytes, 4);
    put(header, isFloat ? formatFloat : formatPcm, 2);
    put(header, channels, 2);
    put(header, sampleRate, 4);
    put(header, sampleRate * channels * width, 4);
    put(header, channels * width, 2);
    put(header, width * 8, 2);
    if (isFloat) {
        put(header, 0, 2); // no extension
        putTag(header, "fact");
        put(header, 4, 4);
        put(header, frames, 4);
    }
    putTag(header, "data");
    put(header, dataBytes, 4);
    return header;
}

/// The inverse of `SampleBuffer::fromPcm24`: a buffer read from a 24-bit file is written back
/// to the same bytes.
int32_t toPcm24(float sample) {
    if (std::isnan(sample)) return 0;
    const double scaled = std::round(static_cast<double>(sample) * 8388608.0);
    return static_cast<int32_t>(std::clamp(scaled, -8388608.0, 8388607.0));
}

void encode(const float *samples, int64_t count, MediaEncoding encoding,
            std::vector<uint8_t> &out) {
    out.clear();
    if (encoding == MediaEncoding::Float32) {
        out.resize(static_cast<std::size_t>(count) * 4);
        std::memcpy(out.data(), samples, out.size());
        return;
    }
    out.reserve(static_cast<std::size_t>(count) * 3);
    for (int64_t index = 0; index < count; ++index)
        put(out, static_cast<uint32_t>(toPcm24(samples[index])), 3);
}

} // namespace

bool exportMediaWav(int descriptor, const SampleBuffer &samples, int channels, double sampleRate,
                    MediaEncoding encoding) {
    if (channels < 1 || channels > 0xFFFF || samples.size() < channels || !(sampleRate >= 1.0) ||
        sampleRate > std::numeric_limits<uint32_t>::max())
        return false;
    const int64_t frames = samples.size() / channels;
    const int64_t count = frames * channels;
    if (encoding == MediaEncoding::Pcm16) {
        if (frames > std::numeric_limits<int>::max() ||
            !writeWavHeader(descriptor, frames, channels, sampleRate))
            return false;
        std::vector<float> piece;
        for (int64_t done = 0; done < count;) {
            const int64_t size = std::min(chunkSamples, count - done);
            const float *source = samples.floats() ? samples.floats() + done : nullptr;
            if (!source) {
                piece.resize(static_cast<std::size_t>(size));
                samples.copyTo(done, size, piece.data());
                source = piece.data();
            }
            if (!writeWavSamples(descriptor, source, static_cast<uint64_t>(size))) return false;
            done += size;
        }
        return true;
    }
    // The RIFF sizes are 32-bit; a longer buffer cannot be described truthfully.
    if (count * bytesPerSample(encoding) + 64 > int64_t{std::numeric_limits<uint32_t>::max()})
        return false;
    const std::vector<uint8_t> header =
        mediaHeader(encoding, static_cast<uint32_t>(channels), static_cast<uint32_t>(frames),
                    static_cast<uint32_t>(sampleRate));
    bool written = writeAllBytes(descriptor, header.data(), header.size());
    std::vector<float> floats;
    std::vector<uint8_t> bytes;
    for (int64_t done = 0; written && done < count;) {
        const int64_t piece = std::min(chunkSamples, count - done);
        const float *source = samples.floats() ? samples.floats() + done : nullptr;
        if (!source) {
            floats.resize(static_cast<std::size_t>(piece));
            samples.copyTo(done, piece, floats.data());
            source = floats.data();
        }
        encode(source, piece, encoding, bytes);
        written = writeAllBytes(descriptor, bytes.data(), bytes.size());
        done += piece;
    }
    return written;
}

bool exportMediaWav(const std::string &path, const SampleBuffer &samples, int channels,
                    double sampleRate, MediaEncoding encoding) {
    if (encoding == MediaEncoding::Pcm16) return exportWav(path, samples, channels, sampleRate);
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) return false;
    bool written = exportMediaWav(descriptor, samples, channels, sampleRate, encoding);
    // A full disk may only show when the data is handed over at close.
    if (::close(descriptor) != 0) written = false;
    return written;
}

} // namespace orvane
