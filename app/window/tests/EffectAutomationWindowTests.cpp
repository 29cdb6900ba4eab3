// A built-in effect's parameter set in its panel and then drawn in its automation lane, with
// real mouse and key events, and heard in the export both times.
#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/MixerPanel.h"
#include "app/window/StockEffectPanel.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "app/workflows/AutomationWriter.h"
#include "app/workflows/MidiLearning.h"
#include "core/commands/AutomationCommands.h"
#include "core/engine/Engine.h"
#include "core/model/StockEffectSettings.h"
#include "device/OfflineRender.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <cmath>

using namespace orvane;
using namespace orvane::testing;

namespace {

constexpr double songBeats = 16.0;

class EffectAutomationTest : public WindowTest {
  protected:
    EffectAutomationTest() : WindowTest("effect-automation", Language::English) {}

    /// The song's first four bars as the export renders them, both channels interleaved.
    std::vector<float> exported() {
        std::vector<float> mix;
        EXPECT_TRUE(renderMixdown(engine, mix, 0, engine.beatsToSamples(songBeats), 2));
        return mix;
    }
    double levelBetween(const std::vector<float> &mix, double fromBeat, double toBeat) {
        const auto first = static_cast<std::size_t>(engine.beatsToSamples(fromBeat)) * 2;
        const auto last =
            std::min(static_cast<std::size_t>(engine.beatsToSamples(toBeat)) * 2, mix.size());
        double sum = 0.0;
        for (std::size_t i = first; i < last; ++i)
            sum += static_cast<double>(mix[i]) * mix[i];
        return last > first ? std::sqrt(sum / static_cast<double>(last - first)) : 0.0;
    }
    QPushButton *button(QWidget &parent, const QString &text) {
        for (QPushButton *candidate : parent.findChildren<QPushButton *>())
            if (candidate->text() == text) return candidate;
        ADD_FAILURE() << "no button " << text.toStdString();
        return nullptr;
    }
    /// Where the handle of the horizontal `slider` is drawn.
    static QPoint handleOf(QSlider &slider) {
        QStyleOptionSlider option;
        option.initFrom(&slider);
        option.orientation = Qt::Horizontal;
        option.minimum = slider.minimum();
        option.maximum = slider.maximum();
        option.sliderPosition = slider.value();
        option.sliderValue = slider.value();
        return slider.style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider)
            .center();
    }
    /// `channel` in the mixer with a built-in compressor added from "+ Stock"; its panel.
    StockEffectPanel *addCompressorTo(Track &channel) {
        window.showTab(MainWindow::MixerTab);
        auto &mixer = static_cast<MixerPanel &>(window.mixerPanel());
        mixer.selectChannel(channel.id);
        whenMenuShows(QStringLiteral("Stock Compressor"));
        QTest::mouseClick(button(mixer, QStringLiteral("+ Stock")), Qt::LeftButton);
        EXPECT_EQ(channel.inserts.size(), 1u);
        return mixer.effectSettings();
    }
    /// A click in `trackId`'s automation lane at `beats`, `fromTop` (0 top, 1 bottom) down.
    void clickLane(uint64_t trackId, double beats, double fromTop) {
        const auto row = timeline.rowOf(trackId);
        ASSERT_TRUE(row.has_value());
        const double top = row->automationTop() + 3.0;
        const double bottom = row->top + row->height - 3.0;
        const double x = timeline.timelineGeometry().xForBeats(beats) + 1.0;
        QTest::mouseClick(&timeline, Qt::LeftButton, {},
                          QPoint(static_cast<int>(x),
                                 static_cast<int>(std::lround(top + (bottom - top) * fromTop))));
    }
};

} // namespace

TEST_F(EffectAutomationTest, TheCompressorsThresholdSetInItsPanelAndDrawnInItsLaneIsHeard) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    StockEffectPanel &panel = *addCompressorTo(*midi);
    ASSERT_TRUE(panel.isVisible());
    const std::vector<float> unset = exported();
    ASSERT_GT(levelBetween(unset, 0.0, songBeats), 0.001) << "the start-up song plays on MIDI 1";

    // The threshold to its lowest in the panel: a quieter export.
    QSlider *threshold = panel.slider(0);
    ASSERT_NE(threshold, nullptr);
    // Its handle dragged to the left end (Home is the window's return-to-start key).
    const QPoint handle = handleOf(*threshold);
    dragMouse(*threshold, handle, QPointF(-40.0, handle.y()));
    EXPECT_EQ(threshold->value(), 0);
    EXPECT_EQ(harness.application().commands().undoName(), "Effect Settings");
    const std::vector<float> compressed = exported();
    EXPECT_LT(levelBetween(compressed, 0.0, songBeats), 0.7 * levelBetween(unset, 0.0, songBeats));

    // Its context menu opens its lane in the timeline.
    whenMenuShows(QStringLiteral("Show Automation"));
    requestContextMenu(*threshold, QPointF(threshold->width() / 2.0, threshold->height() / 2.0));
    EXPECT_EQ(window.currentTab(), MainWindow::TimelineTab);
    ASSERT_TRUE(timeline.showsAutomation());
    EXPECT_EQ(view.automation().automationLaneMode, insertAutomationLane(0) + 1);
    window.tick();
    EXPECT_EQ(window.statusText(),
              QStringLiteral("Automation: Compressor: Threshold · Shift point · Alt+Shift clip"));

    // Two points inside the bar the song sounds in: the threshold at the top (0 dB) on beat 1,
    // at the bottom (-60 dB) on beat 2.
    clickLane(midi->id, 1.0, 0.0);
    clickLane(midi->id, 2.0, 1.0);
    std::vector<AutomationPoint> drawn;
    {
        std::lock_guard lock(engine.projectMutex);
        drawn = midi->inserts[0].paramAutomation;
    }
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[0].t, engine.beatsToSamples(1.0));
    EXPECT_NEAR(drawn[0].v, 1.0f, 0.03f);
    EXPECT_EQ(drawn[1].t, engine.beatsToSamples(2.0));
    EXPECT_NEAR(drawn[1].v, 0.0f, 0.03f);
    EXPECT_EQ(harness.application().commands().undoName(), "Automation");
    saveScreenshot(window, "compressor-threshold-lane");

    // Held at 0 dB up to beat 1 the song passes the compressor all but untouched; from beat 2
    // on it is compressed as the panel set it.
    const std::vector<float> automated = exported();
    EXPECT_GT(levelBetween(automated, 0.0, 1.0), 1.3 * levelBetween(compressed, 0.0, 1.0));
    const double settled = levelBetween(compressed, 2.5, 4.0);
    ASSERT_GT(settled, 0.001) << "the song still sounds after the second point";
    EXPECT_NEAR(levelBetween(automated, 2.5, 4.0), settled, 0.02 * settled);

    // The lane chooser offers the compressor's other parameters; choosing one is an edit.
    const auto row = timeline.rowOf(midi->id);
    ASSERT_TRUE(row.has_value());
    QMenu *menu = rightClick(timeline, QPointF(timeline.timelineGeometry().xForBeats(12.0),
                                               row->automationTop() + 10.0));
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(clickMenuItem(*menu, QStringLiteral("Show Lane/Compressor: Ratio")));
    EXPECT_EQ(midi->inserts[0].automParamId, 1u);
    EXPECT_EQ(harness.application().commands().undoName(), "Automation Parameter");
    view.undoEdit();
    EXPECT_EQ(midi->inserts[0].automParamId, 0u);
}

TEST_F(EffectAutomationTest, TheAutomatedSliderFollowsThePlayheadUnlessTheUserHoldsIt) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    QSlider *threshold = addCompressorTo(*midi)->slider(0);
    ASSERT_NE(threshold, nullptr);
    // The threshold's lane: 0 dB (the top) on beat 4, falling to -60 dB by beat 8.
    view.executeEdit(std::make_unique<SetAutomationPointCommand>(midi->id, insertAutomationLane(0),
                                                                 engine.beatsToSamples(4.0), 1.0f));
    view.executeEdit(std::make_unique<SetAutomationPointCommand>(midi->id, insertAutomationLane(0),
                                                                 engine.beatsToSamples(8.0), 0.0f));
    const auto locateAt = [&](double beats) {
        const int64_t position = engine.beatsToSamples(beats);
        window.locate(position);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return engine.transport.playhead.load() == position; }, 3000));
        window.tick();
    };

    // Located while stopped, the slider shows the lane's value there.
    const struct {
        double beat;
        int step;
    } located[] = {{0.0, 1000}, {4.0, 1000}, {6.0, 500}, {8.0, 0}, {12.0, 0}};
    for (const auto &[beat, step] : located) {
        locateAt(beat);
        EXPECT_NEAR(threshold->value(), step, 2) << "at beat " << beat;
    }

    // Playing down the ramp, it falls on its own.
    locateAt(4.0);
    view.play();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            window.tick();
            return threshold->value() < 990;
        },
        5000));
    view.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.transport.playing.load(); }, 3000));

    // Held by the hand, the slider stays where the hand put it; let go, the lane shows again.
    locateAt(6.0);
    const QPoint handle = handleOf(*threshold);
    QTest::mousePress(threshold, Qt::LeftButton, {}, handle);
    QTest::mouseMove(threshold, QPoint(threshold->width() - 2, handle.y()));
    window.tick();
    EXPECT_EQ(threshold->value(), threshold->maximum()) << "the hand keeps the slider";
    QTest::mouseRelease(threshold, Qt::LeftButton, {}, QPoint(threshold->width() - 2, handle.y()));
    window.tick();
    EXPECT_NEAR(threshold->value(), 500, 2) << "the lane drives the setting again";
    saveScreenshot(window.mixerPanel(), "compressor-threshold-follows-lane");
}

TEST_F(EffectAutomationTest, AnAutomationClipOnTheCompressorsLanePlaysItsRampWhereItLiesOnly) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    QSlider *threshold = addCompressorTo(*midi)->slider(0);
    ASSERT_NE(threshold, nullptr);
    // The threshold set to its lowest (-60 dB): MIDI 1's bar is compressed hard throughout.
    const QPoint handle = handleOf(*threshold);
    dragMouse(*threshold, handle, QPointF(-40.0, handle.y()));
    ASSERT_EQ(threshold->value(), 0);
    const std::vector<float> compressed = exported();

    // From its lane in the timeline, a clip of one bar on beat 2: a ramp from the top (0 dB)
    // down to the middle (-30 dB).
    whenMenuShows(QStringLiteral("Show Automation"));
    requestContextMenu(*threshold, QPointF(threshold->width() / 2.0, threshold->height() / 2.0));
    ASSERT_EQ(window.currentTab(), MainWindow::TimelineTab);
    const auto row = timeline.rowOf(midi->id);
    ASSERT_TRUE(row.has_value());
    QMenu *menu = rightClick(timeline, QPointF(timeline.timelineGeometry().xForBeats(2.0) + 1.0,
                                               row->automationTop() + 10.0));
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(clickMenuItem(*menu, QStringLiteral("Add Automation Clip (1 bar)")));
    EXPECT_EQ(harness.application().commands().undoName(), "Automation Clip");
    {
        std::lock_guard lock(engine.projectMutex);
        ASSERT_EQ(midi->automationClips.size(), 1u);
        EXPECT_EQ(midi->automationClips[0].lane, insertAutomationLane(0));
        EXPECT_EQ(midi->automationClips[0].start, engine.beatsToSamples(2.0));
    }
    saveScreenshot(window, "compressor-automation-clip");
    // The clip shows in its lane as a block of the track's colour, the lane around it stays dark.
    const QImage shown = timeline.grab().toImage();
    const int laneY = static_cast<int>(row->automationTop()) + 4;
    const auto laneColourAt = [&](double beats) {
        return shown.pixelColor(static_cast<int>(timeline.timelineGeometry().xForBeats(beats)),
                                laneY);
    };
    EXPECT_GT(laneColourAt(2.5).lightness(), laneColourAt(12.0).lightness() + 10);

    // Under the clip the song is compressed less; before it the set threshold holds.
    const std::vector<float> clipped = exported();
    EXPECT_GT(levelBetween(clipped, 2.0, 3.0), 1.2 * levelBetween(compressed, 2.0, 3.0));
    EXPECT_NEAR(levelBetween(clipped, 0.0, 2.0), levelBetween(compressed, 0.0, 2.0),
                0.01 * levelBetween(compressed, 0.0, 2.0));
    view.undoEdit();
    EXPECT_TRUE(midi->automationClips.empty());
}

// The controller reaches the engine as a device block would hand it over; the JACK path itself
// is proven on the mixer's fader.
TEST_F(EffectAutomationTest, ACompressorSettingLearnsAControllerFromItsMenuAndFollowsIt) {
    const auto midi = track("MIDI 1");
    ASSERT_NE(midi, nullptr);
    StockEffectPanel &panel = *addCompressorTo(*midi);
    QSlider *ratio = panel.slider(1);
    ASSERT_NE(ratio, nullptr);
    whenMenuShows(QStringLiteral("MIDI Learn"));
    QTest::mouseClick(ratio, Qt::RightButton, {}, handleOf(*ratio));
    requestContextMenu(*ratio, handleOf(*ratio));
    ASSERT_TRUE(view.midiLearning().waiting());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window.statusText().contains(QStringLiteral("Compressor: Ratio")); }, 2000))
        << window.statusText().toStdString();

    ASSERT_TRUE(engine.controllers.takeEventRt(MidiEvent{0, 0xB3, 74, 100}));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(engine.projectMutex);
            return engine.project.midiMappings.size() == 1;
        },
        2000));
    const MidiMapping learned = engine.project.midiMappings.front();
    EXPECT_EQ(learned.lane, insertAutomationLane(0));
    EXPECT_EQ(learned.paramId, 1u);
    EXPECT_FLOAT_EQ(learned.minimum, 1.0f);
    EXPECT_FLOAT_EQ(learned.maximum, 20.0f);

    // The knob all the way up: the ratio at 20:1 in the panel and in the stored settings.
    ASSERT_TRUE(engine.controllers.takeEventRt(MidiEvent{0, 0xB3, 74, 127}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ratio->value() == ratio->maximum(); }, 2000))
        << ratio->value();
    std::lock_guard lock(engine.projectMutex);
    const std::optional<std::vector<float>> settings = stockSettingsOf(midi->inserts[0]);
    ASSERT_TRUE(settings);
    EXPECT_FLOAT_EQ((*settings)[1], 20.0f);
}
