#include "core/commands/tests/support/CommandHistoryHarness.h"
#include "core/commands/tests/support/CommandTables.h"
#include "core/commands/tests/support/MixerCommandTable.h"
#include "core/commands/tests/support/ProjectComparison.h"
#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"
#include "tests/support/RandomStoredProject.h"

#include <gtest/gtest.h>

#include <set>
#include <typeindex>

namespace orvane::testing {
namespace {

std::string describeHistory(const HistoryOutcome &outcome) {
    std::string text = describeDifferences(outcome.failures) + "commands:\n";
    for (const auto &command : outcome.commands)
        text += "  " + command + '\n';
    return text;
}

struct HistoryCounts {
    int changed = 0;
    int withCreatedObjects = 0;
};

/// One random history of up to 256 commands from `table` per seed, on a project from
/// `makeProject`; stops at the first seed that fails.
HistoryCounts checkRandomHistories(const std::vector<CommandTableRow> &table,
                                   Project (*makeProject)(Random &), uint64_t seeds) {
    HistoryCounts counts;
    for (const uint64_t seed : caseSeeds(seeds)) {
        Random random(seed);
        Project project = makeProject(random);
        const auto commandCount = static_cast<std::size_t>(between(random, 1, 256));
        const auto outcome = checkRandomHistory(std::move(project), table, commandCount, random);
        EXPECT_TRUE(outcome.failures.empty()) << "seed " << seed << '\n'
                                              << describeHistory(outcome);
        if (!outcome.failures.empty()) break;
        counts.changed += outcome.changedProject ? 1 : 0;
        counts.withCreatedObjects += outcome.createdObjects ? 1 : 0;
    }
    return counts;
}

TEST(CommandHistory, UndoAndRedoOfRandomTrackClipAndTakeEditsRestoreEveryState) {
    constexpr int seeds = 300;
    const auto counts =
        checkRandomHistories(trackClipAndTakeCommandRows(), makeConsistentRandomProject, seeds);
    // Histories must really change the project and create objects whose ids later commands
    // use, or the checks above prove little.
    EXPECT_GT(counts.changed, seeds * 9 / 10);
    EXPECT_GT(counts.withCreatedObjects, seeds / 2);
}

TEST(CommandHistory, EveryRowOfTheTablesBuildsACommandClassOfItsOwn) {
    Random random(1);
    const Project project = randomProjectForAllCommands(random);
    std::set<std::type_index> classes;
    std::set<std::string> rowNames;
    for (const auto &row : allCommandRows()) {
        const auto command = row.generate(project, random).make();
        const Command &made = *command;
        EXPECT_TRUE(classes.insert(typeid(made)).second) << row.commandName;
        EXPECT_TRUE(rowNames.insert(row.commandName).second) << row.commandName;
    }
}

TEST(CommandHistory, EveryRegisteredCommandUndoesAndRedoesToTheSavedDocument) {
    constexpr uint64_t seeds = 25;
    const PluginParameterStandIn plugins;
    for (const auto &row : allCommandRows()) {
        int changed = 0;
        for (const uint64_t seed : caseSeeds(seeds)) {
            Random random(seed);
            const auto outcome =
                checkSingleCommand(randomProjectForAllCommands(random), row, random);
            ASSERT_TRUE(outcome.failures.empty()) << row.commandName << ", seed " << seed << '\n'
                                                  << describeHistory(outcome);
            changed += outcome.changedProject ? 1 : 0;
        }
        // A row whose arguments never get past the command's checks proves nothing.
        EXPECT_GT(changed, 0) << row.commandName;
    }
}

TEST(CommandHistory, RandomSequencesOfEveryCommandUndoToTheStartAndRedoToTheEnd) {
    constexpr int seeds = 200;
    const PluginParameterStandIn plugins;
    const auto counts = checkRandomHistories(allCommandRows(), randomProjectForAllCommands, seeds);
    EXPECT_GT(counts.changed, seeds * 9 / 10);
    EXPECT_GT(counts.withCreatedObjects, seeds / 2);
}

} // namespace
} // namespace orvane::testing
