#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

/// How a media file stores its samples: 16-bit PCM scaled by 32767 (what older projects
/// hold), 24-bit PCM scaled by 2^23, or 32-bit float as it is.
enum class MediaEncoding : uint8_t { Pcm16, Pcm24, Float32 };

/// The bytes one sample takes in a file of `encoding`.
int32_t bytesPerSample(MediaEncoding encoding);

/// An open PCM or float media file whose samples are read with plain reads and converted to
/// floats on the way; nothing of it is mapped. The descriptor stays open while the file is
/// in use, so a file deleted or renamed over keeps playing what it held. What a file cut
/// short (or failing to read) no longer holds plays as silence, and the file is reported
/// once with its name (see `takeMediaFailures`); nothing ends the program.
class MediaFile {
  public:
    /// Takes over the open descriptor `fd` of `path`, whose `sampleCount` samples start at
    /// byte `dataOffset`.
    MediaFile(int fd, std::string path, int64_t dataOffset, int64_t sampleCount,
              MediaEncoding encoding = MediaEncoding::Pcm16);
    ~MediaFile();
    MediaFile(const MediaFile &) = delete;
    MediaFile &operator=(const MediaFile &) = delete;

    const std::string &path() const { return path_; }
    int64_t sampleCount() const { return sampleCount_; }

    /// Reads samples [first, first + count) (within the file's count) as floats into `out`
    /// with as few reads as the size of `staging` (raw bytes, whatever its element type)
    /// allows, growing it to at most half a megabyte. Blocks on the disk: never on the audio
    /// thread.
    void read(int64_t first, int64_t count, float *out, std::vector<int16_t> &staging) const;
    /// Looks whether the file was deleted or replaced since it was opened, and reports it
    /// once; what was opened goes on playing. A system call or two: call it now and then.
    void checkStillThere() const;
    /// True once a read came up short or failed.
    bool failed() const { return failed_.load(std::memory_order_acquire); }

  private:
    void fail(const std::string &reason) const;
    void report(const std::string &reason) const;

    int fd_;
    std::string path_;
    int64_t dataOffset_;
    int64_t sampleCount_;
    MediaEncoding encoding_;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    mutable std::atomic<bool> failed_{false};
    mutable std::atomic<bool> reported_{false};
};

/// A media file that stopped being what the program opened.
struct MediaFailure {
    std::string path;
    std::string reason;
};

/// Media failures since the last call, each file once, oldest first: for the program to
/// report on its status line, in its log or on standard error.
std::vector<MediaFailure> takeMediaFailures();
/// Every media failure since the program started.
uint64_t mediaFailureCount();

/// Immutable interleaved clip audio. It lives either on the heap as floats (new recordings,
/// processed audio, until saved) or in a 16-bit PCM media file, read on demand and divided
/// by 32767 (the inverse of the WAV writer's scale): an opened project's audio then stays on
/// disk and in the page cache instead of in the process's memory. The audio thread never
/// reads a file-backed buffer itself; it plays windows of it read ahead by a disk thread
/// (`MediaStreams`).
class SampleBuffer {
  public:
    /// A 16-bit sample as the float it stands for: divided by the writer's 32767 (a division,
    /// not a product with the reciprocal, so that read and decoded audio agree bit for bit).
    static float fromPcm16(int16_t sample) { return static_cast<float>(sample) / 32767.0f; }
    /// A 24-bit sample (in the low bits of `sample`) as its float: a power of two, exact.
    static float fromPcm24(int32_t sample) { return static_cast<float>(sample) / 8388608.0f; }

    explicit SampleBuffer(std::shared_ptr<const std::vector<float>> floats);
    /// `count` floats at `floats`, kept alive by `owner` (a vector, ...).
    SampleBuffer(std::shared_ptr<const void> owner, const float *floats, int64_t count);
    /// Every sample of `file`.
    explicit SampleBuffer(std::shared_ptr<const MediaFile> file);

    int64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    /// The floats of a heap buffer; null for a file-backed one.
    const float *floats() const { return floats_; }
    /// The file of a file-backed buffer; null for a heap one.
    const MediaFile *file() const { return file_.get(); }

    /// One sample; a read of the file for a file-backed buffer, so never in a loop over one.
    float at(int64_t index) const;
    float operator[](std::size_t index) const { return at(static_cast<int64_t>(index)); }
    /// Copies `count` samples from `first` as floats into `out`.
    void copyTo(int64_t first, int64_t count, float *out) const;
    std::vector<float> toVector() const;

    /// What owns the samples: the same storage always gives the same owner.
    std::shared_ptr<const void> owner() const;

    /// Equal samples, read as floats, whatever holds them.
    friend bool operator==(const SampleBuffer &a, const SampleBuffer &b);
    friend bool operator==(const SampleBuffer &a, const std::vector<float> &b);

  private:
    std::shared_ptr<const void> heap_;
    std::shared_ptr<const MediaFile> file_;
    const float *floats_ = nullptr;
    int64_t size_ = 0;
};

/// The samples of a buffer as one float array: the heap buffer itself, or a converted copy
/// of a file's samples. For whole-buffer work off the audio thread (commands, analysis, save).
class FloatSamples {
  public:
    explicit FloatSamples(const SampleBuffer &buffer);
    const float *data() const { return data_; }
    int64_t size() const { return size_; }

  private:
    std::vector<float> copy_;
    const float *data_ = nullptr;
    int64_t size_ = 0;
};

/// A clip's shared, immutable audio. Built from a shared vector of floats (which it keeps
/// without copying) or from any `SampleBuffer`; compares equal when it holds the same storage.
class SharedSamples {
  public:
    SharedSamples() = default;
    SharedSamples(std::nullptr_t) {}
    SharedSamples(std::shared_ptr<const SampleBuffer> buffer) : buffer_(std::move(buffer)) {}
    SharedSamples(std::shared_ptr<const std::vector<float>> floats);
    SharedSamples(std::shared_ptr<std::vector<float>> floats)
        : SharedSamples(std::shared_ptr<const std::vector<float>>(std::move(floats))) {}

    explicit operator bool() const { return buffer_ != nullptr; }
    const SampleBuffer *operator->() const { return buffer_.get(); }
    const SampleBuffer &operator*() const { return *buffer_; }
    const SampleBuffer *get() const { return buffer_.get(); }
    std::shared_ptr<const void> owner() const {
        return buffer_ ? buffer_->owner() : std::shared_ptr<const void>();
    }
    void reset() { buffer_.reset(); }

    friend bool operator==(const SharedSamples &a, const SharedSamples &b) {
        return a.owner() == b.owner();
    }
    friend bool operator==(const SharedSamples &a, std::nullptr_t) { return !a; }

  private:
    std::shared_ptr<const SampleBuffer> buffer_;
};

/// A heap buffer holding `samples`.
SharedSamples makeSampleBuffer(std::vector<float> samples);

} // namespace orvane
