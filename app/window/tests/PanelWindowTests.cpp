// The panels as a user meets them: on a private X display, over the application core with its
// audio on the null device, clicked and dragged with the pointer.
#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "app/window/MixerPanel.h"
#include "app/window/PluginBrowserPanel.h"
#include "app/window/SessionPanel.h"
#include "app/window/StockEffectPanel.h"
#include "app/window/Theme.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/engine/RenderStages.h"
#include "core/commands/CommandStack.h"
#include "core/engine/Engine.h"
#include "core/model/StockEffectSettings.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "device/OfflineRender.h"
#include "tests/support/ScopedTestState.h"

#include <QApplication>
#include <QCheckBox>
#include <QDial>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::renderedLevel;

/// Saves `widget` among the test artefacts and checks that it shows more than a background.
::testing::AssertionResult screenshot(QWidget &widget, const std::string &name) {
    const QImage image = testing::saveScreenshot(widget, name);
    const int colours = testing::distinctColours(image);
    if (colours > 8) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << name << " shows only " << colours << " colours";
}

/// The application started as the program starts it, with its audio on the null device, and
/// the user-interface tick running as the window runs it.
struct PanelTest : ::testing::Test {
    testing::WindowTestHarness harness{"panels"};
    testing::ScriptedUi &ui = harness.ui;
    OVApplication &app = harness.application();
    std::unique_ptr<WorkspacePanel> panel;
    QTimer tick;

    void SetUp() override {
        ASSERT_TRUE(app.audioRunning()) << ui.lastStatus();
        QObject::connect(&tick, &QTimer::timeout, [this] {
            app.onTick();
            if (panel) panel->onTick();
        });
        tick.start(static_cast<int>(OVApplication::uiTickSeconds * 1000.0));
    }
    void TearDown() override {
        tick.stop();
        panel.reset();
    }
    template <class Panel> Panel &show(WorkspacePanel *made) {
        panel.reset(made);
        panel->resize(1200, 640);
        panel->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel.get()));
        return *static_cast<Panel *>(made);
    }
    std::shared_ptr<Track> track(const std::string &name) {
        std::lock_guard lock(app.engine().projectMutex);
        for (const auto &candidate : app.engine().project.tracks)
            if (candidate->name == name) return candidate;
        return nullptr;
    }
    /// The row and column of the session cell showing `name`; -1, -1 when none does.
    static std::pair<int, int> cellNamed(const SessionGridModel &grid, const std::string &name) {
        for (std::size_t r = 0; r < grid.rows.size(); ++r)
            for (std::size_t c = 0; c < grid.columns.size(); ++c)
                if (grid.cell(r, c).name == name) return {int(r), int(c)};
        return {-1, -1};
    }
};

TEST_F(PanelTest, ClickingASessionClipLaunchesItAndTheGridMarksItPlaying) {
    auto &session = show<SessionPanel>(createSessionPanel(app, nullptr));
    const SessionGridModel &grid = session.model();
    const auto [row, column] = cellNamed(grid, "Loop A");
    ASSERT_GE(row, 0) << "the start-up song's session clip is in the grid";
    EXPECT_FALSE(grid.cell(row, column).playing);

    QTest::mouseClick(session.gridWidget(), Qt::LeftButton, {},
                      session.cellRect(row, column).center());
    // Launched on the next bar: queued first, then playing.
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.cell(row, column).playing; }, 8000));
    EXPECT_TRUE(app.engine().transport.playing.load());
    EXPECT_TRUE(screenshot(*session.gridWidget(), "session-grid"));

    QTest::mouseClick(session.gridWidget(), Qt::LeftButton, {}, session.stopRect(column).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !grid.cell(row, column).playing; }, 4000));
}

/// The button of `parent` that reads `text`, or what the window shows for it as a source text.
QPushButton *button(QWidget &parent, const QString &text) {
    for (QPushButton *candidate : parent.findChildren<QPushButton *>())
        if (candidate->text() == text || candidate->text() == testing::shownInWindow(text))
            return candidate;
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

TEST_F(PanelTest, ARowsLauncherPlaysWhatTheRowShowsAndStopAllEndsIt) {
    auto &session = show<SessionPanel>(createSessionPanel(app, nullptr));
    const SessionGridModel &grid = session.model();
    ASSERT_FALSE(grid.rows.empty());
    QTest::mouseClick(session.gridWidget(), Qt::LeftButton, {}, session.sceneRect(0).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.cell(0, 0).playing; }, 8000));
    QTest::mouseClick(button(session, QStringLiteral("Стоп все клипы")), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !grid.cell(0, 0).playing; }, 4000));
}

TEST_F(PanelTest, AddingASceneIsAnUndoableEditThatTheGridShows) {
    auto &session = show<SessionPanel>(createSessionPanel(app, nullptr));
    const std::size_t rows = session.model().rows.size();
    QTest::mouseClick(button(session, QStringLiteral("Добавить сцену")), Qt::LeftButton);
    EXPECT_EQ(app.commands().undoName(), "Insert Scene");
    ASSERT_EQ(session.model().rows.size(), rows + 1);
    EXPECT_NE(session.model().rows.front().sceneId, 0u);
    app.view().undoEdit();
    session.projectChanged();
    EXPECT_EQ(session.model().rows.size(), rows);
    EXPECT_EQ(session.model().rows.front().sceneId, 0u);
}

TEST_F(PanelTest, AClipsLaunchQuantisationIsChosenFromItsMenuAndUndone) {
    auto &session = show<SessionPanel>(createSessionPanel(app, nullptr));
    const SessionGridModel &grid = session.model();
    const auto [row, column] = cellNamed(grid, "Loop A");
    ASSERT_GE(column, 0);
    const auto clip = app.engine().project.findClip(grid.cell(row, column).clipId);
    ASSERT_TRUE(clip);
    const LaunchQuantize before = clip->launchQuantize;
    const SessionLaunchMode mode = clip->launchMode;
    QWidget &cells = *session.gridWidget();
    const struct {
        const char *item;
        LaunchQuantize chosen;
    } choices[] = {{"Launch Quantisation/1 Beat", LaunchQuantize::OneBeat},
                   {"Launch Quantisation/8 Bars", LaunchQuantize::EightBars},
                   {"Launch Quantisation/As the Session", LaunchQuantize::Immediate}};
    for (const auto &choice : choices) {
        testing::whenMenuShows(QString::fromUtf8(choice.item));
        testing::requestContextMenu(cells, session.cellRect(row, column).center());
        EXPECT_EQ(clip->launchQuantize, choice.chosen) << choice.item;
        EXPECT_EQ(clip->launchMode, mode) << "the launch mode stays";
        EXPECT_EQ(app.commands().undoName(), "Launch Mode");
    }
    // A new launch mode keeps the clip's quantisation and legato.
    clip->legatoLaunch = true;
    testing::whenMenuShows(QStringLiteral("Launch Mode/") +
                           QString::fromUtf8(sessionLaunchModeLabel(SessionLaunchMode::Gate)));
    testing::requestContextMenu(cells, session.cellRect(row, column).center());
    EXPECT_EQ(clip->launchMode, SessionLaunchMode::Gate);
    EXPECT_EQ(clip->launchQuantize, LaunchQuantize::Immediate);
    EXPECT_TRUE(clip->legatoLaunch);
    for (int step = 0; step < 4; ++step)
        app.view().undoEdit();
    EXPECT_EQ(clip->launchQuantize, before);
    EXPECT_EQ(clip->launchMode, mode);
}

TEST_F(PanelTest, AScenesLaunchQuantisationAndFollowActionComeFromItsMenuAndAreUndone) {
    auto &session = show<SessionPanel>(createSessionPanel(app, nullptr));
    QTest::mouseClick(button(session, QStringLiteral("Добавить сцену")), Qt::LeftButton);
    ASSERT_FALSE(session.model().rows.empty());
    const uint64_t sceneId = session.model().rows[0].sceneId;
    ASSERT_NE(sceneId, 0u);
    const auto sceneNow = [&]() -> Scene {
        std::lock_guard lock(app.engine().projectMutex);
        for (const Scene &scene : app.engine().project.session.scenes)
            if (scene.id == sceneId) return scene;
        return {};
    };
    const struct {
        const char *item;
        bool own;
        LaunchQuantize quantize;
    } choices[] = {{"Launch Quantisation/1 Beat", true, LaunchQuantize::OneBeat},
                   {"Launch Quantisation/Immediately", true, LaunchQuantize::Immediate},
                   {"Launch Quantisation/As the Session", false, LaunchQuantize::Immediate}};
    for (const auto &choice : choices) {
        testing::whenMenuShows(QString::fromUtf8(choice.item));
        testing::requestContextMenu(*session.gridWidget(), session.sceneRect(0).center());
        EXPECT_EQ(app.commands().undoName(), "Scene Launch Quantisation") << choice.item;
        EXPECT_EQ(sceneNow().useSceneLaunchQuantize, choice.own) << choice.item;
        EXPECT_EQ(sceneNow().sceneLaunchQuantize, choice.quantize) << choice.item;
    }
    // Chosen by name; the glyph the grid shows stands beside it.
    testing::whenMenuShows(QStringLiteral("Follow Action/") + SessionPanel::tr("Next Scene") +
                           QStringLiteral("\t") +
                           QString::fromUtf8(followActionLabel(FollowAction::NextScene)));
    testing::requestContextMenu(*session.gridWidget(), session.sceneRect(0).center());
    EXPECT_EQ(sceneNow().followAction, FollowAction::NextScene);
    EXPECT_EQ(session.model().rows[0].followAction, FollowAction::NextScene);
    QStringList checked;
    testing::whenMenuShows([&](QMenu &menu) {
        for (QAction *item : menu.actions())
            if (item->menu() && item->text() == SessionPanel::tr("Follow Action"))
                for (QAction *choice : item->menu()->actions())
                    if (choice->isChecked()) checked << choice->text();
    });
    testing::requestContextMenu(*session.gridWidget(), session.sceneRect(0).center());
    EXPECT_EQ(checked, QStringList{SessionPanel::tr("Next Scene") + QStringLiteral("\t↓S")})
        << "the current choice, and only it, is checked";
    testing::saveScreenshot(session, "session-scene-follow-action");
    for (int step = 0; step < 3; ++step)
        app.view().undoEdit();
    EXPECT_EQ(sceneNow().followAction, FollowAction::None);
    EXPECT_TRUE(sceneNow().useSceneLaunchQuantize);
    EXPECT_EQ(sceneNow().sceneLaunchQuantize, LaunchQuantize::OneBeat);
    app.view().undoEdit();
    EXPECT_FALSE(sceneNow().useSceneLaunchQuantize);
}

TEST_F(PanelTest, AnEmptyCellTakesACopyOfAnArrangementClipOfItsTrack) {
    auto &session = show<SessionPanel>(createSessionPanel(app, nullptr));
    QTest::mouseClick(button(session, QStringLiteral("Добавить сцену")), Qt::LeftButton);
    const SessionGridModel &grid = session.model();
    // The first column whose track has an arrangement clip, and a free cell in it.
    std::shared_ptr<Clip> arranged;
    int column = -1;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (std::size_t c = 0; c < grid.columns.size() && !arranged; ++c)
            if (const auto owner = app.engine().project.findTrack(grid.columns[c].trackId))
                for (const auto &clip : owner->clips)
                    if (!clip->isSessionClip() && !arranged) {
                        arranged = clip;
                        column = int(c);
                    }
    }
    ASSERT_NE(arranged, nullptr) << "the start-up song has arrangement clips";
    int free = -1;
    for (std::size_t r = 0; r < grid.rows.size() && free < 0; ++r)
        if (grid.cell(r, std::size_t(column)).clipId == 0) free = int(r);
    ASSERT_GE(free, 0);

    testing::whenMenuShows(QStringLiteral("Copy from Arrangement/") +
                           QString::fromStdString(arranged->name));
    testing::requestContextMenu(*session.gridWidget(), session.cellRect(free, column).center());
    EXPECT_EQ(app.commands().undoName(), "Copy to Session");
    const uint64_t copied = grid.cell(std::size_t(free), std::size_t(column)).clipId;
    ASSERT_NE(copied, 0u);
    EXPECT_NE(copied, arranged->id);
    EXPECT_EQ(grid.cell(std::size_t(free), std::size_t(column)).name, arranged->name);
    EXPECT_FALSE(arranged->isSessionClip()) << "the arrangement keeps its clip";
    app.view().undoEdit();
    session.projectChanged();
    EXPECT_EQ(grid.cell(std::size_t(free), std::size_t(column)).clipId, 0u);
}

TEST_F(PanelTest, TheGridMovesAClipToAnotherSceneFillsACellAndSetsASceneTempo) {
    auto &session = show<SessionPanel>(createSessionPanel(app, nullptr));
    QTest::mouseClick(button(session, QStringLiteral("Добавить сцену")), Qt::LeftButton);
    QTest::mouseClick(button(session, QStringLiteral("Добавить сцену")), Qt::LeftButton);
    const SessionGridModel &grid = session.model();
    ASSERT_GE(grid.rows.size(), 2u);
    const auto [row, column] = cellNamed(grid, "Loop A");
    ASSERT_GE(column, 0);
    // Moved to the row above: a row target the last scene lasts only while it holds a clip.
    const int target = row > 0 ? row - 1 : row + 1;
    const uint64_t loopId = grid.cell(std::size_t(row), std::size_t(column)).clipId;
    QWidget &cells = *session.gridWidget();

    // Dragged by its body down one scene: moved, not launched.
    testing::dragMouse(cells, session.cellRect(row, column).center(),
                       session.cellRect(target, column).center());
    EXPECT_EQ(app.commands().undoName(), "Move Session Clip");
    EXPECT_EQ(app.engine().project.findClip(loopId)->sessionRow, target);
    EXPECT_EQ(grid.cell(std::size_t(target), std::size_t(column)).clipId, loopId);
    EXPECT_FALSE(app.engine().transport.playing.load()) << "a drag launches nothing";

    // An empty cell of the MIDI track takes a generated pattern.
    int empty = -1;
    for (std::size_t r = 0; r < grid.rows.size() && empty < 0; ++r)
        if (grid.cell(r, std::size_t(column)).clipId == 0) empty = int(r);
    ASSERT_GE(empty, 0);
    testing::whenMenuShows(QStringLiteral("Session Player/Bass Root"));
    testing::requestContextMenu(cells, session.cellRect(empty, column).center());
    EXPECT_EQ(app.commands().undoName(), "Session Player");
    const uint64_t generated = grid.cell(std::size_t(empty), std::size_t(column)).clipId;
    ASSERT_NE(generated, 0u);
    ASSERT_NE(generated, loopId);
    EXPECT_FALSE(app.engine().project.findClip(generated)->notes.empty());

    // A double-click on an empty cell makes a clip to draw in and opens it; on a clip, opens it.
    uint64_t opened = 0;
    session.onOpenMidiClip = [&](uint64_t clipId) { opened = clipId; };
    QTest::mouseClick(button(session, QStringLiteral("Добавить сцену")), Qt::LeftButton);
    int free = -1;
    for (std::size_t r = 0; r < grid.rows.size() && free < 0; ++r)
        if (grid.cell(r, std::size_t(column)).clipId == 0) free = int(r);
    ASSERT_GE(free, 0);
    QTest::mouseDClick(&cells, Qt::LeftButton, {}, session.cellRect(free, column).center());
    EXPECT_EQ(app.commands().undoName(), "New MIDI Clip");
    const uint64_t drawn = grid.cell(std::size_t(free), std::size_t(column)).clipId;
    ASSERT_NE(drawn, 0u);
    EXPECT_EQ(opened, drawn);
    EXPECT_TRUE(app.engine().project.findClip(drawn)->notes.empty());
    QTest::mouseDClick(&cells, Qt::LeftButton, {}, session.cellRect(empty, column).center());
    EXPECT_EQ(opened, generated);

    testing::whenDialogShows([](QWidget &dialog) {
        dialog.findChildren<QCheckBox *>().at(0)->setChecked(true);
        auto *bpm = dialog.findChild<QDoubleSpinBox *>();
        bpm->setValue(96.5);
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    testing::whenMenuShows(QStringLiteral("Tempo and Meter…"));
    testing::requestContextMenu(cells, session.sceneRect(1).center());
    EXPECT_EQ(app.commands().undoName(), "Scene Tempo/Meter");
    const Scene &scene = app.engine().project.session.scenes.at(1);
    EXPECT_TRUE(scene.useSceneTempo);
    EXPECT_DOUBLE_EQ(scene.sceneTempoBpm, 96.5);
    EXPECT_FALSE(scene.useSceneMeter);
}

TEST_F(PanelTest, SnapshotsCaptureAndRecallTheMixAndMacroKnobsEditTheTrack) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto audio = track("Аудио 1");
    mixer.selectChannel(audio->id);
    const float before = audio->gain;
    QPushButton *snapshots = button(mixer, QStringLiteral("Snapshots"));
    ASSERT_NE(snapshots, nullptr);
    testing::whenDialogShows([](QWidget &dialog) {
        auto *name = dialog.findChild<QLineEdit *>();
        name->setText(QStringLiteral("Verse"));
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    testing::whenMenuShows(QStringLiteral("Capture Snapshot…"));
    QTest::mouseClick(snapshots, Qt::LeftButton);
    EXPECT_EQ(app.commands().undoName(), "Capture Snapshot");
    ASSERT_EQ(app.engine().project.mixerSnapshots.size(), 1u);
    EXPECT_EQ(app.engine().project.mixerSnapshots[0].name, "Verse");

    QSlider *fader = mixer.stripFor(audio->id)->fader();
    QTest::mouseClick(fader, Qt::LeftButton, {}, QPoint(fader->width() / 2, 4));
    ASSERT_NE(audio->gain, before);
    testing::whenMenuShows(QStringLiteral("Recall Snapshot/Verse"));
    QTest::mouseClick(snapshots, Qt::LeftButton);
    EXPECT_EQ(app.commands().undoName(), "Recall Snapshot");
    EXPECT_EQ(audio->gain, before);
    // The history lists the capture and the recall, newest first; going back to the capture
    // gives the same mix.
    ASSERT_EQ(app.engine().project.mixerSnapshotHistory.size(), 2u);
    const std::string captured = app.engine().project.mixerSnapshotHistory[0].label;
    testing::whenMenuShows(QStringLiteral("Mixer History/") + QString::fromStdString(captured));
    QTest::mouseClick(snapshots, Qt::LeftButton);
    EXPECT_EQ(app.commands().undoName(), "Recall Mixer History");

    QDial *macro = nullptr;
    for (QDial *dial : mixer.findChildren<QDial *>())
        if (dial->toolTip() == testing::shownInWindow(QStringLiteral("Macro %1")).arg(2))
            macro = dial;
    ASSERT_NE(macro, nullptr);
    macro->setFocus();
    QTest::keyClick(macro, Qt::Key_PageUp);
    EXPECT_EQ(app.commands().undoName(), "Macro");
    EXPECT_GT(audio->macros[1], 0.5f);
    EXPECT_EQ(audio->macros[0], 0.5f);
    EXPECT_TRUE(screenshot(mixer, "mixer-snapshots-macros"));
}

TEST_F(PanelTest, TheBuiltInCompressorsThresholdIsSetInItsPanelAndHeardInTheExport) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto midi = track("MIDI 1");
    mixer.selectChannel(midi->id);
    testing::whenMenuShows(QStringLiteral("Stock Compressor"));
    QTest::mouseClick(button(mixer, QStringLiteral("+ Stock")), Qt::LeftButton);
    ASSERT_EQ(midi->inserts.size(), 1u);
    ASSERT_EQ(mixer.insertList()->currentRow(), 0);
    StockEffectPanel &panel = *mixer.effectSettings();
    ASSERT_TRUE(panel.isVisible()) << "a built-in insert shows its settings when chosen";
    const double unset = renderedLevel(app.engine());
    ASSERT_GT(unset, 0.001) << "the start-up song plays on the MIDI track";

    // The threshold down to its lowest with the keyboard: one edit, heard as a quieter mix.
    QSlider *threshold = panel.slider(0);
    ASSERT_NE(threshold, nullptr);
    threshold->setFocus();
    QTest::keyClick(threshold, Qt::Key_Home);
    EXPECT_EQ(app.commands().undoName(), "Effect Settings");
    EXPECT_EQ(stockSettingsOf(midi->inserts[0]).value().at(0), -60.0f);
    const double compressed = renderedLevel(app.engine());
    EXPECT_LT(compressed, 0.7 * unset);
    EXPECT_TRUE(screenshot(mixer, "mixer-compressor-panel"));

    app.view().undoEdit();
    mixer.projectChanged();
    EXPECT_TRUE(midi->inserts[0].state.empty());
    EXPECT_EQ(renderedLevel(app.engine()), unset) << "undo gives back the sound as it was";
}

// Fusion frames a check box in a shade of the ground; on the dark ground an empty box vanished.
TEST_F(PanelTest, AnEmptyCheckBoxOfTheMixerStandsOutFromItsGround) {
    // As the main window dresses the whole program, whichever test made it first.
    theme::apply(testing::windowTestApplication());
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    mixer.selectChannel(track("MIDI 1")->id);
    QCheckBox *unchecked = nullptr;
    for (QCheckBox *box : mixer.findChildren<QCheckBox *>())
        if (box->isVisible() && !box->isChecked()) unchecked = box;
    ASSERT_NE(unchecked, nullptr) << "the mixer shows an empty check box";
    const QImage picture = testing::saveScreenshot(*unchecked, "mixer-empty-check-box");
    const QColor ground = picture.pixelColor(picture.width() - 1, picture.height() - 1);
    QStyleOptionButton option;
    option.initFrom(unchecked);
    const QRect box =
        unchecked->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, unchecked);
    double strongest = 1.0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            strongest = std::max(strongest, theme::contrastRatio(picture.pixelColor(x, y), ground));
    // Three to one, as an outline of a control needs to be seen.
    EXPECT_GE(strongest, 3.0) << unchecked->text().toStdString();
}

TEST_F(PanelTest, MovingAFaderChangesTheTrackGainAsOneUndoableStep) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto audio = track("Аудио 1");
    ASSERT_TRUE(audio);
    ChannelStrip *strip = mixer.stripFor(audio->id);
    ASSERT_NE(strip, nullptr);
    const float before = audio->gain;
    QSlider *fader = strip->fader();
    const int start = fader->value();

    // A click on the groove above the handle moves the fader up.
    QTest::mouseClick(fader, Qt::LeftButton, {}, QPoint(fader->width() / 2, 4));
    EXPECT_GT(fader->value(), start);
    {
        std::lock_guard lock(app.engine().projectMutex);
        EXPECT_GT(audio->gain, before);
        EXPECT_NEAR(audio->gain, faderPositionToGain(fader->value()), 1e-6f);
    }
    EXPECT_EQ(app.commands().undoName(), "Mixer");
    EXPECT_TRUE(screenshot(mixer, "mixer"));

    app.view().undoEdit();
    mixer.projectChanged();
    EXPECT_EQ(audio->gain, before);
    EXPECT_EQ(fader->value(), start);
}

TEST_F(PanelTest, FaderAndPanMoveWithTheirLanesWithoutEditingTheTrack) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto audio = track("Аудио 1");
    ASSERT_TRUE(audio);
    const auto seconds = static_cast<int64_t>(app.engine().sampleRate.load());
    float gainSetting = 0.0f;
    {
        std::lock_guard lock(app.engine().projectMutex);
        audio->volumeAutomation = {{0, 0.1f}, {4 * seconds, 1.0f}};
        audio->panAutomation = {{0, -1.0f}, {4 * seconds, 1.0f}};
        gainSetting = audio->gain;
        app.engine().publishGraph();
    }
    ChannelStrip *strip = mixer.stripFor(audio->id);
    QSlider *fader = strip->fader();
    const int quiet = gainToFaderPosition(0.1f);
    app.view().play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fader->value() > quiet + 20; }, 4000))
        << "the fader rises with its lane while the song plays";
    app.view().stop();
    QTest::qWait(200);
    const int64_t playhead = app.engine().transport.playhead.load();
    {
        std::lock_guard lock(app.engine().projectMutex);
        EXPECT_EQ(fader->value(), gainToFaderPosition(mixerValueAt(*audio, 0, playhead)));
        EXPECT_EQ(audio->gain, gainSetting) << "showing the lane is no edit";
    }
    const float panAtPlayhead = -1.0f + 2.0f * float(playhead) / float(4 * seconds);
    EXPECT_NEAR(strip->panDial()->value(), std::clamp(panAtPlayhead, -1.0f, 1.0f) * 100.0f, 1.5f);
    EXPECT_NE(app.commands().undoName(), "Mixer");
}

TEST_F(PanelTest, TheMasterStripStaysInSightHoweverManyTracksThereAre) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (int count = 0; count < 14; ++count)
            app.engine().project.addTrack(TrackType::Audio, "Extra " + std::to_string(count));
    }
    mixer.projectChanged();
    QApplication::processEvents();
    ChannelStrip *master = mixer.stripFor(0);
    ASSERT_NE(master, nullptr);
    EXPECT_EQ(master->visibleRegion().boundingRect(), master->rect())
        << "the whole master strip shows without scrolling";
    ChannelStrip *last = mixer.stripFor(track("Extra 13")->id);
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->visibleRegion().isEmpty()) << "the test needs more strips than fit";
    EXPECT_TRUE(screenshot(mixer, "mixer-many-tracks"));
}

TEST_F(PanelTest, MetersFollowThePlayingSongAndHoldTheirPeak) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const PeakMeter *midi = mixer.stripFor(track("MIDI 1")->id)->peakMeter();
    const PeakMeter *master = mixer.stripFor(0)->peakMeter();
    EXPECT_EQ(midi->left().holdDb, PeakHold::floorDb);
    app.view().play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return midi->left().levelDb > -40.0f; }, 4000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return master->right().levelDb > -40.0f; }, 4000));
    app.view().stop();
    // Once the song stops the bar falls at once while the mark stays where the peak was.
    ASSERT_TRUE(QTest::qWaitFor([&] { return midi->left().levelDb == PeakHold::floorDb; }, 4000));
    EXPECT_GT(midi->left().holdDb, -40.0f);
}

TEST_F(PanelTest, AnInstrumentsMeterFallsWhenItsTrackIsDisarmedWhileStopped) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto midi = track("MIDI 1");
    ChannelStrip *strip = mixer.stripFor(midi->id);
    const PeakMeter *meter = strip->peakMeter();
    // Armed while stopped, the instrument plays the keys and its meter shows them.
    QTest::mouseClick(strip->armButton(), Qt::LeftButton);
    ASSERT_TRUE(midi->armed);
    ASSERT_TRUE(app.engine().pushRequest(RequestProducer::MainThread, Request::noteOn(0, 60, 0.9)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter->left().levelDb > -40.0f; }, 4000));
    // Disarmed with the key still down: the track goes quiet, and so does its meter, the
    // peak mark after its hold.
    QTest::mouseClick(mixer.stripFor(midi->id)->armButton(), Qt::LeftButton);
    ASSERT_FALSE(midi->armed);
    const PeakMeter *shown = mixer.stripFor(midi->id)->peakMeter();
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown->left().levelDb == PeakHold::floorDb; }, 4000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown->left().holdDb == PeakHold::floorDb; }, 8000));
    EXPECT_EQ(mixer.stripFor(0)->peakMeter()->right().levelDb, PeakHold::floorDb);
    (void)app.engine().pushRequest(RequestProducer::MainThread, Request::noteOff(0, 60));
}

TEST_F(PanelTest, MuteAndSoloButtonsEditTheTrackThroughCommandsAndArmSetsIt) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto midi = track("MIDI 1");
    ChannelStrip *strip = mixer.stripFor(midi->id);
    QTest::mouseClick(strip->muteButton(), Qt::LeftButton);
    QTest::mouseClick(strip->armButton(), Qt::LeftButton);
    EXPECT_TRUE(midi->mute);
    EXPECT_TRUE(midi->armed);
    EXPECT_EQ(app.commands().undoName(), "Mixer") << "arming is no edit";
    app.view().undoEdit();
    EXPECT_FALSE(midi->mute);
    EXPECT_TRUE(midi->armed);
}

TEST_F(PanelTest, ASendKnobFeedsTheFirstReturnTrack) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto audio = track("Аудио 1");
    const auto reverb = track("Reverb A");
    ASSERT_TRUE(reverb);
    const SendSlot before = audio->sends[0];
    mixer.stripFor(audio->id)->sendDial(0)->setValue(50);
    EXPECT_EQ(audio->sends[0].returnId, reverb->id);
    EXPECT_FLOAT_EQ(audio->sends[0].level, 0.5f);
    app.view().undoEdit();
    EXPECT_EQ(audio->sends[0], before);
}

TEST_F(PanelTest, TheInsertButtonsAddBypassReorderAndRemoveStockEffects) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto audio = track("Аудио 1");
    mixer.selectChannel(audio->id);
    QMenu *stock = button(mixer, QStringLiteral("+ Stock"))->menu();
    ASSERT_NE(stock, nullptr);
    const auto pick = [&](const QString &id) {
        for (QAction *action : stock->actions())
            if (action->text() == id) action->trigger();
    };
    pick(QStringLiteral("Stock Delay"));
    pick(QStringLiteral("Stock Reverb"));
    ASSERT_EQ(mixer.insertList()->count(), 2);
    EXPECT_EQ(mixer.insertList()->currentRow(), 1) << "the new insert is chosen";

    QTest::mouseClick(button(mixer, QStringLiteral("Bypass")), Qt::LeftButton);
    EXPECT_TRUE(audio->inserts[1].bypassed);
    EXPECT_TRUE(mixer.insertList()->item(1)->text().contains(
        testing::shownInWindow(QStringLiteral("  [bypass]")).trimmed()));
    QTest::mouseClick(button(mixer, QStringLiteral("↑")), Qt::LeftButton);
    ASSERT_EQ(audio->inserts.size(), 2u);
    EXPECT_EQ(audio->inserts[0].pluginId, "stock.reverb");
    EXPECT_TRUE(audio->inserts[0].bypassed) << "the flag moves with its insert";
    EXPECT_EQ(mixer.insertList()->currentRow(), 0);
    QTest::mouseClick(button(mixer, QStringLiteral("✕")), Qt::LeftButton);
    ASSERT_EQ(audio->inserts.size(), 1u);
    EXPECT_EQ(audio->inserts[0].pluginId, "stock.delay");

    for (int step = 0; step < 3; ++step)
        app.view().undoEdit();
    ASSERT_EQ(audio->inserts.size(), 2u);
    EXPECT_EQ(audio->inserts[1].pluginId, "stock.reverb");
    EXPECT_FALSE(audio->inserts[1].bypassed);
}

TEST_F(PanelTest, DraggingOnTheEqCurveAddsABandAndTheCurveFollows) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    const auto audio = track("Аудио 1");
    mixer.selectChannel(audio->id);
    EqCurveView *eq = mixer.eqView();
    const double hz = 3000.0;
    EXPECT_NEAR(eq->responseDbAt(hz), 0.0, 0.01) << "the EQ starts flat";
    const QImage flat = eq->grab().toImage();

    testing::dragMouse(*eq, eq->pointFor(hz, 0.0), eq->pointFor(hz, 9.0));
    EXPECT_GT(eq->responseDbAt(hz), 7.0);
    EXPECT_NE(eq->grab().toImage(), flat) << "the curve is drawn anew";
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto raised = std::find_if(audio->eq.bands.begin(), audio->eq.bands.end(),
                                         [](const EqBandSettings &b) { return b.gainDb > 7.0f; });
        ASSERT_NE(raised, audio->eq.bands.end());
        EXPECT_NEAR(raised->freq, hz, hz * 0.05);
    }
    EXPECT_EQ(app.commands().undoName(), "Channel EQ");
    app.view().undoEdit();
    mixer.projectChanged();
    EXPECT_NEAR(eq->responseDbAt(hz), 0.0, 0.01);
    EXPECT_EQ(audio->eq, ChannelEq8{});
}

TEST_F(PanelTest, TheMastersPanelEditsTheMasteringSettings) {
    auto &mixer = show<MixerPanel>(createMixerPanel(app, nullptr));
    mixer.selectChannel(0);
    ASSERT_TRUE(mixer.masteringPanel()->isVisible());
    mixer.masteringPanel()->loudnessSlider()->setValue(80);
    EXPECT_FLOAT_EQ(app.engine().project.mastering.loudness, 0.8f);
    app.view().undoEdit();
    EXPECT_EQ(app.engine().project.mastering, MasteringUtility{});
}

// With the sandbox, bundles are described in helpers the scan starts for itself, on the
// worker: the window stays responsive and no bundle's code runs in the application.
TEST_F(PanelTest, ASandboxedScanDescribesTheBundlesInHelpersOffTheMainThread) {
    const fs::path folder = harness.scratch("vst3-sandboxed");
    fs::create_directories(folder);
    fs::create_directory_symlink("/usr/lib/vst3/ZamDelay.vst3", folder / "ZamDelay.vst3");
    testing::ScopedEnvironment path("VST3_PATH", folder.string());
    testing::ScopedEnvironment noLv2("LV2_PATH", harness.scratch("lv2").string());
    testing::ScopedEnvironment support("XDG_DATA_HOME", harness.scratch("support").string());
    vst::PluginRack &rack = app.rack();
    rack.sandboxEnabled = true;
    ASSERT_NE(rack.sandbox.controller, nullptr);
    rack.sandbox.controller->helperSearchFolder = HALVORA_HELPER_FOLDER;

    auto &browser = show<PluginBrowserPanel>(createPluginBrowserPanel(app, nullptr));
    ASSERT_TRUE(browser.startScan());
    EXPECT_TRUE(browser.scanning()) << "the scan came back before it was done";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.scanning(); }, 60000));
    ASSERT_EQ(rack.plugins.size(), 1u) << ui.lastStatus();
    EXPECT_EQ(rack.plugins[0].name, "ZamDelay");
    EXPECT_FALSE(rack.plugins[0].uid.empty()) << "described class by class, not as a bundle";
    EXPECT_EQ(rack.sandbox.controller->helperPid, -1) << "the rack's own helper was not used";
    EXPECT_EQ(ui.lastStatus(), "Найдено плагинов: 1");
}

TEST_F(PanelTest, ABrowsedPluginLoadsIntoTheTrackAndItsEditorOpensAndCloses) {
    testing::ThirdPartyLeaksIgnored zamLeaks;
    const fs::path folder = harness.scratch("vst3");
    fs::create_directories(folder);
    fs::create_directory_symlink("/usr/lib/vst3/ZamComp.vst3", folder / "ZamComp.vst3");
    testing::ScopedEnvironment path("VST3_PATH", folder.string());
    testing::ScopedEnvironment noLv2("LV2_PATH", harness.scratch("lv2").string());

    auto &browser = show<PluginBrowserPanel>(createPluginBrowserPanel(app, nullptr));
    ASSERT_TRUE(browser.startScan());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.scanning(); }, 30000));
    QTest::keyClicks(browser.searchField(), "zamcomp");
    ASSERT_EQ(browser.table()->rowCount(), 1) << ui.lastStatus();
    // A tag of the user's own is shown beside the state and found by the search.
    QWidget &rows = *browser.table()->viewport();
    testing::whenMenuShows(QStringLiteral("Tags/Mastering"));
    testing::requestContextMenu(
        rows, browser.table()->visualItemRect(browser.table()->item(0, 0)).center());
    EXPECT_EQ(app.commands().undoName(), "Plugin Tag");
    EXPECT_EQ(browser.table()->item(0, 3)->text(), QStringLiteral("#Mastering"));
    browser.searchField()->clear();
    QTest::keyClicks(browser.searchField(), "master");
    EXPECT_EQ(browser.table()->rowCount(), 1);
    browser.searchField()->clear();
    QTest::keyClicks(browser.searchField(), "zamcomp");
    app.view().undoEdit();
    browser.searchField()->clear();
    QTest::keyClicks(browser.searchField(), "zamcomp");
    browser.table()->selectRow(0);
    EXPECT_TRUE(screenshot(browser, "plugin-browser"));
    const auto audio = track("Аудио 1");
    app.view().selectedTrackId = audio->id;

    browser.blockSelected(true);
    EXPECT_EQ(browser.table()->item(0, 3)->text(), QStringLiteral("заблокирован"));
    EXPECT_FALSE(browser.loadSelected()) << "a blocked plug-in is not loaded";
    EXPECT_TRUE(audio->inserts.empty());
    browser.blockSelected(false);
    EXPECT_TRUE(browser.table()->item(0, 3)->text().isEmpty());

    ASSERT_TRUE(browser.loadSelected()) << ui.lastStatus();
    ASSERT_EQ(audio->inserts.size(), 1u);
    EXPECT_EQ(audio->inserts[0].displayName, "ZamComp");

    auto mixer =
        std::unique_ptr<MixerPanel>(static_cast<MixerPanel *>(createMixerPanel(app, nullptr)));
    mixer->show();
    mixer->selectChannel(audio->id);
    ASSERT_EQ(mixer->insertList()->count(), 1);
    mixer->insertList()->setCurrentRow(0);
    ASSERT_TRUE(mixer->openInsertEditor()) << ui.lastStatus();
    EXPECT_NE(mixer->editorWindowId(), 0u);
    QTest::qWait(100); // the editor's run loop turns on the window's timer meanwhile
    mixer->closeInsertEditor();
    EXPECT_EQ(mixer->editorWindowId(), 0u);

    ASSERT_TRUE(mixer->openInsertEditor(true)) << ui.lastStatus();
    ASSERT_NE(mixer->embeddedEditor(), nullptr);
    EXPECT_TRUE(mixer->embeddedEditor()->isVisible());
    EXPECT_GE(mixer->embeddedEditor()->minimumWidth(), 400);
    QTest::qWait(100);
    mixer->closeInsertEditor();
    EXPECT_EQ(mixer->embeddedEditor(), nullptr);
    EXPECT_EQ(mixer->editorWindowId(), 0u);

    app.view().undoEdit();
    EXPECT_TRUE(audio->inserts.empty()) << "loading is one undoable edit";
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.rack().livePluginCount() == 0; }, 4000));
}

} // namespace
} // namespace orvane
