#pragma once

#include "core/model/Project.h"

#include <cstdint>
#include <random>

namespace orvane::testing {

/// The engine of every random choice, seeded per case so a failure can be replayed.
using Random = std::mt19937_64;

/// Uniform in lo..hi, both included.
int64_t between(Random &random, int64_t lo, int64_t hi);
bool chance(Random &random, int percent);

/// A small project with audio, MIDI and return tracks; audio clips with mono, stereo, shared
/// and missing sample buffers; MIDI clips with notes; groups of takes; session clips filling
/// scene slots; automation and id counters ahead of the ids in use.
Project randomProject(Random &random);

} // namespace orvane::testing
