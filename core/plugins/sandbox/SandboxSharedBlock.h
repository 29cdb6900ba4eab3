#pragma once

#include "core/plugins/Deadline.h"
#include "core/plugins/Plugin.h"
#include "core/plugins/sandbox/SandboxProtocol.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orvane::vst {

/// What one plug-in of a helper's chain is told with a block: whether it sits the block out
/// (its latency kept) and the values it takes first.
struct MemberBlockValues {
    int32_t bypassed = 0;
    int32_t paramCount = 0;
    ParameterValue params[maximumParamsPerLine];
};

/// What travels with one block: its audio both ways, the values it takes and its notes. A
/// helper that runs a chain reads `members` as well: `memberCount` entries, in processing order,
/// the first for the plug-in "LOAD " named. The notes go to that first plug-in.
struct SharedBlockSlot {
    int32_t frames = 0;
    int32_t paramCount = 0;
    int32_t noteOffCount = 0;
    int32_t noteOnCount = 0;
    ParameterValue params[maximumParamsPerLine];
    int32_t noteOffs[maximumBlockNotes];
    int32_t noteOffFrames[maximumBlockNotes];
    NoteOn noteOns[maximumBlockNotes];
    int32_t memberCount = 0;
    MemberBlockValues members[maximumChainLength];
    /// The helper's answer beside the audio: how long each plug-in of its chain took over the
    /// block, in seconds, the first for the plug-in "LOAD " named.
    float memberSeconds[maximumChainLength];
    float input[2][maximumProcessFrames];
    float output[2][maximumProcessFrames];
};

/// One insert's exchange between the application and a helper, laid out in memory that both
/// processes map. The application fills the slot of the block it sends (block n uses slot
/// n % 2), then bumps `requested`; the helper processes every block up to that number in order
/// and sets `completed` to each as it finishes. Two slots let a helper that woke late find the
/// next block waiting, so one late wake costs one block rather than two, and the plug-in still
/// hears every block. Both words are futexes, so either side sleeps in the kernel and is woken
/// without a socket. A side wakes the other only when it said it sleeps: a wake nobody waits
/// for is still a system call.
struct SharedBlockLayout {
    static constexpr uint32_t slotCount = 2;

    std::atomic<uint32_t> requested{0};
    std::atomic<uint32_t> completed{0};
    std::atomic<uint32_t> helperSleeping{0};
    std::atomic<uint32_t> clientSleeping{0};
    SharedBlockSlot slots[slotCount];

    SharedBlockSlot &slotOf(uint32_t block) { return slots[block % slotCount]; }
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "futex words must be plain integers");

/// A mapping of one `SharedBlockLayout`: made by the application, opened by name in the helper.
class SharedBlockMapping {
  public:
    SharedBlockMapping() = default;
    ~SharedBlockMapping();
    SharedBlockMapping(const SharedBlockMapping &) = delete;
    SharedBlockMapping &operator=(const SharedBlockMapping &) = delete;

    /// Makes a fresh region only this user may open; its name (for "SHAREDBLOCK ") in `name`.
    [[nodiscard]] bool create(std::string &name);
    /// Maps the region another process made.
    [[nodiscard]] bool open(const std::string &name);
    SharedBlockLayout *block() const { return layout; }

  private:
    SharedBlockLayout *layout = nullptr;
};

/// Removes a region's name once the helper holds its own mapping; the memory stays while
/// either process maps it, and nobody else can open it any more.
void unlinkSharedBlock(const std::string &name);

/// Wakes every process sleeping on `word`.
void wakeSharedWord(std::atomic<uint32_t> &word);
/// Sleeps while `word` still holds `expected`, at most `limit`; returns early on a change or a
/// signal. Allocation-free.
void waitOnSharedWord(std::atomic<uint32_t> &word, uint32_t expected,
                      std::chrono::nanoseconds limit);
/// Bumps `word` and wakes its sleeper only when `sleeping` says there is one.
void advanceSharedWord(std::atomic<uint32_t> &word, uint32_t value,
                       std::atomic<uint32_t> &sleeping);
/// `waitOnSharedWord` that counts itself in `sleeping` meanwhile, for `advanceSharedWord`.
void sleepOnSharedWord(std::atomic<uint32_t> &word, uint32_t expected,
                       std::atomic<uint32_t> &sleeping, std::chrono::nanoseconds limit);

/// The helper's side: finishes, in order, every block given after block `served`, running
/// `process` on each block's slot and saying each is done. Returns the number finished last.
template <class Process>
uint32_t serveWaitingBlocks(SharedBlockLayout &block, uint32_t served, Process &&process) {
    const uint32_t wanted = block.requested.load(std::memory_order_acquire);
    // The application never has more blocks out than there are slots; should it ever, the
    // older ones' slots were written again and only the newest are worth playing.
    if (wanted - served > SharedBlockLayout::slotCount)
        served = wanted - SharedBlockLayout::slotCount;
    while (served != wanted) {
        ++served;
        process(block.slotOf(served));
        // While live the application never waits for a block, so there is mostly no one to
        // wake.
        advanceSharedWord(block.completed, served, block.clientSleeping);
    }
    return served;
}

/// The helper's block thread: serves blocks as they come, sleeping in between, until
/// `stopping`, which it looks at least once every `poll`.
template <class Process>
void serveBlocksUntil(SharedBlockLayout &block, const std::atomic<bool> &stopping,
                      std::chrono::nanoseconds poll, Process &&process) {
    uint32_t served = block.completed.load(std::memory_order_acquire);
    while (!stopping.load(std::memory_order_relaxed)) {
        if (block.requested.load(std::memory_order_acquire) == served)
            sleepOnSharedWord(block.requested, served, block.helperSleeping, poll);
        else
            served = serveWaitingBlocks(block, served, process);
    }
}

/// What a block's exchange came to.
enum class SharedBlockOutcome { processed, late, helperGone };

/// The application's side of one insert's shared block. The audio thread either waits for the
/// block (`processNow`, offline renders: no added latency) or runs one block behind
/// (`processBehind`, live: waits only for a helper running late, and only until the block's
/// deadline). Everything a block needs was sized by `prepare`.
class SharedBlockClient {
  public:
    SharedBlockClient(std::unique_ptr<SharedBlockMapping> mapping, int controlFd);

    /// Main thread, with the audio thread kept out: sizes the pipeline for blocks of up to
    /// `blockSize` frames, which is also the latency it adds. The dry signal that stands in for
    /// a missed block is delayed by `pluginLatency` more, as the plug-in delays its own output.
    ///
    /// With `aheadFrames` larger than the block, live blocks are gathered and handed over
    /// `aheadFrames` or more at a time, and the pipeline adds twice that: the helper then has
    /// about a batch's duration for each batch, and wakes once per batch instead of once per
    /// period. For inserts whose track carries no live input, where the added delay is
    /// compensated like any plug-in's.
    void prepare(int blockSize, double sampleRate, int pluginLatency, int aheadFrames = 0);
    /// Frames gathered per hand-over while live; 0 when every block goes over on its own.
    int batchFrames() const { return aheadBatch; }
    int addedLatency() const { return pipelineFrames; }

    /// Values and notes that go with the next block submitted.
    struct MemberExtras {
        bool bypassed = false;
        std::span<const ParameterValue> params;
    };
    struct BlockExtras {
        std::span<const ParameterValue> params;
        std::span<const NoteOn> noteOns;
        std::span<const int> noteOffs;
        /// Empty unless the helper runs a chain: one entry per plug-in, in processing order.
        std::span<const MemberExtras> members;
        /// The frame each note-off falls on; those it does not name stop on the first.
        std::span<const int32_t> noteOffFrames;
    };

    /// Audio thread: sends the block and waits for it until `deadline`. A block still running
    /// from before is waited for first and its output dropped.
    [[nodiscard]] SharedBlockOutcome processNow(float *left, float *right, int frames,
                                                const BlockExtras &extras, Deadline deadline,
                                                bool &extrasSent);
    /// Audio thread: hands the block over and plays what the helper finished during the last
    /// period, so the output is the input delayed by `addedLatency` frames. A helper still on
    /// the last block is given until `patience` passes; a block it did not finish by then is
    /// played as the dry signal, crossfaded from the last good block so it never clicks, and
    /// counted. Blocks longer than the prepared size are refused. False, the buffers left as they
    /// came, also for the `addedLatency` frames after `prepare`, which precede anything sent:
    /// only the caller knows what its input was then (a pipeline started while playing must not
    /// play silence for them).
    [[nodiscard]] bool processBehind(float *left, float *right, int frames,
                                     const BlockExtras &extras, Deadline patience,
                                     bool &extrasSent);

    /// Waits until the helper has finished the block it was given last, if any, so that a
    /// request sent now comes after it. Under the same lock as the processing calls.
    [[nodiscard]] SharedBlockOutcome finishBlockInFlight(Deadline deadline);
    /// Number of the block submitted last; under the same lock as the processing calls.
    uint32_t lastSubmitted() const { return shared->requested.load(std::memory_order_relaxed); }
    /// Any thread, without that lock: waits until the helper has finished block `number` (or
    /// any later one) while the audio thread may go on submitting blocks.
    [[nodiscard]] SharedBlockOutcome finishBlock(uint32_t number, Deadline deadline);

    /// What plug-in `member` of the helper's chain (0 for the one "LOAD " named) cost in the
    /// blocks played since the last call, starting the next stretch (any thread).
    LoadStretch takeHelperLoad(size_t member);

    /// Blocks the helper missed since the client was made (any thread).
    uint64_t lateBlocks() const { return late.load(std::memory_order_relaxed); }
    /// True once the helper has missed every block for a whole second (any thread).
    bool stuckForASecond() const { return stuck.load(std::memory_order_relaxed); }
    /// True once the helper has finished a block: a helper that never has is broken, not
    /// unlucky, and is not worth restarting (any thread).
    bool everCompleted() const { return shared->completed.load(std::memory_order_relaxed) != 0; }

    /// True when the helper has finished every block it was given.
    bool helperIdle() const;
    /// Blocks given to the helper that it has not finished yet.
    uint32_t blocksInFlight() const;

  private:
    bool controlConnectionBroken() const;
    void submit(const float *left, const float *right, int frames, const BlockExtras &extras);
    static void submitMembers(SharedBlockSlot &slot, std::span<const MemberExtras> members);
    void takeOutput(float *left, float *right, int frames);
    void settlePending(Deadline patience);
    void fillFromHelper(int64_t start, int frames);
    void fillFromSlot(const SharedBlockSlot &slot, int64_t start, int frames);
    bool processAhead(float *left, float *right, int frames, const BlockExtras &extras,
                      Deadline patience, bool &extrasSent);
    void settleBatchesAhead(int64_t readEnd, Deadline patience);
    void submitFromDryRing(int64_t start, int frames, const BlockExtras &extras);
    void fillDry(int64_t start, int frames);
    void playFromRing(int64_t from, float *left, float *right, int frames) const;
    void noteMiss(int frames);
    void noteHelperLoad(const SharedBlockSlot &slot, int frames);
    void resetPipeline();

    std::unique_ptr<SharedBlockMapping> mapping;
    SharedBlockLayout *shared;
    int controlFd;
    int pipelineFrames = 0;
    int dryDelay = 0;
    int64_t framesPerSecond = 48000;
    // Rings indexed by stream position: what goes out (processed or standing in) and what
    // came in, so the dry signal can stand in with the same delay.
    std::vector<float> wet[2];
    std::vector<float> dry[2];
    uint64_t ringMask = 0;
    int64_t position = 0;
    int64_t pendingStart = 0;
    int pendingFrames = 0;
    bool lastSegmentWet = false;
    bool pipelineRunning = false;
    /// Gathered hand-overs (`prepare`'s `aheadFrames`): what was sent and not yet played, oldest
    /// first, and where the frames not yet sent begin.
    struct BatchInFlight {
        uint32_t number = 0;
        int64_t start = 0;
        int frames = 0;
    };
    int aheadBatch = 0;
    /// How much shorter the first batch is: clients take turns, so that the helpers of a
    /// session do not all wake in the same period and leave the others idle.
    int aheadStagger = 0;
    BatchInFlight batches[SharedBlockLayout::slotCount];
    uint32_t batchCount = 0;
    int64_t sentUpTo = 0;
    /// Gathered input of one hand-over, contiguous for `submit`.
    std::vector<float> gathered[2];
    int64_t missedFramesInARow = 0;
    std::atomic<uint64_t> late{0};
    /// Per member of the helper's chain, what it cost since the main thread last looked.
    LoadSums helperLoads[maximumChainLength];
    std::atomic<bool> stuck{false};
};

} // namespace orvane::vst
