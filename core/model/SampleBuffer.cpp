#include "core/model/SampleBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace {

struct FailureLog {
    std::mutex mutex;
    std::vector<MediaFailure> pending;
    uint64_t total = 0;
};

FailureLog &failureLog() {
    static FailureLog log;
    return log;
}

/// A quarter megabyte a read: large enough that the system calls cost nothing next to the
/// copying, small enough to stay in the cache while it is converted.
constexpr int64_t readChunkSamples = 128 * 1024;

} // namespace

int32_t bytesPerSample(MediaEncoding encoding) {
    switch (encoding) {
    case MediaEncoding::Pcm16: return 2;
    case MediaEncoding::Pcm24: return 3;
    case MediaEncoding::Float32: return 4;
    }
    return 2;
}

MediaFile::MediaFile(int fd, std::string path, int64_t dataOffset, int64_t sampleCount,
                     MediaEncoding encoding)
    : fd_(fd), path_(std::move(path)), dataOffset_(dataOffset),
      sampleCount_(std::max<int64_t>(sampleCount, 0)), encoding_(encoding) {
    struct stat status {};
    if (::fstat(fd_, &status) == 0) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
    }
}

MediaFile::~MediaFile() { ::close(fd_); }

void MediaFile::fail(const std::string &reason) const {
    failed_.store(true, std::memory_order_release);
    report(reason);
}

void MediaFile::report(const std::string &reason) const {
    if (reported_.exchange(true)) return;
    FailureLog &log = failureLog();
    std::lock_guard lock(log.mutex);
    log.pending.push_back({path_, reason});
    ++log.total;
}

namespace {

/// `count` samples of `encoding` (little-endian, as WAV stores them) as floats.
void convertSamples(const unsigned char *bytes, int64_t count, MediaEncoding encoding, float *out) {
    switch (encoding) {
    case MediaEncoding::Pcm16:
        for (int64_t i = 0; i < count; ++i) {
            int16_t value = 0;
            std::memcpy(&value, bytes + 2 * i, sizeof value);
            out[i] = SampleBuffer::fromPcm16(value);
        }
        return;
    case MediaEncoding::Pcm24:
        for (int64_t i = 0; i < count; ++i) {
            const unsigned char *at = bytes + 3 * i;
            // Shifted into the top of a 32-bit word and back, so the sign comes along.
            const auto word = static_cast<int32_t>(static_cast<uint32_t>(at[0]) << 8 |
                                                   static_cast<uint32_t>(at[1]) << 16 |
                                                   static_cast<uint32_t>(at[2]) << 24);
            out[i] = SampleBuffer::fromPcm24(word >> 8);
        }
        return;
    case MediaEncoding::Float32:
        std::memcpy(out, bytes, static_cast<std::size_t>(count) * 4);
        return;
    }
}

} // namespace

void MediaFile::read(int64_t first, int64_t count, float *out,
                     std::vector<int16_t> &staging) const {
    first = std::clamp<int64_t>(first, 0, sampleCount_);
    count = std::clamp<int64_t>(count, 0, sampleCount_ - first);
    const int64_t width = bytesPerSample(encoding_);
    const auto wanted = static_cast<std::size_t>((std::min(count, readChunkSamples) * width + 1) /
                                                 static_cast<int64_t>(sizeof(int16_t)));
    if (staging.size() < wanted) staging.resize(wanted);
    const int64_t capacity = static_cast<int64_t>(staging.size() * sizeof(int16_t)) / width;
    auto *bytes = reinterpret_cast<unsigned char *>(staging.data());
    for (int64_t done = 0; done < count;) {
        const int64_t piece = std::min<int64_t>(count - done, capacity);
        ssize_t got = 0;
        do {
            got = ::pread(fd_, bytes, static_cast<std::size_t>(piece * width),
                          static_cast<off_t>(dataOffset_ + (first + done) * width));
        } while (got < 0 && errno == EINTR);
        if (got < 0)
            fail(std::string("cannot read: ") + std::strerror(errno));
        else if (got < piece * width)
            fail("the file became shorter; what it lost plays as silence");
        const int64_t whole = got < 0 ? 0 : got / width;
        float *target = out + done;
        convertSamples(bytes, whole, encoding_, target);
        if (whole < piece) {
            // Nothing after a short read is there either: the rest is silence.
            std::fill_n(target + whole, count - done - whole, 0.0f);
            return;
        }
        done += piece;
    }
}

void MediaFile::checkStillThere() const {
    if (reported_.load()) return;
    struct stat named {};
    if (::stat(path_.c_str(), &named) == 0 && (named.st_dev != device_ || named.st_ino != inode_)) {
        report("the file was replaced; what was opened plays on");
        return;
    }
    struct stat opened {};
    if (::fstat(fd_, &opened) == 0 && opened.st_nlink == 0)
        report("the file was deleted; what was opened plays on");
}

std::vector<MediaFailure> takeMediaFailures() {
    FailureLog &log = failureLog();
    std::lock_guard lock(log.mutex);
    return std::exchange(log.pending, {});
}

uint64_t mediaFailureCount() {
    FailureLog &log = failureLog();
    std::lock_guard lock(log.mutex);
    return log.total;
}

namespace {
const float noFloats = 0.0f;
}

SampleBuffer::SampleBuffer(std::shared_ptr<const std::vector<float>> floats) {
    if (floats && !floats->empty()) {
        floats_ = floats->data();
        size_ = static_cast<int64_t>(floats->size());
    } else {
        floats_ = &noFloats;
    }
    heap_ = std::move(floats);
}

SampleBuffer::SampleBuffer(std::shared_ptr<const void> owner, const float *floats, int64_t count)
    : heap_(std::move(owner)), floats_(floats && count > 0 ? floats : &noFloats),
      size_(floats && count > 0 ? count : 0) {}

SampleBuffer::SampleBuffer(std::shared_ptr<const MediaFile> file)
    : file_(std::move(file)), size_(file_ ? file_->sampleCount() : 0) {
    if (!file_) floats_ = &noFloats;
}

float SampleBuffer::at(int64_t index) const {
    if (floats_) return floats_[index];
    float sample = 0.0f;
    std::vector<int16_t> staging(1);
    file_->read(index, 1, &sample, staging);
    return sample;
}

void SampleBuffer::copyTo(int64_t first, int64_t count, float *out) const {
    if (floats_) {
        std::copy_n(floats_ + first, count, out);
        return;
    }
    std::vector<int16_t> staging;
    file_->read(first, count, out, staging);
}

std::vector<float> SampleBuffer::toVector() const {
    std::vector<float> samples(static_cast<std::size_t>(size_));
    copyTo(0, size_, samples.data());
    return samples;
}

std::shared_ptr<const void> SampleBuffer::owner() const {
    if (file_) return std::shared_ptr<const void>(file_, file_.get());
    return std::shared_ptr<const void>(heap_, floats_);
}

namespace {

/// Compares `a` with `read` piece by piece, so that a file is read in large reads.
template <typename Read> bool sameSamples(const SampleBuffer &a, int64_t size, Read read) {
    if (a.size() != size) return false;
    constexpr int64_t piece = 64 * 1024;
    std::vector<float> mine(static_cast<std::size_t>(std::min(size, piece)));
    for (int64_t first = 0; first < size; first += piece) {
        const int64_t count = std::min(piece, size - first);
        a.copyTo(first, count, mine.data());
        for (int64_t i = 0; i < count; ++i)
            if (mine[static_cast<std::size_t>(i)] != read(first + i)) return false;
    }
    return true;
}

} // namespace

bool operator==(const SampleBuffer &a, const SampleBuffer &b) {
    if (b.floats()) return sameSamples(a, b.size(), [&](int64_t i) { return b.floats()[i]; });
    const FloatSamples other(b);
    return sameSamples(a, b.size(), [&](int64_t i) { return other.data()[i]; });
}

bool operator==(const SampleBuffer &a, const std::vector<float> &b) {
    return sameSamples(a, static_cast<int64_t>(b.size()),
                       [&](int64_t i) { return b[static_cast<std::size_t>(i)]; });
}

FloatSamples::FloatSamples(const SampleBuffer &buffer) : size_(buffer.size()) {
    if (buffer.floats()) {
        data_ = buffer.floats();
        return;
    }
    copy_ = buffer.toVector();
    data_ = copy_.data();
}

SharedSamples::SharedSamples(std::shared_ptr<const std::vector<float>> floats)
    : buffer_(floats ? std::make_shared<const SampleBuffer>(std::move(floats)) : nullptr) {}

SharedSamples makeSampleBuffer(std::vector<float> samples) {
    return SharedSamples(std::make_shared<const std::vector<float>>(std::move(samples)));
}

} // namespace orvane
