#pragma once

#include "core/plugins/Plugin.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orvane::vst {

/// A block's MIDI events as note-ons and note-offs, each with the frame it falls on, for the
/// plug-ins whose interface takes notes rather than MIDI. An all-notes-off controller has no
/// note of its own and is left out: whoever sends one also stops the held notes one by one.
struct FramedNotes {
    /// Enough for any block a device asks for; more events in one block are dropped.
    static constexpr std::size_t capacity = 256;

    std::array<NoteOn, capacity> ons;
    std::array<int32_t, capacity> onFrames;
    std::array<int, capacity> offs;
    std::array<int32_t, capacity> offFrames;
    std::size_t onCount = 0;
    std::size_t offCount = 0;

    std::span<const NoteOn> noteOns() const { return std::span(ons.data(), onCount); }
    std::span<const int> noteOffs() const { return std::span(offs.data(), offCount); }
    std::span<const int32_t> noteOffFrames() const { return std::span(offFrames.data(), offCount); }
    bool empty() const { return onCount + offCount == 0; }

    void add(const PluginMidiEvent &event) noexcept {
        const uint8_t kind = event.bytes[0] & 0xF0;
        if (kind == 0x90 && event.bytes[2] > 0) {
            if (onCount == ons.size()) return;
            onFrames[onCount] = event.frame;
            ons[onCount++] =
                NoteOn{event.bytes[1], static_cast<float>(event.bytes[2]) / 127.0f, event.frame};
        } else if (kind == 0x80 || kind == 0x90) {
            if (offCount == offs.size()) return;
            offFrames[offCount] = event.frame;
            offs[offCount++] = event.bytes[1];
        }
    }

    static FramedNotes from(std::span<const PluginMidiEvent> events) noexcept {
        FramedNotes notes;
        for (const PluginMidiEvent &event : events)
            notes.add(event);
        return notes;
    }
};

} // namespace orvane::vst
