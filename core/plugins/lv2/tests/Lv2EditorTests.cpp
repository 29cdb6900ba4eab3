#include "core/plugins/lv2/Lv2Editor.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/tests/Lv2TestSupport.h"
#include "core/plugins/vst3/tests/PrivateXServer.h"

#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

namespace orvane::lv2 {
namespace {

using namespace testing;

class Lv2EditorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = new vst::testing::PrivateXServer();
        if (!server->start(startError)) return;
        display = new orvane::testing::ScopedEnvironment("DISPLAY", server->name());
    }
    static void TearDownTestSuite() {
        delete display;
        server->stop();
        delete server;
    }
    void SetUp() override { ASSERT_TRUE(startError.empty()) << startError; }

    static inline vst::testing::PrivateXServer *server = nullptr;
    static inline orvane::testing::ScopedEnvironment *display = nullptr;
    static inline std::string startError;
};

/// Whether the window is shown and how many windows the interface put inside it.
struct WindowSeen {
    bool viewable = false;
    unsigned children = 0;
};

WindowSeen lookAt(unsigned long window) {
    WindowSeen seen;
    Display *connection = XOpenDisplay(nullptr);
    if (!connection) return seen;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(connection, window, &attributes))
        seen.viewable = attributes.map_state == IsViewable;
    Window root = 0, parent = 0, *children = nullptr;
    if (XQueryTree(connection, window, &root, &parent, &children, &seen.children) && children)
        XFree(children);
    XCloseDisplay(connection);
    return seen;
}

TEST_F(Lv2EditorTest, AnX11InterfaceOpensInItsWindowFollowsValuesAndCloses) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(x42Equalizer)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    Lv2Editor editor(plugin);
    ASSERT_TRUE(editor.available());
    ASSERT_TRUE(editor.open()) << editor.lastError;
    const unsigned long window = editor.windowId();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(plugin.setParameterValue(static_cast<size_t>(plugin.parameterIndex("gain")), 6.0f));
    for (int tick = 0; tick < 10; ++tick)
        editor.idle();
    EXPECT_TRUE(editor.isOpen());
    const WindowSeen seen = lookAt(window);
    EXPECT_TRUE(seen.viewable);
    EXPECT_GE(seen.children, 1u) << "the interface embeds itself in the window";
    editor.close();
    EXPECT_FALSE(editor.isOpen());
    EXPECT_EQ(editor.windowId(), 0u);
    EXPECT_TRUE(editor.open()) << "it opens again after closing";
}

TEST_F(Lv2EditorTest, WithoutAnInterfaceThatCanBeShownOpeningFailsWithAReason) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(calfReverb)); // its interface needs a GTK host
    Lv2Editor editor(plugin);
    EXPECT_FALSE(editor.available());
    EXPECT_FALSE(editor.open());
    EXPECT_FALSE(editor.lastError.empty());
    EXPECT_EQ(editor.windowId(), 0u);
}

} // namespace
} // namespace orvane::lv2
