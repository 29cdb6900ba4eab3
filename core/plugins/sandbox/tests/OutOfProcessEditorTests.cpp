#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"

#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "core/plugins/vst3/tests/PrivateXServer.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

namespace orvane::vst {
namespace {

using namespace testing;

/// Top-level windows of the display with the given title, and how many children each has.
std::vector<unsigned> childCountsOfWindowsTitled(Display *display, const std::string &title) {
    std::vector<unsigned> counts;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return counts;
    for (unsigned index = 0; index < count; ++index) {
        char *name = nullptr;
        if (XFetchName(display, children[index], &name) && name != nullptr) {
            if (title == name) {
                Window *grandChildren = nullptr;
                unsigned grandChildCount = 0;
                XQueryTree(display, children[index], &root, &parent, &grandChildren,
                           &grandChildCount);
                counts.push_back(grandChildCount);
                if (grandChildren) XFree(grandChildren);
            }
            XFree(name);
        }
    }
    if (children) XFree(children);
    return counts;
}

class OutOfProcessEditor : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(zamPluginsInstalled());
        std::string errorText;
        ASSERT_TRUE(server.start(errorText)) << errorText;
        // The helper inherits the environment it is started with.
        display.emplace("DISPLAY", server.name());
        editorLeaks.emplace("LSAN_OPTIONS", withSanitizerOption("LSAN_OPTIONS", "detect_leaks=0"));
        observer = XOpenDisplay(server.name().c_str());
        ASSERT_NE(observer, nullptr);
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
    }
    void TearDown() override {
        plugin.unload();
        if (observer) XCloseDisplay(observer);
        server.stop();
    }

    PrivateXServer server;
    std::optional<ScopedEnvironment> display;
    std::optional<ScopedEnvironment> editorLeaks;
    Display *observer = nullptr;
    PluginSandboxController controller;
    SandboxedPlugin plugin{controller};
};

TEST_F(OutOfProcessEditor, OpensTheEditorInTheHelperAndKeepsServingRequestsWhileItIsOpen) {
    ASSERT_TRUE(plugin.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(plugin.prepare(48000.0, 256));
    EXPECT_TRUE(plugin.hasEditor());
    ASSERT_TRUE(plugin.openEditor());
    std::vector<unsigned> windows = childCountsOfWindowsTitled(observer, "ZamComp");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_GE(windows[0], 1u) << "the plug-in's view is embedded in the window";

    std::vector<float> left(256, 0.25f), right(256, -0.25f);
    plugin.process(left.data(), right.data(), 256);
    EXPECT_FALSE(plugin.collectTransportFailure());
    std::vector<uint8_t> state;
    EXPECT_TRUE(plugin.getState(state));

    plugin.closeEditor();
    EXPECT_TRUE(childCountsOfWindowsTitled(observer, "ZamComp").empty());
    EXPECT_TRUE(plugin.isLoaded());
}

TEST_F(OutOfProcessEditor, UnloadingWithTheEditorOpenClosesItsWindow) {
    ASSERT_TRUE(plugin.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(plugin.openEditor());
    plugin.unload();
    EXPECT_TRUE(childCountsOfWindowsTitled(observer, "ZamComp").empty());
}

TEST_F(OutOfProcessEditor, AChainOpensTheEditorOfTheMemberAskedForInItsSharedHelper) {
    SandboxedChain chain(controller);
    ASSERT_TRUE(chain.load({{zamBundle("ZamDelay"), ""}, {zamBundle("ZamComp"), ""}}))
        << controller.lastError;
    ASSERT_TRUE(chain.prepare(48000.0, 256));
    EXPECT_FALSE(chain.openEditor(2)) << "no such member";
    ASSERT_TRUE(chain.openEditor(1));
    std::vector<unsigned> windows = childCountsOfWindowsTitled(observer, "ZamComp");
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_GE(windows[0], 1u) << "the member's view is embedded in the window";
    EXPECT_TRUE(childCountsOfWindowsTitled(observer, "ZamDelay").empty());

    std::vector<float> left(256, 0.25f), right(256, -0.25f);
    EXPECT_TRUE(chain.process(left.data(), right.data(), 256, Deadline::after(5s)));
    std::vector<uint8_t> state;
    EXPECT_TRUE(chain.getState(1, state)) << "requests are served with the editor open";
    chain.closeEditor(1);
    EXPECT_TRUE(childCountsOfWindowsTitled(observer, "ZamComp").empty());
}

} // namespace
} // namespace orvane::vst
