#pragma once

#include <atomic>
#include <cstdint>

namespace orvane {

/// The transport: what plays, where, and the cycle. Atomics, so that the user interface reads
/// them at any time; written by the thread that holds the rendering slot (requests) and by
/// the main thread only while nothing renders.
///
/// Every position stored here lies in [0, `maxPosition`], so that the sums the renderers form
/// with block lengths and latencies cannot overflow whatever a document or a request says.
struct Transport {
    /// About 6 million years at 48 kHz: far past any timeline, far below the int64 limit.
    static constexpr int64_t maxPosition = int64_t{1} << 52;

    std::atomic<bool> playing{false};
    std::atomic<bool> recording{false};
    std::atomic<bool> loopEnabled{false};
    std::atomic<bool> metronomeOn{false};
    std::atomic<int64_t> playhead{0};
    std::atomic<int64_t> loopStart{0};
    std::atomic<int64_t> loopEnd{0};

    /// `position` held to the timeline; NaN counts as 0.
    static int64_t clampPosition(double position);
    static int64_t clampPosition(int64_t position);

    void locateRt(double position);
    void setCycleRt(double start, double end, bool enabled);
    /// Stops (and rewinds with `rewind`); the caller posts the notification.
    void stopRt(bool rewind);
    /// The position after a block of `frames` from `position`, wrapped at the cycle end when
    /// `wrap` and a cycle is set.
    int64_t nextPositionRt(int64_t position, int32_t frames, bool wrap) const;
};

} // namespace orvane
