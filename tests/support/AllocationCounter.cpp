#include "tests/support/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace orvane {
// The real-time trap's state, when the engine's model library is linked in.
[[gnu::weak]] bool rtAllocationTrapped() noexcept;
} // namespace orvane

namespace {

/// A counted test still aborts at once on an allocation where a device renders, as the
/// programs do in debug builds, so the fault shows with its stack.
void checkRealTime() {
    if (&orvane::rtAllocationTrapped != nullptr && orvane::rtAllocationTrapped()) std::abort();
}

thread_local bool counting = false;
thread_local uint64_t allocationCount = 0;
thread_local uint64_t freeCount = 0;

void *allocate(std::size_t size) {
    checkRealTime();
    if (counting) ++allocationCount;
    if (size == 0) size = 1;
    if (void *memory = std::malloc(size)) return memory;
    throw std::bad_alloc();
}

void *allocateAligned(std::size_t size, std::align_val_t alignment) {
    checkRealTime();
    if (counting) ++allocationCount;
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = ((size == 0 ? 1 : size) + align - 1) / align * align;
    if (void *memory = std::aligned_alloc(align, rounded)) return memory;
    throw std::bad_alloc();
}

void release(void *memory) {
    if (!memory) return;
    checkRealTime();
    if (counting) ++freeCount;
    std::free(memory);
}

} // namespace

namespace orvane::testing {

AllocationScope::AllocationScope() {
    allocationCount = 0;
    freeCount = 0;
    counting = true;
}

AllocationScope::~AllocationScope() { counting = false; }

uint64_t AllocationScope::allocations() const { return allocationCount; }
uint64_t AllocationScope::frees() const { return freeCount; }

} // namespace orvane::testing

#include "core/rt/GlobalAllocationFunctions.inc"
