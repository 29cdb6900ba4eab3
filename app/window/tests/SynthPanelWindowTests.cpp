// A MIDI track's instrument window as a user meets it: reached from the track's header, its
// preset bar and parameters worked with the pointer and the keys, heard through the track's
// meter, and undone.
#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/GmPlayerEditor.h"
#include "app/window/MidiEditor.h"
#include "app/window/SynthPanel.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/commands/CommandStack.h"
#include "core/commands/InstrumentCommands.h"
#include "core/engine/Engine.h"
#include "core/stock/GmPlayer.h"
#include "core/stock/SynthParameters.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStyle>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>

using namespace orvane;
using namespace orvane::testing;
using stock::SynthParam;

namespace {

stock::SynthValues valuesOf(const Track &track) {
    stock::SynthValues values = stock::synthDefaultValues();
    EXPECT_TRUE(stock::readSynthStateText(track.instrumentState, values, nullptr));
    return values;
}

std::string presetState(const char *name) {
    const stock::SynthPreset *preset = stock::findSynthPreset(name);
    EXPECT_NE(preset, nullptr) << name;
    return preset ? stock::synthStateText(stock::synthPresetValues(*preset)) : std::string();
}

/// Types `text` into `widget` key by key; letters beyond ASCII come as a keyboard layout
/// sends them, with their text and no key code.
void typeText(QWidget &widget, const QString &text) {
    for (const QChar letter : text) {
        if (letter.unicode() < 0x80)
            QTest::keyClick(&widget, static_cast<char>(letter.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, &widget, Qt::Key_unknown, QString(letter),
                                Qt::NoModifier);
    }
}

float valueOf(const stock::SynthValues &values, SynthParam param) {
    return values[static_cast<std::size_t>(param)];
}

class SynthPanelTest : public WindowTest {
  protected:
    explicit SynthPanelTest(Language language) : WindowTest("synth-panel", language) {}

    std::string undoName() { return harness.application().commands().undoName(); }

    /// A copy of the track as it is now, read under the project lock.
    Track now(uint64_t trackId) {
        std::lock_guard lock(engine.projectMutex);
        const auto found = engine.project.findTrack(trackId);
        EXPECT_NE(found, nullptr);
        return found ? *found : Track{};
    }

    QPointF headerOf(uint64_t trackId) {
        const auto row = timeline.rowOf(trackId);
        EXPECT_TRUE(row.has_value());
        return QPointF(60.0, row ? row->top + 12.0 : 0.0);
    }

    /// The instrument window of the track, opened from its header's context menu.
    SynthPanel *openFromHeader(uint64_t trackId) {
        QMenu *menu = rightClick(timeline, headerOf(trackId));
        EXPECT_NE(menu, nullptr);
        if (!menu) return nullptr;
        EXPECT_TRUE(clickMenuItem(*menu, QStringLiteral("Instrument…")));
        SynthPanel *panel = window.instrumentPanel();
        EXPECT_NE(panel, nullptr);
        if (!panel) return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel));
        panel->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(panel));
        return panel;
    }

    /// Opens the list of `combo` with a click and clicks the item that shows `text`.
    void choose(QComboBox &combo, const QString &text) {
        const int index = combo.findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        QTest::mouseClick(&combo, Qt::LeftButton);
        QAbstractItemView *list = combo.view();
        ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }, 2000));
        // A list that has just opened lets a release pass only after a double-click's time.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        const QRect row = list->visualRect(combo.model()->index(index, 0));
        // An item's rectangle may run past the list's right edge.
        const QPoint item(std::min(row.center().x(), list->viewport()->width() / 2),
                          row.center().y());
        // The pointer comes to the item first, as a hand brings it: the list takes the item
        // under the pointer as its choice.
        QTest::mouseMove(list->viewport(), item);
        QTest::qWait(50);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !list->isVisible(); }, 2000));
        QApplication::processEvents();
    }

    /// Where the handle of `slider` is drawn now.
    static QPoint handleOf(const QSlider &slider) {
        const int length = slider.style()->pixelMetric(QStyle::PM_SliderLength, nullptr, &slider);
        const int x = QStyle::sliderPositionFromValue(slider.minimum(), slider.maximum(),
                                                      slider.value(), slider.width() - length);
        return QPoint(x + length / 2, slider.height() / 2);
    }

    /// The loudest the track's meter shows while the song plays for `milliseconds`.
    float loudestWhilePlaying(const std::shared_ptr<Track> &track, int milliseconds) {
        view.play();
        float loudest = 0.0f;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds) {
            engine.copyTrackMetersToProject();
            {
                std::lock_guard lock(engine.projectMutex);
                loudest = std::max({loudest, track->peakL, track->peakR});
            }
            QTest::qWait(10);
        }
        view.stop();
        QTest::qWait(100);
        return loudest;
    }
};

class SynthPanelEnglishTest : public SynthPanelTest {
  protected:
    SynthPanelEnglishTest() : SynthPanelTest(Language::English) {}
};

class SynthPanelRussianTest : public SynthPanelTest {
  protected:
    SynthPanelRussianTest() : SynthPanelTest(Language::Russian) {}
};

TEST_F(SynthPanelEnglishTest, PresetsAndParametersAreEditedAsUndoableStepsFromTheHeader) {
    // A MIDI track made with the keys plays the synth at its first preset.
    timeline.setFocus();
    QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    QApplication::processEvents();
    uint64_t trackId = 0;
    {
        std::lock_guard lock(engine.projectMutex);
        ASSERT_FALSE(engine.project.tracks.empty());
        trackId = engine.project.tracks.back()->id;
        ASSERT_EQ(engine.project.tracks.back()->type, TrackType::Midi);
    }
    ASSERT_EQ(now(trackId).instrument, synthInstrumentId);
    const std::string name = now(trackId).name;

    SynthPanel *panel = openFromHeader(trackId);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), QString::fromStdString(name + " — Halvora Synth"));
    EXPECT_EQ(panel->presetChooser()->currentText(), QStringLiteral("Init"));
    EXPECT_EQ(panel->presetState()->text(), QString()) << "nothing changed yet";
    EXPECT_EQ(panel->sectionCount(), 8);
    EXPECT_EQ(panel->section(0)->title(), QStringLiteral("Oscillators"));
    EXPECT_EQ(panel->section(7)->title(), QStringLiteral("Master"));
    // Every parameter has its control.
    for (int index = 0; index < stock::synthParamCount; ++index) {
        const auto param = static_cast<SynthParam>(index);
        EXPECT_TRUE(panel->slider(param) || panel->choice(param) || panel->toggle(param)) << index;
        EXPECT_NE(panel->label(param), nullptr) << index;
    }
    EXPECT_EQ(panel->valueField(SynthParam::FilterCutoff)->text(), QStringLiteral("20000 Hz"));
    EXPECT_EQ(panel->valueField(SynthParam::AmpAttack)->text(), QStringLiteral("5 ms"));
    EXPECT_EQ(panel->valueField(SynthParam::Osc1Level)->text(), QStringLiteral("80 %"));

    // A preset from the bar: one step, every value from the preset.
    choose(*panel->presetChooser(), QStringLiteral("Bass"));
    EXPECT_EQ(now(trackId).instrumentState, presetState("Bass"));
    EXPECT_EQ(undoName(), "Instrument Preset");
    EXPECT_EQ(panel->presetChooser()->currentText(), QStringLiteral("Bass"));
    EXPECT_EQ(panel->presetState()->text(), QString());
    EXPECT_EQ(panel->valueField(SynthParam::FilterCutoff)->text(), QStringLiteral("180 Hz"));
    EXPECT_EQ(panel->choice(SynthParam::VoiceMode)->currentText(), QStringLiteral("Legato"));

    // The cutoff dragged far up: the project changes once, when the slider is let go.
    QSlider *cutoff = panel->slider(SynthParam::FilterCutoff);
    const QPoint grab = handleOf(*cutoff);
    const QPoint to(cutoff->width() - 4, grab.y());
    QTest::mousePress(cutoff, Qt::LeftButton, {}, grab);
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(cutoff, grab + (to - grab) * step / 4);
    EXPECT_TRUE(cutoff->isSliderDown());
    EXPECT_EQ(now(trackId).instrumentState, presetState("Bass")) << "nothing stored mid-drag";
    EXPECT_NE(panel->valueField(SynthParam::FilterCutoff)->text(), QStringLiteral("180 Hz"))
        << "the field follows the drag";
    QTest::mouseRelease(cutoff, Qt::LeftButton, {}, to);
    QApplication::processEvents();
    const float dragged = valueOf(valuesOf(now(trackId)), SynthParam::FilterCutoff);
    EXPECT_GT(dragged, 5000.0f);
    EXPECT_EQ(undoName(), "Instrument Parameter");
    EXPECT_EQ(panel->presetChooser()->currentText(), QStringLiteral("Bass"));
    EXPECT_FALSE(panel->presetState()->text().isEmpty()) << "the bar marks the change";
    const QImage changed = saveScreenshot(*panel, "synth-panel-en");
    EXPECT_EQ(poorlyContrastedText(*panel, changed), std::vector<std::string>{});

    // A waveform from its list, and a time typed with its unit.
    choose(*panel->choice(SynthParam::Osc1Wave), QStringLiteral("Pulse"));
    EXPECT_EQ(valueOf(valuesOf(now(trackId)), SynthParam::Osc1Wave), 3.0f);
    QLineEdit *release = panel->valueField(SynthParam::AmpRelease);
    // Focus goes only to the active window, which a busy display may hand over late.
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::mouseDClick(panel->slider(SynthParam::AmpRelease), Qt::LeftButton, {},
                       handleOf(*panel->slider(SynthParam::AmpRelease)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return release->hasFocus(); }, 2000))
        << "a double-click on the slider opens its value to typing";
    release->selectAll();
    QTest::keyClicks(release, QStringLiteral("250 ms"));
    QTest::keyClick(release, Qt::Key_Return);
    EXPECT_NEAR(valueOf(valuesOf(now(trackId)), SynthParam::AmpRelease), 0.25f, 1e-6f);
    EXPECT_EQ(release->text(), QStringLiteral("250 ms"));
    // Text that is no value changes nothing and shows the value again.
    release->selectAll();
    QTest::keyClicks(release, QStringLiteral("loud"));
    QTest::keyClick(release, Qt::Key_Return);
    EXPECT_NEAR(valueOf(valuesOf(now(trackId)), SynthParam::AmpRelease), 0.25f, 1e-6f);
    EXPECT_EQ(release->text(), QStringLiteral("250 ms"));

    // Undone with the keys in the panel, step by step, and the panel follows.
    panel->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NEAR(valueOf(valuesOf(now(trackId)), SynthParam::AmpRelease), 0.08f, 1e-6f);
    EXPECT_EQ(release->text(), QStringLiteral("80 ms"));
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(panel->choice(SynthParam::Osc1Wave)->currentText(), QStringLiteral("Saw"));
    // The whole drag was one step.
    QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(now(trackId).instrumentState, presetState("Bass"));
    EXPECT_EQ(panel->presetState()->text(), QString());
    EXPECT_EQ(panel->valueField(SynthParam::FilterCutoff)->text(), QStringLiteral("180 Hz"));
    // Undone from the main window too: the panel reads the project again.
    window.undo();
    EXPECT_EQ(now(trackId).instrumentState, defaultSynthState());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel->presetChooser()->currentText() == QStringLiteral("Init"); }, 2000));
    window.redo();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel->presetChooser()->currentText() == QStringLiteral("Bass"); }, 2000));
}

// A new song's first minute: a MIDI track added with the keys, a part made on its lane and
// notes drawn into it with the pencil, heard through the synthesiser on the track's meter;
// another preset heard, and undone.
TEST_F(SynthPanelEnglishTest, NotesDrawnOnANewMidiTrackAreHeardThroughTheSynth) {
    timeline.setFocus();
    QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    QApplication::processEvents();
    std::shared_ptr<Track> keys;
    {
        std::lock_guard lock(engine.projectMutex);
        keys = engine.project.tracks.back();
    }
    ASSERT_EQ(keys->type, TrackType::Midi);
    ASSERT_EQ(now(keys->id).instrument, synthInstrumentId);
    const auto heardFromTheStart = [&] {
        view.locate(0);
        QTest::qWait(50);
        return loudestWhilePlaying(keys, 800);
    };
    EXPECT_LT(heardFromTheStart(), 1e-4f) << "silent before any note";

    // A double-click on the empty lane early in bar 1 makes a part; one on the part opens it.
    const auto row = timeline.rowOf(keys->id);
    ASSERT_TRUE(row.has_value());
    const double laneY = row->top + row->mainLaneHeight / 2.0;
    QTest::mouseDClick(&timeline, Qt::LeftButton, {},
                       QPointF(timeline.timelineGeometry().xForBeats(0.2), laneY).toPoint());
    QApplication::processEvents();
    std::shared_ptr<Clip> part;
    {
        std::lock_guard lock(engine.projectMutex);
        ASSERT_EQ(keys->clips.size(), 1u) << "no part was made";
        part = keys->clips.front();
    }
    EXPECT_EQ(part->arrangeStart, 0);
    QTest::mouseDClick(&timeline, Qt::LeftButton, {},
                       timeline.clipRectOf(part->id).center().toPoint());
    MidiEditor &roll = window.midiEditor();
    ASSERT_EQ(roll.clipId(), part->id);
    QApplication::processEvents();
    ASSERT_EQ(roll.tool(), MidiTool::Draw);
    // Three notes of a chord on the first beat, each drawn a beat and a half long.
    const int64_t beat = engine.beatsToSamples(1.0);
    for (const int pitch : {60, 64, 67}) {
        const QPointF from(roll.xForSamples(0) + 2.0, roll.yForPitch(pitch) + 4.0);
        dragMouse(roll, from, QPointF(roll.xForSamples(beat * 3 / 2), from.y()));
    }
    ASSERT_EQ(part->notes.size(), 3u);
    for (const MidiNote &note : part->notes) {
        EXPECT_EQ(note.start, 0);
        EXPECT_GE(note.length, beat) << note.pitch;
    }
    saveScreenshot(roll, "synth-drawn-chord");
    roll.close();
    const float heard = heardFromTheStart();
    EXPECT_GT(heard, 0.01f) << "the drawn chord moves the meter";

    // Another preset from the panel is heard, and undone to the first.
    SynthPanel *panel = openFromHeader(keys->id);
    ASSERT_NE(panel, nullptr);
    choose(*panel->presetChooser(), QStringLiteral("Pad"));
    EXPECT_EQ(now(keys->id).instrumentState, presetState("Pad"));
    EXPECT_GT(heardFromTheStart(), 0.001f) << "the pad sounds too";
    window.undo();
    EXPECT_EQ(now(keys->id).instrumentState, defaultSynthState());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel->presetChooser()->currentText() == QStringLiteral("Init"); }, 2000));
    EXPECT_EQ(part->notes.size(), 3u) << "undo takes back the preset, not the notes";
    EXPECT_GT(heardFromTheStart(), 0.01f);
}

TEST_F(SynthPanelEnglishTest, TheInstrumentIsChosenFromTheHeaderOrThePanelAndUndone) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    const Track before = now(midi->id);
    ASSERT_NE(before.instrument, synthInstrumentId) << "the start-up song plays the sine voice";

    QMenu *menu = rightClick(timeline, headerOf(midi->id));
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(clickMenuItem(*menu, QStringLiteral("Instrument/Halvora Synth")));
    EXPECT_EQ(now(midi->id).instrument, synthInstrumentId);
    EXPECT_EQ(now(midi->id).instrumentState, defaultSynthState());
    EXPECT_EQ(undoName(), "Track Instrument");

    // From the Track menu, for the selected track.
    view.selectedTrackId = midi->id;
    ASSERT_TRUE(chooseFromMenuBar(window, QStringLiteral("Track"), QStringLiteral("Instrument…")));
    SynthPanel *panel = window.instrumentPanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    EXPECT_EQ(panel->trackId(), midi->id);
    EXPECT_TRUE(panel->section(0)->isEnabled());

    choose(*panel->instrumentChooser(), QStringLiteral("Sine Voice"));
    EXPECT_EQ(now(midi->id).instrument, "");
    EXPECT_EQ(undoName(), "Track Instrument");
    EXPECT_FALSE(panel->section(0)->isEnabled()) << "no synth to shape";
    EXPECT_FALSE(panel->presetChooser()->isEnabled());
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("MIDI 1 — Sine Voice"));
    const QImage sine = saveScreenshot(*panel, "synth-panel-sine-en");
    EXPECT_EQ(poorlyContrastedText(*panel, sine), std::vector<std::string>{});

    window.undo();
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel->section(0)->isEnabled(); }, 2000));
    window.undo();
    EXPECT_EQ(now(midi->id).instrument, before.instrument);
    EXPECT_EQ(now(midi->id).instrumentState, before.instrumentState);
}

stock::GmSettings gmSettingsOf(const Track &track) {
    stock::GmSettings settings;
    EXPECT_TRUE(stock::readGmStateText(track.instrumentState, settings, nullptr))
        << track.instrumentState;
    return settings;
}

// The General MIDI player from the panel: chosen, heard, its sound and drum part picked from
// the font's own list, a font that does not load refused with a reason, each step undone.
TEST_F(SynthPanelEnglishTest, TheGeneralMidiPlayerPlaysTheFontsPresetChosenInThePanel) {
    if (stock::defaultGmFontPath().empty()) GTEST_SKIP() << "no General MIDI font installed";
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    SynthPanel *panel = openFromHeader(midi->id);
    ASSERT_NE(panel, nullptr);
    choose(*panel->instrumentChooser(), QStringLiteral("General MIDI"));
    ASSERT_EQ(now(midi->id).instrument, gmInstrumentId);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("MIDI 1 — General MIDI"));
    GmPlayerEditor &gm = *panel->gmPlayer();
    ASSERT_TRUE(gm.isVisible());
    EXPECT_FALSE(panel->presetChooser()->isVisible()) << "the synth's presets are not its own";
    std::string error;
    const auto font = stock::SoundFont::load("", error);
    ASSERT_NE(font, nullptr) << error;
    EXPECT_EQ(gm.presetChooser()->count(), static_cast<int>(font->presets().size()));
    EXPECT_TRUE(gm.fontName()->text().endsWith(QStringLiteral(".sf2")))
        << gm.fontName()->text().toStdString();
    EXPECT_GT(renderedLevel(engine), 0.001) << "the start-up song's notes play through it";

    const QString electricPiano = gm.presetChooser()->itemText(4);
    ASSERT_TRUE(electricPiano.startsWith(QStringLiteral("000:004"))) << electricPiano.toStdString();
    choose(*gm.presetChooser(), electricPiano);
    EXPECT_EQ(gmSettingsOf(now(midi->id)).program, 4);
    EXPECT_EQ(undoName(), "Track Instrument");
    QTest::mouseClick(gm.drumPart(), Qt::LeftButton, {}, QPoint(8, gm.drumPart()->height() / 2));
    EXPECT_TRUE(gmSettingsOf(now(midi->id)).drums);
    EXPECT_EQ(gmSettingsOf(now(midi->id)).bank, stock::gmDrumBank);
    EXPECT_GT(renderedLevel(engine), 0.001) << "the drum kit plays the notes too";
    const QImage shown = saveScreenshot(*panel, "instrument-panel-gm-en");
    EXPECT_EQ(poorlyContrastedText(*panel, shown), std::vector<std::string>{});

    // A file that is no sound font changes nothing and says why.
    const std::filesystem::path broken = harness.scratch("broken.sf2");
    writeTextFile(broken, "RIFF but nothing more");
    gm.chooseFontFile = [&] { return QString::fromStdString(broken.string()); };
    const std::string before = now(midi->id).instrumentState;
    QTest::mouseClick(gm.fontChooser(), Qt::LeftButton);
    EXPECT_EQ(now(midi->id).instrumentState, before);
    const std::string status = harness.application().status().text();
    EXPECT_NE(status.find("broken.sf2"), std::string::npos) << status;

    window.undo();
    EXPECT_FALSE(gmSettingsOf(now(midi->id)).drums);
    window.undo();
    EXPECT_EQ(gmSettingsOf(now(midi->id)).program, 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return gm.presetChooser()->currentText().startsWith(QStringLiteral("000:000")); },
        2000))
        << "the panel follows the undo";
}

// In Russian: the panel speaks it, reads well, and what it sets is heard on the track's meter.
TEST_F(SynthPanelRussianTest, ThePanelSpeaksRussianAndItsMasterGainIsHeard) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    QMenu *menu = rightClick(timeline, headerOf(midi->id));
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(clickMenuItem(*menu, QString::fromUtf8("Инструмент/Halvora Synth")));
    ASSERT_EQ(now(midi->id).instrument, synthInstrumentId);

    SynthPanel *panel = openFromHeader(midi->id);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), QString::fromUtf8("MIDI 1 — Halvora Synth"));
    EXPECT_EQ(panel->section(0)->title(), QString::fromUtf8("Генераторы"));
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    for (int index = 0; index < stock::synthParamCount; ++index) {
        const auto param = static_cast<SynthParam>(index);
        EXPECT_TRUE(panel->label(param)->text().contains(cyrillic))
            << panel->label(param)->text().toStdString();
        if (QComboBox *choice = panel->choice(param);
            choice && index != int(SynthParam::FilterSlope)) {
            for (int item = 0; item < choice->count(); ++item) {
                EXPECT_TRUE(choice->itemText(item).contains(cyrillic))
                    << choice->itemText(item).toStdString();
            }
        }
    }
    EXPECT_EQ(panel->valueField(SynthParam::AmpAttack)->text(), QString::fromUtf8("5 мс"));

    choose(*panel->presetChooser(), QString::fromUtf8("Клавиши"));
    EXPECT_EQ(now(midi->id).instrumentState, presetState("Keys"));
    const float loud = loudestWhilePlaying(midi, 2500);
    EXPECT_GT(loud, 0.01f) << "the synth's notes move the meter";

    // The master gain typed down in Russian units: the meter barely moves.
    QLineEdit *gain = panel->valueField(SynthParam::MasterGain);
    gain->setFocus();
    gain->selectAll();
    typeText(*gain, QString::fromUtf8("-60 дБ"));
    QTest::keyClick(gain, Qt::Key_Return);
    EXPECT_FLOAT_EQ(valueOf(valuesOf(now(midi->id)), SynthParam::MasterGain), -60.0f);
    EXPECT_FALSE(panel->presetState()->text().isEmpty());
    const QImage shown = saveScreenshot(*panel, "synth-panel-ru");
    EXPECT_EQ(poorlyContrastedText(*panel, shown), std::vector<std::string>{});
    const float quiet = loudestWhilePlaying(midi, 2500);
    EXPECT_LT(quiet, loud * 0.01f);

    window.undo();
    EXPECT_EQ(now(midi->id).instrumentState, presetState("Keys"));
    EXPECT_GT(loudestWhilePlaying(midi, 2500), loud * 0.5f) << "loud again once undone";
}

TEST(SynthPanelValuesTest, TypedValuesAreReadInTheUnitShownOrTheOneTyped) {
    windowTestApplication();
    const WindowLanguage english(Language::English);
    const auto &release = stock::synthParameter(SynthParam::AmpRelease);
    EXPECT_FLOAT_EQ(*readTypedSynthValue(release, QStringLiteral("250"), 0.3f), 0.25f);
    EXPECT_FLOAT_EQ(*readTypedSynthValue(release, QStringLiteral("2"), 1.5f), 2.0f);
    EXPECT_FLOAT_EQ(*readTypedSynthValue(release, QStringLiteral("1,5 s"), 0.3f), 1.5f);
    EXPECT_FLOAT_EQ(*readTypedSynthValue(release, QStringLiteral("40ms"), 3.0f), 0.04f);
    const auto &cutoff = stock::synthParameter(SynthParam::FilterCutoff);
    EXPECT_FLOAT_EQ(*readTypedSynthValue(cutoff, QStringLiteral("2 kHz"), 100.0f), 2000.0f);
    const auto &level = stock::synthParameter(SynthParam::Osc1Level);
    EXPECT_FLOAT_EQ(*readTypedSynthValue(level, QStringLiteral("40 %"), 0.8f), 0.4f);
    EXPECT_FLOAT_EQ(*readTypedSynthValue(level, QStringLiteral("40"), 0.8f), 0.4f);
    EXPECT_FALSE(readTypedSynthValue(level, QStringLiteral("loud"), 0.8f).has_value());
    EXPECT_FALSE(readTypedSynthValue(cutoff, QStringLiteral("2 s"), 100.0f).has_value());
    EXPECT_EQ(synthValueText(stock::synthParameter(SynthParam::Osc2Octave), -1.0f),
              QStringLiteral("-1 oct"));
    EXPECT_EQ(synthValueText(stock::synthParameter(SynthParam::Osc2Octave), 1.0f),
              QStringLiteral("+1 oct"));
    EXPECT_EQ(synthValueText(stock::synthParameter(SynthParam::Polyphony), 32.0f),
              QStringLiteral("32"));
}

TEST(SynthPanelValuesTest, TheNearestPresetIsNamedAndAnyDifferenceMarked) {
    const auto presets = stock::synthFactoryPresets();
    for (std::size_t index = 0; index < presets.size(); ++index) {
        const NearestSynthPreset exact =
            nearestSynthPreset(stock::synthPresetValues(presets[index]));
        EXPECT_EQ(exact.index, static_cast<int>(index));
        EXPECT_FALSE(exact.changed);
    }
    stock::SynthValues pad = stock::synthPresetValues(*stock::findSynthPreset("Pad"));
    pad[static_cast<std::size_t>(SynthParam::MasterGain)] = -3.0f;
    const NearestSynthPreset nearest = nearestSynthPreset(pad);
    EXPECT_EQ(presets[static_cast<std::size_t>(nearest.index)].name, "Pad");
    EXPECT_TRUE(nearest.changed);
}

} // namespace
