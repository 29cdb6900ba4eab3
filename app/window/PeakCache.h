#pragma once

#include "core/model/SampleBuffer.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace orvane {

/// Minimum and maximum of the channel mix over buckets of `framesPerBucket` frames.
struct PeakLevel {
    int64_t framesPerBucket = 0;
    std::vector<float> minimum;
    std::vector<float> maximum;
};

/// A clip's waveform at several resolutions, each four times coarser than the one before, so
/// that drawing reads about one bucket per pixel at any zoom.
struct WaveformPeaks {
    static constexpr int64_t finestFrames = 32;
    static constexpr int64_t stepFactor = 4;
    std::vector<PeakLevel> levels;
    int64_t frames = 0;

    /// The coarsest level whose buckets are no wider than `framesPerPixel` (the finest
    /// when every level is wider); null when there are no levels.
    const PeakLevel *levelFor(double framesPerPixel) const;
};

/// Builds every level of `count` samples (interleaved by `channels`, at least 1).
WaveformPeaks buildWaveformPeaks(const float *samples, int64_t count, int32_t channels);
WaveformPeaks buildWaveformPeaks(const std::vector<float> &samples, int32_t channels);
/// Mapped media are converted into a temporary copy while the levels are built.
WaveformPeaks buildWaveformPeaks(const SampleBuffer &samples, int32_t channels);

/// Waveform peaks of decoded clip audio, built on a worker thread so that drawing never waits
/// for a long file. Keyed by the sample buffer, which is never written once published; an
/// entry whose buffer has gone is built afresh should the address come back. Main thread,
/// except the worker.
class PeakCache {
  public:
    PeakCache();
    ~PeakCache();
    PeakCache(const PeakCache &) = delete;
    PeakCache &operator=(const PeakCache &) = delete;

    using Samples = SharedSamples;
    /// The peaks when built; otherwise queues the build and returns null.
    std::shared_ptr<const WaveformPeaks> peaksFor(const Samples &samples, int32_t channels);
    /// Blocks until every queued build finished.
    void waitUntilIdle();
    /// Rises with every finished build, so a view knows when to draw again.
    uint64_t finishedBuilds() const;
    /// Forgets the entries whose buffers are gone.
    void pruneReleased();

  private:
    struct Entry {
        std::weak_ptr<const void> source;           // the storage the samples live in
        std::shared_ptr<const WaveformPeaks> peaks; // null while queued
    };
    struct Job {
        Samples samples;
        int32_t channels = 2;
    };
    void run();

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::unordered_map<const void *, Entry> entries;
    std::deque<Job> queue;
    bool building = false;
    bool stopping = false;
    uint64_t finished = 0;
    std::thread worker;
};

} // namespace orvane
