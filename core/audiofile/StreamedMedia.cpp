#include "core/audiofile/AudioFile.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace {

uint32_t readLe32(const unsigned char *bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

uint16_t readLe16(const unsigned char *bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

/// Where the samples of a WAV file lie and how they are stored, found from its chunk headers.
struct PcmLayout {
    MediaEncoding encoding = MediaEncoding::Pcm16;
    int32_t channels = 0;
    uint32_t sampleRate = 0;
    std::size_t dataOffset = 0;
    std::size_t dataBytes = 0;
};

/// Exactly `size` bytes at `offset`, or false.
bool readAt(int descriptor, std::size_t offset, unsigned char *bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(descriptor, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

constexpr uint16_t formatPcm = 1;
constexpr uint16_t formatFloat = 3;
constexpr uint16_t formatExtensible = 0xFFFE;

/// The encoding a "fmt " chunk of `size` bytes describes, when it is one we stream.
std::optional<MediaEncoding> encodingOf(int descriptor, std::size_t body, std::size_t size,
                                        const unsigned char *format) {
    uint16_t tag = readLe16(format);
    const uint16_t bits = readLe16(format + 14);
    if (tag == formatExtensible) {
        // The first two bytes of the sub-format GUID are the plain format tag.
        unsigned char subFormat[2];
        if (size < 26 || !readAt(descriptor, body + 24, subFormat, 2)) return std::nullopt;
        tag = readLe16(subFormat);
    }
    if (tag == formatPcm && bits == 16) return MediaEncoding::Pcm16;
    if (tag == formatPcm && bits == 24) return MediaEncoding::Pcm24;
    if (tag == formatFloat && bits == 32) return MediaEncoding::Float32;
    return std::nullopt;
}

/// Walks the chunk headers of the file of `length` bytes; nothing for anything but 16 or
/// 24-bit PCM or 32-bit float whose "fmt " comes before its "data". A data chunk that claims
/// more than the file holds ends with it.
std::optional<PcmLayout> findPcmLayout(int descriptor, std::size_t length) {
    unsigned char head[12];
    if (length < 12 || !readAt(descriptor, 0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return std::nullopt;
    PcmLayout layout;
    std::optional<MediaEncoding> encoding;
    std::size_t at = 12;
    while (length - at >= 8) {
        unsigned char chunk[8];
        if (!readAt(descriptor, at, chunk, 8)) return std::nullopt;
        const std::size_t size = readLe32(chunk + 4);
        const std::size_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char format[16];
            if (size < 16 || length - body < 16 || !readAt(descriptor, body, format, 16))
                return std::nullopt;
            encoding = encodingOf(descriptor, body, size, format);
            layout.channels = readLe16(format + 2);
            layout.sampleRate = readLe32(format + 4);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!encoding) return std::nullopt;
            layout.encoding = *encoding;
            layout.dataOffset = body;
            layout.dataBytes = std::min(size, length - body);
            return layout;
        }
        if (size > length - body) return std::nullopt;
        at = body + size + (size & 1);
    }
    return std::nullopt;
}

void setError(std::string *error, const std::string &text) {
    if (error) *error = text;
}

/// The reason `layout` cannot be streamed as a clip of a project at `sampleRate`, or nothing.
std::optional<std::string> refusal(const std::optional<PcmLayout> &layout, double sampleRate) {
    if (!layout || layout->channels != 2)
        return "not a stereo WAV file of 16 or 24-bit PCM or 32-bit float";
    if (static_cast<double>(layout->sampleRate) != sampleRate)
        return "recorded at another sample rate";
    if (layout->dataBytes / (2 * static_cast<std::size_t>(bytesPerSample(layout->encoding))) < 1)
        return "no samples";
    return std::nullopt;
}

} // namespace

bool openStreamedMedia(const std::string &path, double sampleRate, StreamedMedia &result,
                       std::string *error) {
    result = StreamedMedia{};
    std::string reason;
    const int descriptor = openRegularFile(path, &reason);
    if (descriptor < 0) {
        setError(error, reason);
        return false;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        ::close(descriptor);
        setError(error, "cannot read the file's size");
        return false;
    }
    const auto layout = findPcmLayout(descriptor, static_cast<std::size_t>(status.st_size));
    if (const auto refused = refusal(layout, sampleRate)) {
        ::close(descriptor);
        setError(error, *refused);
        return false;
    }
    const auto frames = static_cast<int64_t>(
        layout->dataBytes / (2 * static_cast<std::size_t>(bytesPerSample(layout->encoding))));
    auto file = std::make_shared<const MediaFile>(
        descriptor, path, static_cast<int64_t>(layout->dataOffset), frames * 2, layout->encoding);
    result.samples = SharedSamples(std::make_shared<const SampleBuffer>(std::move(file)));
    result.channels = 2;
    result.frames = frames;
    return true;
}

} // namespace orvane
