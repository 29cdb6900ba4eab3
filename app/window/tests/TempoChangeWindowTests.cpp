// A tempo typed into the toolbar keeps the MIDI on its bars, as a musician thinks of it, and
// leaves recorded audio where it sounds.
#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"
#include "core/model/MusicalTime.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QTest>

using namespace orvane;
using namespace orvane::testing;

namespace {

class TempoChangeTest : public WindowTest {
  protected:
    TempoChangeTest() : WindowTest("tempo-change") {}

    double beatsAt(int64_t samples) {
        std::lock_guard lock(engine.projectMutex);
        const Project &project = engine.project;
        return samplesToMusicalBeats(samples, project.sampleRate, project.tempoMarkers,
                                     project.tempoBpm);
    }
    /// Types `bpm` into the toolbar's tempo field and presses Enter, as a user does.
    void typeTempo(const char *bpm) {
        QLineEdit *text = window.tempoField->findChild<QLineEdit *>();
        ASSERT_NE(text, nullptr);
        QTest::mouseClick(text, Qt::LeftButton);
        QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(text, QString::fromLatin1(bpm));
        QTest::keyClick(text, Qt::Key_Return);
        QApplication::processEvents();
    }
};

TEST_F(TempoChangeTest, ATypedTempoKeepsMidiOnItsBarsAndAudioInPlace) {
    std::shared_ptr<Clip> phrase, loop, take;
    int64_t bar = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        Project &project = engine.project;
        ASSERT_DOUBLE_EQ(project.tempoBpm, 120.0);
        bar = musicalBeatsToSamples(4.0, project.sampleRate, project.tempoMarkers, 120.0);
        for (const auto &track : project.tracks)
            for (const auto &clip : track->clips) {
                if (clip->kind == ClipKind::Midi && !clip->isSessionClip()) phrase = clip;
                if (clip->kind == ClipKind::Midi && clip->isSessionClip()) loop = clip;
            }
        ASSERT_TRUE(phrase && loop) << "the start-up song has a phrase and a session loop";
        phrase->arrangeStart = 2 * bar; // on bar 3
        const auto audio = track("Аудио 1");
        ASSERT_TRUE(audio);
        take = project.addClip(audio->id, ClipKind::Audio);
        take->arrangeStart = 3 * bar;
        take->length = bar;
    }
    const Clip phraseBefore = *phrase, loopBefore = *loop, takeBefore = *take;
    ASSERT_EQ(phraseBefore.notes.size(), 3u);

    typeTempo("100");
    ASSERT_DOUBLE_EQ(engine.project.tempoBpm, 100.0) << harness.ui.lastStatus();
    EXPECT_EQ(harness.application().commands().undoName(), "Tempo");
    // The phrase still starts on bar 3 and lasts four bars; its notes fall on beats 0, 1, 2.
    EXPECT_NEAR(beatsAt(phrase->arrangeStart), 8.0, 1e-3);
    EXPECT_NEAR(beatsAt(phrase->length), 16.0, 1e-3);
    ASSERT_EQ(phrase->notes.size(), 3u);
    for (std::size_t index = 0; index < 3; ++index) {
        EXPECT_NEAR(beatsAt(phrase->notes[index].start), static_cast<double>(index), 1e-3);
        EXPECT_NEAR(beatsAt(phrase->notes[index].length), 1.0, 1e-3);
        EXPECT_EQ(phrase->notes[index].pitch, phraseBefore.notes[index].pitch);
    }
    EXPECT_GT(phrase->arrangeStart, phraseBefore.arrangeStart) << "a slower song is longer";
    // The session loop stays one bar, its note half a beat long.
    EXPECT_NEAR(beatsAt(loop->length), 4.0, 1e-3);
    EXPECT_NEAR(beatsAt(loop->loopLength), 4.0, 1e-3);
    EXPECT_NEAR(beatsAt(loop->notes[0].length), 0.5, 1e-3);
    // Audio sounds where it was recorded.
    EXPECT_EQ(take->arrangeStart, takeBefore.arrangeStart);
    EXPECT_EQ(take->length, takeBefore.length);
    saveScreenshot(window, "tempo-100-midi-on-its-bars");

    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(engine.project.tempoBpm, 120.0);
    EXPECT_EQ(phrase->arrangeStart, phraseBefore.arrangeStart);
    EXPECT_EQ(phrase->length, phraseBefore.length);
    EXPECT_EQ(phrase->notes, phraseBefore.notes);
    EXPECT_EQ(loop->loopLength, loopBefore.loopLength);
    EXPECT_EQ(loop->notes, loopBefore.notes);
}

} // namespace
