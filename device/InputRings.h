#pragma once

#include "core/rt/LatestFramesRing.h"
#include "core/rt/SpscRing.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane {

/// Frames per side of the latest input a device keeps (in a `LatestFramesRing`) for
/// monitoring and the tempo follower.
inline constexpr uint32_t monitorRingFrames = 65536;

/// Captured input on its way from the audio thread to the main thread, which appends it to
/// the recording: a fixed ring of interleaved stereo frames for one producer and one consumer.
/// A block that does not fit is dropped whole and counted, and the consumer gets silence in
/// its place, so that what was captured after it keeps its place in time.
class CaptureQueue {
  public:
    /// About five seconds at 48 kHz, for a main thread that stalls.
    static constexpr uint32_t frameCapacity = 1u << 18;

    /// Main thread, while no device runs.
    void allocate();
    bool allocated() const { return samples != nullptr; }

    /// Producer (audio thread); a null right buffer repeats the left. False when dropped.
    bool push(const float *leftInput, const float *rightInput, int32_t frames);
    /// Consumer (main thread): appends every waiting frame to `out` with `channels` (1 or 2)
    /// samples per frame (silence where blocks were dropped), and returns the frames appended.
    int64_t popInto(std::vector<float> &out, int32_t channels);
    /// Consumer: forgets every waiting frame and every gap.
    void discard();
    uint64_t droppedFrames() const { return dropped.load(std::memory_order_relaxed); }

  private:
    std::unique_ptr<float[]> samples; // 2 × frameCapacity, interleaved
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> read{0};
    std::atomic<uint64_t> dropped{0};

    /// Frames dropped just before the frame `at` was written.
    struct Gap {
        uint64_t at = 0;
        uint64_t frames = 0;
    };
    void appendGapsBefore(uint64_t frame, std::vector<float> &out, int32_t channels);

    SpscRing<Gap, 1024> gaps;
    std::atomic<uint64_t> pendingGap{0}; // dropped, not yet marked in `gaps`
    Gap nextGap;                         // consumer
    bool haveNextGap = false;            // consumer
};

/// One stereo input pair on its way into a take: the hand-off from the audio thread and the
/// recording the main thread fills from it.
struct InputCapture {
    CaptureQueue queue;
    std::vector<float> recordBuffer; // interleaved, `channels` samples per frame
    int32_t channels = 2;
    uint64_t overflowAtStart = 0; // the queue's losses before the take began
};

} // namespace orvane
