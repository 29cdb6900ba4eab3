#pragma once

#include "core/model/MusicalTime.h"
#include "core/model/Project.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

// Small steps shared by the MIDI editing commands.
namespace orvane {

/// Every note edit hands the clip a whole new list: the engine renders from copies it took
/// when the graph was published, and nothing it holds may change under it.
inline void replaceNotes(Clip &clip, std::vector<MidiNote> notes) { clip.notes = std::move(notes); }

/// Lengthens the clip so that it holds the whole note.
inline void extendClipToNote(Clip &clip, const MidiNote &note) {
    clip.length = std::max(clip.length, saturatingAdd(note.start, note.length));
}

inline bool isNoteIndex(const Clip &clip, int64_t index) {
    return index >= 0 && static_cast<uint64_t>(index) < clip.notes.size();
}

/// Clamps into low..1; a value that is not a number gives `low`.
inline float clampUnit(float value, float low = 0.0f) {
    if (!(value >= low)) return low;
    return std::min(value, 1.0f);
}

/// A position blended from `from` towards `to` by `amount`, truncated toward zero.
inline int64_t blendPosition(int64_t from, int64_t to, float amount) {
    const double weight = static_cast<double>(amount);
    return saturatingToInt64(static_cast<double>(from) * (1.0 - weight) +
                             static_cast<double>(to) * weight);
}

} // namespace orvane
