#include "core/commands/tests/support/CommandTables.h"

#include "core/commands/tests/support/SessionCommandTable.h"
#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"

namespace orvane::testing {

std::vector<CommandTableRow> allCommandRows() {
    std::vector<CommandTableRow> rows;
    for (auto family : {trackClipAndTakeCommandRows(), sessionCommandRows()})
        rows.insert(rows.end(), family.begin(), family.end());
    return rows;
}

} // namespace orvane::testing
