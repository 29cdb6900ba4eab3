// The window in each language: every menu, toolbar control, page and dialog is walked and read,
// as a user of that language would see it.
#include "app/window/MainWindow.h"
#include "app/window/QtApplicationUi.h"
#include "app/window/SessionPanel.h"
#include "app/window/SettingsPanels.h"
#include "app/window/SynthPanel.h"
#include "app/window/TimelineGeometry.h"
#include "app/window/TimelineView.h"
#include "app/window/tests/WindowTestSupport.h"
#include "core/commands/InstrumentCommands.h"
#include "core/engine/Engine.h"
#include "device/DeviceSettings.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStyle>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

using namespace orvane;
using namespace orvane::testing;

namespace {

/// Every text a user can read on `root` and its children: titles, labels, buttons, fields,
/// choices, tabs, column headings, tooltips and the actions of its menus.
QStringList readableTexts(QWidget &root) {
    QStringList texts{root.windowTitle(), root.toolTip()};
    QList<QWidget *> widgets = root.findChildren<QWidget *>();
    widgets.prepend(&root);
    for (QWidget *widget : widgets) {
        texts << widget->toolTip() << widget->windowTitle();
        if (auto *label = qobject_cast<QLabel *>(widget)) texts << label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(widget)) texts << button->text();
        if (auto *line = qobject_cast<QLineEdit *>(widget))
            texts << line->text() << line->placeholderText();
        if (auto *group = qobject_cast<QGroupBox *>(widget)) texts << group->title();
        if (auto *spin = qobject_cast<QDoubleSpinBox *>(widget))
            texts << spin->prefix() << spin->suffix();
        if (auto *spin = qobject_cast<QSpinBox *>(widget))
            texts << spin->prefix() << spin->suffix();
        if (auto *combo = qobject_cast<QComboBox *>(widget))
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        if (auto *tabs = qobject_cast<QTabBar *>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i) << tabs->tabToolTip(i);
        if (auto *table = qobject_cast<QTableWidget *>(widget))
            for (int i = 0; i < table->columnCount(); ++i)
                if (const QTableWidgetItem *heading = table->horizontalHeaderItem(i))
                    texts << heading->text();
        if (auto *menu = qobject_cast<QMenu *>(widget)) texts << menu->title();
        for (QAction *action : widget->actions())
            texts << action->text() << action->toolTip();
    }
    texts.removeAll(QString());
    return texts;
}

/// The texts that hold Cyrillic letters, one a line; empty when none does.
std::string withCyrillic(const QStringList &texts) {
    static const QRegularExpression cyrillic(QStringLiteral("[\\x{0400}-\\x{04FF}]"));
    QStringList found = texts.filter(cyrillic);
    found.removeDuplicates();
    return found.join(QLatin1Char('\n')).toStdString();
}

/// The one-line buttons and labels of `root` whose text is wider than the room they have, one
/// a line; empty when every text fits.
std::string clippedTexts(QWidget &root) {
    QStringList clipped;
    for (QWidget *widget : root.findChildren<QWidget *>()) {
        if (!widget->isVisible()) continue;
        QString text;
        int room = 0;
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            if (label->wordWrap() || label->textFormat() == Qt::RichText ||
                label->text().startsWith(QLatin1Char('<')) || label->text().contains('\n'))
                continue;
            text = label->text();
            room = label->contentsRect().width();
        } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
            // A tool button that shows only its icon keeps its text for the tooltip.
            const auto *tool = qobject_cast<QToolButton *>(button);
            if (tool && !tool->icon().isNull() && tool->toolButtonStyle() == Qt::ToolButtonIconOnly)
                continue;
            text = button->text();
            // Check boxes give part of their width to the box itself.
            room = qobject_cast<QCheckBox *>(button)
                       ? button->width() - button->style()->pixelMetric(QStyle::PM_IndicatorWidth)
                       : button->width();
        }
        text.remove(QLatin1Char('&'));
        if (text.isEmpty()) continue;
        if (widget->fontMetrics().horizontalAdvance(text) > room)
            clipped << QStringLiteral("%1 (%2 px in %3)")
                           .arg(text)
                           .arg(widget->fontMetrics().horizontalAdvance(text))
                           .arg(room);
    }
    return clipped.join(QLatin1Char('\n')).toStdString();
}

/// The texts of `menu` and its submenus.
QStringList menuTexts(QMenu &menu) {
    QStringList texts{menu.title()};
    for (QAction *action : menu.actions()) {
        texts << action->text() << action->toolTip();
        if (action->menu()) texts << menuTexts(*action->menu());
    }
    texts.removeAll(QString());
    return texts;
}

/// The texts of every menu of the menu bar and its submenus.
QStringList menuTexts(QMenuBar &bar) {
    QStringList texts;
    for (QAction *top : bar.actions())
        if (top->menu()) texts << menuTexts(*top->menu());
    return texts;
}

/// The texts of the context menu a right-click at `at` opens on `widget`.
QStringList contextMenuTexts(QWidget &widget, QPointF at) {
    QMenu *menu = rightClick(widget, at);
    if (!menu) {
        ADD_FAILURE() << "no context menu at " << at.x() << ", " << at.y();
        return {};
    }
    const QStringList texts = menuTexts(*menu);
    menu->close();
    QApplication::processEvents();
    return texts;
}

/// The texts of the context menu of an empty cell of a MIDI track in the session grid (its
/// session-player patterns among them); the menu runs its own event loop, so it is read as it
/// shows and then closed.
QStringList emptyMidiCellMenuTexts(MainWindow &window) {
    auto *session = dynamic_cast<SessionPanel *>(&window.sessionPanel());
    if (!session) {
        ADD_FAILURE() << "no session panel";
        return {};
    }
    // A new scene gives every track an empty cell.
    for (QPushButton *button : session->findChildren<QPushButton *>())
        if (button->text() == shownInWindow(QStringLiteral("Add Scene")))
            QTest::mouseClick(button, Qt::LeftButton);
    QApplication::processEvents();
    const SessionGridModel &grid = session->model();
    for (std::size_t column = 0; column < grid.columns.size(); ++column) {
        if (!grid.columns[column].midi) continue;
        for (std::size_t row = 0; row < grid.rows.size(); ++row) {
            if (grid.cell(row, column).clipId != 0) continue;
            QStringList texts;
            auto *poll = new QTimer(QApplication::instance());
            poll->setInterval(20);
            QObject::connect(poll, &QTimer::timeout, [poll, &texts] {
                auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                if (!menu || !menu->isVisible()) return;
                poll->stop();
                poll->deleteLater();
                texts = menuTexts(*menu);
                menu->close();
            });
            poll->start();
            requestContextMenu(*session->gridWidget(),
                               session->cellRect(int(row), int(column)).center());
            if (texts.isEmpty()) ADD_FAILURE() << "the empty cell opened no menu";
            return texts;
        }
    }
    ADD_FAILURE() << "no empty cell of a MIDI track";
    return {};
}

/// The dialogs the menus open, each read as it shows and then closed: by the path of the
/// menu bar that opens it.
struct DialogItem {
    const char *menu;
    const char *item;
};
constexpr DialogItem dialogItems[] = {
    {"File", "Export Settings…"},
    {"Halvora", "About Halvora…"},
    {"Help", "Keyboard Shortcuts…"},
    {"Help", "Quick Start…"},
    {"Help", "Privacy…"},
    {"Help", "Beta Test: Checklist…"},
    {"Help", "VST3 Licence (MIT)…"},
    {"Studio", "Chord marker"},
};

class WindowLanguageTest : public ::testing::Test {
  protected:
    /// Every text of the window: the menus, the toolbar, each page, the browser and the
    /// audio settings panel.
    QStringList windowTexts(WindowTestHarness &harness) {
        MainWindow &window = harness.window();
        QStringList texts = menuTexts(*window.menuBar());
        for (const MainWindow::Tab tab :
             {MainWindow::TimelineTab, MainWindow::SessionTab, MainWindow::MixerTab}) {
            window.showTab(tab);
            window.tick();
            texts << readableTexts(window);
        }
        window.showTab(MainWindow::SessionTab);
        window.tick();
        texts << emptyMidiCellMenuTexts(window);
        window.showTab(MainWindow::TimelineTab);
        // The track header's menu and the ruler's.
        texts << contextMenuTexts(window.timeline(),
                                  QPointF(60.0, TimelineGeometry::rulerHeight + 12.0))
              << contextMenuTexts(window.timeline(), QPointF(400.0, 6.0));
        // The instrument window of the first MIDI track.
        if (SynthPanel *instrument = window.openInstrumentPanel(firstMidiTrack(harness))) {
            QApplication::processEvents();
            texts << readableTexts(*instrument);
            instrument->close();
        } else {
            ADD_FAILURE() << "no instrument window";
        }
        AudioSettingsPanel *settings = window.openAudioSettings();
        if (settings) {
            QApplication::processEvents();
            texts << readableTexts(*settings);
            settings->close();
        } else {
            ADD_FAILURE() << "no audio settings panel";
        }
        return texts;
    }

    static uint64_t firstMidiTrack(WindowTestHarness &harness) {
        Engine &engine = harness.application().engine();
        std::lock_guard lock(engine.projectMutex);
        for (const auto &track : engine.project.tracks)
            if (track->type == TrackType::Midi) return track->id;
        return 0;
    }

    /// The texts of each dialog of `dialogItems`, opened through the menus.
    QStringList dialogTexts(MainWindow &window) {
        QStringList texts;
        for (const DialogItem &item : dialogItems) {
            bool shown = false;
            whenDialogShows([&](QWidget &dialog) {
                shown = true;
                texts << readableTexts(dialog);
                if (auto *modal = qobject_cast<QDialog *>(&dialog)) modal->reject();
            });
            EXPECT_TRUE(chooseFromMenuBar(window, QString::fromUtf8(item.menu),
                                          QString::fromUtf8(item.item)))
                << item.menu << " ▸ " << item.item;
            EXPECT_TRUE(QTest::qWaitFor([&] { return shown; }, 3000))
                << item.menu << " ▸ " << item.item << " opened no dialog";
        }
        return texts;
    }

    std::vector<std::string> trackNames(WindowTestHarness &harness) {
        Engine &engine = harness.application().engine();
        std::lock_guard lock(engine.projectMutex);
        std::vector<std::string> names;
        for (const auto &track : engine.project.tracks)
            names.push_back(track->name);
        return names;
    }
};

TEST_F(WindowLanguageTest, InEnglishNoTextOfTheWindowIsRussian) {
    WindowLanguage english(Language::English);
    WindowTestHarness harness("english");
    MainWindow &window = harness.window();
    window.resize(1280, 800);
    QApplication::processEvents();

    const QStringList texts = windowTexts(harness) + dialogTexts(window);
    EXPECT_GT(texts.size(), 300) << "the walk reached too few texts to mean anything";
    EXPECT_EQ(withCyrillic(texts), "");
    for (const char *english :
         {"File", "Studio", "Help", "Import Audio…", "Export Stems…", "Audio Settings", "Metronome",
          "Stop All Clips", "Scan", "Add Marker Here", "Rename…", "Keyboard Shortcuts", "Drums 4/4",
          "Bass Root", "Instrument…", "Oscillators", "Osc 1 wave", "Sine Voice"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(english))) << english;
    // A new project's default names follow the language it was created in.
    const auto names = trackNames(harness);
    EXPECT_NE(std::find(names.begin(), names.end(), "Audio 1"), names.end());
}

TEST_F(WindowLanguageTest, InRussianTheSystemsOwnTextsStandWhereTheyBelong) {
    WindowLanguage russian(Language::Russian);
    WindowTestHarness harness("russian");
    MainWindow &window = harness.window();
    window.resize(1280, 800);
    QApplication::processEvents();

    const QStringList texts = windowTexts(harness) + dialogTexts(window);
    for (const char *russianText : {"Файл",
                                    "Студия",
                                    "Справка",
                                    "Импортировать аудио…",
                                    "Экспортировать WAV…",
                                    "Экспорт стемов…",
                                    "Параметры экспорта…",
                                    "Настройки аудио…",
                                    "Настройки аудио",
                                    "Калибровка ввода",
                                    "Калибровка вывода",
                                    "Применить",
                                    "Нет",
                                    "Клавиатурные сокращения",
                                    "Конфиденциальность",
                                    "Параметры экспорта",
                                    "Punch вкл/выкл",
                                    "Размер такта",
                                    "Marker на playhead",
                                    "Извлечь из клипа",
                                    "1 такт",
                                    "4 такта",
                                    "Лёгкий",
                                    "Сильный",
                                    "Ударные 4/4",
                                    "Бас по тонике",
                                    "Инструмент…",
                                    "Генераторы",
                                    "Огибающая фильтра",
                                    "Ген. 1: форма"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(russianText))) << russianText;
    // The English source of a text the system gives in Russian is nowhere to be seen.
    for (const char *english : {"File", "Studio", "Help", "Import Audio…", "Audio Settings"})
        EXPECT_FALSE(texts.contains(QString::fromUtf8(english))) << english;
    const auto names = trackNames(harness);
    EXPECT_NE(std::find(names.begin(), names.end(), "Аудио 1"), names.end());
    // The lane a track header and the timeline's lane menu name.
    EXPECT_EQ(automationLaneLabel(1), QString::fromUtf8("Громкость"));
}

/// The menu item that undoes the last edit (Ctrl+Z), or null.
QAction *undoItem(MainWindow &window) {
    for (QAction *action : window.findChildren<QAction *>())
        if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Z)) return action;
    return nullptr;
}

TEST_F(WindowLanguageTest, TheUndoStepAndANewTracksNameSpeakTheWindowsLanguage) {
    struct Case {
        Language language;
        const char *undoItem;   // after adding an audio track
        const char *undoStatus; // once it is undone
        const char *trackName;
    };
    const Case cases[] = {
        {Language::English, "Undo: Add Track", "Undo: Add Track", "Audio 2"},
        {Language::Russian, "Отменить: Добавить дорожку", "Отмена: Добавить дорожку", "Аудио 2"},
    };
    for (const Case &c : cases) {
        WindowLanguage chosen(c.language);
        WindowTestHarness harness(std::string("undo-") + languageCode(c.language));
        MainWindow &window = harness.window();
        ASSERT_TRUE(
            chooseFromMenuBar(window, QStringLiteral("Track"), QStringLiteral("Add Audio Track")));
        QApplication::processEvents();
        const auto names = trackNames(harness);
        EXPECT_NE(std::find(names.begin(), names.end(), c.trackName), names.end()) << c.trackName;
        QAction *undo = undoItem(window);
        ASSERT_NE(undo, nullptr);
        EXPECT_EQ(undo->text().toStdString(), c.undoItem);
        undo->trigger();
        EXPECT_EQ(harness.ui.lastStatus(), c.undoStatus);
    }
}

/// The texts of a file dialog as the window shows it (Qt's own, not the desktop's).
QStringList fileDialogTexts(QFileDialog &dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.show();
    QApplication::processEvents();
    QStringList texts = readableTexts(dialog);
    dialog.close();
    texts.replaceInStrings(QStringLiteral("&"), QString());
    return texts;
}

TEST_F(WindowLanguageTest, TheFileDialogsSpeakTheWindowsLanguage) {
    struct Case {
        Language language;
        QStringList opening; // buttons of the project and import dialogs
        QStringList saving;  // buttons of the save and export dialogs
    };
    const Case cases[] = {
        {Language::English,
         {QStringLiteral("Open"), QStringLiteral("Cancel")},
         {QStringLiteral("Save"), QStringLiteral("Cancel")}},
        {Language::Russian,
         {QStringLiteral("Открыть"), QStringLiteral("Отмена")},
         {QStringLiteral("Сохранить"), QStringLiteral("Отмена")}},
    };
    for (const Case &c : cases) {
        WindowLanguage chosen(c.language);
        WindowTestHarness harness(std::string("file-dialogs-") + languageCode(c.language));
        MainWindow &window = harness.window();
        QFileDialog project(&window);
        configureProjectDialog(project);
        QFileDialog importing(&window);
        importing.setFileMode(QFileDialog::ExistingFiles);
        QFileDialog saving(&window);
        saving.setAcceptMode(QFileDialog::AcceptSave);
        const std::pair<QFileDialog *, const QStringList *> dialogs[] = {
            {&project, &c.opening}, {&importing, &c.opening}, {&saving, &c.saving}};
        for (const auto &[dialog, buttons] : dialogs) {
            const QStringList texts = fileDialogTexts(*dialog);
            for (const QString &button : *buttons)
                EXPECT_TRUE(texts.contains(button)) << button.toStdString() << " in\n"
                                                    << texts.join('\n').toStdString();
            if (c.language == Language::English) {
                EXPECT_EQ(withCyrillic(texts), "");
            }
        }
    }
}

TEST_F(WindowLanguageTest, NamesStoredInAProjectStayAsWritten) {
    WindowTestHarness harness("stored-names");
    harness.window();
    const auto russianNames = trackNames(harness);
    ASSERT_NE(std::find(russianNames.begin(), russianNames.end(), "Аудио 1"), russianNames.end());
    WindowLanguage english(Language::English);
    // The open project keeps the name it was given; only what the window says changes.
    EXPECT_EQ(trackNames(harness), russianNames);
}

TEST_F(WindowLanguageTest, EachPageInEachLanguageReadsWellAndClipsNoText) {
    const std::pair<MainWindow::Tab, const char *> pages[] = {{MainWindow::TimelineTab, "timeline"},
                                                              {MainWindow::SessionTab, "session"},
                                                              {MainWindow::MixerTab, "mixer"}};
    for (const auto &[language, code] :
         {std::pair{Language::English, "en"}, std::pair{Language::Russian, "ru"}}) {
        WindowLanguage chosen(language);
        WindowTestHarness harness(std::string("look-") + code);
        MainWindow &window = harness.window();
        window.resize(1280, 800);
        QApplication::processEvents();
        for (const auto &[tab, page] : pages) {
            window.showTab(tab);
            window.tick();
            QApplication::processEvents();
            const std::string name = std::string("language-") + code + "-" + page;
            const QImage picture = saveScreenshot(window, name);
            for (const auto &problem : poorlyContrastedText(window, picture))
                ADD_FAILURE() << name << ": " << problem;
            if (language == Language::English) {
                EXPECT_EQ(clippedTexts(window), "") << name;
            }
        }
        AudioSettingsPanel *settings = window.openAudioSettings();
        ASSERT_NE(settings, nullptr);
        QApplication::processEvents();
        const std::string name = std::string("language-") + code + "-audio-settings";
        const QImage picture = saveScreenshot(*settings, name);
        for (const auto &problem : poorlyContrastedText(*settings, picture))
            ADD_FAILURE() << name << ": " << problem;
        if (language == Language::English) {
            EXPECT_EQ(clippedTexts(*settings), "") << name;
        }
        settings->close();
        // The instrument window of a MIDI track that plays the synth, with every label and
        // value in full.
        const uint64_t midi = firstMidiTrack(harness);
        harness.application().view().executeEdit(std::make_unique<SetTrackInstrumentCommand>(
            midi, std::string(synthInstrumentId), defaultSynthState()));
        SynthPanel *instrument = window.openInstrumentPanel(midi);
        ASSERT_NE(instrument, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(instrument));
        const std::string panelName = std::string("language-") + code + "-instrument";
        const QImage panelPicture = saveScreenshot(*instrument, panelName);
        for (const auto &problem : poorlyContrastedText(*instrument, panelPicture))
            ADD_FAILURE() << panelName << ": " << problem;
        EXPECT_EQ(clippedTexts(*instrument), "") << panelName;
        instrument->close();
    }
}

} // namespace

namespace {

TEST_F(WindowLanguageTest, TheStudioMenuStoresTheLanguageForTheNextStart) {
    WindowTestHarness harness("language-menu");
    MainWindow &window = harness.window();
    const std::filesystem::path settings = deviceSettingsPath();
    for (const auto &[item, stored] :
         {std::pair{"Language/English", std::optional<Language>(Language::English)},
          std::pair{"Language/Russian", std::optional<Language>(Language::Russian)},
          std::pair{"Language/Follow the System", std::optional<Language>()}}) {
        ASSERT_TRUE(chooseFromMenuBar(window, QStringLiteral("Studio"), QString::fromUtf8(item)))
            << item;
        EXPECT_EQ(languagePreference(settings), stored) << item;
        EXPECT_EQ(harness.ui.lastStatus(),
                  shownInWindow(QStringLiteral("The language changes when Halvora next starts"))
                      .toStdString());
    }
    // The audio settings stored in the same file are kept.
    EXPECT_EQ(loadDeviceSettings(settings).outputDevice, "Null");
    // The window keeps speaking the language it started in.
    QStringList titles;
    for (QAction *top : window.menuBar()->actions())
        titles << top->text();
    EXPECT_TRUE(titles.contains(QStringLiteral("Файл"))) << titles.join(' ').toStdString();
}

} // namespace
