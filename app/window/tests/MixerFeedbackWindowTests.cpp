// What the mixer tells the user as it is played with the mouse: sends that say their level and
// where they go, undo steps named after what they turn back, and arming, which is no edit.
#include "app/shell/OVMainView.h"
#include "app/window/ChannelStrip.h"
#include "app/window/EqCurveView.h"
#include "app/window/MainWindow.h"
#include "app/window/MasteringPanel.h"
#include "app/window/MixerPanel.h"
#include "app/window/PluginBrowserPanel.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDial>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTableWidget>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>

#include <filesystem>

using namespace orvane;
using namespace orvane::testing;
namespace fs = std::filesystem;

namespace {

class MixerFeedbackTest : public WindowTest {
  protected:
    MixerFeedbackTest() : WindowTest("mixer-feedback") {}

    MixerPanel &mixer() { return static_cast<MixerPanel &>(window.mixerPanel()); }
    void key(QKeySequence keys) {
        QTest::keySequence(&window, keys);
        QApplication::processEvents();
    }
    void showMixer() {
        key(QKeySequence(Qt::CTRL | Qt::Key_3));
        ASSERT_TRUE(mixer().isVisible()) << "Ctrl+3 shows the mixer";
    }
    /// Turns send `slot` of the track's strip with the mouse, from the top of the knob (half
    /// way) to its right (four fifths), and lets go.
    void turnSend(const std::string &name, int slot) {
        QDial *dial = mixer().stripFor(track(name)->id)->sendDial(slot);
        ASSERT_NE(dial, nullptr);
        const QPointF centre = QRectF(dial->rect()).center();
        dragMouse(*dial, centre - QPointF(0, 10), centre + QPointF(10, 0));
        QApplication::processEvents();
    }
    std::string undoName() { return harness.application().commands().undoName(); }
};

// A send without a return says so; once a return exists, the same knob works, the complaint
// gives way to where the send goes and at what level, and the undo menu names the send.
TEST_F(MixerFeedbackTest, ASendSaysWhereItGoesAndItsUndoStepNamesIt) {
    showMixer();
    const std::string audio = "Аудио 1";
    ASSERT_NE(track(audio), nullptr);
    const std::string before = undoName();
    // The start-up song has two returns: send C has none to feed.
    turnSend(audio, 2);
    EXPECT_EQ(harness.ui.lastStatus(), "Нет return-дорожки для этого send");
    EXPECT_EQ(undoName(), before);
    EXPECT_EQ(track(audio)->sends[2].level, 0.0f);

    key(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_T)); // Add Return Track
    ASSERT_TRUE(mixer().isVisible());
    turnSend(audio, 2);
    EXPECT_FLOAT_EQ(track(audio)->sends[2].level, 0.8f);
    const std::string said = harness.ui.lastStatus();
    EXPECT_EQ(said.find("Нет return-дорожки"), std::string::npos) << "the complaint stayed";
    EXPECT_EQ(said.rfind("Посыл C: -1.9 dB → ", 0), 0u) << said;
    EXPECT_EQ(undoName(), "Send C Level");
    EXPECT_EQ(window.action(QStringLiteral("Undo"))->text(),
              QString::fromUtf8("Отменить: Уровень посыла C"));

    turnSend(audio, 0);
    EXPECT_EQ(undoName(), "Send A Level") << "every send is named after itself";
    EXPECT_EQ(mixer().stripFor(track(audio)->id)->sendDial(0)->toolTip(),
              QString::fromUtf8("Посыл A: -1.9 dB"));
    saveScreenshot(window, "mixer-send-says-where-it-goes");
}

// While a send knob turns, its level shows beside the pointer.
TEST_F(MixerFeedbackTest, ATurningSendKnobShowsItsLevel) {
    showMixer();
    QDial *dial = mixer().stripFor(track("Аудио 1")->id)->sendDial(1);
    const QPointF centre = QRectF(dial->rect()).center();
    QTest::mousePress(dial, Qt::LeftButton, {}, (centre - QPointF(0, 10)).toPoint());
    QTest::mouseMove(dial, (centre - QPointF(10, 0)).toPoint()); // the left: a fifth of the way
    QApplication::processEvents();
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), QString::fromUtf8("Посыл B: -14.0 dB"));
    saveScreenshot(window, "mixer-send-level-while-turning");
    QTest::mouseRelease(dial, Qt::LeftButton, {}, (centre - QPointF(10, 0)).toPoint());
    QApplication::processEvents();
    EXPECT_FLOAT_EQ(track("Аудио 1")->sends[1].level, 0.2f);
}

// Arming, in the mixer or in the track header, is no undo step: undo turns back the last
// edit, and the track stays armed.
TEST_F(MixerFeedbackTest, ArmingIsNotAnUndoStep) {
    showMixer();
    const std::string audio = "Аудио 1";
    ChannelStrip *strip = mixer().stripFor(track(audio)->id);
    QTest::mouseClick(strip->muteButton(), Qt::LeftButton);
    ASSERT_TRUE(track(audio)->mute);
    const std::string lastEdit = undoName();
    QTest::mouseClick(mixer().stripFor(track(audio)->id)->armButton(), Qt::LeftButton);
    ASSERT_TRUE(track(audio)->armed);
    EXPECT_EQ(undoName(), lastEdit);
    EXPECT_TRUE(view.projectDirty) << "the armed state is saved with the project";

    key(QKeySequence(Qt::CTRL | Qt::Key_1));
    ASSERT_TRUE(timeline.isVisible());
    const auto row = timeline.rowOf(track(audio)->id);
    ASSERT_TRUE(row.has_value());
    QTest::mouseClick(&timeline, Qt::LeftButton, {}, QPoint(68, static_cast<int>(row->top + 38)));
    EXPECT_FALSE(track(audio)->armed) << "the header's R disarms";
    EXPECT_EQ(undoName(), lastEdit);
    key(QKeySequence(Qt::CTRL | Qt::Key_3));
    EXPECT_FALSE(mixer().stripFor(track(audio)->id)->armButton()->isChecked())
        << "the mixer's R did not follow the header";

    key(QKeySequence::Undo);
    EXPECT_FALSE(track(audio)->mute) << "undo turned back the mute";
    EXPECT_FALSE(track(audio)->armed);
}

// A band of the EQ shows its frequency, gain and Q while it is dragged and under the pointer,
// and the wheel over it changes its Q; the mastering sliders show their values beside them.
TEST_F(MixerFeedbackTest, EqBandsAndMasteringSlidersShowTheirValues) {
    showMixer();
    const auto audio = track("Аудио 1");
    QTest::mouseClick(mixer().stripFor(audio->id), Qt::LeftButton, {}, QPoint(40, 8));
    ASSERT_EQ(mixer().selectedChannel(), audio->id);
    EqCurveView &eq = *mixer().eqView();
    ASSERT_TRUE(eq.isVisible());
    EXPECT_TRUE(eq.readout().isEmpty()) << "nothing is under the pointer yet";
    const QPointF from = eq.pointFor(1000.0, 0.0), to = eq.pointFor(1000.0, 6.0);
    QTest::mousePress(&eq, Qt::LeftButton, {}, from.toPoint());
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(&eq, (from + (to - from) * step / 4.0).toPoint());
    const QString dragging = eq.readout();
    EXPECT_TRUE(dragging.startsWith(QString::fromUtf8("Полоса "))) << dragging.toStdString();
    EXPECT_TRUE(dragging.contains(QString::fromUtf8(" Гц, +"))) << dragging.toStdString();
    EXPECT_TRUE(dragging.endsWith(QStringLiteral("dB, Q 1.00"))) << dragging.toStdString();
    saveScreenshot(window, "mixer-eq-band-values-while-dragging");
    QTest::mouseRelease(&eq, Qt::LeftButton, {}, to.toPoint());
    QApplication::processEvents();
    int band = -1;
    {
        std::lock_guard lock(engine.projectMutex);
        for (int i = 0; i < 8; ++i)
            if (audio->eq.bands[static_cast<std::size_t>(i)].gainDb > 4.0f) band = i;
    }
    ASSERT_GE(band, 0) << "the drag raised no band";
    const QPointF handle = eq.handlePosition(band);
    QTest::mouseMove(&eq, handle.toPoint());
    EXPECT_EQ(eq.readout(), eq.bandText(band)) << "the band under the pointer shows its values";
    QWheelEvent up(handle, eq.mapToGlobal(handle), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(&eq, &up);
    QApplication::processEvents();
    EXPECT_FLOAT_EQ(audio->eq.bands[static_cast<std::size_t>(band)].q, 1.25f);
    EXPECT_EQ(undoName(), "Channel EQ");
    EXPECT_TRUE(eq.readout().endsWith(QStringLiteral("Q 1.25"))) << eq.readout().toStdString();

    QTest::mouseClick(mixer().stripFor(0), Qt::LeftButton, {}, QPoint(40, 8));
    MasteringPanel &mastering = *mixer().masteringPanel();
    ASSERT_TRUE(mastering.isVisible());
    for (QSlider *slider :
         {mastering.loudnessSlider(), mastering.exciteSlider(), mastering.widthSlider()}) {
        // The handle, dragged all the way to the right.
        const int length = slider->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider);
        const int y = slider->height() / 2;
        const QPoint handle(QStyle::sliderPositionFromValue(slider->minimum(), slider->maximum(),
                                                            slider->value(),
                                                            slider->width() - length) +
                                length / 2,
                            y);
        QTest::mousePress(slider, Qt::LeftButton, {}, handle);
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(slider,
                             handle + QPoint((slider->width() + 40 - handle.x()) * step / 4, 0));
        EXPECT_EQ(mastering.shownValue(slider), QStringLiteral("%1 %").arg(slider->maximum()))
            << "the value does not follow the handle";
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() + 40, y));
        QApplication::processEvents();
        EXPECT_EQ(mastering.shownValue(slider), QStringLiteral("%1 %").arg(slider->maximum()));
    }
    EXPECT_FLOAT_EQ(engine.project.mastering.width, 2.0f);
    saveScreenshot(window, "mixer-mastering-values");
}

// A plug-in loaded from the browser shows in the mixer's insert list at once, the strip
// left as it was selected.
TEST_F(MixerFeedbackTest, LoadIntoTrackShowsThePluginInTheInsertList) {
    // The equaliser is a system bundle, loaded into this process.
    orvane::testing::ThirdPartyLeaksIgnored pluginLeaks;
    const fs::path lv2 = harness.scratch("lv2");
    fs::create_directories(lv2);
    for (const char *bundle : {"fil4.lv2", "core.lv2", "units.lv2"})
        fs::create_directory_symlink(fs::path("/usr/lib/lv2") / bundle, lv2 / bundle);
    orvane::testing::ScopedEnvironment lv2Path("LV2_PATH", lv2.string());
    orvane::testing::ScopedEnvironment noVst3("VST3_PATH", harness.scratch("vst3").string());
    showMixer();
    const auto audio = track("Аудио 1");
    QTest::mouseClick(mixer().stripFor(audio->id), Qt::LeftButton, {}, QPoint(40, 8));
    ASSERT_EQ(mixer().insertList()->count(), 0);
    key(QKeySequence(Qt::CTRL | Qt::Key_B)); // the browser
    auto &browser = static_cast<PluginBrowserPanel &>(window.browserPanel());
    ASSERT_TRUE(browser.isVisible());
    ASSERT_TRUE(browser.startScan());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.scanning(); }, 30000));
    QTableWidget &table = *browser.table();
    int row = -1;
    for (int r = 0; r < table.rowCount(); ++r)
        if (table.item(r, 0)->text().contains(QStringLiteral("EQ"), Qt::CaseInsensitive)) row = r;
    ASSERT_GE(row, 0) << "no EQ among the scanned plug-ins";
    const QRect cell = table.visualItemRect(table.item(row, 0));
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, cell.center());
    QPushButton *load = nullptr;
    for (QPushButton *button : browser.findChildren<QPushButton *>())
        if (button->text() == shownInWindow(QStringLiteral("Load into Track"))) load = button;
    ASSERT_NE(load, nullptr);
    QTest::mouseClick(load, Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_EQ(audio->inserts.size(), 1u) << harness.ui.lastStatus();
    EXPECT_EQ(mixer().insertList()->count(), 1) << "the insert list shows the old chain";
    EXPECT_EQ(
        window.action(QStringLiteral("Undo"))->text().startsWith(QString::fromUtf8("Отменить: ")),
        true);
    saveScreenshot(window, "mixer-plugin-loaded-from-browser");
}

} // namespace
