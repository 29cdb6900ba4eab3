#include "core/plugins/sandbox/SandboxSharedBlock.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <linux/futex.h>
#include <new>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace orvane::vst {

namespace {

// A dead helper is noticed within this while a render waits for its block.
constexpr auto waitSlice = std::chrono::milliseconds(20);

uint32_t *futexWord(std::atomic<uint32_t> &word) { return reinterpret_cast<uint32_t *>(&word); }

std::string freshRegionName() {
    static std::atomic<uint32_t> made{0};
    return "/halvora_block_" + std::to_string(getpid()) + "_" + std::to_string(made.fetch_add(1));
}

SharedBlockLayout *mapRegion(int fd) {
    void *address =
        mmap(nullptr, sizeof(SharedBlockLayout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return address == MAP_FAILED ? nullptr : static_cast<SharedBlockLayout *>(address);
}

float rampAt(int frame, int frames) {
    return (static_cast<float>(frame) + 0.5f) / static_cast<float>(frames);
}

} // namespace

SharedBlockMapping::~SharedBlockMapping() {
    if (layout != nullptr) munmap(layout, sizeof(SharedBlockLayout));
}

bool SharedBlockMapping::create(std::string &name) {
    name = freshRegionName();
    int fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool sized = ftruncate(fd, sizeof(SharedBlockLayout)) == 0;
    SharedBlockLayout *mapped = sized ? mapRegion(fd) : nullptr;
    close(fd);
    if (mapped == nullptr) {
        shm_unlink(name.c_str());
        return false;
    }
    layout = new (mapped) SharedBlockLayout();
    return true;
}

bool SharedBlockMapping::open(const std::string &name) {
    int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) return false;
    struct stat info {};
    // A region smaller than the layout would fault on the first block.
    bool fits =
        fstat(fd, &info) == 0 && static_cast<size_t>(info.st_size) >= sizeof(SharedBlockLayout);
    layout = fits ? mapRegion(fd) : nullptr;
    close(fd);
    return layout != nullptr;
}

void unlinkSharedBlock(const std::string &name) { shm_unlink(name.c_str()); }

// Not the private futex operations: the word is shared with another process.
void wakeSharedWord(std::atomic<uint32_t> &word) {
    syscall(SYS_futex, futexWord(word), FUTEX_WAKE, INT32_MAX, nullptr, nullptr, 0);
}

void waitOnSharedWord(std::atomic<uint32_t> &word, uint32_t expected,
                      std::chrono::nanoseconds limit) {
    if (limit.count() <= 0) return;
    timespec relative{};
    relative.tv_sec = static_cast<time_t>(limit.count() / 1000000000);
    relative.tv_nsec = static_cast<long>(limit.count() % 1000000000);
    syscall(SYS_futex, futexWord(word), FUTEX_WAIT, expected, &relative, nullptr, 0);
}

// Sequentially consistent on both sides: either the sleeper sees the new value before it
// sleeps (and the kernel refuses the wait), or the waker sees `sleeping` and wakes it.
void advanceSharedWord(std::atomic<uint32_t> &word, uint32_t value,
                       std::atomic<uint32_t> &sleeping) {
    word.store(value, std::memory_order_seq_cst);
    if (sleeping.load(std::memory_order_seq_cst) != 0) wakeSharedWord(word);
}

void sleepOnSharedWord(std::atomic<uint32_t> &word, uint32_t expected,
                       std::atomic<uint32_t> &sleeping, std::chrono::nanoseconds limit) {
    // A count, not a flag: two threads of one side may wait at once (a render and a request).
    sleeping.fetch_add(1, std::memory_order_seq_cst);
    if (word.load(std::memory_order_seq_cst) == expected) waitOnSharedWord(word, expected, limit);
    sleeping.fetch_sub(1, std::memory_order_relaxed);
}

SharedBlockClient::SharedBlockClient(std::unique_ptr<SharedBlockMapping> region, int fd)
    : mapping(std::move(region)), shared(mapping->block()), controlFd(fd) {}

void SharedBlockClient::prepare(int blockSize, double sampleRate, int pluginLatency,
                                int aheadFrames) {
    const int block = std::clamp(blockSize, 1, maximumProcessFrames);
    // A batch is at least `aheadFrames` and less than one block more: it must fit a slot.
    aheadBatch =
        aheadFrames > block && aheadFrames + block <= maximumProcessFrames ? aheadFrames : 0;
    pipelineFrames = aheadBatch > 0 ? 2 * aheadBatch : block;
    // Sixteen turns: at 64 frames and 1024-frame batches, one in each period of a batch.
    static std::atomic<uint32_t> turns{0};
    constexpr uint32_t turnCount = 16;
    aheadStagger = aheadBatch > 0 ? static_cast<int>(turns.fetch_add(1) % turnCount) *
                                        (aheadBatch / static_cast<int>(turnCount))
                                  : 0;
    for (int channel = 0; channel < 2; ++channel)
        gathered[channel].assign(aheadBatch > 0 ? static_cast<size_t>(aheadBatch + block) : 0,
                                 0.0f);
    dryDelay = std::max(pluginLatency, 0);
    framesPerSecond = std::max<int64_t>(1, static_cast<int64_t>(sampleRate));
    // The rings hold what is still to be played and what is being written, with room to spare.
    const size_t capacity =
        std::bit_ceil(static_cast<size_t>(pipelineFrames) * 4 + static_cast<size_t>(dryDelay));
    for (int channel = 0; channel < 2; ++channel) {
        wet[channel].assign(capacity, 0.0f);
        dry[channel].assign(capacity, 0.0f);
    }
    ringMask = capacity - 1;
    pipelineRunning = false;
}

bool SharedBlockClient::helperIdle() const { return blocksInFlight() == 0; }

uint32_t SharedBlockClient::blocksInFlight() const {
    return shared->requested.load(std::memory_order_relaxed) -
           shared->completed.load(std::memory_order_acquire);
}

// The helper keeps its end of the control connection open for as long as it lives.
bool SharedBlockClient::controlConnectionBroken() const {
    pollfd watched{controlFd, POLLRDHUP, 0};
    return poll(&watched, 1, 0) > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void SharedBlockClient::submit(const float *left, const float *right, int frames,
                               const BlockExtras &extras) {
    // Only the application writes `requested`.
    const uint32_t number = shared->requested.load(std::memory_order_relaxed) + 1;
    SharedBlockSlot &slot = shared->slotOf(number);
    const auto count = static_cast<size_t>(frames);
    std::memcpy(slot.input[0], left, count * sizeof(float));
    std::memcpy(slot.input[1], right, count * sizeof(float));
    slot.frames = frames;
    const size_t params = std::min<size_t>(extras.params.size(), maximumParamsPerLine);
    std::copy_n(extras.params.begin(), params, slot.params);
    slot.paramCount = static_cast<int32_t>(params);
    const size_t offs = std::min<size_t>(extras.noteOffs.size(), maximumBlockNotes);
    std::copy_n(extras.noteOffs.begin(), offs, slot.noteOffs);
    for (size_t off = 0; off < offs; ++off)
        slot.noteOffFrames[off] = off < extras.noteOffFrames.size() ? extras.noteOffFrames[off] : 0;
    slot.noteOffCount = static_cast<int32_t>(offs);
    const size_t ons = std::min<size_t>(extras.noteOns.size(), maximumBlockNotes - offs);
    std::copy_n(extras.noteOns.begin(), ons, slot.noteOns);
    slot.noteOnCount = static_cast<int32_t>(ons);
    submitMembers(slot, extras.members);
    advanceSharedWord(shared->requested, number, shared->helperSleeping);
}

void SharedBlockClient::submitMembers(SharedBlockSlot &slot,
                                      std::span<const MemberExtras> members) {
    const size_t count = std::min(members.size(), maximumChainLength);
    for (size_t member = 0; member < count; ++member) {
        MemberBlockValues &into = slot.members[member];
        const size_t params = std::min<size_t>(members[member].params.size(), maximumParamsPerLine);
        std::copy_n(members[member].params.begin(), params, into.params);
        into.paramCount = static_cast<int32_t>(params);
        into.bypassed = members[member].bypassed ? 1 : 0;
    }
    slot.memberCount = static_cast<int32_t>(count);
}

void SharedBlockClient::takeOutput(float *left, float *right, int frames) {
    const SharedBlockSlot &slot = shared->slotOf(lastSubmitted());
    noteHelperLoad(slot, frames);
    std::memcpy(left, slot.output[0], static_cast<size_t>(frames) * sizeof(float));
    std::memcpy(right, slot.output[1], static_cast<size_t>(frames) * sizeof(float));
}

SharedBlockOutcome SharedBlockClient::finishBlockInFlight(Deadline deadline) {
    // The helper never finishes more than was submitted, so "done up to the last one" is "idle".
    return finishBlock(lastSubmitted(), deadline);
}

SharedBlockOutcome SharedBlockClient::finishBlock(uint32_t number, Deadline deadline) {
    // The connection is looked at once per wait and then once a slice: a wake for an earlier
    // block costs no system call beyond the sleep.
    std::chrono::steady_clock::time_point lookedAt{};
    bool looked = false;
    for (;;) {
        const uint32_t done = shared->completed.load(std::memory_order_acquire);
        // Counters wrap: what lies less than half the range behind `done` is finished.
        if (static_cast<int32_t>(done - number) >= 0) return SharedBlockOutcome::processed;
        const auto now = std::chrono::steady_clock::now();
        if (!looked || now - lookedAt >= waitSlice) {
            if (controlConnectionBroken()) return SharedBlockOutcome::helperGone;
            looked = true;
            lookedAt = now;
        }
        if (deadline.passed()) return SharedBlockOutcome::late;
        const std::chrono::nanoseconds remaining =
            deadline.unlimited ? waitSlice : deadline.at - std::chrono::steady_clock::now();
        sleepOnSharedWord(shared->completed, done, shared->clientSleeping,
                          std::min<std::chrono::nanoseconds>(remaining, waitSlice));
    }
}

SharedBlockOutcome SharedBlockClient::processNow(float *left, float *right, int frames,
                                                 const BlockExtras &extras, Deadline deadline,
                                                 bool &extrasSent) {
    extrasSent = false;
    pipelineRunning = false;
    // A block that missed its deadline earlier may still be running: its output is dropped.
    SharedBlockOutcome outcome = finishBlockInFlight(deadline);
    if (outcome != SharedBlockOutcome::processed) return outcome;
    submit(left, right, frames, extras);
    extrasSent = true;
    outcome = finishBlockInFlight(deadline);
    if (outcome == SharedBlockOutcome::processed) takeOutput(left, right, frames);
    return outcome;
}

void SharedBlockClient::resetPipeline() {
    for (int channel = 0; channel < 2; ++channel) {
        std::fill(wet[channel].begin(), wet[channel].end(), 0.0f);
        std::fill(dry[channel].begin(), dry[channel].end(), 0.0f);
    }
    position = 0;
    pendingFrames = 0;
    batchCount = 0;
    sentUpTo = 0;
    // Until the pipeline has output of its own the caller's dry signal plays, and the caller
    // fades from it: the first block goes into the ring as it came back.
    lastSegmentWet = true;
    missedFramesInARow = 0;
    pipelineRunning = true;
}

// Coming back from a miss, the processed signal fades in over the dry one.
void SharedBlockClient::fillFromHelper(int64_t start, int frames) {
    // Nothing is sent while a block is pending, so the pending block is the one sent last.
    fillFromSlot(shared->slotOf(lastSubmitted()), start, frames);
}

void SharedBlockClient::fillFromSlot(const SharedBlockSlot &slot, int64_t start, int frames) {
    noteHelperLoad(slot, frames);
    for (int channel = 0; channel < 2; ++channel)
        for (int frame = 0; frame < frames; ++frame) {
            const uint64_t at = static_cast<uint64_t>(start + frame) & ringMask;
            const float processed = slot.output[channel][frame];
            const float standIn = dry[channel][(at - static_cast<uint64_t>(dryDelay)) & ringMask];
            wet[channel][at] = lastSegmentWet
                                   ? processed
                                   : standIn + (processed - standIn) * rampAt(frame, frames);
        }
    lastSegmentWet = true;
    missedFramesInARow = 0;
}

// The helper's figures are its own word: a value that is not a time (a helper gone wrong
// writes anything) counts as nothing rather than as a spike.
void SharedBlockClient::noteHelperLoad(const SharedBlockSlot &slot, int frames) {
    if (frames <= 0) return;
    const double blockSeconds = static_cast<double>(frames) / static_cast<double>(framesPerSecond);
    const size_t members = static_cast<size_t>(
        std::clamp<int32_t>(slot.memberCount, 1, static_cast<int32_t>(maximumChainLength)));
    for (size_t member = 0; member < members; ++member) {
        const float seconds = slot.memberSeconds[member];
        const double load = std::isfinite(seconds) && seconds > 0.0f
                                ? static_cast<double>(seconds) / blockSeconds
                                : 0.0;
        helperLoads[member].addRt(load);
    }
}

LoadStretch SharedBlockClient::takeHelperLoad(size_t member) {
    return member < maximumChainLength ? helperLoads[member].take() : LoadStretch{};
}

// The dry signal stands in, with the same delay. Right after a good block, that block is played
// once more, backwards so that it starts on the very sample the output stopped on, fading out
// while the dry signal fades in: the gap never clicks.
void SharedBlockClient::fillDry(int64_t start, int frames) {
    for (int channel = 0; channel < 2; ++channel)
        for (int frame = 0; frame < frames; ++frame) {
            const uint64_t at = static_cast<uint64_t>(start + frame) & ringMask;
            const float lastGood =
                wet[channel][static_cast<uint64_t>(start - 1 - frame) & ringMask];
            const float standIn = dry[channel][(at - static_cast<uint64_t>(dryDelay)) & ringMask];
            // Before the pipeline's first block nothing good was played to fade from.
            wet[channel][at] = lastSegmentWet && start > 0
                                   ? lastGood + (standIn - lastGood) * rampAt(frame, frames)
                                   : standIn;
        }
    lastSegmentWet = false;
}

void SharedBlockClient::noteMiss(int frames) {
    late.fetch_add(1, std::memory_order_relaxed);
    missedFramesInARow += frames;
    if (missedFramesInARow >= framesPerSecond) stuck.store(true, std::memory_order_relaxed);
}

// A late wake of the audio thread is followed by blocks in quick succession, each leaving the
// helper less than a period: waiting out the block's deadline for it keeps those blocks wet.
void SharedBlockClient::settlePending(Deadline patience) {
    if (pendingFrames == 0) return;
    if (helperIdle() || finishBlock(lastSubmitted(), patience) == SharedBlockOutcome::processed) {
        fillFromHelper(pendingStart, pendingFrames);
    } else {
        fillDry(pendingStart, pendingFrames);
        noteMiss(pendingFrames);
    }
    pendingFrames = 0;
}

bool SharedBlockClient::processBehind(float *left, float *right, int frames,
                                      const BlockExtras &extras, Deadline patience,
                                      bool &extrasSent) {
    extrasSent = false;
    if (pipelineFrames == 0 || frames < 1 || frames > pipelineFrames) return false;
    if (aheadBatch > 0) return processAhead(left, right, frames, extras, patience, extrasSent);
    if (!pipelineRunning) resetPipeline();
    settlePending(patience);
    for (int frame = 0; frame < frames; ++frame) {
        const uint64_t at = static_cast<uint64_t>(position + frame) & ringMask;
        dry[0][at] = left[frame];
        dry[1][at] = right[frame];
    }
    // A helper still on the block given up just now finds this one waiting in the other slot.
    // Its output slot stays the helper's until the block after next is sent, and that waits
    // for this one.
    if (blocksInFlight() < SharedBlockLayout::slotCount) {
        submit(left, right, frames, extras);
        extrasSent = true;
        pendingStart = position;
        pendingFrames = frames;
    } else {
        fillDry(position, frames);
        noteMiss(frames);
    }
    const int64_t playFrom = position - pipelineFrames;
    position += frames;
    if (playFrom < 0) return false;
    playFromRing(playFrom, left, right, frames);
    return true;
}

void SharedBlockClient::playFromRing(int64_t from, float *left, float *right, int frames) const {
    for (int frame = 0; frame < frames; ++frame) {
        const uint64_t at = static_cast<uint64_t>(from + frame) & ringMask;
        left[frame] = wet[0][at];
        right[frame] = wet[1][at];
    }
}

// Gathered hand-overs: the input goes into the dry ring every period; once a batch's worth is
// there and a slot is free it goes to the helper in one piece; each batch is played once the
// helper finished it, and waited for (until `patience`) only when the output reaches it.
bool SharedBlockClient::processAhead(float *left, float *right, int frames,
                                     const BlockExtras &extras, Deadline patience,
                                     bool &extrasSent) {
    if (!pipelineRunning) resetPipeline();
    for (int frame = 0; frame < frames; ++frame) {
        const uint64_t at = static_cast<uint64_t>(position + frame) & ringMask;
        dry[0][at] = left[frame];
        dry[1][at] = right[frame];
    }
    const int64_t readFrom = position - pipelineFrames;
    const int64_t readEnd = readFrom + frames;
    settleBatchesAhead(readEnd, patience);
    // What the output reaches before it was ever sent (the helper held both slots) plays dry.
    if (readEnd > sentUpTo) {
        const auto missed = static_cast<int>(readEnd - sentUpTo);
        fillDry(sentUpTo, missed);
        noteMiss(missed);
        sentUpTo = readEnd;
    }
    const int64_t written = position + frames;
    const auto unsent = static_cast<int>(written - sentUpTo);
    const int due = sentUpTo == 0 ? aheadBatch - aheadStagger : aheadBatch;
    if (unsent >= due && batchCount < SharedBlockLayout::slotCount &&
        blocksInFlight() < SharedBlockLayout::slotCount) {
        // After a busy helper let frames pile up, the rest goes with the next hand-over.
        const int count = std::min(unsent, static_cast<int>(gathered[0].size()));
        submitFromDryRing(sentUpTo, count, extras);
        extrasSent = true;
        batches[batchCount++] = BatchInFlight{lastSubmitted(), sentUpTo, count};
        sentUpTo += count;
    }
    position = written;
    if (readFrom < 0) return false;
    playFromRing(readFrom, left, right, frames);
    return true;
}

void SharedBlockClient::settleBatchesAhead(int64_t readEnd, Deadline patience) {
    while (batchCount > 0) {
        const BatchInFlight oldest = batches[0];
        const bool done = static_cast<int32_t>(shared->completed.load(std::memory_order_acquire) -
                                               oldest.number) >= 0;
        const bool needed = readEnd > oldest.start;
        if (!done && !needed) return;
        if (done || finishBlock(oldest.number, patience) == SharedBlockOutcome::processed) {
            fillFromSlot(shared->slotOf(oldest.number), oldest.start, oldest.frames);
        } else {
            fillDry(oldest.start, oldest.frames);
            noteMiss(oldest.frames);
        }
        for (uint32_t index = 1; index < batchCount; ++index)
            batches[index - 1] = batches[index];
        --batchCount;
    }
}

void SharedBlockClient::submitFromDryRing(int64_t start, int frames, const BlockExtras &extras) {
    for (int channel = 0; channel < 2; ++channel)
        for (int frame = 0; frame < frames; ++frame)
            gathered[channel][static_cast<size_t>(frame)] =
                dry[channel][static_cast<uint64_t>(start + frame) & ringMask];
    submit(gathered[0].data(), gathered[1].data(), frames, extras);
}

} // namespace orvane::vst
