#pragma once

#include "core/commands/tests/support/CommandHistoryHarness.h"

#include <vector>

namespace orvane::testing {

/// One row for each mixer, channel EQ, mastering, insert list, snapshot, tag and tuning
/// command.
std::vector<CommandTableRow> mixerCommandRows();

/// The plug-in parameter command, apart from the mixer rows because it changes nothing
/// without `PluginParameterStandIn`.
std::vector<CommandTableRow> pluginParameterCommandRows();

/// Learning and removing MIDI controller mappings.
std::vector<CommandTableRow> midiMappingCommandRows();

/// What the random project lacks and these commands read: VST 3 inserts with parameter
/// automation, snapshots and a full history as a file gives them back, and tags.
Project withPluginAndMixerState(Project project, Random &random);

/// While it lives, plug-in parameter commands reach a stand-in for the rack (which this
/// library sits below): every insert of a non-built-in plug-in answers, and its state is the
/// parameter id and the value last set, so that the same edit always leaves the same state.
class PluginParameterStandIn {
  public:
    PluginParameterStandIn();
    ~PluginParameterStandIn();
    PluginParameterStandIn(const PluginParameterStandIn &) = delete;
    PluginParameterStandIn &operator=(const PluginParameterStandIn &) = delete;
};

} // namespace orvane::testing
