#include "device/AudioDeviceEngine.h"
#include "device/Recording.h"

#include <gtest/gtest.h>

#include <array>
#include <mutex>

using namespace orvane;

namespace {

/// Left channel counts frames from `first`, right is its negative, so that every kept frame
/// says which captured frame it was.
CapturedTake rampTake(int64_t frames, int64_t start, int64_t first = 0) {
    CapturedTake take;
    take.start = start;
    take.samples.resize(static_cast<std::size_t>(frames) * 2);
    for (int64_t i = 0; i < frames; ++i) {
        take.samples[2 * i] = static_cast<float>(first + i) * 1e-6f;
        take.samples[2 * i + 1] = -take.samples[2 * i];
    }
    return take;
}

float leftAt(const Clip &clip, int64_t frame) {
    return (*clip.audio)[static_cast<std::size_t>(frame * clip.channels)];
}

/// A project at 48 kHz, 120 BPM, 4/4 (a beat is 24,000 frames, a bar 96,000) with one audio
/// track, the take's destination.
class Recording : public ::testing::Test {
  protected:
    void SetUp() override {
        Project project;
        project.sampleRate = 48000.0;
        project.addTrack(TrackType::Audio, "Vox");
        engine.replaceProject(std::move(project));
        trackId = engine.project.tracks.front()->id;
    }

    std::vector<std::shared_ptr<Clip>> clipsOf(uint64_t id) {
        std::lock_guard lock(engine.projectMutex);
        return engine.project.findTrack(id)->clips;
    }

    void setCycle(int64_t start, int64_t end) {
        engine.transport.loopStart.store(start);
        engine.transport.loopEnd.store(end);
        engine.transport.loopEnabled.store(true);
    }

    Engine engine;
    uint64_t trackId = 0;
};

struct CycleCase {
    int64_t captured;
    std::vector<int64_t> takeLengths;
};

TEST_F(Recording, CycleRecordingGivesOneTakePerPassAndKeepsALongEnoughRest) {
    // A sixteenth is 6,000 frames: a 28,800-frame rest is a take, a 480-frame one is not.
    const std::vector<CycleCase> cases{{124800, {48000, 48000, 28800}}, {96480, {48000, 48000}}};
    for (const auto &[captured, lengths] : cases) {
        SCOPED_TRACE(captured);
        SetUp();
        setCycle(0, 48000);
        const auto outcome =
            placeRecordedTake(engine, rampTake(captured, 0), RecordingDestination{trackId});
        const auto clips = clipsOf(trackId);
        ASSERT_EQ(clips.size(), lengths.size());
        for (std::size_t pass = 0; pass < clips.size(); ++pass) {
            EXPECT_EQ(clips[pass]->length, lengths[pass]);
            EXPECT_EQ(clips[pass]->takeLane, static_cast<int32_t>(pass));
            EXPECT_EQ(clips[pass]->arrangeStart, 0);
            EXPECT_EQ(clips[pass]->name, "Vox Take " + std::to_string(pass + 1));
            EXPECT_EQ(clips[pass]->takeActive, pass + 1 == clips.size());
            // Pass k begins with captured frame k × cycle.
            EXPECT_FLOAT_EQ(leftAt(*clips[pass], 0), static_cast<float>(pass * 48000) * 1e-6f);
        }
        EXPECT_EQ(outcome.clipId, clips.back()->id);
    }
}

TEST_F(Recording, CyclePassesStartAtTheCycleAndLaterPassesTakeTheNextLanes) {
    setCycle(48000, 96000);
    // Recording began 12,000 frames before the cycle: those frames are dropped.
    placeRecordedTake(engine, rampTake(12000 + 2 * 48000, 36000), RecordingDestination{trackId});
    placeRecordedTake(engine, rampTake(2 * 48000, 48000), RecordingDestination{trackId});
    const auto clips = clipsOf(trackId);
    ASSERT_EQ(clips.size(), 4u);
    EXPECT_FLOAT_EQ(leftAt(*clips[0], 0), 12000 * 1e-6f);
    for (std::size_t lane = 0; lane < clips.size(); ++lane) {
        EXPECT_EQ(clips[lane]->takeLane, static_cast<int32_t>(lane));
        EXPECT_EQ(clips[lane]->arrangeStart, 48000);
        EXPECT_EQ(clips[lane]->takeActive, lane == 3);
    }
}

TEST_F(Recording, ARecordingThatJoinsACyclePartWayKeepsOnlyTheWholePasses) {
    setCycle(48000, 96000);
    // From 60,000: 36,000 frames finish the pass that was running, then two whole passes.
    placeRecordedTake(engine, rampTake(36000 + 2 * 48000, 60000), RecordingDestination{trackId});
    const auto clips = clipsOf(trackId);
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_FLOAT_EQ(leftAt(*clips[0], 0), 36000 * 1e-6f);
    EXPECT_FLOAT_EQ(leftAt(*clips[1], 0), 84000 * 1e-6f);
    EXPECT_EQ(clips[1]->arrangeStart, 48000);
}

TEST_F(Recording, PunchKeepsOnlyTheFramesInsideTheRangeWhereTheyWereRecorded) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.punchEnabled = true;
        engine.project.punchIn = 10000;
        engine.project.punchOut = 20000;
    }
    const auto outcome =
        placeRecordedTake(engine, rampTake(30000, 5000), RecordingDestination{trackId});
    EXPECT_EQ(outcome.frames, 10000);
    const auto clips = clipsOf(trackId);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0]->arrangeStart, 10000);
    EXPECT_EQ(clips[0]->length, 10000);
    EXPECT_FLOAT_EQ(leftAt(*clips[0], 0), 5000 * 1e-6f);
    EXPECT_FLOAT_EQ(leftAt(*clips[0], 9999), 14999 * 1e-6f);
}

TEST_F(Recording, APunchRangeTheTakeMissesAddsNoClipAndNoTrack) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.punchEnabled = true;
        engine.project.punchIn = 100000;
        engine.project.punchOut = 200000;
    }
    for (const uint64_t target : {trackId, uint64_t{0}}) {
        const auto outcome =
            placeRecordedTake(engine, rampTake(30000, 5000), RecordingDestination{target});
        EXPECT_EQ(outcome.clipId, 0u);
        EXPECT_EQ(outcome.frames, 0);
    }
    std::lock_guard lock(engine.projectMutex);
    EXPECT_EQ(engine.project.tracks.size(), 1u);
    EXPECT_TRUE(engine.project.tracks.front()->clips.empty());
}

TEST_F(Recording, SingleTakesStackOnLanesAndOnlyTheNewestPlays) {
    placeRecordedTake(engine, rampTake(5000, 24000), RecordingDestination{trackId});
    placeRecordedTake(engine, rampTake(7000, 24000), RecordingDestination{trackId});
    placeRecordedTake(engine, rampTake(7000, 48000), RecordingDestination{trackId});
    const auto clips = clipsOf(trackId);
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips[0]->takeLane, 0);
    EXPECT_FALSE(clips[0]->takeActive);
    EXPECT_EQ(clips[1]->takeLane, 1);
    EXPECT_TRUE(clips[1]->takeActive);
    EXPECT_EQ(clips[2]->takeLane, 0); // another start: its own stack
    EXPECT_TRUE(clips[2]->takeActive);
    // Fades: a twentieth of the take, at most a twentieth of a beat.
    EXPECT_EQ(clips[0]->fadeIn, 250);
    EXPECT_EQ(clips[0]->fadeOut, 250);
    std::lock_guard lock(engine.projectMutex);
    EXPECT_EQ(engine.project.lengthSamples, 55000);
}

TEST_F(Recording, TheUsersInputOffsetMovesTheTakeEarlierButNotBeforeZero) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.inputLatencyOffsetSamples = 300;
    }
    placeRecordedTake(engine, rampTake(4000, 1000), RecordingDestination{trackId});
    placeRecordedTake(engine, rampTake(4000, 100), RecordingDestination{trackId});
    const auto clips = clipsOf(trackId);
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0]->arrangeStart, 700);
    EXPECT_EQ(clips[1]->arrangeStart, 0);
}

TEST_F(Recording, WithoutATargetTrackANewNumberedAudioTrackIsMade) {
    const auto first = placeRecordedTake(engine, rampTake(1000, 0), RecordingDestination{});
    const auto second = placeRecordedTake(engine, rampTake(1000, 0), RecordingDestination{});
    std::lock_guard lock(engine.projectMutex);
    const auto a = engine.project.findTrack(first.trackId);
    const auto b = engine.project.findTrack(second.trackId);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->name.rfind("Запись ", 0), 0u);
    EXPECT_EQ(std::stoi(b->name.substr(std::string("Запись ").size())),
              std::stoi(a->name.substr(std::string("Запись ").size())) + 1);
    EXPECT_EQ(a->type, TrackType::Audio);
}

TEST_F(Recording, ALiveLoopFillsWholeBarsAndReplacesTheSlot) {
    {
        std::lock_guard lock(engine.projectMutex);
        auto old = engine.project.addClip(trackId, ClipKind::Audio);
        old->sessionRow = 2;
        old->sessionCol = 0;
    }
    const auto outcome =
        placeRecordedTake(engine, rampTake(100000, 0), RecordingDestination{0, 0, 2, 0});
    EXPECT_EQ(outcome.frames, 192000);
    const auto clips = clipsOf(trackId);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0]->name, "Loop R2C0");
    EXPECT_TRUE(clips[0]->loop);
    EXPECT_EQ(clips[0]->length, 192000);
    EXPECT_FLOAT_EQ(leftAt(*clips[0], 99999), 99999 * 1e-6f);
    EXPECT_EQ(leftAt(*clips[0], 100000), 0.0f);
    EXPECT_EQ(leftAt(*clips[0], 191999), 0.0f);
    // A column without an audio track takes nothing.
    const auto missing =
        placeRecordedTake(engine, rampTake(1000, 0), RecordingDestination{0, 0, 0, 5});
    EXPECT_EQ(missing.trackId, 0u);
    EXPECT_EQ(missing.clipId, 0u);
}

TEST_F(Recording, AnOverdubLongerThanTheLoopExtendsTheClipInsteadOfWrapping) {
    uint64_t clipId = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        auto clip = engine.project.addClip(trackId, ClipKind::Audio);
        clip->sessionRow = 0;
        clip->sessionCol = 0;
        clip->loop = true;
        clip->loopLength = 96000;
        clip->length = 96000;
        clip->audio = std::make_shared<const std::vector<float>>(96000 * 2, 0.25f);
        clipId = clip->id;
    }
    engine.transport.loopStart.store(0);
    const auto outcome =
        placeRecordedTake(engine, rampTake(144000, 0), RecordingDestination{trackId, clipId});
    EXPECT_EQ(outcome.clipId, clipId);
    std::lock_guard lock(engine.projectMutex);
    const auto clip = engine.project.findClip(clipId);
    EXPECT_EQ(clip->length, 144000);
    EXPECT_EQ(clip->loopLength, 96000);
    ASSERT_EQ(clip->audio->size(), 144000u * 2);
    EXPECT_FLOAT_EQ(leftAt(*clip, 10), 0.25f + 10e-6f);
    EXPECT_FLOAT_EQ(leftAt(*clip, 120000), 0.12f); // past the loop: the take alone
    EXPECT_FLOAT_EQ((*clip->audio)[2 * 120000 + 1], -0.12f);
}

TEST(RecordingBuffers, ExtractCutsAtTheEndAndRateConversionKeepsTheDuration) {
    const std::vector<float> stereo{0, 1, 2, 3, 4, 5};
    EXPECT_EQ(extractPcmFrames(stereo, 2, 1, 5), (std::vector<float>{2, 3, 4, 5}));
    EXPECT_TRUE(extractPcmFrames(stereo, 2, 3, 1).empty());
    EXPECT_EQ(extractPcmFrames(stereo, 0, 4, 9), (std::vector<float>{4, 5}));

    std::vector<float> mono(44100);
    for (std::size_t i = 0; i < mono.size(); ++i)
        mono[i] = static_cast<float>(i);
    const auto converted = convertCaptureRate(mono, 1, 44100.0, 48000.0);
    ASSERT_EQ(converted.size(), 48000u);
    // Output frame i reads input position 44100 × i / 48000, linearly interpolated.
    EXPECT_FLOAT_EQ(converted[480], 441.0f);
    EXPECT_FLOAT_EQ(converted[1], 0.91875f);
    EXPECT_EQ(convertCaptureRate(mono, 1, 48000.0, 48000.5), mono);

    EXPECT_EQ(widenToStereo({1, 2}, 1), (std::vector<float>{1, 1, 2, 2}));
}

TEST_F(Recording, RecordedNotesBecomeAMidiClipOnTheirOwnLane) {
    uint64_t midiTrack = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        midiTrack = engine.project.addTrack(TrackType::Midi, "Keys")->id;
    }
    EXPECT_EQ(placeRecordedNotes(engine, midiTrack, {}, 0, 1000).clipId, 0u);
    EXPECT_EQ(placeRecordedNotes(engine, trackId, {MidiNote{}}, 0, 1000).clipId, 0u);
    MidiNote note;
    note.pitch = 64;
    note.start = 100;
    note.length = 5000;
    const auto first = placeRecordedNotes(engine, midiTrack, {note}, 2400, 1000);
    const auto second = placeRecordedNotes(engine, midiTrack, {note}, 2400, 9000);
    std::lock_guard lock(engine.projectMutex);
    const auto a = engine.project.findClip(first.clipId);
    const auto b = engine.project.findClip(second.clipId);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->kind, ClipKind::Midi);
    EXPECT_EQ(a->arrangeStart, 2400);
    EXPECT_EQ(a->length, 5100); // the held note is not cut
    EXPECT_EQ(b->length, 9000);
    EXPECT_EQ(a->notes, std::vector<MidiNote>{note});
    EXPECT_EQ(b->takeLane, 1);
    EXPECT_FALSE(a->takeActive);
    EXPECT_TRUE(b->takeActive);
}

TEST_F(Recording, ACycledMidiTakeGivesOneClipPerPassThatHoldsNotes) {
    uint64_t keys = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        keys = engine.project.addTrack(TrackType::Midi, "Keys")->id;
    }
    const auto note = [](int32_t pitch, int64_t start, int64_t length) {
        MidiNote made;
        made.pitch = pitch;
        made.start = start;
        made.length = length;
        return made;
    };
    // Recorded from 500 with the cycle at 1000…2000: notes timed from 500, jumps unrolled.
    const std::vector<MidiNote> notes{note(60, 100, 50),  note(62, 600, 100), note(64, 1550, 100),
                                      note(65, 1900, 50), note(67, 3650, 400)};
    EXPECT_FALSE(placeCyclePassNotes(engine, keys, notes, 500, 2700)); // no cycle running
    setCycle(1000, 2000);
    EXPECT_FALSE(placeCyclePassNotes(engine, keys, notes, 500, 1000)); // not one whole pass
    const auto outcome = placeCyclePassNotes(engine, keys, notes, 500, 3700);
    ASSERT_TRUE(outcome);
    const auto takes = clipsOf(keys);
    // The note before the cycle is dropped; the third pass holds nothing and adds no clip.
    ASSERT_EQ(takes.size(), 3u);
    EXPECT_EQ(outcome->clipId, takes.back()->id);
    const std::vector<std::vector<MidiNote>> expected{
        {note(62, 100, 100)}, {note(64, 50, 100), note(65, 400, 50)}, {note(67, 150, 400)}};
    for (std::size_t pass = 0; pass < takes.size(); ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(takes[pass]->arrangeStart, 1000);
        EXPECT_EQ(takes[pass]->takeLane, static_cast<int32_t>(pass));
        EXPECT_EQ(takes[pass]->takeActive, pass == 2);
        EXPECT_EQ(takes[pass]->name, "Keys Take " + std::to_string(pass + 1));
        EXPECT_EQ(takes[pass]->length, 1000);
        EXPECT_EQ(takes[pass]->notes, expected[pass]);
    }
}

TEST(RecordedNotes, AlignmentMovesNotesEarlierAndCutsWhatWasPlayedBeforeTheTake) {
    const auto note = [](int64_t start, int64_t length) {
        MidiNote made;
        made.start = start;
        made.length = length;
        return made;
    };
    std::vector<MidiNote> notes{note(1000, 500), note(100, 500), note(10, 50)};
    alignRecordedNotes(notes, 0);
    EXPECT_EQ(notes[0], note(1000, 500));
    alignRecordedNotes(notes, 300);
    EXPECT_EQ(notes[0], note(700, 500));
    ASSERT_EQ(notes.size(), 2u);       // the last was over before the take began
    EXPECT_EQ(notes[1], note(0, 300)); // begun before the take: starts with it, ends as played
}

} // namespace

namespace {

TEST(RecordingHandOff, FramesAStalledMainThreadLosesAreCountedAndReported) {
    Engine engine;
    engine.replaceProject(Project{});
    AudioDeviceEngine device(engine);
    const uint32_t null = device.deviceIdByName(nullDeviceName);
    // Opened, not started: this test is the device's audio thread.
    ASSERT_TRUE(device.applySettings(null, null, 4096)) << device.lastError;
    ASSERT_TRUE(device.beginRecording()) << device.lastError;
    constexpr int32_t block = 4096;
    std::vector<float> input(block, 0.25f), left(block), right(block);
    const std::array<const float *, 2> inputs{input.data(), input.data()};
    const std::array<float *, 2> outputs{left.data(), right.data()};
    const int32_t fits = static_cast<int32_t>(CaptureQueue::frameCapacity) / block;
    for (int32_t count = 0; count < fits + 3; ++count)
        device.renderDevice(inputs.data(), 2, outputs.data(), 2, block);
    uint64_t trackId = 0;
    const int64_t kept = device.finishRecordingIntoProject(engine, 0, &trackId, nullptr, 0, -1, -1);
    EXPECT_EQ(kept, static_cast<int64_t>(fits) * block);
    EXPECT_NE(trackId, 0u);
    EXPECT_EQ(device.lastRecordingOverflowFrames, 3u * block);
    EXPECT_EQ(device.captureOverflowFrames(), 3u * block);
    EXPECT_EQ(device.lastError, "Запись: потеряно кадров входа: 12288");
    // The next take starts its own count.
    ASSERT_TRUE(device.beginRecording());
    device.renderDevice(inputs.data(), 2, outputs.data(), 2, block);
    EXPECT_EQ(device.finishRecordingIntoProject(engine, trackId, nullptr, nullptr, 0, -1, -1),
              block);
    EXPECT_EQ(device.lastRecordingOverflowFrames, 0u);
}

TEST_F(Recording, ThePunchRangeCutsALiveLoopTakeAsItCutsAnArrangementTake) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.punchEnabled = true;
        engine.project.punchIn = 20000;
        engine.project.punchOut = 60000;
    }
    const auto outcome =
        placeRecordedTake(engine, rampTake(100000, 0), RecordingDestination{0, 0, 1, 0});
    const auto clips = clipsOf(trackId);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(outcome.clipId, clips[0]->id);
    EXPECT_EQ(clips[0]->length, 96000) << "the punched 40,000 frames fill one whole bar";
    EXPECT_FLOAT_EQ(leftAt(*clips[0], 0), 20000 * 1e-6f);
    EXPECT_FLOAT_EQ(leftAt(*clips[0], 39999), 59999 * 1e-6f);
    EXPECT_EQ(leftAt(*clips[0], 40000), 0.0f);
}

} // namespace
