#include "core/project_io/ProjectFolder.h"
#include "device/AudioDeviceEngine.h"
#include "device/tests/DeviceTestSupport.h"
#include "device/tests/JackEcho.h"
#include "device/tests/SpooledWav.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;

namespace {

constexpr double rate = 48000.0;
constexpr int32_t period = 256;
/// Where the click plays on the timeline; the player answers it.
constexpr int64_t clickAt = 24000;
/// The player's reaction, reported as its ports' capture latency.
constexpr int64_t echoDelay = 2048;
/// A step the 16-bit media files hold exactly, so saved takes read back bit for bit.
constexpr double mediaStep = 1.0 / 32767.0;
/// A step a float holds exactly for every frame a test records, so that a take's frames say
/// which captured frame they are.
constexpr double rampStep = 1.0 / 524288.0;

/// The `n`th value of a signal rising by `step` from `step`, as a float.
float stepValue(int64_t n, double step) {
    return static_cast<float>(static_cast<double>(n + 1) * step);
}

/// 48 kHz project: a click at `clickAt` on "Click", an empty audio track "Vox" to record
/// into and a MIDI track "Keys".
Project recordingProject() {
    Project project;
    project.sampleRate = rate;
    auto click = project.addTrack(TrackType::Audio, "Click");
    auto clip = project.addClip(click->id, ClipKind::Audio);
    std::vector<float> samples(4800 * 2, 0.0f);
    samples[0] = samples[1] = 0.5f;
    clip->audio = std::make_shared<const std::vector<float>>(std::move(samples));
    clip->length = 4800;
    clip->arrangeStart = clickAt;
    project.addTrack(TrackType::Audio, "Vox");
    project.addTrack(TrackType::Midi, "Keys");
    return project;
}

std::vector<float> steps(int64_t frames, double step, float sign) {
    std::vector<float> values(static_cast<std::size_t>(frames));
    for (int64_t i = 0; i < frames; ++i)
        values[static_cast<std::size_t>(i)] = sign * stepValue(i, step);
    return values;
}

/// A fresh folder under the system's temporary folder, removed with everything in it.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "halvora-recording-XXXXXX").string();
        if (::mkdtemp(pattern.data())) folder = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;
    const std::string &path() const { return folder; }

  private:
    std::string folder;
};

class JackRecording : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.ready()) << server.failure();
        engine.replaceProject(recordingProject());
        vox = engine.project.tracks[1]->id;
        keys = engine.project.tracks[2]->id;
        device.connectPorts = false;
        device.setRenderObserver(&observer);
        const uint32_t jack = device.deviceIdByName(jackDeviceName);
        ASSERT_NE(jack, 0u);
        ASSERT_TRUE(device.applySettings(jack, jack, period)) << device.lastError;
    }

    /// Starts the device with the transport stopped (its ports take connections only from
    /// then on).
    void startDevice() { ASSERT_TRUE(device.start()) << device.lastError; }

    /// Records, then plays from the top (with a cycle when asked) a few blocks later, as the
    /// window does: record is pressed before the start request reaches the audio thread.
    void startRecording(const Request &cycle = Request::setCycle(0, 0, false)) {
        ASSERT_TRUE(device.beginRecording()) << device.lastError;
        ASSERT_TRUE(observer.waitForBlocks(3, 10s));
        ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, cycle));
        ASSERT_TRUE(playFromStart(engine));
    }

    /// Lets `frames` more frames pass, moving captured input to the recording as the
    /// application's tick does.
    void recordFor(int64_t frames) {
        const uint64_t end = device.renderedFrames() + static_cast<uint64_t>(frames);
        while (device.renderedFrames() < end) {
            ASSERT_TRUE(observer.waitForBlocks(1, 10s));
            device.drainCapture();
        }
    }

    std::shared_ptr<Clip> clip(uint64_t id) {
        std::lock_guard lock(engine.projectMutex);
        return engine.project.findClip(id);
    }

    std::vector<std::shared_ptr<Clip>> clipsOf(uint64_t trackId) {
        std::lock_guard lock(engine.projectMutex);
        return engine.project.findTrack(trackId)->clips;
    }

    /// A player that sends a ramp into each of Halvora's first `pairs` input pairs from before
    /// the first block: pair p rises by (p + 1) steps a frame on its left, falls on its right.
    void playRampIntoInputs(JackTestClient &player, int64_t frames, int32_t pairs = 1) {
        ASSERT_TRUE(player.ok()) << player.error();
        std::vector<std::vector<float>> channels;
        for (int32_t pair = 0; pair < pairs; ++pair) {
            channels.push_back(steps(frames, (pair + 1) * rampStep, 1.0f));
            channels.push_back(steps(frames, (pair + 1) * rampStep, -1.0f));
        }
        player.preparePlayback(std::move(channels));
        ASSERT_TRUE(player.activate());
        for (int32_t port = 0; port < 2 * pairs; ++port)
            ASSERT_TRUE(player.connect(player.playPort(port),
                                       "Halvora:in_" + std::to_string(port + 1)));
        player.startPlaying();
        const uint64_t periods = player.periods();
        const auto giveUp = std::chrono::steady_clock::now() + 10s;
        while (player.periods() < periods + 2 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::yield();
        ASSERT_GE(player.periods(), periods + 2);
    }

    JackServer server{period};
    Engine engine;
    CountingObserver observer;
    AudioDeviceEngine device{engine};
    uint64_t vox = 0, keys = 0;
};

TEST_F(JackRecording, ATakeKeepsTheLatencyItWasPlayedWithWhenThePlayerLeavesBeforeTheEnd) {
    const int64_t length = 4000;
    auto echo = std::make_unique<JackEcho>(
        echoDelay,
        std::vector<std::vector<float>>{steps(length, mediaStep, 1.0f),
                                        steps(length, mediaStep, -1.0f)},
        std::vector<TestMidiEvent>{});
    ASSERT_TRUE(echo->ok()) << echo->error();
    startDevice();
    ASSERT_TRUE(echo->activateAndConnect("Halvora:out_1", "Halvora:in_1", "Halvora:in_2",
                                         "Halvora:midi_in"));
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (device.roundTripLatencyFrames() != echoDelay && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(5ms);
    startRecording();
    ASSERT_TRUE(echo->waitUntilPlayed(20s));
    ASSERT_TRUE(observer.waitForBlocks(4, 10s));
    echo.reset();
    ASSERT_TRUE(observer.waitForBlocks(4, 10s));
    ASSERT_EQ(device.roundTripLatencyFrames(), 0) << "the player's ports are gone";
    uint64_t clipId = 0;
    ASSERT_GT(device.finishRecordingIntoProject(engine, vox, nullptr, &clipId, 0, -1, -1), 0);
    const auto take = clip(clipId);
    ASSERT_TRUE(take);
    const int64_t first = clickAt - take->arrangeStart;
    ASSERT_GE(first, 1);
    ASSERT_LE(first + length, take->length);
    EXPECT_EQ((*take->audio)[2 * (first - 1)], 0.0f);
    EXPECT_EQ((*take->audio)[2 * first], stepValue(0, mediaStep));
    EXPECT_EQ((*take->audio)[2 * (first + length - 1)], stepValue(length - 1, mediaStep));
}

TEST_F(JackRecording, ATakeLandsWhereItWasPlayedSampleForSampleWithItsNotesAndReloadsBitForBit) {
    const int64_t length = 12000;
    JackEcho echo(echoDelay, {steps(length, mediaStep, 1.0f), steps(length, mediaStep, -1.0f)},
                  {{100, {0x90, 60, 100}},
                   {5100, {0x80, 60, 0}},
                   {7001, {0x91, 64, 90}},
                   {9003, {0x91, 64, 0}}});
    ASSERT_TRUE(echo.ok()) << echo.error();
    ASSERT_TRUE(engine.beginMidiRecording(0));
    startDevice();
    startRecording();
    ASSERT_TRUE(echo.activateAndConnect("Halvora:out_1", "Halvora:in_1", "Halvora:in_2",
                                        "Halvora:midi_in"));
    ASSERT_TRUE(echo.waitUntilPlayed(20s));
    ASSERT_TRUE(observer.waitForBlocks(4, 10s));
    EXPECT_EQ(device.roundTripLatencyFrames(), echoDelay);
    EXPECT_EQ(device.midiInputLatencyFrames(), echoDelay);
    auto notes = engine.endMidiRecording(engine.transport.playhead.load());
    alignRecordedNotes(notes, device.midiInputLatencyFrames());
    uint64_t trackId = 0, clipId = 0;
    const int64_t kept =
        device.finishRecordingIntoProject(engine, vox, &trackId, &clipId, 0, -1, -1);
    ASSERT_GT(kept, 0);
    EXPECT_EQ(trackId, vox);
    EXPECT_EQ(device.lastRecordingOverflowFrames, 0u);
    EXPECT_EQ(observer.allocations.load(), 0u);
    EXPECT_EQ(observer.frees.load(), 0u);

    // The player answered the click after its reported latency: aligned, its first frame
    // sits on the click, and every frame after it is the one it played.
    const auto take = clip(clipId);
    ASSERT_TRUE(take);
    const int64_t first = clickAt - take->arrangeStart;
    ASSERT_GE(first, 0);
    ASSERT_LE(first + length, take->length);
    const auto &audio = *take->audio;
    for (int64_t frame = 0; frame < first; ++frame)
        ASSERT_EQ(audio[2 * frame], 0.0f) << "frame " << frame;
    for (int64_t i = 0; i < length; ++i) {
        ASSERT_EQ(audio[2 * (first + i)], stepValue(i, mediaStep)) << i;
        ASSERT_EQ(audio[2 * (first + i) + 1], -stepValue(i, mediaStep)) << i;
    }

    // Aligned by the MIDI input's latency, the notes sit where they were played against the
    // click, at their frames inside the block, not at the block's start.
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].pitch, 60);
    EXPECT_EQ(notes[0].start, clickAt + 100);
    EXPECT_EQ(notes[0].length, 5000);
    EXPECT_EQ(notes[1].pitch, 64);
    EXPECT_EQ(notes[1].start, clickAt + 7001);
    EXPECT_EQ(notes[1].length, 2002);

    TemporaryFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string path = folder.path() + "/take.halvora";
    {
        std::lock_guard lock(engine.projectMutex);
        ASSERT_TRUE(project_io::saveProject(engine.project, path, false).ok);
    }
    auto reloaded = project_io::loadProject(path);
    ASSERT_TRUE(reloaded);
    ASSERT_TRUE(project_io::hydrateProjectMedia(*reloaded));
    const auto again = reloaded->findClip(clipId);
    ASSERT_TRUE(again && again->audio);
    EXPECT_EQ(again->arrangeStart, take->arrangeStart);
    ASSERT_EQ(again->audio->size(), audio.size());
    for (std::size_t i = 0; i < static_cast<std::size_t>(audio.size()); ++i)
        ASSERT_EQ((*again->audio)[i], audio[i]) << "sample " << i;
}

TEST_F(JackRecording, CycleRecordingGivesOneTakePerPass) {
    constexpr int64_t cycle = 96 * period;
    startDevice();
    JackTestClient player("player", 0, 2);
    playRampIntoInputs(player, 400000);
    // The capture starts within the first cycle's length; the cycle starts after it.
    startRecording(Request::setCycle(cycle, 2 * cycle, true));
    recordFor(cycle + 2 * cycle + cycle / 2);
    uint64_t clipId = 0;
    ASSERT_GT(device.finishRecordingIntoProject(engine, vox, nullptr, &clipId, 0, -1, -1), 0);
    EXPECT_LT(device.recordStartSample, cycle / 4);
    const auto takes = clipsOf(vox);
    ASSERT_EQ(takes.size(), 3u);
    EXPECT_EQ(takes.back()->id, clipId);
    for (std::size_t pass = 0; pass < takes.size(); ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(takes[pass]->arrangeStart, cycle);
        EXPECT_EQ(takes[pass]->takeLane, static_cast<int32_t>(pass));
        EXPECT_EQ(takes[pass]->takeActive, pass == 2);
        // Each pass carries on where the last one ended.
        const float expected = (*takes[0]->audio)[0] + static_cast<float>(pass * cycle * rampStep);
        EXPECT_EQ((*takes[pass]->audio)[0], expected);
    }
    EXPECT_EQ(takes[0]->length, cycle);
    EXPECT_EQ(takes[1]->length, cycle);
    EXPECT_GT(takes[2]->length, cycle / 4);
    EXPECT_EQ(observer.allocations.load(), 0u);
}

TEST_F(JackRecording, PunchRecordsOnlyInsideTheRange) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.punchEnabled = true;
        engine.project.punchIn = 12000;
        engine.project.punchOut = 36000;
    }
    startDevice();
    JackTestClient player("player", 0, 2);
    playRampIntoInputs(player, 400000);
    startRecording();
    recordFor(60000);
    uint64_t clipId = 0;
    EXPECT_EQ(device.finishRecordingIntoProject(engine, vox, nullptr, &clipId, 0, -1, -1), 24000);
    const auto takes = clipsOf(vox);
    ASSERT_EQ(takes.size(), 1u);
    EXPECT_EQ(takes[0]->arrangeStart, 12000);
    EXPECT_EQ(takes[0]->length, 24000);
    const auto &audio = *takes[0]->audio;
    for (int64_t i = 1; i < 24000; ++i)
        ASSERT_EQ(audio[2 * i], audio[0] + static_cast<float>(i * rampStep)) << i;

    // A second pass that ends before the punch range keeps nothing and adds nothing.
    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::locate(0)));
    ASSERT_TRUE(observer.waitForBlocks(2, 10s));
    ASSERT_TRUE(device.beginRecording());
    recordFor(2 * period);
    EXPECT_EQ(device.finishRecordingIntoProject(engine, vox, nullptr, &clipId, 0, -1, -1), 0);
    EXPECT_EQ(clipId, 0u);
    EXPECT_EQ(clipsOf(vox).size(), 1u);
}

TEST_F(JackRecording, EachInputPairRecordsItsOwnTrackOnTheSameFrames) {
    device.inputPairs = 3;
    const uint32_t jack = device.deviceIdByName(jackDeviceName);
    ASSERT_TRUE(device.applySettings(jack, jack, period)) << device.lastError;
    EXPECT_EQ(device.capturedInputPairs(), 3);
    startDevice();
    JackTestClient player("player", 0, 6);
    playRampIntoInputs(player, 400000, 3);
    startRecording();
    recordFor(20000);
    const std::vector<InputRecordingTarget> targets{
        {2, RecordingDestination{vox}}, {0, RecordingDestination{}}, {maxInputPairs, {vox}}};
    const auto outcomes = device.finishRecordingInputsIntoProject(engine, targets);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].trackId, vox);
    EXPECT_NE(outcomes[1].trackId, vox); // a new track for the first pair
    EXPECT_EQ(outcomes[2].clipId, 0u);   // a pair the device does not open records nothing
    EXPECT_EQ(device.lastRecordingOverflowFrames, 0u);
    EXPECT_EQ(observer.allocations.load(), 0u);
    const auto third = clip(outcomes[0].clipId), first = clip(outcomes[1].clipId);
    ASSERT_TRUE(third && first);
    EXPECT_GE(third->length, 20000);
    EXPECT_EQ(third->length, first->length);
    EXPECT_EQ(third->arrangeStart, first->arrangeStart);
    // Both pairs hold the player's same frames: the third pair's ramp is three times the
    // first's, frame by frame, on both sides.
    for (int64_t i = 0; i < first->length; ++i)
        for (int side = 0; side < 2; ++side)
            ASSERT_FLOAT_EQ((*third->audio)[2 * i + side], 3.0f * (*first->audio)[2 * i + side])
                << "frame " << i << " side " << side;
    EXPECT_EQ((*first->audio)[2], (*first->audio)[0] + static_cast<float>(rampStep));
}

TEST_F(JackRecording, StartingTwiceIsRefusedAndAnEmptyTakeAddsNothing) {
    ASSERT_TRUE(device.beginRecording());
    EXPECT_FALSE(device.beginRecording());
    EXPECT_EQ(device.lastError, "Запись уже идёт");
    uint64_t trackId = 7;
    // The device never ran: nothing was captured.
    EXPECT_EQ(device.finishRecordingIntoProject(engine, vox, &trackId, nullptr, 0, -1, -1), 0);
    EXPECT_EQ(trackId, 0u);
    EXPECT_TRUE(clipsOf(vox).empty());
}

TEST_F(JackRecording, ATakeOnDiskHoldsWhatWasCapturedAndItsJournalSaysWhereItLands) {
    const int64_t length = 12000;
    JackEcho echo(echoDelay, {steps(length, mediaStep, 1.0f), steps(length, mediaStep, -1.0f)}, {});
    ASSERT_TRUE(echo.ok()) << echo.error();
    TemporaryFolder project;
    ASSERT_FALSE(project.path().empty());
    device.keepTakesOnDisk(project.path(), {InputRecordingTarget{0, RecordingDestination{vox}}});
    startDevice();
    ASSERT_TRUE(echo.activateAndConnect("Halvora:out_1", "Halvora:in_1", "Halvora:in_2",
                                        "Halvora:midi_in"));
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (device.roundTripLatencyFrames() != echoDelay &&
           std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(5ms);
    startRecording();
    const std::string journalPath = device.takeJournalPath();
    ASSERT_FALSE(journalPath.empty());
    ASSERT_TRUE(echo.waitUntilPlayed(20s));
    recordFor(4 * period);

    // While it records: the journal names the take's track and file.
    std::string error;
    auto journal = readTakeJournal(journalPath, error);
    ASSERT_TRUE(journal) << error;
    ASSERT_EQ(journal->takes.size(), 1u);
    EXPECT_EQ(journal->takes[0].trackId, vox);
    EXPECT_EQ(journal->processId, static_cast<long>(::getpid()));
    const std::string file =
        (std::filesystem::path(journalPath).parent_path() / journal->takes[0].file).string();
    // A running recording is never offered as a cut-short one.
    EXPECT_TRUE(interruptedTakeJournals(project.path()).empty());

    uint64_t clipId = 0;
    ASSERT_GT(device.finishRecordingIntoProject(engine, vox, nullptr, &clipId, 0, -1, -1), 0);
    EXPECT_EQ(observer.allocations.load(), 0u);
    const auto take = clip(clipId);
    ASSERT_TRUE(take && take->audio);
    // Where the journal says the take begins is where the ordinary end placed it.
    journal = readTakeJournal(journalPath, error);
    ASSERT_TRUE(journal) << error;
    EXPECT_EQ(journal->latencyFrames, echoDelay);
    // (What was heard before the timeline's start is cut, as the take was.)
    EXPECT_EQ(std::max<int64_t>(journal->captureStart - journal->latencyFrames, 0),
              take->arrangeStart);
    // The file holds the captured frames, the take those heard from the timeline's start on.
    const SpooledWav spooled = readSpooledWav(file);
    ASSERT_TRUE(spooled.valid) << file;
    ASSERT_EQ(spooled.channels, 2);
    const int64_t cut = std::max<int64_t>(journal->latencyFrames - journal->captureStart, 0);
    ASSERT_EQ(spooled.frames() - cut, take->length);
    for (int64_t i = 0; i < take->length; ++i)
        ASSERT_EQ(spooled.samples[static_cast<std::size_t>(2 * (i + cut))], (*take->audio)[2 * i])
            << "frame " << i;

    // Kept: the journal, the file and their folder go.
    device.forgetTakesOnDisk();
    EXPECT_FALSE(std::filesystem::exists(journalPath));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(takeJournalFolder(project.path())));
}

} // namespace
