#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::vst {

/// The dry side of one insert, kept from block to block: its input, delayed as the insert
/// delays it, so that a block that goes dry (bypassed, or not processed) is the input exactly
/// as late as the plug-in's output would have been and the track stays in line with the
/// others; and whether the last block went dry, so that every switch between wet and dry is
/// crossfaded over one block.
///
/// Threads: `resize` on the thread that owns the insert, while no block runs through it; `run`
/// on the audio thread, without allocating.
class InsertDryPath {
  public:
    /// Frames the line holds beyond the insert's delay: a block of up to this many is read
    /// back whole after it was written. Callers cut longer blocks into pieces of this size.
    static constexpr int32_t blockRoom = 8192;

    /// Room for delays of up to `maxDelay` frames; the line starts silent.
    void resize(int32_t maxDelay) {
        const auto length = static_cast<std::size_t>(std::max(maxDelay, 0)) + blockRoom;
        left.assign(length, 0.0f);
        right.assign(length, 0.0f);
        position = 0;
        started = false;
        dryLastBlock = false;
    }
    std::size_t length() const { return left.size(); }

    /// Runs one block of at most `blockRoom` frames: through `process` (which processes the
    /// buffers in place and says whether it did) unless `bypassed`, else the input `delay`
    /// frames late. The first bypassed block is still processed, to fade from it; with
    /// `keepFed`, every bypassed block is, for a plug-in that must keep hearing its input.
    template <class Process>
    void run(float *left_, float *right_, int32_t frames, int32_t delay, bool bypassed,
             bool keepFed, Process &&process) {
        if (left.empty() || frames <= 0) {
            if (!bypassed) (void)process(left_, right_, frames);
            return;
        }
        const std::size_t start = keepInput(left_, right_, frames);
        const bool fadeOut = started && !dryLastBlock;
        bool wet = false;
        if (!bypassed || fadeOut || keepFed) wet = process(left_, right_, frames);
        if (!wet || (bypassed && !fadeOut))
            mixDry(start, delay, left_, right_, frames, Mix::replace);
        else if (bypassed)
            mixDry(start, delay, left_, right_, frames, Mix::fadeToDry);
        else if (started && dryLastBlock)
            mixDry(start, delay, left_, right_, frames, Mix::fadeToWet);
        started = true;
        dryLastBlock = bypassed || !wet;
    }

  private:
    enum class Mix : uint8_t { replace, fadeToDry, fadeToWet };

    std::size_t keepInput(const float *fromLeft, const float *fromRight, int32_t frames) {
        const std::size_t size = left.size();
        const std::size_t begin = position;
        std::size_t at = begin;
        for (int32_t i = 0; i < frames; ++i) {
            left[at] = fromLeft[i];
            right[at] = fromRight[i];
            if (++at == size) at = 0;
        }
        position = at;
        return begin;
    }

    /// The input `delay` frames before the block that began at `start`, into the buffers:
    /// replacing what they hold, or fading from it or to it over the block.
    void mixDry(std::size_t start, int32_t delay, float *intoLeft, float *intoRight, int32_t frames,
                Mix mix) const {
        const std::size_t size = left.size();
        const auto behind = std::min(static_cast<std::size_t>(std::max(delay, 0)), size - 1);
        std::size_t read = (start + size - behind) % size;
        const float step = 1.0f / static_cast<float>(frames);
        for (int32_t i = 0; i < frames; ++i) {
            const float dryLeft = left[read], dryRight = right[read];
            if (++read == size) read = 0;
            if (mix == Mix::replace) {
                intoLeft[i] = dryLeft;
                intoRight[i] = dryRight;
                continue;
            }
            const float towardsDry = static_cast<float>(i + 1) * step;
            const float dryShare = mix == Mix::fadeToDry ? towardsDry : 1.0f - towardsDry;
            intoLeft[i] += (dryLeft - intoLeft[i]) * dryShare;
            intoRight[i] += (dryRight - intoRight[i]) * dryShare;
        }
    }

    std::vector<float> left;
    std::vector<float> right;
    std::size_t position = 0;
    bool started = false;
    bool dryLastBlock = false;
};

} // namespace orvane::vst
