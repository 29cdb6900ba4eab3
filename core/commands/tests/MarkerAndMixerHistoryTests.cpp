// The generic history check over the marker, automation, mixer, snapshot, tag and tuning
// commands: random histories of up to 256 commands are executed, undone, redone and undone
// again, and compared field by field and as saved documents.
#include "core/commands/tests/support/CommandHistoryHarness.h"
#include "core/commands/tests/support/CommandTables.h"
#include "core/commands/tests/support/MarkerAndAutomationCommandTable.h"
#include "core/commands/tests/support/MixerCommandTable.h"
#include "core/commands/tests/support/ProjectComparison.h"
#include "core/project_io/ProjectDocument.h"
#include "tests/support/RandomStoredProject.h"

#include <gtest/gtest.h>

#include <map>

namespace orvane::testing {
namespace {

std::string describeHistory(const HistoryOutcome &outcome) {
    std::string text = describeDifferences(outcome.failures) + "commands:\n";
    for (const auto &command : outcome.commands)
        text += "  " + command + '\n';
    return text;
}

struct HistoryTally {
    int changed = 0;
    int withCreatedObjects = 0;
};

HistoryTally checkHistories(const std::vector<CommandTableRow> &table, uint64_t seeds) {
    HistoryTally tally;
    for (const uint64_t seed : caseSeeds(seeds)) {
        Random random(seed);
        Project project = withPluginAndMixerState(makeConsistentRandomProject(random), random);
        const auto commandCount = static_cast<std::size_t>(between(random, 1, 256));
        const auto outcome = checkRandomHistory(std::move(project), table, commandCount, random);
        EXPECT_TRUE(outcome.failures.empty()) << "seed " << seed << '\n'
                                              << describeHistory(outcome);
        if (!outcome.failures.empty()) break;
        tally.changed += outcome.changedProject ? 1 : 0;
        tally.withCreatedObjects += outcome.createdObjects ? 1 : 0;
    }
    return tally;
}

TEST(CommandHistory, UndoAndRedoOfRandomMarkerAndAutomationEditsRestoreEveryState) {
    const auto tally = checkHistories(markerAndAutomationCommandRows(), 60);
    EXPECT_GT(tally.changed, 55);
    // Histories that add automation clips and markers, whose redo must keep their ids.
    EXPECT_GT(tally.withCreatedObjects, 10);
}

TEST(CommandHistory, UndoAndRedoOfRandomMixerSnapshotTagAndTuningEditsRestoreEveryState) {
    const PluginParameterStandIn plugins;
    auto table = mixerCommandRows();
    table.push_back(pluginParameterCommandRows().front());
    const auto tally = checkHistories(table, 60);
    EXPECT_GT(tally.changed, 55);
}

// The histories above prove little for a row whose drawn commands never change anything.
TEST(CommandHistory, EveryMarkerAutomationAndMixerRowChangesTheSavedDocumentSometimes) {
    const PluginParameterStandIn plugins;
    auto table = markerAndAutomationCommandRows();
    for (auto &row : mixerCommandRows())
        table.push_back(std::move(row));
    std::map<std::string, int> changes;
    for (const uint64_t seed : caseSeeds(20)) {
        Random random(seed);
        Project project = withPluginAndMixerState(makeConsistentRandomProject(random), random);
        // A history first, so that moves and recalls find markers and snapshots.
        for (int i = 0; i < 100; ++i)
            table[static_cast<std::size_t>(
                      between(random, 0, static_cast<int64_t>(table.size()) - 1))]
                .generate(project, random)
                .make()
                ->redo(project);
        for (const auto &row : table) {
            Project edited = deepCopyProject(project);
            row.generate(edited, random).make()->redo(edited);
            if (project_io::toJson(edited) != project_io::toJson(project))
                ++changes[row.commandName];
        }
    }
    for (const auto &row : table)
        EXPECT_GE(changes[row.commandName], 4) << row.commandName;
}

TEST(CommandHistory, PluginParameterEditsChangeTheSavedDocumentAndUndoToIt) {
    const PluginParameterStandIn plugins;
    const CommandTableRow row = pluginParameterCommandRows().front();
    int changed = 0;
    for (const uint64_t seed : caseSeeds(40)) {
        Random random(seed);
        const auto outcome = checkSingleCommand(
            withPluginAndMixerState(makeConsistentRandomProject(random), random), row, random);
        EXPECT_TRUE(outcome.failures.empty()) << "seed " << seed << '\n'
                                              << describeHistory(outcome);
        changed += outcome.changedProject ? 1 : 0;
    }
    // Out-of-range indices, built-in inserts and values that are no number change nothing.
    EXPECT_GT(changed, 10);
    EXPECT_LT(changed, 40);
}

TEST(CommandHistory, LearnedMappingsUndoRedoAndChangeTheSavedDocument) {
    const auto table = midiMappingCommandRows();
    const auto tally = checkHistories(table, 30);
    EXPECT_GT(tally.changed, 20);
}

} // namespace
} // namespace orvane::testing
