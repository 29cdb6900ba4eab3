#include "app/window/MainWindow.h"
#include "app/window/TransportSyncControls.h"
#include "app/window/tests/WindowTestSupport.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QToolBar>

using namespace orvane;
using namespace orvane::testing;

namespace {

class TransportSyncWindowTest : public ::testing::Test {
  protected:
    WindowTestHarness harness{"transport-sync"};
    MainWindow &window = harness.window();

    /// Clicks the bar's Sync button, as a user does, and the menu item `item`.
    void choose(TransportSyncControls &button, const QString &item) {
        whenMenuShows(item);
        QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !button.menu()->isVisible(); }, 5000));
    }
};

TEST_F(TransportSyncWindowTest, TheTransportBarChoosesHowHalvoraKeepsTimeAndRemembersIt) {
    TransportSyncControls *button = window.transportSync;
    ASSERT_NE(button, nullptr);
    auto *bar = window.findChild<QToolBar *>(QStringLiteral("transport"));
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(button->isVisible());
    EXPECT_EQ(button->text(), QStringLiteral("Синхр."));
    EXPECT_FALSE(button->isChecked()) << "nothing is linked at first";

    choose(*button, QStringLiteral("Следовать транспорту JACK"));
    choose(*button, QStringLiteral("Следовать MIDI-клоку и его темпу"));
    const TransportSyncSettings expected{JackTransportMode::follow, MidiClockMode::in, true};
    EXPECT_EQ(button->chosen(), expected);
    EXPECT_TRUE(button->isChecked()) << "the button is lit while something is linked";
    EXPECT_TRUE(button->toolTip().contains(QStringLiteral("Следовать транспорту JACK")))
        << button->toolTip().toStdString();
    EXPECT_EQ(harness.application().audio().transportSync(), expected);
    EXPECT_EQ(loadDeviceSettings(deviceSettingsPath()).sync, expected);
    // The window runs on the null device here, which keeps time with no one.
    window.tick();
    EXPECT_TRUE(window.statusText().contains(QStringLiteral("только с устройством JACK")))
        << window.statusText().toStdString();
    // The bar still has room for everything it held before.
    EXPECT_FALSE(bar->findChild<QWidget *>(QStringLiteral("qt_toolbar_ext_button")) &&
                 bar->findChild<QWidget *>(QStringLiteral("qt_toolbar_ext_button"))->isVisible());
    saveScreenshot(*bar, "transport-sync-bar");
    button->menu()->popup(button->mapToGlobal(QPoint(0, button->height())));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button->menu()->isVisible(); }, 5000));
    saveScreenshot(*button->menu(), "transport-sync-menu");
    button->menu()->close();

    choose(*button, QStringLiteral("Не связан с транспортом JACK"));
    choose(*button, QStringLiteral("Передавать MIDI-клок"));
    EXPECT_EQ(loadDeviceSettings(deviceSettingsPath()).sync,
              (TransportSyncSettings{JackTransportMode::off, MidiClockMode::out, false}));
    TransportSyncControls again(harness.application());
    EXPECT_EQ(again.chosen(), button->chosen()) << "a new bar shows what the device was given";
}

} // namespace
