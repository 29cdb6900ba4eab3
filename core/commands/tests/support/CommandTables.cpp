#include "core/commands/tests/support/CommandTables.h"

#include "core/commands/tests/support/MidiEditCommandTable.h"
#include "core/commands/tests/support/RandomProject.h"
#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"

namespace orvane::testing {

namespace {

void append(std::vector<CommandTableRow> &rows, std::vector<CommandTableRow> family) {
    rows.insert(rows.end(), family.begin(), family.end());
}

} // namespace

std::vector<CommandTableRow> allCommandRows() {
    std::vector<CommandTableRow> rows;
    append(rows, trackClipAndTakeCommandRows());
    append(rows, midiEditCommandRows());
    return rows;
}

Project randomProjectForAllCommands(Random &random) {
    Project project = randomProject(random);
    addMidiMaterial(project, random);
    return project;
}

} // namespace orvane::testing
