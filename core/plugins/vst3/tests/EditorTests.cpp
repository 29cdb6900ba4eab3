#include "core/plugins/vst3/Vst3Plugin.h"

#include "core/plugins/vst3/hosting/EditorWindow.h"
#include "core/plugins/vst3/tests/PrivateXServer.h"
#include "core/plugins/vst3/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <utility>

namespace orvane::vst {
namespace {

using testing::PrivateXServer;

class EditorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string errorText;
        server = new PrivateXServer();
        if (!server->start(errorText)) {
            startError = errorText;
            return;
        }
        previousDisplay = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
        setenv("DISPLAY", server->name().c_str(), 1);
    }
    static void TearDownTestSuite() {
        server->stop();
        delete server;
        server = nullptr;
        if (previousDisplay.empty())
            unsetenv("DISPLAY");
        else
            setenv("DISPLAY", previousDisplay.c_str(), 1);
    }
    void SetUp() override {
        ASSERT_TRUE(startError.empty()) << startError;
        observer = XOpenDisplay(server->name().c_str());
        ASSERT_NE(observer, nullptr);
    }
    void TearDown() override {
        if (observer) XCloseDisplay(observer);
    }

    bool windowExists(Window window) {
        XWindowAttributes attributes;
        XSync(observer, False);
        return XGetWindowAttributes(observer, window, &attributes) != 0;
    }

    static PrivateXServer *server;
    static std::string startError;
    static std::string previousDisplay;
    Display *observer = nullptr;
};

PrivateXServer *EditorTest::server = nullptr;
std::string EditorTest::startError;
std::string EditorTest::previousDisplay;

TEST_F(EditorTest, ZamEditorAttachesInATitledWindowOfAtLeastMinimumSizeAndClosesCleanly) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::zamBundle("ZamComp"), ""));
    ASSERT_TRUE(plugin.prepare(48000.0, 256));
    ASSERT_TRUE(plugin.hasEditor());
    size_t registrationsBefore = EditorRunLoop::instance().registrationCount();
    ASSERT_TRUE(plugin.openEditor());
    Window window = plugin.editorWindowId();
    ASSERT_NE(window, 0u);
    // Give the editor a few rounds of its run loop to embed and draw itself.
    for (int round = 0; round < 20; ++round)
        runEditorEvents(10);

    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(observer, window, &attributes), 0);
    EXPECT_GE(attributes.width, EditorWindow::minimumWidth);
    EXPECT_GE(attributes.height, EditorWindow::minimumHeight);
    char *title = nullptr;
    ASSERT_NE(XFetchName(observer, window, &title), 0);
    EXPECT_STREQ(title, "ZamComp");
    XFree(title);
    Window root, parent, *children = nullptr;
    unsigned int childCount = 0;
    ASSERT_NE(XQueryTree(observer, window, &root, &parent, &children, &childCount), 0);
    if (children) XFree(children);
    EXPECT_GE(childCount, 1u) << "the plug-in embeds its own window in ours";

    // Audio keeps flowing while the editor is open.
    std::vector<float> left(256, 0.1f), right(256, 0.1f);
    plugin.process(left.data(), right.data(), 256);

    plugin.closeEditor();
    EXPECT_EQ(plugin.editorWindowId(), 0u);
    EXPECT_FALSE(windowExists(window));
    EXPECT_EQ(EditorRunLoop::instance().registrationCount(), registrationsBefore)
        << "the editor's timers and handlers are gone";

    // A second open after a close works, and unload closes it too.
    ASSERT_TRUE(plugin.openEditor());
    Window second = plugin.editorWindowId();
    runEditorEvents(10);
    plugin.unload();
    EXPECT_FALSE(windowExists(second));
}

TEST_F(EditorTest, PluginWithoutAViewHasAControllerButNoEditorWindow) {
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::testInstrumentPath(), ""));
    EXPECT_TRUE(plugin.hasEditor());
    EXPECT_FALSE(plugin.openEditor());
    EXPECT_EQ(plugin.editorWindowId(), 0u);
}

TEST_F(EditorTest, UnreachableDisplayFailsTheAttachWithoutHarm) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::zamBundle("ZamEQ2"), ""));
    {
        testing::ScopedEnvironment noDisplay("DISPLAY", ":4242");
        EXPECT_FALSE(plugin.openEditor());
    }
    EXPECT_EQ(plugin.editorWindowId(), 0u);
    EXPECT_TRUE(plugin.openEditor()) << "works again once the display is reachable";
    plugin.closeEditor();
}

/// The sizes the window lets the user give it, as its hints tell the window manager.
struct SizeLimits {
    int minimumWidth = 0, minimumHeight = 0, maximumWidth = 0, maximumHeight = 0;
};

SizeLimits sizeLimitsOf(Display *observer, Window window) {
    SizeLimits limits;
    XSizeHints hints{};
    long supplied = 0;
    if (XGetWMNormalHints(observer, window, &hints, &supplied) && (hints.flags & PMinSize) &&
        (hints.flags & PMaxSize))
        limits = {hints.min_width, hints.min_height, hints.max_width, hints.max_height};
    return limits;
}

/// What a window manager sends when the user clicks the window's close button.
void clickCloseButton(Display *observer, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(observer, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(observer, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(observer, window, False, NoEventMask, &event);
    XFlush(observer);
}

TEST_F(EditorTest, TheTitleBarsCloseButtonClosesTheEditorAndTheProcessStays) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::zamBundle("ZamComp"), ""));
    ASSERT_TRUE(plugin.prepare(48000.0, 256));
    std::vector<ParameterValue> edits;
    EXPECT_EQ(plugin.pollEditor(edits), EditorStatus::closed) << "none is open yet";
    ASSERT_TRUE(plugin.openEditor());
    const Window window = plugin.editorWindowId();
    Atom *protocols = nullptr;
    int protocolCount = 0;
    ASSERT_NE(XGetWMProtocols(observer, window, &protocols, &protocolCount), 0);
    const Atom deleteWindow = XInternAtom(observer, "WM_DELETE_WINDOW", False);
    EXPECT_TRUE(std::find(protocols, protocols + protocolCount, deleteWindow) !=
                protocols + protocolCount)
        << "asked, rather than cut off, by the window manager";
    XFree(protocols);
    runEditorEvents(10);
    EXPECT_EQ(plugin.pollEditor(edits), EditorStatus::open);

    clickCloseButton(observer, window);
    EditorStatus status = EditorStatus::open;
    for (int round = 0; round < 50 && status == EditorStatus::open; ++round) {
        runEditorEvents(10);
        status = plugin.pollEditor(edits);
    }
    EXPECT_EQ(status, EditorStatus::closed);
    EXPECT_EQ(plugin.editorWindowId(), 0u);
    EXPECT_FALSE(windowExists(window));
    std::vector<float> left(256, 0.1f), right(256, 0.1f);
    plugin.process(left.data(), right.data(), 256); // the plug-in plays on
    EXPECT_TRUE(plugin.openEditor()) << "and its editor opens again";
    plugin.closeEditor();
}

// A view that cannot resize keeps its size: the window says so to the window manager, and
// goes back to it when resized all the same.
TEST_F(EditorTest, AViewThatCannotResizeKeepsItsWindowsSize) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(testing::zamBundle("ZamComp"), ""));
    ASSERT_TRUE(plugin.openEditor());
    const Window window = plugin.editorWindowId();
    for (int round = 0; round < 10; ++round)
        runEditorEvents(10);
    XWindowAttributes shown{};
    ASSERT_NE(XGetWindowAttributes(observer, window, &shown), 0);
    const SizeLimits limits = sizeLimitsOf(observer, window);
    EXPECT_EQ(limits.minimumWidth, shown.width);
    EXPECT_EQ(limits.maximumWidth, shown.width);
    EXPECT_EQ(limits.minimumHeight, shown.height);
    EXPECT_EQ(limits.maximumHeight, shown.height);

    XResizeWindow(observer, window, static_cast<unsigned>(shown.width + 150),
                  static_cast<unsigned>(shown.height + 100));
    XSync(observer, False);
    XWindowAttributes after{};
    for (int round = 0; round < 100; ++round) {
        runEditorEvents(10);
        ASSERT_NE(XGetWindowAttributes(observer, window, &after), 0);
        if (round >= 5 && after.width == shown.width && after.height == shown.height) break;
    }
    EXPECT_EQ(after.width, shown.width);
    EXPECT_EQ(after.height, shown.height);
    plugin.closeEditor();
}

/// The size of the window the view put in `window`; 0 by 0 when there is none.
std::pair<int, int> viewSizeIn(Display *observer, Window window) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    std::pair<int, int> size{0, 0};
    if (XQueryTree(observer, window, &root, &parent, &children, &count) && count > 0) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(observer, children[0], &attributes))
            size = {attributes.width, attributes.height};
    }
    if (children) XFree(children);
    return size;
}

// A view that can resize takes the size the user drags the window to, within its own limits,
// which the window then keeps to.
TEST_F(EditorTest, AViewThatCanResizeFollowsTheWindowWithinItsLimits) {
    Vst3Plugin plugin;
    ASSERT_TRUE(plugin.load(std::string(HALVORA_RESIZABLE_BUNDLES_DIR) +
                                "/HalvoraResizableEditor.vst3",
                            ""));
    ASSERT_TRUE(plugin.openEditor());
    const Window window = plugin.editorWindowId();
    const SizeLimits limits = sizeLimitsOf(observer, window);
    EXPECT_EQ(limits.minimumWidth, EditorWindow::minimumWidth);
    EXPECT_EQ(limits.minimumHeight, EditorWindow::minimumHeight);
    EXPECT_GT(limits.maximumWidth, 2000);
    EXPECT_EQ(viewSizeIn(observer, window), std::make_pair(600, 400));

    auto dragTo = [&](int width, int height, std::pair<int, int> expected) {
        XResizeWindow(observer, window, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
        XSync(observer, False);
        XWindowAttributes shown{};
        for (int round = 0; round < 100; ++round) {
            runEditorEvents(10);
            XGetWindowAttributes(observer, window, &shown);
            if (round >= 5 && std::make_pair(shown.width, shown.height) == expected &&
                viewSizeIn(observer, window) == expected)
                break;
        }
        EXPECT_EQ(std::make_pair(shown.width, shown.height), expected) << width << "x" << height;
        EXPECT_EQ(viewSizeIn(observer, window), expected) << width << "x" << height;
    };
    dragTo(900, 700, {900, 700});
    dragTo(1500, 1000, {1000, 800}); // the view's largest
    dragTo(450, 320, {450, 320});
    plugin.closeEditor();
}

TEST_F(EditorTest, WindowIsNeverSmallerThanTheMinimum) {
    std::string errorText;
    auto small = EditorWindow::open("small", 200, 150, errorText);
    ASSERT_TRUE(small) << errorText;
    EXPECT_EQ(small->width(), 400);
    EXPECT_EQ(small->height(), 300);
    auto large = EditorWindow::open("large", 800, 600, errorText);
    ASSERT_TRUE(large) << errorText;
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(observer, large->windowId(), &attributes), 0);
    EXPECT_EQ(attributes.width, 800);
    EXPECT_EQ(attributes.height, 600);
    small->close();
    large->close();
}

} // namespace
} // namespace orvane::vst
