// Drives the built program as a session manager and a control surface would: a real
// `Halvora --headless` process, spoken to over UDP on this machine with liblo.
#include "app/remote/tests/OscPeer.h"
#include "app/shell/DocumentOperations.h"
#include "app/shell/SessionState.h"
#include "app/shell/tests/ApplicationTestSupport.h"
#include "core/plugins/vst3/tests/PrivateXServer.h"
#include "core/project_io/ProjectFolder.h"
#include "tests/support/JackServer.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace orvane;
using namespace orvane::testing;
using namespace orvane::remote::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

/// `Halvora --headless` as a process of its own: standard input a pipe (or nothing at all),
/// standard output collected, killed in the destructor whatever the test did.
class HalvoraProcess {
  public:
    /// `window`: the program as a desktop starts it, without the `--headless` verb.
    HalvoraProcess(const std::vector<std::string> &arguments, const fs::path &errorsFile,
                   bool withInput = true, bool window = false) {
        int output[2];
        int input[2] = {-1, -1};
        if (::pipe(output) != 0 || (withInput && ::pipe(input) != 0)) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (withInput) {
            posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
            posix_spawn_file_actions_addclose(&actions, input[1]);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorsFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<std::string> all = {HALVORA_EXECUTABLE};
        if (!window) all.emplace_back("--headless");
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (auto &argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, HALVORA_EXECUTABLE, &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(output[1]);
        fromProgram = output[0];
        ::fcntl(fromProgram, F_SETFL, O_NONBLOCK);
        if (withInput) {
            ::close(input[0]);
            toProgram = input[1];
        }
    }
    ~HalvoraProcess() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (toProgram >= 0) ::close(toProgram);
        if (fromProgram >= 0) ::close(fromProgram);
    }

    int id() const { return pid; }
    void send(const std::string &lines) {
        ASSERT_EQ(::write(toProgram, lines.data(), lines.size()),
                  static_cast<ssize_t>(lines.size()));
    }
    /// What the program printed so far.
    const std::string &output() {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(fromProgram, buffer, sizeof buffer)) > 0)
            printed.append(buffer, static_cast<std::size_t>(got));
        return printed;
    }
    bool waitForOutput(const std::string &text, std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (output().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    /// Sends `signal` and waits up to `timeout` for the exit; its status, -1 when it ended
    /// otherwise, -2 when it did not end in time.
    int endWith(int signal, std::chrono::milliseconds timeout) {
        ::kill(pid, signal);
        const auto until = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) return -2;
            std::this_thread::sleep_for(10ms);
        }
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid = -1;
    int toProgram = -1;
    int fromProgram = -1;
    std::string printed;
};

std::string readText(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> trackNamesOf(const Project &project) {
    std::vector<std::string> names;
    for (const auto &track : project.tracks)
        names.push_back(track->name);
    return names;
}

/// The session manager's side of a client's start: the announce, answered.
struct ManagedHalvora {
    explicit ManagedHalvora(const TemporaryHome &home, bool withInput = true)
        : nsmUrl("NSM_URL", server.url()), program({}, home.root() / "errors.txt", withInput) {}

    int clientPort() const {
        return std::stoi(announce.senderUrl.substr(announce.senderUrl.rfind(':') + 1));
    }
    /// Sends an open and waits for its answer, `/reply` or `/error`.
    bool open(const fs::path &path) {
        server.send(clientPort(), "/nsm/client/open", "sss", path.c_str(), "Halvora", "nTEST");
        return server.waitFor("", 20s, [](const OscPeer::Received &message) {
            return (message.path == "/reply" || message.path == "/error") &&
                   !message.strings.empty() && message.strings[0] == "/nsm/client/open";
        });
    }

    OscPeer server;
    ScopedEnvironment nsmUrl;
    HalvoraProcess program;
    OscPeer::Received announce;
};

TEST(RemoteEndToEnd, JoinsASessionManagerCreatesSavesReportsChangesAndQuitsOnSigterm) {
    TemporaryHome home("nsm-session");
    ManagedHalvora managed(home);
    const std::string errors = (home.root() / "errors.txt").string();
    ASSERT_TRUE(managed.server.waitFor("/nsm/server/announce", 60s)) << readText(errors);
    managed.announce = managed.server.last;
    EXPECT_EQ(managed.announce.types, "sssiii");
    ASSERT_EQ(managed.announce.strings.size(), 3u);
    EXPECT_EQ(managed.announce.strings[0], "Halvora");
    EXPECT_NE(managed.announce.strings[1].find(":switch:"), std::string::npos);
    EXPECT_NE(managed.announce.strings[1].find(":dirty:"), std::string::npos);
    EXPECT_EQ(managed.announce.strings[2], "Halvora");
    EXPECT_EQ(managed.announce.numbers, (std::vector<double>{1, 2, double(managed.program.id())}));
    managed.server.send(managed.clientPort(), "/reply", "ssss", "/nsm/server/announce", "hello",
                        "Test Manager", ":server-control:");

    // A client id whose project does not exist yet: it is made there.
    const fs::path instance = home.root() / "Session One" / "Halvora.nTEST";
    ASSERT_TRUE(managed.open(instance)) << readText(errors);
    EXPECT_EQ(managed.server.last.path, "/reply") << managed.server.last.strings.at(1);
    const fs::path folder = instance.string() + ".halvora";
    EXPECT_TRUE(fs::exists(folder / "project.json"));
    ASSERT_TRUE(managed.server.waitFor("/nsm/client/is_clean", 15s));

    // The session manager's operations are not the user's to choose here.
    managed.program.send("new\nsave-as " + (home.root() / "elsewhere").string() + "\n");
    EXPECT_TRUE(managed.program.waitForOutput("error: \"save-as\" is the session manager's", 20s))
        << managed.program.output();
    EXPECT_FALSE(fs::exists(home.root() / "elsewhere.halvora"));

    managed.program.send("add-track Гитара\n");
    ASSERT_TRUE(managed.server.waitFor("/nsm/client/is_dirty", 20s)) << managed.program.output();
    managed.server.send(managed.clientPort(), "/nsm/client/save", "");
    ASSERT_TRUE(managed.server.waitFor("/reply", 20s, [](const OscPeer::Received &message) {
        return message.strings.at(0) == "/nsm/client/save";
    }));
    ASSERT_TRUE(managed.server.waitFor("/nsm/client/is_clean", 15s));
    const auto saved = project_io::loadProject(folder.string());
    ASSERT_TRUE(saved);
    EXPECT_EQ(trackNamesOf(*saved).back(), "Гитара");
    EXPECT_EQ(saved->name, "Halvora");

    EXPECT_EQ(managed.program.endWith(SIGTERM, 30s), 0) << readText(errors);
}

TEST(RemoteEndToEnd, OpensAnExistingProjectAndAnswersWhatCannotBeOpenedWithTheProtocolsErrors) {
    TemporaryHome home("nsm-existing");
    Project song = buildStartupProject(48000.0);
    song.name = "Ballad";
    const fs::path existing = home.root() / "Ballad";
    ASSERT_TRUE(project_io::saveProject(song, existing.string() + ".halvora", false).ok);
    fs::create_directories(home.root() / "Damaged.halvora");
    std::ofstream(home.root() / "Damaged.halvora" / "project.json") << "{ not a project";
    std::ofstream(home.root() / "plain-file") << "x";

    // Without anything on standard input the client keeps running for the session.
    ManagedHalvora managed(home, false);
    const std::string errors = (home.root() / "errors.txt").string();
    ASSERT_TRUE(managed.server.waitFor("/nsm/server/announce", 60s)) << readText(errors);
    managed.announce = managed.server.last;

    ASSERT_TRUE(managed.open(existing)) << readText(errors);
    EXPECT_EQ(managed.server.last.path, "/reply") << managed.server.last.strings.at(1);
    EXPECT_TRUE(managed.program.waitForOutput("Ballad", 20s)) << managed.program.output();

    struct Refusal {
        fs::path path;
        int code;
    };
    for (const Refusal &refusal : {Refusal{home.root() / "Damaged", -9},
                                   Refusal{home.root() / "plain-file" / "inside", -10}}) {
        SCOPED_TRACE(refusal.path.string());
        ASSERT_TRUE(managed.open(refusal.path)) << readText(errors);
        EXPECT_EQ(managed.server.last.path, "/error");
        EXPECT_EQ(managed.server.last.numbers.at(0), refusal.code);
    }
    // The open that failed left the document that was open.
    managed.server.send(managed.clientPort(), "/nsm/client/save", "");
    ASSERT_TRUE(managed.server.waitFor("/reply", 20s, [](const OscPeer::Received &message) {
        return message.strings.at(0) == "/nsm/client/save";
    }));
    EXPECT_EQ(project_io::loadProject(existing.string() + ".halvora")->name, "Ballad");
    EXPECT_EQ(managed.program.endWith(SIGTERM, 30s), 0) << readText(errors);
}

/// A private X server, stopped whatever the test did.
struct PrivateDisplay {
    vst::testing::PrivateXServer server;
    ~PrivateDisplay() { server.stop(); }
};

TEST(RemoteEndToEnd, TheWindowJoinsTheSessionMakesItsProjectAndClosesOnSigterm) {
    TemporaryHome home("nsm-window");
    PrivateDisplay display;
    std::string error;
    ASSERT_TRUE(display.server.start(error)) << error;
    ScopedEnvironment x("DISPLAY", display.server.name());
    ScopedEnvironment platform("QT_QPA_PLATFORM", "xcb");
    ScopedEnvironment wayland("WAYLAND_DISPLAY", std::nullopt);
    // The desktop libraries under Qt keep caches until exit, which the window's own tests
    // suppress by name; this run is about the session, so the sanitizer build counts no leaks.
    const char *sanitizer = std::getenv("ASAN_OPTIONS");
    ScopedEnvironment leaks("ASAN_OPTIONS",
                            std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0");
    OscPeer server;
    ScopedEnvironment url("NSM_URL", server.url());
    const fs::path errors = home.root() / "errors.txt";
    HalvoraProcess window({}, errors, false, true);
    ASSERT_TRUE(server.waitFor("/nsm/server/announce", 60s)) << readText(errors);
    const std::string client = server.last.senderUrl;
    const int clientPort = std::stoi(client.substr(client.rfind(':') + 1));
    EXPECT_EQ(server.last.numbers.at(2), window.id());

    const fs::path instance = home.root() / "Session" / "Halvora.nWIN";
    server.send(clientPort, "/nsm/client/open", "sss", instance.c_str(), "Halvora", "nWIN");
    ASSERT_TRUE(server.waitFor("/reply", 30s)) << readText(errors);
    EXPECT_EQ(server.last.strings.at(0), "/nsm/client/open");
    EXPECT_TRUE(fs::exists(instance.string() + ".halvora/project.json"));
    ASSERT_TRUE(server.waitFor("/nsm/client/is_clean", 15s));
    server.send(clientPort, "/nsm/client/save", "");
    ASSERT_TRUE(server.waitFor("/reply", 30s, [](const OscPeer::Received &message) {
        return message.strings.at(0) == "/nsm/client/save";
    }));
    EXPECT_EQ(window.endWith(SIGTERM, 30s), 0) << readText(errors);
}

/// A surface: asks for the state until the program answers (it listens once it started).
bool waitForState(OscPeer &surface, int port, std::chrono::milliseconds timeout,
                  const std::string &wanted = {}) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        surface.send(port, "/halvora/state", "");
        if (surface.waitFor("/halvora/state", 200ms, [&](const OscPeer::Received &message) {
                return wanted.empty() || message.strings.at(0) == wanted;
            }))
            return true;
    }
    return false;
}

/// Asks for track `number`'s state until `path` reports `value` (what another program sent
/// may be carried out after the first question).
bool waitForTrackValue(OscPeer &surface, int port, int number, const std::string &path,
                       double value) {
    const auto until = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < until) {
        surface.send(port, ("/halvora/track/" + std::to_string(number)).c_str(), "");
        if (surface.waitFor(path, 300ms, [value](const OscPeer::Received &message) {
                return message.numbers.at(0) == value;
            })) {
            // The rest of the answer is not what the test waits for next.
            surface.drain(100ms);
            surface.received.clear();
            return true;
        }
        surface.drain(10ms);
        surface.received.clear();
    }
    return false;
}

TEST(RemoteEndToEnd, ASurfacePlaysStopsMutesAndLaunchesThroughUndoableEdits) {
    TemporaryHome home("osc-surface");
    JackServer jack(256, 48000);
    ASSERT_TRUE(jack.ready()) << jack.failure();
    home.rememberOutputDevice("JACK");
    const int port = freeUdpPort();
    HalvoraProcess program({"--osc-port", std::to_string(port)}, home.root() / "errors.txt");
    const std::string errors = (home.root() / "errors.txt").string();
    OscPeer surface;
    ASSERT_TRUE(waitForState(surface, port, 60s)) << readText(errors) << program.output();
    EXPECT_EQ(surface.last.types, "sddd");
    EXPECT_EQ(surface.last.strings.at(0), "stopped");
    EXPECT_DOUBLE_EQ(surface.last.numbers.at(2), 120.0);

    // The README's example, with liblo's own command-line sender.
    ASSERT_EQ(
        runTool({"oscsend", "127.0.0.1", std::to_string(port), "/halvora/track/2/mute", "i", "1"}),
        0);
    EXPECT_TRUE(waitForTrackValue(surface, port, 2, "/halvora/track/2/mute", 1));

    struct Change {
        const char *path;
        float value;
    };
    for (const Change &change :
         {Change{"/halvora/track/1/mute", 1}, Change{"/halvora/track/2/arm", 1},
          Change{"/halvora/track/1/gain", 0.5f}, Change{"/halvora/track/1/pan", -0.25f},
          Change{"/halvora/track/1/send/1", 0.75f}}) {
        SCOPED_TRACE(change.path);
        if (std::string(change.path).ends_with("mute") || std::string(change.path).ends_with("arm"))
            surface.send(port, change.path, "i", 1);
        else
            surface.send(port, change.path, "f", change.value);
        ASSERT_TRUE(surface.waitFor(change.path, 15s));
        EXPECT_FLOAT_EQ(static_cast<float>(surface.last.numbers.at(0)), change.value);
    }
    // Undone through the window's history, the send goes back.
    surface.send(port, "/halvora/undo", "");
    ASSERT_TRUE(surface.waitFor("/halvora/state", 15s));
    surface.send(port, "/halvora/track/1", "");
    ASSERT_TRUE(surface.waitFor("/halvora/track/1/send/1", 15s));
    EXPECT_FLOAT_EQ(static_cast<float>(surface.last.numbers.at(0)), 0.0f);
    ASSERT_TRUE(surface.waitFor("/halvora/track/1/mute", 15s));
    EXPECT_EQ(surface.last.numbers.at(0), 1);

    surface.send(port, "/halvora/play", "");
    ASSERT_TRUE(surface.waitFor("/halvora/state", 15s));
    EXPECT_EQ(surface.last.strings.at(0), "playing");
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(waitForState(surface, port, 15s));
    EXPECT_GT(surface.last.numbers.at(0), 0.05) << "the playhead moves";
    surface.send(port, "/halvora/stop", "");
    ASSERT_TRUE(surface.waitFor("/halvora/state", 15s));
    EXPECT_EQ(surface.last.strings.at(0), "stopped");

    surface.send(port, "/halvora/locate", "d", 2.0);
    ASSERT_TRUE(surface.waitFor("/halvora/state", 15s));
    ASSERT_TRUE(waitForState(surface, port, 15s));
    EXPECT_NEAR(surface.last.numbers.at(0), 2.0, 0.01);
    EXPECT_NEAR(surface.last.numbers.at(1), 4.0, 0.01) << "2 s at 120 BPM";

    // The start-up project's loop sits in the first slot of the first track.
    surface.send(port, "/halvora/clip/launch", "ii", 1, 1);
    ASSERT_TRUE(surface.waitFor("/halvora/clip/launch", 15s));
    EXPECT_EQ(surface.last.numbers, (std::vector<double>{1, 1}));
    ASSERT_TRUE(surface.waitFor("/halvora/state", 15s));
    EXPECT_EQ(surface.last.strings.at(0), "playing");
    surface.send(port, "/halvora/stop", "");
    ASSERT_TRUE(surface.waitFor("/halvora/state", 15s));
    const std::size_t scenes = buildStartupProject(48000.0).session.scenes.size();
    surface.send(port, "/halvora/scene/launch", "i", int(scenes + 1));
    ASSERT_TRUE(surface.waitFor("/halvora/error", 15s));
    EXPECT_EQ(surface.last.strings.at(1), "no scene " + std::to_string(scenes + 1));

    const fs::path folder = home.root() / "remote.halvora";
    program.send("save-as " + folder.string() + "\nquit\n");
    EXPECT_EQ(program.endWith(0, 30s), 0) << readText(errors); // the quit asked on its input
    const auto saved = project_io::loadProject(folder.string());
    ASSERT_TRUE(saved) << program.output();
    const Track &first = *saved->tracks.front();
    EXPECT_TRUE(first.mute);
    EXPECT_FLOAT_EQ(first.gain, 0.5f);
    EXPECT_FLOAT_EQ(first.pan, -0.25f);
    EXPECT_FLOAT_EQ(first.sends[0].level, 0.0f);
}

TEST(RemoteEndToEnd, RefusesMalformedAndFloodedMessagesWithoutEffectAndKeepsAnswering) {
    TemporaryHome home("osc-hostile");
    const int port = freeUdpPort();
    HalvoraProcess program({"--osc-port", std::to_string(port)}, home.root() / "errors.txt");
    const std::string errors = (home.root() / "errors.txt").string();
    OscPeer surface;
    ASSERT_TRUE(waitForState(surface, port, 60s)) << readText(errors) << program.output();

    // Well formed but wrong: each is answered with the reason, and changes nothing.
    struct Wrong {
        const char *path;
        const char *reason;
    };
    surface.send(port, "/halvora/track/1/mute", "s", "yes");
    surface.send(port, "/halvora/track/1/gain", "f", 99.0f);
    surface.send(port, "/halvora/track/99/mute", "i", 1);
    surface.send(port, "/halvora/locate", "");
    surface.send(port, "/halvora/launch_missiles", "");
    for (const Wrong &wrong :
         {Wrong{"/halvora/track/1/mute", "takes 0 or 1"},
          Wrong{"/halvora/track/1/gain", "out of range"}, Wrong{"/halvora/track/99", "no track 99"},
          Wrong{"/halvora/locate", "takes one number"},
          Wrong{"/halvora/launch_missiles", "unknown address"}}) {
        SCOPED_TRACE(wrong.path);
        ASSERT_TRUE(surface.waitFor("/halvora/error", 15s));
        EXPECT_EQ(surface.last.strings.at(0), wrong.path);
        EXPECT_NE(surface.last.strings.at(1).find(wrong.reason), std::string::npos)
            << surface.last.strings.at(1);
    }

    // Garbage and oversized packets, then a flood: none of it stalls the program.
    const int raw = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::vector<uint8_t> noise(60000, 0xAB);
    for (int index = 0; index < 200; ++index)
        ::sendto(raw, noise.data(), 1 + (index * 997) % noise.size(), 0,
                 reinterpret_cast<sockaddr *>(&to), sizeof to);
    ::close(raw);
    const auto floodStart = std::chrono::steady_clock::now();
    // The value the track has already: taken, but no edit, so the quit below asks nothing.
    for (int index = 0; index < 5000; ++index)
        surface.send(port, "/halvora/track/2/solo", "i", 0);
    surface.drain(100ms);
    surface.received.clear();
    ASSERT_TRUE(waitForState(surface, port, 15s)) << "still answering after the flood";
    EXPECT_LT(std::chrono::steady_clock::now() - floodStart, 30s);
    program.send("status\n");
    EXPECT_TRUE(program.waitForOutput("Hz", 15s)) << program.output();
    // What was refused and dropped is counted in the session log, a line a second at most.
    const auto logged = [] {
        const std::string log = readText(betaSessionLogPath());
        return log.find("\"cat\":\"remote\"") != std::string::npos &&
               log.find("dropped ") != std::string::npos;
    };
    const auto logUntil = std::chrono::steady_clock::now() + 15s;
    while (!logged() && std::chrono::steady_clock::now() < logUntil)
        std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(logged()) << readText(betaSessionLogPath());

    // Nothing of the refused messages reached the document.
    surface.send(port, "/halvora/track/1", "");
    ASSERT_TRUE(surface.waitFor("/halvora/track/1/mute", 15s));
    EXPECT_EQ(surface.last.numbers.at(0), 0);
    ASSERT_TRUE(surface.waitFor("/halvora/track/1/gain", 15s));
    EXPECT_FLOAT_EQ(static_cast<float>(surface.last.numbers.at(0)), 1.0f);
    program.send("quit\n");
    EXPECT_EQ(program.endWith(0, 30s), 0) << readText(errors);
}

TEST(RemoteEndToEnd, RefusesAPortThatIsNotANumberOrIsTaken) {
    TemporaryHome home("osc-port");
    OscPeer holder; // keeps its port busy
    for (const std::vector<std::string> &arguments :
         {std::vector<std::string>{"--osc-port", "seventy"},
          {"--osc-port", "70000"},
          {"--osc-port"},
          {"--osc-port", std::to_string(holder.port())}}) {
        HalvoraProcess program(arguments, home.root() / "errors.txt", false);
        const int status = program.endWith(0, 60s);
        EXPECT_NE(status, 0);
        const std::string errors = readText(home.root() / "errors.txt");
        EXPECT_NE(errors.find("Halvora: "), std::string::npos) << errors;
    }
}

} // namespace
