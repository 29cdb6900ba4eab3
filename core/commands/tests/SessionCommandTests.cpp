#include "core/commands/CommandStack.h"
#include "core/commands/SessionCommands.h"
#include "core/commands/tests/support/CommandHistoryHarness.h"
#include "core/commands/tests/support/CommandTables.h"
#include "core/commands/tests/support/ProjectComparison.h"
#include "core/commands/tests/support/SessionCommandTable.h"
#include "core/model/BuiltInPresets.h"
#include "core/project_io/ProjectDocument.h"
#include "tests/support/RandomStoredProject.h"

#include <gtest/gtest.h>

#include <sstream>

namespace orvane {
namespace {

using testing::deepCopyProject;
using testing::describeDifferences;
using testing::projectDifferences;

/// Two tracks, three scenes; a session clip in every cell of the first two columns.
class SessionCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        project.session.cols = 3;
        for (int row = 0; row < 3; ++row) {
            Scene scene;
            scene.id = project.nextSceneId++;
            scene.name = "S" + std::to_string(row);
            scene.clips.assign(3, 0);
            project.session.scenes.push_back(scene);
        }
        audio = project.addTrack(TrackType::Audio, "");
        midi = project.addTrack(TrackType::Midi, "");
        for (int row = 0; row < 3; ++row) {
            cell[row][0] = addSessionClip(audio, row, 0);
            cell[row][1] = addSessionClip(midi, row, 1);
        }
    }

    std::shared_ptr<Clip> addSessionClip(const std::shared_ptr<Track> &track, int row, int col) {
        auto clip = project.addClip(track->id, track->type == TrackType::Midi ? ClipKind::Midi
                                                                              : ClipKind::Audio);
        clip->name = "c" + std::to_string(row) + std::to_string(col);
        clip->sessionRow = row;
        clip->sessionCol = col;
        clip->length = 1000 + row;
        project.session.scenes[static_cast<std::size_t>(row)].clips[static_cast<std::size_t>(col)] =
            clip->id;
        return clip;
    }

    /// Runs `command`, checks undo gives back the start exactly, and redoes it.
    void executeUndoable(std::unique_ptr<Command> command) {
        const Project before = deepCopyProject(project);
        stack.execute(project, std::move(command));
        const Project after = deepCopyProject(project);
        stack.undo(project);
        EXPECT_EQ(describeDifferences(projectDifferences(before, project, {true})), "");
        stack.redo(project);
    }

    std::vector<std::string> sceneNames() const {
        std::vector<std::string> names;
        for (const auto &scene : project.session.scenes)
            names.push_back(scene.name);
        return names;
    }

    Project project;
    CommandStack stack;
    std::shared_ptr<Track> audio, midi;
    std::shared_ptr<Clip> cell[3][2];
};

TEST_F(SessionCommandTest, TheOnlySceneIsNeverDeleted) {
    DeleteSceneCommand(project.session.scenes[2].id).redo(project);
    DeleteSceneCommand(project.session.scenes[1].id).redo(project);
    const Project oneScene = deepCopyProject(project);
    DeleteSceneCommand(project.session.scenes[0].id).redo(project);
    EXPECT_TRUE(projectDifferences(oneScene, project).empty());
    EXPECT_EQ(project.session.scenes.size(), 1u);
}

TEST_F(SessionCommandTest, DeletingASceneRemovesItsRowAndUndoPutsEveryClipBackInPlace) {
    executeUndoable(std::make_unique<DeleteSceneCommand>(project.session.scenes[1].id));
    EXPECT_EQ(sceneNames(), (std::vector<std::string>{"S0", "S2"}));
    EXPECT_EQ(project.findClip(cell[1][0]->id), nullptr);
    EXPECT_EQ(cell[2][1]->sessionRow, 1);
}

TEST_F(SessionCommandTest, InsertingAfterTheLastSceneAppendsAndMovesNothing) {
    executeUndoable(std::make_unique<InsertSceneCommand>(project.session.scenes[2].id));
    EXPECT_EQ(sceneNames(), (std::vector<std::string>{"S0", "S1", "S2", "Scene 4"}));
    EXPECT_EQ(project.session.scenes[3].clips, std::vector<uint64_t>(3, 0));
}

TEST_F(SessionCommandTest, InsertingInTheMiddleMovesTheRowsBelowDownAndUndoMovesThemBack) {
    executeUndoable(std::make_unique<InsertSceneCommand>(project.session.scenes[0].id));
    EXPECT_EQ(sceneNames(), (std::vector<std::string>{"S0", "Scene 2", "S1", "S2"}));
    EXPECT_EQ(cell[0][0]->sessionRow, 0);
    EXPECT_EQ(cell[1][0]->sessionRow, 2);
    EXPECT_EQ(cell[2][1]->sessionRow, 3);
    stack.undo(project);
    EXPECT_EQ(cell[1][0]->sessionRow, 1);
    EXPECT_EQ(cell[2][1]->sessionRow, 2);
}

// A grid whose rows hold clips but no scenes (as a new song's does) gets its new scene below
// them: the rows keep their clips and get scenes that launch them.
TEST_F(SessionCommandTest, AddingASceneToRowsWithoutScenesGoesBelowThemAndMovesNothing) {
    project.session.scenes.clear();
    executeUndoable(std::make_unique<InsertSceneCommand>(0));
    EXPECT_EQ(sceneNames(), (std::vector<std::string>{"Scene 1", "Scene 2", "Scene 3", "Scene 4"}));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(cell[row][0]->sessionRow, row);
        EXPECT_EQ(cell[row][1]->sessionRow, row);
        EXPECT_EQ(project.session.scenes[static_cast<std::size_t>(row)].clips,
                  (std::vector<uint64_t>{cell[row][0]->id, cell[row][1]->id, 0}));
    }
    EXPECT_EQ(project.session.scenes[3].clips, std::vector<uint64_t>(3, 0));
}

TEST_F(SessionCommandTest, ScenesBeyondTheEighthRowTakeMovedClipsAndTheDocumentKeepsThem) {
    // Seven inserted and one duplicated scene: ten rows from 3, the last two past the grid's 8.
    for (int i = 0; i < 6; ++i)
        stack.execute(project, std::make_unique<InsertSceneCommand>(project.session.scenes[0].id));
    stack.execute(project, std::make_unique<DuplicateSceneCommand>(project.session.scenes[1].id));
    ASSERT_EQ(project.session.scenes.size(), 10u);
    EXPECT_EQ(project.session.rows, 10);
    for (const int32_t row : {8, 9}) {
        stack.execute(project, std::make_unique<MoveSessionClipCommand>(cell[0][0]->id, row, 2));
        EXPECT_EQ(cell[0][0]->sessionRow, row);
        EXPECT_EQ(cell[0][0]->sessionCol, 2);
    }
    stack.execute(project, std::make_unique<InsertSessionPlayerClipCommand>(
                               midi->id, 9, 2, SessionPlayerSettings{{}, 960}));
    const auto loaded = project_io::fromJson(project_io::toJson(project));
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->session.rows, 10);
    EXPECT_EQ(loaded->findClip(cell[0][0]->id)->sessionRow, 9);
    // Undoing the scenes gives the grid its rows back.
    while (!stack.undoName().empty())
        stack.undo(project);
    EXPECT_EQ(project.session.rows, 8);
}

TEST_F(SessionCommandTest, MovingASceneTwoRowsSwapsItWithThatSceneOnly) {
    executeUndoable(std::make_unique<MoveSceneCommand>(project.session.scenes[0].id, 2));
    EXPECT_EQ(sceneNames(), (std::vector<std::string>{"S2", "S1", "S0"}));
    EXPECT_EQ(cell[0][0]->sessionRow, 2);
    EXPECT_EQ(cell[1][1]->sessionRow, 1);
    EXPECT_EQ(cell[2][1]->sessionRow, 0);
    for (const int32_t offset : {-1, 3}) {
        const Project before = deepCopyProject(project);
        MoveSceneCommand(project.session.scenes[0].id, offset).redo(project);
        EXPECT_TRUE(projectDifferences(before, project).empty()) << offset;
    }
}

TEST_F(SessionCommandTest, DuplicatingASceneCopiesItsClipsWithEverySetting) {
    cell[1][0]->fadeIn = 40;
    cell[1][0]->gainEnvelope = {{0, 0.5f}, {100, 1.0f}};
    cell[1][0]->launchQuantize = LaunchQuantize::OneBeat;
    cell[1][0]->audio = std::make_shared<const std::vector<float>>(8, 0.25f);
    project.session.scenes[1].sceneTempoBpm = 97.0;
    executeUndoable(std::make_unique<DuplicateSceneCommand>(project.session.scenes[1].id));
    ASSERT_EQ(project.session.scenes.size(), 4u);
    const Scene &copy = project.session.scenes[3];
    EXPECT_EQ(copy.name, "S1 copy");
    EXPECT_EQ(copy.sceneTempoBpm, 97.0);
    const auto audioCopy = project.findClip(copy.clips[0]);
    ASSERT_NE(audioCopy, nullptr);
    EXPECT_EQ(audioCopy->name, "c10 copy");
    EXPECT_EQ(audioCopy->sessionRow, 3);
    EXPECT_EQ(audioCopy->fadeIn, 40);
    EXPECT_EQ(audioCopy->gainEnvelope, cell[1][0]->gainEnvelope);
    EXPECT_EQ(audioCopy->launchQuantize, LaunchQuantize::OneBeat);
    EXPECT_EQ(audioCopy->audio, cell[1][0]->audio);
    EXPECT_NE(project.findClip(copy.clips[1]), nullptr);
}

TEST_F(SessionCommandTest, ASessionClipIsDuplicatedOnlyIntoAFreeCellOfItsTrackInsideTheGrid) {
    // The MIDI track's clip sits in column 1: it blocks the audio clip's copy only on its own
    // track, so the audio clip's copy goes in.
    executeUndoable(std::make_unique<DuplicateSessionClipCommand>(cell[0][0]->id));
    EXPECT_EQ(audio->clips.size(), 4u);
    EXPECT_EQ(audio->clips.back()->sessionCol, 1);
    const Project full = deepCopyProject(project);
    DuplicateSessionClipCommand(cell[0][0]->id).redo(project); // its own copy is in the way
    cell[2][1]->sessionCol = 2;
    DuplicateSessionClipCommand(cell[2][1]->id).redo(project); // the last column
    cell[2][1]->sessionCol = 1;
    EXPECT_TRUE(projectDifferences(full, project).empty());
}

TEST_F(SessionCommandTest, AnArrangementClipIsCopiedIntoAFreeCellOfItsTrackAsALoop) {
    const auto arranged = project.addClip(midi->id, ClipKind::Midi);
    arranged->name = "Verse";
    arranged->arrangeStart = 48000;
    arranged->length = 96000;
    arranged->notes = {MidiNote{60, 0.8f, 0, 1000}};
    auto copy = std::make_unique<CopyClipToSessionCommand>(arranged->id, 2, 2);
    const CopyClipToSessionCommand &made = *copy;
    executeUndoable(std::move(copy));
    const auto copied = project.findClip(made.copyId());
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->trackId, midi->id);
    EXPECT_EQ(copied->name, "Verse");
    EXPECT_EQ(copied->sessionRow, 2);
    EXPECT_EQ(copied->sessionCol, 2);
    EXPECT_TRUE(copied->loop);
    EXPECT_EQ(copied->loopLength, 96000);
    EXPECT_EQ(copied->notes, arranged->notes);
    EXPECT_FALSE(arranged->isSessionClip()) << "the arrangement keeps its clip";

    // Nothing lands on a taken cell, outside the grid, or from a session clip.
    const Project full = deepCopyProject(project);
    CopyClipToSessionCommand(arranged->id, 2, 2).redo(project);
    CopyClipToSessionCommand(arranged->id, 0, 1).redo(project);
    CopyClipToSessionCommand(arranged->id, project.session.rows, 0).redo(project);
    CopyClipToSessionCommand(arranged->id, 0, -1).redo(project);
    CopyClipToSessionCommand(cell[0][1]->id, 1, 2).redo(project);
    EXPECT_TRUE(projectDifferences(full, project).empty());
}

TEST_F(SessionCommandTest, AFileIsImportedIntoAFreeCellOfATrackOfItsKindAsALoop) {
    Clip audioFile;
    audioFile.kind = ClipKind::Audio;
    audioFile.name = "drums";
    audioFile.length = 44100;
    audioFile.arrangeStart = 96000;
    auto command = std::make_unique<ImportToSessionCellCommand>(audio->id, 1, 2, audioFile);
    const ImportToSessionCellCommand &made = *command;
    executeUndoable(std::move(command));
    const auto placed = project.findClip(made.clipId());
    ASSERT_NE(placed, nullptr);
    EXPECT_EQ(placed->trackId, audio->id);
    EXPECT_EQ(placed->name, "drums");
    EXPECT_EQ(placed->sessionRow, 1);
    EXPECT_EQ(placed->sessionCol, 2);
    EXPECT_EQ(placed->arrangeStart, 0);
    EXPECT_TRUE(placed->loop);
    EXPECT_EQ(placed->loopLength, 44100);

    // Nothing lands on a taken cell, outside the grid, on a track of the other kind, or empty.
    Clip midiFile = audioFile;
    midiFile.kind = ClipKind::Midi;
    Clip emptyFile = audioFile;
    emptyFile.length = 0;
    const Project full = deepCopyProject(project);
    ImportToSessionCellCommand(audio->id, 1, 2, audioFile).redo(project);
    ImportToSessionCellCommand(audio->id, 0, 0, audioFile).redo(project);
    ImportToSessionCellCommand(audio->id, project.session.rows, 2, audioFile).redo(project);
    ImportToSessionCellCommand(midi->id, 0, 2, audioFile).redo(project);
    ImportToSessionCellCommand(audio->id, 0, 2, midiFile).redo(project);
    ImportToSessionCellCommand(audio->id, 0, 2, emptyFile).redo(project);
    EXPECT_TRUE(projectDifferences(full, project).empty());
}

TEST_F(SessionCommandTest, MovingASessionClipStaysInsideTheGridAndOutOfTakenCells) {
    executeUndoable(std::make_unique<MoveSessionClipCommand>(cell[0][0]->id, 2, 2));
    EXPECT_EQ(cell[0][0]->sessionRow, 2);
    EXPECT_EQ(cell[0][0]->sessionCol, 2);
    const Project before = deepCopyProject(project);
    MoveSessionClipCommand(cell[1][0]->id, 2, 2).redo(project);
    MoveSessionClipCommand(cell[1][0]->id, project.session.rows, 0).redo(project);
    MoveSessionClipCommand(cell[1][0]->id, 0, -1).redo(project);
    EXPECT_TRUE(projectDifferences(before, project).empty());
}

TEST_F(SessionCommandTest, SceneSettingsAreSetAndUndone) {
    const uint64_t scene = project.session.scenes[1].id;
    executeUndoable(std::make_unique<RenameSceneCommand>(scene, "Припев"));
    executeUndoable(std::make_unique<SetSceneFollowActionCommand>(scene, FollowAction::NextScene));
    executeUndoable(
        std::make_unique<SetSceneTempoMeterCommand>(scene, true, 90.0, true, TimeSignature{3, 4}));
    const Scene &set = project.session.scenes[1];
    EXPECT_EQ(set.name, "Припев");
    EXPECT_EQ(set.followAction, FollowAction::NextScene);
    EXPECT_TRUE(set.useSceneTempo && set.useSceneMeter);
    EXPECT_EQ(set.sceneTempoBpm, 90.0);
    EXPECT_EQ(set.sceneMeterNum, 3);
    executeUndoable(
        std::make_unique<SetSceneLaunchQuantizeCommand>(scene, LaunchQuantize::OneBeat));
    EXPECT_TRUE(set.useSceneLaunchQuantize);
    EXPECT_EQ(set.sceneLaunchQuantize, LaunchQuantize::OneBeat);
    executeUndoable(std::make_unique<SetSceneLaunchQuantizeCommand>(scene, std::nullopt));
    EXPECT_FALSE(set.useSceneLaunchQuantize) << "back to the session's";
    executeUndoable(
        std::make_unique<SetClipFollowActionCommand>(cell[0][0]->id, FollowAction::Again));
    executeUndoable(
        std::make_unique<SetClipLaunchModeCommand>(cell[0][0]->id, SessionLaunchMode::Gate, true));
    EXPECT_EQ(cell[0][0]->followAction, FollowAction::Again);
    EXPECT_EQ(cell[0][0]->launchMode, SessionLaunchMode::Gate);
    EXPECT_TRUE(cell[0][0]->legatoLaunch);
}

TEST_F(SessionCommandTest, ASessionPlayerWritesAPatternOnInstrumentTracksOnly) {
    const SessionPlayerSettings bass{SessionPlayerKind::BassRoot, 96000, 2, true, 7};
    const Project before = deepCopyProject(project);
    InsertSessionPlayerClipCommand(audio->id, 0, 2, bass).redo(project);
    InsertSessionPlayerClipCommand(midi->id, 0, 3, bass).redo(project); // beyond the columns
    InsertSessionPlayerClipCommand(midi->id, -1, 0, bass).redo(project);
    EXPECT_TRUE(projectDifferences(before, project).empty());

    executeUndoable(std::make_unique<InsertSessionPlayerClipCommand>(midi->id, 0, 2, bass));
    const auto created = midi->clips.back();
    EXPECT_EQ(created->name, "Bass Root");
    EXPECT_EQ(created->sessionCol, 2);
    EXPECT_TRUE(created->loop);
    EXPECT_EQ(created->loopLength, 96000);
    EXPECT_FALSE(created->notes.empty());

    // Over a clip already in the cell: its notes are replaced, and come back on undo.
    cell[1][1]->notes = {MidiNote{}};
    executeUndoable(std::make_unique<InsertSessionPlayerClipCommand>(midi->id, 1, 1, bass));
    EXPECT_EQ(cell[1][1]->name, "Bass Root");
    EXPECT_EQ(cell[1][1]->length, 1001);
}

TEST_F(SessionCommandTest, ACaptureRecordedAfterTheFactIsUndoneAndRedoneUnderItsIds) {
    std::vector<uint64_t> captured;
    for (int row = 0; row < 3; ++row) {
        auto copy = project.addClip(audio->id, ClipKind::Audio);
        copy->name = "Capture c" + std::to_string(row);
        copy->arrangeStart = 5000;
        copy->length = 300 + row;
        captured.push_back(copy->id);
    }
    const Project withCaptures = deepCopyProject(project);
    stack.execute(project, CaptureSessionToArrangeCommand::fromCaptured(project, captured));
    EXPECT_TRUE(projectDifferences(withCaptures, project).empty());
    stack.undo(project);
    for (const uint64_t id : captured)
        EXPECT_EQ(project.findClip(id), nullptr);
    stack.redo(project);
    ASSERT_EQ(audio->clips.size(), 6u);
    for (std::size_t i = 0; i < 3; ++i) {
        const Clip &again = *audio->clips[3 + i];
        EXPECT_EQ(again.id, captured[i]);
        EXPECT_EQ(again.name, "Capture c" + std::to_string(i));
        EXPECT_EQ(again.length, static_cast<int64_t>(300 + i));
    }
}

std::string describeHistory(const testing::HistoryOutcome &outcome) {
    std::string text = describeDifferences(outcome.failures) + "commands:\n";
    for (const auto &command : outcome.commands)
        text += "  " + command + '\n';
    return text;
}

/// The first line where the two texts differ, both versions, or empty when they are equal.
std::string firstDifferentLine(const std::string &a, const std::string &b) {
    std::istringstream first(a), second(b);
    std::string lineA, lineB;
    while (true) {
        const bool moreA = static_cast<bool>(std::getline(first, lineA));
        const bool moreB = static_cast<bool>(std::getline(second, lineB));
        if (!moreA && !moreB) return "";
        if (!moreA || !moreB || lineA != lineB) return lineA + "\n  vs\n" + lineB;
    }
}

/// Random histories over `table`: undone to the start and redone to the end, in memory and
/// as saved documents, and the end state read back from its saved form.
void checkRandomHistories(const std::vector<testing::CommandTableRow> &table, uint64_t seeds) {
    int changed = 0;
    for (const uint64_t seed : testing::caseSeeds(seeds)) {
        testing::Random random(seed);
        Project project = testing::makeConsistentRandomProject(random);
        const auto commandCount = static_cast<std::size_t>(testing::between(random, 1, 120));
        const auto outcome =
            testing::checkRandomHistory(deepCopyProject(project), table, commandCount, random);
        ASSERT_TRUE(outcome.failures.empty()) << "seed " << seed << '\n'
                                              << describeHistory(outcome);
        changed += outcome.changedProject ? 1 : 0;
        // The edited document must read back as it was written.
        CommandStack stack;
        for (std::size_t i = 0; i < commandCount; ++i) {
            const auto &row = table[static_cast<std::size_t>(
                testing::between(random, 0, static_cast<int64_t>(table.size()) - 1))];
            stack.execute(project, row.generate(project, random).make());
        }
        // Reading fills an empty groove pool and expression maps with the built-in ones.
        if (project.groovePool.empty()) project.groovePool = defaultGroovePool();
        if (project.expressionMaps.empty()) project.expressionMaps = defaultExpressionMaps();
        const std::string saved = project_io::toJson(project);
        const auto loaded = project_io::fromJson(saved);
        ASSERT_TRUE(loaded.has_value()) << "seed " << seed;
        EXPECT_EQ(firstDifferentLine(project_io::toJson(*loaded), saved), "") << "seed " << seed;
    }
    EXPECT_GT(changed, static_cast<int>(seeds * 9 / 10));
}

TEST(SessionCommandHistory, RandomSessionAndSceneEditsUndoRedoSaveAndLoad) {
    checkRandomHistories(testing::sessionCommandRows(), 200);
}

TEST(SessionCommandHistory, RandomEditsOfEveryFamilyMixed) {
    checkRandomHistories(testing::allCommandRows(), 60);
}

} // namespace
} // namespace orvane
