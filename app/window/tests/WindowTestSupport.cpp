#include "app/window/tests/WindowTestSupport.h"

#include "app/window/MainWindow.h"
#include "core/vst/tests/PrivateXServer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <unordered_set>

#ifndef HALVORA_SCREENSHOT_DIR
#define HALVORA_SCREENSHOT_DIR "screenshots"
#endif

// The system's D-Bus library, which Qt opens for the desktop theme and accessibility, keeps one
// buffer until exit; LeakSanitizer reads the suppression from here, and only in this program.
extern "C" __attribute__((used)) const char *__lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
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

WindowTestHarness::WindowTestHarness(const std::string &label) : home(label) {
    windowTestApplication();
    home.rememberOutputDevice("Null");
    app = std::make_unique<OVApplication>(ui);
    app->didFinishLaunching();
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

void dragMouse(QWidget &widget, QPointF from, QPointF to, Qt::KeyboardModifiers modifiers) {
    QTest::mousePress(&widget, Qt::LeftButton, modifiers, from.toPoint());
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(&widget, (from + (to - from) * step / 4.0).toPoint());
    QTest::mouseRelease(&widget, Qt::LeftButton, modifiers, to.toPoint());
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

} // namespace orvane::testing
