// Replaces the global allocation functions in debug and sanitizer builds of the programs and of
// the tests that do not count allocations themselves: an allocation or a free on a thread a
// device is rendering on aborts with a message, so a real-time fault shows the first time it
// happens rather than as an occasional click.
#include "core/rt/RtThread.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

void checkRealTime(const char *what) {
    if (!orvane::rtAllocationTrapped()) return;
    std::fprintf(stderr, "real-time contract broken: %s on a rendering thread\n", what);
    std::abort();
}

void *allocate(std::size_t size) {
    checkRealTime("allocation");
    if (void *memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void *allocateAligned(std::size_t size, std::align_val_t alignment) {
    checkRealTime("allocation");
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = ((size == 0 ? 1 : size) + align - 1) / align * align;
    if (void *memory = std::aligned_alloc(align, rounded)) return memory;
    throw std::bad_alloc();
}

void release(void *memory) {
    if (!memory) return;
    checkRealTime("free");
    std::free(memory);
}

} // namespace

#include "core/rt/GlobalAllocationFunctions.inc"
