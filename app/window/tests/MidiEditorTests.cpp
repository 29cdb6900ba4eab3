#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/MidiEditor.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/engine/Engine.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>

using namespace orvane;
using namespace orvane::testing;

namespace {

class MidiEditorTest : public ::testing::Test {
  protected:
    WindowTestHarness harness{"midi"};
    MainWindow &window = harness.window();
    MidiEditor &editor = window.midiEditor();
    Engine &engine = harness.application().engine();
    std::shared_ptr<Clip> clip;

    void SetUp() override {
        {
            std::lock_guard lock(engine.projectMutex);
            for (const auto &track : engine.project.tracks)
                for (const auto &candidate : track->clips)
                    if (candidate->kind == ClipKind::Midi && !candidate->isSessionClip() && !clip)
                        clip = candidate;
        }
        ASSERT_NE(clip, nullptr);
        // Opened the way a user opens it: a double-click on the clip.
        const QPoint at = window.timeline().clipRectOf(clip->id).center().toPoint();
        QTest::mouseDClick(&window.timeline(), Qt::LeftButton, {}, at);
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

TEST_F(MidiEditorTest, TheCommandsMenuRewritesTheClipsNotes) {
    std::vector<int32_t> pitches;
    for (const auto &note : clip->notes)
        pitches.push_back(note.pitch);
    QAction *transpose = nullptr;
    for (QAction *candidate : editor.commandsMenu()->actions())
        if (candidate->text() == QStringLiteral("Transpose +12")) transpose = candidate;
    ASSERT_NE(transpose, nullptr);
    transpose->trigger();
    for (std::size_t i = 0; i < pitches.size(); ++i)
        EXPECT_EQ(clip->notes[i].pitch, pitches[i] + 12);
    EXPECT_GE(editor.commandsMenu()->actions().size(), 10);
}

} // namespace
