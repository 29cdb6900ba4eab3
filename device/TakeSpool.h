#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane {

/// A take's input written to a WAV file of 32-bit floats while it is recorded, so that a
/// crash or a power cut leaves a file every audio reader opens. The samples go to the file
/// from a writer thread of its own; the header's sizes follow them, never ahead: the header
/// first says the file holds no frames, and after each batch that reached the file it is
/// raised to cover it (and the file synced to the disk about once a second). Whatever the
/// moment the program dies, the file is valid and holds what was captured up to a fraction
/// of a second before.
///
/// `append` is for one thread (the one draining the capture); it copies and never waits for
/// the disk. The audio thread never touches a spool.
class TakeSpool {
  public:
    /// How long captured frames may wait before the writer puts them in the file and the
    /// header.
    static constexpr std::chrono::milliseconds writeInterval{200};
    /// How often the file is forced to the disk while it grows.
    static constexpr std::chrono::milliseconds syncInterval{1000};

    TakeSpool() = default;
    ~TakeSpool();
    TakeSpool(const TakeSpool &) = delete;
    TakeSpool &operator=(const TakeSpool &) = delete;

    /// Creates `path` (which must not exist) with an empty WAV header and starts the writer.
    /// False with `error` when the file cannot be made.
    [[nodiscard]] bool open(const std::string &path, int32_t channels, double sampleRate,
                            std::string &error);
    bool isOpen() const { return descriptor >= 0; }
    /// Queues interleaved frames of the spool's channel count for the writer.
    void append(const float *samples, int64_t frames);
    /// Writes what is queued, sets the final sizes, syncs and closes. False when some of it
    /// did not reach the file (the file still holds a valid WAV of what did).
    bool close();
    /// Closes and deletes the file.
    void discard();
    const std::string &path() const { return filePath; }
    /// Frames the header covers now.
    int64_t framesOnDisk() const;
    /// The writer could not write some frames (disk full, file gone).
    bool failed() const;

    /// The 44 bytes of a canonical WAV header for `frames` frames of 32-bit floats.
    static std::vector<unsigned char> header(int32_t channels, double sampleRate, int64_t frames);

  private:
    void writerLoop();
    /// Writer: puts `batch` at the end of the data and raises the header over it.
    bool writeBatch(const std::vector<float> &batch);

    std::string filePath;
    int descriptor = -1;
    int32_t channelCount = 2;
    double rate = 48000.0;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::vector<float> pending; // guarded by `mutex`
    bool stopping = false;      // guarded by `mutex`
    bool writeFailed = false;   // guarded by `mutex`
    int64_t coveredFrames = 0;  // guarded by `mutex`
    int64_t dataBytes = 0;      // writer
    std::chrono::steady_clock::time_point lastSync;
    std::thread writer;
};

} // namespace orvane
