#pragma once

#include "core/model/BuiltInPresets.h"

#include <array>
#include <cstdint>
#include <span>

namespace orvane {

// The frequency functions run on the audio thread for every sounding note and frame: they
// allocate nothing, take no lock and accept any input. A pitch that is not finite gives 0 Hz.

/// Frequency of an integer MIDI pitch under the cent table.
double midiNoteFrequency(int64_t pitch, const CentTable &cents);

/// Frequency of a fractional pitch: the integer part is tuned, the fraction bends evenly.
double midiNoteFrequencyBent(double pitch, const CentTable &cents);

/// Frequency of a fractional pitch through the keyboard map: the nearest scale degree of the
/// pitch picks a map entry, whose pitch is moved into the played octave. An empty map gives
/// `midiNoteFrequencyBent`.
double midiNoteFrequencyTuned(double pitch, int32_t root, bool minor,
                              std::span<const int32_t> kbmDegrees, const CentTable &cents);

/// MIDI pitch (0 to 127) of keyboard-map entry `degree` (wrapping around the map); 60 when
/// the map is empty. Map entries below 0 reach into lower octaves.
int32_t midiPitchFromKbmDegree(int32_t degree, std::span<const int32_t> kbmDegrees, int32_t root,
                               bool minor);

} // namespace orvane
