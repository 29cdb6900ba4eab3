#include "core/engine/ControllerMap.h"

#include "core/model/AutomationLanes.h"
#include "core/model/StockEffectSettings.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace orvane {

namespace {

/// The fader's top, +6 dB, as the mixer's travel ends.
constexpr float faderTopGain = 1.99526231f;

uint64_t packedValue(float value, uint32_t generation) {
    return static_cast<uint64_t>(std::bit_cast<uint32_t>(value)) << 32 | generation;
}

/// How far a message moves its controller, 0..1; none for a message no mapping listens to
/// (a note-off, a program change).
std::optional<float> travelOf(const MidiEvent &event, MidiSourceKind &kind) {
    switch (event.status & 0xF0) {
    case 0xB0: kind = MidiSourceKind::ControlChange; return (event.data2 & 127) / 127.0f;
    case 0xE0:
        kind = MidiSourceKind::PitchBend;
        return static_cast<float>((event.data2 & 127) << 7 | (event.data1 & 127)) / 16383.0f;
    case 0x90:
        // A key sets its target by how hard it is struck; a release (or a note-on of velocity
        // 0) leaves the target where it is.
        if ((event.data2 & 127) == 0) return std::nullopt;
        kind = MidiSourceKind::Note;
        return (event.data2 & 127) / 127.0f;
    default: return std::nullopt;
    }
}

InsertSlot *insertOf(Project &project, const MidiMapping &mapping) {
    const auto track = project.findTrack(mapping.trackId);
    if (!track || mapping.lane < firstInsertLane) return nullptr;
    const auto index = static_cast<std::size_t>(mapping.lane - firstInsertLane);
    return index < track->inserts.size() ? &track->inserts[index] : nullptr;
}

} // namespace

ControllerMap::ControllerMap() { tables.publish(std::make_shared<ControllerTable>()); }

void ControllerMap::publish(const std::vector<MidiMapping> &mappings) {
    if (mappings == published && tables.current()) return;
    auto table = std::make_shared<ControllerTable>();
    table->generation = ++generation;
    const std::size_t count = std::min(mappings.size(), mostMidiMappings);
    table->entries.reserve(count);
    for (std::size_t slot = 0; slot < count; ++slot) {
        const MidiMapping &mapping = mappings[slot];
        if (!midiMappingProblem(mapping).empty()) continue;
        table->entries.push_back({controllerKey(mapping.kind, mapping.channel, mapping.number),
                                  static_cast<uint32_t>(slot), mapping.minimum, mapping.maximum});
    }
    std::stable_sort(table->entries.begin(), table->entries.end(),
                     [](const auto &one, const auto &other) { return one.key < other.key; });
    published = mappings;
    tables.publish(std::move(table));
}

void ControllerMap::beginLearning() {
    learned.store(0, std::memory_order_relaxed);
    learnState.store(armed, std::memory_order_release);
}

void ControllerMap::cancelLearning() {
    learnState.store(idle, std::memory_order_release);
    learned.store(0, std::memory_order_relaxed);
}

bool ControllerMap::learning() const { return learnState.load(std::memory_order_acquire) == armed; }

std::optional<LearnedController> ControllerMap::takeLearned() {
    const uint32_t word = learned.exchange(0, std::memory_order_acq_rel);
    if ((word & learnedFlag) == 0) return std::nullopt;
    return LearnedController{static_cast<int32_t>(word >> 7 & 15),
                             static_cast<MidiSourceKind>(word >> 11 & 3),
                             static_cast<int32_t>(word & 127)};
}

std::vector<MovedControl> ControllerMap::takeMoved() {
    tables.collect();
    std::vector<MovedControl> result;
    const std::size_t count = std::min(published.size(), mostMidiMappings);
    for (std::size_t slot = 0; slot < count; ++slot) {
        // The flag is cleared before the value is read: a move after the read raises it again.
        if (!moved[slot].exchange(false, std::memory_order_acq_rel)) continue;
        const uint64_t word = values[slot].load(std::memory_order_acquire);
        if (static_cast<uint32_t>(word) != generation) continue;
        result.push_back(
            {published[slot], std::bit_cast<float>(static_cast<uint32_t>(word >> 32))});
    }
    return result;
}

bool ControllerMap::takeEventRt(const MidiEvent &event) {
    MidiSourceKind kind = MidiSourceKind::ControlChange;
    const std::optional<float> travel = travelOf(event, kind);
    if (!travel) return false;
    const int32_t number = kind == MidiSourceKind::PitchBend ? 0 : event.data1 & 127;
    const uint32_t key = controllerKey(kind, event.status & 15, number);
    uint32_t expected = armed;
    if (learnState.load(std::memory_order_acquire) == armed &&
        learnState.compare_exchange_strong(expected, idle, std::memory_order_acq_rel)) {
        learned.store(learnedFlag | key, std::memory_order_release);
        return true;
    }
    const auto table = tables.read();
    if (!table) return false;
    const auto &entries = table->entries;
    auto entry =
        std::lower_bound(entries.begin(), entries.end(), key,
                         [](const auto &one, uint32_t wanted) { return one.key < wanted; });
    bool matched = false;
    for (; entry != entries.end() && entry->key == key; ++entry) {
        const float value = entry->minimum + (entry->maximum - entry->minimum) * *travel;
        values[entry->slot].store(packedValue(value, table->generation), std::memory_order_release);
        moved[entry->slot].store(true, std::memory_order_release);
        matched = true;
    }
    return matched;
}

bool applyControlToProject(Project &project, const MidiMapping &mapping, float value) {
    const auto track = project.findTrack(mapping.trackId);
    if (!track || !std::isfinite(value)) return false;
    if (mapping.lane == volumeMappingLane) {
        track->gain = std::clamp(value, 0.0f, 16.0f);
        return true;
    }
    if (mapping.lane == panMappingLane) {
        track->pan = std::clamp(value, -1.0f, 1.0f);
        return true;
    }
    if (mapping.lane < 0) {
        const int32_t slot = sendSlotOfLane(mapping.lane);
        if (slot < 0 || slot >= static_cast<int32_t>(track->sends.size())) return false;
        track->sends[static_cast<std::size_t>(slot)].level = std::clamp(value, 0.0f, 16.0f);
        return true;
    }
    InsertSlot *insert = insertOf(project, mapping);
    if (!insert || !insert->isStock) return false;
    const auto parameters = stockParametersOf(insert->pluginId);
    if (mapping.paramId >= parameters.size()) return false;
    std::vector<float> values = stockValuesOrDefaultsOf(*insert);
    const StockParameter &parameter = parameters[mapping.paramId];
    values[mapping.paramId] = std::clamp(value, std::min(parameter.minimum, parameter.maximum),
                                         std::max(parameter.minimum, parameter.maximum));
    insert->state = encodeStockSettings(insert->pluginId, values);
    return true;
}

void setLearnedRange(const Project &project, MidiMapping &mapping) {
    mapping.minimum = 0.0f;
    mapping.maximum = 1.0f;
    if (mapping.lane == volumeMappingLane) {
        mapping.maximum = faderTopGain;
    } else if (mapping.lane == panMappingLane) {
        mapping.minimum = -1.0f;
    } else if (mapping.lane >= firstInsertLane) {
        const auto track = project.findTrack(mapping.trackId);
        const auto index = static_cast<std::size_t>(mapping.lane - firstInsertLane);
        if (!track || index >= track->inserts.size() || !track->inserts[index].isStock) return;
        const auto parameters = stockParametersOf(track->inserts[index].pluginId);
        if (mapping.paramId >= parameters.size()) return;
        mapping.minimum = parameters[mapping.paramId].minimum;
        mapping.maximum = parameters[mapping.paramId].maximum;
    }
}

} // namespace orvane
