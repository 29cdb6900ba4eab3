// The drum sampler as a user meets it: chosen for a MIDI track from the track's header, its
// pads worked with the pointer and the keys in the instrument window, a sample loaded onto a
// pad (a file that is no sample refused with its reason), and every step undone.
#include "app/shell/OVMainView.h"
#include "app/window/DrumPadsEditor.h"
#include "app/window/MainWindow.h"
#include "app/window/SynthPanel.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/commands/CommandStack.h"
#include "core/commands/InstrumentCommands.h"
#include "core/engine/Engine.h"
#include "tests/support/TestWavFiles.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

using namespace orvane;
using namespace orvane::testing;

namespace {

class DrumPanelTest : public WindowTest {
  protected:
    explicit DrumPanelTest(Language language) : WindowTest("drum-panel", language) {}

    std::string undoName() { return harness.application().commands().undoName(); }

    Track now(uint64_t trackId) {
        std::lock_guard lock(engine.projectMutex);
        const auto found = engine.project.findTrack(trackId);
        EXPECT_NE(found, nullptr);
        return found ? *found : Track{};
    }

    stock::DrumKit kitOf(uint64_t trackId) {
        stock::DrumKit kit;
        EXPECT_TRUE(stock::readDrumStateText(now(trackId).instrumentState, kit, nullptr));
        return kit;
    }

    QPointF headerOf(uint64_t trackId) {
        const auto row = timeline.rowOf(trackId);
        EXPECT_TRUE(row.has_value());
        return QPointF(60.0, row ? row->top + 12.0 : 0.0);
    }

    /// Chooses the drum sampler from the header's "Instrument" menu (by the path it shows),
    /// then opens the instrument window from the same menu.
    SynthPanel *chooseDrumsAndOpen(uint64_t trackId, const QString &choicePath,
                                   const QString &openItem) {
        QMenu *menu = rightClick(timeline, headerOf(trackId));
        EXPECT_NE(menu, nullptr);
        if (!menu || !clickMenuItem(*menu, choicePath)) return nullptr;
        menu = rightClick(timeline, headerOf(trackId));
        EXPECT_NE(menu, nullptr);
        if (!menu || !clickMenuItem(*menu, openItem)) return nullptr;
        SynthPanel *panel = window.instrumentPanel();
        EXPECT_NE(panel, nullptr);
        if (!panel) return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel));
        panel->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(panel));
        return panel;
    }

    static QPoint handleOf(const QSlider &slider) {
        const int length = slider.style()->pixelMetric(QStyle::PM_SliderLength, nullptr, &slider);
        const int x = QStyle::sliderPositionFromValue(slider.minimum(), slider.maximum(),
                                                      slider.value(), slider.width() - length);
        return QPoint(x + length / 2, slider.height() / 2);
    }
};

class DrumPanelEnglishTest : public DrumPanelTest {
  protected:
    DrumPanelEnglishTest() : DrumPanelTest(Language::English) {}
};

class DrumPanelRussianTest : public DrumPanelTest {
  protected:
    DrumPanelRussianTest() : DrumPanelTest(Language::Russian) {}
};

TEST_F(DrumPanelEnglishTest, PadsAreEditedAndSamplesLoadedAsUndoableSteps) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    const Track before = now(midi->id);
    SynthPanel *panel = chooseDrumsAndOpen(midi->id, QStringLiteral("Instrument/Drum Sampler"),
                                           QStringLiteral("Instrument…"));
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(now(midi->id).instrument, drumsInstrumentId);
    EXPECT_EQ(now(midi->id).instrumentState, defaultDrumsState());
    EXPECT_EQ(undoName(), "Track Instrument");
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("MIDI 1 — Drum Sampler"));
    EXPECT_EQ(panel->instrumentChooser()->currentText(), QStringLiteral("Drum Sampler"));
    EXPECT_FALSE(panel->presetChooser()->isVisible()) << "the kit has no synth presets";

    DrumPadsEditor *pads = panel->drumPads();
    ASSERT_NE(pads, nullptr);
    ASSERT_TRUE(pads->isVisible());
    const stock::DrumKit kit = stock::defaultDrumKit();
    ASSERT_EQ(pads->padCount(), static_cast<int>(kit.pads.size()));
    for (int pad = 0; pad < pads->padCount(); ++pad) {
        const stock::DrumPad &expected = kit.pads[static_cast<std::size_t>(pad)];
        EXPECT_EQ(pads->nameLabel(pad)->text().toStdString(), expected.name);
        EXPECT_EQ(pads->noteBox(pad)->value(), expected.note);
        EXPECT_EQ(pads->sampleLabel(pad)->text(), QStringLiteral("Synthesised"));
        EXPECT_EQ(pads->gainText(pad)->text(), QStringLiteral("0.0 dB"));
    }
    EXPECT_EQ(pads->chokeBox(5)->text(), QStringLiteral("1")) << "the closed hat";
    EXPECT_EQ(pads->chokeBox(0)->text(), QStringLiteral("None"));

    // The snare's gain dragged down: stored once, when the slider is let go.
    const int snare = 2;
    QSlider *gain = pads->gainSlider(snare);
    const QPoint grab = handleOf(*gain);
    const QPoint to(grab.x() - gain->width() / 4, grab.y());
    QTest::mousePress(gain, Qt::LeftButton, {}, grab);
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(gain, grab + (to - grab) * step / 4);
    EXPECT_TRUE(gain->isSliderDown());
    EXPECT_EQ(now(midi->id).instrumentState, defaultDrumsState()) << "nothing stored mid-drag";
    QTest::mouseRelease(gain, Qt::LeftButton, {}, to);
    QApplication::processEvents();
    const float dragged = kitOf(midi->id).pads[snare].gainDb;
    EXPECT_LT(dragged, -5.0f);
    EXPECT_EQ(undoName(), "Drum Pad");
    EXPECT_EQ(pads->gainText(snare)->text(),
              QString::number(dragged, 'f', 1) + QStringLiteral(" dB"));

    // A page up with the keys: another step of its own, three decibels up.
    gain->setFocus();
    QTest::keyClick(gain, Qt::Key_PageUp);
    EXPECT_NEAR(kitOf(midi->id).pads[snare].gainDb, dragged + 3.0f, 1e-4f);
    // The open hat moved into another choke group with the spin box's arrow key.
    QSpinBox *choke = pads->chokeBox(7);
    choke->setFocus();
    QTest::keyClick(choke, Qt::Key_Up);
    EXPECT_EQ(kitOf(midi->id).pads[7].chokeGroup, 2);

    // A file that is no sample: refused with its reason, nothing changed.
    const std::string stored = now(midi->id).instrumentState;
    const auto notAudio = harness.scratch("notes.wav");
    std::ofstream(notAudio) << "these are words";
    pads->chooseSampleFile = [&] { return QString::fromStdString(notAudio.string()); };
    QTest::mouseClick(pads->loadButton(0), Qt::LeftButton);
    EXPECT_TRUE(pads->message()->isVisible());
    EXPECT_TRUE(pads->message()->text().contains(QStringLiteral("The sample was not loaded")))
        << pads->message()->text().toStdString();
    EXPECT_EQ(now(midi->id).instrumentState, stored);

    // A real sample on the kick: the message goes, the pad names the file.
    const auto kickFile = harness.scratch("deep kick.wav");
    std::vector<int16_t> pcm;
    for (int i = 0; i < 2400; ++i)
        pcm.push_back(static_cast<int16_t>(12000 - i * 5));
    RiffBuilder().format(1, 1, 48000, 16).data(pcm).sealed().writeTo(kickFile.string());
    pads->chooseSampleFile = [&] { return QString::fromStdString(kickFile.string()); };
    QTest::mouseClick(pads->loadButton(0), Qt::LeftButton);
    EXPECT_FALSE(pads->message()->isVisible());
    EXPECT_EQ(undoName(), "Drum Sample");
    ASSERT_EQ(kitOf(midi->id).pads[0].layers.size(), 1u);
    std::string root;
    {
        std::lock_guard lock(engine.projectMutex);
        root = engine.project.rootPath;
    }
    ASSERT_TRUE(root.empty()) << "the start-up song has no folder yet";
    EXPECT_EQ(kitOf(midi->id).pads[0].layers[0].file, kickFile.string())
        << "an unsaved project names the file where it is, until the save copies it";
    EXPECT_EQ(pads->sampleLabel(0)->text(), QStringLiteral("deep kick.wav"));
    // The file gone from where the kit names it: the pad says so.
    std::filesystem::rename(kickFile, harness.scratch("moved.wav"));
    pads->showKit(kitOf(midi->id));
    EXPECT_EQ(pads->sampleLabel(0)->text(), QStringLiteral("deep kick.wav (missing)"));
    std::filesystem::rename(harness.scratch("moved.wav"), kickFile);
    pads->showKit(kitOf(midi->id));
    EXPECT_EQ(pads->sampleLabel(0)->text(), QStringLiteral("deep kick.wav"));
    const QImage shown = saveScreenshot(*panel, "drum-panel-en");
    EXPECT_EQ(poorlyContrastedText(*panel, shown), std::vector<std::string>{});

    // Undone step by step with the panel's keys, and the panel follows.
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pads->sampleLabel(0)->text(), QStringLiteral("Synthesised"));
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pads->chokeBox(7)->value(), 1);
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NEAR(kitOf(midi->id).pads[snare].gainDb, dragged, 1e-4f);
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(now(midi->id).instrumentState, defaultDrumsState());
    EXPECT_EQ(pads->gainText(snare)->text(), QStringLiteral("0.0 dB"));
    EXPECT_EQ(gain->value(), 0);
    window.undo();
    EXPECT_EQ(now(midi->id).instrument, before.instrument);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !pads->isVisible(); }, 2000));
}

// A pad gets a sample for harder hits from its "+ Layer…" button, the velocities shared
// between its samples; one is removed from the sample's context menu; both undone.
TEST_F(DrumPanelEnglishTest, VelocityLayersAreAddedFromTheRowAndRemovedFromTheSample) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    SynthPanel *panel = chooseDrumsAndOpen(midi->id, QStringLiteral("Instrument/Drum Sampler"),
                                           QStringLiteral("Instrument…"));
    ASSERT_NE(panel, nullptr);
    DrumPadsEditor *pads = panel->drumPads();
    ASSERT_NE(pads, nullptr);
    const int snare = 2;
    const std::string kitBefore = now(midi->id).instrumentState;
    const auto hardSnare = harness.scratch("hard snare.wav");
    std::vector<int16_t> pcm;
    for (int i = 0; i < 2400; ++i)
        pcm.push_back(static_cast<int16_t>((i * 53) % 24000 - 12000));
    RiffBuilder().format(1, 1, 48000, 16).data(pcm).sealed().writeTo(hardSnare.string());
    pads->chooseSampleFile = [&] { return QString::fromStdString(hardSnare.string()); };

    QTest::mouseClick(pads->addLayerButton(snare), Qt::LeftButton);
    EXPECT_EQ(undoName(), "Add Velocity Layer");
    std::vector<stock::DrumLayer> layers = kitOf(midi->id).pads[snare].layers;
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0].file, "builtin:snare");
    EXPECT_EQ(layers[0].highVelocity, 63);
    EXPECT_EQ(layers[1].file, hardSnare.string());
    EXPECT_EQ(layers[1].lowVelocity, 64);
    EXPECT_EQ(pads->sampleLabel(snare)->text(), QStringLiteral("Synthesised (2 velocity layers)"));
    const QImage shown = saveScreenshot(*panel, "drum-panel-layers-en");
    EXPECT_EQ(poorlyContrastedText(*panel, shown), std::vector<std::string>{});

    // The synthesised soft layer removed from the sample's menu: the file plays every hit.
    whenMenuShows(QStringLiteral("Remove Synthesised (velocities 1–63)"));
    QLabel *sample = pads->sampleLabel(snare);
    requestContextMenu(*sample, QPointF(sample->width() / 2.0, sample->height() / 2.0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return undoName() == "Remove Velocity Layer"; }, 2000));
    layers = kitOf(midi->id).pads[snare].layers;
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].file, hardSnare.string());
    EXPECT_EQ(layers[0].lowVelocity, 1);
    EXPECT_EQ(pads->sampleLabel(snare)->text(), QStringLiteral("hard snare.wav"));

    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(kitOf(midi->id).pads[snare].layers.size(), 2u);
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(now(midi->id).instrumentState, kitBefore);
    EXPECT_EQ(pads->sampleLabel(snare)->text(), QStringLiteral("Synthesised"));
}

TEST_F(DrumPanelRussianTest, TheDrumSamplerSpeaksRussian) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    SynthPanel *panel = chooseDrumsAndOpen(midi->id, QString::fromUtf8("Инструмент/Драм-сэмплер"),
                                           QString::fromUtf8("Инструмент…"));
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(now(midi->id).instrument, drumsInstrumentId);
    EXPECT_EQ(panel->windowTitle(), QString::fromUtf8("MIDI 1 — Драм-сэмплер"));
    DrumPadsEditor *pads = panel->drumPads();
    ASSERT_NE(pads, nullptr);
    EXPECT_EQ(pads->nameLabel(0)->text(), QString::fromUtf8("Бочка"));
    EXPECT_EQ(pads->loadButton(0)->text(), QString::fromUtf8("Загрузить…"));
    const QImage shown = saveScreenshot(*panel, "drum-panel-ru");
    EXPECT_EQ(poorlyContrastedText(*panel, shown), std::vector<std::string>{});
}

} // namespace
