#include "app/shell/OVMainView.h"
#include "app/window/MainWindow.h"
#include "app/window/QtApplicationUi.h"
#include "app/window/SettingsPanels.h"
#include "app/window/TimelineView.h"
#include "app/window/WorkspacePanels.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/engine/Engine.h"
#include "device/AudioDeviceEngine.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenuBar>
#include <QTabBar>
#include <QTest>

using namespace orvane;
using namespace orvane::testing;

namespace {

class MainWindowTest : public ::testing::Test {
  protected:
    WindowTestHarness harness{"window"};
    MainWindow &window = harness.window();
    Engine &engine = harness.application().engine();
};

TEST_F(MainWindowTest, TheMenusHoldTheTableItemsWithTheirShortcuts) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Halvora"));
    const struct {
        const char *text;
        QKeySequence keys;
    } items[] = {
        {"О Halvora…", {}},
        {"Выйти из Halvora", QKeySequence(Qt::CTRL | Qt::Key_Q)},
        {"Импортировать аудио…", QKeySequence(Qt::CTRL | Qt::Key_I)},
        {"Экспортировать WAV…", QKeySequence(Qt::CTRL | Qt::Key_E)},
        {"Экспорт дорожки WAV…", {}},
        {"Новый проект", QKeySequence(Qt::CTRL | Qt::Key_N)},
        {"Открыть проект…", QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"Сохранить проект…", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"Собрать медиа и сохранить…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {"Отменить", QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {"Повторить", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
        {"Настройки аудио…", QKeySequence(Qt::CTRL | Qt::Key_Comma)},
        {"Punch вкл/выкл", QKeySequence(Qt::CTRL | Qt::Key_P)},
        {"Punch In (playhead)", {}},
        {"Punch Out (playhead)", {}},
        {"Low latency", {}},
        {"Browser", QKeySequence(Qt::CTRL | Qt::Key_B)},
        {"Chord marker", QKeySequence(Qt::CTRL | Qt::Key_H)},
        {"Клавиатурные сокращения…", QKeySequence(Qt::CTRL | Qt::Key_Question)},
        {"Быстрый старт…", {}},
        {"Бета-тест: Debug…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D)},
        {"Бета-тест: чеклист…", {}},
        {"Лицензия VST3 (MIT)…", {}},
        {"Проверить обновления…", {}},
        {"Конфиденциальность…", {}},
        {"Выкл", {}},
        {"4 такта", {}},
        {"67%", {}},
        {"Сильный", {}},
        {"Извлечь из клипа", {}},
        {"Adapt Project", {}},
        {"6/8", {}},
        {"Marker на playhead", {}},
        {"Transpose -12", {}},
        {"Generate (scale)", {}},
        {"Применить Scala/KBM", {}},
    };
    for (const auto &item : items) {
        QAction *found = window.action(QString::fromUtf8(item.text));
        ASSERT_NE(found, nullptr) << item.text;
        EXPECT_EQ(found->shortcut(), item.keys) << item.text;
    }
    QStringList menus;
    for (QAction *menu : window.menuBar()->actions())
        menus << menu->text();
    EXPECT_TRUE(menus.contains(QStringLiteral("Файл")));
    EXPECT_TRUE(menus.contains(QStringLiteral("Студия")));
    EXPECT_TRUE(menus.contains(QStringLiteral("Справка")));
}

TEST_F(MainWindowTest, TabsSwitchTheWorkspaceAndTheBrowserToggles) {
    EXPECT_EQ(window.currentTab(), MainWindow::TimelineTab);
    EXPECT_TRUE(window.timeline().isVisible());
    window.showTab(MainWindow::MixerTab);
    EXPECT_TRUE(window.mixerPanel().isVisible());
    EXPECT_FALSE(window.timeline().isVisible());
    window.showTab(MainWindow::SessionTab);
    EXPECT_TRUE(window.sessionPanel().isVisible());
    EXPECT_FALSE(window.browserDock().isVisible());
    window.action(QStringLiteral("Browser"))->trigger();
    EXPECT_TRUE(window.browserDock().isVisible());
    window.action(QStringLiteral("Browser"))->trigger();
    EXPECT_FALSE(window.browserDock().isVisible());
}

TEST_F(MainWindowTest, ProjectSettingsFromTheStudioMenuAreUndoable) {
    const auto project = [&]() -> Project & { return engine.project; };
    window.action(QStringLiteral("4 такта"))->trigger();
    EXPECT_EQ(project().countInBars, 4);
    window.action(QStringLiteral("67%"))->trigger();
    EXPECT_FLOAT_EQ(project().swingAmount, 0.67f);
    window.action(QStringLiteral("Punch вкл/выкл"))->trigger();
    EXPECT_TRUE(project().punchEnabled);
    window.action(QStringLiteral("6/8"))->trigger();
    EXPECT_EQ(project().timeSignature, (TimeSignature{6, 8}));
    window.undo();
    EXPECT_EQ(project().timeSignature, (TimeSignature{4, 4}));
    window.undo();
    EXPECT_FALSE(project().punchEnabled);
    window.undo();
    EXPECT_FLOAT_EQ(project().swingAmount, 0.0f);
}

TEST_F(MainWindowTest, TheTickShowsTheStatusLineAndTheTempo) {
    harness.application().status().setText("проверка");
    window.tick();
    EXPECT_EQ(window.statusText(), QStringLiteral("проверка"));
    EXPECT_NEAR(window.tempoField->value(), engine.tempo.load(), 0.05);
    EXPECT_EQ(window.meterField->currentText(), QStringLiteral("4/4"));
}

TEST_F(MainWindowTest, TheAudioSettingsPanelListsTheDevicesAndAppliesTheChoice) {
    AudioSettingsPanel *panel = window.openAudioSettings();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Настройки аудио"));
    EXPECT_GE(panel->outputDevices->findText(QStringLiteral("Null")), 0);
    EXPECT_EQ(panel->bufferSize->currentData().toInt(), harness.application().audio().bufferFrames);
    EXPECT_TRUE(panel->latencyLine->text().startsWith(QStringLiteral("ввод ~")));
    EXPECT_TRUE(panel->rateLine->text().contains(QStringLiteral("Hz")));
    panel->resize(panel->sizeHint());
    saveScreenshot(*panel, "audio-settings");
    panel->outputDevices->setCurrentIndex(panel->outputDevices->findText(QStringLiteral("Null")));
    panel->inputDevices->setCurrentIndex(panel->inputDevices->findText(QStringLiteral("Null")));
    panel->bufferSize->setCurrentIndex(panel->bufferSize->findData(256));
    panel->inputCalibration->setValue(10.0);
    ASSERT_TRUE(panel->apply()) << harness.application().status().text();
    window.tick();
    EXPECT_TRUE(window.statusText().startsWith(QStringLiteral("Аудио: Null → Null · 256 сэмплов")))
        << window.statusText().toStdString();
    std::lock_guard lock(engine.projectMutex);
    EXPECT_EQ(engine.project.inputLatencyOffsetSamples,
              static_cast<int32_t>(std::lround(engine.project.sampleRate * 0.010)));
}

TEST_F(MainWindowTest, TheUsualKeysPlayDuplicateUndoAndDelete) {
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    std::shared_ptr<Clip> clip;
    {
        std::lock_guard lock(engine.projectMutex);
        for (const auto &track : engine.project.tracks)
            for (const auto &candidate : track->clips)
                if (!candidate->isSessionClip() && !clip) clip = candidate;
    }
    ASSERT_NE(clip, nullptr);
    QTest::mouseClick(&window.timeline(), Qt::LeftButton, {},
                      window.timeline().clipRectOf(clip->id).center().toPoint());
    const auto clipCount = [&] {
        std::lock_guard lock(engine.projectMutex);
        return engine.project.findTrack(clip->trackId)->clips.size();
    };
    const std::size_t before = clipCount();
    QTest::keyClick(&window.timeline(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(clipCount(), before + 1);
    QTest::keyClick(&window.timeline(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(clipCount(), before);
    QTest::keyClick(&window.timeline(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(clipCount(), before + 1);
    // Duplicate selects its copy; the source is clicked again to delete it.
    QTest::mouseClick(&window.timeline(), Qt::LeftButton, {},
                      window.timeline().clipRectOf(clip->id).center().toPoint());
    QTest::keyClick(&window.timeline(), Qt::Key_Delete);
    EXPECT_EQ(clipCount(), before);
    EXPECT_EQ(engine.project.findClip(clip->id), nullptr);
    QTest::keyClick(&window.timeline(), Qt::Key_Space);
    EXPECT_TRUE(QTest::qWaitFor([&] { return engine.transport.playing.load(); }, 10000));
    QTest::keyClick(&window.timeline(), Qt::Key_Space);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !engine.transport.playing.load(); }, 10000));
}

TEST(FileChooser, OffersTheFileTypesTheOperationAsksFor) {
    EXPECT_EQ(fileFilterFor({"wav", "flac"}), "(*.wav *.flac)");
    EXPECT_EQ(fileFilterFor({"halvora"}), "(*.halvora)");
}

TEST(QuickStart, IsOfferedOnceAndRemembered) {
    TemporaryHome home("quickstart");
    EXPECT_FALSE(quickStartWasOffered());
    EXPECT_TRUE(rememberQuickStartOffered());
    EXPECT_TRUE(quickStartWasOffered());
}

} // namespace

namespace {

// Made as narrow as it goes, the window keeps the page tabs and the load in sight, whole, and
// the tabs still change the page when clicked.
TEST(NarrowWindowTest, ThePageTabsAndTheLoadStayInSightInANarrowWindow) {
    WindowTestHarness harness{"narrow-window"};
    MainWindow &window = harness.window();
    window.resize(800, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    ASSERT_LE(window.width(), 960) << "the window does not get narrow";
    QTabBar *pages = nullptr;
    for (QTabBar *candidate : window.findChildren<QTabBar *>())
        if (candidate->count() == 3 && candidate->tabText(2) == QString::fromUtf8("Микшер"))
            pages = candidate;
    ASSERT_NE(pages, nullptr);
    ASSERT_TRUE(pages->isVisible()) << "the tabs went into the toolbar's overflow";
    const QRect inWindow(pages->mapTo(&window, QPoint(0, 0)), pages->size());
    for (int tab = 0; tab < 3; ++tab) {
        const QRect shown = pages->tabRect(tab).translated(inWindow.topLeft());
        EXPECT_TRUE(window.rect().contains(shown)) << "tab " << tab << " is cut off";
    }
    QLabel *load = nullptr;
    for (QLabel *label : window.findChildren<QLabel *>())
        if (label->text().startsWith(QStringLiteral("DSP"))) load = label;
    window.tick();
    for (QLabel *label : window.findChildren<QLabel *>())
        if (label->text().startsWith(QStringLiteral("DSP"))) load = label;
    ASSERT_NE(load, nullptr);
    EXPECT_TRUE(load->isVisible()) << "the load went out of sight";
    EXPECT_TRUE(window.rect().contains(QRect(load->mapTo(&window, QPoint(0, 0)), load->size())));
    QTest::mouseClick(pages, Qt::LeftButton, {}, pages->tabRect(2).center());
    EXPECT_EQ(window.currentTab(), MainWindow::MixerTab);
    EXPECT_TRUE(window.mixerPanel().isVisible());
    saveScreenshot(window, "narrow-window");
}

} // namespace
