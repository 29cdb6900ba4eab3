#pragma once

#include "core/rt/SpscRing.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane {

/// The latest input, for monitoring and the tempo follower: 65,536 frames per side. One
/// thread writes (the device's audio thread, which captures the input); any thread may read.
/// Nothing is allocated after `allocate`, so the writer never allocates.
class MonitorRing {
  public:
    static constexpr uint32_t frameCount = 65536;
    static constexpr uint32_t slotMask = frameCount - 1;

    /// Main thread, while no device runs.
    void allocate();
    bool allocated() const { return left != nullptr; }

    /// Writer. Mono input (channels < 2) feeds both sides; otherwise channels 0 and 1 of the
    /// interleaved frames. Ignored before `allocate`.
    void push(const float *samples, int32_t frames, int32_t channels);
    /// Writer, from separate channel buffers (a null right buffer repeats the left).
    void pushPlanar(const float *leftInput, const float *rightInput, int32_t frames);
    /// The `frames` frames ending at the write count; zeros when fewer were written.
    void pull(float *leftOut, float *rightOut, int32_t frames) const;
    /// The latest frames interleaved left, right. False when fewer than `frames` frames were
    /// written, or when the writer lapped the reader while it copied (the copy would be torn).
    bool readInterleaved(std::vector<float> &out, uint32_t frames) const;
    uint32_t writeCount() const { return count.load(std::memory_order_acquire); }

  private:
    // Readers copy while the writer may overwrite: the slots are relaxed atomics (plain moves
    // on this hardware) and a copy that was lapped is thrown away, as in a sequence lock.
    std::unique_ptr<std::atomic<float>[]> left;
    std::unique_ptr<std::atomic<float>[]> right;
    std::atomic<uint32_t> count{0};
    void write(uint32_t at, float leftSample, float rightSample) {
        left[at & slotMask].store(leftSample, std::memory_order_relaxed);
        right[at & slotMask].store(rightSample, std::memory_order_relaxed);
    }
};

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
