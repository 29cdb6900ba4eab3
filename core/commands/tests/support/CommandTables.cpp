#include "core/commands/tests/support/CommandTables.h"

#include "core/commands/tests/support/AudioProcessingCommandTable.h"
#include "core/commands/tests/support/MarkerAndAutomationCommandTable.h"
#include "core/commands/tests/support/MidiEditCommandTable.h"
#include "core/commands/tests/support/MixerCommandTable.h"
#include "core/commands/tests/support/SessionCommandTable.h"
#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"

namespace orvane::testing {

std::vector<CommandTableRow> allCommandRows() {
    std::vector<CommandTableRow> rows;
    for (auto family : {trackClipAndTakeCommandRows, midiEditCommandRows,
                        audioProcessingCommandRows, markerAndAutomationCommandRows,
                        mixerCommandRows, sessionCommandRows, pluginParameterCommandRows,
                        midiMappingCommandRows})
        for (auto &row : family())
            rows.push_back(std::move(row));
    return rows;
}

Project randomProjectForAllCommands(Random &random) {
    Project project = withPluginAndMixerState(randomProjectWithAudio(random), random);
    addMidiMaterial(project, random);
    // Rows that edit what other rows create (named, chord and beat markers, snapshots) need
    // some of it at the start, or a single command of theirs would never find its target.
    auto creators = markerAndAutomationCommandRows();
    for (auto &row : mixerCommandRows())
        creators.push_back(std::move(row));
    for (int i = 0; i < 24; ++i) {
        const auto &row = creators[static_cast<std::size_t>(
            between(random, 0, static_cast<int64_t>(creators.size()) - 1))];
        row.generate(project, random).make()->redo(project);
    }
    return project;
}

} // namespace orvane::testing
