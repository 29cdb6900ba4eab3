#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/MidiEditor.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/commands/NoteTransformCommands.h"
#include "core/engine/ClipVoices.h"
#include "core/engine/Engine.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <functional>
#include <set>

using namespace orvane;
using namespace orvane::testing;

namespace {

class MidiEditorTest : public WindowTest {
  protected:
    // These tests find the editor's controls by their English texts.
    MidiEditorTest() : WindowTest("midi", Language::English) {}
    MidiEditor &editor = window.midiEditor();
    std::shared_ptr<Clip> clip;

    void SetUp() override {
        WindowTest::SetUp();
        {
            std::lock_guard lock(engine.projectMutex);
            for (const auto &track : engine.project.tracks)
                for (const auto &candidate : track->clips)
                    if (candidate->kind == ClipKind::Midi && !candidate->isSessionClip() && !clip)
                        clip = candidate;
        }
        ASSERT_NE(clip, nullptr);
        // Opened the way a user opens it: a double-click on the clip.
        const QPoint at = timeline.clipRectOf(clip->id).center().toPoint();
        QTest::mouseDClick(&timeline, Qt::LeftButton, {}, at);
        ASSERT_EQ(editor.clipId(), clip->id);
        ASSERT_TRUE(editor.isVisible());
        QApplication::processEvents();
    }
    void drag(QPointF from, QPointF to) { dragMouse(editor, from, to); }
    int64_t beats(double count) { return engine.beatsToSamples(count); }
};

TEST_F(MidiEditorTest, ADoubleClickAddsANoteOnThePitchAndBeatUnderIt) {
    const std::size_t before = clip->notes.size();
    const QPointF at(editor.xForSamples(beats(3.0)) + 2.0,
                     editor.yForPitch(72) + MidiEditor::noteHeight / 2);
    QTest::mouseDClick(&editor, Qt::LeftButton, {}, at.toPoint());
    ASSERT_EQ(clip->notes.size(), before + 1);
    EXPECT_EQ(clip->notes.back().pitch, 72);
    EXPECT_EQ(clip->notes.back().start, beats(3.0));
    window.undo();
    EXPECT_EQ(clip->notes.size(), before);
    saveScreenshot(editor, "midi-editor");
}

TEST_F(MidiEditorTest, NotesMoveResizeChangeVelocityAndDelete) {
    const MidiNote first = clip->notes.at(0);
    QRectF box = editor.noteRect(0);
    // Half a beat on: no other note starts there, so its velocity bar stands alone.
    drag(box.center(),
         box.center() + QPointF(editor.pixelsPerBeat / 2, -2 * MidiEditor::noteHeight));
    EXPECT_EQ(clip->notes[0].pitch, first.pitch + 2);
    EXPECT_EQ(clip->notes[0].start, first.start + beats(0.5));
    EXPECT_EQ(clip->notes[0].length, first.length);
    box = editor.noteRect(0);
    drag(QPointF(box.right() - 2, box.center().y()),
         QPointF(box.right() - 2 + editor.pixelsPerBeat, box.center().y()));
    EXPECT_EQ(clip->notes[0].length, first.length + beats(1.0));
    const double x = editor.xForSamples(clip->notes[0].start) + 1;
    drag(QPointF(x, editor.height() - 5),
         QPointF(x, editor.height() - MidiEditor::velocityHeight + 10));
    EXPECT_GT(clip->notes[0].velocity, 0.85f);
    const std::size_t count = clip->notes.size();
    QTest::mouseClick(&editor, Qt::RightButton, {}, editor.noteRect(0).center().toPoint());
    EXPECT_EQ(clip->notes.size(), count - 1);
    EXPECT_EQ(harness.application().commands().undoName(), "Delete MIDI Note");
    window.undo();
    EXPECT_EQ(clip->notes.size(), count);
}

TEST_F(MidiEditorTest, AltMovesAndSizesANoteOffTheGrid) {
    const MidiNote first = clip->notes.at(0);
    const QRectF box = editor.noteRect(0);
    // A third of a beat on: no grid step of the roll lies there.
    const double step = editor.pixelsPerBeat / 3.0;
    dragMouse(editor, box.center(), box.center() + QPointF(step, 0.0), Qt::AltModifier);
    EXPECT_NE(clip->notes[0].start % editor.gridStepSamples(), 0) << clip->notes[0].start;
    EXPECT_NEAR(double(clip->notes[0].start - first.start), double(beats(1.0 / 3.0)),
                double(beats(0.05)));
    window.undo();
    // Without Alt the same move lands on the grid.
    dragMouse(editor, box.center(), box.center() + QPointF(step, 0.0));
    EXPECT_EQ(clip->notes[0].start % editor.gridStepSamples(), 0);
    window.undo();
    const QRectF again = editor.noteRect(0);
    dragMouse(editor, QPointF(again.right() - 2, again.center().y()),
              QPointF(again.right() - 2 + step, again.center().y()), Qt::AltModifier);
    EXPECT_NE(clip->notes[0].length % editor.gridStepSamples(), 0) << clip->notes[0].length;
}

TEST_F(MidiEditorTest, TheRollFollowsNotesTransposedOutOfSight) {
    QMenu &menu = *editor.commandsMenu();
    const auto inSight = [&] {
        const QRectF roll(0, MidiEditor::rulerHeight, editor.width(),
                          editor.height() - MidiEditor::velocityHeight - MidiEditor::rulerHeight);
        for (int32_t index = 0; index < int32_t(clip->notes.size()); ++index)
            if (roll.intersects(editor.noteRect(index))) return true;
        return false;
    };
    ASSERT_TRUE(inSight());
    for (int turn = 0; turn < 3; ++turn) {
        menu.popup(editor.mapToGlobal(QPoint(60, 40)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
        ASSERT_TRUE(clickMenuItem(menu, QStringLiteral("Transpose/+12")));
        menu.hide();
        EXPECT_TRUE(inSight()) << "after " << turn + 1 << " octaves up";
    }
    saveScreenshot(editor, "midi-editor-transposed");
}

/// One item of the MIDI menu: where it is, the undo step it makes, and what it changed.
struct MenuRow {
    const char *path;
    const char *undoName;
    std::function<bool(const std::vector<MidiNote> &before, const Clip &, const Track &,
                        const Project &)>
        changed;
};

bool allInCMajor(const Clip &clip) {
    return std::ranges::all_of(clip.notes, [](const MidiNote &note) {
        const int32_t pc = note.pitch % 12;
        return pc == 0 || pc == 2 || pc == 4 || pc == 5 || pc == 7 || pc == 9 || pc == 11;
    });
}

bool eachNote(const std::vector<MidiNote> &before, const Clip &clip,
              const std::function<bool(const MidiNote &was, const MidiNote &now)> &relation) {
    if (before.size() != clip.notes.size()) return false;
    for (std::size_t i = 0; i < before.size(); ++i)
        if (!relation(before[i], clip.notes[i])) return false;
    return true;
}

TEST_F(MidiEditorTest, EveryMidiMenuItemIsOneUndoableEditOfTheClipOrItsTrack) {
    {
        // A note off the scale, so that pitch quantising has something to do.
        std::lock_guard lock(engine.projectMutex);
        clip->notes.at(0).pitch = 61;
    }
    const MenuRow rows[] = {
        {"Transpose/+12", "Transpose",
         [](const auto &before, const Clip &now, const Track &, const Project &) {
             return eachNote(before, now, [](auto &was, auto &is) { return is.pitch == was.pitch + 12; });
         }},
        {"Pitch Quantize to Scale", "Pitch Quantize",
         [](const auto &before, const Clip &now, const Track &, const Project &) {
             return before.at(0).pitch == 61 && allInCMajor(now);
         }},
        {"Scale Duration/Double (×2)", "Scale MIDI Duration",
         [](const auto &before, const Clip &now, const Track &, const Project &) {
             return eachNote(before, now, [](auto &was, auto &is) {
                 return is.start == was.start * 2 && is.length == was.length * 2;
             });
         }},
        {"Pitch Bend/+50 cents", "Pitch Bend",
         [](const auto &before, const Clip &now, const Track &, const Project &) {
             return eachNote(before, now,
                             [](auto &was, auto &is) { return is.bendCents == was.bendCents + 50.0f; });
         }},
        {"MPE on This Track", "MPE",
         [](const auto &, const Clip &, const Track &track, const Project &) {
             return track.mpeEnabled;
         }},
        {"Expression Map/Brass", "Expression Map",
         [](const auto &, const Clip &, const Track &track, const Project &) {
             return track.expressionMapIndex == 1;
         }},
        {"Groove/Active: MPC Swing", "Active Groove",
         [](const auto &, const Clip &, const Track &, const Project &project) {
             return project.activeGrooveIndex == 1 && project.groovePool.size() == 2;
         }},
        {"Groove/Apply Shuffle to Track", "Apply Groove",
         [](const auto &, const Clip &, const Track &, const Project &project) {
             return project.groovePool.size() == 2;
         }},
    };
    QMenu &menu = *editor.commandsMenu();
    for (const MenuRow &row : rows) {
        SCOPED_TRACE(row.path);
        const std::vector<MidiNote> before = clip->notes;
        const Project projectBefore = engine.project;
        const auto track = engine.project.findTrack(clip->trackId);
        menu.popup(editor.mapToGlobal(QPoint(60, 40)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
        ASSERT_TRUE(clickMenuItem(menu, QString::fromUtf8(row.path)));
        menu.hide();
        EXPECT_EQ(harness.application().commands().undoName(), row.undoName);
        EXPECT_TRUE(row.changed(before, *clip, *track, engine.project));
        window.undo();
        EXPECT_EQ(clip->notes, before);
        EXPECT_EQ(track->mpeEnabled, projectBefore.findTrack(track->id)->mpeEnabled);
        EXPECT_EQ(engine.project.groovePool, projectBefore.groovePool);
    }
}

TEST_F(MidiEditorTest, EuclideanStepsAskForTheirPatternAndWriteIt) {
    const QRect cell = QRect(QPoint(0, 0), editor.size());
    whenDialogShows([](QWidget &dialog) {
        const auto spins = dialog.findChildren<QSpinBox *>();
        ASSERT_EQ(spins.size(), 2);
        spins[0]->setValue(8);
        spins[1]->setValue(3);
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    QMenu &menu = *editor.commandsMenu();
    menu.popup(editor.mapToGlobal(cell.center()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    ASSERT_TRUE(clickMenuItem(menu, QStringLiteral("Euclidean Steps…")));
    EXPECT_EQ(harness.application().commands().undoName(), "Euclidean Fill");
    const auto onKick = std::ranges::count_if(clip->notes, [](const MidiNote &note) {
        return note.pitch == ApplyEuclideanStepSeqCommand::kPitches[0];
    });
    EXPECT_EQ(onKick, 3);
}

/// The widget of type T under `root` whose tooltip starts with `tip`: the editor's bar
/// names its controls only there.
template <typename T> T *childWithTip(QWidget &root, const char *tip) {
    for (T *candidate : root.findChildren<T *>())
        if (candidate->toolTip().startsWith(QString::fromUtf8(tip))) return candidate;
    return nullptr;
}

class MidiEditorHandsTest : public MidiEditorTest {
  protected:
    void SetUp() override {
        MidiEditorTest::SetUp();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window)) << "keys reach an active window only";
        editor.setFocus();
    }
    void key(int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(&editor, static_cast<Qt::Key>(key), modifiers);
    }
    /// A pitch a few rows under the top of the roll: in view, and above the clip's notes.
    int32_t topPitch() const { return editor.pitchForY(MidiEditor::rulerHeight + 20.0); }
    QPointF at(double beat, int32_t pitch) {
        return {editor.xForSamples(beats(beat)) + 3.0,
                editor.yForPitch(pitch) + MidiEditor::noteHeight / 2};
    }
};

TEST_F(MidiEditorHandsTest, ARubberBandSelectionIsCopiedPastedMovedAndDeletedAsOne) {
    const std::size_t count = clip->notes.size();
    ASSERT_GE(count, 2u);
    key(Qt::Key_V);
    ASSERT_EQ(editor.tool(), MidiTool::Select);
    // Around every note of the clip.
    drag(QPointF(MidiEditor::keyboardWidth + 1, MidiEditor::rulerHeight + 1),
         QPointF(editor.width() - 2, editor.height() - MidiEditor::velocityHeight - 2));
    EXPECT_EQ(editor.selectedNotes().size(), count);
    key(Qt::Key_C, Qt::ControlModifier);
    // The playhead is outside the clip: the copy lands right after what was copied.
    engine.transport.playhead.store(clip->arrangeStart + clip->length + beats(64));
    key(Qt::Key_V, Qt::ControlModifier);
    ASSERT_EQ(clip->notes.size(), count * 2);
    EXPECT_EQ(harness.application().commands().undoName(), "Paste MIDI");
    int64_t copiedEnd = 0;
    for (std::size_t i = 0; i < count; ++i)
        copiedEnd = std::max(copiedEnd, clip->notes[i].start + clip->notes[i].length);
    const int64_t firstStart = std::ranges::min(
        std::vector(clip->notes.begin(), clip->notes.begin() + count), {}, &MidiNote::start).start;
    EXPECT_EQ(clip->notes[count].start - clip->notes[0].start, copiedEnd - firstStart);
    EXPECT_EQ(editor.selectedNotes().size(), count) << "the pasted notes are selected";
    // Moving one pasted note moves them all by the same beat and pitch.
    const std::vector<MidiNote> pasted(clip->notes.begin() + static_cast<long>(count),
                                       clip->notes.end());
    const int32_t lead = static_cast<int32_t>(count);
    // Scrolled as a hand does, with Shift and the wheel, until the pasted notes are in view.
    for (int turn = 0; turn < 40 && editor.noteRect(lead).right() > editor.width() - 150; ++turn)
    {
        QWheelEvent wheel(QPointF(200, 60), editor.mapToGlobal(QPointF(200, 60)), {},
                          QPoint(0, -120), Qt::NoButton, Qt::ShiftModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(&editor, &wheel);
    }
    const QPointF grab = editor.noteRect(lead).center();
    ASSERT_GT(grab.x(), MidiEditor::keyboardWidth);
    drag(grab, grab + QPointF(editor.pixelsPerBeat, -MidiEditor::noteHeight));
    for (std::size_t i = 0; i < pasted.size(); ++i) {
        EXPECT_EQ(clip->notes[count + i].pitch, pasted[i].pitch + 1);
        EXPECT_EQ(clip->notes[count + i].start, pasted[i].start + beats(1.0));
    }
    EXPECT_EQ(harness.application().commands().undoName(), "Move MIDI Notes");
    key(Qt::Key_Delete);
    EXPECT_EQ(clip->notes.size(), count);
    EXPECT_EQ(harness.application().commands().undoName(), "Delete MIDI Notes");
    window.undo();
    EXPECT_EQ(clip->notes.size(), count * 2);
}

TEST_F(MidiEditorHandsTest, ThePencilFollowsTheGridAndTheVelocityFieldSetsTheSelection) {
    auto *grid = childWithTip<QComboBox>(window, "Grid");
    ASSERT_NE(grid, nullptr);
    grid->setFocus();
    // The eighth is the second choice: one Up from the sixteenth.
    QTest::keyClick(grid, Qt::Key_Up);
    QApplication::processEvents();
    ASSERT_DOUBLE_EQ(editor.gridBeats(), 0.5);
    key(Qt::Key_D);
    const std::size_t count = clip->notes.size();
    const int32_t pitch = topPitch();
    QTest::mouseClick(&editor, Qt::LeftButton, {}, at(1.2, pitch).toPoint());
    ASSERT_EQ(clip->notes.size(), count + 1);
    EXPECT_EQ(clip->notes.back().pitch, pitch);
    EXPECT_EQ(clip->notes.back().start, beats(1.0));
    EXPECT_EQ(clip->notes.back().length, beats(0.5));
    auto *field = childWithTip<QDoubleSpinBox>(window, "Velocity");
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isEnabled());
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("64"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_NEAR(clip->notes.back().velocity, 64.0f / 127.0f, 1e-4f);
}

// Quantize follows the roll's own grid, not the arrangement's, and moves only the selected
// notes when some are selected: an eighth-note line stays eighths under a quarter toolbar grid.
TEST_F(MidiEditorHandsTest, QuantizeFollowsTheRollsGridAndTheSelection) {
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.gridQuantize = GridQuantize::Quarter;
        engine.project.quantizeStrength = 1.0f;
        engine.project.swingAmount = 0.0f;
        engine.project.scaleSnapEnabled = false;
        // Six eighths, each played a little late, on one pitch a step apart.
        clip->notes.clear();
        for (int k = 0; k < 6; ++k)
            clip->notes.push_back(
                MidiNote{60 + 2 * k, 0.8f, beats(0.5 * k + 0.06), beats(0.4), 1.0f, 0.0f});
        engine.publishGraph();
    }
    editor.update();
    QApplication::processEvents();
    auto *grid = childWithTip<QComboBox>(window, "Grid");
    ASSERT_NE(grid, nullptr);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Up); // from the sixteenth to the eighth
    QApplication::processEvents();
    ASSERT_DOUBLE_EQ(editor.gridBeats(), 0.5);
    editor.setFocus();
    key(Qt::Key_V);
    const std::vector<MidiNote> before = clip->notes;
    QTest::mouseClick(&editor, Qt::LeftButton, {}, editor.noteRect(1).center().toPoint());
    QTest::mouseClick(&editor, Qt::LeftButton, Qt::ControlModifier,
                      editor.noteRect(3).center().toPoint());
    ASSERT_EQ(editor.selectedNotes(), (std::set<int32_t>{1, 3}));

    QMenu &menu = *editor.commandsMenu();
    menu.popup(editor.mapToGlobal(QPoint(60, 40)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    ASSERT_TRUE(clickMenuItem(menu, QStringLiteral("Quantize")));
    menu.hide();
    EXPECT_EQ(harness.application().commands().undoName(), "Quantize Notes");
    ASSERT_EQ(clip->notes.size(), before.size());
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        const bool selected = k == 1 || k == 3;
        EXPECT_EQ(clip->notes[k].start, selected ? beats(0.5 * k) : before[k].start);
        EXPECT_EQ(clip->notes[k].pitch, before[k].pitch);
    }

    // With nothing selected, every note goes to the roll's grid: still six eighths, no two
    // notes on one beat.
    window.undo();
    editor.setFocus();
    QTest::mouseClick(&editor, Qt::LeftButton, {},
                      QPoint(editor.width() - 6, MidiEditor::rulerHeight + 30));
    ASSERT_TRUE(editor.selectedNotes().empty());
    menu.popup(editor.mapToGlobal(QPoint(60, 40)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    ASSERT_TRUE(clickMenuItem(menu, QStringLiteral("Quantize")));
    menu.hide();
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(clip->notes[k].start, beats(0.5 * k)) << k;
    saveScreenshot(window, "midi-editor-quantized-eighths");
}

// "Quantize 50%" takes every note half the way to the roll's grid; a second stroke half the
// rest; undo takes one stroke back. A grid the song does not know leaves the items off.
TEST_F(MidiEditorHandsTest, QuantizeStrengthMovesTheNotesPartOfTheWayEachTime) {
    const int64_t late = beats(0.08);
    {
        std::lock_guard lock(engine.projectMutex);
        engine.project.swingAmount = 0.0f;
        ASSERT_EQ(clip->arrangeStart % beats(4.0), 0) << "the clip starts on a bar";
        clip->notes.clear();
        for (int k = 0; k < 4; ++k)
            clip->notes.push_back(
                MidiNote{60 + k, 0.8f, beats(0.5 * k) + late, beats(0.4), 1.0f, 0.0f});
        engine.publishGraph();
    }
    editor.update();
    auto *grid = childWithTip<QComboBox>(window, "Grid");
    ASSERT_NE(grid, nullptr);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Up); // from the sixteenth to the eighth
    QApplication::processEvents();
    ASSERT_DOUBLE_EQ(editor.gridBeats(), 0.5);
    QMenu &menu = *editor.commandsMenu();
    const auto choose = [&](const QString &path) {
        menu.popup(editor.mapToGlobal(QPoint(60, 40)));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&menu));
        const bool chosen = clickMenuItem(menu, path);
        menu.hide();
        return chosen;
    };
    const QString half = QStringLiteral("Quantize Strength/Quantize 50%");
    ASSERT_TRUE(choose(half));
    EXPECT_EQ(harness.application().commands().undoName(), "Iterative Quantize");
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(clip->notes[k].start, beats(0.5 * k) + late / 2, 1) << k;
    ASSERT_TRUE(choose(half));
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(clip->notes[k].start, beats(0.5 * k) + late / 4, 2) << k;
    window.undo();
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(clip->notes[k].start, beats(0.5 * k) + late / 2, 1) << k;
    saveScreenshot(window, "midi-editor-quantized-half-way");

    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(grid, Qt::Key_Down); // the thirty-second
    QApplication::processEvents();
    ASSERT_DOUBLE_EQ(editor.gridBeats(), 0.125);
    EXPECT_FALSE(choose(half)) << "no song grid matches a thirty-second";
}

TEST_F(MidiEditorHandsTest, TheStepViewTogglesDrumStepsAndTheirVelocityAndEscCloses) {
    auto *steps = childWithTip<QToolButton>(window, "Drum steps");
    ASSERT_NE(steps, nullptr);
    QTest::mouseClick(steps, Qt::LeftButton);
    ASSERT_TRUE(editor.stepView());
    const std::size_t count = clip->notes.size();
    const int32_t drum = topPitch();
    QTest::mouseClick(&editor, Qt::LeftButton, {}, at(2.5, drum).toPoint());
    ASSERT_EQ(clip->notes.size(), count + 1);
    EXPECT_EQ(harness.application().commands().undoName(), "Drum Step");
    EXPECT_EQ(clip->notes.back().start, beats(2.5));
    const double x = editor.xForSamples(beats(2.5)) + 1;
    QTest::mouseClick(&editor, Qt::LeftButton, {},
                      QPoint(static_cast<int>(x), editor.height() - 10));
    EXPECT_EQ(harness.application().commands().undoName(), "Drum Velocity");
    EXPECT_LT(clip->notes.back().velocity, 0.3f);
    QTest::mouseClick(&editor, Qt::LeftButton, {}, at(2.5, drum).toPoint());
    EXPECT_EQ(clip->notes.size(), count) << "a second click clears the step";
    // The editor's bar reads well on the dark ground (the roll itself is painted).
    const QImage shown = saveScreenshot(window, "midi-editor-steps");
    EXPECT_EQ(poorlyContrastedText(window, shown), std::vector<std::string>{});
    key(Qt::Key_Escape);
    EXPECT_FALSE(editor.isVisible());
}

// The transport stands and the clip's track is not armed: what is heard comes through the
// audition alone. The track's meter, read as the window reads it, shows each block's peak.
TEST_F(MidiEditorHandsTest, AClickedOrDrawnNoteSoundsOnItsTrackUnlessAuditionIsOff) {
    ASSERT_FALSE(engine.transport.playing.load());
    std::shared_ptr<Track> track;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &candidate : engine.project.tracks)
            for (const auto &owned : candidate->clips)
                if (owned->id == clip->id) track = candidate;
    }
    ASSERT_NE(track, nullptr);
    ASSERT_FALSE(track->armed);
    const auto loudestWithin = [&](int milliseconds) {
        float loudest = 0.0f;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds) {
            engine.copyTrackMetersToProject();
            loudest = std::max(loudest, track->peakL);
            QTest::qWait(5);
        }
        return loudest;
    };
    constexpr float silent = 0.001f;
    EXPECT_LT(loudestWithin(100), silent);

    auto *audition = childWithTip<QToolButton>(window, "Hear a note");
    ASSERT_NE(audition, nullptr);
    EXPECT_TRUE(editor.audition()) << "on by default";
    QTest::mouseClick(audition, Qt::LeftButton);
    ASSERT_FALSE(editor.audition());
    QTest::mouseClick(&editor, Qt::LeftButton, {}, editor.noteRect(0).center().toPoint());
    EXPECT_LT(loudestWithin(400), silent) << "audition off";

    QTest::mouseClick(audition, Qt::LeftButton);
    ASSERT_TRUE(editor.audition());
    // The voice's peak through the fader, allowing for the pan law and a block's phase.
    const float expected = clip->notes.at(0).velocity * noteVoiceLevel * track->gain * 0.25f;
    QTest::mouseClick(&editor, Qt::LeftButton, {}, editor.noteRect(0).center().toPoint());
    EXPECT_GT(loudestWithin(300), expected) << "a clicked note";
    // About 200 ms, then quiet again: the meter falls back before the track stops rendering.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            engine.copyTrackMetersToProject();
            return track->peakL < silent;
        },
        2000));

    const std::size_t count = clip->notes.size();
    QTest::mouseClick(&editor, Qt::LeftButton, {}, at(1.2, topPitch()).toPoint());
    ASSERT_EQ(clip->notes.size(), count + 1);
    EXPECT_GT(loudestWithin(300), silent) << "a drawn note";
    EXPECT_EQ(editor.selectedNotes().size(), 1u) << "the drawn note is the selection";
    const QImage shown = saveScreenshot(window, "midi-editor-audition");
    EXPECT_EQ(poorlyContrastedText(window, shown), std::vector<std::string>{});
}

} // namespace
