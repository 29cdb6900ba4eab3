#include "app/shell/SessionState.h"
#include "app/shell/tests/WorkspaceRig.h"
#include "app/workflows/RecordingWorkflow.h"
#include "core/commands/TrackCommands.h"
#include "core/project_io/ProjectFolder.h"
#include "device/AudioDeviceEngine.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

using namespace orvane;
using namespace orvane::testing;
using namespace std::chrono_literals;

namespace {

constexpr int64_t bar = 96000; // 4/4 at 120 BPM and 48 kHz

/// Recording without a sound device: the test renders the blocks, so the count-in and the
/// MIDI take advance exactly block by block.
class RecordingWorkflowTest : public ::testing::Test {
  protected:
    WorkspaceRig rig{"recording"};
    RecordingWorkflow &recording = rig.view().recording();
    uint64_t keys = rig.addTrack(TrackType::Midi, "Keys");

    void setCountIn(int32_t bars) {
        std::lock_guard lock(rig.engine().projectMutex);
        rig.engine().project.countInBars = bars;
    }
    std::vector<uint64_t> armedTracks() {
        std::lock_guard lock(rig.engine().projectMutex);
        std::vector<uint64_t> armed;
        for (const auto &track : rig.engine().project.tracks)
            if (track->armed) armed.push_back(track->id);
        return armed;
    }
    /// Renders until the playhead reaches `position`, ticking the count-in after each block.
    int ticksUntil(int64_t position) {
        int blocks = 0;
        while (rig.engine().transport.playhead.load() < position && blocks < 1000) {
            rig.render();
            recording.tickCountIn();
            ++blocks;
        }
        return blocks;
    }
};

TEST_F(RecordingWorkflowTest, ACountInRewindsItsBarsAndStartsRecordingWhereRecordWasPressed) {
    rig.locate(bar);
    setCountIn(2);
    rig.view().selectedTrackId = keys;
    std::vector<int64_t> readAhead;
    rig.view().readAhead = [&](int64_t position) { readAhead.push_back(position); };
    recording.toggleRecording();
    EXPECT_EQ(readAhead, std::vector<int64_t>{0}) << "the pre-roll's start";
    rig.view().readAhead = nullptr;
    EXPECT_EQ(rig.ui.lastStatus(), "Отсчёт: 2 такта…");
    EXPECT_TRUE(recording.countInActive);
    EXPECT_EQ(recording.countInRecordStartSamples, bar);
    EXPECT_EQ(armedTracks(), std::vector<uint64_t>{keys});
    EXPECT_TRUE(rig.engine().transport.metronomeOn.load());
    EXPECT_TRUE(rig.view().followPlayhead);
    // The playhead still shows where record was pressed until the audio thread locates.
    recording.tickCountIn();
    EXPECT_TRUE(recording.countInActive);
    rig.render();
    EXPECT_EQ(rig.engine().transport.playhead.load(), 512)
        << "two bars back from bar 1 is never below 0";

    ticksUntil(bar - 256); // the last block before bar 1
    EXPECT_LT(rig.engine().transport.playhead.load(), bar);
    EXPECT_TRUE(recording.countInActive);
    EXPECT_FALSE(recording.isRecordingActive());
    ticksUntil(bar);
    EXPECT_FALSE(recording.countInActive);
    EXPECT_TRUE(recording.isRecordingActive());
    EXPECT_EQ(rig.ui.lastStatus(), "MIDI-запись…");

    ASSERT_TRUE(
        rig.engine().recordMidiNoteOn(62, 0.8f, rig.engine().transport.playhead.load() + 100));
    ASSERT_TRUE(
        rig.engine().recordMidiNoteOff(62, 0.0f, rig.engine().transport.playhead.load() + 4900));
    rig.render(4);
    recording.toggleRecording();
    EXPECT_EQ(rig.ui.lastStatus(), "MIDI-запись сохранена — 1 нота");
    const auto track = rig.track(keys);
    ASSERT_EQ(track->clips.size(), 1u);
    const auto &clip = *track->clips[0];
    // The take starts on the grid where recording started and holds the note from there.
    EXPECT_EQ(clip.arrangeStart % 24000, 0);
    EXPECT_GE(clip.arrangeStart, bar);
    ASSERT_EQ(clip.notes.size(), 1u);
    EXPECT_EQ(clip.notes[0].pitch, 62);
    EXPECT_EQ(rig.view().selectedClipId, clip.id);
    EXPECT_TRUE(rig.view().projectDirty);
}

// With the cycle running, each pass of a MIDI take becomes a take clip of its own at the
// cycle's start, and a key held over the jump back keeps its length.
TEST_F(RecordingWorkflowTest, ACycledMidiTakeGivesOneClipPerPass) {
    setCountIn(0);
    Engine &engine = rig.engine();
    rig.view().selectedTrackId = keys;
    rig.view().setCycle(0, bar, true);
    rig.locate(0);
    recording.toggleRecording();
    rig.render();
    ASSERT_TRUE(recording.isRecordingActive());
    const auto key = [&](int32_t pitch, int64_t on, int64_t off) {
        ASSERT_TRUE(engine.recordMidiNoteOn(pitch, 0.8f, on));
        ASSERT_TRUE(engine.recordMidiNoteOff(pitch, 0.0f, off));
    };
    key(60, 100, 1100);
    while (engine.transport.playhead.load() < bar - 3000)
        rig.render();
    ASSERT_TRUE(engine.recordMidiNoteOn(64, 0.8f, bar - 1000));
    while (engine.transport.playhead.load() >= bar - 3000)
        rig.render(); // past the jump back to the cycle's start
    const int64_t afterJump = engine.transport.playhead.load();
    ASSERT_TRUE(engine.recordMidiNoteOff(64, 0.0f, afterJump + 500));
    key(67, afterJump + 2000, afterJump + 3000);
    rig.render(10);
    recording.toggleRecording();

    const auto track = rig.track(keys);
    ASSERT_EQ(track->clips.size(), 2u) << rig.ui.lastStatus();
    const Clip &first = *track->clips[0], &second = *track->clips[1];
    EXPECT_EQ(first.arrangeStart, 0);
    EXPECT_EQ(second.arrangeStart, 0);
    EXPECT_EQ(second.takeLane, first.takeLane + 1);
    EXPECT_FALSE(first.takeActive);
    EXPECT_TRUE(second.takeActive);
    ASSERT_EQ(first.notes.size(), 2u);
    EXPECT_EQ(first.notes[0].start, 100);
    EXPECT_EQ(first.notes[1].pitch, 64);
    EXPECT_EQ(first.notes[1].length, afterJump + 1500);
    ASSERT_EQ(second.notes.size(), 1u);
    EXPECT_EQ(second.notes[0].start, afterJump + 2000);
    EXPECT_EQ(rig.ui.lastStatus(), "MIDI-запись сохранена — 1 нота");
}

// Every armed MIDI track hears the keys, so every one keeps the take, in and out of a cycle.
TEST_F(RecordingWorkflowTest, EveryArmedMidiTrackKeepsTheNotesItHeard) {
    setCountIn(0);
    Engine &engine = rig.engine();
    const uint64_t pads = rig.addTrack(TrackType::Midi, "Pads");
    const uint64_t unarmed = rig.addTrack(TrackType::Midi, "Bass");
    rig.view().setTrackArmed(keys, true);
    rig.view().setTrackArmed(pads, true);
    for (const bool cycled : {false, true}) {
        SCOPED_TRACE(cycled ? "cycling" : "straight");
        rig.view().setCycle(0, bar, cycled);
        rig.locate(0);
        rig.view().selectedTrackId = keys;
        recording.toggleRecording();
        rig.render();
        ASSERT_TRUE(recording.isRecordingActive());
        ASSERT_TRUE(engine.recordMidiNoteOn(60, 0.8f, 100));
        ASSERT_TRUE(engine.recordMidiNoteOff(60, 0.0f, 2100));
        if (cycled) {
            while (engine.transport.playhead.load() < bar - 3000)
                rig.render();
            while (engine.transport.playhead.load() >= bar - 3000)
                rig.render(); // past the jump back to the cycle's start
            const int64_t afterJump = engine.transport.playhead.load();
            ASSERT_TRUE(engine.recordMidiNoteOn(64, 0.8f, afterJump + 100));
            ASSERT_TRUE(engine.recordMidiNoteOff(64, 0.0f, afterJump + 2100));
        }
        rig.render(10);
        recording.toggleRecording();
        ASSERT_FALSE(recording.isRecordingActive());
    }
    for (const uint64_t id : {keys, pads}) {
        const auto track = rig.track(id);
        SCOPED_TRACE(track->name);
        ASSERT_EQ(track->clips.size(), 3u) << "the straight take and one a pass";
        std::vector<int> pitches;
        for (const auto &clip : track->clips) {
            ASSERT_EQ(clip->notes.size(), 1u);
            EXPECT_EQ(clip->notes[0].length, 2000);
            pitches.push_back(clip->notes[0].pitch);
        }
        EXPECT_EQ(pitches, (std::vector<int>{60, 60, 64}));
    }
    EXPECT_TRUE(rig.track(unarmed)->clips.empty()) << "a track not armed records nothing";
}

TEST_F(RecordingWorkflowTest, PressingRecordDuringTheCountInCancelsIt) {
    setCountIn(1);
    rig.view().selectedTrackId = keys;
    rig.locate(bar);
    recording.toggleRecording();
    rig.render();
    recording.toggleRecording();
    EXPECT_EQ(rig.ui.lastStatus(), "Отсчёт отменён");
    ticksUntil(bar + 512);
    EXPECT_FALSE(recording.isRecordingActive());
    EXPECT_TRUE(rig.track(keys)->clips.empty());
}

TEST_F(RecordingWorkflowTest, AMidiTakeWithoutNotesAddsNothing) {
    setCountIn(0);
    rig.view().selectedTrackId = keys;
    recording.toggleRecording();
    EXPECT_EQ(rig.ui.lastStatus(), "MIDI-запись…");
    rig.render(3);
    recording.toggleRecording();
    EXPECT_EQ(rig.ui.lastStatus(), "MIDI-запись пуста");
    EXPECT_TRUE(rig.track(keys)->clips.empty());
    EXPECT_FALSE(recording.isRecordingActive());
}

TEST_F(RecordingWorkflowTest, QuittingDuringATakeAsksKeepsTheTakeAndItsAutosave) {
    setCountIn(0);
    rig.view().selectedTrackId = keys;
    const auto recordOneNote = [this] {
        rig.render(); // carries out the stop of an earlier take
        recording.toggleRecording();
        ASSERT_TRUE(recording.isRecordingActive());
        EXPECT_TRUE(rig.view().projectDirty) << "a running take is an unsaved change";
        ASSERT_TRUE(
            rig.engine().recordMidiNoteOn(60, 0.8f, rig.engine().transport.playhead.load() + 10));
        ASSERT_TRUE(
            rig.engine().recordMidiNoteOff(60, 0.0f, rig.engine().transport.playhead.load() + 900));
        rig.render(3);
    };
    // Answering the quit question with "Отмена" leaves the application running with the
    // take kept, not lost and not still recording.
    recordOneNote();
    rig.ui.alertAnswers.push_back("Отмена");
    EXPECT_FALSE(rig.application().shouldTerminate());
    ASSERT_EQ(rig.ui.alerts.size(), 1u);
    EXPECT_EQ(rig.ui.alerts[0].title, "Выйти из Halvora?");
    EXPECT_FALSE(recording.isRecordingActive());
    EXPECT_EQ(rig.track(keys)->clips.size(), 1u);
    EXPECT_TRUE(rig.view().projectDirty);

    // A shutdown that finds a take running keeps it in an autosave offered at the next start.
    recordOneNote();
    rig.application().willTerminate();
    EXPECT_TRUE(recoverySnapshotExists());
    EXPECT_FALSE(readSessionMeta().cleanShutdown);
    const auto autosaved = project_io::loadProject(autosaveBundlePath().string());
    ASSERT_TRUE(autosaved);
    const auto track = autosaved->findTrack(keys);
    ASSERT_TRUE(track);
    EXPECT_EQ(track->clips.size(), 2u);
}

TEST_F(RecordingWorkflowTest, WithoutATargetAnAudioTrackIsAddedAndArmed) {
    setCountIn(0);
    rig.view().selectedTrackId = 0;
    const std::size_t before = rig.trackCount();
    recording.toggleRecording();
    ASSERT_EQ(rig.trackCount(), before + 1);
    const uint64_t added = rig.view().selectedTrackId;
    EXPECT_EQ(rig.track(added)->type, TrackType::Audio);
    EXPECT_TRUE(rig.ui.showedStatus("Добавлена пустая аудиодорожка (R — запись)"));
    EXPECT_EQ(armedTracks(), std::vector<uint64_t>{added});
    // Without a running device there is no input to capture.
    EXPECT_EQ(rig.ui.lastStatus(), "Устройство ввода недоступно");
    EXPECT_FALSE(recording.isRecordingActive());
    EXPECT_FALSE(recording.stopRecordingAndSaveClip());

    // The armed track wins over the selection from now on.
    rig.view().selectedTrackId = keys;
    EXPECT_EQ(recording.armedOrSelectedRecordTrackId(), added);
}

TEST_F(RecordingWorkflowTest, LiveLoopRecordsIntoTheHoveredSlotsColumnOnTheSessionTab) {
    setCountIn(0);
    const uint64_t loops = rig.addTrack(TrackType::Audio, "Loops");
    int32_t column = -1;
    {
        std::lock_guard lock(rig.engine().projectMutex);
        const auto &tracks = rig.engine().project.tracks;
        for (std::size_t i = 0; i < tracks.size(); ++i)
            if (tracks[i]->id == loops) column = static_cast<int32_t>(i);
    }
    recording.toggleLiveLoop();
    recording.hoveredSessionRow = 2;
    recording.hoveredSessionCol = column;
    rig.view().selectedTrackId = keys;
    rig.view().tab = OVMainView::Tab::Timeline;
    recording.startActualRecordingOnTrack(keys);
    EXPECT_FALSE(recording.sessionRecordSlotValid) << "only on the session tab";
    EXPECT_EQ(rig.ui.lastStatus(), "MIDI-запись…");
    recording.toggleRecording();
    EXPECT_EQ(rig.ui.lastStatus(), "MIDI-запись пуста");
    rig.render(); // the transport takes the stop

    rig.view().tab = OVMainView::Tab::Session;
    recording.toggleRecording();
    EXPECT_EQ(rig.view().tab, OVMainView::Tab::Session);
    EXPECT_TRUE(recording.sessionRecordSlotValid);
    EXPECT_EQ(recording.sessionRecordRow, 2);
    EXPECT_EQ(recording.sessionRecordCol, column);
    EXPECT_EQ(recording.recordingTargetTrackId, loops);
    // An audio column needs the device's input, which this rig does not have.
    EXPECT_EQ(rig.ui.lastStatus(), "Устройство ввода недоступно");

    recording.hoveredSessionCol = 99;
    recording.startActualRecordingOnTrack(keys);
    EXPECT_FALSE(recording.sessionRecordSlotValid) << "a column beyond the tracks has no track";
    EXPECT_EQ(recording.recordingTargetTrackId, keys);
    recording.toggleRecording();
    EXPECT_EQ(rig.ui.lastStatus(), "MIDI-запись пуста");
}

TEST_F(RecordingWorkflowTest, SwitchesShowTheirState) {
    struct Row {
        std::function<void()> press;
        std::vector<std::string> texts;
    };
    const Row rows[] = {
        {[&] { recording.togglePunch(); }, {"Punch вкл — [ ] границы", "Punch выкл"}},
        {[&] { recording.toggleSessionOverdub(); },
         {"Session overdub вкл — ⌘R записывает в клип", "Session overdub выкл"}},
        {[&] { recording.toggleLiveLoop(); },
         {"Live Loop вкл — ⌘R записывает в слот Session (⌃⇧R)", "Live Loop выкл"}},
    };
    for (const Row &row : rows)
        for (const auto &text : row.texts) {
            row.press();
            EXPECT_EQ(rig.ui.lastStatus(), text);
        }
    rig.locate(1000);
    recording.setPunchInAtPlayhead();
    rig.locate(5000);
    recording.setPunchOutAtPlayhead();
    EXPECT_EQ(rig.engine().project.punchIn, 1000);
    EXPECT_EQ(rig.engine().project.punchOut, 5000);
}

/// The application on a private JACK server with a test client feeding its inputs.
class JackRecordingWorkflowTest : public ::testing::Test {
  protected:
    TemporaryHome home{"jack_recording"};
    JackServer server{256};
    ScriptedUi ui;
    std::unique_ptr<OVApplication> app;

    void SetUp() override {
        ASSERT_TRUE(server.ready()) << server.failure();
        home.rememberOutputDevice(jackDeviceName);
        app = std::make_unique<OVApplication>(ui);
        app->didFinishLaunching(true);
        ASSERT_TRUE(app->audioRunning()) << app->audio().lastError;
    }
    void TearDown() override { app.reset(); }

    /// A client that feeds 0.25 into Halvora's left input and -0.25 into its right one.
    void feedInput(JackTestClient &feeder) {
        ASSERT_TRUE(feeder.ok()) << feeder.error();
        feeder.preparePlayback(
            {std::vector<float>(10 * 48000, 0.25f), std::vector<float>(10 * 48000, -0.25f)});
        ASSERT_TRUE(feeder.activate());
        ASSERT_TRUE(feeder.connect(feeder.playPort(0), "Halvora:in_1"));
        ASSERT_TRUE(feeder.connect(feeder.playPort(1), "Halvora:in_2"));
        feeder.startPlaying();
    }
    /// The last audio track and its column in the session grid.
    std::pair<uint64_t, int32_t> lastAudioTrack() {
        std::lock_guard lock(app->engine().projectMutex);
        const auto &tracks = app->engine().project.tracks;
        std::pair<uint64_t, int32_t> found{0, -1};
        for (std::size_t i = 0; i < tracks.size(); ++i)
            if (tracks[i]->type == TrackType::Audio)
                found = {tracks[i]->id, static_cast<int32_t>(i)};
        return found;
    }

    /// Runs the user-interface tick until `done` holds (10 s at most).
    template <typename Condition> bool tickUntil(Condition done) {
        const auto giveUp = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < giveUp) {
            app->onTick();
            std::this_thread::yield();
        }
        return done();
    }
};

TEST_F(JackRecordingWorkflowTest, TheKeptTakeHoldsTheFedInputAfterTheCountIn) {
    JackTestClient feeder("feeder", 0, 2);
    feedInput(feeder);
    Engine &engine = app->engine();
    OVMainView &view = app->view();
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.countInBars = 1;
        engine.project.tempoBpm = 240.0; // a bar of 1 s keeps the count-in short
        engine.project.tempoMarkers.clear();
        engine.publishGraph();
    }
    const uint64_t target = lastAudioTrack().first;
    ASSERT_NE(target, 0u);
    const int64_t barFrames = engine.barLengthSamples();
    ASSERT_EQ(barFrames, 48000);
    view.selectedTrackId = target;

    ASSERT_TRUE(engine.pushRequest(RequestProducer::MainThread, Request::locate(barFrames)));
    ASSERT_TRUE(tickUntil([&] { return engine.transport.playhead.load() == barFrames; }));

    RecordingWorkflow &recording = view.recording();
    recording.toggleRecording();
    EXPECT_EQ(ui.lastStatus(), "Отсчёт: 1 такт…");
    ASSERT_TRUE(tickUntil([&] { return engine.transport.playhead.load() < barFrames; }));
    EXPECT_TRUE(recording.countInActive) << "the count-in plays from bar 0";
    ASSERT_TRUE(tickUntil([&] { return recording.isRecordingActive(); }));
    // Recording began only once the bar of count-in had played.
    EXPECT_GE(engine.transport.playhead.load(), barFrames);
    EXPECT_EQ(ui.lastStatus(), "Запись с «" + app->audio().inputDeviceName + "»…");
    const int64_t startedAt = engine.transport.playhead.load();
    ASSERT_TRUE(tickUntil([&] { return engine.transport.playhead.load() >= startedAt + 24000; }));

    recording.toggleRecording();
    ASSERT_FALSE(recording.isRecordingActive());
    const std::string saved = ui.lastStatus();
    ASSERT_EQ(saved.rfind("Запись сохранена — ", 0), 0u) << saved;
    const auto track = [&] {
        std::lock_guard lock(engine.projectMutex);
        return engine.project.findTrack(target);
    }();
    ASSERT_EQ(track->clips.size(), 1u);
    const Clip &take = *track->clips[0];
    EXPECT_EQ(view.selectedClipId, take.id);
    EXPECT_TRUE(track->armed);
    EXPECT_GE(take.length, 20000);
    EXPECT_EQ(saved, "Запись сохранена — " + std::to_string(take.length) + " сэмплов");
    // Where the take sits: the count-in's end less the device's round trip, give or take
    // the time the tick took to notice it on a busy machine (0.1 s).
    EXPECT_GE(take.arrangeStart + app->audio().roundTripLatencyFrames(), barFrames);
    EXPECT_LE(take.arrangeStart, barFrames + 4800);
    // The middle of the take is the fed signal (plus the dummy driver's silent capture).
    const auto &samples = *take.audio;
    const std::size_t middle = samples.size() / 4 * 2;
    EXPECT_FLOAT_EQ(samples[middle], 0.25f);
    EXPECT_FLOAT_EQ(samples[middle + 1], -0.25f);
}

TEST_F(JackRecordingWorkflowTest, TwoArmedTracksRecordTheirOwnInputPairsOnTheSameFrames) {
    // 0.25/-0.25 into the first pair, 0.5/-0.5 into the second.
    JackTestClient feeder("feeder", 0, 4);
    ASSERT_TRUE(feeder.ok()) << feeder.error();
    const std::size_t length = 10 * 48000;
    feeder.preparePlayback({std::vector<float>(length, 0.25f), std::vector<float>(length, -0.25f),
                            std::vector<float>(length, 0.5f), std::vector<float>(length, -0.5f)});
    ASSERT_TRUE(feeder.activate());
    Engine &engine = app->engine();
    OVMainView &view = app->view();
    uint64_t first = 0, second = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.countInBars = 0;
        first = lastAudioTrack().first;
    }
    ASSERT_NE(first, 0u);
    view.executeEdit(std::make_unique<AddTrackCommand>(TrackType::Audio, "Second"));
    second = lastAudioTrack().first;
    ASSERT_NE(second, first);
    view.executeEdit(std::make_unique<SetTrackArmedCommand>(first, true));
    view.executeEdit(std::make_unique<SetTrackArmedCommand>(second, true));
    view.executeEdit(std::make_unique<SetTrackInputPairCommand>(second, 1));
    view.selectedTrackId = first;

    RecordingWorkflow &recording = view.recording();
    recording.toggleRecording();
    // The device was opened again with the second pair; its ports exist from now on.
    ASSERT_EQ(app->audio().capturedInputPairs(), 2) << ui.lastStatus();
    for (int port = 0; port < 4; ++port)
        ASSERT_TRUE(
            feeder.connect(feeder.playPort(port), "Halvora:in_" + std::to_string(port + 1)));
    feeder.startPlaying();
    ASSERT_TRUE(tickUntil([&] { return recording.isRecordingActive(); }));
    const int64_t startedAt = engine.transport.playhead.load();
    ASSERT_TRUE(tickUntil([&] { return engine.transport.playhead.load() >= startedAt + 24000; }));
    recording.toggleRecording();
    EXPECT_NE(ui.lastStatus().find("(+1"), std::string::npos) << ui.lastStatus();

    std::lock_guard lock(engine.projectMutex);
    const auto a = engine.project.findTrack(first), b = engine.project.findTrack(second);
    ASSERT_EQ(a->clips.size(), 1u);
    ASSERT_EQ(b->clips.size(), 1u);
    const Clip &takeA = *a->clips[0], &takeB = *b->clips[0];
    EXPECT_EQ(takeA.arrangeStart, takeB.arrangeStart) << "sample-aligned";
    EXPECT_EQ(takeA.length, takeB.length);
    const std::size_t middle = takeA.audio->size() / 4 * 2;
    EXPECT_FLOAT_EQ((*takeA.audio)[middle], 0.25f);
    EXPECT_FLOAT_EQ((*takeB.audio)[middle], 0.5f);
    EXPECT_FLOAT_EQ((*takeB.audio)[middle + 1], -0.5f);
}

TEST_F(JackRecordingWorkflowTest, ALiveLoopTakeFillsTheHoveredSessionSlot) {
    JackTestClient feeder("feeder", 0, 2);
    feedInput(feeder);
    Engine &engine = app->engine();
    OVMainView &view = app->view();
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.countInBars = 0;
    }
    const auto [target, column] = lastAudioTrack();
    ASSERT_GE(column, 0);
    RecordingWorkflow &recording = view.recording();
    recording.toggleLiveLoop();
    view.tab = OVMainView::Tab::Session;
    view.selectedClipId = 0;
    recording.hoveredSessionRow = 1;
    recording.hoveredSessionCol = column;
    const std::string slot = "Live Loop R1 C" + std::to_string(column);

    recording.toggleRecording();
    ASSERT_TRUE(recording.isRecordingActive()) << ui.lastStatus();
    EXPECT_EQ(ui.lastStatus(), slot + " — «" + app->audio().inputDeviceName + "»…");
    ASSERT_TRUE(tickUntil([&] { return engine.transport.playhead.load() >= 24000; }));
    recording.toggleRecording();

    std::shared_ptr<Clip> take;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &clip : engine.project.findTrack(target)->clips)
            if (clip->sessionRow == 1 && clip->sessionCol == column) take = clip;
    }
    ASSERT_TRUE(take) << ui.lastStatus();
    EXPECT_EQ(ui.lastStatus(), slot + " — " + std::to_string(take->length) + " сэмплов");
    EXPECT_EQ(view.tab, OVMainView::Tab::Session);
    EXPECT_EQ(view.selectedClipId, take->id);
    // A loop lasts whole bars; the input sits at its start, the rest of the bar is silent.
    EXPECT_EQ(take->length % engine.barLengthSamples(), 0);
    ASSERT_GT(take->audioFrameCount(), 12000);
    EXPECT_FLOAT_EQ((*take->audio)[2 * 12000], 0.25f);
    EXPECT_FLOAT_EQ((*take->audio)[2 * 12000 + 1], -0.25f);
}

} // namespace
