#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace orvane {

/// A fixed ring of `SlotCount` slots for exactly one producer thread and one consumer thread.
/// Neither side allocates, locks or waits: a push into a full ring returns false and drops the
/// entry, a pop from an empty one returns false.
///
/// It is empty when the two indices are equal and full when one more push would make them
/// equal, so it holds at most `SlotCount - 1` entries.
template <typename T, std::size_t SlotCount> class SpscRing {
    static_assert(SlotCount > 1 && (SlotCount & (SlotCount - 1)) == 0,
                  "the slot count is a power of two");

  public:
    /// The most entries the ring holds at once.
    static constexpr std::size_t capacity = SlotCount - 1;

    /// Producer side. False when the ring was full and `entry` was dropped.
    bool push(const T &entry) noexcept {
        const uint64_t write = writeIndex.load(std::memory_order_relaxed);
        const uint64_t next = (write + 1) & indexMask;
        if (next == readIndex.load(std::memory_order_acquire)) return false;
        slots[write] = entry;
        writeIndex.store(next, std::memory_order_release);
        return true;
    }

    /// Consumer side. False when the ring is empty.
    bool pop(T &entry) noexcept {
        const uint64_t read = readIndex.load(std::memory_order_relaxed);
        if (read == writeIndex.load(std::memory_order_acquire)) return false;
        entry = slots[read];
        readIndex.store((read + 1) & indexMask, std::memory_order_release);
        return true;
    }

    /// Consumer side: hands every waiting entry to `visit` in order and returns how many. Each
    /// slot is given back to the producer before `visit` runs, so a slow visitor holds none.
    template <class Visitor> std::size_t drain(Visitor &&visit) {
        std::size_t taken = 0;
        T entry;
        while (pop(entry)) {
            visit(entry);
            ++taken;
        }
        return taken;
    }

    /// Entries waiting; exact only when called from one of the two sides.
    uint64_t size() const noexcept {
        return (writeIndex.load(std::memory_order_acquire) -
                readIndex.load(std::memory_order_acquire)) &
               indexMask;
    }

  private:
    static constexpr uint64_t indexMask = SlotCount - 1;

    std::array<T, SlotCount> slots{};
    std::atomic<uint64_t> readIndex{0};
    std::atomic<uint64_t> writeIndex{0};
};

} // namespace orvane
