#pragma once

#include "core/engine/Engine.h"
#include "device/AudioBackend.h"
#include "tests/support/AllocationCounter.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <optional>
#include <semaphore>
#include <thread>

namespace orvane::testing {

/// One audio track playing a steady 440 Hz tone for `seconds`, loud enough to see.
inline Project toneProject(double rate, double seconds) {
    Project project;
    project.sampleRate = rate;
    auto track = project.addTrack(TrackType::Audio, "Tone");
    auto clip = project.addClip(track->id, ClipKind::Audio);
    const auto frames = static_cast<int64_t>(rate * seconds);
    auto samples = std::make_shared<std::vector<float>>(static_cast<std::size_t>(frames) * 2);
    for (int64_t frame = 0; frame < frames; ++frame) {
        const auto value =
            0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * frame / rate));
        (*samples)[2 * frame] = value;
        (*samples)[2 * frame + 1] = value;
    }
    clip->audio = samples;
    clip->channels = 2;
    clip->length = frames;
    return project;
}

/// Starts playing from the top through the main thread's request ring.
inline bool playFromStart(Engine &engine) {
    return engine.pushRequest(RequestProducer::MainThread, Request::locate(0)) &&
           engine.pushRequest(RequestProducer::MainThread, Request::play());
}

/// Counts, on the audio thread, what each device block allocates and frees (the back end's
/// own calls included), and lets the test wait for blocks without sleeping.
class CountingObserver final : public RenderObserver {
  public:
    void blockStarted() override {
        if (stallOnce.exchange(false)) std::this_thread::sleep_for(stall);
        scope.emplace();
    }
    void blockFinished() override {
        allocations.fetch_add(scope->allocations());
        frees.fetch_add(scope->frees());
        scope.reset();
        blocks.fetch_add(1);
        blockDone.release();
    }
    /// Waits until `count` more blocks have finished; false when they do not come within
    /// `timeout`.
    bool waitForBlocks(int count, std::chrono::milliseconds timeout) {
        const auto giveUp = std::chrono::steady_clock::now() + timeout;
        const uint64_t target = blocks.load() + static_cast<uint64_t>(count);
        while (blocks.load() < target)
            if (!blockDone.try_acquire_until(giveUp)) return blocks.load() >= target;
        return true;
    }
    /// Makes the next block late by `duration`, as an overloaded machine would.
    void stallNextBlock(std::chrono::milliseconds duration) {
        stall = duration;
        stallOnce.store(true);
    }

    std::atomic<uint64_t> allocations{0};
    std::atomic<uint64_t> frees{0};
    std::atomic<uint64_t> blocks{0};

  private:
    std::optional<AllocationScope> scope; // audio thread only
    std::counting_semaphore<> blockDone{0};
    std::atomic<bool> stallOnce{false};
    std::chrono::milliseconds stall{0};
};

} // namespace orvane::testing
