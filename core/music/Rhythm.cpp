#include "core/music/Rhythm.h"

#include "core/model/MusicalTime.h"
#include "core/music/NoteArithmetic.h"
#include "core/music/SessionPlayer.h"

#include <algorithm>

namespace orvane {

namespace {

using note_arithmetic::floorDiv;
using note_arithmetic::saturatingAdd;
using note_arithmetic::saturatingMultiply;

/// True for a note that an earlier fill (or the user) put on one of the grid points. The
/// tolerance is a strict bound, which is why it never drops below one sample: a note exactly
/// on the grid must always count. Floor division leaves notes before the clip alone.
bool sitsOnStepGrid(const MidiNote &note, int32_t pitch, int32_t steps, int64_t stepLength) {
    if (note.pitch != pitch || note.start >= saturatingMultiply(steps, stepLength)) return false;
    const int64_t step = floorDiv(note.start, stepLength);
    if (step < 0 || step >= steps) return false;
    const int64_t tolerance = std::max<int64_t>(stepLength / 4, 1);
    return note.start - step * stepLength < tolerance;
}

} // namespace

std::vector<bool> euclideanRhythm(int32_t steps, int32_t pulses) {
    std::vector<bool> pattern;
    if (steps < 1 || pulses < 1) return pattern;
    pattern.resize(static_cast<std::size_t>(steps), false);
    const int64_t increment = std::min(steps, pulses);
    int64_t counter = 0;
    for (std::size_t index = 0; index < pattern.size(); ++index) {
        counter += increment;
        if (counter >= steps) {
            pattern[index] = true;
            counter -= steps;
        }
    }
    return pattern;
}

void applyEuclideanStepSeq(std::vector<MidiNote> &notes, int32_t pitch, int32_t steps,
                           int32_t pulses, int64_t stepLength, float velocity) {
    if (steps < 1 || stepLength < 1) return;
    std::erase_if(notes, [&](const MidiNote &note) {
        return sitsOnStepGrid(note, pitch, steps, stepLength);
    });
    const std::vector<bool> pattern = euclideanRhythm(steps, pulses);
    const int64_t length = std::max<int64_t>(stepLength / 2, 1);
    for (std::size_t index = 0; index < pattern.size(); ++index) {
        if (!pattern[index]) continue;
        const int64_t start = saturatingMultiply(static_cast<int64_t>(index), stepLength);
        addDrumHit(notes, pitch, start, length, velocity);
    }
}

std::vector<BeatMarker> buildBeatMarkers(int64_t start, int64_t length, double sampleRate,
                                         double tempo, int32_t beatsPerBar) {
    std::vector<BeatMarker> markers;
    if (length < 1 || !(sampleRate > 0.0) || !(tempo > 0.0)) return markers;
    const double beatLength = sampleRate * 60.0 / tempo;
    if (!(beatLength >= 1.0)) return markers;
    const int64_t beat = saturatingToInt64(beatLength);
    const int64_t end = saturatingAdd(start, length);
    const int64_t bar = std::max(beatsPerBar, 1);
    int64_t index = 0;
    for (int64_t position = start; position < end; ++index) {
        markers.push_back(BeatMarker{position, index % bar == 0});
        position = saturatingAdd(position, beat);
    }
    return markers;
}

} // namespace orvane
