#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// One row for each audio processing command.
std::vector<CommandTableRow> audioProcessingCommandRows();

/// A random project with an audio track of clips that hold real audio: clicks and tones long
/// enough for the detectors, halves of a split sharing one buffer, a clip longer than its
/// audio and one whose source offset lies past its audio.
Project randomProjectWithAudio(Random &random);

} // namespace orvane::testing
