#include "core/commands/ClipCommands.h"
#include "core/model/MusicalTime.h"
#include "core/commands/tests/support/ClipFixtures.h"
#include "core/commands/tests/support/ProjectComparison.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using testing::clipIds;
using testing::placeClip;
using testing::samples;

MidiNote note(int64_t start, int64_t length) {
    MidiNote value;
    value.start = start;
    value.length = length;
    return value;
}

class ClipCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        audioTrack = project.addTrack(TrackType::Audio, "Audio");
        midiTrack = project.addTrack(TrackType::Midi, "MIDI");
    }

    /// Runs redo then undo and reports whether the project came back unchanged.
    ::testing::AssertionResult undoRestores(Command &&command) {
        const Project before = testing::deepCopyProject(project);
        command.redo(project);
        command.undo(project);
        const auto differences = testing::projectDifferences(before, project);
        if (differences.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << testing::describeDifferences(differences);
    }

    Project project;
    std::shared_ptr<Track> audioTrack;
    std::shared_ptr<Track> midiTrack;
};

TEST_F(ClipCommandTest, SplitAtTheClipsOwnEdgesOrOutsideChangesNothing) {
    const auto clip = placeClip(project, audioTrack->id, ClipKind::Audio, 1000, 500);
    for (int64_t position : {1000, 1500, 999, 2000}) {
        SplitClipCommand split(clip->id, position);
        split.redo(project);
        EXPECT_EQ(audioTrack->clips.size(), 1u) << position;
        EXPECT_EQ(clip->length, 500) << position;
        split.undo(project);
        EXPECT_EQ(clip->length, 500) << position;
    }
}

TEST_F(ClipCommandTest, SplitCutsANoteThatSpansTheSplitPointAndUndoMakesItWholeAgain) {
    const auto clip = placeClip(project, midiTrack->id, ClipKind::Midi, 2000, 1000);
    clip->notes = {note(300, 200), note(50, 100), note(700, 50)};
    clip->sourceOffset = 10;
    SplitClipCommand split(clip->id, 2400);
    split.redo(project);

    ASSERT_EQ(midiTrack->clips.size(), 2u);
    const auto right = midiTrack->clips[1];
    EXPECT_EQ(clip->length, 400);
    EXPECT_EQ(clip->notes, (std::vector<MidiNote>{note(300, 100), note(50, 100)}));
    EXPECT_EQ(right->name, clip->name + " B");
    EXPECT_EQ(right->arrangeStart, 2400);
    EXPECT_EQ(right->length, 600);
    EXPECT_EQ(right->sourceOffset, 410);
    EXPECT_EQ(right->notes, (std::vector<MidiNote>{note(0, 100), note(300, 50)}));

    split.undo(project);
    EXPECT_EQ(midiTrack->clips.size(), 1u);
    EXPECT_EQ(clip->length, 1000);
    EXPECT_EQ(clip->notes, (std::vector<MidiNote>{note(300, 200), note(50, 100), note(700, 50)}));
}

TEST_F(ClipCommandTest, SplitSharesTheSampleBufferAndKeepsItsIdOnEveryRedo) {
    const auto clip = placeClip(project, audioTrack->id, ClipKind::Audio, 0, 8);
    clip->audio = samples({1, 2, 3, 4, 5, 6, 7, 8});
    clip->fadeIn = 3;
    SplitClipCommand split(clip->id, 5);
    split.redo(project);
    const auto firstRight = audioTrack->clips[1];
    EXPECT_EQ(clip->length, 5);
    EXPECT_EQ(firstRight->audio, clip->audio);
    EXPECT_EQ(firstRight->fadeIn, 0);
    const uint64_t counter = project.nextClipId;
    split.undo(project);
    split.redo(project);
    EXPECT_EQ(audioTrack->clips[1]->id, firstRight->id);
    EXPECT_EQ(project.nextClipId, counter);
}

// Each half reads its source where the whole clip read it, for stretched and warped clips
// alike, and plays the gain envelope's level there; undo gives the clip back as it was.
TEST_F(ClipCommandTest, SplitHalvesReadTheSourceAndTheEnvelopeWhereTheClipDid) {
    struct Case {
        const char *name;
        double stretch;
        std::vector<WarpMarker> markers;
    };
    const Case cases[] = {{"plain", 1.0, {}},
                          {"stretched", 1.5, {}},
                          {"warped", 1.0, {{300, 420}, {700, 760}}},
                          {"stretched and warped", 0.8, {{250, 200}}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Project fresh;
        const auto track = fresh.addTrack(TrackType::Audio, "Audio");
        const auto clip = placeClip(fresh, track->id, ClipKind::Audio, 5000, 1000);
        clip->audio = std::make_shared<std::vector<float>>(4000, 0.25f);
        clip->channels = 1;
        clip->sourceOffset = 40;
        clip->stretchRatio = c.stretch;
        clip->warpMarkers = c.markers;
        clip->gainEnvelope = {{0, 0.2f}, {600, 1.0f}, {1000, 0.5f}};
        const Clip whole = *clip;
        SplitClipCommand split(clip->id, 5450);
        split.redo(fresh);
        ASSERT_EQ(track->clips.size(), 2u);
        const Clip &left = *track->clips[0];
        const Clip &right = *track->clips[1];
        for (int64_t t = 0; t <= 1000; t += 25) {
            const bool onLeft = t < 450;
            const Clip &half = onLeft ? left : right;
            const int64_t local = onLeft ? t : t - 450;
            EXPECT_NEAR(clipTimelineToSource(half, local), clipTimelineToSource(whole, t), 1.0)
                << "t=" << t;
        }
        const auto level = [](const Clip &of, int64_t t) {
            const auto &p = of.gainEnvelope;
            if (p.size() < 2) return 1.0f; // no envelope: the clip's own gain
            if (t <= p.front().t) return p.front().v;
            for (std::size_t i = 0; i + 1 < p.size(); ++i)
                if (t <= p[i + 1].t)
                    return p[i].v + (p[i + 1].v - p[i].v) * static_cast<float>(t - p[i].t) /
                                        static_cast<float>(p[i + 1].t - p[i].t);
            return p.back().v;
        };
        for (int64_t t : {0, 200, 449, 450, 451, 600, 800, 1000}) {
            const bool onLeft = t < 450;
            const float expected = level(whole, t);
            const float actual = onLeft ? level(left, t) : level(right, t - 450);
            EXPECT_NEAR(actual, expected, 1e-4f) << "t=" << t;
        }
        split.undo(fresh);
        EXPECT_EQ(clip->warpMarkers, whole.warpMarkers);
        EXPECT_EQ(clip->gainEnvelope, whole.gainEnvelope);
        EXPECT_EQ(clip->sourceOffset, whole.sourceOffset);
        EXPECT_EQ(clip->length, whole.length);
    }
}

TEST_F(ClipCommandTest, MoveClampsAtZeroAndUndoReturnsToTheOldTrackAndPlace) {
    const auto otherTrack = project.addTrack(TrackType::Audio, "Other");
    placeClip(project, audioTrack->id, ClipKind::Audio, 0, 10);
    const auto clip = placeClip(project, audioTrack->id, ClipKind::Audio, 500, 10);
    placeClip(project, audioTrack->id, ClipKind::Audio, 900, 10);
    const auto orderBefore = clipIds(*audioTrack);

    MoveClipCommand move(clip->id, -300, otherTrack->id);
    move.redo(project);
    EXPECT_EQ(clip->arrangeStart, 0);
    EXPECT_EQ(clip->trackId, otherTrack->id);
    EXPECT_EQ(otherTrack->clips.size(), 1u);
    move.undo(project);
    EXPECT_EQ(clip->arrangeStart, 500);
    EXPECT_EQ(clip->trackId, audioTrack->id);
    EXPECT_EQ(clipIds(*audioTrack), orderBefore);
    EXPECT_TRUE(otherTrack->clips.empty());
}

TEST_F(ClipCommandTest, MoveOntoATrackOfAnotherTypeOnlyChangesTheStart) {
    const auto clip = placeClip(project, audioTrack->id, ClipKind::Audio, 500, 10);
    EXPECT_TRUE(undoRestores(MoveClipCommand(clip->id, 700, midiTrack->id)));
    MoveClipCommand move(clip->id, 700, midiTrack->id);
    move.redo(project);
    EXPECT_EQ(clip->arrangeStart, 700);
    EXPECT_EQ(clip->trackId, audioTrack->id);
}

TEST_F(ClipCommandTest, TrimToLengthZeroGivesOneAndUndoRestoresAllThree) {
    const auto clip = placeClip(project, audioTrack->id, ClipKind::Audio, 100, 50);
    EXPECT_TRUE(undoRestores(TrimClipCommand(clip->id, 120, 0, 20)));
    TrimClipCommand trim(clip->id, 120, 0, 20);
    trim.redo(project);
    EXPECT_EQ(clip->arrangeStart, 120);
    EXPECT_EQ(clip->length, 1);
    EXPECT_EQ(clip->sourceOffset, 20);
}

TEST_F(ClipCommandTest, DuplicateOfAnEmptyClipStartsOneSampleLaterSharingItsSamples) {
    const auto clip = placeClip(project, audioTrack->id, ClipKind::Audio, 100, 0);
    clip->audio = samples({0.25f, 0.5f});
    clip->gain = 2.0f;
    clip->takeLane = 2;
    DuplicateClipCommand duplicate(clip->id);
    duplicate.redo(project);
    ASSERT_EQ(audioTrack->clips.size(), 2u);
    const auto copy = audioTrack->clips[1];
    EXPECT_EQ(copy->arrangeStart, 101);
    EXPECT_EQ(copy->name, clip->name + " copy");
    EXPECT_EQ(copy->gain, 2.0f);
    EXPECT_EQ(copy->takeLane, 0);
    ASSERT_TRUE(copy->audio);
    EXPECT_EQ(copy->audio, clip->audio) << "immutable samples are shared, never copied";
    duplicate.undo(project);
    EXPECT_EQ(audioTrack->clips.size(), 1u);
}

TEST_F(ClipCommandTest, GlueRefusesMixedKindsTracksChannelCountsAndTheSameClip) {
    const auto otherAudioTrack = project.addTrack(TrackType::Audio, "Other");
    const auto stereo = placeClip(project, audioTrack->id, ClipKind::Audio, 0, 2);
    stereo->audio = samples({1, 2, 3, 4});
    const auto mono = placeClip(project, audioTrack->id, ClipKind::Audio, 2, 2);
    mono->channels = 1;
    mono->audio = samples({5, 6});
    const auto midi = placeClip(project, audioTrack->id, ClipKind::Midi, 4, 2);
    const auto elsewhere = placeClip(project, otherAudioTrack->id, ClipKind::Audio, 4, 2);
    const Project before = testing::deepCopyProject(project);
    for (const auto &[first, second] : {std::pair{stereo, midi}, std::pair{stereo, elsewhere},
                                        std::pair{stereo, mono}, std::pair{stereo, stereo}}) {
        GlueClipsCommand glue(first->id, second->id);
        glue.redo(project);
        glue.undo(project);
        EXPECT_TRUE(testing::projectDifferences(before, project).empty())
            << first->id << " + " << second->id;
    }
}

TEST_F(ClipCommandTest, GlueJoinsTheSamplesAndUndoPutsTheSecondClipBackInPlace) {
    const auto first = placeClip(project, audioTrack->id, ClipKind::Audio, 0, 2);
    first->audio = samples({1, 2, 3, 4});
    const auto second = placeClip(project, audioTrack->id, ClipKind::Audio, 500, 1);
    second->audio = samples({5, 6, 7, 8, 9, 10});
    placeClip(project, audioTrack->id, ClipKind::Audio, 900, 1);
    const auto originalSamples = first->audio;

    GlueClipsCommand glue(first->id, second->id);
    glue.redo(project);
    EXPECT_EQ(*first->audio, (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(first->length, 5);
    EXPECT_EQ(project.findClip(second->id), nullptr);
    EXPECT_EQ(*originalSamples, (std::vector<float>{1, 2, 3, 4}));

    glue.undo(project);
    EXPECT_EQ(first->audio, originalSamples);
    EXPECT_EQ(first->length, 2);
    ASSERT_EQ(audioTrack->clips.size(), 3u);
    EXPECT_EQ(audioTrack->clips[1]->id, second->id);
    EXPECT_EQ(*audioTrack->clips[1]->audio, *second->audio);
}

TEST_F(ClipCommandTest, GlueOfMidiClipsShiftsTheSecondClipsNotesByTheFirstLength) {
    const auto first = placeClip(project, midiTrack->id, ClipKind::Midi, 0, 960);
    first->notes = {note(0, 10)};
    const auto second = placeClip(project, midiTrack->id, ClipKind::Midi, 5000, 480);
    second->notes = {note(20, 10)};
    GlueClipsCommand glue(first->id, second->id);
    glue.redo(project);
    EXPECT_EQ(first->notes, (std::vector<MidiNote>{note(0, 10), note(980, 10)}));
    EXPECT_EQ(first->length, 1440);
    EXPECT_EQ(midiTrack->clips.size(), 1u);
}

TEST_F(ClipCommandTest, CrossfadeIsLimitedByHalfOfEachClip) {
    const auto first = placeClip(project, audioTrack->id, ClipKind::Audio, 0, 100);
    const auto second = placeClip(project, audioTrack->id, ClipKind::Audio, 90, 50);
    EXPECT_TRUE(undoRestores(CrossfadeClipsCommand(first->id, second->id, 1000)));
    CrossfadeClipsCommand crossfade(first->id, second->id, 1000);
    crossfade.redo(project);
    EXPECT_EQ(first->fadeOut, 25);
    EXPECT_EQ(second->fadeIn, 25);

    CrossfadeClipsCommand shortFade(first->id, second->id, 10);
    shortFade.redo(project);
    EXPECT_EQ(first->fadeOut, 10);
}

TEST_F(ClipCommandTest, CrossfadeOfClipsOnTwoTracksDoesNothing) {
    const auto first = placeClip(project, audioTrack->id, ClipKind::Audio, 0, 100);
    const auto second = placeClip(project, midiTrack->id, ClipKind::Midi, 90, 50);
    CrossfadeClipsCommand crossfade(first->id, second->id, 10);
    crossfade.redo(project);
    EXPECT_EQ(first->fadeOut, 0);
    EXPECT_EQ(second->fadeIn, 0);
}

TEST_F(ClipCommandTest, DeleteUndoReturnsTheClipWithItsIdAtItsPlace) {
    placeClip(project, audioTrack->id, ClipKind::Audio, 0, 10);
    const auto clip = placeClip(project, audioTrack->id, ClipKind::Audio, 20, 10);
    clip->audio = samples({0.5f});
    placeClip(project, audioTrack->id, ClipKind::Audio, 40, 10);
    EXPECT_TRUE(undoRestores(DeleteClipCommand(clip->id)));
    DeleteClipCommand remove(clip->id);
    remove.redo(project);
    EXPECT_EQ(project.findClip(clip->id), nullptr);
    remove.undo(project);
    EXPECT_EQ(audioTrack->clips[1]->id, clip->id);
    EXPECT_EQ(audioTrack->clips[1]->audio, clip->audio);
}

} // namespace
} // namespace orvane
