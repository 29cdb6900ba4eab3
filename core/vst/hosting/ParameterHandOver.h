#pragma once

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
/// Growing the table replaces its storage, which the audio thread must not be reading: the
/// caller does it only while holding the lock the audio thread tries before processing.
class ParameterHandOver {
  public:
    explicit ParameterHandOver(size_t capacity);

    /// Main thread. Stores the value; false when the id is new and the table is full.
    bool set(uint32_t id, float value);
    /// Audio thread: stores a value for an id the main thread has already set; false for any
    /// other id. No lock, no allocation: a scan of the published slots.
    bool setExisting(uint32_t id, float value) {
        const size_t published = count.load(std::memory_order_acquire);
        for (size_t index = 0; index < published; ++index) {
            if (slots[index].id != id) continue;
            slots[index].value.store(value, std::memory_order_relaxed);
            return true;
        }
        return false;
    }
    /// Main thread, with the audio thread kept out: room for at least `capacity` parameters.
    void grow(size_t capacity);
    size_t capacity() const { return slotCapacity; }
    /// Main thread: number of parameters held.
    size_t size() const { return count.load(std::memory_order_relaxed); }

    /// Audio thread: calls `visit(id, value)` for every parameter ever set, in the order they
    /// were first set.
    template <class Visitor> void forEach(Visitor &&visit) const {
        size_t published = count.load(std::memory_order_acquire);
        for (size_t index = 0; index < published; ++index)
            visit(slots[index].id, slots[index].value.load(std::memory_order_relaxed));
    }

  private:
    struct Slot {
        uint32_t id = 0;
        std::atomic<float> value{0.0f};
    };

    std::unique_ptr<Slot[]> slots;
    size_t slotCapacity;
    std::atomic<size_t> count{0};
    std::unordered_map<uint32_t, size_t> slotOfId; // main thread only
};

} // namespace orvane::vst
