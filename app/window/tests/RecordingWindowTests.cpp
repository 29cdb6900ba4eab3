// Recording as a musician ends it: with the transport's own Stop (Space or ■), not a second
// press of record. The window runs on the null device, which keeps real time.
#include "app/shell/OVMainView.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MainWindow.h"
#include "app/window/SessionPanel.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "app/workflows/RecordingWorkflow.h"
#include "core/engine/Engine.h"
#include "device/TakeJournal.h"
#include "device/TakeSpool.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

/// The files a recording keeps beside the project (journals and takes), by name.
std::vector<std::string> takeFilesIn(const fs::path &project) {
    std::vector<std::string> names;
    std::error_code fault;
    for (const auto &entry : fs::directory_iterator(takeJournalFolder(project.string()), fault))
        names.push_back(entry.path().filename().string());
    return names;
}

/// What a program killed while recording leaves: a journal of a process that has ended and
/// a take of `frames` frames for `trackId`, begun at `start`.
void leaveCutShortTake(const fs::path &project, uint64_t trackId, int64_t start, int64_t frames) {
    const fs::path folder = takeJournalFolder(project.string());
    fs::create_directories(folder);
    const pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    TakeSpool spool;
    std::string error;
    ASSERT_TRUE(spool.open((folder / "cut-in1.wav").string(), 2, 48000.0, error)) << error;
    const std::vector<float> samples(static_cast<std::size_t>(frames * 2), 0.3f);
    spool.append(samples.data(), frames);
    ASSERT_TRUE(spool.close());
    TakeJournal journal;
    journal.processId = ended;
    journal.captureStart = start;
    journal.takes = {{0, trackId, "cut-in1.wav"}};
    ASSERT_TRUE(writeTakeJournal((folder / "cut.takes").string(), journal, error)) << error;
}

class RecordingWindowTest : public WindowTest {
  protected:
    RecordingWindowTest() : WindowTest("recording-window") {}

    void key(Qt::Key which) {
        if (!window.isActiveWindow()) {
            window.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        }
        QTest::keyClick(&window, which);
        QApplication::processEvents();
    }
    void waitForPlayheadBeyond(int64_t position) {
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return engine.transport.playhead.load() > position; }, 10000))
            << "the transport does not run";
    }
    std::vector<std::shared_ptr<Clip>> clipsOf(const std::string &name) {
        std::lock_guard lock(engine.projectMutex);
        return track(name)->clips;
    }
    /// The name of the start-up song's first track of `type`.
    std::string firstTrackOf(TrackType type) {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &candidate : engine.project.tracks)
            if (candidate->type == type) return candidate->name;
        ADD_FAILURE() << "no such track";
        return {};
    }
    void armOnly(const std::string &name) {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &candidate : engine.project.tracks)
            candidate->armed = candidate->name == name;
        view.selectedTrackId = track(name)->id;
    }
    void noCountIn() {
        std::lock_guard lock(engine.projectMutex);
        engine.project.countInBars = 0;
    }
    QToolButton &stopButton() {
        QAction *stop = window.action(QStringLiteral("Stop"));
        EXPECT_NE(stop, nullptr);
        for (QToolButton *button : window.findChildren<QToolButton *>())
            if (button->defaultAction() == stop && button->isVisible()) return *button;
        ADD_FAILURE() << "no visible ■ button";
        return *window.findChild<QToolButton *>();
    }
};

// Space during a MIDI take keeps the take up to the moment of the press: nothing played
// afterwards joins it, and record is off.
TEST_F(RecordingWindowTest, SpaceEndsAMidiTakeWhereItWasPressed) {
    noCountIn();
    const std::string keys = firstTrackOf(TrackType::Midi);
    ASSERT_NE(track(keys), nullptr);
    const std::size_t clipsBefore = clipsOf(keys).size();
    armOnly(keys);
    key(Qt::Key_R);
    ASSERT_TRUE(view.recording().isRecordingActive()) << harness.ui.lastStatus();
    const int64_t started = engine.transport.playhead.load();
    waitForPlayheadBeyond(started + 4800);
    const int64_t at = engine.transport.playhead.load();
    ASSERT_TRUE(engine.recordMidiNoteOn(64, 0.8f, at));
    ASSERT_TRUE(engine.recordMidiNoteOff(64, 0.0f, at + 2400));
    waitForPlayheadBeyond(at + 4800);

    key(Qt::Key_Space);
    const int64_t stoppedNear = engine.transport.playhead.load();
    EXPECT_FALSE(view.recording().isRecordingActive()) << "Stop leaves the take running";
    EXPECT_EQ(harness.ui.lastStatus(), "MIDI-запись сохранена — 1 нота");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.transport.playing.load(); }, 5000));
    EXPECT_FALSE(engine.transport.recording.load());
    auto clips = clipsOf(keys);
    ASSERT_EQ(clips.size(), clipsBefore + 1) << harness.ui.lastStatus();
    const auto take = clips.back();
    ASSERT_EQ(take->notes.size(), 1u);
    EXPECT_EQ(take->notes[0].pitch, 64);
    // A note played after Stop finds no take to join.
    (void)engine.recordMidiNoteOn(67, 0.8f, stoppedNear + 100);
    (void)engine.recordMidiNoteOff(67, 0.0f, stoppedNear + 2000);
    QTest::qWait(300);
    EXPECT_EQ(clipsOf(keys).size(), clipsBefore + 1);
    EXPECT_EQ(take->notes.size(), 1u);
    EXPECT_EQ(view.selectedClipId, take->id) << "the kept take is selected";
    saveScreenshot(window, "recording-midi-take-ended-by-space");
}

// The ■ button ends an audio take: its length is what was played up to the click, and the
// clip does not grow afterwards.
TEST_F(RecordingWindowTest, TheStopButtonEndsAnAudioTakeWhereItWasClicked) {
    noCountIn();
    const std::string audio = firstTrackOf(TrackType::Audio);
    ASSERT_NE(track(audio), nullptr);
    armOnly(audio);
    window.action(QStringLiteral("Record"))->trigger();
    QApplication::processEvents();
    ASSERT_TRUE(view.recording().isRecordingActive()) << harness.ui.lastStatus();
    const int64_t started = engine.transport.playhead.load();
    waitForPlayheadBeyond(started + 24000);

    QToolButton &stop = stopButton();
    const int64_t clickedAt = engine.transport.playhead.load();
    QTest::mouseClick(&stop, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(view.recording().isRecordingActive()) << "■ leaves the take running";
    auto clips = clipsOf(audio);
    ASSERT_EQ(clips.size(), 1u) << harness.ui.lastStatus();
    const int64_t length = clips[0]->length;
    EXPECT_GT(length, 0);
    // The take holds what the device captured up to the click, give or take a few blocks.
    EXPECT_LE(length, clickedAt - started + 48000 / 4) << harness.ui.lastStatus();
    QTest::qWait(500);
    EXPECT_EQ(clipsOf(audio).size(), 1u);
    EXPECT_EQ(clips[0]->length, length) << "the take grew after Stop";
    EXPECT_FALSE(engine.transport.recording.load());
    saveScreenshot(window, "recording-audio-take-ended-by-stop");
}

// A take of a saved project is on disk beside it while it records; a take cut short by a
// crash comes back, when the project opens again, where it was recorded.
TEST_F(RecordingWindowTest, ATakeIsKeptBesideTheProjectAndOfferedAgainAfterACrash) {
    noCountIn();
    const std::string audio = firstTrackOf(TrackType::Audio);
    armOnly(audio);
    const fs::path folder = harness.scratch("song.halvora");
    ASSERT_TRUE(view.saveProjectToPath(folder.string(), true));
    view.projectPath = folder.string();
    window.action(QStringLiteral("Record"))->trigger();
    QApplication::processEvents();
    ASSERT_TRUE(view.recording().isRecordingActive()) << harness.ui.lastStatus();
    const int64_t started = engine.transport.playhead.load();
    waitForPlayheadBeyond(started + 48000);
    const std::vector<std::string> running = takeFilesIn(folder);
    ASSERT_EQ(running.size(), 2u) << "a journal and the take's file";
    QTest::mouseClick(&stopButton(), Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_EQ(clipsOf(audio).size(), 1u) << harness.ui.lastStatus();
    EXPECT_TRUE(takeFilesIn(folder).empty()) << "a kept take leaves nothing to offer";

    // The same take, as a program killed while recording it would have left it.
    const int64_t kept = clipsOf(audio)[0]->arrangeStart;
    const uint64_t trackId = track(audio)->id;
    ASSERT_TRUE(view.saveProjectToPath(folder.string(), true));
    view.projectDirty = false;
    leaveCutShortTake(folder, trackId, kept, 24000);
    harness.ui.alertAnswers.push_back("Восстановить");
    harness.ui.filesToOpen.push_back({folder.string()});
    window.action(QString::fromUtf8("Открыть проект…"))->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.documentJobRunner().busy(); }, 60000));
    QApplication::processEvents();
    ASSERT_FALSE(harness.ui.alerts.empty());
    EXPECT_EQ(harness.ui.alerts.back().title, "Восстановить дубли?");
    EXPECT_EQ(harness.ui.lastStatus(), "Восстановлен 1 дубль");
    auto clips = clipsOf(audio);
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[1]->arrangeStart, kept);
    EXPECT_EQ(clips[1]->length, 24000);
    EXPECT_TRUE(clips[1]->takeActive);
    EXPECT_FALSE(clips[0]->takeActive);
    EXPECT_TRUE(takeFilesIn(folder).empty());
    saveScreenshot(window, "recording-take-recovered-after-a-crash");
    // One undo takes the recovered take away again.
    window.action(QString::fromUtf8("Отменить"))->trigger();
    QApplication::processEvents();
    EXPECT_EQ(clipsOf(audio).size(), 1u);
}

// Stop during the count-in cancels it: recording never starts afterwards.
TEST_F(RecordingWindowTest, SpaceDuringTheCountInCancelsIt) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.countInBars = 2;
    }
    const std::string audio = firstTrackOf(TrackType::Audio);
    armOnly(audio);
    const int64_t bar = engine.barLengthSamples();
    view.locate(4 * bar);
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.transport.playhead.load() == 4 * bar; }, 5000));
    key(Qt::Key_R);
    ASSERT_TRUE(view.recording().countInActive);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const int64_t now = engine.transport.playhead.load();
            return now > 2 * bar + 2400 && now < 3 * bar;
        },
        10000))
        << "the count-in does not play";
    key(Qt::Key_Space);
    EXPECT_FALSE(view.recording().countInActive);
    QTest::qWait(300);
    EXPECT_FALSE(view.recording().isRecordingActive());
    EXPECT_TRUE(clipsOf(audio).empty());
}

} // namespace

namespace {

// Both R buttons lit, one press of R records the audio track's input and the MIDI track's
// notes on the same run of the transport; Stop keeps a take on each, and both stay armed.
TEST_F(RecordingWindowTest, OnePressRecordsTheArmedAudioAndMidiTracksTogether) {
    noCountIn();
    const std::string audio = firstTrackOf(TrackType::Audio);
    const std::string keys = firstTrackOf(TrackType::Midi);
    const std::size_t midiClipsBefore = clipsOf(keys).size();
    { // nothing armed yet: the header's R buttons do it
        std::lock_guard lock(engine.projectMutex);
        for (const auto &candidate : engine.project.tracks)
            candidate->armed = false;
    }
    for (const std::string &name : {audio, keys}) {
        const auto row = timeline.rowOf(track(name)->id);
        ASSERT_TRUE(row.has_value()) << name;
        QTest::mouseClick(&timeline, Qt::LeftButton, {},
                          QPoint(68, static_cast<int>(row->top + 38)));
        ASSERT_TRUE(track(name)->armed) << name;
    }
    key(Qt::Key_R);
    ASSERT_TRUE(view.recording().isRecordingActive()) << harness.ui.lastStatus();
    EXPECT_TRUE(track(keys)->armed) << "the MIDI track was disarmed by the press";
    EXPECT_NE(harness.ui.lastStatus().find("MIDI"), std::string::npos) << harness.ui.lastStatus();
    const int64_t started = engine.transport.playhead.load();
    waitForPlayheadBeyond(started + 4800);
    const int64_t at = engine.transport.playhead.load();
    ASSERT_TRUE(engine.recordMidiNoteOn(60, 0.8f, at));
    ASSERT_TRUE(engine.recordMidiNoteOff(60, 0.0f, at + 2400));
    waitForPlayheadBeyond(at + 9600);

    key(Qt::Key_Space);
    EXPECT_FALSE(view.recording().isRecordingActive()) << "Stop leaves a take running";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.transport.playing.load(); }, 5000));
    EXPECT_FALSE(engine.transport.recording.load()) << "record was toggled once too often";
    const auto audioClips = clipsOf(audio);
    ASSERT_EQ(audioClips.size(), 1u) << harness.ui.lastStatus();
    EXPECT_GT(audioClips[0]->length, 0);
    const auto midiClips = clipsOf(keys);
    ASSERT_EQ(midiClips.size(), midiClipsBefore + 1) << harness.ui.lastStatus();
    ASSERT_EQ(midiClips.back()->notes.size(), 1u);
    EXPECT_EQ(midiClips.back()->notes[0].pitch, 60);
    const std::string said = harness.ui.lastStatus();
    EXPECT_EQ(said.rfind("Запись сохранена", 0), 0u) << said;
    EXPECT_NE(said.find("MIDI-запись сохранена — 1 нота"), std::string::npos) << said;
    EXPECT_TRUE(track(audio)->armed && track(keys)->armed);
    EXPECT_EQ(view.selectedClipId, audioClips[0]->id) << "the audio take leads";
    saveScreenshot(window, "recording-audio-and-midi-together");
}

} // namespace

namespace {

// An empty slot of an audio track offers to record into it; Stop keeps the take in that slot,
// and the Session tab stays in front.
TEST_F(RecordingWindowTest, AnEmptyAudioSlotRecordsItsTrackIntoIt) {
    noCountIn();
    const std::string audio = firstTrackOf(TrackType::Audio);
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    QApplication::processEvents();
    auto &panel = static_cast<SessionPanel &>(window.sessionPanel());
    ASSERT_TRUE(panel.isVisible());
    const uint64_t audioId = track(audio)->id;
    int column = -1;
    for (std::size_t index = 0; index < panel.model().columns.size(); ++index)
        if (panel.model().columns[index].trackId == audioId) column = static_cast<int>(index);
    ASSERT_GE(column, 0);
    ASSERT_FALSE(panel.model().rows.empty());
    ASSERT_EQ(panel.model().cell(0, static_cast<std::size_t>(column)).clipId, 0u);
    int32_t launcherColumn = -1;
    {
        std::lock_guard lock(engine.projectMutex);
        for (std::size_t index = 0; index < engine.project.tracks.size(); ++index)
            if (engine.project.tracks[index]->id == audioId)
                launcherColumn = static_cast<int32_t>(index);
    }

    whenMenuShows(QStringLiteral("Record into Slot"));
    requestContextMenu(*panel.gridWidget(), QRectF(panel.cellRect(0, column)).center());
    ASSERT_TRUE(view.recording().isRecordingActive()) << harness.ui.lastStatus();
    const int64_t started = engine.transport.playhead.load();
    waitForPlayheadBeyond(started + 12000);
    key(Qt::Key_Space);
    EXPECT_FALSE(view.recording().isRecordingActive());
    const auto clips = clipsOf(audio);
    ASSERT_EQ(clips.size(), 1u) << harness.ui.lastStatus();
    EXPECT_EQ(clips[0]->sessionRow, 0);
    EXPECT_EQ(clips[0]->sessionCol, launcherColumn);
    EXPECT_GT(clips[0]->length, 0);
    EXPECT_TRUE(panel.isVisible()) << "the Session tab gave way";
    QApplication::processEvents();
    window.tick();
    EXPECT_EQ(panel.model().cell(0, static_cast<std::size_t>(column)).clipId, clips[0]->id);
    saveScreenshot(window, "recording-into-a-session-slot");
    // The next press of R is an ordinary take again, in the arrangement.
    EXPECT_FALSE(view.recording().sessionRecordSlotValid);
}

} // namespace

namespace {

// An empty slot of a MIDI track records the notes played into a looping clip in that slot.
TEST_F(RecordingWindowTest, AnEmptyMidiSlotRecordsTheNotesIntoALoop) {
    noCountIn();
    const std::string keys = firstTrackOf(TrackType::Midi);
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    QApplication::processEvents();
    auto &panel = static_cast<SessionPanel &>(window.sessionPanel());
    ASSERT_TRUE(panel.isVisible());
    const uint64_t keysId = track(keys)->id;
    int column = -1;
    for (std::size_t index = 0; index < panel.model().columns.size(); ++index)
        if (panel.model().columns[index].trackId == keysId) column = static_cast<int>(index);
    ASSERT_GE(column, 0);
    // The start-up loop fills the first row: a new scene brings an empty slot.
    for (QPushButton *button : panel.findChildren<QPushButton *>())
        if (button->text() == shownInWindow(QStringLiteral("Add Scene")))
            QTest::mouseClick(button, Qt::LeftButton);
    window.tick();
    int row = -1;
    for (std::size_t index = 0; index < panel.model().rows.size() && row < 0; ++index)
        if (panel.model().cell(index, static_cast<std::size_t>(column)).clipId == 0)
            row = static_cast<int>(index);
    ASSERT_GE(row, 0) << "no empty slot on the MIDI track";
    const std::size_t clipsBefore = clipsOf(keys).size();

    whenMenuShows(QStringLiteral("Record into Slot"));
    requestContextMenu(*panel.gridWidget(), QRectF(panel.cellRect(row, column)).center());
    ASSERT_TRUE(view.recording().isRecordingActive()) << harness.ui.lastStatus();
    const int64_t started = engine.transport.playhead.load();
    waitForPlayheadBeyond(started + 2400);
    const int64_t at = engine.transport.playhead.load();
    ASSERT_TRUE(engine.recordMidiNoteOn(62, 0.8f, at));
    ASSERT_TRUE(engine.recordMidiNoteOff(62, 0.0f, at + 4800));
    waitForPlayheadBeyond(at + 9600);
    key(Qt::Key_Space);
    EXPECT_FALSE(view.recording().isRecordingActive());
    const auto clips = clipsOf(keys);
    ASSERT_EQ(clips.size(), clipsBefore + 1) << harness.ui.lastStatus();
    const auto loop = clips.back();
    EXPECT_EQ(loop->sessionRow, row);
    EXPECT_TRUE(loop->loop);
    ASSERT_EQ(loop->notes.size(), 1u);
    EXPECT_EQ(loop->notes[0].pitch, 62);
    const int64_t bar = engine.barLengthSamples();
    EXPECT_EQ(loop->length % bar, 0) << "the loop is not whole bars";
    EXPECT_EQ(loop->loopLength, loop->length);
    window.tick();
    EXPECT_EQ(
        panel.model().cell(static_cast<std::size_t>(row), static_cast<std::size_t>(column)).clipId,
        loop->id);
    saveScreenshot(window, "recording-notes-into-a-session-slot");
}

} // namespace
