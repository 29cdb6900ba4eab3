// Where a user's plug-ins run, as the window shows and changes it: each in a helper unless the
// user keeps one insert, a track's plug-ins or the whole song in the program itself.
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/MixerPanel.h"
#include "app/window/PluginDspWindow.h"
#include "app/window/PluginParameterPanel.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/commands/SandboxCommands.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "tests/support/ScopedTestState.h"
#include "translations/Language.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QSlider>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>
// After Qt and the test framework, whose names X11's macros would otherwise take.
#include "core/plugins/lv2/tests/UserInputSupport.h"

#include <csignal>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace orvane {
namespace {

constexpr const char *x42Equalizer = "http://gareus.org/oss/lv2/fil4#stereo";
constexpr const char *calfReverb = "http://calf.sourceforge.net/plugins/Reverb";

struct PluginIsolationWindowTest : ::testing::Test {
    testing::WindowLanguage english{Language::English};
    testing::ThirdPartyLeaksIgnored pluginLeaks;
    testing::WindowTestHarness harness{"plugin-isolation", testing::PluginIsolation::AsShipped};
    OVApplication &app = harness.application();
    std::unique_ptr<MixerPanel> mixer;
    uint64_t midi = 0;

    void SetUp() override {
        std::lock_guard lock(app.engine().projectMutex);
        for (const auto &candidate : app.engine().project.tracks)
            if (candidate->name == "MIDI 1") midi = candidate->id;
        ASSERT_NE(midi, 0u) << "the start-up song has a MIDI track that plays";
    }
    /// The mixer on the MIDI track, holding `inserts` inserts, with insert `chosen` clicked.
    void showMixerOnInsert(int chosen = 0, int inserts = 1) {
        mixer.reset(static_cast<MixerPanel *>(createMixerPanel(app, nullptr)));
        mixer->resize(1200, 640);
        mixer->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(mixer.get()));
        mixer->selectChannel(midi);
        QListWidget &list = *mixer->insertList();
        ASSERT_EQ(list.count(), inserts);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualItemRect(list.item(chosen)).center());
    }
    void showMixerOnFirstInsert() { showMixerOnInsert(); }
    void chooseFromInsertMenu(const QString &item, int insert = 0) {
        QListWidget &list = *mixer->insertList();
        testing::whenMenuShows(item);
        testing::requestContextMenu(*list.viewport(),
                                    list.visualItemRect(list.item(insert)).center());
    }
    QString insertText() const { return mixer->insertList()->item(0)->text(); }
    /// In this process the rack holds the LV2 instance itself; in a helper it holds none.
    bool runsHere() { return app.rack().lv2PluginAt(midi, 0) != nullptr; }
};

TEST_F(PluginIsolationWindowTest, AnInsertRunsInAHelperUntilTheUserKeepsItInTheProgram) {
    ASSERT_TRUE(app.rack().sandboxEnabled) << "isolation is what a user starts with";
    ASSERT_TRUE(app.rack().loadLv2(midi, x42Equalizer));
    EXPECT_FALSE(runsHere());
    const double isolatedLevel = testing::renderedLevel(app.engine());
    showMixerOnFirstInsert();
    EXPECT_FALSE(insertText().contains(QStringLiteral("in process"))) << insertText().toStdString();

    chooseFromInsertMenu(QStringLiteral("Run in Process"));
    EXPECT_TRUE(runsHere());
    EXPECT_TRUE(insertText().endsWith(QStringLiteral("[in process]")))
        << insertText().toStdString();
    {
        std::lock_guard lock(app.engine().projectMutex);
        EXPECT_TRUE(app.engine().project.findTrack(midi)->inserts.at(0).inProcess);
    }
    EXPECT_DOUBLE_EQ(testing::renderedLevel(app.engine()), isolatedLevel)
        << "a healthy plug-in sounds the same in either place";

    app.view().undoEdit();
    EXPECT_FALSE(runsHere()) << "the undo sends it back to its helper";
    mixer->selectChannel(midi);
    EXPECT_FALSE(insertText().contains(QStringLiteral("in process")));

    chooseFromInsertMenu(QStringLiteral("Run the Track's Plug-ins in Process"));
    EXPECT_TRUE(runsHere());
    std::lock_guard lock(app.engine().projectMutex);
    const auto track = app.engine().project.findTrack(midi);
    EXPECT_TRUE(track->pluginsInProcess);
    EXPECT_FALSE(track->inserts.at(0).inProcess) << "the track's choice, not the insert's";
}

// The generic editor of a plug-in in its helper shows what the same editor shows of it in the
// program: its parameters, values with units, named choices, and a turn that reaches it.
TEST_F(PluginIsolationWindowTest, AHelpersPluginShowsItsParametersWithValuesUnitsAndChoices) {
    constexpr const char *calfFilter = "http://calf.sourceforge.net/plugins/Filter";
    ASSERT_TRUE(app.rack().loadLv2(midi, calfFilter));
    ASSERT_FALSE(runsHere());
    showMixerOnFirstInsert();
    chooseFromInsertMenu(QStringLiteral("Parameters…"));
    PluginParameterPanel *panel = mixer->parameterPanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    ASSERT_GE(panel->rowCount(), 6);
    const int frequency = panel->rowNamed("Frequency");
    ASSERT_GE(frequency, 0);
    EXPECT_EQ(panel->valueLabel(frequency)->text(), QStringLiteral("2000 Hz"));
    const int mode = panel->rowNamed("Mode");
    ASSERT_GE(mode, 0);
    ASSERT_NE(panel->choice(mode), nullptr);
    EXPECT_EQ(panel->choice(mode)->currentText(), QStringLiteral("12dB/oct Lowpass"));

    QSlider &slider = *panel->slider(frequency);
    slider.setFocus();
    QTest::keyClick(&slider, Qt::Key_End);
    EXPECT_EQ(panel->valueLabel(frequency)->text(), QStringLiteral("20000 Hz"));
    EXPECT_EQ(app.commands().undoName(), "Plug-in Parameter");
    // A typed value is found among the plug-in's own texts, asked of its helper.
    testing::typeParameterValue(*panel, frequency, QStringLiteral("440 Hz"));
    EXPECT_EQ(panel->valueLabel(frequency)->text(), QStringLiteral("440 Hz"));
    testing::typeParameterValue(*panel, frequency, QStringLiteral("20000"));
    EXPECT_EQ(panel->valueLabel(frequency)->text(), QStringLiteral("20000 Hz"));
    std::lock_guard lock(app.rack().slotsMutex);
    for (const vst::Slot &slot : app.rack().slots)
        if (slot.trackId == midi && slot.plugin) {
            EXPECT_EQ(slot.plugin->getParameterNormalized(panel->row(frequency).key), 1.0f);
        }
    testing::saveScreenshot(*panel, "sandboxed-generic-editor");
}

// A VST 3 in its helper offers its own programs in the parameter window's preset list, listed
// and taken there, so none of its code runs in the program: one chosen is heard, as one undo
// step. The test effect's "Half" program halves the level.
TEST_F(PluginIsolationWindowTest, AHelpersVst3OffersItsOwnProgramsAsPresets) {
    const std::string bundle =
        std::string(HALVORA_PROGRAM_BUNDLES_DIR) + "/HalvoraProgramEffect.vst3";
    // As the browser loads it: by its bundle and its class.
    ASSERT_TRUE(app.rack().loadVst3(midi, bundle, "485650524F4752414D45464645435431"));
    {
        std::lock_guard lock(app.rack().slotsMutex);
        ASSERT_NE(app.rack().slots.back().sandboxed, nullptr) << "isolated, as a user starts";
    }
    const double unity = testing::renderedLevel(app.engine());
    ASSERT_GT(unity, 0.0);
    showMixerOnFirstInsert();
    chooseFromInsertMenu(QStringLiteral("Parameters…"));
    PluginParameterPanel *panel = mixer->parameterPanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    QComboBox &list = *panel->presetList();
    ASSERT_EQ(list.count(), 4) << "\"—\", then the plug-in's programs";
    EXPECT_EQ(list.itemText(1), QStringLiteral("Unity"));
    EXPECT_EQ(list.itemText(2), QStringLiteral("Half"));
    EXPECT_EQ(list.itemText(3), QStringLiteral("Quiet"));

    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Down);
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.currentText(), QStringLiteral("Half"));
    EXPECT_FALSE(panel->presetProblem()->isVisible())
        << panel->presetProblem()->text().toStdString();
    EXPECT_EQ(app.commands().undoName(), "Load Preset");
    EXPECT_NEAR(testing::renderedLevel(app.engine()) / unity, 0.5, 0.01);
    const int gain = panel->rowNamed("Gain");
    ASSERT_GE(gain, 0);
    EXPECT_EQ(panel->row(gain).group, "Level") << "the plug-in's unit heads its rows";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return panel->valueLabel(gain)->text() == QStringLiteral("50 %"); }, 2000))
        << "the program's gain shows: " << panel->valueLabel(gain)->text().toStdString();
    const int program = panel->rowNamed("Program");
    ASSERT_GE(program, 0);
    ASSERT_NE(panel->choice(program), nullptr);
    EXPECT_EQ(panel->choice(program)->itemText(1), QStringLiteral("Half"))
        << "the program parameter offers the programs by name";
    testing::saveScreenshot(*panel, "sandboxed-vst3-programs");
    app.view().undoEdit();
    EXPECT_NEAR(testing::renderedLevel(app.engine()) / unity, 1.0, 0.01);
}

// With the track's plug-ins in one shared helper, each insert's parameter window still shows
// and turns that insert's parameters, through its place in the shared helper.
TEST_F(PluginIsolationWindowTest, AGroupedInsertsParametersShowAndTurnInTheSharedHelper) {
    constexpr const char *calfFilter = "http://calf.sourceforge.net/plugins/Filter";
    ASSERT_TRUE(app.rack().loadLv2(midi, x42Equalizer));
    ASSERT_TRUE(app.rack().loadLv2(midi, calfFilter));
    app.view().executeEdit(
        std::make_unique<SetTrackSandboxGroupingCommand>(midi, SandboxGrouping::PerTrack));
    app.rack().regroupSandboxedInserts();
    ASSERT_EQ(app.rack().sandboxGroupsOf(midi).size(), 1u) << "both inserts in one helper";
    showMixerOnInsert(1, 2);
    chooseFromInsertMenu(QStringLiteral("Parameters…"), 1);
    PluginParameterPanel *panel = mixer->parameterPanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    const int frequency = panel->rowNamed("Frequency");
    ASSERT_GE(frequency, 0) << "the filter's rows, not the equaliser's";
    EXPECT_EQ(panel->valueLabel(frequency)->text(), QStringLiteral("2000 Hz"));
    QSlider &slider = *panel->slider(frequency);
    slider.setFocus();
    QTest::keyClick(&slider, Qt::Key_End);
    EXPECT_EQ(panel->valueLabel(frequency)->text(), QStringLiteral("20000 Hz"));
    EXPECT_EQ(app.commands().undoName(), "Plug-in Parameter");
    QTest::qWait(300);
    EXPECT_EQ(slider.value(), slider.maximum()) << "the window follows the member's value";
    EXPECT_EQ(panel->valueLabel(frequency)->text(), QStringLiteral("20000 Hz"));
    app.rack().saveStatesIntoProject();
    std::vector<uint8_t> saved;
    {
        std::lock_guard lock(app.engine().projectMutex);
        saved = app.engine().project.findTrack(midi)->inserts.at(1).state;
    }
    const std::string text(saved.begin(), saved.end());
    EXPECT_NE(text.find("20000"), std::string::npos) << "the member's saved state holds the turn";
    testing::saveScreenshot(*panel, "grouped-generic-editor");
}

// A plug-in's port groups head the rows they hold, in its helper and in the program alike.
TEST_F(PluginIsolationWindowTest, TheGenericEditorGroupsParametersAsThePlugInGroupsThem) {
    constexpr const char *matrixMixer = "http://gareus.org/oss/lv2/matrixmixer#i8o8";
    ASSERT_TRUE(app.rack().loadLv2(midi, matrixMixer));
    showMixerOnFirstInsert();
    const QStringList sources = {"Source 1", "Source 2", "Source 3", "Source 4",
                                 "Source 5", "Source 6", "Source 7", "Source 8"};
    for (const bool inHelper : {true, false}) {
        SCOPED_TRACE(inHelper ? "in its helper" : "in the program");
        EXPECT_EQ(runsHere(), !inHelper);
        chooseFromInsertMenu(QStringLiteral("Parameters…"));
        PluginParameterPanel *panel = mixer->parameterPanel();
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
        EXPECT_EQ(panel->groupHeadings(), sources);
        int grouped = 0;
        for (int index = 0; index < panel->rowCount(); ++index) {
            const ParameterRow &row = panel->row(index);
            if (!row.name.starts_with("Mix ")) continue;
            EXPECT_EQ(row.group, "Source " + row.name.substr(4, 1)) << row.name;
            ++grouped;
        }
        EXPECT_EQ(grouped, 64);
        // A value the plug-in names reads as its name; a value typed between its names is
        // found, though the search passes "off" on the way.
        const int mix = panel->rowNamed("Mix 1 1");
        ASSERT_GE(mix, 0);
        EXPECT_EQ(panel->valueLabel(mix)->text(),
                  inHelper ? QStringLiteral("on") : QStringLiteral("0.5"))
            << "the value typed in the helper comes along into the program";
        if (inHelper) {
            testing::typeParameterValue(*panel, mix, QStringLiteral("0.5"));
            EXPECT_EQ(panel->valueLabel(mix)->text(), QStringLiteral("0.5"));
        }
        testing::saveScreenshot(*panel, inHelper ? "generic-editor-groups-helper"
                                                 : "generic-editor-groups-in-process");
        panel->close();
        if (inHelper) chooseFromInsertMenu(QStringLiteral("Run in Process"));
    }
}

// A plug-in in its helper shows its window from there, in a process of the helper's own: what
// the user turns in it comes back as the program's edit, and its crash ends only the window.
TEST_F(PluginIsolationWindowTest, AHelpersPluginWindowTurnsAreEditsAndItsCrashEndsOnlyTheWindow) {
    ASSERT_TRUE(app.rack().loadLv2(midi, calfReverb));
    ASSERT_FALSE(runsHere());
    showMixerOnFirstInsert();
    const std::vector<unsigned long> before = lv2::testing::shownTopLevelWindows();
    chooseFromInsertMenu(QStringLiteral("Plug-in Window"));
    ASSERT_TRUE(mixer->insertEditorOpen());
    unsigned long window = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (window = lv2::testing::newTopLevelWindow(before)) != 0; }, 3000));
    const int shownBy = lv2::testing::processOfWindow(window);
    ASSERT_GT(shownBy, 0);
    EXPECT_NE(shownBy, getpid());

    auto insertState = [&] {
        std::lock_guard lock(app.engine().projectMutex);
        return app.engine().project.findTrack(midi)->inserts.at(0).state;
    };
    std::vector<uint8_t> state = insertState();
    const lv2::testing::WheelSpot spot = lv2::testing::rollWheelUntil(window, [&] {
        QTest::qWait(80);
        if (insertState() == state) return false;
        state = insertState();
        return true;
    });
    ASSERT_TRUE(spot.found()) << "no control answered the wheel";
    EXPECT_EQ(app.commands().undoName(), "Plug-in Parameter");

    ASSERT_EQ(kill(shownBy, SIGSEGV), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !mixer->insertEditorOpen(); }, 4000));
    EXPECT_EQ(harness.ui.lastStatus(),
              "The plug-in's window crashed and was closed; the plug-in plays on");
    EXPECT_FALSE(runsHere()) << "the plug-in stays in its helper";
    EXPECT_GT(testing::renderedLevel(app.engine()), 0.0001) << "and plays";
}

// Kept in the program, the plug-in is another instance: its window follows it there.
TEST_F(PluginIsolationWindowTest, APluginWindowFollowsItsPluginIntoTheProgram) {
    ASSERT_TRUE(app.rack().loadLv2(midi, calfReverb));
    showMixerOnFirstInsert();
    chooseFromInsertMenu(QStringLiteral("Plug-in Window"));
    ASSERT_TRUE(mixer->insertEditorOpen());
    EXPECT_EQ(mixer->editorWindowId(), 0u) << "the window is the helper's";
    chooseFromInsertMenu(QStringLiteral("Run in Process"));
    ASSERT_TRUE(runsHere());
    EXPECT_TRUE(QTest::qWaitFor([&] { return mixer->editorWindowId() != 0; }, 4000))
        << "the window opens again on the plug-in in the program";
    {
        std::lock_guard lock(app.engine().projectMutex);
        EXPECT_TRUE(app.engine().project.findTrack(midi)->inserts.at(0).editorOpen);
    }
    mixer->closeInsertEditor();
    std::lock_guard lock(app.engine().projectMutex);
    EXPECT_FALSE(app.engine().project.findTrack(midi)->inserts.at(0).editorOpen);
}

// Which plug-in eats the time, and what the sandbox adds: a plug-in kept in the program and
// one in a helper, side by side while the song plays.
TEST_F(PluginIsolationWindowTest, ThePluginDspWindowShowsEachPluginsCostAndTheHandOverApart) {
    ASSERT_TRUE(app.rack().loadLv2(midi, x42Equalizer));
    showMixerOnFirstInsert();
    chooseFromInsertMenu(QStringLiteral("Run in Process"));
    ASSERT_TRUE(runsHere());
    ASSERT_TRUE(app.rack().loadLv2(midi, calfReverb));
    MainWindow &window = harness.window();
    ASSERT_TRUE(testing::chooseFromMenuBar(window, QStringLiteral("Studio"),
                                           QStringLiteral("Plug-in DSP…")));
    auto *dsp = window.findChild<PluginDspWindow *>();
    ASSERT_NE(dsp, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dsp));
    QTableWidget &table = *dsp->table();
    auto cell = [&](int row, int column) {
        const QTableWidgetItem *item = table.item(row, column);
        return item ? item->data(Qt::DisplayRole) : QVariant();
    };
    auto rowOf = [&](const QString &where) {
        for (int row = 0; row < table.rowCount(); ++row)
            if (cell(row, PluginDspWindow::WhereColumn).toString() == where) return row;
        return -1;
    };
    app.view().play();
    const bool measured = QTest::qWaitFor(
        [&] {
            const int here = rowOf(QStringLiteral("In the program"));
            const int helper = rowOf(QStringLiteral("In a helper"));
            return here >= 0 && helper >= 0 &&
                   cell(here, PluginDspWindow::PeakColumn).toDouble() > 0.0 &&
                   cell(helper, PluginDspWindow::PeakColumn).toDouble() > 0.0 &&
                   !cell(helper, PluginDspWindow::HandOverPeakColumn).toString().isEmpty();
        },
        6000);
    app.view().stop();
    ASSERT_TRUE(measured) << "rows: " << table.rowCount();
    ASSERT_EQ(table.rowCount(), 2);
    const int here = rowOf(QStringLiteral("In the program"));
    const int helper = rowOf(QStringLiteral("In a helper"));
    EXPECT_TRUE(
        cell(here, PluginDspWindow::PluginColumn).toString().contains(QStringLiteral("x42")))
        << cell(here, PluginDspWindow::PluginColumn).toString().toStdString();
    EXPECT_TRUE(cell(here, PluginDspWindow::HandOverMeanColumn).toString().isEmpty())
        << "nothing is handed over in the program";
    EXPECT_GE(cell(helper, PluginDspWindow::PeakColumn).toDouble(),
              cell(helper, PluginDspWindow::MeanColumn).toDouble());
    EXPECT_EQ(cell(here, PluginDspWindow::TrackColumn).toString(), QStringLiteral("MIDI 1"));
    testing::saveScreenshot(*dsp, "plugin-dsp-window");
}

TEST_F(PluginIsolationWindowTest, TheStudioMenuKeepsEveryPluginOfTheSongInTheProgram) {
    ASSERT_TRUE(app.rack().loadLv2(midi, x42Equalizer));
    EXPECT_FALSE(runsHere());
    MainWindow &window = harness.window();
    ASSERT_TRUE(testing::chooseFromMenuBar(window, QStringLiteral("Studio"),
                                           QStringLiteral("Run All Plug-ins in Process")));
    EXPECT_TRUE(runsHere());
    {
        std::lock_guard lock(app.engine().projectMutex);
        EXPECT_TRUE(app.engine().project.pluginsInProcess);
    }
    app.view().undoEdit();
    EXPECT_FALSE(runsHere());
}

} // namespace
} // namespace orvane
