// Replaces the global allocation functions in debug and sanitizer builds of the programs and of
// the tests that do not count allocations themselves: an allocation or a free on a thread a
// device is rendering on aborts with a message, so a real-time fault shows the first time it
// happens rather than as an occasional click.
#include "core/model/RtThread.h"

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

void *operator new(std::size_t size) { return allocate(size); }
void *operator new[](std::size_t size) { return allocate(size); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    checkRealTime("allocation");
    return std::malloc(size == 0 ? 1 : size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    checkRealTime("allocation");
    return std::malloc(size == 0 ? 1 : size);
}
void *operator new(std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void *operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void operator delete(void *memory) noexcept { release(memory); }
void operator delete[](void *memory) noexcept { release(memory); }
void operator delete(void *memory, std::size_t) noexcept { release(memory); }
void operator delete[](void *memory, std::size_t) noexcept { release(memory); }
void operator delete(void *memory, std::align_val_t) noexcept { release(memory); }
void operator delete[](void *memory, std::align_val_t) noexcept { release(memory); }
void operator delete(void *memory, std::size_t, std::align_val_t) noexcept { release(memory); }
void operator delete[](void *memory, std::size_t, std::align_val_t) noexcept { release(memory); }
