#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane {

/// The most recent stereo frames of a stream that never waits: one writer keeps overwriting
/// the oldest frames, and any thread may copy the newest ones.
///
/// Readers copy while the writer may overwrite, so the slots are relaxed atomics (plain moves
/// on this hardware) and a copy the writer lapped is refused, as in a sequence lock. Before
/// it overwrites, the writer announces how far its block reaches and fences; a reader fences
/// after its copy and reads that reach, so a copy that saw any overwritten slot also sees a
/// reach that gives it away.
///
/// A reader may ask for up to `capacity()` frames. Slots beyond that (`headroom`) are never
/// handed out; they give a long copy time to finish before the writer catches up with it.
/// Nothing is allocated after `allocate`, so the writer never allocates.
class LatestFramesRing {
  public:
    LatestFramesRing() = default;
    explicit LatestFramesRing(uint64_t frames, uint64_t headroom = 0) {
        allocate(frames, headroom);
    }
    LatestFramesRing(const LatestFramesRing &) = delete;
    LatestFramesRing &operator=(const LatestFramesRing &) = delete;

    /// Before any writer or reader runs; a ring that already has its slots keeps them.
    void allocate(uint64_t frames, uint64_t headroom = 0);
    bool allocated() const { return left != nullptr; }
    /// The most frames a reader may copy at once.
    uint64_t capacity() const { return readableFrames; }

    /// Frames written since allocation.
    uint64_t writeCount() const { return published.load(std::memory_order_acquire); }
    /// Frames a reader may copy now: what was written, up to the capacity.
    uint64_t available() const;

    /// Writer. Mono input (channels < 2) feeds both sides; otherwise channels 0 and 1 of the
    /// interleaved frames. Ignored before `allocate`.
    void push(const float *samples, int32_t frames, int32_t channels);
    /// Writer, from separate channel buffers (a null right buffer repeats the left).
    void pushPlanar(const float *leftInput, const float *rightInput, int32_t frames);

    /// The writer's own thread: the `frames` frames ending at the write count; zeros when
    /// fewer were written or more than the capacity are asked for.
    void pull(float *leftOut, float *rightOut, int32_t frames) const;
    /// Any thread: the latest frames interleaved left, right. False when fewer than `frames`
    /// frames were written or more than the capacity are asked for, or when the writer lapped
    /// the copy (it would be torn).
    bool readInterleaved(std::vector<float> &out, uint64_t frames) const;

  private:
    template <class FrameSource> void write(int32_t frames, FrameSource frameAt);
    uint64_t slotOf(uint64_t frame) const { return frame % slotCount; }

    uint64_t readableFrames = 0;
    uint64_t slotCount = 0;
    std::unique_ptr<std::atomic<float>[]> left;
    std::unique_ptr<std::atomic<float>[]> right;
    std::atomic<uint64_t> reach{0};     // end of the block being written, set before its slots
    std::atomic<uint64_t> published{0}; // end of the last block written, set after its slots
};

} // namespace orvane
