#include "core/engine/TrackWorkers.h"

#include "core/rt/RtThread.h"

#include <algorithm>

#include <pthread.h>
#include <sched.h>

#if defined(__x86_64__) || defined(__SSE__)
#include <immintrin.h>
#endif

namespace orvane {

namespace {

unsigned int currentFloatControl() {
#if defined(__x86_64__) || defined(__SSE__)
    return _mm_getcsr();
#else
    return 0;
#endif
}

/// The helper rounds and flushes denormals exactly as the rendering thread does, or a track
/// it renders would come out different from the same track rendered alone.
void adoptFloatControl([[maybe_unused]] unsigned int control) {
#if defined(__x86_64__) || defined(__SSE__)
    _mm_setcsr(control);
#endif
}

void pause() {
#if defined(__x86_64__) || defined(__SSE__)
    _mm_pause();
#endif
}

/// Some tens of microseconds: about what the rendering thread spends between blocks, so that
/// a running export rarely pays for a wake-up, while a thread that waits longer (a busy
/// machine, a slow sink) sleeps rather than taking a core from everything else.
constexpr int spinsBeforeSleeping = 2000;

constexpr uint64_t fieldMask = (uint64_t{1} << 20) - 1;
constexpr int32_t largestCount = static_cast<int32_t>(fieldMask);

uint64_t packClaims(uint32_t generation, int32_t count, int32_t index) {
    return (static_cast<uint64_t>(generation & 0xffffffu) << 40) |
           ((static_cast<uint64_t>(count) & fieldMask) << 20) |
           (static_cast<uint64_t>(index) & fieldMask);
}

uint32_t generationOf(uint64_t claims) { return static_cast<uint32_t>(claims >> 40); }
int32_t countOf(uint64_t claims) { return static_cast<int32_t>((claims >> 20) & fieldMask); }
int32_t indexOf(uint64_t claims) { return static_cast<int32_t>(claims & fieldMask); }

} // namespace

int32_t TrackWorkers::helpersForThisMachine() {
    const auto cores = static_cast<int32_t>(std::thread::hardware_concurrency());
    return std::clamp(cores - 1, 1, 15);
}

TrackWorkers::TrackWorkers(int32_t trackCapacity, int32_t blockSize, int32_t helperCount)
    : frames(std::max(blockSize, 1)),
      buffers(2 * static_cast<std::size_t>(std::max(trackCapacity, 0)),
              std::vector<float>(static_cast<std::size_t>(std::max(blockSize, 1)))),
      outcomes(static_cast<std::size_t>(std::max(trackCapacity, 0))) {
    const auto count = static_cast<std::size_t>(std::max(helperCount, 1));
    helpers.reserve(count);
    for (std::size_t index = 0; index < count; ++index)
        helpers.emplace_back([this, index] { helperLoop(index); });
}

TrackWorkers::~TrackWorkers() {
    stopping.store(true);
    generation.fetch_add(1);
    generation.notify_all();
    for (std::thread &helper : helpers)
        helper.join();
}

void TrackWorkers::forEach(int32_t count, Job newJob, void *context) {
    count = std::clamp(count, 0, std::min(trackCapacity(), largestCount));
    if (count == 0) return;
    job = newJob;
    jobContext = context;
    floatControl = currentFloatControl();
    // Read from the thread's own record, without a system call.
    sched_param parameters{};
    if (pthread_getschedparam(pthread_self(), &ownerPolicy, &parameters) == 0)
        ownerPriority = parameters.sched_priority;
    pending.store(count, std::memory_order_relaxed);
    const uint32_t current = (generation.load(std::memory_order_relaxed) + 1) & 0xffffffu;
    claims.store(packClaims(current, count, 0), std::memory_order_release);
    generation.store(current);
    // A wake-up is a system call: only for helpers that have gone to sleep.
    if (helpersSleeping.load() > 0) generation.notify_all();
    work(current, true);
    waitForPending();
    shared.fetch_add(1, std::memory_order_relaxed);
}

namespace {

/// Waits while `value` still holds `old`: spinning first, since the change is usually
/// microseconds away, then asleep, saying so in `sleeping` before the last look so that the
/// other side either sees it and wakes us or has already made the change.
template <typename T>
void waitWhileEqual(const std::atomic<T> &value, T old, std::atomic<bool> &sleeping) {
    for (int spin = 0; spin < spinsBeforeSleeping; ++spin) {
        if (value.load(std::memory_order_acquire) != old) return;
        pause();
    }
    sleeping.store(true);
    if (value.load() == old) value.wait(old);
    sleeping.store(false);
}

/// The same for one of several sleepers, counted in `sleepers`.
template <typename T>
void waitWhileEqual(const std::atomic<T> &value, T old, std::atomic<int32_t> &sleepers) {
    for (int spin = 0; spin < spinsBeforeSleeping; ++spin) {
        if (value.load(std::memory_order_acquire) != old) return;
        pause();
    }
    sleepers.fetch_add(1);
    if (value.load() == old) value.wait(old);
    sleepers.fetch_sub(1);
}

} // namespace

void TrackWorkers::waitForPending() {
    for (int32_t left = pending.load(std::memory_order_acquire); left != 0;
         left = pending.load(std::memory_order_acquire))
        waitWhileEqual(pending, left, ownerSleeping);
}

void TrackWorkers::work(uint32_t current, bool onOwnerThread) {
    uint64_t claim = claims.load(std::memory_order_acquire);
    bool adopted = false;
    for (;;) {
        if (generationOf(claim) != current || indexOf(claim) >= countOf(claim)) return;
        if (!claims.compare_exchange_weak(claim, claim + 1, std::memory_order_acq_rel,
                                          std::memory_order_acquire))
            continue;
        if (!adopted) {
            adoptFloatControl(floatControl);
            adopted = true;
        }
        if (!onOwnerThread) adoptOwnerScheduling();
        job(jobContext, indexOf(claim));
        if (pending.fetch_sub(1) == 1 && ownerSleeping.load()) pending.notify_one();
        claim = claims.load(std::memory_order_acquire);
    }
}

// A system call, but only when the owner's scheduling differs from the helper's own: once for
// a device's thread, again only if the device changes it.
void TrackWorkers::adoptOwnerScheduling() {
    thread_local int policy = SCHED_OTHER;
    thread_local int priority = 0;
    if (policy == ownerPolicy && priority == ownerPriority) return;
    sched_param parameters{};
    parameters.sched_priority = ownerPriority;
    // Refused without the right to real-time scheduling: the helper then keeps its own.
    if (pthread_setschedparam(pthread_self(), ownerPolicy, &parameters) != 0) {
        parameters.sched_priority = 0;
        (void)pthread_setschedparam(pthread_self(), SCHED_OTHER, &parameters);
    }
    policy = ownerPolicy;
    priority = ownerPriority;
}

void TrackWorkers::helperLoop(std::size_t) {
    // The same rules as the rendering thread it stands beside: nothing here may allocate.
    RtScope scope;
    uint32_t seen = 0;
    while (!stopping.load(std::memory_order_acquire)) {
        waitWhileEqual(generation, seen, helpersSleeping);
        const uint32_t current = generation.load(std::memory_order_acquire);
        if (current == seen || stopping.load(std::memory_order_acquire)) continue;
        seen = current;
        work(current, false);
    }
}

} // namespace orvane
