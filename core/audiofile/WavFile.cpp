#include "core/audiofile/AudioFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace {

constexpr std::size_t blockBytes = 1 << 16;
constexpr double pcmScale = 32767.0;
constexpr uint32_t formatPcm = 1;
constexpr uint32_t formatExtensible = 0xFFFE;

void putLittleEndian(uint8_t *out, uint32_t value, int bytes) {
    for (int index = 0; index < bytes; ++index)
        out[index] = static_cast<uint8_t>(value >> (8 * index));
}

uint32_t getLittleEndian(const uint8_t *in, int bytes) {
    uint32_t value = 0;
    for (int index = bytes - 1; index >= 0; --index)
        value = (value << 8) | in[index];
    return value;
}

/// A cast of a double outside the target range is undefined; a header field saturates.
uint32_t saturateUnsigned(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 4294967295.0) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(value);
}

int32_t saturateSigned(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

/// Rounds to the nearest step of 1/32767, the inverse of `pcmValue`: a buffer that was read
/// from a 16-bit file is written back to the same bytes, however often it is saved.
int16_t toPcm16(float sample) {
    if (std::isnan(sample)) return 0;
    if (sample < -1.0f) return -32767;
    if (sample > 1.0f) return 32767;
    return static_cast<int16_t>(std::lround(static_cast<double>(sample) * pcmScale));
}

void writeHeader(uint8_t *header, uint32_t channels, uint32_t dataBytes, double sampleRate) {
    std::memcpy(header, "RIFF", 4);
    putLittleEndian(header + 4, 36 + dataBytes, 4);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    putLittleEndian(header + 16, 16, 4);
    putLittleEndian(header + 20, 1, 2);
    putLittleEndian(header + 22, channels, 2);
    putLittleEndian(header + 24, saturateUnsigned(sampleRate), 4);
    const uint32_t byteRate = 2u * channels * static_cast<uint32_t>(saturateSigned(sampleRate));
    putLittleEndian(header + 28, byteRate, 4);
    putLittleEndian(header + 32, 2 * channels, 2);
    putLittleEndian(header + 34, 16, 2);
    std::memcpy(header + 36, "data", 4);
    putLittleEndian(header + 40, dataBytes, 4);
}

bool writeSamples(int descriptor, const float *samples, uint64_t count) {
    WavSampleStream stream(descriptor);
    return stream.append(samples, count) && stream.flush();
}

/// Reads the file through one buffer, so that a huge chunk size in the header costs a seek,
/// not an allocation.
class WavReader {
  public:
    /// Takes ownership of `file`, which may be null.
    explicit WavReader(std::FILE *file) : file_(file) {
        struct stat status {};
        if (file_ && ::fstat(fileno(file_), &status) == 0)
            size_ = static_cast<uint64_t>(status.st_size);
    }
    ~WavReader() {
        if (file_) std::fclose(file_);
    }
    WavReader(const WavReader &) = delete;
    WavReader &operator=(const WavReader &) = delete;

    bool isOpen() const { return file_ != nullptr; }
    bool good() const { return good_; }
    uint64_t remaining() const { return position_ < size_ ? size_ - position_ : 0; }

    bool read(uint8_t *out, std::size_t count) {
        if (!good_) return false;
        const std::size_t got = std::fread(out, 1, count, file_);
        position_ += got;
        if (got < count) good_ = false;
        return good_;
    }

    /// Reads what is there and zero-fills the rest; returns the bytes actually read.
    std::size_t readPadded(uint8_t *out, std::size_t count) {
        const std::size_t got = good_ ? std::fread(out, 1, count, file_) : 0;
        position_ += got;
        if (got < count) std::memset(out + got, 0, count - got);
        return got;
    }

    void skip(uint64_t count) {
        if (!good_) return;
        position_ += count;
        if (position_ > size_ || ::fseeko(file_, static_cast<off_t>(position_), SEEK_SET) != 0)
            good_ = false;
    }

    uint32_t readField(int bytes) {
        uint8_t buffer[4] = {};
        read(buffer, static_cast<std::size_t>(bytes));
        return getLittleEndian(buffer, bytes);
    }

  private:
    std::FILE *file_ = nullptr;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    bool good_ = true;
};

float pcmValue(const uint8_t *bytes) {
    return static_cast<float>(static_cast<int16_t>(getLittleEndian(bytes, 2)) / pcmScale);
}

struct WavFormat {
    bool seen = false;
    uint32_t formatTag = 0;
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t bitsPerSample = 0;
};

/// Chunks are padded to an even size; the pad byte is not counted in the chunk's size.
uint64_t paddedSize(uint32_t chunkSize) { return uint64_t{chunkSize} + (chunkSize & 1u); }

void readFormatChunk(WavReader &reader, uint32_t chunkSize, WavFormat &format) {
    format.seen = true;
    format.formatTag = reader.readField(2);
    format.channels = reader.readField(2);
    format.sampleRate = reader.readField(4);
    reader.readField(4); // byte rate
    reader.readField(2); // block align
    format.bitsPerSample = reader.readField(2);
    uint64_t consumed = 16;
    // The extensible form names the real format in the first two bytes of its sub-format.
    if (format.formatTag == formatExtensible && chunkSize >= 40) {
        reader.readField(2); // extension size
        reader.readField(2); // valid bits
        reader.readField(4); // channel mask
        format.formatTag = reader.readField(2);
        consumed = 26;
    }
    if (paddedSize(chunkSize) > consumed) reader.skip(paddedSize(chunkSize) - consumed);
}

/// Converts the data chunk straight into the stereo result. Only the bytes the file holds
/// are read: the chunk size is untrusted and must not size an allocation by itself.
bool readDataChunk(WavReader &reader, uint32_t chunkSize, const WavFormat &format,
                   ImportedWav &result) {
    const uint64_t presentBytes = std::min<uint64_t>(chunkSize, reader.remaining());
    const uint64_t sampleCount = presentBytes / 2;
    if (sampleCount == 0 || format.channels == 0) return false;
    const uint64_t frames = sampleCount / format.channels;
    // Filled by appending: sizing the buffer up front would write every page twice, and for
    // long media the zeroing costs more than the conversion.
    auto samples = std::make_shared<std::vector<float>>();
    samples->reserve(static_cast<std::size_t>(2 * frames));
    const uint64_t frameBytes = 2 * uint64_t{format.channels};
    const uint64_t framesPerBlock = std::max<uint64_t>(1, blockBytes / frameBytes);
    std::vector<uint8_t> block(static_cast<std::size_t>(framesPerBlock * frameBytes));
    std::vector<float> converted(static_cast<std::size_t>(2 * framesPerBlock));
    for (uint64_t frame = 0; frame < frames;) {
        const uint64_t count = std::min(framesPerBlock, frames - frame);
        reader.readPadded(block.data(), static_cast<std::size_t>(count * frameBytes));
        for (uint64_t index = 0; index < count; ++index) {
            const uint8_t *bytes = &block[static_cast<std::size_t>(index * frameBytes)];
            const float left = pcmValue(bytes);
            converted[2 * index] = left;
            converted[2 * index + 1] = format.channels >= 2 ? pcmValue(bytes + 2) : left;
        }
        samples->insert(samples->end(), converted.begin(),
                        converted.begin() + static_cast<std::ptrdiff_t>(2 * count));
        frame += count;
    }
    result.samples = std::move(samples);
    result.frames = static_cast<int32_t>(frames);
    result.sampleRate = format.sampleRate;
    return true;
}

} // namespace

int openRegularFile(const std::string &path, std::string *error) {
    // Without O_NONBLOCK opening a FIFO waits for a writer that may never come.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        if (error) *error = std::strerror(errno);
        return -1;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        if (error) *error = "not a regular file";
        ::close(descriptor);
        return -1;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    return descriptor;
}

bool exportWav(int descriptor, const float *samples, int frames, int channels, double sampleRate) {
    if (descriptor < 0 || !samples || frames < 1 || channels < 1) return false;
    const uint64_t sampleCount = static_cast<uint64_t>(frames) * static_cast<uint64_t>(channels);
    // The RIFF size fields are 32-bit; a longer buffer cannot be described truthfully.
    if (channels > 0xFFFF || 2 * sampleCount + 36 > std::numeric_limits<uint32_t>::max())
        return false;
    uint8_t header[44];
    writeHeader(header, static_cast<uint32_t>(channels), static_cast<uint32_t>(2 * sampleCount),
                sampleRate);
    return writeAllBytes(descriptor, header, sizeof header) &&
           writeSamples(descriptor, samples, sampleCount);
}

bool exportWav(const std::string &path, const float *samples, int frames, int channels,
               double sampleRate) {
    if (!samples || frames < 1 || channels < 1) return false;
    const uint64_t sampleCount = static_cast<uint64_t>(frames) * static_cast<uint64_t>(channels);
    if (channels > 0xFFFF || 2 * sampleCount + 36 > std::numeric_limits<uint32_t>::max())
        return false;
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) return false;
    bool written = exportWav(descriptor, samples, frames, channels, sampleRate);
    // A full disk may only show when the data is handed over at close.
    if (::close(descriptor) != 0) written = false;
    return written;
}

bool writeWavHeader(int descriptor, int64_t frames, int channels, double sampleRate) {
    if (descriptor < 0 || frames < 1 || channels < 1 || channels > 0xFFFF) return false;
    const uint64_t sampleCount = static_cast<uint64_t>(frames) * static_cast<uint64_t>(channels);
    if (2 * sampleCount + 36 > std::numeric_limits<uint32_t>::max()) return false;
    uint8_t header[44];
    writeHeader(header, static_cast<uint32_t>(channels), static_cast<uint32_t>(2 * sampleCount),
                sampleRate);
    return writeAllBytes(descriptor, header, sizeof header);
}

bool writeWavSamples(int descriptor, const float *samples, uint64_t count) {
    return descriptor >= 0 && samples && writeSamples(descriptor, samples, count);
}

WavSampleStream::WavSampleStream(int descriptor) : descriptor_(descriptor) {
    pending_.reserve(blockBytes);
}

bool WavSampleStream::append(const float *samples, uint64_t count) {
    if (failed_ || descriptor_ < 0 || (!samples && count > 0)) return false;
    uint64_t done = 0;
    while (done < count) {
        if (pending_.size() == blockBytes && !flush()) return false;
        const std::size_t held = pending_.size();
        const auto batch =
            static_cast<std::size_t>(std::min<uint64_t>(count - done, (blockBytes - held) / 2));
        pending_.resize(held + 2 * batch);
        for (std::size_t index = 0; index < batch; ++index)
            putLittleEndian(&pending_[held + 2 * index],
                            static_cast<uint16_t>(toPcm16(samples[done + index])), 2);
        done += batch;
    }
    return true;
}

bool WavSampleStream::flush() {
    if (failed_ || descriptor_ < 0) return false;
    failed_ = !writeAllBytes(descriptor_, pending_.data(), pending_.size());
    pending_.clear();
    return !failed_;
}

bool exportWav(const std::string &path, const SampleBuffer &samples, int channels,
               double sampleRate) {
    if (channels < 1 || samples.size() < channels) return false;
    if (const float *floats = samples.floats())
        return exportWav(path, floats, static_cast<int>(samples.size() / channels), channels,
                         sampleRate);
    const uint64_t sampleCount =
        static_cast<uint64_t>(samples.size() / channels) * static_cast<uint64_t>(channels);
    if (channels > 0xFFFF || 2 * sampleCount + 36 > std::numeric_limits<uint32_t>::max())
        return false;
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) return false;
    uint8_t header[44];
    writeHeader(header, static_cast<uint32_t>(channels), static_cast<uint32_t>(2 * sampleCount),
                sampleRate);
    bool written = writeAllBytes(descriptor, header, sizeof header);
    // Mapped samples go out a piece at a time: a long file never becomes one heap copy.
    std::vector<float> piece(std::size_t{1} << 16);
    for (uint64_t done = 0; written && done < sampleCount;) {
        const auto count = std::min<uint64_t>(piece.size(), sampleCount - done);
        samples.copyTo(static_cast<int64_t>(done), static_cast<int64_t>(count), piece.data());
        written = writeSamples(descriptor, piece.data(), count);
        done += count;
    }
    if (::close(descriptor) != 0) written = false;
    return written;
}

bool importWav(const std::string &path, ImportedWav &result) {
    result = ImportedWav{};
    const int descriptor = openRegularFile(path, nullptr);
    if (descriptor < 0) return false;
    std::FILE *file = ::fdopen(descriptor, "rb");
    if (!file) {
        ::close(descriptor);
        return false;
    }
    return importWav(file, result);
}

bool importWav(std::FILE *file, ImportedWav &result) {
    result = ImportedWav{};
    WavReader reader(file);
    if (!reader.isOpen()) return false;
    uint8_t riff[12];
    if (!reader.read(riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return false;
    WavFormat format;
    while (reader.good()) {
        uint8_t chunk[8];
        if (!reader.read(chunk, sizeof chunk)) break;
        const uint32_t chunkSize = getLittleEndian(chunk + 4, 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            readFormatChunk(reader, chunkSize, format);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!format.seen || format.formatTag != formatPcm || format.bitsPerSample != 16)
                return false;
            return readDataChunk(reader, chunkSize, format, result);
        } else {
            reader.skip(paddedSize(chunkSize));
        }
    }
    return false;
}

bool writeAllBytes(int descriptor, const uint8_t *bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(descriptor, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace orvane
