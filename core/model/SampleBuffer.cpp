#include "core/model/SampleBuffer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include <sys/mman.h>
#include <unistd.h>

namespace orvane {

namespace {

// A file truncated under a shared mapping raises SIGBUS on the first read past its new end.
// The guard keeps the address ranges of every live mapping in a fixed table that the signal
// handler can search without locks; a fault inside one gets a page of zeros in place of the
// vanished one and the read carries on. Faults anywhere else go to whoever handled SIGBUS
// before us.
constexpr std::size_t guardSlots = 4096;

struct GuardedRange {
    std::atomic<uintptr_t> begin{0}; // 0: the slot is free
    std::atomic<uintptr_t> end{0};
};

std::array<GuardedRange, guardSlots> guardedRanges;
std::atomic<uint64_t> faultedPageCount{0};
struct sigaction previousBusAction {};
uintptr_t pageBytes = 4096;

bool replaceWithZeros(uintptr_t address) {
    for (const GuardedRange &range : guardedRanges) {
        const uintptr_t begin = range.begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= range.end.load(std::memory_order_acquire))
            continue;
        void *page = reinterpret_cast<void *>(address & ~(pageBytes - 1));
        if (::mmap(page, pageBytes, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) ==
            MAP_FAILED)
            return false;
        faultedPageCount.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    return false;
}

void onBusError(int signal, siginfo_t *info, void *context) {
    const int savedErrno = errno;
    const bool mended = replaceWithZeros(reinterpret_cast<uintptr_t>(info->si_addr));
    errno = savedErrno;
    if (mended) return;
    if ((previousBusAction.sa_flags & SA_SIGINFO) && previousBusAction.sa_sigaction) {
        previousBusAction.sa_sigaction(signal, info, context);
        return;
    }
    if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN) {
        previousBusAction.sa_handler(signal);
        return;
    }
    // Not ours and nobody else's: the faulting read runs again under the default action.
    ::signal(SIGBUS, SIG_DFL);
}

bool installBusGuard() {
    static std::once_flag once;
    static bool installed = false;
    std::call_once(once, [] {
        pageBytes = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        installed = ::sigaction(SIGBUS, &action, &previousBusAction) == 0;
    });
    return installed;
}

int claimGuardSlot(const unsigned char *bytes, std::size_t length) {
    const auto begin = reinterpret_cast<uintptr_t>(bytes);
    for (std::size_t slot = 0; slot < guardSlots; ++slot) {
        GuardedRange &range = guardedRanges[slot];
        uintptr_t free = 0;
        // Claim with a marker the handler can never match, then publish the real range.
        if (!range.begin.compare_exchange_strong(free, UINTPTR_MAX)) continue;
        range.end.store(begin + length, std::memory_order_release);
        range.begin.store(begin, std::memory_order_release);
        return static_cast<int>(slot);
    }
    return -1;
}

void releaseGuardSlot(int slot) {
    GuardedRange &range = guardedRanges[static_cast<std::size_t>(slot)];
    range.end.store(0, std::memory_order_release);
    range.begin.store(0, std::memory_order_release);
}

/// The whole pages that [bytes, bytes + length) touches, or only those it covers entirely.
std::pair<uintptr_t, uintptr_t> pageSpan(const void *bytes, std::size_t length, bool covered) {
    const auto begin = reinterpret_cast<uintptr_t>(bytes);
    const uintptr_t end = begin + length;
    const uintptr_t mask = pageBytes - 1;
    if (covered) return {(begin + mask) & ~mask, end & ~mask};
    return {begin & ~mask, (end + mask) & ~mask};
}

} // namespace

std::shared_ptr<const MappedFile> MappedFile::map(int fd, std::size_t length, std::string *error) {
    if (length == 0) {
        if (error) *error = "the file is empty";
        return nullptr;
    }
    if (!installBusGuard()) {
        if (error) *error = std::string("cannot guard mapped files: ") + std::strerror(errno);
        return nullptr;
    }
    void *bytes = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    if (bytes == MAP_FAILED) {
        if (error) *error = std::string("cannot map the file: ") + std::strerror(errno);
        return nullptr;
    }
    // After mlockall(MCL_FUTURE) a new mapping would be locked as it is read.
    ::munlock(bytes, length);
    // Page by page, not in 2 MiB pieces: reading one second ahead of each clip must not make
    // megabytes of it resident, and releasing what was played must free just that.
    ::madvise(bytes, length, MADV_NOHUGEPAGE);
    const int slot = claimGuardSlot(static_cast<unsigned char *>(bytes), length);
    if (slot < 0) {
        ::munmap(bytes, length);
        if (error) *error = "too many mapped media files";
        return nullptr;
    }
    return std::shared_ptr<const MappedFile>(
        new MappedFile(static_cast<unsigned char *>(bytes), length, slot));
}

MappedFile::~MappedFile() {
    releaseGuardSlot(slot_);
    ::munmap(bytes_, length_);
}

void MappedFile::unlockAll() {
    for (const GuardedRange &range : guardedRanges) {
        const uintptr_t begin = range.begin.load(std::memory_order_acquire);
        const uintptr_t end = range.end.load(std::memory_order_acquire);
        if (begin != 0 && begin != UINTPTR_MAX && end > begin)
            ::munlock(reinterpret_cast<void *>(begin), end - begin);
    }
}

uint64_t MappedFile::faultedPages() { return faultedPageCount.load(std::memory_order_relaxed); }

namespace {
const float noFloats = 0.0f;
}

SampleBuffer::SampleBuffer(std::shared_ptr<const std::vector<float>> floats) {
    if (floats && !floats->empty()) {
        floats_ = floats->data();
        size_ = static_cast<int64_t>(floats->size());
    } else {
        floats_ = &noFloats;
    }
    heap_ = std::move(floats);
}

SampleBuffer::SampleBuffer(std::shared_ptr<const void> owner, const float *floats, int64_t count)
    : heap_(std::move(owner)), floats_(floats && count > 0 ? floats : &noFloats),
      size_(floats && count > 0 ? count : 0) {}

SampleBuffer::SampleBuffer(std::shared_ptr<const MappedFile> file, const int16_t *pcm,
                           int64_t count)
    : file_(std::move(file)), pcm_(pcm), size_(count) {}

void SampleBuffer::copyTo(int64_t first, int64_t count, float *out) const {
    if (floats_) {
        std::copy_n(floats_ + first, count, out);
        return;
    }
    for (int64_t i = 0; i < count; ++i)
        out[i] = fromPcm16(pcm_[first + i]);
}

std::vector<float> SampleBuffer::toVector() const {
    std::vector<float> samples(static_cast<std::size_t>(size_));
    copyTo(0, size_, samples.data());
    return samples;
}

namespace {

/// The pages of mapped samples [first, first + count), clamped to the buffer: every page
/// they touch, or only those they cover whole. Empty for a heap buffer.
std::pair<uintptr_t, uintptr_t> mappedPages(const int16_t *pcm, int64_t size, int64_t first,
                                            int64_t count, bool covered) {
    first = std::clamp<int64_t>(first, 0, size);
    count = std::clamp<int64_t>(count, 0, size - first);
    if (!pcm || count == 0) return {0, 0};
    return pageSpan(pcm + first, static_cast<std::size_t>(count) * sizeof(int16_t), covered);
}

} // namespace

void SampleBuffer::prefetch(int64_t first, int64_t count) const {
    const auto [begin, end] = mappedPages(pcm_, size_, first, count, false);
    if (end <= begin) return;
    // Reading the pages in and entering them in our page tables spares the reader even the
    // minor faults; where the kernel cannot (older than 5.14, or the file shrank) the pages
    // are at least read into the page cache.
    if (::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_POPULATE_READ) != 0)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_WILLNEED);
}

void SampleBuffer::release(int64_t first, int64_t count) const {
    const auto touched = mappedPages(pcm_, size_, first, count, false);
    const auto covered = mappedPages(pcm_, size_, first, count, true);
    // The last sample of the buffer ends its last page: nothing after it is to come.
    const bool toTheEnd = first + count >= size_;
    const uintptr_t begin = touched.first;
    const uintptr_t end = toTheEnd ? touched.second : covered.second;
    if (end > begin) ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTNEED);
}

std::shared_ptr<const void> SampleBuffer::owner() const {
    if (file_) return std::shared_ptr<const void>(file_, pcm_);
    return std::shared_ptr<const void>(heap_, floats_);
}

namespace {

template <typename Read> bool sameSamples(const SampleBuffer &a, int64_t size, Read read) {
    if (a.size() != size) return false;
    for (int64_t i = 0; i < size; ++i)
        if (a.at(i) != read(i)) return false;
    return true;
}

} // namespace

bool operator==(const SampleBuffer &a, const SampleBuffer &b) {
    return sameSamples(a, b.size(), [&](int64_t i) { return b.at(i); });
}

bool operator==(const SampleBuffer &a, const std::vector<float> &b) {
    return sameSamples(a, static_cast<int64_t>(b.size()),
                       [&](int64_t i) { return b[static_cast<std::size_t>(i)]; });
}

FloatSamples::FloatSamples(const SampleBuffer &buffer) : size_(buffer.size()) {
    if (buffer.floats()) {
        data_ = buffer.floats();
        return;
    }
    copy_ = buffer.toVector();
    data_ = copy_.data();
}

SharedSamples::SharedSamples(std::shared_ptr<const std::vector<float>> floats)
    : buffer_(floats ? std::make_shared<const SampleBuffer>(std::move(floats)) : nullptr) {}

SharedSamples makeSampleBuffer(std::vector<float> samples) {
    return SharedSamples(std::make_shared<const std::vector<float>>(std::move(samples)));
}

} // namespace orvane
