#pragma once

#include "core/model/Project.h"

#include <cstdint>
#include <vector>

namespace orvane {

/// `pulses` onsets spread as evenly as possible over `steps` (every step when pulses ≥
/// steps); empty for steps < 1 or pulses < 1.
std::vector<bool> euclideanRhythm(int32_t steps, int32_t pulses);

/// Replaces the notes of `pitch` that sit on the step grid with a Euclidean pattern of half-
/// step notes. Notes of other pitches, off the grid or outside the steps keep their order.
void applyEuclideanStepSeq(std::vector<MidiNote> &notes, int32_t pitch, int32_t steps,
                           int32_t pulses, int64_t stepLength, float velocity);

/// One marker per beat from `start` while below start + length, every `beatsPerBar`-th a
/// downbeat. Beats advance by whole samples; the fraction is dropped at every step.
std::vector<BeatMarker> buildBeatMarkers(int64_t start, int64_t length, double sampleRate,
                                         double tempo, int32_t beatsPerBar);

} // namespace orvane
