#include "core/commands/GrooveCommands.h"
#include "core/commands/tests/support/MidiClipFixture.h"
#include "core/model/BuiltInPresets.h"

#include <gtest/gtest.h>

namespace orvane::testing {
namespace {

class GrooveCommandTest : public MidiClipTest {
  protected:
    void SetUp() override {
        MidiClipTest::SetUp();
        // Off-grid sixteenths (6000 samples each) with accents, so the groove is not flat.
        for (int i = 0; i < 16; ++i)
            clip->notes.push_back(
                midiNote(36, 6000 * i + (i % 2 == 1 ? 900 : 0), 100, i % 4 == 0 ? 1.0f : 0.5f));
        clip->length = 96000;
        project.activeGrooveIndex = 5;
        project.grooveTimingAmount = 0.125f;
        project.grooveVelocityAmount = 0.25f;
    }
};

TEST_F(GrooveCommandTest, ExtractedGrooveBecomesActiveAndUndoGivesBackTheEarlierChoice) {
    project.groovePool = defaultGroovePool();
    ExtractGrooveToPoolCommand extract(clip->id, "Мой грув");
    extract.redo(project);
    ASSERT_EQ(project.groovePool.size(), 3u);
    const GrooveTemplate extracted = project.groovePool[2];
    EXPECT_EQ(extracted.name, "Мой грув");
    EXPECT_EQ(project.activeGrooveIndex, 2);
    EXPECT_EQ(project.grooveTimingAmount, extracted.timing);
    EXPECT_EQ(project.grooveVelocityAmount, extracted.velocity);

    extract.undo(project);
    EXPECT_EQ(project.groovePool, defaultGroovePool());
    EXPECT_EQ(project.activeGrooveIndex, 5);
    EXPECT_EQ(project.grooveTimingAmount, 0.125f);
    EXPECT_EQ(project.grooveVelocityAmount, 0.25f);

    extract.redo(project);
    ASSERT_EQ(project.groovePool.size(), 3u);
    EXPECT_EQ(project.groovePool[2], extracted);
    EXPECT_EQ(project.activeGrooveIndex, 2);
}

TEST_F(GrooveCommandTest, ChoosingAGrooveInAnEmptyPoolBringsTheBuiltInOnesOnlyWhileItLasts) {
    SetActiveGrooveCommand choose(1);
    choose.redo(project);
    EXPECT_EQ(project.groovePool, defaultGroovePool());
    EXPECT_EQ(project.activeGrooveIndex, 1);
    EXPECT_EQ(project.grooveTimingAmount, defaultGroovePool()[1].timing);
    choose.undo(project);
    EXPECT_TRUE(project.groovePool.empty());
    EXPECT_EQ(project.activeGrooveIndex, 5);
    EXPECT_EQ(project.grooveTimingAmount, 0.125f);
    EXPECT_EQ(project.grooveVelocityAmount, 0.25f);
}

TEST_F(GrooveCommandTest, ApplyingAGrooveChangesArrangementMidiClipsOnlyAndUndoesExactly) {
    project.groovePool = defaultGroovePool();
    const auto before = clip->notes;
    const auto session = placeClip(project, track->id, ClipKind::Midi, 0, 96000);
    session->notes = before;
    session->sessionRow = 1;
    ApplyGrooveCommand apply(0, 0, 1.0f);
    apply.redo(project);
    EXPECT_NE(clip->notes, before);
    EXPECT_EQ(session->notes, before);
    const auto grooved = clip->notes;
    apply.undo(project);
    EXPECT_EQ(clip->notes, before);
    apply.redo(project);
    EXPECT_EQ(clip->notes, grooved);
}

TEST_F(GrooveCommandTest, AGrooveIndexOutsideThePoolChangesNothing) {
    project.groovePool = defaultGroovePool();
    const auto before = clip->notes;
    for (int32_t index : {-1, 2}) {
        ApplyGrooveCommand apply(0, index, 1.0f);
        apply.redo(project);
        EXPECT_EQ(clip->notes, before) << index;
    }
}

TEST_F(GrooveCommandTest, SixteenthStepFollowsTheTempoMapFromTheSongStart) {
    EXPECT_EQ(sixteenthNoteSamples(project), 6000);
    project.tempoMarkers = {{0, 60.0}};
    EXPECT_EQ(sixteenthNoteSamples(project), 12000);
}

} // namespace
} // namespace orvane::testing
