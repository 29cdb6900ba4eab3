#pragma once

#include "app/shell/OVApplication.h"
#include "app/shell/tests/ApplicationTestSupport.h"

#include <QImage>
#include <QPointF>

#include <filesystem>
#include <memory>
#include <string>

class QApplication;
class QWidget;

namespace orvane {
class MainWindow;
}

namespace orvane::testing {

/// The one QApplication of the test program, on a private Xvfb started on first use; both
/// end when the tests do. Call it before creating any widget.
QApplication &windowTestApplication();

/// One user session for a window test: a private home, the application launched on the null
/// audio device with a scripted user interface, and (on first use) the main window over it.
class WindowTestHarness {
  public:
    explicit WindowTestHarness(const std::string &label);
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

/// A press at `from`, four moves on the way and a release at `to`, as a hand drags with the
/// left button.
void dragMouse(QWidget &widget, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = {});

/// Where the screenshots go: a "screenshots" folder under the test program's build folder.
std::filesystem::path screenshotFolder();
/// Renders `widget` (laid out and painted as shown), saves it as `<name>.png` in the
/// screenshot folder and fails the test when the picture is blank (a single colour) or
/// cannot be written. Returns the picture.
QImage saveScreenshot(QWidget &widget, const std::string &name);
/// How many distinct colours the picture holds, up to `limit`.
int distinctColours(const QImage &image, int limit = 64);

} // namespace orvane::testing
