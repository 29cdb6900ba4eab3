#include "device/InputRings.h"

#include <algorithm>

namespace orvane {

void CaptureQueue::allocate() {
    if (allocated()) return;
    samples = std::make_unique<float[]>(static_cast<std::size_t>(frameCapacity) * 2);
    written.store(0);
    read.store(0);
}

bool CaptureQueue::push(const float *leftInput, const float *rightInput, int32_t frames) {
    if (!allocated() || !leftInput || frames < 1) return false;
    if (!rightInput) rightInput = leftInput;
    const uint64_t end = written.load(std::memory_order_relaxed);
    if (end + static_cast<uint64_t>(frames) - read.load(std::memory_order_acquire) >
        frameCapacity) {
        dropped.fetch_add(static_cast<uint64_t>(frames), std::memory_order_relaxed);
        pendingGap.fetch_add(static_cast<uint64_t>(frames), std::memory_order_relaxed);
        return false;
    }
    // The gap goes on record before the frames after it are published; a full list of gaps
    // keeps it pending and merges it with the next.
    const uint64_t gap = pendingGap.load(std::memory_order_relaxed);
    if (gap > 0 && gaps.push(Gap{end, gap})) pendingGap.fetch_sub(gap, std::memory_order_relaxed);
    for (int32_t i = 0; i < frames; ++i) {
        const std::size_t slot = ((end + static_cast<uint64_t>(i)) & (frameCapacity - 1)) * 2;
        samples[slot] = leftInput[i];
        samples[slot + 1] = rightInput[i];
    }
    written.store(end + static_cast<uint64_t>(frames), std::memory_order_release);
    return true;
}

int64_t CaptureQueue::popInto(std::vector<float> &out, int32_t channels) {
    if (!allocated()) return 0;
    const uint64_t begin = read.load(std::memory_order_relaxed);
    const uint64_t end = written.load(std::memory_order_acquire);
    const bool stereo = channels >= 2;
    out.reserve(out.size() + (end - begin) * (stereo ? 2 : 1));
    const std::size_t sizeBefore = out.size();
    for (uint64_t frame = begin; frame < end; ++frame) {
        appendGapsBefore(frame, out, channels);
        const std::size_t slot = (frame & (frameCapacity - 1)) * 2;
        out.push_back(samples[slot]);
        if (stereo) out.push_back(samples[slot + 1]);
    }
    read.store(end, std::memory_order_release);
    return static_cast<int64_t>((out.size() - sizeBefore) / (stereo ? 2 : 1));
}

void CaptureQueue::appendGapsBefore(uint64_t frame, std::vector<float> &out, int32_t channels) {
    while (true) {
        if (!haveNextGap) haveNextGap = gaps.pop(nextGap);
        if (!haveNextGap || nextGap.at != frame) return;
        out.resize(out.size() + nextGap.frames * (channels >= 2 ? 2 : 1), 0.0f);
        haveNextGap = false;
    }
}

void CaptureQueue::discard() {
    read.store(written.load(std::memory_order_acquire), std::memory_order_release);
    Gap gap;
    while (gaps.pop(gap)) {
    }
    haveNextGap = false;
    pendingGap.store(0, std::memory_order_relaxed);
}

} // namespace orvane
