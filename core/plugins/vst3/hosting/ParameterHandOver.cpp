#include "core/plugins/vst3/hosting/ParameterHandOver.h"

#include <algorithm>

namespace orvane::vst {

ParameterHandOver::ParameterHandOver(size_t capacity) {
    tables.publish(std::make_shared<const Table>(std::max<size_t>(capacity, 1)));
    slotOfId.max_load_factor(1.0f);
}

bool ParameterHandOver::set(uint32_t id, float value) {
    Table &table = current();
    if (auto found = slotOfId.find(id); found != slotOfId.end()) {
        table.slots[found->second].value.store(value, std::memory_order_relaxed);
        return true;
    }
    const size_t index = table.count.load(std::memory_order_relaxed);
    if (index >= table.capacity) return false;
    table.slots[index].id = id;
    table.slots[index].value.store(value, std::memory_order_relaxed);
    slotOfId.emplace(id, index);
    table.count.store(index + 1, std::memory_order_release);
    return true;
}

void ParameterHandOver::grow(size_t capacity) {
    const Table &old = *tables.current();
    if (capacity <= old.capacity) return;
    auto larger = std::make_shared<Table>(capacity);
    const size_t held = old.count.load(std::memory_order_relaxed);
    for (size_t index = 0; index < held; ++index) {
        larger->slots[index].id = old.slots[index].id;
        larger->slots[index].value.store(old.slots[index].value.load(std::memory_order_relaxed),
                                         std::memory_order_relaxed);
    }
    larger->count.store(held, std::memory_order_relaxed);
    // A value the audio thread stores into the old table from now on is lost; the next
    // automation value goes to the new one, one block later.
    tables.publish(std::move(larger));
}

} // namespace orvane::vst
