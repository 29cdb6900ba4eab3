#pragma once

#include "app/shell/OVApplication.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/audiofile/AudioExport.h"
#include "translations/Language.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPointF>

#include <filesystem>
#include <memory>
#include <string>

#include <functional>
#include <vector>

class QApplication;
class QMenu;
class QMimeData;
class QWidget;

namespace orvane {
class MainWindow;
class PluginParameterPanel;
class TimelineView;
struct Track;
} // namespace orvane

namespace orvane::testing {

/// The one QApplication of the test program, on a private Xvfb started on first use; both
/// end when the tests do. Call it before creating any widget.
QApplication &windowTestApplication();

/// Makes the window speak `language` (catalogues of the window, Qt and the application core);
/// the tests run in Russian unless they choose otherwise. Windows made afterwards show it.
void useWindowLanguage(Language language);

/// `language` for the life of one test, then Russian again.
class WindowLanguage {
  public:
    explicit WindowLanguage(Language language);
    ~WindowLanguage();
    WindowLanguage(const WindowLanguage &) = delete;
    WindowLanguage &operator=(const WindowLanguage &) = delete;
};

/// What the window shows for the source text `sourceText` in the language in use.
QString shownInWindow(const QString &sourceText);

/// One user session for a window test: a private home, the application launched on the null
/// audio device with a scripted user interface, and (on first use) the main window over it.
class WindowTestHarness {
  public:
    /// `outputDevice` is the device the application starts on; `beforeLaunch` runs in the
    /// private home just before the application starts (a JACK server for "JACK" starts there,
    /// so that it and the program find each other).
    explicit WindowTestHarness(const std::string &label,
                               PluginIsolation isolation = PluginIsolation::Off,
                               const std::string &outputDevice = "Null",
                               const std::function<void()> &beforeLaunch = {});
    ~WindowTestHarness();
    WindowTestHarness(const WindowTestHarness &) = delete;
    WindowTestHarness &operator=(const WindowTestHarness &) = delete;

    /// Answers the application's alerts and file choosers; records the status lines.
    ScriptedUi ui;
    OVApplication &application() { return *app; }
    /// The main window, created and shown on first use.
    MainWindow &window();
    /// A scratch path inside the private home.
    std::filesystem::path scratch(const std::string &name) const;

  private:
    TemporaryHome home;
    std::unique_ptr<OVApplication> app;
    std::unique_ptr<MainWindow> mainWindow;
};

/// A window test's user session in `language`: its window shown at 1280×800 and active, so
/// that keys reach it, with the application's engine, view and timeline at hand.
class WindowTest : public ::testing::Test {
  protected:
    explicit WindowTest(const std::string &label, Language language = Language::Russian);
    void SetUp() override;
    /// The project's track named `name`, or null.
    std::shared_ptr<Track> track(const std::string &name);

    WindowLanguage language;
    WindowTestHarness harness;
    MainWindow &window;
    TimelineView &timeline;
    Engine &engine;
    OVMainView &view;
};

/// A press at `from`, four moves on the way and a release at `to`, as a hand drags with the
/// left button.
void dragMouse(QWidget &widget, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = {});

/// `data` carried over `widget` to `at` as a drag carries it (entering, then moving); true
/// when the widget would take it there.
bool dragOver(QWidget &widget, QPointF at, const QMimeData &data);
/// `data` carried to `at` and let go there; true when the widget took it.
bool dropOn(QWidget &widget, QPointF at, const QMimeData &data);

/// A right-click at `at` as the mouse makes it; the context menu that opened, or null.
QMenu *rightClick(QWidget &widget, QPointF at);
/// Clicks the item of `menu` (or of its submenus, by path "Input/In 3/4") with the mouse; an
/// item is named by what it shows or by its source text. False when there is no such enabled
/// item.
bool clickMenuItem(QMenu &menu, const QString &path);
/// The context-menu request a right-click makes, sent to `widget` at `at`; returns once a
/// menu the widget runs in its own event loop has closed again (see `whenMenuShows`).
void requestContextMenu(QWidget &widget, QPointF at);
/// Clicks the item at `path` of the next pop-up menu once it shows (a button's menu runs its
/// own event loop); fails the test when the item is not there.
void whenMenuShows(const QString &path);
/// Hands the next pop-up menu to `look` once it shows, then closes it unless `look` did.
void whenMenuShows(std::function<void(QMenu &menu)> look);
/// Clicks the title `title` of `window`'s menu bar and then the item at `path` of the menu
/// that opens. False when either is not there.
bool chooseFromMenuBar(QWidget &window, const QString &title, const QString &path);
/// Runs `answer` on the next modal dialog once it shows (file, colour and input dialogs run
/// their own event loops); the dialog is handed over as it is on screen.
void whenDialogShows(std::function<void(QWidget &dialog)> answer);

/// Text shown on a ground too close to it in brightness: "what (contrast ratio)" for each
/// text-bearing widget under `root` whose glyphs in `picture` (a grab of `root`) differ from
/// their background by less than `minimumRatio`. Empty when all read well.
/// Writes a stereo sine of `frames` frames at 48 kHz, 16-bit, as the export writes
/// `container`: a file to import as a user would.
void writeToneFile(const std::filesystem::path &path, double hz, double amplitude, int64_t frames,
                   ExportContainer container);

/// The items of the visible combo boxes on `window`'s toolbars that their fields are too
/// narrow to show whole, each as "tooltip: item"; a failure when fewer than `atLeast` combo
/// boxes are visible.
std::vector<std::string> cutToolbarChoices(QWidget &window, std::size_t atLeast);

std::vector<std::string> poorlyContrastedText(QWidget &root, const QImage &picture,
                                              double minimumRatio = 3.0);

/// Where the screenshots go: a "screenshots" folder under the test program's build folder.
std::filesystem::path screenshotFolder();
/// Renders `widget` (laid out and painted as shown), saves it as `<name>.png` in the
/// screenshot folder and fails the test when the picture is blank (a single colour) or
/// cannot be written. Returns the picture.
QImage saveScreenshot(QWidget &widget, const std::string &name);

/// Types `text` into the value of row `row` of a parameter window, as a user does: a
/// double-click on the value, the text over what it showed, and Return.
void typeParameterValue(PluginParameterPanel &panel, int row, const QString &text);
/// How many distinct colours the picture holds, up to `limit`.
int distinctColours(const QImage &image, int limit = 64);

/// Root mean square of the song's first two bars as the export renders them.
double renderedLevel(Engine &engine);

} // namespace orvane::testing
