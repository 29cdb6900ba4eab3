#include "core/commands/tests/support/CommandTables.h"

#include "core/commands/tests/support/AudioProcessingCommandTable.h"
#include "core/commands/tests/support/MidiEditCommandTable.h"
#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"

namespace orvane::testing {

std::vector<CommandTableRow> allCommandRows() {
    std::vector<CommandTableRow> rows;
    for (auto family : {trackClipAndTakeCommandRows, midiEditCommandRows,
                        audioProcessingCommandRows}) {
        auto familyRows = family();
        rows.insert(rows.end(), familyRows.begin(), familyRows.end());
    }
    return rows;
}

Project randomProjectForAllCommands(Random &random) {
    Project project = randomProjectWithAudio(random);
    addMidiMaterial(project, random);
    return project;
}

} // namespace orvane::testing
