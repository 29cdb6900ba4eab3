#include "core/vst/hosting/ParameterHandOver.h"

#include <algorithm>

namespace orvane::vst {

ParameterHandOver::ParameterHandOver(size_t capacity)
    : slots(std::make_unique<Slot[]>(std::max<size_t>(capacity, 1))),
      slotCapacity(std::max<size_t>(capacity, 1)) {
    slotOfId.max_load_factor(1.0f);
}

bool ParameterHandOver::set(uint32_t id, float value) {
    if (auto found = slotOfId.find(id); found != slotOfId.end()) {
        slots[found->second].value.store(value, std::memory_order_relaxed);
        return true;
    }
    size_t index = count.load(std::memory_order_relaxed);
    if (index >= slotCapacity) return false;
    slots[index].id = id;
    slots[index].value.store(value, std::memory_order_relaxed);
    slotOfId.emplace(id, index);
    count.store(index + 1, std::memory_order_release);
    return true;
}

void ParameterHandOver::grow(size_t capacity) {
    if (capacity <= slotCapacity) return;
    auto larger = std::make_unique<Slot[]>(capacity);
    size_t held = count.load(std::memory_order_relaxed);
    for (size_t index = 0; index < held; ++index) {
        larger[index].id = slots[index].id;
        larger[index].value.store(slots[index].value.load(std::memory_order_relaxed),
                                  std::memory_order_relaxed);
    }
    slots = std::move(larger);
    slotCapacity = capacity;
}

} // namespace orvane::vst
