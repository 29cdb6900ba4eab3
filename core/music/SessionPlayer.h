#pragma once

#include "core/model/Project.h"

#include <cstdint>
#include <vector>

namespace orvane {

int32_t sessionPlayerKindCount();
/// "Drums 4/4", "Drums Break", "Bass Root", "Chords Pad"; "Player" for any other value.
const char *sessionPlayerKindName(SessionPlayerKind kind);
/// The kind after `kind`, wrapping after the last one.
SessionPlayerKind nextSessionPlayerKind(SessionPlayerKind kind);

/// Appends one note with the default expression and bend.
void addDrumHit(std::vector<MidiNote> &notes, int32_t pitch, int64_t start, int64_t length,
                float velocity);

/// `barCount` bars of the player's pattern, bar b starting at b × barLength. Empty for
/// barLength < 1, barCount < 1 or an unknown kind; bars whose end would not fit in a
/// sample position are left out.
std::vector<MidiNote> generateSessionPlayerNotes(SessionPlayerKind kind, int64_t barLength,
                                                 int32_t barCount, int32_t root, bool minor,
                                                 uint32_t seed);

/// A random walk over the scale: one chance per `step` of a note of length 3/4 step, pitches
/// from root + 36 to root + 83 (clamped to 0 to 127), velocities 0.55 to 0.9. `density` (0.05
/// to 1) is the chance of a note. Empty for length < 1, step < 1 or step > length.
std::vector<MidiNote> generateMidiClipNotes(int64_t length, int64_t step, int32_t root, bool minor,
                                            uint32_t seed, float density);

} // namespace orvane
