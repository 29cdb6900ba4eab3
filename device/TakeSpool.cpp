#include "device/TakeSpool.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace orvane {

namespace {

constexpr int64_t headerBytes = 44;
constexpr int64_t bytesPerSample = 4;
/// The largest data chunk a RIFF size field can describe, in whole frames of any width.
constexpr int64_t largestDataBytes = 0xFFFFFFFFLL - headerBytes - 8;

void putLittle(std::vector<unsigned char> &out, std::size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + static_cast<std::size_t>(i)] =
            static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

bool writeAll(int fd, const void *data, std::size_t size, off_t at, bool positioned) {
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put =
            positioned ? ::pwrite(fd, bytes + done, size - done, at + static_cast<off_t>(done))
                       : ::write(fd, bytes + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

} // namespace

std::vector<unsigned char> TakeSpool::header(int32_t channels, double sampleRate, int64_t frames) {
    const int64_t blockAlign = static_cast<int64_t>(std::max(channels, 1)) * bytesPerSample;
    const int64_t data =
        std::clamp<int64_t>(frames * blockAlign, 0, largestDataBytes / blockAlign * blockAlign);
    const auto rate = static_cast<uint32_t>(std::max<long long>(std::llround(sampleRate), 1));
    std::vector<unsigned char> out(headerBytes, 0);
    std::memcpy(out.data(), "RIFF", 4);
    putLittle(out, 4, static_cast<uint64_t>(data + headerBytes - 8), 4);
    std::memcpy(out.data() + 8, "WAVEfmt ", 8);
    putLittle(out, 16, 16, 4);
    putLittle(out, 20, 3, 2); // IEEE float
    putLittle(out, 22, static_cast<uint64_t>(std::max(channels, 1)), 2);
    putLittle(out, 24, rate, 4);
    putLittle(out, 28, static_cast<uint64_t>(rate) * static_cast<uint64_t>(blockAlign), 4);
    putLittle(out, 32, static_cast<uint64_t>(blockAlign), 2);
    putLittle(out, 34, 8 * bytesPerSample, 2);
    std::memcpy(out.data() + 36, "data", 4);
    putLittle(out, 40, static_cast<uint64_t>(data), 4);
    return out;
}

TakeSpool::~TakeSpool() { (void)close(); }

bool TakeSpool::open(const std::string &path, int32_t channels, double sampleRate,
                     std::string &error) {
    (void)close();
    channelCount = std::clamp(channels, 1, 2);
    rate = sampleRate;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const auto empty = header(channelCount, rate, 0);
    if (!writeAll(fd, empty.data(), empty.size(), 0, false) || ::fdatasync(fd) != 0) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    descriptor = fd;
    filePath = path;
    dataBytes = 0;
    {
        std::lock_guard lock(mutex);
        pending.clear();
        stopping = false;
        writeFailed = false;
        coveredFrames = 0;
    }
    lastSync = std::chrono::steady_clock::now();
    writer = std::thread([this] { writerLoop(); });
    return true;
}

void TakeSpool::append(const float *samples, int64_t frames) {
    if (descriptor < 0 || frames < 1) return;
    std::lock_guard lock(mutex);
    pending.insert(pending.end(), samples, samples + frames * channelCount);
}

bool TakeSpool::writeBatch(const std::vector<float> &batch) {
    if (batch.empty()) return true;
    const auto bytes = static_cast<int64_t>(batch.size()) * bytesPerSample;
    if (dataBytes + bytes > largestDataBytes) return false;
    // The samples first, then the sizes that cover them: at no moment does the header claim
    // a byte the file does not hold.
    if (!writeAll(descriptor, batch.data(), static_cast<std::size_t>(bytes), 0, false))
        return false;
    dataBytes += bytes;
    const int64_t frames = dataBytes / (bytesPerSample * channelCount);
    const auto sizes = header(channelCount, rate, frames);
    if (!writeAll(descriptor, sizes.data() + 4, 4, 4, true) ||
        !writeAll(descriptor, sizes.data() + 40, 4, 40, true))
        return false;
    std::lock_guard lock(mutex);
    coveredFrames = frames;
    return true;
}

void TakeSpool::writerLoop() {
    std::vector<float> batch;
    while (true) {
        bool last = false;
        {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, writeInterval, [this] { return stopping; });
            last = stopping;
            batch.clear();
            batch.swap(pending);
        }
        // After a failed write the file's end is unknown: it keeps what the header covers.
        const bool written = !failed() && writeBatch(batch);
        if (!written) {
            std::lock_guard lock(mutex);
            writeFailed = true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (last || now - lastSync >= syncInterval) {
            // For a power cut: what the header covers is on the disk, not only in the cache.
            (void)::fdatasync(descriptor);
            lastSync = now;
        }
        if (last) return;
    }
}

bool TakeSpool::close() {
    if (descriptor < 0) return true;
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (writer.joinable()) writer.join();
    const bool ok = !failed();
    ::close(descriptor);
    descriptor = -1;
    return ok;
}

void TakeSpool::discard() {
    (void)close();
    if (!filePath.empty()) ::unlink(filePath.c_str());
    filePath.clear();
}

int64_t TakeSpool::framesOnDisk() const {
    std::lock_guard lock(mutex);
    return coveredFrames;
}

bool TakeSpool::failed() const {
    std::lock_guard lock(mutex);
    return writeFailed;
}

} // namespace orvane
