#include "app/shell/OVMainView.h"
#include "app/window/ChannelStrip.h"
#include "app/window/MainWindow.h"
#include "app/window/MidiMappingsWindow.h"
#include "app/window/MixerPanel.h"
#include "app/window/PluginParameterPanel.h"
#include "app/window/tests/WindowTestSupport.h"
#include "app/workflows/MidiLearning.h"
#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"
#include "core/model/AutomationLanes.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "device/AudioDeviceEngine.h"
#include "tests/support/JackServer.h"
#include "tests/support/JackTestClient.h"

#include <QApplication>
#include <QDial>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QTest>

#include <memory>
#include <mutex>

namespace orvane {
namespace {

using testing::JackServer;
using testing::JackTestClient;
using testing::TestMidiEvent;

std::vector<uint8_t> controlChange(int channel, int number, int value) {
    return {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(number),
            static_cast<uint8_t>(value)};
}

/// The application on a private JACK server, its window on the mixer page, and a hardware
/// controller stand-in: a JACK client per gesture, each playing its MIDI once into
/// "Halvora:midi_in". Clients and server go with the fixture, however the test ends.
class MidiLearnWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        harness = std::make_unique<testing::WindowTestHarness>(
            "midilearn", testing::PluginIsolation::Off, "JACK",
            [this] { server = std::make_unique<JackServer>(); });
        ASSERT_TRUE(server && server->ready()) << (server ? server->failure() : "");
        ASSERT_TRUE(harness->application().audio().outputRunning.load())
            << harness->application().audio().lastError;
        ASSERT_EQ(harness->application().audio().outputDeviceName, "JACK")
            << harness->application().audio().lastError << " / "
            << harness->application().status().text();
        window = &harness->window();
        window->resize(1280, 800);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        window->showTab(MainWindow::MixerTab);
        mixer = static_cast<MixerPanel *>(&window->mixerPanel());
        std::lock_guard lock(engine().projectMutex);
        for (const auto &track : engine().project.tracks)
            if (track->type == TrackType::Audio) audioTrack = track;
        ASSERT_TRUE(audioTrack);
    }

    void TearDown() override {
        knobs.clear();
        harness.reset();
        server.reset();
    }

    Engine &engine() { return harness->application().engine(); }

    /// A controller that sends `events` (frames from when it starts) once.
    void play(std::vector<TestMidiEvent> events) {
        auto knob =
            std::make_unique<JackTestClient>("knob" + std::to_string(knobs.size()), 0, 0, true);
        ASSERT_TRUE(knob->ok()) << knob->error();
        knob->preparePlayback({}, std::move(events));
        ASSERT_TRUE(knob->activate());
        ASSERT_TRUE(knob->connectWhenReady(knob->midiPort(), "Halvora:midi_in"));
        knob->startPlaying();
        knobs.push_back(std::move(knob));
    }

    /// Plays `events` until `done` holds, as a hand moves a knob again when nothing answered:
    /// a busy server may drop a cycle's events. False after five tries.
    bool playUntil(const std::vector<TestMidiEvent> &events, const std::function<bool()> &done) {
        for (int attempt = 0; attempt < 5 && !done(); ++attempt) {
            play(events);
            (void)QTest::qWaitFor(done, 1000);
        }
        return done();
    }

    /// A right-click on `control` as the mouse makes it, choosing `item` from its menu.
    void chooseFromContextMenu(QWidget &control, const QString &item) {
        const QPoint centre(control.width() / 2, control.height() / 2);
        testing::whenMenuShows(item);
        QTest::mouseClick(&control, Qt::RightButton, {}, centre);
        testing::requestContextMenu(control, centre);
    }

    std::vector<MidiMapping> mappings() {
        std::lock_guard lock(engine().projectMutex);
        return engine().project.midiMappings;
    }

    std::unique_ptr<JackServer> server;
    std::unique_ptr<testing::WindowTestHarness> harness;
    std::vector<std::unique_ptr<JackTestClient>> knobs;
    MainWindow *window = nullptr;
    MixerPanel *mixer = nullptr;
    std::shared_ptr<Track> audioTrack;
};

TEST_F(MidiLearnWindow, AFaderLearnsAControllerThatThenMovesItLiveUntilRemoved) {
    ChannelStrip *strip = mixer->stripFor(audioTrack->id);
    ASSERT_NE(strip, nullptr);
    QSlider *fader = strip->fader();
    MidiLearning &learning = harness->application().view().midiLearning();

    // Esc gives up a learn that waits.
    chooseFromContextMenu(*fader, "MIDI Learn");
    ASSERT_TRUE(learning.waiting());
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->statusText().contains("MIDI"); }, 2000))
        << window->statusText().toStdString();
    testing::saveScreenshot(*window, "midi-learn-waiting");
    QTest::keyClick(fader, Qt::Key_Escape);
    EXPECT_FALSE(learning.waiting());
    EXPECT_TRUE(mappings().empty());

    chooseFromContextMenu(*fader, "MIDI Learn");
    ASSERT_TRUE(learning.waiting());
    ASSERT_TRUE(playUntil({{0, controlChange(2, 21, 64)}}, [&] { return !mappings().empty(); }))
        << "the controller that moved became the fader's";
    const MidiMapping learned = mappings().front();
    EXPECT_EQ(learned.channel, 2);
    EXPECT_EQ(learned.kind, MidiSourceKind::ControlChange);
    EXPECT_EQ(learned.number, 21);
    EXPECT_EQ(learned.trackId, audioTrack->id);
    EXPECT_EQ(learned.lane, volumeMappingLane);
    EXPECT_EQ(harness->application().commands().undoName(), "MIDI Learn");
    EXPECT_FALSE(learning.waiting());

    // The knob turned all the way up, then down to a third: the fader and the song follow.
    const float third = learned.maximum * 42.0f / 127.0f;
    ASSERT_TRUE(playUntil({{0, controlChange(2, 21, 127)},
                           {2400, controlChange(2, 21, 90)},
                           {4800, controlChange(2, 21, 42)}},
                          [&] { return fader->value() == gainToFaderPosition(third); }))
        << fader->value();
    {
        std::lock_guard lock(engine().projectMutex);
        EXPECT_FLOAT_EQ(audioTrack->gain, third);
    }
    EXPECT_TRUE(harness->application().view().projectDirty);
    EXPECT_EQ(harness->application().commands().undoName(), "MIDI Learn")
        << "playing a controller fills no undo history";

    // The list shows it, and removing it there stops the knob from moving the fader.
    ASSERT_TRUE(testing::chooseFromMenuBar(*window, "Studio", "MIDI Mappings…"));
    auto *list = window->findChild<MidiMappingsWindow *>();
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list));
    ASSERT_EQ(list->table()->rowCount(), 1);
    EXPECT_EQ(list->table()->item(0, 0)->text().toStdString(), midiSourceText(learned));
    EXPECT_NE(list->table()->item(0, 1)->text().indexOf(QString::fromStdString(audioTrack->name)),
              -1);
    EXPECT_EQ(list->table()->item(0, 2)->text(), QStringLiteral("-∞ dB … 6.0 dB"))
        << "a fader's travel reads as its fader does";
    testing::saveScreenshot(*list, "midi-mappings-list");
    const QRect row = list->table()->visualItemRect(list->table()->item(0, 1));
    QTest::mouseClick(list->table()->viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_TRUE(list->removeButton()->isEnabled());
    QTest::mouseClick(list->removeButton(), Qt::LeftButton);
    EXPECT_TRUE(mappings().empty());
    EXPECT_EQ(list->table()->rowCount(), 0);
    EXPECT_EQ(harness->application().commands().undoName(), "Remove MIDI Mapping");
    list->close();

    const int before = fader->value();
    play({{0, controlChange(2, 21, 127)}});
    QTest::qWait(300);
    EXPECT_EQ(fader->value(), before) << "a forgotten controller moves nothing";
}

// A plug-in's parameter learns from a controller on the audio server, as a fader does, and the
// knob then moves the plug-in itself while the song plays: its bounds at the knob's ends. The
// plug-in is x42's equaliser, which keeps to the real-time rules from its first block: some
// others (Calf's) allocate in their first run, which the device's trap would rightly stop.
TEST_F(MidiLearnWindow, APluginParameterLearnsAControllerFromTheServerAndFollowsItLive) {
    constexpr const char *x42Equalizer = "http://gareus.org/oss/lv2/fil4#stereo";
    vst::PluginRack &rack = harness->application().rack();
    ASSERT_TRUE(rack.loadLv2(audioTrack->id, x42Equalizer));
    lv2::Lv2Plugin *plugin = rack.lv2PluginAt(audioTrack->id, 0);
    ASSERT_NE(plugin, nullptr);
    const auto frequency = static_cast<std::size_t>(plugin->parameterIndex("freq1"));
    mixer->projectChanged();
    mixer->selectChannel(audioTrack->id);
    QListWidget &list = *mixer->insertList();
    ASSERT_EQ(list.count(), 1);
    const QPoint insert = list.visualItemRect(list.item(0)).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, insert);
    testing::whenMenuShows(QStringLiteral("Parameters…"));
    testing::requestContextMenu(*list.viewport(), insert);
    PluginParameterPanel *panel = mixer->parameterPanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    const int row = panel->rowNamed("Frequency 1");
    ASSERT_GE(row, 0);
    QSlider &slider = *panel->slider(row);

    chooseFromContextMenu(slider, "MIDI Learn");
    ASSERT_TRUE(harness->application().view().midiLearning().waiting());
    ASSERT_TRUE(playUntil({{0, controlChange(5, 74, 64)}}, [&] { return !mappings().empty(); }))
        << "the controller that moved became the parameter's";
    const MidiMapping learned = mappings().front();
    EXPECT_EQ(learned.channel, 5);
    EXPECT_EQ(learned.number, 74);
    EXPECT_EQ(learned.trackId, audioTrack->id);
    EXPECT_EQ(learned.lane, insertAutomationLane(0));
    EXPECT_EQ(learned.paramId, panel->row(row).key);

    harness->application().view().play();
    const struct {
        int value;
        float parameter;
        int slider;
    } ends[] = {{0, 20.0f, slider.minimum()}, {127, 2000.0f, slider.maximum()}};
    for (const auto &end : ends) {
        SCOPED_TRACE("CC value " + std::to_string(end.value));
        EXPECT_TRUE(playUntil({{0, controlChange(5, 74, end.value)}}, [&] {
            return std::abs(plugin->parameterValue(frequency) - end.parameter) <
                   1.0e-3f * end.parameter;
        })) << plugin->parameterValue(frequency);
        EXPECT_TRUE(QTest::qWaitFor([&] { return slider.value() == end.slider; }, 3000))
            << "the window follows the plug-in: " << slider.value();
    }
    EXPECT_TRUE(engine().transport.playing.load());
    harness->application().view().stop();
    testing::saveScreenshot(*panel, "midi-learn-plugin-parameter");
}

TEST_F(MidiLearnWindow, APanAndASendForgetTheirControllersFromTheirOwnMenus) {
    ChannelStrip *strip = mixer->stripFor(audioTrack->id);
    ASSERT_NE(strip, nullptr);
    const struct {
        QWidget *control;
        int32_t lane;
        std::vector<uint8_t> message;
    } controls[] = {
        {strip->panDial(), panMappingLane, {0xE0, 0x00, 0x00}}, // pitch bend, all the way down
        {strip->sendDial(1), sendMappingLane(1), controlChange(0, 30, 127)},
    };
    for (const auto &entry : controls) {
        chooseFromContextMenu(*entry.control, "MIDI Learn");
        ASSERT_TRUE(playUntil({{0, entry.message}}, [&] {
            const auto now = mappings();
            return !now.empty() && now.back().lane == entry.lane;
        })) << "the control learned nothing";
    }
    // Pitch bend down takes the pan to its left end, the full CC the send to its top.
    ASSERT_TRUE(playUntil(
        {{0, {0xE0, 0x00, 0x00}}, {0, controlChange(0, 30, 127)}},
        [&] { return strip->panDial()->value() == -100 && strip->sendDial(1)->value() == 100; }))
        << strip->panDial()->value() << " " << strip->sendDial(1)->value();

    chooseFromContextMenu(*strip->panDial(), "Forget MIDI Mapping");
    ASSERT_EQ(mappings().size(), 1u);
    EXPECT_EQ(mappings().front().lane, sendMappingLane(1));
    harness->application().view().undoEdit();
    EXPECT_EQ(mappings().size(), 2u) << "forgetting is undone like any edit";
}

} // namespace
} // namespace orvane
