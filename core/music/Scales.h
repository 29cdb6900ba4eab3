#pragma once

#include "core/model/Project.h"

#include <array>
#include <cstdint>
#include <span>

namespace orvane {

/// Pitch modulo 12 in 0 to 11, also for negative pitches (−1 is B).
int32_t pitchClassOf(int64_t pitch);

/// Semitone offsets of the seven scale steps above the root.
const std::array<int32_t, 7> &scaleStepOffsets(bool minor);

/// True when `pitch` belongs to the major or natural minor scale on `root`.
bool isPitchInScale(int64_t pitch, int32_t root, bool minor);

/// `pitch` when it is in the scale, else the nearest member (the lower one on a tie).
int32_t snapPitchToScale(int32_t pitch, int32_t root, bool minor);

/// Snaps every note's pitch to the nearest member within the MIDI range 0 to 127 (the lower
/// one on a tie); other fields stay as they are.
void snapMidiNotesToScale(std::span<MidiNote> notes, int32_t root, bool minor);

/// Index 0 to 6 of the scale degree circularly nearest `pitchClass`; ties go to the lower.
int32_t scaleDegreeIndex(int32_t pitchClass, int32_t root, bool minor);

/// Fractional MIDI pitch of a frequency; 0 for frequencies that are not positive.
float hzToMidiPitch(float hz);

/// Semitones that move `hz` onto the nearest pitch of the scale; 0 for unusable input.
float pitchCorrectSemitones(float hz, int32_t root, bool minor);

} // namespace orvane
