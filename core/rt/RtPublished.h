#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>
#include <vector>

namespace orvane {

/// Hands immutable copies of a `T` from one writer to real-time readers.
///
/// The writer (one thread at a time; its callers serialise it) builds a new copy off the
/// audio thread and `publish`es it with one atomic store. A reader announces the copy it
/// reads in a hazard slot of its own for the duration of a `Reader`, never locks and never
/// owns: the writer alone frees retired copies, in `collect`, once no slot names them. A
/// reader therefore never runs a destructor or a free.
///
/// `readerSlots` bounds how many readers may hold a copy at once (a device block, an offline
/// block and a main-thread reader); a further reader waits for a slot, which only happens
/// when more threads read than the owner declared.
template <class T, std::size_t readerSlots = 4> class RtPublished {
  public:
    RtPublished() { retired.reserve(8); }
    ~RtPublished() = default;
    RtPublished(const RtPublished &) = delete;
    RtPublished &operator=(const RtPublished &) = delete;

    /// Writer: makes `next` the copy every later `Reader` sees, retires the previous one
    /// and frees the retired copies no reader holds any more.
    void publish(std::shared_ptr<const T> next) {
        std::shared_ptr<const T> previous = std::move(published);
        published = std::move(next);
        forReaders.store(published.get(), std::memory_order_seq_cst);
        if (previous) retired.push_back(std::move(previous));
        collect();
    }

    /// Writer: the copy most recently published.
    const std::shared_ptr<const T> &current() const { return published; }

    /// Writer: frees every retired copy that no reader announces.
    void collect() { takeUnread(); }

    /// Writer: hands over the retired copies no reader holds, for a caller that must destroy
    /// them somewhere particular (outside a lock, say).
    std::vector<std::shared_ptr<const T>> takeUnread() {
        std::vector<std::shared_ptr<const T>> unread;
        std::erase_if(retired, [&](std::shared_ptr<const T> &copy) {
            if (isRead(copy.get())) return false;
            unread.push_back(std::move(copy));
            return true;
        });
        return unread;
    }

    /// Writer: waits until every retired copy is freed. Bounded by the longest reader in
    /// flight: a reader that starts now sees the current copy.
    void waitForRetired() {
        collect();
        while (!retired.empty()) {
            std::this_thread::yield();
            collect();
        }
    }

    /// Writer: number of copies retired and still held by a reader.
    std::size_t retiredCount() const { return retired.size(); }
    /// Writer: the copies retired and not yet freed.
    const std::vector<std::shared_ptr<const T>> &retiredCopies() const { return retired; }

    /// For tests: readers holding a copy right now.
    std::size_t readersNow() const {
        std::size_t count = 0;
        for (const auto &slot : hazards)
            if (slot.load(std::memory_order_seq_cst) != nullptr) ++count;
        return count;
    }

    /// Real-time side: the copy current when the reader was made, valid for its lifetime.
    class Reader {
      public:
        explicit Reader(const RtPublished &owner) noexcept : owner(owner) {
            slot = owner.claimSlot();
            value = owner.announce(slot);
        }
        ~Reader() { owner.releaseSlot(slot); }
        Reader(const Reader &) = delete;
        Reader &operator=(const Reader &) = delete;

        const T *get() const noexcept { return value; }
        const T *operator->() const noexcept { return value; }
        const T &operator*() const noexcept { return *value; }
        explicit operator bool() const noexcept { return value != nullptr; }

      private:
        const RtPublished &owner;
        std::size_t slot = 0;
        const T *value = nullptr;
    };

    Reader read() const noexcept { return Reader(*this); }

  private:
    bool isRead(const T *copy) const {
        for (const auto &slot : hazards)
            if (slot.load(std::memory_order_seq_cst) == copy) return true;
        return false;
    }

    std::size_t claimSlot() const noexcept {
        while (true) {
            for (std::size_t index = 0; index < readerSlots; ++index) {
                bool expected = false;
                if (taken[index].compare_exchange_strong(expected, true, std::memory_order_acquire))
                    return index;
            }
            std::this_thread::yield();
        }
    }

    /// Announce, then check that the copy is still the published one: a writer that swapped
    /// in between either sees the announcement or has published a newer copy, which the
    /// loop then announces instead.
    const T *announce(std::size_t slot) const noexcept {
        const T *copy = forReaders.load(std::memory_order_seq_cst);
        while (true) {
            hazards[slot].store(copy, std::memory_order_seq_cst);
            const T *again = forReaders.load(std::memory_order_seq_cst);
            if (again == copy) return copy;
            copy = again;
        }
    }

    void releaseSlot(std::size_t slot) const noexcept {
        hazards[slot].store(nullptr, std::memory_order_seq_cst);
        taken[slot].store(false, std::memory_order_release);
    }

    std::shared_ptr<const T> published;
    std::vector<std::shared_ptr<const T>> retired;
    std::atomic<const T *> forReaders{nullptr};
    mutable std::array<std::atomic<const T *>, readerSlots> hazards{};
    mutable std::array<std::atomic<bool>, readerSlots> taken{};
};

} // namespace orvane
