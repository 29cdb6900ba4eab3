#include "core/commands/ClipCommands.h"
#include "core/commands/CommandStack.h"
#include "core/commands/tests/support/ProjectComparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace orvane {
namespace {

/// Writes "redo <name>", "undo <name>" and "destroyed <name>" into a shared journal.
class JournalCommand : public Command {
  public:
    JournalCommand(std::string name, std::shared_ptr<std::vector<std::string>> journal)
        : name_(std::move(name)), journal_(std::move(journal)) {}
    ~JournalCommand() override { journal_->push_back("destroyed " + name_); }
    void redo(Project &) override { journal_->push_back("redo " + name_); }
    void undo(Project &) override { journal_->push_back("undo " + name_); }
    std::string name() const override { return name_; }

  private:
    std::string name_;
    std::shared_ptr<std::vector<std::string>> journal_;
};

class CommandStackTest : public ::testing::Test {
  protected:
    void TearDown() override { CommandStack::setAuditHook({}); }

    void execute(const std::string &name) {
        stack.execute(project, std::make_unique<JournalCommand>(name, journal));
    }
    bool journalHas(const std::string &entry) const {
        return std::find(journal->begin(), journal->end(), entry) != journal->end();
    }

    Project project;
    CommandStack stack;
    std::shared_ptr<std::vector<std::string>> journal =
        std::make_shared<std::vector<std::string>>();
};

TEST_F(CommandStackTest, The257thCommandPushesTheOldestOutOfAHistoryOf256) {
    for (int i = 1; i <= 257; ++i)
        execute(std::to_string(i));
    EXPECT_TRUE(journalHas("destroyed 1"));
    EXPECT_FALSE(journalHas("destroyed 2"));

    for (int i = 257; i >= 2; --i) {
        EXPECT_EQ(stack.undoName(), std::to_string(i));
        stack.undo(project);
    }
    EXPECT_EQ(stack.undoName(), "");
    const auto entries = journal->size();
    stack.undo(project);
    EXPECT_EQ(journal->size(), entries);
    EXPECT_EQ(stack.redoName(), "2");
}

TEST_F(CommandStackTest, ANewEditDiscardsEveryUndoneCommand) {
    execute("A");
    execute("B");
    execute("C");
    stack.undo(project);
    stack.undo(project);
    EXPECT_EQ(stack.redoName(), "B");

    execute("D");
    EXPECT_TRUE(journalHas("destroyed B"));
    EXPECT_TRUE(journalHas("destroyed C"));
    EXPECT_EQ(stack.redoName(), "");
    const auto entries = journal->size();
    stack.redo(project);
    EXPECT_EQ(journal->size(), entries);
    EXPECT_EQ(stack.undoName(), "D");
    stack.undo(project);
    EXPECT_EQ(stack.undoName(), "A");
}

TEST_F(CommandStackTest, EmptyPilesHaveNoNamesAndIgnoreUndoAndRedo) {
    EXPECT_EQ(stack.undoName(), "");
    EXPECT_EQ(stack.redoName(), "");
    stack.undo(project);
    stack.redo(project);
    stack.execute(project, nullptr);
    EXPECT_TRUE(journal->empty());
    EXPECT_EQ(stack.undoName(), "");
}

TEST_F(CommandStackTest, ClearDestroysBothPiles) {
    execute("A");
    execute("B");
    stack.undo(project);
    stack.clear();
    EXPECT_TRUE(journalHas("destroyed A"));
    EXPECT_TRUE(journalHas("destroyed B"));
    EXPECT_EQ(stack.undoName(), "");
    EXPECT_EQ(stack.redoName(), "");
}

TEST_F(CommandStackTest, AuditHookHearsEachStepBeforeTheCommandRuns) {
    CommandStack::setAuditHook([this](const char *verb, const char *name) {
        journal->push_back(std::string(verb) + ": " + name);
    });
    execute("Split Clip");
    stack.undo(project);
    stack.redo(project);
    const std::vector<std::string> expected{"execute: Split Clip", "redo Split Clip",
                                            "undo: Split Clip",    "undo Split Clip",
                                            "redo: Split Clip",    "redo Split Clip"};
    EXPECT_EQ(*journal, expected);

    CommandStack::setAuditHook({});
    stack.undo(project);
    EXPECT_EQ(journal->back(), "undo Split Clip");
}

TEST_F(CommandStackTest, HookIsSharedByEveryStack) {
    int calls = 0;
    CommandStack::setAuditHook([&calls](const char *, const char *) { ++calls; });
    CommandStack other;
    other.execute(project, std::make_unique<JournalCommand>("X", journal));
    EXPECT_EQ(calls, 1);
}

TEST_F(CommandStackTest, CommandWithAMissingTargetStillTakesAStepAndUndoesNothing) {
    project.addTrack(TrackType::Audio, "");
    const Project before = testing::deepCopyProject(project);
    stack.execute(project, std::make_unique<SplitClipCommand>(42, 100));
    EXPECT_EQ(stack.undoName(), "Split Clip");
    stack.undo(project);
    EXPECT_TRUE(testing::projectDifferences(before, project).empty());
}

TEST(CloneClipForUndo, CopiesEveryFieldButSharesNoSamples) {
    Clip clip;
    clip.id = 9;
    clip.name = "Гитара";
    clip.length = 480;
    clip.notes = {MidiNote{}};
    clip.audio = std::make_shared<const std::vector<float>>(std::vector<float>{0.5f, -0.5f});
    const auto copy = cloneClipForUndo(clip);
    EXPECT_EQ(copy->id, 9u);
    EXPECT_EQ(copy->name, "Гитара");
    EXPECT_EQ(copy->notes, clip.notes);
    ASSERT_TRUE(copy->audio);
    // Buffers are immutable: the copy shares them instead of duplicating a whole file.
    EXPECT_EQ(copy->audio, clip.audio);
    EXPECT_EQ(*copy->audio, (std::vector<float>{0.5f, -0.5f}));
    EXPECT_FALSE(cloneClipForUndo(Clip{})->audio);
}

} // namespace
} // namespace orvane
