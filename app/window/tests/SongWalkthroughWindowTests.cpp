// A whole song made in the window as a new user makes one, step by step with the pointer and
// the keys: tracks, imported audio split and laid out, a MIDI part drawn and quantised by the
// roll's own grid, a session clip on a ninth track, audio and MIDI recorded together and
// stopped by the transport, a tempo change, save and reopen, and an export with its report.
// Each step leaves a screenshot.
#include "app/shell/OVMainView.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MainWindow.h"
#include "app/window/MidiEditor.h"
#include "app/window/SessionPanel.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "app/workflows/RecordingWorkflow.h"
#include "core/audiofile/AudioExport.h"
#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

class SongWalkthroughTest : public WindowTest {
  protected:
    SongWalkthroughTest() : WindowTest("walkthrough", Language::English) {}

    void key(Qt::Key which, Qt::KeyboardModifiers modifiers = {}) {
        if (!window.isActiveWindow()) {
            window.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        }
        QTest::keyClick(&window, which, modifiers);
        QApplication::processEvents();
    }
    std::vector<std::shared_ptr<Track>> tracksOf(TrackType type) {
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::shared_ptr<Track>> found;
        for (const auto &candidate : engine.project.tracks)
            if (candidate->type == type) found.push_back(candidate);
        return found;
    }
    std::vector<std::shared_ptr<Clip>> arrangementClipsOf(const Track &track) {
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::shared_ptr<Clip>> clips;
        for (const auto &clip : track.clips)
            if (!clip->isSessionClip()) clips.push_back(clip);
        std::sort(clips.begin(), clips.end(),
                  [](const auto &a, const auto &b) { return a->arrangeStart < b->arrangeStart; });
        return clips;
    }
    int64_t bars(double count) { return engine.beatsToSamples(4.0 * count); }
    double beatsAt(int64_t samples) {
        std::lock_guard lock(engine.projectMutex);
        const Project &project = engine.project;
        return samplesToMusicalBeats(samples, project.sampleRate, project.tempoMarkers,
                                     project.tempoBpm);
    }
    QPoint laneAt(const Track &track, double beats) {
        const auto row = timeline.rowOf(track.id);
        EXPECT_TRUE(row.has_value());
        return QPointF(timeline.timelineGeometry().xForBeats(beats),
                       row ? row->top + row->mainLaneHeight / 2.0 : 0.0)
            .toPoint();
    }
    /// The playhead put on a bar by a click in the ruler, which snaps to the grid.
    void clickRulerAt(double beats) {
        const double x = timeline.timelineGeometry().xForBeats(beats);
        QTest::mouseClick(&timeline, Qt::LeftButton, {}, QPoint(static_cast<int>(x) + 2, 6));
        const int64_t target = engine.beatsToSamples(beats);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return engine.transport.playhead.load() == target; }, 5000))
            << "the playhead is at " << engine.transport.playhead.load() << ", not " << target;
    }
    void waitFor(const std::function<bool()> &done, const char *what, int ms = 20000) {
        ASSERT_TRUE(QTest::qWaitFor(done, ms)) << what << ": " << harness.ui.lastStatus();
        QApplication::processEvents();
    }
    /// Four seconds (two bars at 120 BPM) of a 220 Hz tone as a WAV file to import.
    fs::path writeTone(const std::string &name) {
        const fs::path path = harness.scratch(name);
        writeToneFile(path, 220.0, 0.4, 4 * 48000, ExportContainer::Wav);
        return path;
    }
    /// The window as the user sees it after the step, its status line brought up to date.
    void shoot(const char *step) {
        window.tick();
        QApplication::processEvents();
        saveScreenshot(window, std::string("walkthrough-") + step);
    }
};

TEST_F(SongWalkthroughTest, ASongIsMadeSavedReopenedAndExportedFromTheWindow) {
    timeline.setFocus();
    timeline.scrollToBeats(0.0);
    timeline.setVisibleBeats(48.0);

    // 1. Four tracks: the start-up song's MIDI and audio track, and one more of each.
    key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    key(Qt::Key_T, Qt::ControlModifier);
    ASSERT_EQ(tracksOf(TrackType::Midi).size(), 2u);
    ASSERT_EQ(tracksOf(TrackType::Audio).size(), 2u);
    const auto guitar = tracksOf(TrackType::Audio).back();
    const auto keys = tracksOf(TrackType::Midi).back();
    EXPECT_EQ(view.selectedTrackId, guitar->id) << "the new track is the selected one";
    EXPECT_EQ(cutToolbarChoices(window, 2), std::vector<std::string>{}) << "in English too";
    shoot("1-four-tracks");

    // 2. A recording imported onto the new, empty audio track at bar 1, split at bar 2 (the
    //    second half a bar long) and the half duplicated twice: three halves in a row.
    clickRulerAt(0.0);
    harness.ui.filesToOpen.push_back({writeTone("riff.wav").string()});
    key(Qt::Key_I, Qt::ControlModifier);
    waitFor([&] { return !timeline.importing(); }, "the import never ended");
    auto clips = arrangementClipsOf(*guitar);
    ASSERT_EQ(clips.size(), 1u) << "the file went elsewhere";
    EXPECT_EQ(clips[0]->arrangeStart, 0);
    clickRulerAt(4.0);
    QTest::mouseClick(&timeline, Qt::LeftButton, {},
                      timeline.clipRectOf(clips[0]->id).center().toPoint());
    ASSERT_EQ(view.selectedClipId, clips[0]->id);
    key(Qt::Key_S);
    EXPECT_EQ(harness.application().commands().undoName(), "Split Clip");
    clips = arrangementClipsOf(*guitar);
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[1]->arrangeStart, bars(1));
    QTest::mouseClick(&timeline, Qt::LeftButton, {},
                      timeline.clipRectOf(clips[1]->id).center().toPoint());
    ASSERT_EQ(view.selectedClipId, clips[1]->id);
    key(Qt::Key_D, Qt::ControlModifier);
    key(Qt::Key_D, Qt::ControlModifier);
    clips = arrangementClipsOf(*guitar);
    ASSERT_EQ(clips.size(), 4u);
    for (std::size_t i = 1; i < clips.size(); ++i)
        EXPECT_EQ(clips[i]->arrangeStart, clips[i - 1]->arrangeStart + clips[i - 1]->length)
            << "copy " << i << " is stacked, not laid after the one before";
    shoot("2-audio-split-and-duplicated");

    // 3. A MIDI part drawn on the new MIDI track's lane at bar 3, four notes drawn in the roll,
    //    two of them pushed off the grid with Alt, then quantised to the roll's own eighths.
    QTest::mouseDClick(&timeline, Qt::LeftButton, {}, laneAt(*keys, 8.2));
    auto parts = arrangementClipsOf(*keys);
    ASSERT_EQ(parts.size(), 1u) << "no MIDI part was made";
    const auto part = parts[0];
    EXPECT_EQ(part->arrangeStart, bars(2));
    QTest::mouseDClick(&timeline, Qt::LeftButton, {},
                       timeline.clipRectOf(part->id).center().toPoint());
    MidiEditor &roll = window.midiEditor();
    ASSERT_EQ(roll.clipId(), part->id);
    QApplication::processEvents();
    ASSERT_EQ(roll.tool(), MidiTool::Draw);
    const int64_t beat = engine.beatsToSamples(1.0);
    const int pitches[] = {60, 62, 64, 67};
    for (int k = 0; k < 4; ++k)
        QTest::mouseClick(
            &roll, Qt::LeftButton, {},
            QPointF(roll.xForSamples(k * beat / 2) + 3.0, roll.yForPitch(pitches[k]) + 4.0)
                .toPoint());
    ASSERT_EQ(part->notes.size(), 4u);
    // The roll's own grid, the first control whose tip names the grid.
    QComboBox *rollGrid = nullptr;
    for (QComboBox *candidate : window.findChildren<QComboBox *>())
        if (!rollGrid && candidate->toolTip().startsWith(QStringLiteral("Grid")))
            rollGrid = candidate;
    ASSERT_NE(rollGrid, nullptr);
    rollGrid->setFocus();
    QTest::keyClick(rollGrid, Qt::Key_Up); // the sixteenth to the eighth
    ASSERT_DOUBLE_EQ(roll.gridBeats(), 0.5);
    for (const int k : {1, 3}) { // a thirty-second late, off the grid
        const QPointF from = roll.noteRect(k).center();
        dragMouse(roll, from, from + QPointF(roll.xForSamples(beat / 8) - roll.xForSamples(0), 0.0),
                  Qt::AltModifier);
    }
    EXPECT_NE(part->notes[1].start % (beat / 2), 0) << "Alt moved the note off the grid";
    roll.setFocus();
    QTest::keyClick(&roll, Qt::Key_V); // the select tool: a click on nothing selects nothing
    ASSERT_EQ(roll.tool(), MidiTool::Select);
    QTest::mouseClick(&roll, Qt::LeftButton, {},
                      QPoint(roll.width() - 6, MidiEditor::rulerHeight + 30));
    QMenu &menu = *roll.commandsMenu();
    menu.popup(roll.mapToGlobal(QPoint(60, 40)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    ASSERT_TRUE(clickMenuItem(menu, QStringLiteral("Quantize")));
    menu.hide();
    EXPECT_EQ(harness.application().commands().undoName(), "Quantize Notes");
    for (const MidiNote &note : part->notes)
        EXPECT_EQ(note.start % (beat / 2), 0) << "pitch " << note.pitch << " is off the eighths";
    EXPECT_EQ(part->notes.size(), 4u) << "the quantise added or lost notes";
    shoot("3-midi-part-quantised");
    roll.close();

    // 4. A session clip on a ninth track: tracks added with the keys, a clip drawn in the
    //    ninth track's first slot with a double-click and launched with a click.
    timeline.setFocus();
    while (true) {
        std::size_t count = 0;
        {
            std::lock_guard lock(engine.projectMutex);
            count = engine.project.tracks.size();
        }
        if (count >= 9) break;
        key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    }
    std::shared_ptr<Track> ninth;
    {
        std::lock_guard lock(engine.projectMutex);
        ninth = engine.project.tracks[8];
    }
    window.showTab(MainWindow::SessionTab);
    auto &session = static_cast<SessionPanel &>(window.sessionPanel());
    QApplication::processEvents();
    const SessionGridModel &grid = session.model();
    int column = -1;
    for (std::size_t c = 0; c < grid.columns.size(); ++c)
        if (grid.columns[c].trackId == ninth->id) column = static_cast<int>(c);
    ASSERT_GE(column, 0) << "the ninth track has no column";
    QWidget &cells = *session.gridWidget();
    QTest::mouseDClick(&cells, Qt::LeftButton, {}, session.cellRect(0, column).center());
    QApplication::processEvents();
    const uint64_t drawn = grid.cell(0, std::size_t(column)).clipId;
    ASSERT_NE(drawn, 0u) << "the slot refused the clip: " << harness.ui.lastStatus();
    QTest::mouseClick(&cells, Qt::LeftButton, {}, session.cellRect(0, column).center());
    waitFor(
        [&] {
            const SessionCell &cell = grid.cell(0, std::size_t(column));
            return cell.playing || cell.queued;
        },
        "the ninth track's clip does not launch", 5000);
    shoot("4-session-clip-on-the-ninth-track");
    key(Qt::Key_Space);
    waitFor([&] { return !engine.transport.playing.load(); }, "the transport does not stop", 5000);
    window.showTab(MainWindow::TimelineTab);
    QApplication::processEvents();

    // 5. The start-up audio track and MIDI track armed with their R buttons and recorded with
    //    one press of R; a note played on the keyboard; Space stops both takes.
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.countInBars = 0;
    }
    const auto voice = tracksOf(TrackType::Audio).front();
    const auto piano = tracksOf(TrackType::Midi).front();
    const std::size_t pianoClips = arrangementClipsOf(*piano).size();
    const std::size_t voiceClips = arrangementClipsOf(*voice).size();
    for (const auto &armed : {voice, piano}) {
        const auto row = timeline.rowOf(armed->id);
        ASSERT_TRUE(row.has_value());
        if (!armed->armed)
            QTest::mouseClick(&timeline, Qt::LeftButton, {},
                              QPoint(68, static_cast<int>(row->top + 38)));
        ASSERT_TRUE(armed->armed) << armed->name;
    }
    clickRulerAt(32.0);
    key(Qt::Key_R);
    ASSERT_TRUE(view.recording().isRecordingActive()) << harness.ui.lastStatus();
    const int64_t started = engine.transport.playhead.load();
    waitFor([&] { return engine.transport.playhead.load() > started + 4800; }, "no time passes");
    const int64_t at = engine.transport.playhead.load();
    ASSERT_TRUE(engine.recordMidiNoteOn(64, 0.8f, at));
    ASSERT_TRUE(engine.recordMidiNoteOff(64, 0.0f, at + 4800));
    waitFor([&] { return engine.transport.playhead.load() > at + 24000; }, "no time passes");
    const int64_t stoppedAt = engine.transport.playhead.load();
    key(Qt::Key_Space);
    EXPECT_FALSE(view.recording().isRecordingActive()) << "Stop left a take running";
    waitFor([&] { return !engine.transport.playing.load(); }, "the transport does not stop", 5000);
    ASSERT_EQ(arrangementClipsOf(*voice).size(), voiceClips + 1) << harness.ui.lastStatus();
    ASSERT_EQ(arrangementClipsOf(*piano).size(), pianoClips + 1) << harness.ui.lastStatus();
    const auto audioTake = arrangementClipsOf(*voice).back();
    EXPECT_LE(audioTake->arrangeStart + audioTake->length, stoppedAt + engine.beatsToSamples(1.0))
        << "the take ran on past the stop";
    const auto midiTake = arrangementClipsOf(*piano).back();
    ASSERT_EQ(midiTake->notes.size(), 1u);
    EXPECT_EQ(midiTake->notes[0].pitch, 64);
    shoot("5-audio-and-midi-recorded-together");

    // 6. The tempo typed down to 100 BPM: the drawn part stays on bar 3, its notes on their
    //    eighths.
    const double partBeat = beatsAt(part->arrangeStart);
    std::vector<double> noteBeats;
    for (const MidiNote &note : part->notes)
        noteBeats.push_back(beatsAt(part->arrangeStart + note.start) - partBeat);
    QLineEdit *tempoText = window.tempoField->findChild<QLineEdit *>();
    ASSERT_NE(tempoText, nullptr);
    QTest::mouseClick(tempoText, Qt::LeftButton);
    QTest::keyClick(tempoText, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(tempoText, QStringLiteral("100"));
    QTest::keyClick(tempoText, Qt::Key_Return);
    QApplication::processEvents();
    {
        std::lock_guard lock(engine.projectMutex);
        ASSERT_DOUBLE_EQ(engine.project.tempoBpm, 100.0) << harness.ui.lastStatus();
    }
    // To the sample: a beat is 28,800 of them at 100 BPM.
    EXPECT_NEAR(beatsAt(part->arrangeStart), 8.0, 1e-4) << "the part left bar 3";
    for (std::size_t i = 0; i < part->notes.size(); ++i)
        EXPECT_NEAR(beatsAt(part->arrangeStart + part->notes[i].start) - 8.0, noteBeats[i], 1e-4)
            << "note " << i;
    shoot("6-tempo-100");

    // 7. Saved under a new name, a new song made, and the saved one opened again.
    const fs::path folder = harness.scratch("first song.halvora");
    harness.ui.saveLocations.push_back(folder.string());
    key(Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    waitFor([&] { return !window.documentJobRunner().busy(); }, "the save never ended");
    ASSERT_TRUE(fs::exists(folder / "project.json")) << harness.ui.lastStatus();
    std::vector<std::string> names;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &each : engine.project.tracks)
            names.push_back(each->name);
    }
    const std::vector<MidiNote> drawnNotes = part->notes;
    const auto partId = part->id;
    key(Qt::Key_N, Qt::ControlModifier);
    window.openProject(folder.string());
    waitFor([&] { return !window.documentJobRunner().busy(); }, "the song never opened");
    {
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::string> reopened;
        for (const auto &each : engine.project.tracks)
            reopened.push_back(each->name);
        EXPECT_EQ(reopened, names);
        EXPECT_DOUBLE_EQ(engine.project.tempoBpm, 100.0);
        const auto back = engine.project.findClip(partId);
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(back->notes.size(), drawnNotes.size());
        for (std::size_t i = 0; i < drawnNotes.size(); ++i) {
            EXPECT_EQ(back->notes[i].start, drawnNotes[i].start);
            EXPECT_EQ(back->notes[i].pitch, drawnNotes[i].pitch);
        }
    }
    window.tick();
    EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("first song")));
    shoot("7-reopened");

    // 8. Exported to a loudness target: the status reports what was written.
    view.exportNormalization = {NormalizeMode::Loudness, -18.0, -1.0};
    const fs::path mix = harness.scratch("first song.wav");
    harness.ui.saveLocations.push_back(mix.string());
    key(Qt::Key_E, Qt::ControlModifier);
    waitFor([&] { return !window.exportJobRunner().busy(); }, "the export never ended", 60000);
    ASSERT_TRUE(fs::exists(mix)) << harness.ui.lastStatus();
    const std::string report = harness.ui.lastStatus();
    EXPECT_EQ(report.rfind("WAV exported (", 0), 0u) << report;
    EXPECT_NE(report.find(" LUFS integrated, true peak "), std::string::npos) << report;
    EXPECT_NE(report.find("loudness range "), std::string::npos) << report;
    EXPECT_TRUE(report.ends_with(" · target -18.0 LUFS met")) << report;
    shoot("8-exported");
}

} // namespace
