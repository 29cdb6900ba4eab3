#include "core/commands/tests/support/CommandHistoryHarness.h"

#include "core/commands/CommandStack.h"
#include "core/commands/tests/support/ProjectComparison.h"
#include "core/project_io/ProjectDocument.h"

namespace orvane::testing {

namespace {

void collect(std::vector<std::string> &failures, const std::string &phase,
             const std::vector<std::string> &differences) {
    for (const auto &difference : differences)
        failures.push_back(phase + ": " + difference);
}

bool createdObjects(const Project &start, const Project &end) {
    return end.nextTrackId != start.nextTrackId || end.nextClipId != start.nextClipId ||
           end.nextSceneId != start.nextSceneId || end.nextMarkerId != start.nextMarkerId;
}

bool drewFreshIds(const Project &start, const Project &end, const IdCounterReplay &replay) {
    return (replay.freshTrackIds && end.nextTrackId != start.nextTrackId) ||
           (replay.freshClipIds && end.nextClipId != start.nextClipId) ||
           (replay.freshSceneIds && end.nextSceneId != start.nextSceneId) ||
           (replay.freshMarkerIds && end.nextMarkerId != start.nextMarkerId);
}

/// What a redo of the whole history must produce: the commands run anew on the start, with
/// fresh-id counters where the undos left them.
Project replayFromStart(const Project &start, const Project &bottom,
                        const std::vector<CommandRecipe> &recipes, const IdCounterReplay &replay) {
    Project project = deepCopyProject(start);
    if (replay.freshTrackIds) project.nextTrackId = bottom.nextTrackId;
    if (replay.freshClipIds) project.nextClipId = bottom.nextClipId;
    if (replay.freshSceneIds) project.nextSceneId = bottom.nextSceneId;
    if (replay.freshMarkerIds) project.nextMarkerId = bottom.nextMarkerId;
    for (const auto &recipe : recipes)
        recipe.make()->redo(project);
    return project;
}

/// Whether `undone` saves the same document text as `start`, apart from the id counters that
/// undo may leave advanced.
bool savesAsStart(const Project &start, const Project &undone) {
    Project withStartCounters = deepCopyProject(undone);
    withStartCounters.nextTrackId = start.nextTrackId;
    withStartCounters.nextClipId = start.nextClipId;
    withStartCounters.nextSceneId = start.nextSceneId;
    withStartCounters.nextMarkerId = start.nextMarkerId;
    return project_io::toJson(withStartCounters) == project_io::toJson(start);
}

void checkUndone(std::vector<std::string> &failures, const std::string &phase, const Project &start,
                 const Project &undone) {
    collect(failures, phase, projectDifferences(start, undone, ComparisonRules{true}));
    if (!savesAsStart(start, undone))
        failures.push_back(phase + ": the saved document differs from the start's");
}

} // namespace

HistoryOutcome checkSingleCommand(Project project, const CommandTableRow &row, Random &random,
                                  const IdCounterReplay &replay) {
    const Project start = deepCopyProject(project);
    const CommandRecipe recipe = row.generate(project, random);
    CommandStack stack;
    stack.execute(project, recipe.make());
    const Project executed = deepCopyProject(project);

    HistoryOutcome outcome;
    outcome.commands.push_back(recipe.description);
    outcome.changedProject = !projectDifferences(start, executed).empty();
    outcome.drewFreshIds = drewFreshIds(start, executed, replay);
    outcome.createdObjects = createdObjects(start, executed);
    auto &failures = outcome.failures;
    stack.undo(project);
    checkUndone(failures, "undone", start, project);

    const Project bottom = deepCopyProject(project);
    stack.redo(project);
    const Project expected =
        outcome.drewFreshIds ? replayFromStart(start, bottom, {recipe}, replay) : executed;
    collect(failures, "redone", projectDifferences(expected, project));
    if (project_io::toJson(expected) != project_io::toJson(project))
        failures.push_back("redone: the saved document differs from the executed one's");

    stack.undo(project);
    checkUndone(failures, "undone again", start, project);
    return outcome;
}

HistoryOutcome checkRandomHistory(Project project, const std::vector<CommandTableRow> &table,
                                  std::size_t commandCount, Random &random,
                                  const IdCounterReplay &replay) {
    const Project start = deepCopyProject(project);
    const ComparisonRules countersMayAdvance{true};
    std::vector<CommandRecipe> recipes;
    CommandStack stack;
    for (std::size_t i = 0; i < commandCount; ++i) {
        const auto &row = table[static_cast<std::size_t>(
            between(random, 0, static_cast<int64_t>(table.size()) - 1))];
        recipes.push_back(row.generate(project, random));
        stack.execute(project, recipes.back().make());
    }
    const Project end = deepCopyProject(project);

    HistoryOutcome outcome;
    for (const auto &recipe : recipes)
        outcome.commands.push_back(recipe.description);
    outcome.changedProject = !projectDifferences(start, end).empty();
    outcome.drewFreshIds = drewFreshIds(start, end, replay);
    outcome.createdObjects = createdObjects(start, end);
    auto &failures = outcome.failures;
    for (std::size_t i = 0; i < commandCount; ++i)
        stack.undo(project);
    collect(failures, "undone to the bottom",
            projectDifferences(start, project, countersMayAdvance));
    const Project bottom = deepCopyProject(project);

    for (std::size_t i = 0; i < commandCount; ++i)
        stack.redo(project);
    const Project replayed = replayFromStart(start, bottom, recipes, replay);
    collect(failures, "redone to the top", projectDifferences(replayed, project));

    // What the user would find on disk must come back too, not only what the model compares.
    if (!savesAsStart(start, bottom))
        failures.push_back("undone to the bottom: the saved document differs from the start's");
    if (project_io::toJson(replayed) != project_io::toJson(project))
        failures.push_back("redone to the top: the saved document differs from the replay's");

    if (outcome.drewFreshIds) return outcome;
    collect(failures, "redone to the top, no fresh ids", projectDifferences(end, project));
    for (std::size_t i = 0; i < commandCount; ++i)
        stack.undo(project);
    collect(failures, "undone again", projectDifferences(start, project, countersMayAdvance));
    return outcome;
}

} // namespace orvane::testing
