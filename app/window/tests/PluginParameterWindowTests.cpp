// Plug-in inserts as a musician reaches them from the mixer: their own windows, the generic
// parameter window, and the browser's format column; on a private X display, with the pointer.
#include "app/shell/LongJob.h"
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/MixerPanel.h"
#include "app/window/PluginBrowserPanel.h"
#include "app/window/PluginParameterPanel.h"
#include "app/window/PluginPicker.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "app/workflows/AutomationWriter.h"
#include "app/workflows/MidiLearning.h"
#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"
#include "core/model/AutomationLanes.h"
#include "core/plugins/PluginPresets.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Editor.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "device/OfflineRender.h"
#include "tests/support/ScopedTestState.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
// After Qt and the test framework, whose names X11's macros would otherwise take.
#include "core/plugins/lv2/tests/UserInputSupport.h"

#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::renderedLevel;

constexpr const char *x42Equalizer = "http://gareus.org/oss/lv2/fil4#stereo";
/// Its interface is a GTK one, which the interface host shows in a process of its own.
constexpr const char *calfReverb = "http://calf.sourceforge.net/plugins/Reverb";
/// Has no interface of its own.
constexpr const char *x42NoDelay = "http://gareus.org/oss/lv2/nodelay";
const std::string zamComp = "/usr/lib/vst3/ZamComp.vst3";

TEST(ParameterValueText, NumbersReadShortWithTheirUnit) {
    const struct {
        float value;
        const char *unit;
        const char *shown;
    } cases[] = {{-18.0f, "dB", "-18 dB"},    {440.0f, "Hz", "440 Hz"},
                 {0.70710678f, "", "0.7071"}, {12345.6f, "Hz", "1.235e+04 Hz"},
                 {-0.00001f, "dB", "0 dB"},   {2.5f, "ms", "2.5 ms"}};
    for (const auto &each : cases)
        EXPECT_EQ(formatPlainValue(each.value, each.unit), each.shown) << each.value;
}

/// Asks the window to close as its title bar's close button does.
void closeLikeTheWindowManager(unsigned long window) {
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    XCloseDisplay(display);
}

QPushButton *buttonReading(QWidget &parent, const QString &text) {
    for (QPushButton *candidate : parent.findChildren<QPushButton *>())
        if (candidate->text() == text) return candidate;
    return nullptr;
}

/// Drags the slider's handle to the start of its groove.
void dragSliderToStart(QSlider &slider) {
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = slider.orientation();
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    const QRect handle = slider.style()->subControlRect(QStyle::CC_Slider, &option,
                                                        QStyle::SC_SliderHandle, &slider);
    testing::dragMouse(slider, handle.center(), QPointF(0.0, handle.center().y()));
}

struct PluginWindowTest : ::testing::Test {
    // These tests find the mixer's controls by their English texts.
    testing::WindowLanguage english{Language::English};
    testing::ThirdPartyLeaksIgnored pluginLeaks;
    testing::WindowTestHarness harness{"plugin-windows"};
    testing::ScriptedUi &ui = harness.ui;
    OVApplication &app = harness.application();
    std::unique_ptr<MixerPanel> mixer;
    QTimer tick;
    std::shared_ptr<Track> midi;

    void SetUp() override {
        ASSERT_TRUE(app.audioRunning()) << ui.lastStatus();
        QObject::connect(&tick, &QTimer::timeout, [this] {
            app.onTick();
            if (mixer) mixer->onTick();
        });
        tick.start(static_cast<int>(OVApplication::uiTickSeconds * 1000.0));
        std::lock_guard lock(app.engine().projectMutex);
        for (const auto &candidate : app.engine().project.tracks)
            if (candidate->name == "MIDI 1") midi = candidate;
        ASSERT_TRUE(midi) << "the start-up song has a MIDI track that plays";
    }
    void TearDown() override {
        tick.stop();
        mixer.reset();
    }
    /// The mixer shown with the MIDI track's first insert chosen by a click.
    void showMixerOnFirstInsert() {
        mixer.reset(static_cast<MixerPanel *>(createMixerPanel(app, nullptr)));
        mixer->resize(1200, 640);
        mixer->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(mixer.get()));
        mixer->selectChannel(midi->id);
        ASSERT_EQ(mixer->insertList()->count(), 1);
        QListWidget &list = *mixer->insertList();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualItemRect(list.item(0)).center());
        ASSERT_EQ(list.currentRow(), 0);
    }
    /// Opens the chosen insert's parameter window from its context menu.
    PluginParameterPanel &parametersFromMenu() {
        QListWidget &list = *mixer->insertList();
        testing::whenMenuShows(QStringLiteral("Parameters…"));
        testing::requestContextMenu(*list.viewport(), list.visualItemRect(list.item(0)).center());
        PluginParameterPanel *panel = mixer->parameterPanel();
        EXPECT_NE(panel, nullptr);
        EXPECT_TRUE(panel && QTest::qWaitForWindowExposed(panel));
        return *panel;
    }
    void chooseFromInsertMenu(const QString &item) {
        QListWidget &list = *mixer->insertList();
        testing::whenMenuShows(item);
        testing::requestContextMenu(*list.viewport(), list.visualItemRect(list.item(0)).center());
    }
    bool rememberedOpen() {
        std::lock_guard lock(app.engine().projectMutex);
        return !midi->inserts.empty() && midi->inserts[0].editorOpen;
    }
    void clickEditorButton() {
        QPushButton *editor = buttonReading(*mixer, QStringLiteral("Editor"));
        ASSERT_NE(editor, nullptr);
        QTest::mouseClick(editor, Qt::LeftButton);
    }
};

TEST_F(PluginWindowTest, AnLv2InsertsOwnWindowOpensFromTheMixerAndClosesFromItsTitleBar) {
    ASSERT_TRUE(app.rack().loadLv2(midi->id, x42Equalizer));
    showMixerOnFirstInsert();
    clickEditorButton();
    const unsigned long window = mixer->editorWindowId();
    ASSERT_NE(window, 0u) << ui.lastStatus();
    EXPECT_EQ(mixer->parameterPanel(), nullptr) << "a plug-in with its own window uses it";
    QTest::qWait(100); // the window's timer lets the interface draw meanwhile
    closeLikeTheWindowManager(window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return mixer->editorWindowId() == 0; }, 4000));
    clickEditorButton();
    EXPECT_NE(mixer->editorWindowId(), 0u) << "it opens again";
    mixer->closeInsertEditor();
    EXPECT_EQ(mixer->editorWindowId(), 0u);
}

// "+ Plug-in" opens the picker: a few words of the name find the plug-in, Enter inserts it
// into the chosen track, and a favourite is kept on its shelf for the next time.
TEST_F(PluginWindowTest, ThePickerFindsAPluginByWhatIsTypedAndInsertsItWithEnter) {
    const std::filesystem::path noVst3 = harness.scratch("no-vst3");
    std::filesystem::create_directories(noVst3);
    testing::ScopedEnvironment onlyLv2("VST3_PATH", noVst3.string()); // the LV2 list is enough here
    app.rack().scan();
    const std::string uid = std::string("lv2:") + x42Equalizer;
    const auto described = std::find_if(app.rack().plugins.begin(), app.rack().plugins.end(),
                                        [&](const auto &plugin) { return plugin.uid == uid; });
    ASSERT_NE(described, app.rack().plugins.end());
    ASSERT_GT(app.rack().plugins.size(), 20u) << "the picker is for long lists";

    mixer.reset(static_cast<MixerPanel *>(createMixerPanel(app, nullptr)));
    mixer->resize(1200, 640);
    mixer->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(mixer.get()));
    mixer->selectChannel(midi->id);
    QPushButton *add = buttonReading(*mixer, QStringLiteral("+ Plug-in"));
    ASSERT_NE(add, nullptr);
    QTest::mouseClick(add, Qt::LeftButton);
    PluginPicker *picker = mixer->pluginPicker();
    ASSERT_NE(picker, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(picker));
    EXPECT_EQ(picker->resultList()->count(), static_cast<int>(app.rack().plugins.size()));
    // Two words of its name, in another case, in another order.
    const QStringList words = QString::fromStdString(described->name).split(QLatin1Char(' '));
    ASSERT_GE(words.size(), 2);
    const QString typed = words.back().toUpper() + QLatin1Char(' ') + words.front().toLower();
    QTest::keyClicks(picker->searchField(), typed);
    ASSERT_GE(picker->resultList()->count(), 1) << typed.toStdString();
    EXPECT_LT(picker->resultList()->count(), 5) << "a few words narrow a long list";
    EXPECT_EQ(picker->resultList()->item(0)->data(Qt::UserRole).toString().toStdString(), uid);
    const QImage shown = testing::saveScreenshot(*picker, "plugin-picker-en");
    EXPECT_EQ(testing::poorlyContrastedText(*picker, shown), std::vector<std::string>{});
    QTest::keyClick(picker->searchField(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return mixer->pluginPicker() == nullptr; }, 2000))
        << "the picker closes once it inserted";
    ASSERT_EQ(mixer->insertList()->count(), 1);
    {
        std::lock_guard lock(app.engine().projectMutex);
        ASSERT_EQ(midi->inserts.size(), 1u);
        EXPECT_EQ(midi->inserts[0].pluginId, uid);
    }

    // Marked a favourite, it waits on that shelf, with its star.
    QTest::mouseClick(add, Qt::LeftButton);
    picker = mixer->pluginPicker();
    ASSERT_NE(picker, nullptr);
    QTest::keyClicks(picker->searchField(), typed);
    picker->resultList()->setCurrentRow(0);
    QTest::mouseClick(picker->favouriteButton(), Qt::LeftButton);
    picker->searchField()->clear();
    picker->shelfChooser()->setCurrentIndex(
        picker->shelfChooser()->findData(QStringLiteral("favourites")));
    ASSERT_EQ(picker->resultList()->count(), 1);
    EXPECT_TRUE(picker->resultList()->item(0)->text().startsWith(QStringLiteral("★")));
    picker->close();
}

TEST_F(PluginWindowTest, APluginWithoutAWindowOfItsOwnGetsTheParameterWindowInstead) {
    ASSERT_TRUE(app.rack().loadLv2(midi->id, x42NoDelay));
    showMixerOnFirstInsert();
    clickEditorButton();
    EXPECT_EQ(mixer->editorWindowId(), 0u);
    ASSERT_NE(mixer->parameterPanel(), nullptr);
    EXPECT_EQ(mixer->parameterPanel()->rowCount(),
              static_cast<int>(app.rack().lv2PluginAt(midi->id, 0)->parameters.size()));
    EXPECT_GE(mixer->parameterPanel()->rowCount(), 1);
}

/// The plug-in's window as the screen shows it, saved among the screenshots; how many colours
/// it has (a blank window has one).
int saveScreenOfWindow(unsigned long window, const std::string &name) {
    const QImage picture =
        QGuiApplication::primaryScreen()->grabWindow(static_cast<WId>(window)).toImage();
    std::filesystem::create_directories(testing::screenshotFolder());
    picture.save(QString::fromStdString((testing::screenshotFolder() / (name + ".png")).string()));
    return testing::distinctColours(picture, 64);
}

struct ShownInterface {
    const char *name;
    const char *uri;
    /// Whether its window is one of the interface host's, a process of its own.
    bool ownProcess;
};

class PluginOwnWindowTest : public PluginWindowTest,
                            public ::testing::WithParamInterface<ShownInterface> {};

INSTANTIATE_TEST_SUITE_P(Interfaces, PluginOwnWindowTest,
                         ::testing::Values(ShownInterface{"CalfGtk", calfReverb, true},
                                           ShownInterface{"X42X11", x42Equalizer, false}),
                         [](const auto &info) { return std::string(info.param.name); });

// The plug-in's window from its slot's menu: what the user turns in it is an edit that undo
// takes back, the slot closes it again, and a project saved with it open opens it again.
TEST_P(PluginOwnWindowTest, TurnsAreUndoableEditsTheSlotClosesItAndTheProjectRemembersIt) {
    ASSERT_TRUE(app.rack().loadLv2(midi->id, GetParam().uri));
    showMixerOnFirstInsert();
    chooseFromInsertMenu(QStringLiteral("Plug-in Window"));
    const unsigned long window = mixer->editorWindowId();
    ASSERT_NE(window, 0u) << ui.lastStatus();
    EXPECT_EQ(lv2::testing::processOfWindow(window) != getpid(), GetParam().ownProcess);
    EXPECT_TRUE(rememberedOpen());
    QTest::qWait(400); // the interface draws meanwhile
    EXPECT_GE(saveScreenOfWindow(window, std::string("plugin-window-") + GetParam().name), 16)
        << "the interface drew itself";

    lv2::Lv2Plugin *plugin = app.rack().lv2PluginAt(midi->id, 0);
    ASSERT_NE(plugin, nullptr);
    std::vector<float> before(plugin->parameters.size());
    size_t turned = before.size();
    auto snapshot = [&] {
        for (size_t index = 0; index < before.size(); ++index)
            before[index] = plugin->parameterValue(index);
    };
    snapshot();
    const std::vector<float> initial = before;
    const lv2::testing::WheelSpot spot = lv2::testing::rollWheelUntil(window, [&] {
        QTest::qWait(40);
        for (size_t index = 0; index < before.size(); ++index)
            if (plugin->parameterValue(index) != before[index]) {
                turned = index;
                snapshot();
                return true;
            }
        return false;
    });
    ASSERT_TRUE(spot.found()) << "no control answered the wheel";
    const lv2::Lv2Parameter &parameter = plugin->parameters[turned];
    const float was = initial[turned], turnedTo = plugin->parameterValue(turned);
    ASSERT_NE(turnedTo, was);
    app.view().undoEdit();
    const float undone = plugin->parameterValue(turned);
    EXPECT_NE(undone, turnedTo) << parameter.symbol << ": the turn was an edit undo takes back";
    EXPECT_LT(std::fabs(undone - was), std::fabs(turnedTo - was)) << parameter.symbol;

    // With the insert's lane on this parameter, shown, and the mode writing, a turn writes a
    // point, as a fader's move does.
    {
        std::lock_guard lock(app.engine().projectMutex);
        midi->inserts[0].automParamId = parameter.portIndex; // a lane names a port
        app.engine().project.automationWriteMode = AutomationWriteMode::Write;
    }
    app.view().automation().automationLaneMode = static_cast<uint8_t>(insertAutomationLane(0) + 1);
    lv2::testing::rollWheelAt(spot.x, spot.y);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(app.engine().projectMutex);
            return !midi->inserts[0].paramAutomation.empty();
        },
        2000))
        << "the lane follows the window's control";
    {
        std::lock_guard lock(app.engine().projectMutex);
        app.engine().project.automationWriteMode = AutomationWriteMode::Read;
    }

    chooseFromInsertMenu(QStringLiteral("Plug-in Window"));
    EXPECT_EQ(mixer->editorWindowId(), 0u);
    EXPECT_FALSE(rememberedOpen());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return lv2::testing::windowTitled(plugin->description.name) == 0; }, 3000));

    // As a project saved with the window open arrives, the window opens.
    {
        std::lock_guard lock(app.engine().projectMutex);
        midi->inserts[0].editorOpen = true;
    }
    mixer->projectChanged();
    const unsigned long again = mixer->editorWindowId();
    ASSERT_NE(again, 0u);
    // Closed with its title bar's button, it is remembered closed.
    closeLikeTheWindowManager(again);
    EXPECT_TRUE(QTest::qWaitFor([&] { return mixer->editorWindowId() == 0; }, 4000));
    EXPECT_FALSE(rememberedOpen());
}

TEST_F(PluginWindowTest, AnInterfaceThatCrashesClosesItsWindowAndTheSongPlaysOn) {
    ASSERT_TRUE(app.rack().loadLv2(midi->id, calfReverb));
    showMixerOnFirstInsert();
    clickEditorButton();
    const unsigned long window = mixer->editorWindowId();
    ASSERT_NE(window, 0u) << ui.lastStatus();
    const int shownBy = lv2::testing::processOfWindow(window);
    ASSERT_GT(shownBy, 0);
    ASSERT_NE(shownBy, getpid());
    ASSERT_EQ(kill(shownBy, SIGSEGV), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return mixer->editorWindowId() == 0; }, 4000));
    EXPECT_EQ(ui.lastStatus(), "The plug-in's window crashed and was closed; the plug-in plays on");
    EXPECT_FALSE(rememberedOpen());
    EXPECT_TRUE(app.audioRunning());
    EXPECT_GT(renderedLevel(app.engine()), 0.0001) << "the song, reverb and all, still plays";
    clickEditorButton();
    EXPECT_NE(mixer->editorWindowId(), 0u) << "it opens again";
    mixer->closeInsertEditor();
}

TEST_F(PluginWindowTest, AnLv2ParameterMovedInItsWindowIsSetHeardAndFollowed) {
    const double dry = renderedLevel(app.engine());
    ASSERT_GT(dry, 0.001);
    ASSERT_TRUE(app.rack().loadLv2(midi->id, x42Equalizer));
    showMixerOnFirstInsert();
    const double unset = renderedLevel(app.engine());
    PluginParameterPanel &panel = parametersFromMenu();
    lv2::Lv2Plugin *plugin = app.rack().lv2PluginAt(midi->id, 0);
    ASSERT_NE(plugin, nullptr);
    ASSERT_EQ(panel.rowCount(), static_cast<int>(plugin->parameters.size()));

    const int gain = panel.rowNamed("Gain");
    ASSERT_GE(gain, 0);
    ASSERT_NE(panel.slider(gain), nullptr);
    EXPECT_EQ(panel.valueLabel(gain)->text(), QStringLiteral("0 dB"));
    dragSliderToStart(*panel.slider(gain));
    EXPECT_EQ(plugin->parameterValue(panel.row(gain).key), -18.0f);
    EXPECT_EQ(panel.valueLabel(gain)->text(), QStringLiteral("-18 dB"));
    const double quieter = renderedLevel(app.engine());
    EXPECT_NEAR(quieter / unset, std::pow(10.0, -18.0 / 20.0), 0.03) << "18 dB down";

    // A switch is a check box: switching the equalizer off gives back the sound unchanged.
    const int enable = panel.rowNamed("Enable");
    ASSERT_GE(enable, 0);
    QCheckBox *enabled = panel.toggle(enable);
    ASSERT_NE(enabled, nullptr);
    EXPECT_TRUE(enabled->isChecked());
    QTest::mouseClick(enabled, Qt::LeftButton, {}, QPoint(8, enabled->height() / 2));
    EXPECT_EQ(plugin->parameterValue(panel.row(enable).key), 0.0f);
    EXPECT_NEAR(renderedLevel(app.engine()) / dry, 1.0, 0.01);

    // A change made elsewhere shows on the panel's timer.
    ASSERT_TRUE(plugin->setParameterValue(panel.row(gain).key, 6.0f));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel.valueLabel(gain)->text() == QStringLiteral("6 dB"); }, 2000));
    EXPECT_EQ(panel.slider(gain)->value(),
              std::lround(panel.slider(gain)->maximum() * 24.0 / 36.0));
    ASSERT_TRUE(plugin->setParameterValue(panel.row(enable).key, 1.0f));
    EXPECT_TRUE(QTest::qWaitFor([&] { return enabled->isChecked(); }, 2000));

    // Every text reads well and none is cut short, with the window tall enough for all rows.
    QScrollArea *rows = panel.findChild<QScrollArea *>();
    ASSERT_NE(rows, nullptr);
    panel.resize(panel.width(), rows->widget()->sizeHint().height() + 40);
    QTest::qWait(50);
    const QImage picture = testing::saveScreenshot(panel, "plugin-parameters-lv2");
    EXPECT_EQ(testing::poorlyContrastedText(panel, picture), std::vector<std::string>{});
    for (QLabel *label : panel.findChildren<QLabel *>()) {
        if (!label->isVisible()) continue;
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    }

    // Removing the insert closes its window.
    QPointer<PluginParameterPanel> watched(&panel);
    mixer->removeInsert();
    EXPECT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 2000));
}

// A value can be typed: a double-click on it opens a box, and Return sets what was typed, with
// the unit or not, as one undo step; past the range it stops at the end. Text that is no
// number leaves the box open for mending, and Escape leaves the value as it was.
TEST_F(PluginWindowTest, AValueTypedIntoTheParameterWindowIsSetAsOneUndoStep) {
    ASSERT_TRUE(app.rack().loadLv2(midi->id, x42Equalizer));
    showMixerOnFirstInsert();
    PluginParameterPanel &panel = parametersFromMenu();
    lv2::Lv2Plugin *plugin = app.rack().lv2PluginAt(midi->id, 0);
    ASSERT_NE(plugin, nullptr);
    const int gain = panel.rowNamed("Gain"), frequency = panel.rowNamed("Frequency 1");
    ASSERT_GE(gain, 0);
    ASSERT_GE(frequency, 0);
    struct Typed {
        int row;
        const char *text, *shown;
        float plain;
    };
    for (const Typed &typed :
         {Typed{gain, "-7.5", "-7.5 dB", -7.5f}, Typed{gain, "3 dB", "3 dB", 3.0f},
          Typed{gain, "40", "18 dB", 18.0f}, Typed{frequency, "1k", "1000 Hz", 1000.0f},
          Typed{frequency, "440 Hz", "440 Hz", 440.0f}, Typed{frequency, "5", "20 Hz", 20.0f}}) {
        SCOPED_TRACE(typed.text);
        testing::typeParameterValue(panel, typed.row, QString::fromLatin1(typed.text));
        EXPECT_FALSE(panel.valueEntry(typed.row)->isVisible());
        EXPECT_EQ(panel.valueLabel(typed.row)->text().toStdString(), typed.shown);
        EXPECT_NEAR(plugin->parameterValue(panel.row(typed.row).key), typed.plain,
                    1e-3f * std::fabs(typed.plain));
        EXPECT_EQ(app.commands().undoName(), "Plug-in Parameter");
    }
    testing::typeParameterValue(panel, gain, QStringLiteral("loud"));
    EXPECT_TRUE(panel.valueEntry(gain)->isVisible()) << "open for mending";
    testing::saveScreenshot(panel, "parameter-typed-entry");
    QTest::keyClick(panel.valueEntry(gain), Qt::Key_Escape);
    EXPECT_FALSE(panel.valueEntry(gain)->isVisible());
    EXPECT_EQ(plugin->parameterValue(panel.row(gain).key), 18.0f);
    app.view().undoEdit();
    EXPECT_EQ(plugin->parameterValue(panel.row(gain).key), 18.0f) << "the frequency was last";
    EXPECT_NEAR(plugin->parameterValue(panel.row(frequency).key), 440.0f, 0.5f);
}

// Each row's "Auto" button puts that parameter on the insert's automation lane, as one undo
// step, and shows the lane; the button of the parameter the lane drives is the checked one.
TEST_F(PluginWindowTest, AParameterChosenForAutomationDrivesTheInsertsLane) {
    ASSERT_TRUE(app.rack().loadLv2(midi->id, x42Equalizer));
    showMixerOnFirstInsert();
    PluginParameterPanel &panel = parametersFromMenu();
    const int gain = panel.rowNamed("Gain");
    ASSERT_GE(gain, 0);
    const auto checkedRows = [&] {
        std::vector<int> rows;
        for (int index = 0; index < panel.rowCount(); ++index)
            if (panel.automateButton(index)->isChecked()) rows.push_back(index);
        return rows;
    };
    EXPECT_EQ(checkedRows(), std::vector<int>{0}) << "a new insert's lane drives its first";
    QTest::mouseClick(panel.automateButton(gain), Qt::LeftButton);
    EXPECT_EQ(checkedRows(), std::vector<int>{gain});
    EXPECT_EQ(app.commands().undoName(), "Automation Parameter");
    // A lane names an LV2 plug-in's control by its port.
    lv2::Lv2Plugin *plugin = app.rack().lv2PluginAt(midi->id, 0);
    ASSERT_NE(plugin, nullptr);
    const auto portOf = [&](int row) {
        return plugin->parameters.at(panel.row(row).key).portIndex;
    };
    {
        std::lock_guard lock(app.engine().projectMutex);
        EXPECT_EQ(midi->inserts.at(0).automParamId, portOf(gain));
        const TimelineView timeline(app);
        EXPECT_EQ(timeline.shownLaneName(*midi).toStdString(),
                  "Gain · " + midi->inserts.at(0).displayName)
            << "the track's header names the lane's plug-in and parameter";
    }
    TimelineView shownTimeline(app);
    shownTimeline.setShowAutomation(true);
    shownTimeline.resize(900, 360);
    shownTimeline.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shownTimeline));
    testing::saveScreenshot(shownTimeline, "timeline-plugin-lane");
    shownTimeline.hide();
    EXPECT_EQ(app.view().automation().automationLaneMode, insertAutomationLane(0) + 1)
        << "the timeline shows the insert's lane";
    QTest::mouseClick(panel.automateButton(gain), Qt::LeftButton);
    EXPECT_EQ(checkedRows(), std::vector<int>{gain}) << "choosing it again keeps it";
    EXPECT_EQ(app.commands().undoName(), "Automation Parameter");
    testing::saveScreenshot(panel, "parameter-automated");

    // While the transport writes, a turn of the chosen parameter writes its lane.
    {
        std::lock_guard lock(app.engine().projectMutex);
        app.engine().project.automationWriteMode = AutomationWriteMode::Write;
    }
    testing::typeParameterValue(panel, gain, QStringLiteral("-6"));
    {
        std::lock_guard lock(app.engine().projectMutex);
        app.engine().project.automationWriteMode = AutomationWriteMode::Read;
        ASSERT_FALSE(midi->inserts.at(0).paramAutomation.empty()) << "the lane follows the turn";
        EXPECT_NEAR(midi->inserts.at(0).paramAutomation.back().v,
                    plugin->getParameterNormalizedAt(panel.row(gain).key), 1e-6f);
    }
    // Undone back to before the choice, the lane drives the first parameter again.
    for (int step = 0; step < 4 && app.commands().undoName() != "Automation Parameter"; ++step)
        app.view().undoEdit();
    ASSERT_EQ(app.commands().undoName(), "Automation Parameter");
    app.view().undoEdit();
    std::lock_guard lock(app.engine().projectMutex);
    EXPECT_EQ(midi->inserts.at(0).automParamId, portOf(0));
}

TEST_F(PluginWindowTest, AVst3ParameterMovedInItsWindowIsSetAndHeard) {
    ASSERT_TRUE(fs::exists(zamComp)) << "zam-plugins missing: run scripts/install-deps.sh";
    ASSERT_TRUE(app.rack().loadVst3(midi->id, zamComp, ""));
    showMixerOnFirstInsert();
    const double unset = renderedLevel(app.engine());
    PluginParameterPanel &panel = parametersFromMenu();
    const int threshold = panel.rowNamed("Threshold");
    EXPECT_LT(panel.rowNamed("Gain Reduction"), 0) << "what the plug-in reports is no control";
    ASSERT_GE(threshold, 0);
    ASSERT_NE(panel.slider(threshold), nullptr);
    EXPECT_TRUE(panel.valueLabel(threshold)->text().endsWith(QStringLiteral(" dB")))
        << panel.valueLabel(threshold)->text().toStdString();
    dragSliderToStart(*panel.slider(threshold));
    float readBack = -1.0f;
    {
        std::lock_guard lock(app.rack().slotsMutex);
        for (vst::Slot &slot : app.rack().slots)
            if (slot.trackId == midi->id && slot.plugin)
                readBack = slot.plugin->getParameterNormalized(panel.row(threshold).key);
    }
    EXPECT_EQ(readBack, 0.0f);
    // The other tracks of the song play on unchanged, so the mix as a whole drops less.
    EXPECT_LT(renderedLevel(app.engine()), 0.8 * unset) << "compressed from the lowest threshold";
    EXPECT_EQ(panel.valueLabel(threshold)->text(), QStringLiteral("-80 dB"));
    EXPECT_TRUE(testing::saveScreenshot(panel, "plugin-parameters-vst3").width() > 0);
}

// A knob turned in a VST 3's own window in the program is an edit of the song: it marks the
// project changed and undo turns it back.
TEST_F(PluginWindowTest, AVst3EditorTurnedInTheProgramIsAnEditThatUndoTurnsBack) {
    ASSERT_TRUE(fs::exists(zamComp)) << "zam-plugins missing: run scripts/install-deps.sh";
    ASSERT_TRUE(app.rack().loadVst3(midi->id, zamComp, ""));
    showMixerOnFirstInsert();
    auto values = [&] {
        std::vector<float> shown;
        std::lock_guard lock(app.rack().slotsMutex);
        for (vst::Slot &slot : app.rack().slots)
            if (slot.trackId == midi->id && slot.plugin)
                for (const vst::PluginParameterInfo &info : slot.plugin->listParameters())
                    shown.push_back(info.normalizedValue);
        return shown;
    };
    const std::vector<float> before = values();
    ASSERT_FALSE(before.empty());
    app.view().projectDirty = false;
    clickEditorButton();
    const unsigned long window = mixer->editorWindowId();
    ASSERT_NE(window, 0u) << ui.lastStatus();
    const lv2::testing::WheelSpot spot = lv2::testing::rollWheelUntil(window, [&] {
        return QTest::qWaitFor([&] { return app.commands().undoName() == "Plug-in Parameter"; },
                               35);
    });
    ASSERT_TRUE(spot.found()) << "no control answered the wheel";
    EXPECT_NE(values(), before);
    EXPECT_TRUE(app.view().projectDirty);
    for (int step = 0; step < 20 && app.commands().undoName() == "Plug-in Parameter"; ++step)
        app.view().undoEdit();
    EXPECT_EQ(values(), before) << "undo turns the knob back";
    mixer->closeInsertEditor();
}

// The controller reaches the engine as a device block would hand it over; the JACK path itself
// is proven on the mixer's fader.
TEST_F(PluginWindowTest, AVst3ParameterLearnsAControllerThatMovesThePlugInAndItsSavedState) {
    ASSERT_TRUE(fs::exists(zamComp)) << "zam-plugins missing: run scripts/install-deps.sh";
    ASSERT_TRUE(app.rack().loadVst3(midi->id, zamComp, ""));
    showMixerOnFirstInsert();
    PluginParameterPanel &panel = parametersFromMenu();
    const int threshold = panel.rowNamed("Threshold");
    ASSERT_GE(threshold, 0);
    QSlider &slider = *panel.slider(threshold);
    const uint32_t key = panel.row(threshold).key;
    testing::whenMenuShows(QStringLiteral("MIDI Learn"));
    const QPoint centre(slider.width() / 2, slider.height() / 2);
    QTest::mouseClick(&slider, Qt::RightButton, {}, centre);
    testing::requestContextMenu(slider, centre);
    ASSERT_TRUE(app.view().midiLearning().waiting());

    ASSERT_TRUE(app.engine().controllers.takeEventRt(MidiEvent{0, 0xB0, 16, 64}));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(app.engine().projectMutex);
            return app.engine().project.midiMappings.size() == 1;
        },
        2000));
    const MidiMapping learned = app.engine().project.midiMappings.front();
    EXPECT_EQ(learned.lane, insertAutomationLane(0));
    EXPECT_EQ(learned.paramId, key);
    std::vector<uint8_t> stateBefore;
    {
        std::lock_guard lock(app.engine().projectMutex);
        stateBefore = midi->inserts[0].state;
    }

    ASSERT_TRUE(app.engine().controllers.takeEventRt(MidiEvent{0, 0xB0, 16, 0}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return slider.value() == 0; }, 3000))
        << "the window follows the plug-in, " << slider.value();
    float readBack = -1.0f;
    {
        std::lock_guard lock(app.rack().slotsMutex);
        for (vst::Slot &slot : app.rack().slots)
            if (slot.trackId == midi->id && slot.plugin)
                readBack = slot.plugin->getParameterNormalized(key);
    }
    EXPECT_EQ(readBack, 0.0f);
    std::lock_guard lock(app.engine().projectMutex);
    EXPECT_NE(midi->inserts[0].state, stateBefore) << "the project keeps the plug-in's new state";
}

TEST_F(PluginWindowTest, AnInsertsTooltipSaysWhatItCostWhileTheSongPlays) {
    ASSERT_TRUE(fs::exists(zamComp)) << "zam-plugins missing: run scripts/install-deps.sh";
    ASSERT_TRUE(app.rack().loadVst3(midi->id, zamComp, ""));
    showMixerOnFirstInsert();
    QListWidgetItem *item = mixer->insertList()->item(0);
    EXPECT_TRUE(item->toolTip().isEmpty());
    app.view().play();
    const bool shown = QTest::qWaitFor(
        [&] {
            item = mixer->insertList()->item(0);
            return item && item->toolTip().startsWith(QStringLiteral("DSP: "));
        },
        4000);
    app.view().stop();
    ASSERT_TRUE(shown) << (item ? item->toolTip().toStdString() : "no item");
    // "DSP: 0.4 % on average, 1.2 % at most of each block[, the helper's round trip included]"
    const QStringList words = item->toolTip().split(QLatin1Char(' '));
    ASSERT_GE(words.size(), 7);
    const double mean = words[1].toDouble();
    const double peak = words[5].toDouble();
    EXPECT_GE(peak, mean);
    EXPECT_GT(peak, 0.0);
    EXPECT_EQ(item->toolTip().contains(QStringLiteral("helper")),
              app.rack().takeInsertLoad(midi->id, 0).sandboxed);
}

constexpr const char *calfFilter = "http://calf.sourceforge.net/plugins/Filter";

TEST_F(PluginWindowTest, APresetChosenInTheParameterWindowIsHeardComparedSavedAndUndone) {
    ASSERT_TRUE(app.rack().loadLv2(midi->id, calfFilter));
    showMixerOnFirstInsert();
    PluginParameterPanel &panel = parametersFromMenu();
    lv2::Lv2Plugin *plugin = app.rack().lv2PluginAt(midi->id, 0);
    ASSERT_NE(plugin, nullptr);
    const auto frequency = static_cast<size_t>(plugin->parameterIndex("freq"));
    const float unset = plugin->parameterValue(frequency);
    QComboBox &list = *panel.presetList();
    // "—", then the installed presets by name.
    ASSERT_EQ(list.count(), 4);
    EXPECT_EQ(list.itemText(1), QStringLiteral("Disco"));

    // The keyboard picks the first preset: one undo step, heard at once.
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentText(), QStringLiteral("Disco"));
    EXPECT_NEAR(plugin->parameterValue(frequency), 193.821f, 0.01f);
    EXPECT_EQ(app.commands().undoName(), "Load Preset");
    const int shownFrequency = panel.rowNamed(plugin->parameters[frequency].name);
    ASSERT_GE(shownFrequency, 0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel.valueLabel(shownFrequency)->text() == QStringLiteral("193.8 Hz"); },
        2000))
        << panel.valueLabel(shownFrequency)->text().toStdString();

    // A/B swaps with the sound from before the preset, and back.
    QTest::mouseClick(panel.compareButton(), Qt::LeftButton);
    EXPECT_EQ(plugin->parameterValue(frequency), unset);
    QTest::mouseClick(panel.compareButton(), Qt::LeftButton);
    EXPECT_NEAR(plugin->parameterValue(frequency), 193.821f, 0.01f);

    // Saved under a name typed into the dialog, it joins the list after the installed ones.
    testing::whenDialogShows([](QWidget &dialog) {
        auto *name = dialog.findChild<QLineEdit *>();
        ASSERT_NE(name, nullptr);
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("Warm Disco"));
        QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::mouseClick(panel.savePresetButton(), Qt::LeftButton);
    EXPECT_FALSE(panel.presetProblem()->isVisible()) << panel.presetProblem()->text().toStdString();
    ASSERT_EQ(list.count(), 6) << "a line, then the user's preset";
    EXPECT_EQ(list.itemText(5), QStringLiteral("Warm Disco"));
    EXPECT_EQ(list.currentText(), QStringLiteral("Warm Disco"));
    EXPECT_TRUE(fs::exists(fs::path(vst::userPresetFolder(std::string("lv2:") + calfFilter)) /
                           "Warm Disco.preset.lv2" / "preset.ttl"));

    // The window's own undo key takes the preset back.
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    QTest::keyClick(&panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(plugin->parameterValue(frequency), unset);

    QTest::qWait(150);
    const QImage picture = testing::saveScreenshot(panel, "plugin-presets");
    EXPECT_EQ(testing::poorlyContrastedText(panel, picture), std::vector<std::string>{});
    for (QWidget *bar :
         std::initializer_list<QWidget *>{panel.savePresetButton(), panel.compareButton()})
        EXPECT_GE(bar->width(), bar->sizeHint().width());
}

/// The normalized value of a parameter of the track's VST 3 insert, -1 without one.
float vst3ParameterOf(vst::PluginRack &rack, uint64_t trackId, uint32_t key) {
    std::lock_guard lock(rack.slotsMutex);
    for (vst::Slot &slot : rack.slots)
        if (slot.trackId == trackId && slot.plugin) return slot.plugin->getParameterNormalized(key);
    return -1.0f;
}

// The transport never runs here: the value reaches the saved project without a block.
TEST_F(PluginWindowTest, AVst3ParameterDraggedWhileStoppedIsOneUndoStepAndIsSaved) {
    ASSERT_TRUE(fs::exists(zamComp)) << "zam-plugins missing: run scripts/install-deps.sh";
    ASSERT_TRUE(app.rack().loadVst3(midi->id, zamComp, ""));
    ASSERT_FALSE(app.engine().transport.playing.load());
    showMixerOnFirstInsert();
    PluginParameterPanel &panel = parametersFromMenu();
    const int threshold = panel.rowNamed("Threshold");
    ASSERT_GE(threshold, 0);
    const uint32_t key = panel.row(threshold).key;
    QSlider &slider = *panel.slider(threshold);
    const std::string stepBefore = app.commands().undoName();
    ASSERT_EQ(vst3ParameterOf(app.rack(), midi->id, key), 1.0f);

    dragSliderToStart(slider);
    EXPECT_EQ(vst3ParameterOf(app.rack(), midi->id, key), 0.0f);
    EXPECT_EQ(app.commands().undoName(), "Plug-in Parameter");

    // One drag, one step: the window's own undo key gives back the value from before it.
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    QTest::keyClick(&panel, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(vst3ParameterOf(app.rack(), midi->id, key), 1.0f);
    EXPECT_EQ(app.commands().undoName(), stepBefore);
    EXPECT_TRUE(QTest::qWaitFor([&] { return slider.value() == slider.maximum(); }, 2000));
    QTest::keyClick(&panel, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(vst3ParameterOf(app.rack(), midi->id, key), 0.0f);
    EXPECT_TRUE(QTest::qWaitFor([&] { return slider.value() == 0; }, 2000));

    const fs::path folder = harness.scratch("threshold.halvora");
    ASSERT_TRUE(app.view().saveProjectToPath(folder.string(), true));
    std::optional<LongJob> reopen = app.view().prepareOpenProjectAt(folder.string());
    ASSERT_TRUE(reopen.has_value()) << ui.lastStatus();
    runLongJobHere(*reopen);
    std::shared_ptr<Track> reopened;
    {
        std::lock_guard lock(app.engine().projectMutex);
        reopened = app.engine().project.findTrack(midi->id);
        ASSERT_TRUE(reopened);
        ASSERT_EQ(reopened->inserts.size(), 1u);
    }
    EXPECT_EQ(vst3ParameterOf(app.rack(), reopened->id, key), 0.0f)
        << "the reopened plug-in was given the saved state";
}

TEST_F(PluginWindowTest, TheBrowserTellsVst3FromLv2) {
    const fs::path vst3 = harness.scratch("vst3"), lv2 = harness.scratch("lv2");
    fs::create_directories(vst3);
    fs::create_directories(lv2);
    fs::create_directory_symlink("/usr/lib/vst3/ZamDelay.vst3", vst3 / "ZamDelay.vst3");
    for (const char *bundle : {"fil4.lv2", "core.lv2", "units.lv2"})
        fs::create_directory_symlink(fs::path("/usr/lib/lv2") / bundle, lv2 / bundle);
    testing::ScopedEnvironment vst3Path("VST3_PATH", vst3.string());
    testing::ScopedEnvironment lv2Path("LV2_PATH", lv2.string());

    std::unique_ptr<PluginBrowserPanel> browser(
        static_cast<PluginBrowserPanel *>(createPluginBrowserPanel(app, nullptr)));
    browser->resize(1000, 500);
    browser->show();
    ASSERT_TRUE(browser->startScan());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser->scanning(); }, 30000));
    QTableWidget &table = *browser->table();
    int vst3Rows = 0, lv2Rows = 0;
    for (int row = 0; row < table.rowCount(); ++row) {
        const QString name = table.item(row, 0)->text();
        const QString format = table.item(row, PluginBrowserPanel::formatColumn)->text();
        if (name == QStringLiteral("ZamDelay")) vst3Rows += format == QStringLiteral("VST3");
        if (name.contains(QStringLiteral("EQ"), Qt::CaseInsensitive))
            lv2Rows += format == QStringLiteral("LV2");
    }
    EXPECT_EQ(vst3Rows, 1);
    EXPECT_GE(lv2Rows, 1);
    EXPECT_EQ(table.horizontalHeader()->visualIndex(PluginBrowserPanel::formatColumn), 1)
        << "shown beside the name";
}

} // namespace
} // namespace orvane
