#pragma once

#include "core/model/Project.h"

#include <cstdint>
#include <span>
#include <string>

namespace orvane {

/// Sharp-only name of a pitch class ("C", "C#", … "B"); any pitch is reduced first.
const char *pitchClassName(int64_t pitch);

/// Chord name of the pitch classes present ("Am7", "C"), "C?" style when no chord
/// template matches, "?" for no pitches.
std::string detectChordFromPitches(std::span<const int32_t> pitches);

/// Chord sounding in a MIDI clip at `position` (samples relative to the clip); "?" for
/// audio clips and silence.
std::string detectChordFromMidiClip(const Clip &clip, int64_t position);

} // namespace orvane
