#include "core/commands/tests/support/CommandTables.h"

#include "core/commands/tests/support/AudioProcessingCommandTable.h"
#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"

namespace orvane::testing {

std::vector<CommandTableRow> allCommandRows() {
    std::vector<CommandTableRow> rows;
    for (auto family : {trackClipAndTakeCommandRows, audioProcessingCommandRows}) {
        auto familyRows = family();
        rows.insert(rows.end(), familyRows.begin(), familyRows.end());
    }
    return rows;
}

} // namespace orvane::testing
