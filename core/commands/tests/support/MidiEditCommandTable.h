#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// One row for each MIDI editing command: notes, drum steps, whole-clip transforms,
/// generators, grooves, pitch quantising and the MIDI settings of tracks.
std::vector<CommandTableRow> midiEditCommandRows();

/// Gives a random project what the MIDI edits read besides notes: tempo and meter markers,
/// a groove pool with an active entry, a keyboard map, expression maps, and a MIDI clip
/// dense with notes across the whole pitch range.
void addMidiMaterial(Project &project, Random &random);

} // namespace orvane::testing
