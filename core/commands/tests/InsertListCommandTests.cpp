#include "core/commands/InsertEdits.h"
#include "core/commands/InsertListCommands.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace orvane {
namespace {

/// A track with inserts "a", "b", "c", and hooks that count what the rack would be asked.
struct InsertListFixture : ::testing::Test {
    Project project;
    uint64_t trackId = 0;
    int saves = 0;
    int rebuilds = 0;

    void SetUp() override {
        const auto track = project.addTrack(TrackType::Audio, "FX");
        trackId = track->id;
        for (const char *id : {"a", "b", "c"})
            track->inserts.push_back(InsertSlot{id, id, {}, {}, false, true, 0, {}});
        setInsertListHooks({[this] { ++saves; }, [this] { ++rebuilds; }});
    }
    void TearDown() override { setInsertListHooks({}); }

    std::vector<std::string> ids() const {
        std::vector<std::string> result;
        for (const InsertSlot &insert : project.findTrack(trackId)->inserts)
            result.push_back(insert.pluginId);
        return result;
    }
};

TEST_F(InsertListFixture, AnInsertAddedPastTheEndGoesLastAndItsUndoTakesOnlyItAway) {
    AddInsertCommand add(trackId, InsertSlot{"d", "d", {}, {}, false, true, 0, {}}, 7);
    add.redo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b", "c", "d"}));
    add.undo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b", "c"}));
    add.redo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(InsertListFixture, AnInsertTheRackLoadedIsOnlyRecordedUntilItsUndo) {
    project.findTrack(trackId)->inserts.push_back(InsertSlot{"d", "d", {}, {}, false, true, 0, {}});
    const auto add =
        AddInsertCommand::recordLoaded(trackId, project.findTrack(trackId)->inserts[3], 3);
    add->redo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(rebuilds, 0) << "the rack holds the loaded plug-in already";
    add->undo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(rebuilds, 1);
}

// The rack is asked to save its states before every edit that finds the track, and to rebuild
// only when the list really changed.
TEST_F(InsertListFixture, TheRackIsRebuiltOnlyWhenTheListChanged) {
    struct Case {
        const char *what;
        std::function<void(Project &)> edit;
        std::vector<std::string> after;
        int saves;
        int rebuilds;
    };
    const uint64_t missing = 999;
    const std::vector<Case> cases{
        {"move down",
         [&](Project &p) { MoveInsertCommand(trackId, 0, 1).redo(p); },
         {"b", "a", "c"},
         1,
         1},
        {"move past the end",
         [&](Project &p) { MoveInsertCommand(trackId, 2, 1).redo(p); },
         {"a", "b", "c"},
         1,
         0},
        {"move by nothing",
         [&](Project &p) { MoveInsertCommand(trackId, 1, 0).redo(p); },
         {"a", "b", "c"},
         1,
         0},
        {"remove", [&](Project &p) { RemoveInsertCommand(trackId, 1).redo(p); }, {"a", "c"}, 1, 1},
        {"remove out of range",
         [&](Project &p) { RemoveInsertCommand(trackId, -1).redo(p); },
         {"a", "b", "c"},
         1,
         0},
        {"remove on a missing track",
         [&](Project &p) { RemoveInsertCommand(missing, 0).redo(p); },
         {"a", "b", "c"},
         0,
         0},
    };
    for (const Case &c : cases) {
        project = Project{};
        SetUp();
        saves = rebuilds = 0;
        c.edit(project);
        EXPECT_EQ(ids(), c.after) << c.what;
        EXPECT_EQ(saves, c.saves) << c.what;
        EXPECT_EQ(rebuilds, c.rebuilds) << c.what;
    }
}

TEST_F(InsertListFixture, UndoneMovesAndRemovalsRestoreTheList) {
    MoveInsertCommand move(trackId, 2, -2);
    move.redo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"c", "b", "a"}));
    move.undo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b", "c"}));
    RemoveInsertCommand remove(trackId, 2);
    remove.redo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b"}));
    remove.undo(project);
    EXPECT_EQ(ids(), (std::vector<std::string>{"a", "b", "c"}));
}

} // namespace
} // namespace orvane
