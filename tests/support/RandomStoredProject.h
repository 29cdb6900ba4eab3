#pragma once

#include "core/model/Project.h"
#include "tests/support/RandomDraws.h"

#include <cstdint>

namespace orvane::testing {

/// Built from the model's table of stored fields.
/// A project in which every stored field holds a random value that the document can carry
/// exactly (64-bit integers within 2^53, doubles of at most 15 significant digits, strings
/// of arbitrary bytes), and every field that is not stored holds a value other than its
/// load default.
Project makeRandomProject(uint32_t seed);

/// A small project the commands can work on: audio, MIDI and return tracks; audio clips with
/// mono, stereo, shared and missing sample buffers; MIDI clips with notes; groups of takes;
/// session clips filling scene slots; automation; id counters ahead of the ids in use. Its
/// structure (ids and counters, track types and clip kinds, positions and lengths, session
/// slots and the grid's size, media names) is drawn so that it agrees with itself; every
/// other stored setting whose row bounds it (levels, flags, enumerations, names) holds a
/// random value from the table's row.
Project makeConsistentRandomProject(Random &random);

/// Google Test expectations: every stored field of `actual` equals that of `expected`.
void expectSameStoredFields(const Project &expected, const Project &actual);

/// Google Test expectations: every field that is not stored is at its load default.
void expectNotStoredFieldsAtLoadDefaults(const Project &project);

} // namespace orvane::testing
