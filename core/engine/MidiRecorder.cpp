#include "core/engine/MidiRecorder.h"

#include "core/engine/LiveMidi.h"

#include <algorithm>

namespace orvane {

void MidiRecorder::beginRt(int64_t startPosition) {
    count = 0;
    start = startPosition;
    cycleOffset = 0;
    noteOnPending.fill(false);
    active.store(true);
}

void MidiRecorder::noteOnRt(int32_t note, int64_t position) {
    if (note < 0 || note >= 128) return;
    noteOnPending[static_cast<std::size_t>(note)] = true;
    noteOnPosition[static_cast<std::size_t>(note)] = position + cycleOffset;
}

void MidiRecorder::noteOffRt(int32_t note, float velocity, int64_t position) {
    if (note < 0 || note > 127) return;
    const auto index = static_cast<std::size_t>(note);
    if (!noteOnPending[index]) return;
    noteOnPending[index] = false;
    position += cycleOffset;
    if (position <= noteOnPosition[index] || count >= maxRecordedNotes) return;
    MidiNote &recorded = notes[static_cast<std::size_t>(count++)];
    recorded.pitch = note;
    recorded.velocity = std::clamp(velocity, 0.05f, 1.0f);
    recorded.start = noteOnPosition[index] - start;
    recorded.length = position - noteOnPosition[index];
    recorded.expression = 1.0f;
    recorded.bendCents = 0.0f;
}

void MidiRecorder::endRt(int64_t end, uint64_t take, const LiveMidiState &live) {
    active.store(false);
    for (int32_t note = 0; note < 128; ++note)
        noteOffRt(note, live.heldVelocity[static_cast<std::size_t>(note)], end);
    std::copy_n(notes.begin(), count, handOverNotes.begin());
    handOverCount = count;
    handOverFrames = std::max<int64_t>(end + cycleOffset - start, 0);
    count = 0;
    takesHandedOver.store(take, std::memory_order_release);
}

} // namespace orvane
