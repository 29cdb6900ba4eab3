#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvane {

/// A read-only shared mapping of a whole file. While it lives, a page the file no longer
/// backs (the file was truncated behind our back) reads as zeros instead of ending the
/// process with SIGBUS; `faultedPages` counts such pages so that the program can say so.
class MappedFile {
  public:
    /// Maps the open descriptor `fd` of `length` bytes (the descriptor may be closed after).
    /// Null with `error` set when the mapping cannot be made or guarded.
    static std::shared_ptr<const MappedFile> map(int fd, std::size_t length, std::string *error);
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    const unsigned char *bytes() const { return bytes_; }
    std::size_t length() const { return length_; }

    /// Pages of any mapping replaced by zeros since the process started.
    static uint64_t faultedPages();
    /// Takes every mapping out of a `mlockall`: locked media pages could never be released,
    /// and locking at once would read whole files in. New mappings are never locked.
    static void unlockAll();

  private:
    MappedFile(unsigned char *bytes, std::size_t length, int slot)
        : bytes_(bytes), length_(length), slot_(slot) {}
    unsigned char *bytes_;
    std::size_t length_;
    int slot_;
};

/// Immutable interleaved clip audio. It lives either on the heap as floats (new recordings,
/// processed audio, until saved) or in a mapped 16-bit PCM media file, read in place and
/// divided by 32767 (the inverse of the WAV writer's scale): an opened project's audio then
/// sits in the page cache, shared and evictable, instead of in the process's heap.
class SampleBuffer {
  public:
    /// A 16-bit sample as the float it stands for: divided by the writer's 32767 (a division,
    /// not a product with the reciprocal, so that mapped and decoded audio agree bit for bit).
    static float fromPcm16(int16_t sample) { return static_cast<float>(sample) / 32767.0f; }

    explicit SampleBuffer(std::shared_ptr<const std::vector<float>> floats);
    /// `count` floats at `floats`, kept alive by `owner` (a vector, a mapping, ...).
    SampleBuffer(std::shared_ptr<const void> owner, const float *floats, int64_t count);
    SampleBuffer(std::shared_ptr<const MappedFile> file, const int16_t *pcm, int64_t count);

    int64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool isMapped() const { return pcm_ != nullptr; }
    /// The floats of a heap buffer; null for a mapped one.
    const float *floats() const { return floats_; }
    /// The 16-bit samples of a mapped buffer; null for a heap one.
    const int16_t *pcm16() const { return pcm_; }

    float at(int64_t index) const { return floats_ ? floats_[index] : fromPcm16(pcm_[index]); }
    float operator[](std::size_t index) const { return at(static_cast<int64_t>(index)); }
    /// Copies `count` samples from `first` as floats into `out`.
    void copyTo(int64_t first, int64_t count, float *out) const;
    std::vector<float> toVector() const;

    /// Asks the kernel to read samples [first, first + count) ahead of use; a heap buffer
    /// needs nothing. Never call from the audio thread: it is a system call.
    void prefetch(int64_t first, int64_t count) const;
    /// Lets the process drop its pages of samples [first, first + count): they stay in the
    /// page cache but leave the resident set. For a reader moving forwards: the page holding
    /// `first` goes too (what lies before it was passed already), the page holding the end
    /// stays (the reader has yet to pass the rest of it), so consecutive ranges leave
    /// nothing behind.
    void release(int64_t first, int64_t count) const;

    /// What owns the samples: the same storage always gives the same owner.
    std::shared_ptr<const void> owner() const;

    /// Equal samples, read as floats, whatever holds them.
    friend bool operator==(const SampleBuffer &a, const SampleBuffer &b);
    friend bool operator==(const SampleBuffer &a, const std::vector<float> &b);

  private:
    std::shared_ptr<const void> heap_;
    std::shared_ptr<const MappedFile> file_;
    const float *floats_ = nullptr;
    const int16_t *pcm_ = nullptr;
    int64_t size_ = 0;
};

/// The samples of a buffer as one float array: the heap buffer itself, or a converted copy
/// of mapped samples. For whole-buffer work off the audio thread (commands, analysis, save).
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
