#include "core/plugins/sandbox/tests/SandboxTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace orvane::vst {
namespace {

using namespace testing;

/// A folder holding a "helper" that is only a script which never listens.
class SilentHelperFolder {
  public:
    SilentHelperFolder() {
        auto script = folder.path() / "HalvoraVstHelper";
        std::ofstream(script) << "#!/bin/sh\nexec sleep 30\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
    std::string path() const { return folder.path().string(); }

  private:
    TemporaryFolder folder;
};

/// Kills the helper and returns once it has died, leaving it for the controller to reap.
void killAndAwaitDeath(int32_t pid) {
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT), 0);
}

class SandboxController : public ::testing::Test {
  protected:
    void SetUp() override {
        controller.enabled = true;
        controller.helperSearchFolder = helperProgramFolder();
    }
    PluginSandboxController controller;
};

TEST(SandboxControllerDisabled, ReportsHealthyWithoutStartingAHelper) {
    PluginSandboxController controller;
    controller.lastError = "old";
    EXPECT_TRUE(controller.ensureSandboxRunning());
    EXPECT_TRUE(controller.running);
    EXPECT_TRUE(controller.lastError.empty());
    EXPECT_EQ(controller.helperPid, -1);
    EXPECT_TRUE(controller.socketPath.empty());
    EXPECT_TRUE(controller.pingSandbox());
    EXPECT_TRUE(controller.refreshHealth());
}

TEST_F(SandboxController, WithoutAHelperProgramReportsItAndStartsNothing) {
    TemporaryFolder empty;
    controller.helperSearchFolder = empty.path().string();
    EXPECT_FALSE(controller.ensureSandboxRunning());
    EXPECT_EQ(controller.lastError, "HalvoraVstHelper not found");
    EXPECT_EQ(controller.helperPid, -1);
    EXPECT_FALSE(controller.running);
    EXPECT_FALSE(std::filesystem::exists(controller.socketPath));
}

TEST_F(SandboxController, KillsAHelperThatNeverListensAfterFortyAttempts) {
    SilentHelperFolder silent;
    controller.helperSearchFolder = silent.path();
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(controller.ensureSandboxRunning());
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(controller.lastError, "Helper did not start listening");
    EXPECT_EQ(controller.helperPid, -1);
    EXPECT_FALSE(controller.running);
    EXPECT_FALSE(std::filesystem::exists(controller.socketPath));
    EXPECT_GE(waited, 40 * 25ms);
}

TEST_F(SandboxController, StartsAHelperInAPrivateFolderAndPingsIt) {
    ASSERT_TRUE(controller.ensureSandboxRunning()) << controller.lastError;
    EXPECT_TRUE(controller.running);
    EXPECT_GE(controller.helperPid, 1);
    EXPECT_TRUE(controller.pingSandbox());
    EXPECT_TRUE(controller.refreshHealth());
    std::string name = std::filesystem::path(controller.socketPath).filename().string();
    EXPECT_TRUE(name.starts_with("halvora_vst_" + std::to_string(getpid())));
    EXPECT_TRUE(name.ends_with(".sock"));
    struct stat folder {};
    ASSERT_EQ(stat(std::filesystem::path(controller.socketPath).parent_path().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 077, 0u);
    // A second call finds it healthy and keeps it.
    int32_t pid = controller.helperPid;
    EXPECT_TRUE(controller.ensureSandboxRunning());
    EXPECT_EQ(controller.helperPid, pid);
}

TEST_F(SandboxController, DetectsAKilledHelperAndStartsANewOneOnTheSamePath) {
    ASSERT_TRUE(controller.ensureSandboxRunning()) << controller.lastError;
    std::string path = controller.socketPath;
    int32_t first = controller.helperPid;
    killAndAwaitDeath(first);
    EXPECT_FALSE(controller.refreshHealth());
    EXPECT_EQ(controller.lastError, "Helper process exited unexpectedly");
    EXPECT_FALSE(controller.running);
    EXPECT_EQ(controller.helperPid, -1);
    EXPECT_FALSE(std::filesystem::exists(path));

    ASSERT_TRUE(controller.ensureSandboxRunning()) << controller.lastError;
    EXPECT_EQ(controller.socketPath, path);
    EXPECT_NE(controller.helperPid, first);
    EXPECT_TRUE(controller.lastError.empty());
    EXPECT_TRUE(controller.pingSandbox());
}

TEST_F(SandboxController, KeepsAnEarlierErrorWhenTheHelperIsFoundDead) {
    ASSERT_TRUE(controller.ensureSandboxRunning()) << controller.lastError;
    controller.lastError = "PROCESS read failed";
    killAndAwaitDeath(controller.helperPid);
    EXPECT_FALSE(controller.refreshHealth());
    EXPECT_EQ(controller.lastError, "PROCESS read failed");
}

TEST_F(SandboxController, AHelperThatNoLongerAnswersIsStoppedAndReplaced) {
    ASSERT_TRUE(controller.ensureSandboxRunning()) << controller.lastError;
    int32_t first = controller.helperPid;
    // Stopped: it still exists as a process and its socket accepts, yet it never answers.
    ASSERT_EQ(kill(first, SIGSTOP), 0);
    EXPECT_FALSE(controller.refreshHealth());
    EXPECT_EQ(controller.lastError, "Helper not responding");
    EXPECT_EQ(controller.helperPid, -1);
    EXPECT_FALSE(helperProcessExists(first));
    ASSERT_TRUE(controller.ensureSandboxRunning()) << controller.lastError;
    EXPECT_TRUE(controller.pingSandbox());
}

TEST_F(SandboxController, ShutdownStopsTheHelperAndRemovesItsSocket) {
    ASSERT_TRUE(controller.ensureSandboxRunning()) << controller.lastError;
    int32_t pid = controller.helperPid;
    controller.shutdownSandbox();
    EXPECT_FALSE(controller.running);
    EXPECT_EQ(controller.helperPid, -1);
    EXPECT_FALSE(std::filesystem::exists(controller.socketPath));
    EXPECT_FALSE(helperProcessExists(pid));
}

TEST_F(SandboxController, DestroyingTheControllerLeavesNoHelperBehind) {
    int32_t pid = -1;
    std::string path;
    {
        PluginSandboxController scoped;
        scoped.enabled = true;
        scoped.helperSearchFolder = helperProgramFolder();
        ASSERT_TRUE(scoped.ensureSandboxRunning()) << scoped.lastError;
        pid = scoped.helperPid;
        path = scoped.socketPath;
    }
    EXPECT_FALSE(helperProcessExists(pid));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(HelperLookup, FindsTheProgramBesideTheExecutableThenInTheInstalledLayout) {
    TemporaryFolder root;
    auto bin = root.path() / "bin";
    auto libexec = root.path() / "libexec" / "halvora";
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(libexec);
    EXPECT_EQ(findHelperProgram(bin.string()), "");
    std::ofstream(libexec / "HalvoraVstHelper") << "";
    EXPECT_EQ(findHelperProgram(bin.string()),
              std::filesystem::weakly_canonical(libexec / "HalvoraVstHelper").string());
    std::ofstream(bin / "HalvoraVstHelper") << "";
    EXPECT_EQ(findHelperProgram(bin.string()), (bin / "HalvoraVstHelper").string());
}

TEST(HelperSocketPaths, EveryHelperOfTheProcessGetsItsOwnPath) {
    std::string first = nextHelperSocketPath();
    std::string second = nextHelperSocketPath();
    EXPECT_NE(first, second);
    EXPECT_EQ(std::filesystem::path(first).parent_path(),
              std::filesystem::path(second).parent_path());
    EXPECT_LE(second.size(), 103u);
}

} // namespace
} // namespace orvane::vst
