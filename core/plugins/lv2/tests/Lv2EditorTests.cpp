#include "core/plugins/lv2/Lv2Editor.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/tests/Lv2TestSupport.h"
#include "core/plugins/lv2/tests/UserInputSupport.h"
#include "core/plugins/vst3/tests/PrivateXServer.h"

#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

namespace orvane::lv2 {
namespace {

using namespace testing;

constexpr const char *x42NoDelay = "http://gareus.org/oss/lv2/nodelay"; // no interface of its own

class Lv2EditorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        Lv2Editor::uiHostFolder = HALVORA_UI_HOST_FOLDER;
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

TEST_F(Lv2EditorTest, WithoutAnyInterfaceOpeningFailsWithAReason) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(x42NoDelay)) << plugin.lastError;
    Lv2Editor editor(plugin);
    EXPECT_FALSE(editor.available());
    EXPECT_FALSE(editor.open());
    EXPECT_FALSE(editor.lastError.empty());
    EXPECT_EQ(editor.windowId(), 0u);
}

/// Runs the editor's timer for about `milliseconds`.
void idleFor(Lv2Editor &editor, int milliseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    do {
        editor.idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < until && editor.isOpen());
}

struct Turned {
    WheelSpot spot;
    size_t parameter = 0;
    float before = 0.0f, after = 0.0f;
};

/// Rolls the wheel over the editor's window until a control changes in the plug-in; where it
/// did, and which.
Turned turnAControl(Lv2Editor &editor, Lv2Plugin &plugin) {
    Turned turned;
    std::vector<float> before(plugin.parameters.size());
    auto snapshot = [&] {
        for (size_t index = 0; index < before.size(); ++index)
            before[index] = plugin.parameterValue(index);
    };
    snapshot();
    turned.spot = rollWheelUntil(editor.windowId(), [&] {
        idleFor(editor, 40);
        for (size_t index = 0; index < before.size(); ++index)
            if (plugin.parameterValue(index) != before[index]) {
                turned.parameter = index;
                turned.before = before[index];
                turned.after = plugin.parameterValue(index);
                snapshot();
                return true;
            }
        return false;
    });
    return turned;
}

bool processAlive(int pid) { return pid > 0 && kill(pid, 0) == 0; }

/// An interface in the host process: a GTK one (which this process cannot show) and an X11
/// one asked to go there too, as the sandbox helper shows every interface.
struct OwnProcessCase {
    const char *name;
    const char *uri;
    bool ownProcessOnly;
};

class Lv2OwnProcessEditorTest : public Lv2EditorTest,
                                public ::testing::WithParamInterface<OwnProcessCase> {};

INSTANTIATE_TEST_SUITE_P(Interfaces, Lv2OwnProcessEditorTest,
                         ::testing::Values(OwnProcessCase{"CalfGtk", calfReverb, false},
                                           OwnProcessCase{"X42X11", x42Equalizer, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(Lv2OwnProcessEditorTest, OpensTurnsBothWaysAndClosesFromTheWindowManager) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(GetParam().uri)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    Lv2Editor editor(plugin);
    editor.ownProcessOnly = GetParam().ownProcessOnly;
    ASSERT_TRUE(editor.available());
    ASSERT_TRUE(editor.open()) << editor.lastError;
    ASSERT_TRUE(editor.inOwnProcess());
    const int pid = editor.processId();
    EXPECT_TRUE(processAlive(pid));
    idleFor(editor, 300);
    ASSERT_TRUE(editor.isOpen()) << editor.lastClosing;
    const WindowSeen seen = lookAt(editor.windowId());
    EXPECT_TRUE(seen.viewable);
    EXPECT_GE(seen.children, 1u) << "the interface is inside the window";
    EXPECT_TRUE(saveWindowPicture(editor.windowId(),
                                  std::filesystem::path("screenshots") /
                                      (std::string("lv2-") + GetParam().name + ".ppm"),
                                  [&] { idleFor(editor, 100); }))
        << "the interface drew itself";

    // What the plug-in reports as it plays (its meters) reaches the interface.
    const std::vector<unsigned long> quiet = windowPixels(editor.windowId());
    (void)renderThrough(plugin, testSignal(8 * blockSize));
    idleFor(editor, 400);
    EXPECT_NE(windowPixels(editor.windowId()), quiet) << "its meters show what played";
    EXPECT_TRUE(saveWindowPictureNow(editor.windowId(),
                                     std::filesystem::path("screenshots") /
                                         (std::string("lv2-") + GetParam().name + "-playing.ppm")));

    // The user rolls the wheel over a control: the plug-in's parameter follows.
    const Turned turned = turnAControl(editor, plugin);
    ASSERT_TRUE(turned.spot.found()) << "no control answered the wheel";
    const Lv2Parameter &parameter = plugin.parameters[turned.parameter];
    const float range = parameter.maximum - parameter.minimum;
    // A value set elsewhere reaches the interface: rolled again, the control steps from there.
    // (Well inside the range: an interface's control may cover less than its port.)
    const float elsewhere = turned.after < parameter.minimum + range / 2
                                ? turned.after + 0.3f * range
                                : turned.after - 0.3f * range;
    ASSERT_TRUE(plugin.setParameterValue(turned.parameter, elsewhere));
    idleFor(editor, 150);
    rollWheelAt(turned.spot.x, turned.spot.y);
    idleFor(editor, 300);
    EXPECT_NE(plugin.parameterValue(turned.parameter), elsewhere) << "the wheel turned it again";
    EXPECT_NEAR(plugin.parameterValue(turned.parameter), elsewhere, 0.15f * range)
        << parameter.symbol << " stepped from " << turned.after << " instead";

    askToCloseLikeAWindowManager(editor.windowId());
    idleFor(editor, 2000);
    EXPECT_FALSE(editor.isOpen());
    EXPECT_EQ(editor.lastClosing, "closed");
    EXPECT_FALSE(processAlive(pid)) << "the host process ended with its window";
    ASSERT_TRUE(editor.open()) << "it opens again";
    editor.close();
    EXPECT_FALSE(editor.isOpen());
}

/// Plays blocks of a tone through the plug-in, as the audio thread would, while the editor
/// idles, until `done` or about three seconds have passed.
void playUntil(Lv2Plugin &plugin, Lv2Editor &editor, const std::function<bool()> &done) {
    const StereoSignal tone = testSignal(blockSize);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!done() && std::chrono::steady_clock::now() < until && editor.isOpen()) {
        StereoSignal block = tone;
        EXPECT_TRUE(plugin.process(block.left.data(), block.right.data(), blockSize));
        editor.idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

/// Where the interface runs: in this process, or in the host process as the helper shows them.
class Lv2AtomEditorTest : public Lv2EditorTest, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Where, Lv2AtomEditorTest, ::testing::Values(false, true),
                         [](const auto &info) {
                             return std::string(info.param ? "HostProcess" : "ThisProcess");
                         });

// The test plug-in's interface asks about 21 in an atom as it starts, the plug-in answers 42
// in an atom, and the interface writes what it heard to a control: the control reads 42 only
// when atoms went both ways, with the names in them numbered as each end numbers them.
TEST_P(Lv2AtomEditorTest, AnInterfaceAsksItsPluginInAnAtomAndHearsTheAnswer) {
    ASSERT_TRUE(loadAtomAnswerBundle());
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(atomAnswerPluginUri)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    Lv2Editor editor(plugin);
    editor.ownProcessOnly = GetParam();
    ASSERT_TRUE(editor.open()) << editor.lastError;
    EXPECT_EQ(editor.inOwnProcess(), GetParam());
    const auto heard = static_cast<size_t>(plugin.parameterIndex("heard"));
    playUntil(plugin, editor, [&] { return plugin.parameterValue(heard) != 0.0f; });
    EXPECT_EQ(plugin.parameterValue(heard), 42.0f);
    EXPECT_EQ(plugin.controlOutputValue(2), 1.0f) << "the question arrived once";
    EXPECT_EQ(editor.atomTraffic().fromInterface, 1u);
    EXPECT_EQ(editor.atomTraffic().toInterface, 1u);
    editor.close();
    ASSERT_TRUE(plugin.sendAtomToPlugin(0, atomAsking(1).data(), atomAsking(1).size()));
    StereoSignal block = testSignal(blockSize);
    ASSERT_TRUE(plugin.process(block.left.data(), block.right.data(), blockSize));
    EXPECT_EQ(plugin.takeAtomsFromPlugin([](uint32_t, const uint8_t *, size_t) {}), 0u)
        << "with the interface closed, nothing is kept for it";
}

// x42's scope streams what it hears to its interface only after the interface has asked for
// it in an atom: atoms going to the interface show that both ways work with a real plug-in.
TEST_P(Lv2AtomEditorTest, AScopesInterfaceAsksForAndReceivesWhatItsPluginHears) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load("http://gareus.org/oss/lv2/sisco#Stereo")) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    plugin.keepAtomsFromPlugin(true);
    (void)renderThrough(plugin, testSignal(8 * blockSize));
    EXPECT_EQ(plugin.takeAtomsFromPlugin([](uint32_t, const uint8_t *, size_t) {}), 0u)
        << "unasked, the scope streams nothing";
    Lv2Editor editor(plugin);
    editor.ownProcessOnly = GetParam();
    ASSERT_TRUE(editor.open()) << editor.lastError;
    playUntil(plugin, editor, [&] { return editor.atomTraffic().toInterface >= 50; });
    EXPECT_GE(editor.atomTraffic().fromInterface, 1u);
    EXPECT_GE(editor.atomTraffic().toInterface, 50u);
    EXPECT_TRUE(editor.isOpen()) << editor.lastClosing;
    EXPECT_TRUE(saveWindowPictureNow(
        editor.windowId(),
        std::filesystem::path("screenshots") /
            (std::string("lv2-scope-") + (GetParam() ? "host" : "here") + ".ppm")));
}

/// The program a process runs, by its file name.
std::string programOf(int pid) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error)
        .filename()
        .string();
}

// A GTK 3 interface cannot share a process with GTK 2: it shows in the GTK 3 host, where it
// talks to its plug-in in atoms, turns its control under the wheel, follows a value set
// elsewhere and closes from the window manager.
TEST_F(Lv2EditorTest, AGtk3InterfaceShowsInAHostOfItsOwnToolkitAndTurnsBothWays) {
    ASSERT_TRUE(loadAtomAnswerBundle());
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(atomAnswerGtk3PluginUri)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    Lv2Editor editor(plugin);
    ASSERT_TRUE(editor.available());
    ASSERT_TRUE(editor.open()) << editor.lastError;
    ASSERT_TRUE(editor.inOwnProcess());
    const int pid = editor.processId();
    EXPECT_EQ(programOf(pid), "HalvoraUiHostGtk3");
    const auto heard = static_cast<size_t>(plugin.parameterIndex("heard"));
    playUntil(plugin, editor, [&] { return plugin.parameterValue(heard) != 0.0f; });
    EXPECT_EQ(plugin.parameterValue(heard), 42.0f) << "atoms went both ways";

    const Turned turned = turnAControl(editor, plugin);
    ASSERT_TRUE(turned.spot.found()) << "no control answered the wheel";
    EXPECT_EQ(plugin.parameters[turned.parameter].symbol, "turned");
    ASSERT_TRUE(plugin.setParameterValue(turned.parameter, 20.0f));
    idleFor(editor, 150);
    rollWheelAt(turned.spot.x, turned.spot.y);
    idleFor(editor, 300);
    EXPECT_NE(plugin.parameterValue(turned.parameter), 20.0f) << "the wheel turned it again";
    EXPECT_NEAR(plugin.parameterValue(turned.parameter), 20.0f, 10.0f)
        << "it stepped from where the program set it, not from " << turned.after;
    EXPECT_TRUE(saveWindowPictureNow(editor.windowId(),
                                     std::filesystem::path("screenshots") / "lv2-gtk3.ppm"));

    askToCloseLikeAWindowManager(editor.windowId());
    idleFor(editor, 2000);
    EXPECT_FALSE(editor.isOpen());
    EXPECT_EQ(editor.lastClosing, "closed");
    EXPECT_FALSE(processAlive(pid));
}

TEST_F(Lv2EditorTest, AnInterfaceThatCrashesEndsOnlyItsProcessAndThePluginPlaysOn) {
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(calfReverb)) << plugin.lastError;
    ASSERT_TRUE(plugin.prepare(sampleRate, blockSize));
    Lv2Editor editor(plugin);
    ASSERT_TRUE(editor.open()) << editor.lastError;
    const int pid = editor.processId();
    ASSERT_TRUE(processAlive(pid));
    ASSERT_EQ(kill(pid, SIGSEGV), 0);
    idleFor(editor, 2000);
    EXPECT_FALSE(editor.isOpen());
    EXPECT_EQ(editor.lastClosing, "crashed");
    EXPECT_EQ(editor.windowId(), 0u);
    const StereoSignal input = testSignal(4 * blockSize);
    const StereoSignal output = renderThrough(plugin, input);
    EXPECT_GT(largestDifference(input, output), 0.0f) << "the reverb still plays";
    ASSERT_TRUE(editor.open()) << "the editor opens again after its crash";
    const int next = editor.processId();
    editor.close();
    EXPECT_FALSE(processAlive(next)) << "closing from the program ends the host process";
}

TEST_F(Lv2EditorTest, WithoutItsHostProgramAGtkInterfaceFailsWithAReason) {
    const std::string kept = Lv2Editor::uiHostFolder;
    Lv2Editor::uiHostFolder = "/nonexistent";
    Lv2Plugin plugin;
    ASSERT_TRUE(plugin.load(calfReverb));
    Lv2Editor editor(plugin);
    EXPECT_TRUE(editor.available());
    EXPECT_FALSE(editor.open());
    EXPECT_EQ(editor.lastError, "the interface host program is missing");
    Lv2Editor::uiHostFolder = kept;
}

} // namespace
} // namespace orvane::lv2
