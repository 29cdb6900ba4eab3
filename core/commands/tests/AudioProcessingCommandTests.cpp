#include "core/commands/AudioProcessingCommands.h"
#include "core/commands/ClipCommands.h"
#include "core/commands/CommandStack.h"
#include "core/commands/tests/support/AudioProcessingCommandTable.h"
#include "core/commands/tests/support/ClipFixtures.h"
#include "core/commands/tests/support/ProjectComparison.h"
#include "core/music/AudioAnalysis.h"
#include "core/music/tests/AudioSignals.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace orvane::testing {
namespace {

SharedSamples shared(std::vector<float> values) {
    return std::make_shared<const std::vector<float>>(std::move(values));
}

struct AudioProject {
    Project project;
    std::shared_ptr<Track> track;
    CommandStack stack;

    std::shared_ptr<Clip> addClip(SharedSamples audio, int32_t channels, int64_t start,
                                  int64_t length) {
        auto clip = placeClip(project, track->id, ClipKind::Audio, start, length);
        clip->audio = std::move(audio);
        clip->channels = channels;
        return clip;
    }
    void run(std::unique_ptr<Command> command) { stack.execute(project, std::move(command)); }
};

AudioProject audioProject(double sampleRate = 48000.0) {
    AudioProject setup;
    setup.project.sampleRate = sampleRate;
    setup.track = setup.project.addTrack(TrackType::Audio, "Drums");
    return setup;
}

using CommandMaker = std::function<std::unique_ptr<Command>(uint64_t clipId)>;

TEST(AudioSampleEdits, GiveOnlyTheEditedClipANewBufferAndUndoExactly) {
    const std::vector<std::pair<const char *, CommandMaker>> edits{
        {"normalise",
         [](uint64_t id) { return std::make_unique<NormalizeAudioClipCommand>(id, 0.9f); }},
        {"reverse", [](uint64_t id) { return std::make_unique<ReverseAudioClipCommand>(id); }},
        {"invert", [](uint64_t id) { return std::make_unique<InvertAudioPhaseCommand>(id); }},
        {"trim", [](uint64_t id) { return std::make_unique<TrimAudioSilenceCommand>(id, 0.05f); }},
        {"shift",
         [](uint64_t id) { return std::make_unique<PitchShiftAudioClipCommand>(id, 5.0f); }},
        {"correct",
         [](uint64_t id) {
             return std::make_unique<PitchCorrectAudioClipCommand>(id, 16000.0, 0, false);
         }},
    };
    for (const auto &[label, make] : edits) {
        SCOPED_TRACE(label);
        auto setup = audioProject();
        // Quiet edges for the trim, a tone between two scale pitches for the correction.
        auto tone = sine(452.0, 4000, 16000.0, 2, 0.4f);
        std::fill(tone.begin(), tone.begin() + 200, 0.0f);
        const auto original = shared(tone);
        const auto edited = setup.addClip(original, 2, 0, 4000);
        const auto sibling = setup.addClip(original, 2, 4000, 2000);
        sibling->sourceOffset = 2000;
        const Project before = deepCopyProject(setup.project);

        setup.run(make(edited->id));
        EXPECT_NE(edited->audio, original);
        EXPECT_EQ(sibling->audio, original);
        EXPECT_EQ(*original, tone);
        setup.stack.undo(setup.project);
        EXPECT_EQ(describeDifferences(projectDifferences(before, setup.project)), "");
    }
}

TEST(AudioSampleEdits, ChangeTheSamplesAsDescribed) {
    auto setup = audioProject();
    const auto quiet = setup.addClip(shared(std::vector<float>(64, 1e-7f)), 1, 0, 64);
    setup.run(std::make_unique<NormalizeAudioClipCommand>(quiet->id, 1.0f));
    EXPECT_EQ(*quiet->audio, std::vector<float>(64, 1e-7f));

    const auto clip = setup.addClip(samples({0.25f, -0.125f, 0.0f, 0.1f}), 2, 0, 2);
    setup.run(std::make_unique<NormalizeAudioClipCommand>(clip->id, 0.5f));
    EXPECT_EQ(*clip->audio, (std::vector<float>{0.5f, -0.25f, 0.0f, 0.2f}));

    setup.run(std::make_unique<InvertAudioPhaseCommand>(clip->id));
    setup.stack.undo(setup.project);
    setup.stack.redo(setup.project);
    EXPECT_EQ(*clip->audio, (std::vector<float>{-0.5f, 0.25f, -0.0f, -0.2f}));

    const auto stereo = setup.addClip(samples({1, 2, 3, 4, 5, 6, 7}), 2, 0, 3);
    stereo->sourceOffset = 1;
    setup.run(std::make_unique<ReverseAudioClipCommand>(stereo->id));
    EXPECT_EQ(*stereo->audio, (std::vector<float>{5, 6, 3, 4, 1, 2, 0}));
    EXPECT_EQ(stereo->sourceOffset, 1);
}

TEST(AudioSampleEdits, TrimSilenceKeepsTheLoudFramesAndMovesTheOffsetBack) {
    for (const int64_t offset : {int64_t{250}, int64_t{30}}) {
        auto setup = audioProject();
        std::vector<float> frames(2 * 1000, 0.5f);
        std::fill(frames.begin(), frames.begin() + 2 * 100, 0.001f);
        std::fill(frames.end() - 2 * 50, frames.end(), -0.001f);
        frames[2 * 100 + 1] = 0.9f; // the first loud frame is loud on one channel only
        const auto clip = setup.addClip(shared(frames), 2, 0, 1000);
        clip->sourceOffset = offset;
        setup.run(std::make_unique<TrimAudioSilenceCommand>(clip->id, 0.01f));
        EXPECT_EQ(clip->length, 850);
        EXPECT_EQ(clip->audioFrameCount(), 850);
        EXPECT_EQ((*clip->audio)[1], 0.9f);
        EXPECT_EQ(clip->sourceOffset, std::max<int64_t>(offset - 100, 0));
    }
}

TEST(PitchCommands, ResampleTheBufferAndKeepTheStretchRatio) {
    auto setup = audioProject();
    const auto clip = setup.addClip(shared(sine(441.0, 8000, 44100.0, 2)), 2, 100, 6000);
    clip->sourceOffset = 1000;
    clip->stretchRatio = 1.5;
    setup.run(std::make_unique<PitchShiftAudioClipCommand>(clip->id, 12.0f));
    EXPECT_EQ(clip->audioFrameCount(), 4000);
    EXPECT_EQ(clip->sourceOffset, 500);
    EXPECT_EQ(clip->length, 3000);
    EXPECT_EQ(clip->stretchRatio, 1.5);
    const Project shifted = deepCopyProject(setup.project);
    setup.run(std::make_unique<PitchShiftAudioClipCommand>(clip->id, 0.00001f));
    EXPECT_EQ(describeDifferences(projectDifferences(shifted, setup.project)), "");

    // 452 Hz lies between A (440) and A sharp; the nearest C major pitch is A.
    const auto tone = setup.addClip(shared(sine(452.0, 6000, 48000.0, 1)), 1, 0, 6000);
    setup.run(std::make_unique<PitchCorrectAudioClipCommand>(tone->id, 48000.0, 0, false));
    const auto window = clipAnalysisWindow(*tone);
    EXPECT_NEAR(estimateAudioFundamentalHz(window.samples, window.frames, 1, 48000.0), 440.0, 2.0);
    EXPECT_EQ(tone->stretchRatio, 1.0);
    // Already on the scale: a second correction finds less than 0.05 semitone to do.
    const Project corrected = deepCopyProject(setup.project);
    setup.run(std::make_unique<PitchCorrectAudioClipCommand>(tone->id, 48000.0, 0, false));
    EXPECT_EQ(describeDifferences(projectDifferences(corrected, setup.project)), "");
}

TEST(SplitStems, AddsThreeTracksWhoseClipsAddUpToTheClip) {
    auto setup = audioProject();
    auto input = sine(80.0, 3000, 48000.0, 2, 0.3f);
    const auto noise = silenceThenNoise(0, 3000, 2, 0.2f);
    for (std::size_t i = 0; i < input.size(); ++i)
        input[i] += noise[i];
    const auto clip = setup.addClip(shared(input), 2, 700, 2000);
    clip->name = "Loop";
    clip->sourceOffset = 500;
    const Project before = deepCopyProject(setup.project);
    setup.run(std::make_unique<SplitAudioStemsCommand>(clip->id));
    ASSERT_EQ(setup.project.tracks.size(), 4u);
    std::vector<float> sum(2 * 2000, 0.0f);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto &track = setup.project.tracks[i + 1];
        EXPECT_EQ(track->name, std::string("Loop ") + SplitAudioStemsCommand::kNames[i]);
        ASSERT_EQ(track->clips.size(), 1u);
        const auto &stem = *track->clips[0];
        EXPECT_EQ(stem.name, SplitAudioStemsCommand::kNames[i]);
        EXPECT_EQ(stem.arrangeStart, 700);
        EXPECT_EQ(stem.length, 2000);
        ASSERT_EQ(stem.audio->size(), sum.size());
        for (std::size_t k = 0; k < sum.size(); ++k)
            sum[k] += (*stem.audio)[k];
    }
    for (std::size_t k = 0; k < sum.size(); ++k)
        ASSERT_NEAR(sum[k], input[2 * 500 + k], 1e-6f) << k;

    const uint64_t bassTrack = setup.project.tracks[1]->id;
    const uint64_t bassClip = setup.project.tracks[1]->clips[0]->id;
    setup.stack.undo(setup.project);
    EXPECT_EQ(describeDifferences(projectDifferences(before, setup.project, {true})), "");
    setup.stack.redo(setup.project);
    ASSERT_EQ(setup.project.tracks.size(), 4u);
    EXPECT_EQ(setup.project.tracks[1]->id, bassTrack);
    EXPECT_EQ(setup.project.tracks[1]->clips[0]->id, bassClip);
    EXPECT_EQ(setup.project.tracks[1]->name, "Loop Bass");
}

TEST(SliceAtTransients, CutsAtEveryTransientButTheFirst) {
    auto setup = audioProject(10000.0); // transients 30 ms = 300 frames apart may both count
    std::vector<float> spikes(1000, 0.0f);
    for (const int frame : {100, 500, 900})
        spikes[static_cast<std::size_t>(frame)] = 0.5f;
    const auto clip = setup.addClip(shared(spikes), 1, 2000, 1000);
    clip->name = "Hits";
    const Project before = deepCopyProject(setup.project);
    setup.run(std::make_unique<SliceAudioAtTransientsCommand>(clip->id));
    ASSERT_EQ(setup.track->clips.size(), 3u);
    EXPECT_EQ(clip->length, 500);
    const auto &last = *setup.track->clips[1];
    const auto &middle = *setup.track->clips[2];
    EXPECT_EQ(middle.name, "Hits 1");
    EXPECT_EQ(middle.arrangeStart, 2500);
    EXPECT_EQ(middle.length, 400);
    EXPECT_EQ(middle.sourceOffset, 500);
    EXPECT_EQ(last.name, "Hits 2");
    EXPECT_EQ(last.arrangeStart, 2900);
    EXPECT_EQ(last.length, 100);
    EXPECT_EQ(last.audio, clip->audio);
    setup.stack.undo(setup.project);
    EXPECT_EQ(describeDifferences(projectDifferences(before, setup.project, {true})), "");
}

TEST(SliceAtTransients, SlicesTheRightHalfOfASplitAtItsOwnTransients) {
    constexpr double rate = 48000.0;
    auto setup = audioProject(rate);
    const auto clip = setup.addClip(shared(clickTrack(120.0, 4.0, rate, 2)), 2, 1000, 192000);
    setup.run(std::make_unique<SplitClipCommand>(clip->id, 1000 + 62400));
    ASSERT_EQ(setup.track->clips.size(), 2u);
    const auto right = setup.track->clips[1];
    ASSERT_EQ(right->sourceOffset, 62400);
    setup.run(std::make_unique<SliceAudioAtTransientsCommand>(right->id));

    // The half begins between clicks; its first click (source frame 72000) is not a cut.
    const std::vector<int64_t> cuts{96000, 120000, 144000, 168000};
    EXPECT_EQ(right->length, cuts[0] - 62400);
    EXPECT_EQ(clip->length, 62400);
    ASSERT_EQ(setup.track->clips.size(), 2u + cuts.size());
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        const auto &slice = *setup.track->clips[setup.track->clips.size() - 1 - k];
        EXPECT_EQ(slice.sourceOffset, cuts[k]);
        EXPECT_EQ(slice.arrangeStart, 1000 + cuts[k]);
        EXPECT_EQ(slice.length, k + 1 < cuts.size() ? cuts[k + 1] - cuts[k] : 192000 - cuts[k]);
    }
}

TEST(ClipsLongerThanTheirAudio, AreAnalysedOnlyWhereTheyHaveAudio) {
    // Run under AddressSanitizer, a read past any of these buffers stops the test.
    for (const int64_t offset : {int64_t{0}, int64_t{2500}, int64_t{2999}, int64_t{3000}}) {
        SCOPED_TRACE(offset);
        auto setup = audioProject(16000.0);
        const auto audio = std::make_shared<const std::vector<float>>(
            clickTrack(400.0, 3000.0 / 16000.0, 16000.0, 2));
        ASSERT_EQ(audio->size(), 6000u);
        const auto clip = setup.addClip(audio, 2, 0, 50000);
        clip->sourceOffset = offset;
        setup.run(std::make_unique<SplitAudioStemsCommand>(clip->id));
        setup.run(std::make_unique<SliceAudioAtTransientsCommand>(clip->id));
        setup.run(std::make_unique<PitchCorrectAudioClipCommand>(clip->id, 16000.0, 0, false));
        const int64_t available = 3000 - offset;
        if (available > 0) {
            ASSERT_EQ(setup.project.tracks.size(), 4u);
            EXPECT_EQ(setup.project.tracks[1]->clips[0]->length, available);
        } else {
            EXPECT_EQ(setup.project.tracks.size(), 1u);
        }
    }
}

TEST(OnsetCommands, AlignCutsBeforeTheOnsetAndSnapMovesItToThePlayhead) {
    auto setup = audioProject();
    const auto clip = setup.addClip(samples({0.1f, 0.2f}), 1, 1000, 200);
    clip->sourceOffset = 10;
    setup.run(std::make_unique<AlignAudioOnsetCommand>(clip->id, 300));
    EXPECT_EQ(clip->sourceOffset, 210);
    EXPECT_EQ(clip->length, 200);
    EXPECT_EQ(clip->arrangeStart, 1200);
    setup.stack.undo(setup.project);
    setup.run(std::make_unique<AlignAudioOnsetCommand>(clip->id, 50));
    EXPECT_EQ(clip->sourceOffset, 60);
    EXPECT_EQ(clip->length, 150);
    EXPECT_EQ(clip->arrangeStart, 1050);

    // A damaged clip without length or samples: positions saturate instead of overflowing.
    const auto damaged = setup.addClip(nullptr, 2, 10, -5);
    setup.run(
        std::make_unique<AlignAudioOnsetCommand>(damaged->id, std::numeric_limits<int64_t>::max()));
    EXPECT_EQ(damaged->arrangeStart, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(damaged->length, -5);
    setup.stack.undo(setup.project);

    setup.run(std::make_unique<SnapAudioOnsetToPlayheadCommand>(clip->id, 300, 500));
    EXPECT_EQ(clip->arrangeStart, 0);
    setup.run(std::make_unique<SnapAudioOnsetToPlayheadCommand>(clip->id, 3000, 500));
    EXPECT_EQ(clip->arrangeStart, 2500);
    setup.stack.undo(setup.project);
    setup.stack.undo(setup.project);
    EXPECT_EQ(clip->arrangeStart, 1050);
}

TEST(RenderInPlace, BounceSilencesOverlappingClipsAndFreezeSilencesAll) {
    auto setup = audioProject();
    const auto across = setup.addClip(samples({0.1f}), 2, 1500, 1500);
    const auto after = setup.addClip(samples({0.1f}), 2, 2000, 500);
    const auto bufferOnly = setup.addClip(shared(std::vector<float>(2 * 600, 0.1f)), 2, 500, 0);
    const auto session = setup.addClip(samples({0.1f}), 2, 1000, 1000);
    session->sessionRow = 0;
    const auto rendered = shared(std::vector<float>(2 * 1000, 0.2f));
    const Project before = deepCopyProject(setup.project);

    setup.run(std::make_unique<BounceTrackInPlaceCommand>(setup.track->id, 1000, 1000, rendered));
    EXPECT_FALSE(across->takeActive);
    EXPECT_TRUE(after->takeActive);
    EXPECT_FALSE(bufferOnly->takeActive); // its 600 frames reach from 500 into the span
    EXPECT_TRUE(session->takeActive);
    const auto &bounce = *setup.track->clips.back();
    EXPECT_EQ(bounce.name, "Bounce");
    EXPECT_EQ(bounce.audio, rendered);
    EXPECT_EQ(bounce.channels, 2);
    EXPECT_EQ(bounce.arrangeStart, 1000);
    EXPECT_EQ(bounce.length, 1000);
    setup.stack.undo(setup.project);
    EXPECT_EQ(describeDifferences(projectDifferences(before, setup.project, {true})), "");

    setup.run(std::make_unique<FreezeTrackInPlaceCommand>(setup.track->id, 1000, 1000, rendered));
    EXPECT_TRUE(setup.track->frozen);
    EXPECT_FALSE(after->takeActive);
    EXPECT_TRUE(session->takeActive);
    EXPECT_EQ(setup.track->clips.back()->name, "Freeze");
    setup.stack.undo(setup.project);
    EXPECT_EQ(describeDifferences(projectDifferences(before, setup.project, {true})), "");

    // The renderer plays no audio clip on a MIDI track, so there is nothing to bounce into.
    const auto midi = setup.project.addTrack(TrackType::Midi, "Keys");
    const Project withMidi = deepCopyProject(setup.project);
    setup.run(std::make_unique<BounceTrackInPlaceCommand>(midi->id, 0, 1000, rendered));
    setup.run(std::make_unique<FreezeTrackInPlaceCommand>(midi->id, 0, 1000, rendered));
    setup.run(std::make_unique<BounceTrackInPlaceCommand>(setup.track->id, 0, 0, rendered));
    EXPECT_EQ(describeDifferences(projectDifferences(withMidi, setup.project)), "");

    setup.run(std::make_unique<ToggleTrackFrozenCommand>(midi->id));
    EXPECT_TRUE(midi->frozen);
    setup.stack.undo(setup.project);
    EXPECT_FALSE(midi->frozen);
}

TEST(FlashbackCapture, MakesItsOwnAudioTrackWhenNeededAndUndoesItWhole) {
    auto setup = audioProject();
    const auto midi = setup.project.addTrack(TrackType::Midi, "Keys");
    const auto captured = shared(std::vector<float>(2 * 100, 0.3f));
    const Project before = deepCopyProject(setup.project);
    setup.run(std::make_unique<CaptureFlashbackCommand>(midi->id, 400, 100, captured));
    ASSERT_EQ(setup.project.tracks.size(), 3u);
    const auto added = setup.project.tracks.back();
    EXPECT_EQ(added->name, "Flashback 1");
    EXPECT_EQ(added->type, TrackType::Audio);
    ASSERT_EQ(added->clips.size(), 1u);
    EXPECT_EQ(added->clips[0]->name, "Flashback");
    EXPECT_EQ(added->clips[0]->audio, captured);
    EXPECT_EQ(added->clips[0]->arrangeStart, 400);

    setup.stack.undo(setup.project);
    EXPECT_EQ(describeDifferences(projectDifferences(before, setup.project, {true})), "");
    setup.stack.redo(setup.project);
    ASSERT_EQ(setup.project.tracks.size(), 3u);
    EXPECT_EQ(setup.project.tracks.back()->name, "Flashback 1");
    EXPECT_EQ(setup.project.tracks.back()->clips.size(), 1u);

    setup.run(std::make_unique<CaptureFlashbackCommand>(0, 0, 100, captured));
    EXPECT_EQ(setup.project.tracks.back()->name, "Flashback 2");
    setup.run(std::make_unique<CaptureFlashbackCommand>(setup.track->id, 0, 100, captured));
    EXPECT_EQ(setup.track->clips.size(), 1u);
    EXPECT_EQ(setup.project.tracks.size(), 4u);
}

std::string describeHistory(const HistoryOutcome &outcome) {
    std::string text = describeDifferences(outcome.failures) + "commands:\n";
    for (const auto &command : outcome.commands)
        text += "  " + command + '\n';
    return text;
}

void checkHistories(const std::vector<CommandTableRow> &table, uint64_t seeds) {
    int changed = 0;
    for (const uint64_t seed : caseSeeds(seeds)) {
        Random random(seed);
        Project project = randomProjectWithAudio(random);
        const auto commandCount = static_cast<std::size_t>(between(random, 1, 40));
        const auto outcome = checkRandomHistory(std::move(project), table, commandCount, random);
        ASSERT_TRUE(outcome.failures.empty()) << "seed " << seed << '\n'
                                              << describeHistory(outcome);
        changed += outcome.changedProject ? 1 : 0;
    }
    EXPECT_GT(changed, static_cast<int>(seeds * 8 / 10));
}

TEST(CommandHistory, EveryAudioProcessingRowReachesRealWork) {
    // Histories prove little if a generator only ever draws arguments that change nothing.
    for (const auto &row : audioProcessingCommandRows()) {
        int changed = 0;
        for (const uint64_t seed : caseSeeds(24)) {
            Random random(seed);
            Project project = randomProjectWithAudio(random);
            const Project before = deepCopyProject(project);
            row.generate(project, random).make()->redo(project);
            changed += projectDifferences(before, project).empty() ? 0 : 1;
        }
        // Pure tones have no transients and most sit near a note: slicing and correcting
        // the pitch leave many of the drawn clips alone.
        EXPECT_GE(changed, 4) << row.commandName;
    }
}

TEST(CommandHistory, UndoAndRedoOfRandomAudioProcessingRestoreEveryState) {
    checkHistories(audioProcessingCommandRows(), 80);
}

} // namespace
} // namespace orvane::testing
