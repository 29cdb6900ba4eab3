#include "core/engine/ResidentFloats.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace orvane {

namespace {

/// Below this the allocator's own zeroed memory is as cheap: a page or two at most.
constexpr std::size_t populateFromBytes = 8 * 1024;

} // namespace

void ResidentFloats::reallocate(std::size_t count) {
    release();
    if (count == 0) return;
    if (count > static_cast<std::size_t>(-1) / sizeof(float)) throw std::bad_alloc();
    const std::size_t bytes = count * sizeof(float);
    if (bytes >= populateFromBytes) {
        // Anonymous memory, populated by the kernel in one pass; it holds no file.
        void *memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        data_ = static_cast<float *>(memory);
        mapped_ = true;
    } else {
        void *memory = std::calloc(count, sizeof(float));
        if (!memory) throw std::bad_alloc();
        data_ = static_cast<float *>(memory);
        mapped_ = false;
    }
    size_ = count;
}

void ResidentFloats::release() {
    if (!data_) return;
    if (mapped_)
        ::munmap(data_, size_ * sizeof(float));
    else
        std::free(data_);
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

} // namespace orvane
