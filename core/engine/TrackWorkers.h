#pragma once

#include "core/engine/RenderStages.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace orvane {

/// What the channel chain left of one track when it ran alone, for the block's owner to
/// finish in track order.
struct TrackOutcome {
    bool audible = false;
    bool silenced = false;
    Peaks peaks;
};

/// More threads for a block: while the rendering thread works through the block's tracks,
/// helpers take tracks from the same list, each into its own buffers. Only the work that
/// touches nothing shared is spread; the sums into the master stay on the rendering thread in
/// track order, so the result is the same to the bit as rendering alone. An export and the
/// live device each have their own.
///
/// Everything is allocated up front: a block runs without allocating, and a block with more
/// tracks than `trackCapacity` or frames than `blockSize` is the caller's to render alone.
/// Each helper takes the scheduling of the thread that hands it its first block (real-time
/// priority under a device that has it), so that a helper never runs behind the thread that
/// waits for it.
class TrackWorkers {
  public:
    /// One helper per core but the rendering thread's, and at least one.
    static int32_t helpersForThisMachine();

    TrackWorkers(int32_t trackCapacity, int32_t blockSize, int32_t helperCount = 1);
    ~TrackWorkers();
    TrackWorkers(const TrackWorkers &) = delete;
    TrackWorkers &operator=(const TrackWorkers &) = delete;

    int32_t trackCapacity() const { return static_cast<int32_t>(outcomes.size()); }
    int32_t blockSize() const { return frames; }
    int32_t helperCount() const { return static_cast<int32_t>(helpers.size()); }
    /// Blocks shared out so far (any thread may read it).
    uint64_t blocksShared() const { return shared.load(std::memory_order_relaxed); }
    float *left(std::size_t track) { return buffers[2 * track].data(); }
    float *right(std::size_t track) { return buffers[2 * track + 1].data(); }
    TrackOutcome &outcome(std::size_t track) { return outcomes[track]; }

    /// Calls `job(context, index)` once for every index below `count` (at most the
    /// capacity), on this thread and the helper, and returns when all have finished.
    using Job = void (*)(void *context, int32_t index);
    void forEach(int32_t count, Job job, void *context);

  private:
    void helperLoop(std::size_t helper);
    void adoptOwnerScheduling();
    void waitForPending();
    /// Runs indices of block `generation` until none is left to take or the block is over.
    void work(uint32_t generation, bool onOwnerThread);

    int32_t frames;
    std::vector<std::vector<float>> buffers;
    std::vector<TrackOutcome> outcomes;

    /// Read by the helper only once it holds a claim of the current block, which the owner
    /// cannot leave before that claim is done.
    Job job = nullptr;
    void *jobContext = nullptr;
    unsigned int floatControl = 0;
    /// The block's generation, its count and the next index to take, in one word: a helper
    /// that wakes late can take nothing from a later block.
    std::atomic<uint64_t> claims{0};
    std::atomic<uint32_t> generation{0};
    std::atomic<int32_t> pending{0};
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> shared{0};
    /// Who may be asleep in a wait, so that the other side makes the wake-up call only then.
    std::atomic<int32_t> helpersSleeping{0};
    std::atomic<bool> ownerSleeping{false};
    /// The owner's scheduling, read by helpers once they hold a claim (see `job`).
    int ownerPolicy = 0;
    int ownerPriority = 0;
    std::vector<std::thread> helpers;
};

} // namespace orvane
