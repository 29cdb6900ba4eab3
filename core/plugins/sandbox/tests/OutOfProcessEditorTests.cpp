#include "core/plugins/sandbox/SandboxedChain.h"
#include "core/plugins/sandbox/SandboxedPlugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"

#include "core/plugins/sandbox/tests/SandboxTestSupport.h"
#include "core/plugins/vst3/tests/PrivateXServer.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
// After the test framework, whose names X11's macros would otherwise take.
#include "core/plugins/lv2/tests/UserInputSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>
#include <unistd.h>

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

TEST_F(OutOfProcessEditor, AVst3EditorInTheHelperClosesFromItsTitleBarAndThePluginPlaysOn) {
    ASSERT_TRUE(plugin.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(plugin.prepare(48000.0, 256));
    const std::vector<unsigned long> before = lv2::testing::shownTopLevelWindows();
    ASSERT_TRUE(plugin.openEditor());
    std::vector<ParameterValue> edits;
    EXPECT_EQ(plugin.pollEditor(edits), EditorStatus::open);
    const unsigned long window = lv2::testing::newTopLevelWindow(before);
    ASSERT_NE(window, 0u);
    lv2::testing::askToCloseLikeAWindowManager(window);
    EditorStatus status = EditorStatus::open;
    for (int round = 0; round < 100 && status == EditorStatus::open; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = plugin.pollEditor(edits);
    }
    EXPECT_EQ(status, EditorStatus::closed);
    EXPECT_EQ(lv2::testing::newTopLevelWindow(before), 0u);
    std::vector<float> left(256, 0.25f), right(256, -0.25f);
    plugin.process(left.data(), right.data(), 256);
    EXPECT_FALSE(plugin.collectTransportFailure());
    EXPECT_TRUE(plugin.openEditor()) << "it opens again";
    plugin.closeEditor();
}

// What the user turns in a VST 3's editor in the helper comes back to the program, once per
// control however often it was turned, for a plug-in alone and for a member of a shared helper.
TEST_F(OutOfProcessEditor, TurnsInAVst3EditorInTheHelperAreReportedBack) {
    ASSERT_TRUE(plugin.load(zamBundle("ZamComp"), ""));
    ASSERT_TRUE(plugin.prepare(48000.0, 256));
    SandboxedChain chain(controller);
    ASSERT_TRUE(chain.load({{zamBundle("ZamDelay"), ""}, {zamBundle("ZamComp"), ""}}))
        << controller.lastError;
    ASSERT_TRUE(chain.prepare(48000.0, 256));
    std::vector<uint32_t> ids;
    {
        Vst3Plugin here;
        ASSERT_TRUE(here.load(zamBundle("ZamComp"), ""));
        for (const PluginParameterInfo &info : here.listParameters())
            ids.push_back(info.id);
    }
    const std::function<EditorStatus(std::vector<ParameterValue> &)> polls[] = {
        [&](std::vector<ParameterValue> &got) { return plugin.pollEditor(got); },
        [&](std::vector<ParameterValue> &got) { return chain.pollEditor(1, got); }};
    // Asks until an edit comes or `rounds` questions went unanswered.
    auto editsWithin = [&](int editor, int rounds) {
        std::vector<ParameterValue> got;
        for (int round = 0; round < rounds && got.empty(); ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_EQ(polls[editor](got), EditorStatus::open);
        }
        return got;
    };
    lv2::testing::WheelSpot spot;
    for (int editor = 0; editor < 2; ++editor) {
        SCOPED_TRACE(editor == 0 ? "a plug-in alone" : "a member of a chain");
        const std::vector<unsigned long> before = lv2::testing::shownTopLevelWindows();
        ASSERT_TRUE(editor == 0 ? plugin.openEditor() : chain.openEditor(1));
        ASSERT_NE(lv2::testing::newTopLevelWindow(before), 0u);
        std::vector<ParameterValue> edits;
        if (!spot.found()) {
            spot = lv2::testing::rollWheelUntil(lv2::testing::newTopLevelWindow(before), [&] {
                edits = editsWithin(editor, 3);
                return !edits.empty();
            });
            ASSERT_TRUE(spot.found()) << "no control answered the wheel";
        } else {
            // The same plug-in's window opens where the first did.
            lv2::testing::rollWheelAt(spot.x, spot.y);
            edits = editsWithin(editor, 200);
        }
        ASSERT_EQ(edits.size(), 1u) << "one control turned, one edit";
        EXPECT_NE(std::find(ids.begin(), ids.end(), edits[0].id), ids.end())
            << "a parameter the plug-in has: " << edits[0].id;
        EXPECT_GE(edits[0].value, 0.0f);
        EXPECT_LE(edits[0].value, 1.0f);

        // Turned three times between two questions, the control is reported once, where it
        // stopped.
        (void)editsWithin(editor, 20);
        for (int turn = 0; turn < 3; ++turn)
            lv2::testing::rollWheelAt(spot.x, spot.y);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::vector<ParameterValue> later = editsWithin(editor, 200);
        ASSERT_EQ(later.size(), 1u);
        EXPECT_EQ(later[0].id, edits[0].id);
        EXPECT_NE(later[0].value, edits[0].value);
        if (editor == 0)
            plugin.closeEditor();
        else
            chain.closeEditor(1);
    }
}

/// An LV2 plug-in whose interface the helper shows in the interface host, a process of its
/// own: a GTK interface, and an X11 one.
struct HelperInterfaceCase {
    const char *name;
    const char *uri;
};

/// An LV2 plug-in's interface shown by the helper, as the program asks about it.
class HelperLv2Interface : public OutOfProcessEditor {
  protected:
    /// Asks what became of the editor for up to `milliseconds`, until `done` says enough;
    /// keeps every edit reported meanwhile.
    EditorStatus pollFor(int milliseconds, const std::function<bool(EditorStatus)> &done) {
        EditorStatus status = EditorStatus::open;
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        do {
            std::vector<ParameterValue> got;
            status = plugin.pollEditor(got);
            edits.insert(edits.end(), got.begin(), got.end());
            if (done(status)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < until);
        return status;
    }
    void playABlock() {
        std::vector<float> left(256, 0.25f), right(256, -0.25f);
        plugin.process(left.data(), right.data(), 256);
        EXPECT_FALSE(plugin.collectTransportFailure());
    }

    std::vector<ParameterValue> edits;
};

class OutOfProcessLv2Editor : public HelperLv2Interface,
                              public ::testing::WithParamInterface<HelperInterfaceCase> {};

INSTANTIATE_TEST_SUITE_P(
    Interfaces, OutOfProcessLv2Editor,
    ::testing::Values(HelperInterfaceCase{"CalfGtk", "http://calf.sourceforge.net/plugins/Reverb"},
                      HelperInterfaceCase{"X42X11", "http://gareus.org/oss/lv2/fil4#stereo"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_P(OutOfProcessLv2Editor, ShowsTurnsBothWaysClosesAndOutlivesACrashOfItsInterface) {
    using namespace lv2::testing;
    ASSERT_TRUE(plugin.load(std::string("lv2:") + GetParam().uri, "")) << controller.lastError;
    ASSERT_TRUE(plugin.prepare(48000.0, 256));
    EXPECT_TRUE(plugin.hasEditor());
    std::vector<ParameterValue> none;
    EXPECT_EQ(plugin.pollEditor(none), EditorStatus::closed) << "none was opened yet";
    const std::vector<unsigned long> before = shownTopLevelWindows();
    ASSERT_TRUE(plugin.openEditor());
    const unsigned long window = newTopLevelWindow(before);
    ASSERT_NE(window, 0u);
    const int shownBy = processOfWindow(window);
    ASSERT_GT(shownBy, 0);
    EXPECT_NE(shownBy, getpid()) << "the interface is not in the program";

    // What the plug-in reports as it plays (its meters) reaches the interface.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<unsigned long> quiet = windowPixels(window);
    for (int block = 0; block < 8; ++block)
        playABlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_NE(windowPixels(window), quiet) << "its meters show what played";

    // The user rolls the wheel over a control: the helper reports the value as an edit.
    const WheelSpot spot = rollWheelUntil(window, [&] {
        edits.clear();
        pollFor(60, [&](EditorStatus) { return !edits.empty(); });
        return !edits.empty();
    });
    ASSERT_TRUE(spot.found()) << "no control answered the wheel";
    ASSERT_FALSE(edits.empty());
    const ParameterValue turned = edits.back();
    std::vector<ParameterValue> later;
    EXPECT_EQ(plugin.pollEditor(later), EditorStatus::open);

    // A value the program sets reaches the interface: rolled again, it steps from there.
    // (Well inside the range: an interface's control may cover less than its port.)
    const float elsewhere = turned.value < 0.5f ? turned.value + 0.3f : turned.value - 0.3f;
    ASSERT_TRUE(plugin.setParameterNormalized(turned.id, elsewhere));
    playABlock(); // the value travels with the block
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    edits.clear();
    rollWheelAt(spot.x, spot.y);
    pollFor(1000, [&](EditorStatus) {
        return std::any_of(edits.begin(), edits.end(),
                           [&](const ParameterValue &edit) { return edit.id == turned.id; });
    });
    ASSERT_FALSE(edits.empty());
    EXPECT_EQ(edits.back().id, turned.id);
    EXPECT_NEAR(edits.back().value, elsewhere, 0.15f);

    // The interface crashes: only its process goes; the plug-in plays on in its helper.
    ASSERT_EQ(kill(shownBy, SIGSEGV), 0);
    EXPECT_EQ(pollFor(3000, [](EditorStatus status) { return status != EditorStatus::open; }),
              EditorStatus::crashed);
    EXPECT_TRUE(plugin.isLoaded());
    playABlock();

    // Opened again, it closes from the window manager's close button.
    ASSERT_TRUE(plugin.openEditor());
    const unsigned long again = newTopLevelWindow(before);
    ASSERT_NE(again, 0u);
    askToCloseLikeAWindowManager(again);
    EXPECT_EQ(pollFor(3000, [](EditorStatus status) { return status != EditorStatus::open; }),
              EditorStatus::closed);
    EXPECT_EQ(newTopLevelWindow(before), 0u);

    // And from the program.
    ASSERT_TRUE(plugin.openEditor());
    EXPECT_NE(newTopLevelWindow(before), 0u);
    plugin.closeEditor();
    EXPECT_EQ(newTopLevelWindow(before), 0u);
    EXPECT_EQ(plugin.pollEditor(none), EditorStatus::closed);
}

TEST(EditorReport, ReadsBackWhatTheHelperSaid) {
    const std::vector<ParameterValue> values{{3, 0.25f}, {17, 1.0f / 3.0f}, {4000000000u, 0.0f}};
    for (EditorStatus status : {EditorStatus::open, EditorStatus::closed, EditorStatus::crashed}) {
        for (size_t count : {size_t{0}, values.size()}) {
            const std::span<const ParameterValue> sent(values.data(), count);
            std::vector<ParameterValue> read{{99, 9.0f}};
            EXPECT_EQ(parseEditorReport(formatEditorReport(status, sent), read), status);
            EXPECT_EQ(read, std::vector<ParameterValue>(sent.begin(), sent.end()));
        }
    }
    std::vector<ParameterValue> many;
    for (uint32_t id = 0; id < maximumParamsPerLine + 5; ++id)
        many.push_back({id, 0.5f});
    std::vector<ParameterValue> read;
    ASSERT_EQ(parseEditorReport(formatEditorReport(EditorStatus::open, many), read),
              EditorStatus::open);
    EXPECT_EQ(read.size(), static_cast<size_t>(maximumParamsPerLine)) << "the rest go later";
    for (const char *line : {"", "EDITOR", "EDITOR OPENED", "EDITOR OPEN 3", "EDITOR OPEN x 1",
                             "EDITOR CLOSED 3 nan", "OK", "EDITOR open"})
        EXPECT_FALSE(parseEditorReport(line, read).has_value()) << '"' << line << '"';
}

// The test plug-in's interface asks about 21 in an atom as it starts and writes the answer it
// heard to a control, which the helper reports as the user's edit: 42 arrives only when atoms
// went both ways between the plug-in in the helper and its interface in the interface host.
// The same with its X11 interface and with its GTK 3 one, each in the interface host for it.
class HelperAtomInterface : public HelperLv2Interface,
                            public ::testing::WithParamInterface<const char *> {};

INSTANTIATE_TEST_SUITE_P(Toolkits, HelperAtomInterface,
                         ::testing::Values("urn:halvora:test:atom-answer",
                                           "urn:halvora:test:atom-answer-gtk3"),
                         [](const auto &info) {
                             return std::string(info.index == 0 ? "X11" : "Gtk3");
                         });

TEST_P(HelperAtomInterface, AnInterfaceAndItsPluginTalkInAtomsAcrossTheHelper) {
    ScopedEnvironment lv2Path("LV2_PATH",
                              std::string(HALVORA_LV2_TEST_BUNDLES_DIR) + ":" + "/usr/lib/lv2");
    ASSERT_TRUE(plugin.load(std::string("lv2:") + GetParam(), "")) << controller.lastError;
    ASSERT_TRUE(plugin.prepare(48000.0, 256));
    ASSERT_TRUE(plugin.openEditor());
    const uint32_t heardPort = 3;
    const auto answered = [&] {
        return std::any_of(edits.begin(), edits.end(),
                           [&](const ParameterValue &edit) { return edit.id == heardPort; });
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!answered() && std::chrono::steady_clock::now() < until) {
        playABlock();
        pollFor(20, [&](EditorStatus) { return answered(); });
    }
    ASSERT_TRUE(answered()) << "no answer came back to the interface";
    const ParameterValue heard =
        *std::find_if(edits.begin(), edits.end(),
                      [&](const ParameterValue &edit) { return edit.id == heardPort; });
    EXPECT_NEAR(heard.value, 42.0f / 1000.0f, 1e-6f) << "42 on a control from 0 to 1000";
    plugin.closeEditor();
}

} // namespace
} // namespace orvane::vst
