#pragma once

#include "core/model/Project.h"

#include <cstdint>

namespace orvane {

/// Gives the project its two return tracks ("Reverb A", "Delay B") when it has fewer, and
/// points every ordinary track's empty send slots A and B at the first two returns. The
/// caller holds the project lock and publishes the graph afterwards.
void HVEnsureReturnTracks(Project &project);

/// The project the application starts with: "MIDI 1" playing a four-bar clip of three
/// notes, an empty "Аудио 1", a one-bar "Loop A" in the session grid, and the two returns.
Project buildStartupProject(double sampleRate);

/// Frames a mixdown export covers: the end of the song (four bars at the least, the last
/// arrangement clip's end, the project's length) plus one beat, so that tails ring out.
/// Damaged positions saturate instead of overflowing.
int64_t arrangementExportLength(const Project &project);

} // namespace orvane
