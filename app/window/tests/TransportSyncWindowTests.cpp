#include "app/window/MainWindow.h"
#include "app/window/TransportSyncControls.h"
#include "app/window/tests/WindowTestSupport.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QToolBar>

using namespace orvane;
using namespace orvane::testing;

namespace {

class TransportSyncWindowTest : public ::testing::Test {
  protected:
    WindowTestHarness harness{"transport-sync"};
    MainWindow &window = harness.window();

    /// Opens the choice's list with a click, as a user does, and picks the entry `steps`
    /// below the one shown with the arrow keys and Return.
    void choose(QComboBox &box, int steps) {
        QTest::mouseClick(&box, Qt::LeftButton, {}, box.rect().center());
        QAbstractItemView *list = box.view();
        ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }, 5000));
        for (int step = 0; step < steps; ++step)
            QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !list->isVisible(); }, 5000));
    }
};

TEST_F(TransportSyncWindowTest, TheTransportBarChoosesHowHalvoraKeepsTimeAndRemembersIt) {
    TransportSyncControls *controls = window.transportSync;
    ASSERT_NE(controls, nullptr);
    auto *bar = window.findChild<QToolBar *>(QStringLiteral("transport"));
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(controls->isVisible());
    EXPECT_EQ(controls->jackTransport->currentText(), QStringLiteral("JACK: выкл."));
    EXPECT_EQ(controls->midiClock->currentText(), QStringLiteral("Клок: выкл."));

    choose(*controls->jackTransport, 2);
    EXPECT_EQ(controls->jackTransport->currentText(), QStringLiteral("JACK: ведомый"));
    choose(*controls->midiClock, 3);
    EXPECT_EQ(controls->midiClock->currentText(), QStringLiteral("Клок: ведомый с темпом"));

    const TransportSyncSettings expected{JackTransportMode::follow, MidiClockMode::in, true};
    EXPECT_EQ(harness.application().audio().transportSync(), expected);
    EXPECT_EQ(loadDeviceSettings(deviceSettingsPath()).sync, expected);
    // The window runs on the null device here, which keeps time with no one.
    window.tick();
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("только с устройством JACK")))
        << window.statusText().toStdString();

    // Every choice is shown whole.
    for (QComboBox *box : {controls->jackTransport, controls->midiClock})
        for (int index = 0; index < box->count(); ++index)
            EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->itemText(index)))
                << box->itemText(index).toStdString();
    saveScreenshot(*bar, "transport-sync-bar");

    TransportSyncControls again(harness.application());
    EXPECT_EQ(again.chosen(), expected) << "a new bar shows what the device was given";
}

} // namespace
