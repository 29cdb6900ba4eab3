// The program as a user starts it: the command-line verbs without the window's or the network's
// libraries, the window from its module.
#include "app/cli/tests/RunProgram.h"
#include "core/plugins/vst3/tests/PrivateXServer.h"
#include "tests/support/ScopedTestState.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace orvane::testing;

std::string mappingsOf(int pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    return {std::istreambuf_iterator<char>(maps), std::istreambuf_iterator<char>()};
}

bool mapsTheWindow(const std::string &mappings) {
    return mappings.find("halvora-window.so") != std::string::npos &&
           mappings.find("libQt6Widgets") != std::string::npos;
}

TEST(ProgramStart, TheVerbsLoadNeitherQtNorCurlAndTheWindowOpensFromItsModule) {
    const fs::path scratch = makeScratchFolder("program-start");
    const ScopedEnvironment home("HOME", scratch.string());
    {
        // The loader's own trace of every library it opens.
        const ScopedEnvironment trace("LD_DEBUG", std::string("files"));
        const ProgramRun run = runHalvora({"--version"}, scratch);
        EXPECT_EQ(run.exitStatus, 0) << run.errors;
        ASSERT_NE(run.errors.find("libsndfile"), std::string::npos) << "no loader trace";
        EXPECT_EQ(run.errors.find("libQt6"), std::string::npos);
        EXPECT_EQ(run.errors.find("libcurl"), std::string::npos);
        EXPECT_EQ(run.errors.find("halvora-window.so"), std::string::npos);
    }

    orvane::vst::testing::PrivateXServer screen;
    std::string error;
    ASSERT_TRUE(screen.start(error)) << error;
    const ScopedEnvironment display("DISPLAY", screen.name());
    const ScopedEnvironment wayland("WAYLAND_DISPLAY", std::nullopt);
    const ScopedEnvironment platform("QT_QPA_PLATFORM", std::string("xcb"));
    const RunningProgram program = startHalvora({}, scratch);
    std::string mappings;
    for (int wait = 0; wait < 400 && !mapsTheWindow(mappings); ++wait) {
        ::usleep(25'000);
        mappings = mappingsOf(program.pid);
    }
    ::kill(program.pid, SIGTERM);
    const ProgramRun run = finishHalvora(program);
    EXPECT_TRUE(mapsTheWindow(mappings)) << run.errors;
    EXPECT_EQ(run.errors.find("cannot be loaded"), std::string::npos) << run.errors;
    screen.stop();
    fs::remove_all(scratch);
}

/// Every file's text below `folder`, one after the other.
std::string textBelow(const fs::path &folder) {
    std::string text;
    std::error_code ignored;
    for (const auto &entry : fs::recursive_directory_iterator(folder, ignored)) {
        if (!entry.is_regular_file(ignored)) continue;
        std::ifstream in(entry.path());
        text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return text;
}

// A project named alone on the command line, as the desktop entry and file managers name it,
// opens in the window; without a display the program says how to work on it headless.
TEST(ProgramStart, AProjectNamedOnTheCommandLineOpensInTheWindow) {
    const fs::path scratch = makeScratchFolder("program-project");
    const ScopedEnvironment home("HOME", scratch.string());
    const ScopedEnvironment state("XDG_STATE_HOME", (scratch / "state").string());
    const fs::path project = scratch / "night drive.halvora";
    const ProgramRun made = runHalvora(
        {"reference-project", project.string(), "--tracks", "1", "--seconds", "1"}, scratch);
    ASSERT_EQ(made.exitStatus, 0) << made.errors;
    {
        const ScopedEnvironment display("DISPLAY", std::nullopt);
        const ScopedEnvironment wayland("WAYLAND_DISPLAY", std::nullopt);
        const ProgramRun headless = runHalvora({project.string()}, scratch);
        EXPECT_EQ(headless.exitStatus, 2);
        EXPECT_EQ(headless.errors.find("unknown argument"), std::string::npos) << headless.errors;
        EXPECT_NE(headless.errors.find("--headless"), std::string::npos) << headless.errors;
    }

    orvane::vst::testing::PrivateXServer screen;
    std::string error;
    ASSERT_TRUE(screen.start(error)) << error;
    const ScopedEnvironment display("DISPLAY", screen.name());
    const ScopedEnvironment wayland("WAYLAND_DISPLAY", std::nullopt);
    const ScopedEnvironment platform("QT_QPA_PLATFORM", std::string("xcb"));
    const RunningProgram program = startHalvora({project.string()}, scratch);
    // The window's status line, which the session log keeps, names the opened project (the
    // reference project's own name, in whichever language the window speaks).
    bool opened = false;
    for (int wait = 0; wait < 800 && !opened; ++wait) {
        ::usleep(25'000);
        const std::string logged = textBelow(scratch / "state");
        opened = logged.find("Reference Session\"}") != std::string::npos;
    }
    ::kill(program.pid, SIGTERM);
    const ProgramRun run = finishHalvora(program);
    EXPECT_TRUE(opened) << run.errors << textBelow(scratch / "state");
    EXPECT_EQ(run.errors.find("unknown argument"), std::string::npos) << run.errors;
    screen.stop();
    fs::remove_all(scratch);
}

} // namespace
