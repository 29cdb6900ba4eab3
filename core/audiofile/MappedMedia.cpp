#include "core/audiofile/AudioFile.h"

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

/// Where the samples of a plain 16-bit PCM WAV file lie, found from its first bytes.
struct PcmLayout {
    int32_t channels = 0;
    uint32_t sampleRate = 0;
    std::size_t dataOffset = 0;
    std::size_t dataBytes = 0;
};

/// Walks the chunks of the mapped file; nothing for anything but 16-bit PCM whose "fmt "
/// comes before its "data". A data chunk that claims more than the file holds ends with it.
std::optional<PcmLayout> findPcmLayout(const unsigned char *bytes, std::size_t length) {
    if (length < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        return std::nullopt;
    PcmLayout layout;
    bool pcm16 = false;
    std::size_t at = 12;
    while (length - at >= 8) {
        const unsigned char *chunk = bytes + at;
        const std::size_t size = readLe32(chunk + 4);
        const std::size_t body = at + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || length - body < 16) return std::nullopt;
            pcm16 = readLe16(bytes + body) == 1 && readLe16(bytes + body + 14) == 16;
            layout.channels = readLe16(bytes + body + 2);
            layout.sampleRate = readLe32(bytes + body + 4);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!pcm16) return std::nullopt;
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

} // namespace

bool mapMediaFile(const std::string &path, double sampleRate, MappedMedia &result,
                  std::string *error) {
    result = MappedMedia{};
    std::string reason;
    const int descriptor = openRegularFile(path, &reason);
    if (descriptor < 0) {
        setError(error, reason);
        return false;
    }
    struct stat status {};
    const bool statted = ::fstat(descriptor, &status) == 0;
    std::shared_ptr<const MappedFile> file =
        statted ? MappedFile::map(descriptor, static_cast<std::size_t>(status.st_size), &reason)
                : nullptr;
    ::close(descriptor);
    if (!file) {
        setError(error, statted ? reason : "cannot read the file's size");
        return false;
    }
    const std::optional<PcmLayout> layout = findPcmLayout(file->bytes(), file->length());
    if (!layout || layout->channels != 2) {
        setError(error, "not a stereo 16-bit PCM WAV file");
        return false;
    }
    if (static_cast<double>(layout->sampleRate) != sampleRate) {
        setError(error, "recorded at another sample rate");
        return false;
    }
    // The mapping starts on a page, so an even offset keeps every sample aligned.
    const int64_t frames = static_cast<int64_t>(layout->dataBytes / 4);
    if (layout->dataOffset % 2 != 0 || frames < 1) {
        setError(error, layout->dataOffset % 2 != 0 ? "samples not aligned" : "no samples");
        return false;
    }
    const auto *pcm = reinterpret_cast<const int16_t *>(file->bytes() + layout->dataOffset);
    result.samples = SharedSamples(std::make_shared<const SampleBuffer>(file, pcm, frames * 2));
    result.channels = 2;
    result.frames = frames;
    return true;
}

} // namespace orvane
