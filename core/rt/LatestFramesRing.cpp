#include "core/rt/LatestFramesRing.h"

#include <algorithm>

namespace orvane {

namespace {

struct StereoFrame {
    float left;
    float right;
};

} // namespace

void LatestFramesRing::allocate(uint64_t frames, uint64_t headroom) {
    if (allocated() || frames == 0) return;
    readableFrames = frames;
    slotCount = frames + headroom;
    left = std::make_unique<std::atomic<float>[]>(slotCount);
    right = std::make_unique<std::atomic<float>[]>(slotCount);
    for (uint64_t slot = 0; slot < slotCount; ++slot) {
        left[slot].store(0.0f, std::memory_order_relaxed);
        right[slot].store(0.0f, std::memory_order_relaxed);
    }
    reach.store(0);
    published.store(0);
}

uint64_t LatestFramesRing::available() const { return std::min(writeCount(), readableFrames); }

template <class FrameSource> void LatestFramesRing::write(int32_t frames, FrameSource frameAt) {
    const uint64_t start = published.load(std::memory_order_relaxed);
    const uint64_t end = start + static_cast<uint64_t>(frames);
    reach.store(end, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    // In at most two runs, split where the slots wrap, so the loop does no division.
    uint64_t slot = slotOf(start);
    for (int32_t frame = 0; frame < frames;) {
        const auto run = static_cast<int32_t>(
            std::min<uint64_t>(static_cast<uint64_t>(frames - frame), slotCount - slot));
        for (int32_t i = 0; i < run; ++i, ++frame) {
            const StereoFrame sample = frameAt(frame);
            left[slot + static_cast<uint64_t>(i)].store(sample.left, std::memory_order_relaxed);
            right[slot + static_cast<uint64_t>(i)].store(sample.right, std::memory_order_relaxed);
        }
        slot = 0;
    }
    published.store(end, std::memory_order_release);
}

void LatestFramesRing::push(const float *samples, int32_t frames, int32_t channels) {
    if (!allocated() || !samples || frames < 1) return;
    const int32_t stride = std::max(channels, 1);
    write(frames, [&](int32_t frame) {
        const float *source = samples + static_cast<std::size_t>(frame) * stride;
        return StereoFrame{source[0], stride >= 2 ? source[1] : source[0]};
    });
}

void LatestFramesRing::pushPlanar(const float *leftInput, const float *rightInput, int32_t frames) {
    if (!allocated() || !leftInput || frames < 1) return;
    if (!rightInput) rightInput = leftInput;
    write(frames, [&](int32_t frame) { return StereoFrame{leftInput[frame], rightInput[frame]}; });
}

void LatestFramesRing::pull(float *leftOut, float *rightOut, int32_t frames) const {
    if (frames < 1) return;
    const uint64_t end = writeCount();
    const auto wanted = static_cast<uint64_t>(frames);
    if (!allocated() || end < wanted || wanted > readableFrames) {
        std::fill_n(leftOut, frames, 0.0f);
        std::fill_n(rightOut, frames, 0.0f);
        return;
    }
    const uint64_t first = end - wanted;
    for (int32_t i = 0; i < frames; ++i) {
        const uint64_t slot = slotOf(first + static_cast<uint64_t>(i));
        leftOut[i] = left[slot].load(std::memory_order_relaxed);
        rightOut[i] = right[slot].load(std::memory_order_relaxed);
    }
}

bool LatestFramesRing::readInterleaved(std::vector<float> &out, uint64_t frames) const {
    const uint64_t end = writeCount();
    if (frames == 0 || frames > readableFrames || !allocated() || end < frames) return false;
    const uint64_t first = end - frames;
    out.resize(static_cast<std::size_t>(frames) * 2);
    for (uint64_t i = 0; i < frames; ++i) {
        const uint64_t slot = slotOf(first + i);
        out[2 * i] = left[slot].load(std::memory_order_relaxed);
        out[2 * i + 1] = right[slot].load(std::memory_order_relaxed);
    }
    // Slots from `first` on are rewritten once a block reaches past first + slotCount. A slot
    // read from such a block makes this fence synchronise with the writer's, so its reach,
    // announced before that fence, is what the load below sees at the least.
    std::atomic_thread_fence(std::memory_order_acquire);
    return reach.load(std::memory_order_relaxed) - first <= slotCount;
}

} // namespace orvane
