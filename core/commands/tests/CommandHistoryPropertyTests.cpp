#include "core/commands/tests/support/CommandHistoryHarness.h"
#include "core/commands/tests/support/CommandTables.h"
#include "core/commands/tests/support/ProjectComparison.h"
#include "core/commands/tests/support/TrackClipAndTakeCommandTable.h"

#include <gtest/gtest.h>

namespace orvane::testing {
namespace {

std::string describeHistory(const HistoryOutcome &outcome) {
    std::string text = describeDifferences(outcome.failures) + "commands:\n";
    for (const auto &command : outcome.commands)
        text += "  " + command + '\n';
    return text;
}

TEST(CommandHistory, UndoAndRedoOfRandomTrackClipAndTakeEditsRestoreEveryState) {
    const auto table = trackClipAndTakeCommandRows();
    int changed = 0;
    int withFreshIds = 0;
    constexpr uint64_t seeds = 300;
    for (uint64_t seed = 1; seed <= seeds; ++seed) {
        Random random(seed);
        Project project = randomProject(random);
        const auto commandCount = static_cast<std::size_t>(between(random, 1, 256));
        const auto outcome = checkRandomHistory(std::move(project), table, commandCount, random);
        ASSERT_TRUE(outcome.failures.empty()) << "seed " << seed << '\n'
                                              << describeHistory(outcome);
        changed += outcome.changedProject ? 1 : 0;
        withFreshIds += outcome.drewFreshIds ? 1 : 0;
    }
    // Both kinds of history must really occur, or the checks above prove little.
    EXPECT_GT(changed, static_cast<int>(seeds * 9 / 10));
    EXPECT_GT(withFreshIds, static_cast<int>(seeds / 2));
    EXPECT_GT(seeds - withFreshIds, seeds / 20);
}

TEST(CommandHistory, EveryRegisteredCommandUndoesAndRedoesToTheSavedDocument) {
    constexpr uint64_t seeds = 40;
    for (const auto &row : allCommandRows()) {
        int changed = 0;
        for (uint64_t seed = 1; seed <= seeds; ++seed) {
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
    const auto table = allCommandRows();
    int changed = 0;
    constexpr uint64_t seeds = 200;
    for (uint64_t seed = 1; seed <= seeds; ++seed) {
        Random random(seed);
        Project project = randomProjectForAllCommands(random);
        const auto commandCount = static_cast<std::size_t>(between(random, 1, 256));
        const auto outcome = checkRandomHistory(std::move(project), table, commandCount, random);
        ASSERT_TRUE(outcome.failures.empty()) << "seed " << seed << '\n'
                                              << describeHistory(outcome);
        changed += outcome.changedProject ? 1 : 0;
    }
    EXPECT_GT(changed, static_cast<int>(seeds * 9 / 10));
}

} // namespace
} // namespace orvane::testing
