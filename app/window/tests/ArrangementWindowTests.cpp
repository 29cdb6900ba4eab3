// The arrangement as a musician works it: tracks made, named, coloured and ordered from the
// window; clips selected with the mouse, copied and pasted; the ruler and automation drawn;
// the song saved under a new name and opened again. Every step is a real mouse or key event.
#include "app/cli/RenderVerb.h"
#include "app/shell/OVMainView.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "app/window/ArrangementOverview.h"
#include "app/window/ChannelStrip.h"
#include "app/window/LongJobRunner.h"
#include "app/window/MainWindow.h"
#include "app/window/TimelineView.h"
#include "app/window/WorkspacePanels.h"
#include "app/window/tests/WindowTestSupport.h"
#include "app/workflows/AutomationWriter.h"
#include "core/audiofile/AudioFile.h"
#include "core/commands/ClipCommands.h"
#include "core/engine/Engine.h"
#include "device/OfflineRender.h"
#include "tests/support/TestSignals.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QColorDialog>
#include <QComboBox>
#include <QDial>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>

#include <cmath>

using namespace orvane;
using namespace orvane::testing;

namespace {

class ArrangementTest : public WindowTest {
  protected:
    ArrangementTest() : WindowTest("arrangement") {}

    std::vector<std::string> trackNames() {
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::string> names;
        for (const auto &track : engine.project.tracks)
            names.push_back(track->name);
        return names;
    }
    QPointF headerNameOf(const std::string &name) {
        const auto row = timeline.rowOf(track(name)->id);
        EXPECT_TRUE(row.has_value()) << name;
        return QPointF(60.0, row->top + 12.0);
    }
    std::vector<std::shared_ptr<Clip>> arrangementClips() {
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::shared_ptr<Clip>> clips;
        for (const auto &track : engine.project.tracks)
            for (const auto &clip : track->clips)
                if (!clip->isSessionClip()) clips.push_back(clip);
        return clips;
    }
    void key(Qt::Key which, Qt::KeyboardModifiers modifiers = {}) {
        // A dialog that closed leaves no window active here, where no window manager hands the
        // focus back; a person would click the window first.
        if (!window.isActiveWindow()) {
            window.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        }
        QTest::keyClick(&window, which, modifiers);
        QApplication::processEvents();
    }
    void waitForJobs() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.documentJobRunner().busy(); }, 20000));
        QApplication::processEvents();
    }
};

TEST_F(ArrangementTest, TracksAreMadeNamedColouredAndOrderedFromTheWindow) {
    harness.ui.alertAnswers.push_back("Не сохранять");
    key(Qt::Key_N, Qt::ControlModifier);
    const std::size_t before = trackNames().size();
    timeline.setFocus();
    key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier); // a MIDI track
    key(Qt::Key_T, Qt::ControlModifier);                     // an audio track
    key(Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);   // a return
    auto names = trackNames();
    ASSERT_EQ(names.size(), before + 3);
    EXPECT_EQ(track(names[before])->type, TrackType::Midi);
    EXPECT_EQ(track(names[before + 1])->type, TrackType::Audio);
    EXPECT_EQ(track(names[before + 2])->type, TrackType::Return);
    EXPECT_TRUE(timeline.rowOf(track(names[before + 2])->id).has_value())
        << "returns have a row in the arrangement";

    // The audio track from the header's context menu too, then renamed where its name shows.
    QMenu *menu = rightClick(timeline, headerNameOf(names[before]));
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(clickMenuItem(*menu, QStringLiteral("Add Audio Track")));
    names = trackNames();
    ASSERT_EQ(names.size(), before + 4);
    const std::string added = names.back();
    QTest::mouseDClick(&timeline, Qt::LeftButton, {}, headerNameOf(added).toPoint());
    QLineEdit *field = timeline.renameEditor();
    ASSERT_TRUE(field->isVisible());
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Bass"));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_NE(track("Bass"), nullptr);
    EXPECT_EQ(harness.application().commands().undoName(), "Rename Track");

    // Colour through the colour dialog.
    view.selectedTrackId = track("Bass")->id;
    whenDialogShows([](QWidget &dialog) {
        auto *colours = qobject_cast<QColorDialog *>(&dialog);
        ASSERT_NE(colours, nullptr);
        colours->setCurrentColor(QColor(200, 40, 160));
        colours->accept();
    });
    window.action(QStringLiteral("Track Colour…"))->trigger();
    EXPECT_EQ(track("Bass")->color, QColor(200, 40, 160).rgba());

    // Dragged by its header onto the first row, the track becomes the first.
    dragMouse(timeline, headerNameOf("Bass"), headerNameOf(trackNames().front()));
    EXPECT_EQ(trackNames().front(), "Bass");
    EXPECT_EQ(harness.application().commands().undoName(), "Move Track");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NE(trackNames().front(), "Bass");
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(trackNames().front(), "Bass");

    // Ctrl+Delete removes the selected track; undo brings it back with its name and colour.
    view.selectedTrackId = track("Bass")->id;
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(track("Bass"), nullptr);
    key(Qt::Key_Z, Qt::ControlModifier);
    ASSERT_NE(track("Bass"), nullptr);
    EXPECT_EQ(track("Bass")->color, QColor(200, 40, 160).rgba());
    saveScreenshot(window, "arrangement-tracks");
}

// The header's volume bar is the fader in small: the same decibel travel, the edit on release.
TEST_F(ArrangementTest, TheHeadersVolumeBarTravelsInDecibelsAsTheMixersFaderDoes) {
    const std::string name = trackNames().front();
    const auto row = timeline.rowOf(track(name)->id);
    ASSERT_TRUE(row.has_value());
    // The bar lies after the mute, solo, arm and monitor buttons, 56 pixels wide.
    const double barLeft = 110.0, barWidth = 56.0, barY = row->top + 38.0;
    auto dragTo = [&](double fraction) {
        dragMouse(timeline, QPointF(barLeft + 4.0, barY),
                  QPointF(barLeft + fraction * barWidth, barY));
        return 20.0 * std::log10(std::max(track(name)->gain, 1e-9f));
    };
    EXPECT_NEAR(dragTo(0.5), -27.0, 0.6) << "the middle is halfway between -60 dB and +6 dB";
    EXPECT_EQ(harness.application().commands().undoName(), "Mixer");
    EXPECT_NEAR(dragTo(1.0), 6.0, 0.05);
    EXPECT_LT(dragTo(0.0), -150.0) << "the far left is silence";
    EXPECT_NEAR(dragTo(30.0 / 33.0), 0.0, 0.6) << "unity sits where the fader's does";
}

TEST_F(ArrangementTest, ARubberBandSelectsClipsThatCopyAndPasteAtThePlayhead) {
    // The start-up song's arrangement clip, clicked and duplicated with Ctrl+D.
    ASSERT_EQ(arrangementClips().size(), 1u);
    QTest::mouseClick(&timeline, Qt::LeftButton, {},
                      timeline.clipRectOf(arrangementClips()[0]->id).center().toPoint());
    key(Qt::Key_D, Qt::ControlModifier);
    const auto clips = arrangementClips();
    ASSERT_EQ(clips.size(), 2u);
    const QRectF first = timeline.clipRectOf(clips[0]->id);
    const QRectF second = timeline.clipRectOf(clips[1]->id);
    // From empty space right of both clips to the left edge of the clip area, across their
    // row: the band touches both.
    const QPointF from(std::max(first.right(), second.right()) + 12.0,
                       std::min(first.top(), second.top()) + 3.0);
    const QPointF to(TimelineGeometry::headerWidth + 2.0,
                     std::max(first.bottom(), second.bottom()) - 3.0);
    timeline.setFocus();
    dragMouse(timeline, from, to);
    EXPECT_EQ(timeline.selectedClips().size(), 2u);

    key(Qt::Key_C, Qt::ControlModifier);
    // The playhead to bar 9 by a click a little past it in the ruler's upper half: the grid
    // takes it to the bar, and the paste lands there.
    const double bar9 = timeline.timelineGeometry().xForBeats(32.0);
    int64_t bar9Samples = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        bar9Samples = TimeMap::of(engine.project).samples(32.0);
    }
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, QPoint(static_cast<int>(bar9) + 3, 6));
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.transport.playhead.load() > 0; }, 5000));
    const int64_t playhead = engine.transport.playhead.load();
    EXPECT_EQ(playhead, bar9Samples);
    key(Qt::Key_V, Qt::ControlModifier);
    const auto after = arrangementClips();
    ASSERT_EQ(after.size(), clips.size() + 2);
    int64_t earliest = INT64_MAX;
    for (const uint64_t id : timeline.selectedClips())
        for (const auto &clip : after)
            if (clip->id == id) earliest = std::min(earliest, clip->arrangeStart);
    EXPECT_EQ(earliest, playhead) << "the pasted clips begin at the playhead";
    EXPECT_EQ(harness.application().commands().undoName(), "Paste Clips");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(arrangementClips().size(), clips.size());
    // Cut takes a clip away under its own name, and its undo brings it back.
    timeline.selectClips({clips[0]->id});
    key(Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(arrangementClips().size(), clips.size() - 1);
    EXPECT_EQ(harness.application().commands().undoName(), "Cut Clips");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(arrangementClips().size(), clips.size());
    // Shift places the playhead where the mouse is.
    QTest::mouseClick(&timeline, Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(static_cast<int>(bar9) + 3, 6));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return engine.transport.playhead.load() != bar9Samples; }, 5000));
    EXPECT_GT(engine.transport.playhead.load(), bar9Samples);

    // Delete on another page deletes nothing hidden.
    timeline.selectAll();
    window.showTab(MainWindow::MixerTab);
    key(Qt::Key_Delete);
    EXPECT_EQ(arrangementClips().size(), clips.size());
    window.showTab(MainWindow::TimelineTab);
}

TEST_F(ArrangementTest, TheCycleIsDraggedAndATempoMarkerIsAddedAndMovedOnTheRuler) {
    const auto &layout = timeline.timelineGeometry();
    const double bar2 = layout.xForBeats(4.0), bar4 = layout.xForBeats(12.0);
    dragMouse(timeline, QPointF(bar2, 36), QPointF(bar4, 36));
    EXPECT_EQ(engine.transport.loopStart.load(), engine.beatsToSamples(4.0));
    EXPECT_EQ(engine.transport.loopEnd.load(), engine.beatsToSamples(12.0));
    EXPECT_TRUE(engine.transport.loopEnabled.load());
    window.tick();
    EXPECT_TRUE(window.action(QStringLiteral("Cycle"))->isChecked()) << "the toggle shows it";

    std::size_t markers = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        markers = engine.project.tempoMarkers.size();
    }
    const double bar3 = layout.xForBeats(8.0);
    whenDialogShows([](QWidget &dialog) {
        auto *input = qobject_cast<QInputDialog *>(&dialog);
        ASSERT_NE(input, nullptr);
        input->setDoubleValue(90.0);
        input->accept();
    });
    QMenu *menu = rightClick(timeline, QPointF(bar3, 20));
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(clickMenuItem(*menu, QStringLiteral("Add Tempo Marker Here…")));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(engine.projectMutex);
            return engine.project.tempoMarkers.size() == markers + 1;
        },
        5000));
    int64_t placed = -1;
    double placedBeats = 0.0;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &tempo : engine.project.tempoMarkers)
            if (tempo.bpm == 90.0) placed = tempo.position;
        placedBeats = TimeMap::of(engine.project).beats(placed);
    }
    ASSERT_GE(placed, 0);
    window.tick();
    // Its label sits in the ruler's lower half; dragged one bar on, it moves there.
    const double labelX = timeline.timelineGeometry().xForBeats(placedBeats) + 10.0;
    const double oneBar = timeline.timelineGeometry().pixelsPerBeat * 4.0;
    dragMouse(timeline, QPointF(labelX, 40), QPointF(labelX + oneBar, 40));
    EXPECT_EQ(harness.application().commands().undoName(), "Move Tempo");
    std::lock_guard lock(engine.projectMutex);
    bool moved = false;
    for (const auto &tempo : engine.project.tempoMarkers)
        moved = moved || (tempo.bpm == 90.0 && tempo.position > placed);
    EXPECT_TRUE(moved);
}

TEST_F(ArrangementTest, VolumePointsDrawnInTheLaneAreHeardInTheExportAsInTheRender) {
    // A held chord through four bars on the MIDI track, so that the lane's shape is audible.
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    window.showTab(MainWindow::TimelineTab);
    key(Qt::Key_A); // show automation
    ASSERT_TRUE(timeline.showsAutomation());
    const auto row = timeline.rowOf(midi->id);
    ASSERT_TRUE(row.has_value());
    ASSERT_GT(row->automationHeight, 0.0);
    const auto &layout = timeline.timelineGeometry();
    const double top = row->automationTop() + 4.0, bottom = row->automationTop() + 44.0;
    const std::pair<double, double> points[] = {
        {0.0, top}, {4.0, bottom}, {8.0, top}, {12.0, bottom}};
    const std::size_t before = midi->volumeAutomation.size();
    for (const auto &[beats, y] : points)
        QTest::mouseClick(
            &timeline, Qt::LeftButton, {},
            QPoint(static_cast<int>(layout.xForBeats(beats)) + 1, static_cast<int>(y)));
    std::vector<AutomationPoint> drawn;
    {
        std::lock_guard lock(engine.projectMutex);
        drawn = midi->volumeAutomation;
    }
    ASSERT_GE(drawn.size(), before + 3) << "four clicks, four points (one may replace one there)";
    saveScreenshot(window, "arrangement-automation");

    // Saved, exported from the window and rendered by the program: the same samples, and the
    // lane is heard (the loud and the silent bar differ).
    const auto folder = harness.scratch("automated.halvora");
    ASSERT_TRUE(view.saveProjectToPath(folder.string(), true));
    const auto exported = harness.scratch("window.wav");
    harness.ui.saveLocations.push_back(exported.string());
    window.action(QStringLiteral("Экспортировать WAV…"))->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.exportJobRunner().busy(); }, 30000));
    const auto rendered = harness.scratch("render.wav");
    ASSERT_EQ(runRenderVerb({folder.string(), "-o", rendered.string(), "--quiet"}, stdout, stderr),
              0);
    ImportedWav fromWindow, fromRender;
    ASSERT_TRUE(importWav(exported.string(), fromWindow));
    ASSERT_TRUE(importWav(rendered.string(), fromRender));
    ASSERT_TRUE(fromWindow.samples && fromRender.samples);
    EXPECT_TRUE(*fromWindow.samples == *fromRender.samples);
    const auto peakBetween = [&](double fromBeat, double toBeat) {
        return peakOf(slice(*fromWindow.samples,
                            static_cast<std::size_t>(engine.beatsToSamples(fromBeat)) * 2,
                            static_cast<std::size_t>(engine.beatsToSamples(toBeat)) * 2));
    };
    EXPECT_GT(peakBetween(0.0, 1.0), 4.0f * peakBetween(3.5, 4.5) + 1e-4f)
        << "full level at the start, near silence at the second point";
}

TEST_F(ArrangementTest, PanMovedInTheMixerInLatchModeWritesPointsWhilePlaying) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    auto *mode = window.writeModeField;
    ASSERT_NE(mode, nullptr);
    mode->setFocus();
    QTest::keyClick(mode, Qt::Key_Down); // Read → Touch
    QTest::keyClick(mode, Qt::Key_Down); // → Latch
    {
        std::lock_guard lock(engine.projectMutex);
        ASSERT_EQ(engine.project.automationWriteMode, AutomationWriteMode::Latch);
    }
    window.showTab(MainWindow::MixerTab);
    QApplication::processEvents();
    view.play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.transport.playhead.load() > 4800; }, 10000));
    QDial *pan = nullptr;
    for (QDial *dial : window.mixerPanel().findChildren<QDial *>())
        if (!pan && dial->isVisible() &&
            dial->toolTip().startsWith(shownInWindow(QStringLiteral("Pan"))))
            pan = dial;
    ASSERT_NE(pan, nullptr);
    const QPoint centre = pan->rect().center();
    QTest::mousePress(pan, Qt::LeftButton, {}, centre);
    for (int step = 1; step <= 6; ++step) {
        QTest::mouseMove(pan, centre + QPoint(step * 3, -step * 2));
        QTest::qWait(20);
    }
    QTest::mouseRelease(pan, Qt::LeftButton, {}, centre + QPoint(18, -12));
    view.stop();
    std::lock_guard lock(engine.projectMutex);
    std::size_t written = 0;
    for (const auto &track : engine.project.tracks)
        written += track->panAutomation.size();
    EXPECT_GT(written, 0u) << "Latch writes the pan while the transport runs";
}

TEST_F(ArrangementTest, SaveAsThenReopenBringsTracksNamesColoursAndOrderBack) {
    view.selectedTrackId = track("MIDI 1")->id;
    window.action(QStringLiteral("Add MIDI Track"))->trigger();
    const auto added = trackNames().back();
    timeline.beginRename(track(added)->id);
    timeline.renameEditor()->setText(QStringLiteral("Keys"));
    QTest::keyClick(timeline.renameEditor(), Qt::Key_Return);
    timeline.moveTrack(track("Keys")->id, -1);
    view.executeEdit(std::make_unique<PasteClipsCommand>(
        std::vector<std::shared_ptr<const Clip>>{arrangementClips().front()}, 0,
        track("Keys")->id));
    whenDialogShows([](QWidget &) {}); // nothing modal is expected: the script answers
    const auto folder = harness.scratch("song two.halvora");
    harness.ui.saveLocations.push_back(folder.string());
    key(Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    waitForJobs();
    ASSERT_TRUE(std::filesystem::exists(folder / "project.json")) << harness.ui.lastStatus();
    window.tick();
    EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("song two")));
    const auto names = trackNames();
    const uint32_t colour = track("Keys")->color;

    harness.ui.alertAnswers.push_back("Не сохранять");
    key(Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(track("Keys"), nullptr);
    ASSERT_FALSE(window.recentProjects().isEmpty());
    EXPECT_EQ(window.recentProjects().front().toStdString(), folder.string());
    window.openProject(folder.string());
    waitForJobs();
    EXPECT_EQ(trackNames(), names);
    ASSERT_NE(track("Keys"), nullptr);
    // A MIDI track made in the window plays the synth, and keeps it through the file.
    EXPECT_EQ(track("Keys")->instrument, synthInstrumentId);
    EXPECT_FALSE(track("Keys")->instrumentState.empty());
    EXPECT_EQ(track("Keys")->color, colour);
    EXPECT_EQ(track("Keys")->clips.size(), 1u);
}

TEST_F(ArrangementTest, ScrollBarsMoveTheViewAndZoomToFitShowsTheSong) {
    QScrollBar &bar = timeline.horizontalBar();
    window.tick();
    ASSERT_GT(bar.maximum(), 0);
    const double before = timeline.timelineGeometry().scrollBeats;
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(bar.width() - 20, bar.height() / 2));
    EXPECT_GT(timeline.timelineGeometry().scrollBeats, before);
    key(Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(timeline.timelineGeometry().scrollBeats, 0.0);
    const double visible = (timeline.width() - TimelineGeometry::headerWidth) /
                           timeline.timelineGeometry().pixelsPerBeat;
    EXPECT_GE(visible, engine.samplesToBeats(view.projectEndSamples()));
    key(Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_GT(timeline.timelineGeometry().pixelsPerBeat * visible,
              timeline.width() - TimelineGeometry::headerWidth + 1.0)
        << "zoomed in";
}

TEST_F(ArrangementTest, TheOverviewMovesTheArrangementAcrossTheSongInOneGesture) {
    auto *overview = window.findChild<ArrangementOverview *>();
    ASSERT_NE(overview, nullptr);
    ASSERT_TRUE(overview->isVisible());
    for (int step = 0; step < 4; ++step)
        key(Qt::Key_Equal, Qt::ControlModifier);
    key(Qt::Key_Home);
    window.tick();
    const auto visibleBeats = [&] {
        return (timeline.width() - TimelineGeometry::headerWidth) /
               timeline.timelineGeometry().pixelsPerBeat;
    };
    const double songBeats = engine.samplesToBeats(view.projectEndSamples());
    ASSERT_LT(visibleBeats(), songBeats / 2) << "zoomed in far enough to need the overview";
    const int y = overview->height() / 2;
    const double endX = overview->xForBeats(songBeats);
    QTest::mouseClick(overview, Qt::LeftButton, {}, QPoint(int(endX) - 2, y));
    const double shownEnd = timeline.timelineGeometry().scrollBeats + visibleBeats();
    EXPECT_GT(shownEnd, songBeats - visibleBeats()) << "the song's end is in view";
    // A drag back to the start brings the arrangement along.
    QTest::mousePress(overview, Qt::LeftButton, {}, QPoint(int(endX) - 2, y));
    QMouseEvent drag(QEvent::MouseMove, QPointF(TimelineGeometry::headerWidth + 1, y),
                     overview->mapToGlobal(QPointF(TimelineGeometry::headerWidth + 1, y)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(overview, &drag);
    QTest::mouseRelease(overview, Qt::LeftButton, {}, QPoint(TimelineGeometry::headerWidth + 1, y));
    EXPECT_EQ(timeline.timelineGeometry().scrollBeats, 0.0);
    saveScreenshot(window, "arrangement-overview");

    ASSERT_TRUE(chooseFromMenuBar(window, QStringLiteral("Вид"), QStringLiteral("Показать обзор")));
    EXPECT_FALSE(overview->isVisible());
}

TEST_F(ArrangementTest, AnImportedClipsFileIsTaggedAndItsTrackFrozenFromTheMenus) {
    // One second of a quiet sine, imported as a user imports it.
    const std::filesystem::path wav = harness.scratch("tone.wav");
    std::vector<float> tone(48000 * 2);
    for (std::size_t i = 0; i < tone.size() / 2; ++i)
        tone[2 * i] = tone[2 * i + 1] = 0.25f * std::sin(2.0 * M_PI * 440.0 * i / 48000.0);
    ASSERT_TRUE(exportWav(wav.string(), tone.data(), 48000, 2, 48000.0));
    harness.ui.filesToOpen.push_back({wav.string()});
    std::shared_ptr<Clip> imported;
    std::shared_ptr<Track> owner;
    const auto findImported = [&](bool saved) {
        window.tick();
        std::lock_guard lock(engine.projectMutex);
        for (const auto &candidate : engine.project.tracks)
            for (const auto &clip : candidate->clips)
                if (clip->kind == ClipKind::Audio && clip->audio &&
                    (!saved || !clip->audioFile.empty()))
                    imported = clip, owner = candidate;
        return imported != nullptr;
    };
    key(Qt::Key_I, Qt::ControlModifier);
    // The file is decoded on a worker; the clip arrives with a later tick.
    ASSERT_TRUE(QTest::qWaitFor([&] { return findImported(false); }, 20000))
        << harness.ui.lastStatus();
    // Saved, so that the clip plays a file of the project: tags belong to files.
    imported.reset();
    harness.ui.saveLocations.push_back(harness.scratch("tagged.halvora").string());
    key(Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return findImported(true); }, 20000))
        << harness.ui.lastStatus();
    waitForJobs();
    window.tick();

    QMenu *menu = rightClick(timeline, timeline.clipRectOf(imported->id).center());
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(clickMenuItem(*menu, QStringLiteral("Tags/Vocals")));
    EXPECT_EQ(harness.application().commands().undoName(), "Audio Tag");
    EXPECT_EQ(engine.project.audioMediaTags.at(imported->audioFile),
              std::vector<std::string>{"Vocals"});

    view.selectedTrackId = owner->id;
    // A fader and a pan, which the frozen track must apply once, not twice.
    {
        std::lock_guard lock(engine.projectMutex);
        owner->gain = 0.5f;
        owner->pan = 0.4f;
        engine.publishGraph();
    }
    const int64_t span = imported->length + 2 * 48000;
    std::vector<float> song;
    ASSERT_TRUE(renderMixdown(engine, song, imported->arrangeStart, span, 2));
    ASSERT_TRUE(chooseFromMenuBar(window, QStringLiteral("Track"), QStringLiteral("Freeze Track")));
    waitForJobs();
    EXPECT_EQ(harness.application().commands().undoName(), "Freeze Track");
    EXPECT_TRUE(owner->frozen);
    std::shared_ptr<Clip> frozen;
    for (const auto &clip : owner->clips)
        if (clip->name == "Freeze") frozen = clip;
    ASSERT_NE(frozen, nullptr);
    // The freeze clip covers the track's clips and two seconds of tail, the clip it replaces
    // no longer plays, and the song sounds as it did.
    ASSERT_TRUE(frozen->audio);
    EXPECT_EQ(frozen->arrangeStart, imported->arrangeStart);
    EXPECT_EQ(frozen->length, span);
    EXPECT_FALSE(imported->takeActive);
    std::vector<float> frozenSong;
    ASSERT_TRUE(renderMixdown(engine, frozenSong, imported->arrangeStart, span, 2));
    EXPECT_EQ(frozenSong, song);
    EXPECT_GT(*std::ranges::max_element(frozenSong), 0.05f) << "the tone is in it";
    window.undo();
    EXPECT_FALSE(owner->frozen);
    EXPECT_TRUE(imported->takeActive);
}

TEST_F(ArrangementTest, TheTuningMenuSetsPresetsAScalaFileAndAKeyboardMap) {
    ASSERT_TRUE(
        chooseFromMenuBar(window, QStringLiteral("Студия"), QStringLiteral("Tuning/Just Major")));
    EXPECT_EQ(harness.application().commands().undoName(), "Scala Tuning");
    EXPECT_EQ(engine.project.scalaPresetIndex, 2);

    const std::filesystem::path scala = harness.scratch("quarter.scl");
    writeTextFile(scala, "! quarter.scl\nQuarter sharp\n 12\n!\n150.0\n200.0\n300.0\n400.0\n"
                         "500.0\n600.0\n700.0\n800.0\n900.0\n1000.0\n1100.0\n2/1\n");
    harness.ui.filesToOpen.push_back({scala.string()});
    ASSERT_TRUE(chooseFromMenuBar(window, QStringLiteral("Студия"),
                                  QStringLiteral("Tuning/Import Scala File…")));
    EXPECT_EQ(harness.application().commands().undoName(), "Import Scala");
    EXPECT_EQ(engine.project.scalaName, "Quarter sharp");
    EXPECT_NEAR(engine.project.scalaCents[1], 50.0f, 1e-3f);

    // A damaged file changes nothing and says why.
    const std::filesystem::path broken = harness.scratch("broken.kbm");
    writeTextFile(broken, "not a keyboard map\n");
    harness.ui.filesToOpen.push_back({broken.string()});
    ASSERT_TRUE(chooseFromMenuBar(window, QStringLiteral("Студия"),
                                  QStringLiteral("Tuning/Keyboard Map (.kbm)…")));
    EXPECT_EQ(harness.application().commands().undoName(), "Import Scala")
        << "a file that cannot be read is no edit";
    EXPECT_TRUE(engine.project.kbmDegrees.empty());
    const QString unread =
        shownInWindow(QStringLiteral("Keyboard map not read: %1")).arg(QString());
    EXPECT_NE(harness.ui.lastStatus().find(unread.trimmed().toStdString()), std::string::npos)
        << harness.ui.lastStatus();
}

TEST_F(ArrangementTest, TheTransportMenuReachesTheTempoFollowerAndTheFlashbackLength) {
    ASSERT_FALSE(engine.project.tempoFollowerEnabled);
    ASSERT_TRUE(
        chooseFromMenuBar(window, QStringLiteral("Transport"), QStringLiteral("Tempo Follower")));
    EXPECT_TRUE(engine.project.tempoFollowerEnabled);
    const int32_t seconds = engine.project.flashbackBufferSeconds;
    ASSERT_TRUE(chooseFromMenuBar(
        window, QStringLiteral("Transport"),
        shownInWindow(QStringLiteral("Flashback Length: %1 s (change)")).arg(seconds)));
    EXPECT_NE(engine.project.flashbackBufferSeconds, seconds);
}

} // namespace
