#pragma once

#include "core/rt/RtPublished.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace orvane::vst {

/// Hands normalised parameter values from the main thread to the audio thread without locks:
/// a fixed table of (id, value) slots that only grows at its end. The main thread writes a new
/// slot and then publishes the larger count; value updates are single atomic stores. The audio
/// thread reads the published slots, so every block sees the latest value of every parameter
/// ever set.
///
/// Growing the table publishes a larger copy; the audio thread keeps reading the copy it
/// started with, and the main thread frees that one only once no reader holds it. So the
/// audio thread may call `setExisting` and `forEach` at any time, without any lock.
class ParameterHandOver {
  public:
    explicit ParameterHandOver(size_t capacity);

    /// Main thread. Stores the value; false when the id is new and the table is full.
    [[nodiscard]] bool set(uint32_t id, float value);
    /// Audio thread: stores a value for an id the main thread has already set; false for any
    /// other id. No lock, no allocation: a scan of the published slots.
    bool setExisting(uint32_t id, float value) const {
        const auto table = tables.read();
        const size_t published = table->count.load(std::memory_order_acquire);
        for (size_t index = 0; index < published; ++index) {
            if (table->slots[index].id != id) continue;
            table->slots[index].value.store(value, std::memory_order_relaxed);
            return true;
        }
        return false;
    }
    /// Main thread: room for at least `capacity` parameters.
    void grow(size_t capacity);
    size_t capacity() const { return tables.current()->capacity; }
    /// Main thread: number of parameters held.
    size_t size() const { return tables.current()->count.load(std::memory_order_relaxed); }
    /// Main thread: frees tables replaced by growth once no reader holds them.
    void collect() { tables.collect(); }

    /// Audio thread: calls `visit(id, value)` for every parameter ever set, in the order they
    /// were first set.
    template <class Visitor> void forEach(Visitor &&visit) const {
        const auto table = tables.read();
        const size_t published = table->count.load(std::memory_order_acquire);
        for (size_t index = 0; index < published; ++index)
            visit(table->slots[index].id,
                  table->slots[index].value.load(std::memory_order_relaxed));
    }

  private:
    struct Slot {
        uint32_t id = 0;
        mutable std::atomic<float> value{0.0f};
    };
    /// Immutable once published except for the values and the count, which only grow.
    struct Table {
        explicit Table(size_t size) : slots(std::make_unique<Slot[]>(size)), capacity(size) {}
        std::unique_ptr<Slot[]> slots;
        size_t capacity;
        mutable std::atomic<size_t> count{0};
    };

    Table &current() { return const_cast<Table &>(*tables.current()); }

    RtPublished<Table> tables;
    std::unordered_map<uint32_t, size_t> slotOfId; // main thread only
};

} // namespace orvane::vst
