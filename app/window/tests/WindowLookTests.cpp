// One look for every page and dialog: each is photographed as shown, and every text on it must
// stand out from its ground (light text on white is what stock widgets showed before).
#include "app/window/MainWindow.h"
#include "app/window/QtApplicationUi.h"
#include "app/window/SettingsPanels.h"
#include "app/window/Theme.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QToolBar>

#include <filesystem>
#include <fstream>

using namespace orvane;
using namespace orvane::testing;

namespace {

class WindowLookTest : public ::testing::Test {
  protected:
    WindowTestHarness harness{"look"};
    MainWindow &window = harness.window();

    void SetUp() override {
        window.resize(1280, 800);
        QApplication::processEvents();
    }
    /// Photographs `widget` under `name` and fails for each text that does not read.
    void expectReadable(QWidget &widget, const std::string &name) {
        const QImage picture = saveScreenshot(widget, name);
        for (const auto &problem : poorlyContrastedText(widget, picture))
            ADD_FAILURE() << name << ": " << problem;
    }
    /// A file dialog as the window shows it, filled with a few entries to read.
    void expectReadableDialog(QFileDialog &dialog, const std::string &name) {
        const auto folder = harness.scratch("files");
        std::filesystem::create_directories(folder / "song.halvora");
        std::ofstream(folder / "take.wav") << "RIFF";
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setDirectory(QString::fromStdString(folder.string()));
        dialog.resize(760, 480);
        dialog.show();
        QTest::qWait(200); // the file model fills from a thread of its own
        expectReadable(dialog, name);
        dialog.close();
    }
};

TEST(Theme, ContrastRatioFollowsTheWebFormula) {
    EXPECT_NEAR(theme::contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(theme::contrastRatio(QColor(90, 90, 90), QColor(90, 90, 90)), 1.0, 1e-9);
    EXPECT_GT(theme::contrastRatio(theme::text, theme::field), 7.0);
    EXPECT_LT(theme::contrastRatio(QColor(230, 230, 230), Qt::white), 1.3);
}

TEST_F(WindowLookTest, TheCheckSeesLightTextOnWhiteAndPassesTheThemesText) {
    QWidget panel;
    panel.resize(300, 80);
    auto *washedOut = new QLabel(QStringLiteral("Import Audio"), &panel);
    washedOut->setStyleSheet(QStringLiteral("color: #e4e4e4; background: white;"));
    washedOut->setGeometry(10, 10, 140, 24);
    auto *themed = new QLabel(QStringLiteral("Import Audio"), &panel);
    themed->setGeometry(150, 10, 140, 24);
    panel.show();
    QApplication::processEvents();
    const auto problems = poorlyContrastedText(panel, panel.grab().toImage());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems.front().find("Import Audio"), std::string::npos);
}

TEST_F(WindowLookTest, EveryPageReadsWell) {
    const std::pair<MainWindow::Tab, const char *> pages[] = {
        {MainWindow::TimelineTab, "page-timeline"},
        {MainWindow::SessionTab, "page-session"},
        {MainWindow::MixerTab, "page-mixer"}};
    for (const auto &[tab, name] : pages) {
        window.showTab(tab);
        window.tick();
        expectReadable(window, name);
    }
    window.showTab(MainWindow::TimelineTab);
    window.action(QStringLiteral("Browser"))->trigger();
    expectReadable(window, "page-browser");
}

// The toolbars' short choices (grids, write modes) are read whole, "1/16T" included.
TEST_F(WindowLookTest, TheToolbarsChoicesAreNeverCutShort) {
    window.showTab(MainWindow::TimelineTab);
    window.tick();
    EXPECT_EQ(cutToolbarChoices(window, 2), std::vector<std::string>{});
}

TEST_F(WindowLookTest, TheMainDialogsReadWell) {
    {
        QFileDialog open(&window, QStringLiteral("Выберите проект Halvora (.halvora)"));
        configureProjectDialog(open);
        expectReadableDialog(open, "dialog-open");
    }
    {
        QFileDialog saveAs(&window, QStringLiteral("Save As"));
        saveAs.setAcceptMode(QFileDialog::AcceptSave);
        saveAs.setNameFilter(QStringLiteral("Halvora projects (*.halvora)"));
        expectReadableDialog(saveAs, "dialog-save-as");
    }
    {
        QFileDialog exporting(&window, QStringLiteral("Export WAV"));
        exporting.setAcceptMode(QFileDialog::AcceptSave);
        exporting.setNameFilter(QString::fromStdString(fileFilterFor({"wav"})));
        expectReadableDialog(exporting, "dialog-export");
    }
    {
        QFileDialog importing(&window, QStringLiteral("Import Audio"));
        importing.setFileMode(QFileDialog::ExistingFiles);
        importing.setNameFilter(QString::fromStdString(fileFilterFor({"wav", "flac", "mp3"})));
        expectReadableDialog(importing, "dialog-import");
    }
    AudioSettingsPanel *settings = window.openAudioSettings();
    ASSERT_NE(settings, nullptr);
    QApplication::processEvents();
    expectReadable(*settings, "dialog-preferences");
    settings->close();
}

TEST_F(WindowLookTest, ContextMenusAndMenusReadWell) {
    TimelineView &timeline = window.timeline();
    QMenu *menu = rightClick(timeline, QPointF(60.0, TimelineGeometry::rulerHeight + 12.0));
    ASSERT_NE(menu, nullptr) << "the track header has a context menu";
    expectReadable(*menu, "menu-track-header");
    menu->close();
}

} // namespace
