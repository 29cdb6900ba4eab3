#include "app/window/tests/WindowTestSupport.h"

#include "app/window/PluginParameterPanel.h"
#include "device/OfflineRender.h"

#include "app/window/MainWindow.h"
#include "app/window/TimelineView.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Editor.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/vst3/tests/PrivateXServer.h"
#include "tests/support/TestSignals.h"
#include "translations/Language.h"

#include <gtest/gtest.h>

#include "app/window/Theme.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QWidget>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <unordered_set>

#ifndef HALVORA_SCREENSHOT_DIR
#define HALVORA_SCREENSHOT_DIR "screenshots"
#endif

// The system's D-Bus library, which Qt opens for the desktop theme and accessibility, keeps one
// buffer until exit, as fontconfig keeps the font cache a plug-in's own window loads; the JACK
// client library's metadata database (Berkeley DB) keeps what it had when another test's
// private server took the database's folder away under it. LeakSanitizer reads the
// suppressions from here, and only in this program.
extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libdb-5.3.so\n";
}

namespace orvane::testing {

namespace {

/// Owns the X server and the QApplication; torn down after the last test, QApplication first.
class WindowEnvironment : public ::testing::Environment {
  public:
    QApplication &application() {
        if (app) return *app;
        std::string error;
        if (!server.start(error)) {
            ADD_FAILURE() << error;
            std::abort();
        }
        ::setenv("DISPLAY", server.name().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::unsetenv("WAYLAND_DISPLAY");
        app = std::make_unique<QApplication>(argc, argv);
        // The window's tests read the Russian texts unless a test chooses English.
        useWindowLanguage(Language::Russian);
        return *app;
    }
    void TearDown() override {
        app.reset();
        server.stop();
    }

  private:
    vst::testing::PrivateXServer server;
    char programName[16] = "halvora-window";
    char *argvStorage[2] = {programName, nullptr};
    int argc = 1;
    char **argv = argvStorage;
    std::unique_ptr<QApplication> app;
};

WindowEnvironment *environment() {
    static WindowEnvironment *registered = [] {
        auto *created = new WindowEnvironment;
        ::testing::AddGlobalTestEnvironment(created); // gtest owns it from here
        return created;
    }();
    return registered;
}

// Registered before the tests run, so gtest calls its TearDown at the end.
[[maybe_unused]] const bool registeredAtStart = environment() != nullptr;

} // namespace

QApplication &windowTestApplication() { return environment()->application(); }

void useWindowLanguage(Language language) {
    std::string error;
    if (!useLanguage(language, error)) ADD_FAILURE() << error;
}

WindowLanguage::WindowLanguage(Language language) {
    windowTestApplication();
    useWindowLanguage(language);
}

WindowLanguage::~WindowLanguage() { useWindowLanguage(Language::Russian); }

QString shownInWindow(const QString &sourceText) {
    // The contexts of the window's classes, as tr() names them, and of the core's names that
    // the window shows.
    static const char *const contexts[] = {"orvane::MainWindow",
                                           "orvane::SessionPanel",
                                           "orvane::MixerPanel",
                                           "MixerPanel",
                                           "orvane::MidiEditor",
                                           "orvane::PluginBrowserPanel",
                                           "orvane::AudioSettingsPanel",
                                           "orvane::LongJobRunner",
                                           "orvane::QuickStartPanel",
                                           "orvane::TimelineView",
                                           "orvane::ChannelStrip",
                                           "orvane::MasteringPanel",
                                           "MidiLearnMenu",
                                           "SessionPlayer",
                                           "Command"};
    const QByteArray source = sourceText.toUtf8();
    for (const char *context : contexts) {
        const QString shown = QCoreApplication::translate(context, source.constData());
        if (shown != sourceText) return shown;
    }
    return sourceText;
}

WindowTestHarness::WindowTestHarness(const std::string &label, PluginIsolation isolation,
                                     const std::string &outputDevice,
                                     const std::function<void()> &beforeLaunch)
    : home(label, isolation) {
    windowTestApplication();
    home.rememberOutputDevice(outputDevice);
    if (beforeLaunch) beforeLaunch();
    // Installed, the helper and the interface host lie beside the program; here they are in
    // the build's tree, which a test run on its own would otherwise not find.
    lv2::Lv2Editor::uiHostFolder = HALVORA_HELPER_FOLDER;
    app = std::make_unique<OVApplication>(ui);
    app->didFinishLaunching();
    app->rack().sandbox.controller->helperSearchFolder = HALVORA_HELPER_FOLDER;
}

WindowTestHarness::~WindowTestHarness() {
    mainWindow.reset();
    app.reset();
}

MainWindow &WindowTestHarness::window() {
    if (!mainWindow) {
        mainWindow = std::make_unique<MainWindow>(*app);
        mainWindow->show();
        QApplication::processEvents();
    }
    return *mainWindow;
}

std::filesystem::path WindowTestHarness::scratch(const std::string &name) const {
    return home.root() / name;
}

WindowTest::WindowTest(const std::string &label, Language language)
    : language(language), harness(label), window(harness.window()), timeline(window.timeline()),
      engine(harness.application().engine()), view(harness.application().view()) {}

void WindowTest::SetUp() {
    window.resize(1280, 800);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window)) << "keys reach an active window only";
}

std::shared_ptr<Track> WindowTest::track(const std::string &name) {
    std::lock_guard lock(engine.projectMutex);
    for (const auto &candidate : engine.project.tracks)
        if (candidate->name == name) return candidate;
    return nullptr;
}

void dragMouse(QWidget &widget, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers) {
    QTest::mousePress(&widget, Qt::LeftButton, modifiers, from.toPoint());
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(&widget, (from + (to - from) * step / 4.0).toPoint());
    QTest::mouseRelease(&widget, Qt::LeftButton, modifiers, to.toPoint());
}

namespace {

/// An item is named by the text it shows or by its source text, so that a test reads the same
/// whichever language the window speaks.
bool namesItem(const QString &shown, const QString &wanted) {
    return shown == wanted || shown == shownInWindow(wanted);
}

} // namespace

bool dragOver(QWidget &widget, QPointF at, const QMimeData &data) {
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&widget, &enter);
    if (!enter.isAccepted()) return false;
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&widget, &move);
    return move.isAccepted();
}

bool dropOn(QWidget &widget, QPointF at, const QMimeData &data) {
    if (!dragOver(widget, at, data)) return false;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&widget, &drop);
    return drop.isAccepted();
}

QMenu *rightClick(QWidget &widget, QPointF at) {
    QTest::mouseClick(&widget, Qt::RightButton, {}, at.toPoint());
    // The window system turns a right press into a context-menu request; test clicks reach the
    // widget directly, so the request is made here as the platform would make it.
    if (!QApplication::activePopupWidget()) requestContextMenu(widget, at);
    QMenu *menu = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            return menu != nullptr;
        },
        2000);
    return menu;
}

bool clickMenuItem(QMenu &menu, const QString &path) {
    const QString first = path.section(QLatin1Char('/'), 0, 0);
    const QString rest = path.section(QLatin1Char('/'), 1);
    for (QAction *action : menu.actions()) {
        if (!namesItem(action->text(), first) || !action->isEnabled()) continue;
        if (!rest.isEmpty()) {
            if (!action->menu()) return false;
            QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(action).center());
            if (!QTest::qWaitFor([&] { return action->menu()->isVisible(); }, 2000)) return false;
            return clickMenuItem(*action->menu(), rest);
        }
        QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(action).center());
        QApplication::processEvents();
        return true;
    }
    return false;
}

void requestContextMenu(QWidget &widget, QPointF at) {
    QContextMenuEvent request(QContextMenuEvent::Mouse, at.toPoint(),
                              widget.mapToGlobal(at.toPoint()));
    QApplication::sendEvent(&widget, &request);
    QApplication::processEvents();
}

void whenMenuShows(std::function<void(QMenu &menu)> look) {
    auto *poll = new QTimer(QApplication::instance());
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, look] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        const QPointer<QMenu> shown(menu);
        look(*menu);
        if (shown && shown->isVisible()) shown->close();
    });
    poll->start();
}

void whenMenuShows(const QString &path) {
    whenMenuShows([path](QMenu &menu) {
        if (!clickMenuItem(menu, path)) ADD_FAILURE() << "no menu item " << path.toStdString();
    });
}

bool chooseFromMenuBar(QWidget &window, const QString &title, const QString &path) {
    auto *bar = window.findChild<QMenuBar *>();
    if (!bar) return false;
    for (QAction *action : bar->actions()) {
        if (!namesItem(action->text(), title) || !action->menu()) continue;
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(action).center());
        if (!QTest::qWaitFor([&] { return action->menu()->isVisible(); }, 2000)) return false;
        const bool chosen = clickMenuItem(*action->menu(), path);
        action->menu()->close();
        return chosen;
    }
    return false;
}

void whenDialogShows(std::function<void(QWidget &dialog)> answer) {
    auto *poll = new QTimer(QApplication::instance());
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(*dialog);
    });
    poll->start();
}

namespace {

double brightness(QRgb pixel) {
    return 0.2126 * qRed(pixel) + 0.7152 * qGreen(pixel) + 0.0722 * qBlue(pixel);
}

/// What a widget shows as text, and whether it shows any at all.
QString shownText(const QWidget &widget) {
    if (const auto *label = qobject_cast<const QLabel *>(&widget)) return label->text();
    if (const auto *button = qobject_cast<const QAbstractButton *>(&widget)) return button->text();
    if (const auto *line = qobject_cast<const QLineEdit *>(&widget)) return line->text();
    if (const auto *combo = qobject_cast<const QComboBox *>(&widget)) return combo->currentText();
    if (const auto *tabs = qobject_cast<const QTabBar *>(&widget))
        return tabs->count() > 0 ? tabs->tabText(0) : QString();
    if (const auto *view = qobject_cast<const QAbstractItemView *>(&widget))
        return view->model() && view->model()->rowCount(view->rootIndex()) > 0
                   ? QStringLiteral("items")
                   : QString();
    return {};
}

} // namespace

std::vector<std::string> poorlyContrastedText(QWidget &root, const QImage &picture,
                                              double minimumRatio) {
    std::vector<std::string> problems;
    const qreal scale = picture.width() / std::max(1.0, static_cast<double>(root.width()));
    for (QWidget *widget : root.findChildren<QWidget *>()) {
        if (!widget->isVisible() || shownText(*widget).trimmed().isEmpty()) continue;
        if (qobject_cast<const QLabel *>(widget) &&
            static_cast<QLabel *>(widget)->text().startsWith(QLatin1Char('<')))
            continue; // rich text paints its own colours
        QRect area(widget->mapTo(&root, QPoint(0, 0)) * scale, widget->size() * scale);
        if (const auto *view = qobject_cast<const QAbstractItemView *>(widget)) {
            // A list is read row by row: its first row, where the text is.
            const QModelIndex first = view->model()->index(0, 0, view->rootIndex());
            const QRect row = view->visualRect(first);
            area = QRect(view->viewport()->mapTo(&root, row.topLeft()) * scale,
                         QSize(view->viewport()->width(), row.height()) * scale);
        }
        const QRect inside = area.intersected(picture.rect());
        if (inside.width() < 4 || inside.height() < 4) continue;
        // The ground is the commonest brightness; the text is the brightness furthest from it
        // that covers a few pixels. Brightness is counted in bands, so that the anti-aliased
        // edges of thin glyphs add up to their colour rather than scatter over many shades.
        constexpr int bands = 32;
        std::array<int, bands> counts{};
        std::array<QRgb, bands> sample{};
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x) {
                const QRgb pixel = picture.pixel(x, y);
                const int band =
                    std::min(bands - 1, static_cast<int>(brightness(pixel)) * bands / 256);
                ++counts[static_cast<std::size_t>(band)];
                sample[static_cast<std::size_t>(band)] = pixel;
            }
        const auto ground =
            static_cast<int>(std::max_element(counts.begin(), counts.end()) - counts.begin());
        const int enough = std::max(3, inside.width() * inside.height() / 2000);
        int text = ground;
        for (int band = 0; band < bands; ++band)
            if (counts[static_cast<std::size_t>(band)] >= enough &&
                std::abs(band - ground) > std::abs(text - ground))
                text = band;
        const double ratio = theme::contrastRatio(QColor(sample[static_cast<std::size_t>(ground)]),
                                                  QColor(sample[static_cast<std::size_t>(text)]));
        if (ratio < minimumRatio)
            problems.push_back(widget->metaObject()->className() + std::string(" \"") +
                               shownText(*widget).left(24).toStdString() + "\" (" +
                               std::to_string(ratio) + ")");
    }
    return problems;
}

std::filesystem::path screenshotFolder() { return HALVORA_SCREENSHOT_DIR; }

int distinctColours(const QImage &image, int limit) {
    std::unordered_set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            colours.insert(image.pixel(x, y));
            if (static_cast<int>(colours.size()) >= limit) return limit;
        }
    return static_cast<int>(colours.size());
}

QImage saveScreenshot(QWidget &widget, const std::string &name) {
    QApplication::processEvents();
    const QImage image = widget.grab().toImage();
    std::error_code error;
    std::filesystem::create_directories(screenshotFolder(), error);
    const auto path = screenshotFolder() / (name + ".png");
    EXPECT_FALSE(image.isNull()) << name;
    EXPECT_TRUE(image.save(QString::fromStdString(path.string()), "PNG")) << path;
    EXPECT_GT(distinctColours(image), 1) << name << " is blank";
    return image;
}

// Root mean square of the song's first two bars as the export renders them.
double renderedLevel(Engine &engine) {
    std::vector<float> mix;
    EXPECT_TRUE(renderMixdown(engine, mix, 0, 4 * 48000, 2));
    double sum = 0.0;
    for (const float sample : mix)
        sum += static_cast<double>(sample) * sample;
    return mix.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(mix.size()));
}

namespace {

/// The texts of `combo`'s items that its field is too narrow to show whole.
std::vector<std::string> cutChoices(QComboBox &combo) {
    QStyleOptionComboBox option;
    option.initFrom(&combo);
    option.editable = combo.isEditable();
    const QRect field = combo.style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, &combo);
    std::vector<std::string> cut;
    for (int item = 0; item < combo.count(); ++item)
        if (combo.fontMetrics().horizontalAdvance(combo.itemText(item)) > field.width())
            cut.push_back(combo.toolTip().toStdString() + ": " +
                          combo.itemText(item).toStdString());
    return cut;
}

} // namespace

std::vector<std::string> cutToolbarChoices(QWidget &window, std::size_t atLeast) {
    std::vector<QComboBox *> combos;
    for (QToolBar *bar : window.findChildren<QToolBar *>())
        for (QComboBox *combo : bar->findChildren<QComboBox *>())
            if (combo->isVisible()) combos.push_back(combo);
    EXPECT_GE(combos.size(), atLeast) << "fewer choices on the toolbars than expected";
    std::vector<std::string> cut;
    for (QComboBox *combo : combos)
        for (std::string &item : cutChoices(*combo))
            cut.push_back(std::move(item));
    return cut;
}

void writeToneFile(const std::filesystem::path &path, double hz, double amplitude, int64_t frames,
                   ExportContainer container) {
    const auto mono = sineSamples(hz, amplitude, 48000.0, frames);
    std::vector<float> stereo;
    for (const float sample : mono) {
        stereo.push_back(sample);
        stereo.push_back(sample);
    }
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0) << path;
    AudioExportWriter writer;
    ExportFormat format;
    format.container = container;
    format.bits = 16;
    std::string error;
    EXPECT_TRUE(writer.open(descriptor, format, 2, 48000.0, 0, error)) << error;
    EXPECT_TRUE(writer.append(stereo.data(), frames)) << writer.error();
    EXPECT_TRUE(writer.finish()) << writer.error();
    ::close(descriptor);
}

void typeParameterValue(PluginParameterPanel &panel, int row, const QString &text) {
    QTest::mouseDClick(panel.valueLabel(row), Qt::LeftButton);
    QLineEdit *entry = panel.valueEntry(row);
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->isVisible()) << "a double-click opens the value for typing";
    ASSERT_EQ(entry->selectedText(), panel.valueLabel(row)->text()) << "what it showed, selected";
    QTest::keyClicks(entry, text);
    QTest::keyClick(entry, Qt::Key_Return);
}

} // namespace orvane::testing
