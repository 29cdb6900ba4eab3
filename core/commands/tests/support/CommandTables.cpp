#include "core/commands/tests/support/CommandTables.h"

#include "core/commands/tests/support/MarkerAndAutomationCommandTable.h"
#include "core/commands/tests/support/MixerCommandTable.h"
#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"

namespace orvane::testing {

std::vector<CommandTableRow> allCommandRows() {
    std::vector<CommandTableRow> rows;
    for (auto family :
         {trackClipAndTakeCommandRows, markerAndAutomationCommandRows, mixerCommandRows})
        for (auto &row : family())
            rows.push_back(std::move(row));
    return rows;
}

} // namespace orvane::testing
